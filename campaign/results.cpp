#include "campaign/results.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include <sqlite3.h>

namespace zelbo::campaign {

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

namespace {

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS campaign(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  title TEXT, plan_source TEXT, plan_hash TEXT NOT NULL, plan_text TEXT NOT NULL,
  program TEXT, firmware TEXT, board TEXT, chip TEXT, chamber TEXT, created TEXT);
CREATE TABLE IF NOT EXISTS runs(
  id INTEGER PRIMARY KEY, started TEXT, finished TEXT, outcome TEXT, resumed INTEGER,
  program TEXT, firmware TEXT, board TEXT, chip TEXT, chamber TEXT);
CREATE TABLE IF NOT EXISTS points(
  id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, idx INTEGER NOT NULL, run INTEGER,
  temperature REAL, soak TEXT, mode TEXT, vref REAL, mth REAL, clk REAL, rnf REAL, vdut REAL,
  direction TEXT, tj REAL, air REAL,
  verdict TEXT NOT NULL CHECK (verdict IN ('pass', 'fail')),
  started TEXT, finished TEXT, recording TEXT);
CREATE TABLE IF NOT EXISTS measurements(
  point INTEGER NOT NULL REFERENCES points(id), name TEXT NOT NULL, channel INTEGER, figure TEXT, unit TEXT,
  value REAL, sweeps INTEGER, low REAL, high REAL,
  verdict TEXT NOT NULL CHECK (verdict IN ('pass', 'fail', 'no data')),
  PRIMARY KEY (point, name));
CREATE TABLE IF NOT EXISTS chamber_log(
  id INTEGER PRIMARY KEY, run INTEGER, t TEXT, setpoint REAL, air REAL, tj REAL, state TEXT);
CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, run INTEGER, t TEXT, text TEXT);
)sql";

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK)
            throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, const std::string& v)
    {
        sqlite3_bind_text(s_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int i, std::int64_t v)
    {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    // Infinite and missing numbers are NULL.
    Statement& bind(int i, std::optional<double> v)
    {
        if (v && std::isfinite(*v)) sqlite3_bind_double(s_, i, *v);
        else sqlite3_bind_null(s_, i);
        return *this;
    }
    // True while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw StoreError(std::string("database: ") + sqlite3_errmsg(db_));
    }
    void run()
    {
        while (step()) {
        }
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    std::string text(int col)
    {
        const auto* p = sqlite3_column_text(s_, col);
        return p ? reinterpret_cast<const char*>(p) : "";
    }

private:
    sqlite3* db_;
    sqlite3_stmt* s_ = nullptr;
};

} // namespace

ResultStore::ResultStore(const std::string& path) : path_(path)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("Cannot open the database \"" + path + "\": " + why + ".");
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        // A rollback journal and a sync at every commit: a point is on the
        // disk whole or not at all, and the database stays one file.
        exec("PRAGMA journal_mode=DELETE");
        exec("PRAGMA synchronous=FULL");
        exec("PRAGMA foreign_keys=ON");
        exec(kSchema);
    } catch (const StoreError& e) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("\"" + path + "\" is not a campaign database (" + e.what() + ").");
    }
}

ResultStore::~ResultStore()
{
    try {
        flushLogs();
    } catch (...) {
    }
    sqlite3_close(db_);
}

void ResultStore::exec(const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string why = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        throw StoreError("database: " + why);
    }
}

std::optional<std::string> ResultStore::planHash()
{
    Statement s(db_, "SELECT plan_hash FROM campaign WHERE id = 1");
    if (!s.step()) return std::nullopt;
    return s.text(0);
}

