#include "drive/sweep.h"

#include <algorithm>
#include <cmath>

namespace zelbo::drive {

SweepCore::SweepCore(DriveCore& drive) : drive_(drive)
{
    driveConnection_ = drive_.changed.connect([this](unsigned a) { follow(a); });
}

void SweepCore::setColumn(ColumnId id)
{
    if (id == column_) return;
    if (running_) stop(); // a run belongs to one column
    column_ = id;
    changed();
}

void SweepCore::setPaceMs(int ms)
{
    paceMs_ = std::clamp(ms, kMinPaceMs, kMaxPaceMs);
    changed();
}

bool SweepCore::stepBy(int direction)
{
    const Column& c = drive_.column(column_);
    const double lo = c.min();
    const double hi = c.max();
    const double step = c.step();
    const double now = c.value();
    // A tolerance of a small part of a step: 0.29 + 0.01 must reach 0.30.
    const double eps = step * 1e-6;
    double next = now + direction * step;
    if (direction > 0 && now >= hi - eps) return false;
    if (direction < 0 && now <= lo + eps) return false;
    next = std::clamp(next, lo, hi);
    drive_.setValueText(column_, c.format(next));
    drive_.commitValue(column_);
    // The commit keeps the value on the column's grid: a MAX that is not on
    // the STEP grid cannot be reached, and the value stays where it was.
    // That is the end too, or a run would never stop.
    const double after = drive_.column(column_).value();
    return direction > 0 ? after > now + eps : after < now - eps;
}

void SweepCore::start()
{
    if (running_) return;
    const Column& c = drive_.column(column_);
    drive_.setValueText(column_, c.format(c.min()));
    drive_.commitValue(column_);
    running_ = true;
    if (!drive_.secondRunning()) drive_.setSecondRunning(true);
    changed();
}

bool SweepCore::tick()
{
    if (!running_) return false;
    if (!stepUp()) {
        stop();
        return false;
    }
    return true;
}

void SweepCore::stop()
{
    if (!running_) return;
    running_ = false;
    if (drive_.secondRunning()) drive_.setSecondRunning(false);
    changed();
}

void SweepCore::forget()
{
    if (!running_) return;
    running_ = false;
    changed();
}

void SweepCore::follow(unsigned aspects)
{
    // The board ended the run, or a reset switched the toggle off.
    if ((aspects & aspect::kClock) && running_ && !drive_.secondRunning()) {
        running_ = false;
        changed();
    }
}

} // namespace zelbo::drive
