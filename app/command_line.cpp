#include "app/command_line.h"

#include <cstdlib>
#include <cstring>

#include "common/build_info.h"
#include "common/log.h"

namespace zelbo::app {

namespace {
// Qt's options that take a value: the value must not be read as ours.
bool qtOptionWithValue(const std::string& a)
{
    for (const char* o : {"-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qmljsdebugger",
                          "-style", "-stylesheet", "-display", "-geometry", "-title", "-qwindowgeometry",
                          "-qwindowtitle", "-qwindowicon", "-session"})
        if (a == o) return true;
    return false;
}
} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args)
{
    CommandLine cl;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            cl.action = CommandLine::Action::PrintHelp;
            return cl;
        }
        if (a == "--version" || a == "-v") {
            cl.action = CommandLine::Action::PrintVersion;
            return cl;
        }
        if (a == "--demo") {
            cl.demo = true;
            continue;
        }
        if (a == "--log-level") {
            if (i + 1 >= args.size() || !log::parseLevel(args[i + 1])) {
                cl.action = CommandLine::Action::Fail;
                cl.error = "--log-level takes error, warning, info or debug";
                return cl;
            }
            cl.logLevel = args[++i];
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            cl.action = CommandLine::Action::Fail;
            cl.error = "unknown option '" + a + "'";
            return cl;
        }
        if (a.size() > 1 && a[0] == '-') {
            // One of Qt's own; skip its value too.
            if (qtOptionWithValue(a) && i + 1 < args.size()) ++i;
            continue;
        }
        cl.action = CommandLine::Action::Fail;
        cl.error = "unexpected argument '" + a + "'";
        return cl;
    }
    return cl;
}

std::string helpText(const std::string& programName)
{
    return "Usage: " + programName +
           " [--demo] [--log-level LEVEL]\n"
           "Evaluation software for the TQ5170x stepping-motor driver ICs.\n"
           "\n"
           "  --demo       run on the simulated evaluation board instead of a real one\n"
           "  --log-level LEVEL  what goes to the terminal: error, warning (the default),\n"
           "               info or debug; the ZELBO_LOG variable does the same\n"
           "  --version    print the version and exit\n"
           "  --help       print this help and exit\n"
           "\n"
           "Without --demo the program looks for an evaluation board on USB (04b4:8613 or\n"
           "04b4:1002). The board is reachable without root once the udev rule\n"
           "60-zelbo-usbbridge.rules is installed (the package installs it).\n";
}

std::string versionText()
{
    return std::string("zelbo ") + build::kVersion;
}

bool demoMode()
{
    const char* v = std::getenv(kBoardVariable);
    return v != nullptr && std::strcmp(v, kDemoBoard) == 0;
}

} // namespace zelbo::app
