#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/command_line.h"
#include "app/style.h"
#include "common/log.h"

namespace {
// Qt's own messages (and the window's qWarning) join the program's log.
void toLog(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    using zelbo::log::Level;
    Level level = Level::Warning;
    switch (type) {
    case QtDebugMsg: level = Level::Debug; break;
    case QtInfoMsg: level = Level::Info; break;
    case QtWarningMsg: level = Level::Warning; break;
    case QtCriticalMsg:
    case QtFatalMsg: level = Level::Error; break;
    }
    if (zelbo::log::enabled(level)) zelbo::log::write(level, text.toStdString());
}
} // namespace

int main(int argc, char** argv)
{
    using zelbo::app::CommandLine;
    const CommandLine cl = zelbo::app::parseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (cl.action) {
    case CommandLine::Action::PrintHelp:
        std::fputs(zelbo::app::helpText(argc > 0 ? argv[0] : "zelbo").c_str(), stdout);
        return 0;
    case CommandLine::Action::PrintVersion:
        std::printf("%s\n", zelbo::app::versionText().c_str());
        return 0;
    case CommandLine::Action::Fail:
        std::fprintf(stderr, "zelbo: %s (see --help)\n", cl.error.c_str());
        return 2;
    case CommandLine::Action::Run: break;
    }
    if (!cl.logLevel.empty()) zelbo::log::useOption(cl.logLevel);
    // The bridge library reads the choice when it is loaded, at bring-up.
    if (cl.demo) ::setenv(zelbo::app::kBoardVariable, zelbo::app::kDemoBoard, 1);

    qInstallMessageHandler(toLog);
    QApplication app(argc, argv);
    applyInstrumentStyle(app);
    CTQ5170xHWPApp zelbo(app);
    return zelbo.run();
}