void ResultStore::beginRun(const CampaignInfo& info, bool resumed)
{
    exec("BEGIN IMMEDIATE");
    try {
        Statement c(db_, "INSERT OR IGNORE INTO campaign(id, title, plan_source, plan_hash, plan_text, program, "
                         "firmware, board, chip, chamber, created) VALUES (1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        c.bind(1, info.title).bind(2, info.planSource).bind(3, info.planHash).bind(4, info.planText);
        c.bind(5, info.program).bind(6, info.firmware).bind(7, info.board).bind(8, info.chip).bind(9, info.chamber);
        c.bind(10, utcNow()).run();
        Statement r(db_, "INSERT INTO runs(started, resumed, program, firmware, board, chip, chamber) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?)");
        r.bind(1, utcNow()).bind(2, std::int64_t{resumed ? 1 : 0}).bind(3, info.program).bind(4, info.firmware);
        r.bind(5, info.board).bind(6, info.chip).bind(7, info.chamber).run();
        run_ = sqlite3_last_insert_rowid(db_);
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

void ResultStore::endRun(const std::string& outcome)
{
    exec("BEGIN IMMEDIATE");
    try {
        writeLogs();
        Statement r(db_, "UPDATE runs SET finished = ?, outcome = ? WHERE id = ?");
        r.bind(1, utcNow()).bind(2, outcome).bind(3, run_).run();
        commitWithLogs();
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

std::set<std::string> ResultStore::committedKeys()
{
    std::set<std::string> keys;
    Statement s(db_, "SELECT key FROM points");
    while (s.step()) keys.insert(s.text(0));
    return keys;
}

void ResultStore::commitPoint(const PointRecord& p)
{
    exec("BEGIN IMMEDIATE");
    try {
        Statement s(db_, "INSERT INTO points(key, idx, run, temperature, soak, mode, vref, mth, clk, rnf, vdut, "
                         "direction, tj, air, verdict, started, finished, recording) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        s.bind(1, p.key).bind(2, static_cast<std::int64_t>(p.index)).bind(3, run_).bind(4, p.temperature);
        s.bind(5, p.soak).bind(6, p.mode).bind(7, std::optional(p.vref)).bind(8, std::optional(p.mth));
        s.bind(9, std::optional(p.clk)).bind(10, std::optional(p.rnf)).bind(11, std::optional(p.vdut));
        s.bind(12, p.direction).bind(13, p.tj).bind(14, p.air).bind(15, p.verdict).bind(16, p.started);
        s.bind(17, p.finished).bind(18, p.recording).run();
        const std::int64_t id = sqlite3_last_insert_rowid(db_);
        Statement m(db_, "INSERT INTO measurements(point, name, channel, figure, unit, value, sweeps, low, high, "
                         "verdict) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        for (const auto& x : p.measurements) {
            m.bind(1, id).bind(2, x.name).bind(3, std::int64_t{x.channel}).bind(4, x.figure).bind(5, x.unit);
            m.bind(6, x.value).bind(7, std::int64_t{x.sweeps}).bind(8, x.low).bind(9, x.high).bind(10, x.verdict);
            m.run();
        }
        writeLogs();
        commitWithLogs();
    } catch (...) {
        try {
            exec("ROLLBACK");
        } catch (...) {
        }
        throw;
    }
}

void ResultStore::logSample(double setpoint, std::optional<double> air, std::optional<double> tj,
                            const std::string& state)
{
    samples_.push_back({utcNow(), setpoint, air, tj, state});
    // A long soak is written as it goes, not only with the next point.
    if (samples_.size() >= 200) flushLogs();
}

void ResultStore::logEvent(const std::string& text)
{
    events_.emplace_back(utcNow(), text);
    flushLogs();
}

void ResultStore::flushLogs()
{
    if (samples_.empty() && events_.empty()) return;
    exec("BEGIN IMMEDIATE");
    try {
        writeLogs();
        commitWithLogs();
    } catch (...) {
        try {
            exec("ROLLBACK");
        } catch (...) {
        }
        throw;
    }
}

void ResultStore::writeLogs()
{
    Statement s(db_, "INSERT INTO chamber_log(run, t, setpoint, air, tj, state) VALUES (?, ?, ?, ?, ?, ?)");
    for (const auto& x : samples_) {
        s.bind(1, run_).bind(2, x.t).bind(3, std::optional(x.setpoint)).bind(4, x.air).bind(5, x.tj);
        s.bind(6, x.state).run();
    }
    Statement e(db_, "INSERT INTO events(run, t, text) VALUES (?, ?, ?)");
    for (const auto& [t, text] : events_) e.bind(1, run_).bind(2, t).bind(3, text).run();
}

void ResultStore::commitWithLogs()
{
    exec("COMMIT");
    // Only once they are on the disk: a failed commit keeps them for the next.
    samples_.clear();
    events_.clear();
}

} // namespace zelbo::campaign
