#pragma once
// The program's command line. It is read before any window exists, so that
// --help and --version work without a display.

#include <string>
#include <vector>

namespace zelbo::app {

struct CommandLine {
    enum class Action { Run, PrintHelp, PrintVersion, Fail };
    Action action = Action::Run;
    bool demo = false;      // --demo: the simulated board instead of a real one
    std::string logLevel;   // --log-level: error, warning, info or debug (empty: ZELBO_LOG)
    std::string error;      // for Fail: what was wrong
};

// argv[0] is the program's name and is skipped. Qt's own options (-platform,
// -style, ...) are passed on untouched.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText(const std::string& programName);
std::string versionText(); // "zelbo 1.0.2.0"

// What --demo does: the bridge library picks the simulated board when this
// variable says "sim" at the time it is loaded.
inline constexpr const char* kBoardVariable = "ZELBO_BOARD";
inline constexpr const char* kDemoBoard = "sim";
bool demoMode(); // the variable asks for the simulated board

} // namespace zelbo::app
