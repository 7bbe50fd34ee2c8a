#pragma once
// The results of a campaign in one SQLite file: the plan, the program, board
// and chip, every point's settings as applied, every measurement with its
// limit and verdict, and the chamber, Tj and event logs. Each point is
// written in one transaction with synchronous=FULL: after a crash a point is
// there whole or not at all.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

namespace zelbo::campaign {

class StoreError : public std::exception {
public:
    explicit StoreError(std::string what) : what_(std::move(what)) {}
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string what_;
};

// What a point became.
struct PointRecord {
    std::string key;
    std::size_t index = 0;
    std::optional<double> temperature; // the set point
    std::string soak;                 // "none", "settled", "soak timed out"
    // As read back from the board.
    std::string mode;
    double vref = 0, mth = 0, clk = 0, rnf = 0, vdut = 0;
    std::string direction;
    std::optional<double> tj;
    std::optional<double> air;
    std::string verdict;              // "pass" or "fail"
    std::string started, finished;    // UTC, ISO 8601
    std::string recording;            // a .zrec beside the database, or empty
    struct Measurement {
        std::string name, figure, unit;
        int channel = 0;              // 1..4
        std::optional<double> value;  // the mean over the sweeps; none: no data
        int sweeps = 0;               // sweeps that gave a value
        std::optional<double> low, high;
        std::string verdict;          // "pass", "fail", "no data"
    };
    std::vector<Measurement> measurements;
};

struct CampaignInfo {
    std::string planText, planHash, planSource, title;
    std::string program;   // zelbo version
    std::string firmware;  // the FPGA image and bridge
    std::string board, chip, chamber;
};

class ResultStore {
public:
    // Opens (or creates) the database. Throws StoreError.
    explicit ResultStore(const std::string& path);
    ~ResultStore();
    ResultStore(const ResultStore&) = delete;
    ResultStore& operator=(const ResultStore&) = delete;

    // The plan hash of a campaign already in the database, if any.
    std::optional<std::string> planHash();
    // Records the campaign (first run) or a new run of it (a resume).
    void beginRun(const CampaignInfo& info, bool resumed);
    void endRun(const std::string& outcome);
    // The keys of the points already committed.
    std::set<std::string> committedKeys();
    // One point in one transaction, with the log lines gathered since the
    // last commit.
    void commitPoint(const PointRecord& point);
    // Log rows: kept in memory and written with the next point or flush().
    void logSample(double setpoint, std::optional<double> air, std::optional<double> tj, const std::string& state);
    void logEvent(const std::string& text);
    void flushLogs();

    const std::string& path() const { return path_; }

private:
    void exec(const char* sql);
    void writeLogs();
    void commitWithLogs();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::int64_t run_ = 0;
    struct Sample {
        std::string t;
        double setpoint;
        std::optional<double> air, tj;
        std::string state;
    };
    std::vector<Sample> samples_;
    std::vector<std::pair<std::string, std::string>> events_;
};

// The time now in UTC, ISO 8601 with milliseconds.
std::string utcNow();

} // namespace zelbo::campaign
