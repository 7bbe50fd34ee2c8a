#pragma once
// Measures every converted sweep on the reader thread and keeps the latest
// figures of each channel for the window to show. The setups (source, Io,
// excitation mode) come from the GUI thread; both sides meet under one short
// lock around fixed-size copies, so a sweep costs no allocation.

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "scope/measure/measurements.h"
#include "scope/sweep_observer.h"

namespace zelbo::scope {

class SweepMeasurer : public SweepObserver {
public:
    // GUI thread: Io and excitation mode of the drive (used for current channels).
    void setDrive(double ioAmps, Excitation excitation);

    struct Latest {
        std::uint64_t sweep = 0; // index of the sweep measured, 0 = none yet
        std::array<Measurement, kChannels> channels{};
    };
    Latest latest() const;
    MeasureSetup setupFor(Source source) const;

    void onSweep(const SweepFrame& frame) override;
    bool measureWhileConverting(MeasureDrive& drive) override;

private:
    mutable std::mutex mutex_;
    double ioAmps_ = 0.0;
    Excitation excitation_ = Excitation::QuarterStep;
    Latest latest_;
};

// Hands every sweep to several observers, in the order they were added.
// Add them all before the reader runs.
class SweepFanOut : public SweepObserver {
public:
    void add(SweepObserver* observer) { observers_.push_back(observer); }
    void onSweep(const SweepFrame& frame) override
    {
        for (SweepObserver* o : observers_)
            o->onSweep(frame);
    }
    bool measureWhileConverting(MeasureDrive& drive) override
    {
        bool wanted = false;
        for (SweepObserver* o : observers_)
            wanted = o->measureWhileConverting(drive) || wanted;
        return wanted;
    }

private:
    std::vector<SweepObserver*> observers_;
};

} // namespace zelbo::scope
