#include "app/calibration_feature.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QPushButton>
#include <QtGlobal>

#include "app/main_window.h"
#include "app/program_features.h"
#include "drive/drive_core.h"
#include "common/data_folder.h"
#include "scope/calibration_file.h"
#include "scope/scope_core.h"
#include "scope/ui/scope_binder.h"

namespace zelbo::app {

CalibrationFeature::CalibrationFeature(CTQ5170xHWPDlg& window, ProgramFeatures& features)
    : QObject(nullptr), window_(window), features_(features), core_(window.engine().calibration())
{
    scope::CalibrationHooks h = window.engine().calibrationLinkHooks();
    h.scopeRunning = [&window, &features] {
        auto* run = qobject_cast<QAbstractButton*>(window.control(features.scopeBinder().ids().runButton));
        return run && run->isChecked();
    };
    h.disableControls = [this, &window] {
        // The calibration is the instrument's activity from here on: every
        // group goes off (the state says so), and power off, closing or a
        // lost board end it.
        window.engine().state().begin(engine::Activity::Calibration, [this](engine::EndCause cause) {
            watchdog_.stop();
            core_.abort(cause != engine::EndCause::LinkLost);
            // The pins went to 0 V for the calibration; the drive stays on
            // after a mode change or a settings file, so they go back.
            if (engine::InstrumentState::restores(cause)) features_.drive().core().sendPins(std::chrono::milliseconds(20));
            return true;
        });
        window.link().pause(std::chrono::milliseconds(50));
        window.repaint();
        window.setStatusPaneText(0, QString::fromUtf8(scope::kCalibratingStatus));
    };
    h.finishLater = [this] { QMetaObject::invokeMethod(this, [this] { core_.finish(); }, Qt::QueuedConnection); };
    h.restoreControls = [&window] {
        window.calibrationEnded();
        // The groups come back with the state.
        window.engine().state().finished(engine::Activity::Calibration);
    };
    h.reapplyPins = [&features] { features.drive().core().sendPins(std::chrono::milliseconds(20)); };
    h.offsetsChanged = [&features](const scope::CalibrationOffsets& o) { features.setCalibrationOffsets(o); };
    core_.setHooks(std::move(h));

    // Reader thread: every fourth sweep while calibrating.
    window.engine().feedCalibrationFromReader();

    // A board that stops sweeping must not leave the window disabled.
    watchdog_.setInterval(250);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
        if (!core_.calibrating()) watchdog_.stop();
        else core_.poll();
    });
}

// The window stops the link's reader (and may drop the link) before the
// features go: the calibration handlers never run after this.
CalibrationFeature::~CalibrationFeature() { core_.setHooks({}); }

void CalibrationFeature::start()
{
    // Another activity, or no power: refused before the board is touched.
    if (auto why = window_.engine().state().refusal(engine::Activity::Calibration)) {
        window_.messages().show(*why, kAppCaption, MsgIcon::Information);
        return;
    }
    if (core_.start()) {
        watchdog_.start();
        return;
    }
    // The refusal's text is fixed and names "Run/Stop"; the button says
    // what it is called now.
    if (auto* run = window_.panels().acquisition->run; run && run->isChecked())
        window_.setStatusPaneText(
            0, tr("Calibration needs the oscilloscope stopped: press \"%1\" first.").arg(run->text()));
}

void CalibrationFeature::loadFile()
{
    window_.engine().loadCalibrationFile(window_.dataFolderPath() / files::kCalibrationFileName);
    saved_ = core_.offsets();
}

bool CalibrationFeature::saveFile()
{
    const scope::CalibrationOffsets offsets = core_.offsets();
    if (scope::sameOffsets(offsets, saved_)) return true;
    std::string error;
    if (scope::writeCalibrationFile(window_.dataFolderPath() / files::kCalibrationFileName, offsets, &error)) {
        saved_ = offsets;
        return true;
    }
    qWarning("Oscilloscope calibration not saved: %s", error.c_str());
    window_.setStatusPaneText(0, QStringLiteral("Oscilloscope calibration not saved: %1").arg(QString::fromStdString(error)));
    return false;
}

} // namespace zelbo::app
