// The wait at one chamber temperature: set point, ramp into the window, soak.
//
// Everything is paced by hooks.sleep and measured by hooks.now, so a test runs
// hours of chamber time in milliseconds. Sleeps are cut into pieces of at most
// kInterruptPoll so that a stop request is seen within that time; a call into
// the chamber itself (a write to a silent controller retries for seconds) is
// not cut short.

#include "campaign/soak.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <thread>

namespace zelbo::campaign {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr milliseconds kInterruptPoll{100};
constexpr milliseconds kReadInterval{1000};     // one chamber and Tj reading per second
constexpr milliseconds kFirstRetry{1000};       // back-off on a silent chamber: 1 s, 2 s, 4 s ...
constexpr milliseconds kLongestRetry{30000};    // ... up to 30 s
constexpr seconds kStuckAfter{120};             // an unchanged reading off set point this long is logged
constexpr double kStuckResolution = 0.05;       // readings closer than this count as unchanged

__attribute__((format(printf, 1, 2))) std::string fmt(const char* format, ...)
{
    char buf[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

double secs(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

class Soak {
public:
    Soak(Chamber& chamber, double celsius, const SoakPlan& plan, const SoakHooks& hooks)
        : chamber_(chamber), sp_(celsius), plan_(plan), hooks_(hooks)
    {
    }

    SoakResult run();

private:
    enum class Step { Answered, Lost, Interrupted };

    Clock::time_point now() const { return hooks_.now ? hooks_.now() : Clock::now(); }
    void log(const std::string& line) const
    {
        if (hooks_.log) hooks_.log(line);
    }
    bool interrupted() const { return hooks_.interrupted && hooks_.interrupted(); }
    // Waits `d` in pieces, watching for a stop request; false when one came.
    bool wait(milliseconds d);
    // A chamber that did not answer: back off and retry until it answers
    // (Answered: the set point is in place again), the silence limit passes
    // (Lost, the safe set point attempted) or a stop request comes.
    Step recover();
    Step sendSetpoint();
    SoakResult lost();

    Chamber& chamber_;
    const double sp_;
    const SoakPlan& plan_;
    const SoakHooks& hooks_;
    Clock::time_point deadline_{};
};

bool Soak::wait(milliseconds d)
{
    while (d.count() > 0) {
        if (interrupted()) return false;
        const milliseconds piece = std::min(d, kInterruptPoll);
        if (hooks_.sleep)
            hooks_.sleep(piece);
        else
            std::this_thread::sleep_for(piece);
        d -= piece;
    }
    return !interrupted();
}

SoakResult Soak::lost()
{
    const bool safe = chamber_.setSetpoint(plan_.safeSetpoint);
    log(fmt("chamber silent for more than %.0f s: campaign ends; safe set point %.1f \xC2\xB0" "C ", 
            double(plan_.chamberSilenceLimit.count()), plan_.safeSetpoint) +
        (safe ? "set" : "could not be sent"));
    return SoakResult::ChamberLost;
}

Soak::Step Soak::recover()
{
    const auto silentSince = now();
    milliseconds backoff = kFirstRetry;
    log("chamber " + chamber_.describe() + " does not answer: pausing, retrying with back-off");
    for (;;) {
        const auto silent = now() - silentSince;
        if (silent >= plan_.chamberSilenceLimit) return Step::Lost;
        const auto left = std::chrono::duration_cast<milliseconds>(plan_.chamberSilenceLimit - silent);
        const milliseconds pause = std::min(backoff, std::max(left, milliseconds(1)));
        log(fmt("chamber silent for %.0f s; next try in %.0f s", secs(silent), double(pause.count()) / 1000.0));
        if (!wait(pause)) return Step::Interrupted;
        backoff = std::min(backoff * 2, kLongestRetry);
        // The controller may have restarted while it was silent: the set point
        // goes out again before the wait resumes.
        if (chamber_.setSetpoint(sp_)) {
            const auto gap = now() - silentSince;
            deadline_ += std::chrono::duration_cast<Clock::duration>(gap);
            log(fmt("chamber answers again after %.0f s; set point %.1f \xC2\xB0" "C sent again, wait resumes "
                    "(bound moved by the pause)", secs(gap), sp_));
            return Step::Answered;
        }
    }
}

Soak::Step Soak::sendSetpoint()
{
    if (chamber_.setSetpoint(sp_)) return Step::Answered;
    return recover();
}

SoakResult Soak::run()
{
    const auto start = now();
    deadline_ = start + std::chrono::duration_cast<Clock::duration>(std::max(plan_.maxSoak, seconds(0)));
    if (!std::isfinite(sp_)) {
        log("chamber temperature is not a number: refused");
        return lost();
    }
    log(fmt("chamber set point %.1f \xC2\xB0" "C on ", sp_) + chamber_.describe() +
        fmt(": waiting for the air within \xC2\xB1%.1f \xC2\xB0" "C, bounded by %.0f s", plan_.window,
            double(plan_.maxSoak.count())));
    switch (sendSetpoint()) {
    case Step::Answered: break;
    case Step::Lost: return lost();
    case Step::Interrupted: log("stop requested while the chamber was silent"); return SoakResult::Interrupted;
    }

    const bool fixed = plan_.fixedSoak.has_value();
    const bool watchTj = !fixed && static_cast<bool>(hooks_.tj);
    const auto soakFor = fixed ? *plan_.fixedSoak : plan_.tjStableFor;
    bool inWindow = false;
    Clock::time_point windowSince{};
    // Tj's stable run: the first reading of the run and when it came.
    double tjRef = std::nan(""); // NaN: no run yet
    Clock::time_point tjRefAt{};
    bool tjUnreadableLogged = false;
    // An unchanged reading off set point.
    double stuckValue = std::nan("");
    Clock::time_point stuckSince{};
    bool stuckLogged = false;
    std::optional<double> lastAir;

    for (;;) {
        if (interrupted()) {
            log("stop requested: soak abandoned");
            return SoakResult::Interrupted;
        }
        const auto t = now();
        if (t >= deadline_) {
            if (!inWindow)
                log(fmt("soak timed out after %.0f s: the air never came within \xC2\xB1%.1f \xC2\xB0" "C of %.1f",
                        secs(t - start), plan_.window, sp_) +
                    (lastAir ? fmt(" (last reading %.2f)", *lastAir) : std::string()) +
                    (stuckLogged ? "; the reading was stuck" : ""));
            else
                log(fmt("soak timed out after %.0f s: the air was in the window but ", secs(t - start)) +
                    (watchTj ? fmt("Tj did not hold within \xC2\xB1%.2f \xC2\xB0" "C for %.0f s", plan_.tjBand,
                                   double(plan_.tjStableFor.count()))
                             : std::string("the soak time did not pass")));
            return SoakResult::SoakTimedOut;
        }

        const std::optional<double> air = chamber_.air();
        if (!air) {
            switch (recover()) {
            case Step::Answered:
                // Nothing was seen during the pause: the soak counts afresh
                // from the next reading in the window.
                if (inWindow) log("soak starts again: the air was not watched while the chamber was silent");
                inWindow = false;
                tjRef = std::nan("");
                continue;
            case Step::Lost: return lost();
            case Step::Interrupted: log("stop requested while the chamber was silent"); return SoakResult::Interrupted;
            }
        }
        lastAir = air;
        const std::optional<double> tj = hooks_.tj ? hooks_.tj() : std::nullopt;
        const bool within = std::fabs(*air - sp_) <= plan_.window;

        if (within && !inWindow) {
            inWindow = true;
            windowSince = t;
            tjRef = std::nan("");
            log(fmt("air %.2f \xC2\xB0" "C within the window after %.0f s; ", *air, secs(t - start)) +
                (fixed ? fmt("fixed soak of %.0f s", double(soakFor.count()))
                       : watchTj ? fmt("soaking until Tj holds within \xC2\xB1%.2f \xC2\xB0" "C for %.0f s",
                                       plan_.tjBand, double(soakFor.count()))
                                 : fmt("no Tj to watch: soaking %.0f s", double(soakFor.count()))));
        } else if (!within && inWindow) {
            inWindow = false;
            tjRef = std::nan("");
            log(fmt("air %.2f \xC2\xB0" "C left the window around %.1f: soak starts again once it is back", *air, sp_));
        }

        if (!within) {
            if (std::isnan(stuckValue) || std::fabs(*air - stuckValue) >= kStuckResolution) {
                stuckValue = *air;
                stuckSince = t;
            } else if (!stuckLogged && t - stuckSince >= kStuckAfter) {
                stuckLogged = true;
                log(fmt("chamber reading stuck at %.2f \xC2\xB0" "C for %.0f s, %.1f off the set point: "
                        "waiting on until the bound",
                        *air, secs(t - stuckSince), *air - sp_));
            }
        } else {
            stuckValue = std::nan("");
        }

        const char* state = within ? "soak" : "ramp";
        if (inWindow) {
            if (watchTj) {
                if (!tj) {
                    if (!tjUnreadableLogged) log("Tj unreadable: its stable time starts again");
                    tjUnreadableLogged = true;
                    tjRef = std::nan("");
                } else if (std::isnan(tjRef) || std::fabs(*tj - tjRef) > plan_.tjBand) {
                    tjRef = *tj;
                    tjRefAt = t;
                } else if (t - tjRefAt >= soakFor) {
                    if (hooks_.sample) hooks_.sample(*air, tj, "settled");
                    log(fmt("settled after %.0f s: Tj %.2f \xC2\xB0" "C held within \xC2\xB1%.2f for %.0f s",
                            secs(t - start), *tj, plan_.tjBand, secs(t - tjRefAt)));
                    return SoakResult::Settled;
                }
            } else if (t - windowSince >= soakFor) {
                if (hooks_.sample) hooks_.sample(*air, tj, "settled");
                log(fmt("settled after %.0f s: air in the window for %.0f s", secs(t - start),
                        secs(t - windowSince)));
                return SoakResult::Settled;
            }
        }
        if (hooks_.sample) hooks_.sample(*air, tj, state);
        if (!wait(kReadInterval)) {
            log("stop requested: soak abandoned");
            return SoakResult::Interrupted;
        }
    }
}

} // namespace

SoakResult settle(Chamber& chamber, double celsius, const SoakPlan& plan, const SoakHooks& hooks)
{
    return Soak(chamber, celsius, plan, hooks).run();
}

} // namespace zelbo::campaign
