// main() for window tests: a QApplication on the offscreen platform, with the
// user folders (data, configuration, runtime) in a private temporary folder.
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QTemporaryDir home;
    const QByteArray base = home.path().toUtf8();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_DATA_HOME", (base + "/data").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (base + "/config").constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", (base + "/run").constData(), 1);
    QDir().mkpath(home.path() + "/run");
    QFile::setPermissions(home.path() + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("VelmarTest");
    QCoreApplication::setApplicationName("ZelboTest");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
