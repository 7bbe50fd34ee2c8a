#include "app/app.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

#include "app/dlg_progress.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/qt_message_service.h"
#include "app/single_instance.h"
#include "common/build_info.h"
#include "link/install_paths.h"
#include "common/message_service.h"

CTQ5170xHWPApp::CTQ5170xHWPApp(QApplication& app) : app_(app) {}
CTQ5170xHWPApp::~CTQ5170xHWPApp() = default;

QSize CTQ5170xHWPApp::openingSize(const QSize& available, const QSize& minimum)
{
    // The frame's height is not known before the window is shown; a title bar
    // is at most this tall on the desktops we know.
    constexpr int kTitleBar = 40;
    const QSize room(available.width(), available.height() - kTitleBar);
    return QSize(1280, 800).boundedTo(room).expandedTo(minimum);
}

QString CTQ5170xHWPApp::alreadyRunningText()
{
    return QString::fromUtf8(zelbo::kAppCaption) + QStringLiteral(" is already running.");
}

bool CTQ5170xHWPApp::enforceSingleInstance(zelbo::app::SingleInstance& instance, zelbo::MessageService& messages,
                                           const zelbo::app::SingleInstance::Sleeper& sleeper)
{
    if (instance.acquire(10, 500, sleeper)) return true;
    messages.show(alreadyRunningText().toStdString(), zelbo::kAppCaption, zelbo::MsgIcon::Error);
    return false;
}

int CTQ5170xHWPApp::run()
{
    QtMessageService messages;

    // Single instance.
    zelbo::app::SingleInstance instance;
    if (!enforceSingleInstance(instance, messages)) return 1;

    // Qt does the platform's start-up itself; the profile lives under
    // the maker's and the product's name.
    QCoreApplication::setOrganizationName(QStringLiteral("Velmar"));
    QCoreApplication::setApplicationName(QStringLiteral("Zelbo"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(zelbo::build::kVersion));

    // Language.
    // The catalogues lie beside the program in a build, in the data folder
    // when installed.
    QString catalogues = QCoreApplication::applicationDirPath();
    if (QDir(catalogues).entryList({QStringLiteral("zelbo_*.qm")}, QDir::Files).isEmpty())
        catalogues = QString::fromStdString(zelbo::link::dataFolderOf(catalogues.toStdString()).string());
    zelbo::app::LanguageSelector languages(catalogues);
    const int profile = QSettings().value(QStringLiteral("LanguageId"), 0).toInt();
    languages.choose(profile, QLocale::system().uiLanguages());
    if (languages.translator()) app_.installTranslator(languages.translator());

    // The progress window: hidden until the bring-up shows it.
    CDlgProgress progress;
    ProgressReporter reporter(&progress);
    reporter.hide();
    reporter.update(0, 0, QObject::tr("Loading Software..."));

    // The main window.
    MainWindowSetup setup;
    setup.messages = &messages;
    setup.progress = reporter;
    setup.languages = &languages;
    QFile chip(QStringLiteral(":/zelbo/TQ5170x.chip"));
    if (chip.open(QIODevice::ReadOnly)) setup.defaultChipList = chip.readAll().toStdString();

    int code = 0;
    {
        CTQ5170xHWPDlg window(std::move(setup));
        messages.setOwner(&window);
        if (window.initialised()) {
            const QScreen* screen = window.screen();
            window.resize(openingSize(screen ? screen->availableGeometry().size() : QSize(1280, 800),
                                      window.minimumSizeHint().expandedTo(window.minimumSize())));
            window.show();
            code = app_.exec();
        } else {
            code = 1;
        }
        messages.setOwner(nullptr);
    }

    // The progress window goes with the application object.
    progress.hide();
    if (languages.translator()) app_.removeTranslator(languages.translator());
    return code;
}
