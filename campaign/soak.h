// campaign/soak.h
#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include "campaign/chamber.h"
namespace zelbo::campaign {
struct SoakPlan {
    double window = 1.0;                            // chamber air within ±window °C of the set point
    double tjBand = 0.5;                            // Tj stable within ±tjBand °C ...
    std::chrono::seconds tjStableFor{60};           // ... for this long
    std::chrono::seconds maxSoak{1800};             // bound on the whole wait at one temperature
    std::optional<std::chrono::seconds> fixedSoak;  // set: soak this long instead of watching Tj
    double safeSetpoint = 25.0;                     // where the chamber is left on an abort
    std::chrono::seconds chamberSilenceLimit{300};  // a chamber silent this long ends the campaign
};
enum class SoakResult { Settled, SoakTimedOut, ChamberLost, Interrupted };
struct SoakHooks {
    std::function<std::optional<double>()> tj;                 // the DUT's junction temperature, nullopt if unreadable
    std::function<void(const std::string&)> log;               // one line per decision: what was waited and why
    std::function<bool()> interrupted;                         // polled at least every 100 ms
    std::function<void(std::chrono::milliseconds)> sleep;      // injectable for tests (default: real sleep)
    std::function<std::chrono::steady_clock::time_point()> now;// injectable for tests (default: steady_clock)
    std::function<void(double air, std::optional<double> tj, const char* state)> sample; // every reading, for the chamber and Tj log
};
// Sets `celsius`, waits for the air to come within the window, then soaks
// (Tj stable, or the fixed time), bounded by maxSoak. A silent chamber is
// retried with back-off and the wait resumes; after chamberSilenceLimit it
// returns ChamberLost (the caller then powers the DUT off and this function
// has already tried to set safeSetpoint).
SoakResult settle(Chamber& chamber, double celsius, const SoakPlan& plan, const SoakHooks& hooks);
}
