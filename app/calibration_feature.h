#pragma once
// Oscilloscope calibration in the program: the calibration core wired to the
// window (groups, status bar, messages), the drive (pins) and the link (the
// steps run on the reader), and "init.clb" read at start and written at close.

#include <memory>

#include <QObject>
#include <QTimer>

#include "link/fpga_link.h"
#include "engine/instrument_state.h"
#include "scope/calibration.h"

class CTQ5170xHWPDlg;

namespace zelbo::app {

class ProgramFeatures;

class CalibrationFeature : public QObject {
    Q_OBJECT
public:
    CalibrationFeature(CTQ5170xHWPDlg& window, ProgramFeatures& features);
    ~CalibrationFeature() override;

    scope::Calibration& core() { return core_; }

    void start();          // CALIBRATE, Help > Oscilloscope > Calibrate
    void loadFile();       // initialisation
    // Close: writes the offsets when they differ from those read at start
    // (whatever became of the link); false, reported on stderr and in the
    // status bar, when they cannot be written.
    bool saveFile();

private:
    CTQ5170xHWPDlg& window_;
    ProgramFeatures& features_;
    scope::Calibration& core_; // the engine's
    scope::CalibrationOffsets saved_{}; // as read at start (or last written)
    QTimer watchdog_;
};

} // namespace zelbo::app
