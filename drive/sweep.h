#pragma once
// The SWEEP row of the main window: "<" and ">" move one column's value (VREF,
// MTH or CLK) one STEP down or up inside its MIN..MAX and commit it, so the
// board gets it at once; "Start" steps it from MIN up to MAX, one STEP per
// tick of the window's pace timer, and stops by itself after MAX.
//
// The run rides on the main window's other "Start" toggle (reg::kSecondRun):
// starting and stopping a sweep checks and unchecks it through DriveCore, and
// when the board ends that run the sweep ends too. GUI thread only.

#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>

#include "drive/drive_core.h"

namespace zelbo::drive {

class SweepCore {
public:
    static constexpr int kMinPaceMs = 50;
    static constexpr int kMaxPaceMs = 60'000;
    static constexpr int kDefaultPaceMs = 1000;

    explicit SweepCore(DriveCore& drive);

    // Fires when the column, the pace or the running state changed.
    boost::signals2::signal<void()> changed;

    ColumnId column() const { return column_; }
    void setColumn(ColumnId id);
    int paceMs() const { return paceMs_; }
    // Kept within kMinPaceMs..kMaxPaceMs.
    void setPaceMs(int ms);

    // "<" / ">": one STEP, held inside MIN..MAX; false when the value was
    // already at that end (nothing is sent then).
    bool stepDown() { return stepBy(-1); }
    bool stepUp() { return stepBy(+1); }

    bool running() const { return running_; }
    // "Start": the column to MIN (committed) and the run toggle on.
    void start();
    // One tick of the pace timer: the next STEP, or the end of the run after
    // MAX. Returns whether the run goes on.
    bool tick();
    // "Stop", or the run's end: the run toggle off.
    void stop();
    // The board is gone: the run ends here without a word to it.
    void forget();

private:
    bool stepBy(int direction);
    void follow(unsigned aspects);

    DriveCore& drive_;
    ColumnId column_ = ColumnId::Vref;
    int paceMs_ = kDefaultPaceMs;
    bool running_ = false;
    boost::signals2::scoped_connection driveConnection_;
};

} // namespace zelbo::drive
