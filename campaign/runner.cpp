#include "campaign/runner.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "engine/session.h"

namespace zelbo::campaign {

const char* outcomeName(Outcome o)
{
    switch (o) {
    case Outcome::Finished: return "finished";
    case Outcome::Stopped: return "stopped";
    case Outcome::ChamberLost: return "chamber lost";
    case Outcome::Failed: return "failed";
    }
    return "?";
}

std::string verdictOf(std::optional<double> value, double low, double high)
{
    if (!value || !std::isfinite(*value) || std::isnan(low) || std::isnan(high)) return "no data";
    return *value >= low && *value <= high ? "pass" : "fail";
}

namespace {

namespace fs = std::filesystem;

// Flushes a file (or a folder's entries) to the disk; false when it could not be.
bool syncPath(const fs::path& path, bool folder)
{
    const int fd = ::open(path.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// While a point's recording is being made: the temporary file it is
// written to, removed unless it became the point's file.
struct PartFile {
    fs::path path;
    ~PartFile()
    {
        if (path.empty()) return;
        std::error_code ec;
        fs::remove(path, ec);
    }
};

double figureOf(const scope::Measurement& m, const std::string& figure)
{
    if (m.samples == 0) return std::nan("");
    if (figure == "min") return m.min;
    if (figure == "max") return m.max;
    if (figure == "p_p") return m.peakToPeak;
    if (figure == "mean") return m.mean;
    if (figure == "rms") return m.rms;
    if (figure == "frequency") return m.frequencyHz;
    if (figure == "period") return m.periodUs * 1e-6;
    if (figure == "ipeak") return m.peakCurrent;
    if (figure == "ipeak_error") return m.peakErrorPercent;
    if (figure == "step_error") return m.stepErrorPercent;
    return std::nan("");
}

std::string celsius(double t)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g °C", t);
    return buf;
}

class Run {
public:
    Run(const Plan& plan, Instrument& inst, ResultStore& store, Chamber* chamber, const RunnerOptions& o)
        : plan_(plan), inst_(inst), store_(store), chamber_(chamber), o_(o)
    {
        now_ = o.now ? o.now : [] { return std::chrono::steady_clock::now(); };
        settle_ = o.settle ? o.settle : SettleFunction(&settle);
    }

    RunSummary go()
    {
        const auto points = plan_.points();
        const auto committed = store_.committedKeys();
        sum_.total = points.size();
        std::vector<const Point*> todo;
        for (const auto& p : points) {
            if (committed.count(p.key)) ++sum_.alreadyDone;
            else todo.push_back(&p);
        }
        progress_.total = sum_.total;
        progress_.done = sum_.alreadyDone;
        if (todo.empty()) {
            store_.logEvent("every point of the plan is already in the database");
            return sum_;
        }
        if (sum_.alreadyDone > 0)
            store_.logEvent("resumed: " + std::to_string(sum_.alreadyDone) + " of " + std::to_string(sum_.total) +
                            " points already committed");
        if (plan_.hasTemperatures && !chamber_) {
            sum_.outcome = Outcome::Failed;
            sum_.message = "the plan has temperatures but no chamber is open";
            return sum_;
        }
        temperaturesLeft_ = countTemperatureChanges(todo, 0);
        try {
            inst_.prepare(plan_);
            inst_.powerOn();
            for (std::size_t i = 0; i < todo.size(); ++i) {
                if (stopRequested()) {
                    end(Outcome::Stopped, "stopped on request between points");
                    break;
                }
                const Point& p = *todo[i];
                if (p.temperature && (!at_ || *at_ != *p.temperature)) {
                    if (!reachTemperature(*p.temperature)) break;
                    temperaturesLeft_ = countTemperatureChanges(todo, i + 1);
                }
                if (skipping_) {
                    ++sum_.skipped;
                    continue;
                }
                measurePoint(p);
            }
        } catch (const engine::Interrupted&) {
            end(Outcome::Stopped, "stopped on request during a point (that point is not recorded)");
        } catch (const std::exception& e) {
            end(Outcome::Failed, e.what());
        }
        shutDown();
        return sum_;
    }

private:
    bool stopRequested() const { return o_.stopRequested && o_.stopRequested(); }

    void end(Outcome o, const std::string& why)
    {
        sum_.outcome = o;
        sum_.message = why;
        try {
            store_.logEvent(std::string(outcomeName(o)) + ": " + why);
        } catch (...) {
        }
    }

    // How many times the temperature changes from todo[from] on.
    std::size_t countTemperatureChanges(const std::vector<const Point*>& todo, std::size_t from) const
    {
        std::size_t n = 0;
        std::optional<double> t = from > 0 ? todo[from - 1]->temperature : at_;
        for (std::size_t i = from; i < todo.size(); ++i) {
            if (todo[i]->temperature && todo[i]->temperature != t) ++n;
            t = todo[i]->temperature;
        }
        return n;
    }

    // Sets and soaks; false ends the campaign.
    bool reachTemperature(double t)
    {
        inst_.rest();
        skipping_ = false;
        progress_.temperature = t;
        progress_.state = "ramping";
        report();
        store_.logEvent("chamber to " + celsius(t) + " (" + chamber_->describe() + ")");
        SoakHooks hooks;
        hooks.tj = [this] {
            try {
                return inst_.tj();
            } catch (const engine::Interrupted&) {
                return std::optional<double>();
            }
        };
        hooks.log = [this](const std::string& line) { store_.logEvent(line); };
        hooks.interrupted = [this] { return stopRequested(); };
        hooks.sleep = o_.sleep ? o_.sleep : [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
        hooks.now = now_;
        hooks.sample = [this, t](double air, std::optional<double> tj, const char* state) {
            store_.logSample(t, air, tj, state ? state : "");
            progress_.air = air;
            progress_.tj = tj;
            progress_.state = state ? state : "";
            report();
        };
        const auto start = now_();
        const SoakResult r = settle_(*chamber_, t, plan_.soak, hooks);
        soakSeconds_ += std::chrono::duration<double>(now_() - start).count();
        ++soaks_;
        at_ = t;
        switch (r) {
        case SoakResult::Settled: soakState_ = "settled"; return true;
        case SoakResult::SoakTimedOut:
            if (plan_.skipOnSoakTimeout) {
                store_.logEvent("soak timed out at " + celsius(t) + ": its points are skipped");
                skipping_ = true;
            } else {
                store_.logEvent("soak timed out at " + celsius(t) + ": its points are measured and marked so");
            }
            soakState_ = "soak timed out";
            return true;
        case SoakResult::ChamberLost:
            end(Outcome::ChamberLost, "the chamber stopped answering at " + celsius(t));
            return false;
        case SoakResult::Interrupted: end(Outcome::Stopped, "stopped on request during the soak"); return false;
        }
        return false;
    }

    void measurePoint(const Point& p)
    {
        const auto start = now_();
        PointRecord r;
        r.key = p.key;
        r.index = p.index;
        r.temperature = p.temperature;
        r.soak = p.temperature ? soakState_ : "none";
        r.started = utcNow();
        progress_.state = "measuring";
        report();
        const Applied a = inst_.apply(p);
        r.mode = a.mode;
        r.direction = a.direction;
        r.vref = a.vref;
        r.mth = a.mth;
        r.clk = a.clk;
        r.rnf = a.rnf;
        r.vdut = a.vdut;
        // The limits see the settings as applied.
        auto vars = p.vars;
        vars["vref"] = a.vref;
        vars["mth"] = a.mth;
        vars["clk"] = a.clk;
        vars["rnf"] = a.rnf;
        vars["vdut"] = a.vdut;
        if (plan_.capture.settleSeconds > 0)
            inst_.pause(std::chrono::milliseconds(std::llround(plan_.capture.settleSeconds * 1000)));
        std::vector<double> sums(plan_.measures.size(), 0.0);
        std::vector<int> counts(plan_.measures.size(), 0);
        for (int s = 0; s < plan_.capture.sweeps; ++s) {
            const auto figures = inst_.measure();
            for (std::size_t k = 0; k < plan_.measures.size(); ++k) {
                const auto& m = plan_.measures[k];
                const double v = figureOf(figures[static_cast<std::size_t>(m.channel)], m.figure);
                if (std::isfinite(v)) {
                    sums[k] += v;
                    ++counts[k];
                }
            }
        }
        // The sweeps kept for the record: the point's settings unchanged,
        // into a temporary file that becomes the point's only with it.
        PartFile part;
        fs::path recording;
        if (plan_.capture.record) {
            recording = recordingPath(p);
            part.path = recording;
            part.path += ".part";
            const auto held = inst_.record(part.path, plan_.capture.sweeps);
            if (held != static_cast<std::uint64_t>(plan_.capture.sweeps))
                store_.logEvent("the recording of " + p.key + " holds " + std::to_string(held) + " of " +
                                std::to_string(plan_.capture.sweeps) + " sweeps");
            if (!syncPath(part.path, false))
                throw StoreError("The recording \"" + part.path.string() + "\" could not be written to the disk.");
        }
        r.tj = inst_.tj();
        if (chamber_ && p.temperature) r.air = chamber_->air();
        inst_.idle();
        bool pass = true;
        for (std::size_t k = 0; k < plan_.measures.size(); ++k) {
            const auto& spec = plan_.measures[k];
            PointRecord::Measurement m;
            m.name = spec.name;
            m.figure = spec.figure;
            m.unit = spec.unit;
            m.channel = spec.channel + 1;
            m.sweeps = counts[k];
            if (counts[k] > 0) m.value = sums[k] / counts[k];
            const auto [lo, hi] = spec.limit.band(vars);
            if (!std::isnan(lo)) m.low = lo;
            if (!std::isnan(hi)) m.high = hi;
            // Every sweep must have given the figure: a value from part of
            // them is kept, but cannot pass.
            m.verdict = counts[k] == plan_.capture.sweeps ? verdictOf(m.value, lo, hi) : "no data";
            if (m.verdict != "pass") pass = false;
            r.measurements.push_back(std::move(m));
        }
        r.verdict = pass ? "pass" : "fail";
        r.finished = utcNow();
        if (!recording.empty()) {
            // Whole before the point names it: a campaign killed between the
            // rename and the commit measures the point again and replaces it.
            std::error_code ec;
            fs::rename(part.path, recording, ec);
            if (ec)
                throw StoreError("The recording \"" + recording.string() + "\" could not be made: " + ec.message() + ".");
            part.path.clear();
            syncPath(recording.parent_path().empty() ? fs::path(".") : recording.parent_path(), true);
            r.recording = recording.filename().string();
        }
        store_.commitPoint(r);
        ++sum_.measured;
        ++(pass ? sum_.passed : sum_.failed);
        pointSeconds_ += std::chrono::duration<double>(now_() - start).count();
        ++progress_.done;
        progress_.state = r.verdict;
        report();
        if (o_.pointDone) o_.pointDone(r);
    }

    // A point's recording beside the database: its stem, the point's index
    // and its settings ("run_0007_T25_quarter_vref1_clk2000_mth0_cw.zrec").
    fs::path recordingPath(const Point& p) const
    {
        const fs::path db(store_.path());
        char index[24];
        std::snprintf(index, sizeof index, "%04zu", p.index);
        std::string name = db.stem().string() + "_" + index;
        std::size_t at = 0;
        while (at < p.key.size()) {
            std::size_t end = p.key.find(' ', at);
            if (end == std::string::npos) end = p.key.size();
            std::string word = p.key.substr(at, end - at);
            at = end + 1;
            const auto eq = word.find('=');
            if (eq != std::string::npos) {
                const std::string k = word.substr(0, eq);
                word = (k == "mode" || k == "dir") ? word.substr(eq + 1) : k + word.substr(eq + 1);
            }
            for (char& c : word)
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+') c = '_';
            if (!word.empty()) name += "_" + word;
        }
        return db.parent_path() / (name + ".zrec");
    }

    void report()
    {
        if (!o_.progress) return;
        const std::size_t left = progress_.total - progress_.done - sum_.skipped;
        if (sum_.measured > 0) {
            double s = pointSeconds_ / static_cast<double>(sum_.measured) * static_cast<double>(left);
            if (soaks_ > 0) s += soakSeconds_ / static_cast<double>(soaks_) * static_cast<double>(temperaturesLeft_);
            progress_.secondsLeft = s;
        }
        o_.progress(progress_);
    }

    // Every end: the DUT off, the chamber at its safe set point.
    void shutDown()
    {
        try {
            inst_.powerOff();
            store_.logEvent("DUT powered off");
        } catch (const std::exception& e) {
            if (sum_.outcome == Outcome::Finished) end(Outcome::Failed, std::string("power off: ") + e.what());
            try {
                store_.logEvent(std::string("the DUT could not be powered off: ") + e.what());
            } catch (...) {
            }
        }
        if (chamber_ && at_) {
            const bool ok = chamber_->setSetpoint(plan_.soak.safeSetpoint);
            try {
                store_.logEvent("chamber left at " + celsius(plan_.soak.safeSetpoint) +
                                (ok ? "" : " (the controller did not answer)"));
            } catch (...) {
            }
        }
        progress_.state = outcomeName(sum_.outcome);
        if (o_.progress) o_.progress(progress_);
    }

    const Plan& plan_;
    Instrument& inst_;
    ResultStore& store_;
    Chamber* chamber_;
    const RunnerOptions& o_;
    std::function<std::chrono::steady_clock::time_point()> now_;
    SettleFunction settle_;
    RunSummary sum_;
    Progress progress_;
    std::optional<double> at_;       // the temperature reached last
    std::string soakState_ = "none";
    bool skipping_ = false;
    double pointSeconds_ = 0, soakSeconds_ = 0;
    std::size_t soaks_ = 0, temperaturesLeft_ = 0;
};

} // namespace

RunSummary runCampaign(const Plan& plan, Instrument& instrument, ResultStore& store, Chamber* chamber,
                       const RunnerOptions& options)
{
    return Run(plan, instrument, store, chamber, options).go();
}

} // namespace zelbo::campaign
