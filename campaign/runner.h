#pragma once
// Runs a plan's points on an instrument and commits each to the results,
// one transaction a point. Points already in the database are skipped, so a
// campaign started again continues where it stopped. Between points it
// looks for a stop request; at every end (done, stopped, chamber lost, a
// failure) the DUT is powered off and the chamber left at its safe set point.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "campaign/chamber.h"
#include "campaign/instrument.h"
#include "campaign/plan.h"
#include "campaign/results.h"
#include "campaign/soak.h"

namespace zelbo::campaign {

struct Progress {
    std::size_t done = 0;      // committed, this run and before
    std::size_t total = 0;
    std::optional<double> temperature; // the set point being worked at
    std::string state;         // "measuring", "soaking", "ramping", ...
    std::optional<double> air, tj;
    double secondsLeft = -1;   // an estimate; negative: not known yet
};

enum class Outcome { Finished, Stopped, ChamberLost, Failed };
const char* outcomeName(Outcome o);

struct RunSummary {
    Outcome outcome = Outcome::Finished;
    std::size_t total = 0, alreadyDone = 0, measured = 0, skipped = 0, passed = 0, failed = 0;
    std::string message;       // why it ended, when not finished
};

using SettleFunction = std::function<SoakResult(Chamber&, double, const SoakPlan&, const SoakHooks&)>;

struct RunnerOptions {
    // Asked between points and during soaks: true ends the campaign cleanly.
    std::function<bool()> stopRequested;
    std::function<void(const Progress&)> progress;
    // Each point once it is committed.
    std::function<void(const PointRecord&)> pointDone;
    // The chamber's soak (the default: settle()).
    SettleFunction settle;
    // Injected by tests; real time otherwise. The soak's clock: a test runs
    // the chamber's waits (back-off, silence limit, stuck reading, bound)
    // faster than real time with both.
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
};

// `chamber` may be null when the plan has no temperatures.
RunSummary runCampaign(const Plan& plan, Instrument& instrument, ResultStore& store, Chamber* chamber,
                       const RunnerOptions& options);

// The verdict of one measured value against its band.
std::string verdictOf(std::optional<double> value, double low, double high);

} // namespace zelbo::campaign
