// main() for window tests: a QApplication on the offscreen platform, with the
// user folders (data, configuration, runtime) in a private temporary folder.
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Qt's libraries are not built with ThreadSanitizer: their own locking is
// invisible to it and shows up as races inside Qt. Our code stays checked.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Widgets.so\n"
           "called_from_lib:libfontconfig.so\n"
           "called_from_lib:libglib-2.0.so\n"
           "race:libglib-2.0.so\n";
}

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
