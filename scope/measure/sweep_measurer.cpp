#include "scope/measure/sweep_measurer.h"

namespace zelbo::scope {

void SweepMeasurer::setDrive(double ioAmps, Excitation excitation)
{
    std::lock_guard lk(mutex_);
    ioAmps_ = ioAmps;
    excitation_ = excitation;
}

SweepMeasurer::Latest SweepMeasurer::latest() const
{
    std::lock_guard lk(mutex_);
    return latest_;
}

MeasureSetup SweepMeasurer::setupFor(Source source) const
{
    std::lock_guard lk(mutex_);
    return MeasureSetup{source, ioAmps_, excitation_};
}

bool SweepMeasurer::measureWhileConverting(MeasureDrive& drive)
{
    std::lock_guard lk(mutex_);
    drive.ioAmps = ioAmps_;
    drive.excitation = excitation_;
    return true;
}

void SweepMeasurer::onSweep(const SweepFrame& frame)
{
    double io;
    Excitation excitation;
    {
        std::lock_guard lk(mutex_);
        io = ioAmps_;
        excitation = excitation_;
    }
    Latest next;
    next.sweep = frame.index;
    for (std::size_t n = 0; n < kChannels; ++n) {
        if (!(frame.channels & (1u << n)) || !frame.traces[n])
            continue;
        if (frame.measured) {
            next.channels[n] = frame.measurements[n];
            continue;
        }
        // Only the reader thread writes the traces, so it reads them unlocked.
        const Trace& t = *frame.traces[n];
        const auto one = t.array_one();
        const auto two = t.array_two();
        next.channels[n] = measure({one.first, one.second}, {two.first, two.second},
                                   MeasureSetup{frame.sources[n], io, excitation});
    }
    std::lock_guard lk(mutex_);
    latest_ = next;
}

} // namespace zelbo::scope
