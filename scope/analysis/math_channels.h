#pragma once
// The math channels as the chart and the measurement strip see them: two
// ScopeChannels ("M1", "M2") whose traces are computed from every converted
// sweep on the reader thread, like the four real channels' traces, and
// measured there with the same functions.
//
// The GUI thread compiles an expression and hands it over as an immutable
// shared program under a short lock; the reader evaluates into a
// preallocated scratch trace and swaps it in under the channel's
// traceMutex, so a sweep costs no allocation.

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "scope/analysis/math_expression.h"
#include "scope/analysis/math_file.h"
#include "scope/measure/measurements.h"
#include "scope/sweep_observer.h"

namespace zelbo::scope::analysis {

class MathChannelSet : public SweepObserver {
public:
    MathChannelSet();

    // GUI thread. Compiles `setup.expression` with the channels' units (from
    // their sources); on success the channel takes the setup (on, scale,
    // position, label, the unit derived) and true is returned. Otherwise
    // `error` says why and the channel is unchanged. An empty expression
    // turns the channel off.
    bool apply(int index, const MathChannelSetup& setup, const std::array<Source, kChannels>& sources,
               std::string* error = nullptr);
    const MathChannelSetup& setup(int index) const { return setups_.at(static_cast<std::size_t>(index)); }
    MathSetups setups() const { return setups_; }
    bool on(int index) const { return setup(index).on && program(index) != nullptr; }
    // The channel the chart draws; its unit and value/div follow the setup.
    ScopeChannel& channel(int index) { return channels_.at(static_cast<std::size_t>(index)); }
    std::string key(int index) const { return mathKey(index); }

    // Reader thread: evaluates the channels that are on.
    void onSweep(const SweepFrame& frame) override;
    // The figures of the last sweep (samples 0 when off or none yet).
    Measurement latest(int index) const;

private:
    std::shared_ptr<const MathExpression> program(int index) const;

    MathSetups setups_{};                         // GUI thread
    std::array<ScopeChannel, kMathChannels> channels_;
    mutable std::mutex mutex_;                   // programs_ and latest_
    std::array<std::shared_ptr<const MathExpression>, kMathChannels> programs_;
    std::array<Measurement, kMathChannels> latest_{};
    std::array<Trace, kMathChannels> scratch_;   // reader thread
};

} // namespace zelbo::scope::analysis
