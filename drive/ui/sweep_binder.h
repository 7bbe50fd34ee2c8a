#pragma once
// Binds the main window's SWEEP row to the sweep core: "<" and ">" step the
// chosen column, "Start" runs it from MIN to MAX on a timer at the chosen
// pace. The row gets two controls of its own below its buttons: the column
// ("VREF", "MTH", "CLK") and the pace in milliseconds per step.

#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <boost/signals2/connection.hpp>

#include "drive/sweep.h"
#include "widgets/control_ids.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QSpinBox>

namespace zelbo::drive {

struct SweepControlIds {
    int down = ctl::kSweepDown;  // "<"
    int start = ctl::kSweepStart; // "Start" (the other run toggle)
    int up = ctl::kSweepUp;    // ">"
};

class SweepBinder : public QObject {
    Q_OBJECT
public:
    using Lookup = std::function<QWidget*(int)>;
    SweepBinder(DriveCore& drive, Lookup lookup, SweepControlIds ids = {}, QObject* parent = nullptr);
    ~SweepBinder() override;

    SweepCore& core() { return *core_; }
    QComboBox* columnChoice() const { return column_; }
    QSpinBox* paceField() const { return pace_; }

private:
    void refresh();

    std::unique_ptr<SweepCore> core_;
    QPointer<QAbstractButton> start_;
    QPointer<QComboBox> column_;
    QPointer<QSpinBox> pace_;
    QTimer timer_;
    boost::signals2::scoped_connection connection_;
};

} // namespace zelbo::drive
