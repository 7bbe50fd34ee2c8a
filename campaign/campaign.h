#pragma once
// A campaign from a plan file to its database, as zelbo-cli and the Python
// module run it: the plan read and checked, the database opened and matched
// to the plan, the chamber opened when the plan has temperatures, and only
// then the board brought up.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "campaign/chamber.h"
#include "campaign/runner.h"

namespace zelbo::campaign {

struct CampaignOptions {
    std::string planPath;
    std::string dbPath;            // empty: the plan's name with ".sqlite", beside the working folder
    bool resume = false;           // continue a database that holds points of this plan
    std::optional<bool> sim;       // as SessionOptions::sim
    std::string chamberPort;       // empty: the plan's, else the library's default
    std::string programFolder;     // where the bridge library lies; empty: the program's folder
    // Between points and in soaks: stop cleanly.
    std::function<bool()> stopRequested;
    // Inside a point (a second Ctrl-C): the session's waits give up.
    std::function<bool()> abortPoint;
    std::function<void(const Progress&)> progress;
    std::function<void(const PointRecord&)> pointDone;
    // Where chambers come from (tests: a fake); default openCaloraChamber.
    std::function<std::unique_ptr<Chamber>(const std::string& port, std::string* error)> openChamber;
    SettleFunction settle;
    // Called once the database and plan are accepted, before the board.
    std::function<void(const std::string& dbPath, std::size_t points, std::size_t done)> accepted;
};

struct CampaignRun {
    enum class Code { Done = 0, Failed = 1, Usage = 2, NoBoard = 3, Stopped = 4 } code = Code::Done;
    std::string error;
    std::string dbPath;
    RunSummary summary;
};

CampaignRun runCampaignFile(const CampaignOptions& options);

// The database's default name for a plan file: its stem with ".sqlite".
std::string defaultDatabase(const std::string& planPath);

} // namespace zelbo::campaign
