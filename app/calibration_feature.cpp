#include "app/calibration_feature.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QtGlobal>

#include "app/main_window.h"
#include "app/program_features.h"
#include "drive/dac.h"
#include "drive/drive_core.h"
#include "drive/pins.h"
#include "files/data_folder.h"
#include "scope/calibration_file.h"
#include "scope/scope_core.h"
#include "scope/ui/scope_binder.h"

namespace zelbo::app {

CalibrationFeature::CalibrationFeature(CTQ5170xHWPDlg& window, ProgramFeatures& features)
    : QObject(nullptr), window_(window), features_(features),
      snapshot_(std::make_unique<link::FpgaLink::CaptureSnapshot>())
{
    link::FpgaLink& link = window.link();
    scope::CalibrationHooks h;
    h.dropPins = [&link] {
        for (drive::Pin pin : drive::kPinOrder) drive::loadDacChannel(link, drive::pinChannel(pin), 0);
    };
    h.purgeInput = [&link] {
        if (link.active()) link.purgeInput();
    };
    h.scopeRunning = [&window, &features] {
        auto* run = qobject_cast<QAbstractButton*>(window.control(features.scopeBinder().ids().runButton));
        return run && run->isChecked();
    };
    h.disableControls = [&window] {
        window.enableGroups(CTQ5170xHWPDlg::AllGroups, false);
        window.link().pause(std::chrono::milliseconds(50));
        window.repaint();
        window.setStatusPaneText(0, QString::fromUtf8(scope::kCalibratingStatus));
    };
    h.clearCaptures = [&link] { link.clearCaptures(); };
    h.finishLater = [this] { QMetaObject::invokeMethod(this, [this] { core_->finish(); }, Qt::QueuedConnection); };
    h.restoreControls = [&window] {
        window.onBoardEvent(0);
        window.onBoardEvent(8);
    };
    h.reapplyPins = [&features] { features.drive().core().sendPins(std::chrono::milliseconds(20)); };
    h.offsetsChanged = [&features](const scope::CalibrationOffsets& o) { features.setCalibrationOffsets(o); };
    core_ = std::make_unique<scope::Calibration>(link, window.messages(), std::move(h));

    // Reader thread: every fourth sweep while calibrating.
    link.onCalibration([this] { return core_->calibrating(); },
                       [this, &link] {
                           link.copyCaptures(*snapshot_);
                           scope::CaptureAreas areas;
                           for (std::size_t n = 0; n < scope::kChannels; ++n)
                               areas[n] = std::span<const std::uint8_t>((*snapshot_)[n]);
                           core_->runStep(areas);
                       });

    // A board that stops sweeping must not leave the window disabled.
    watchdog_.setInterval(250);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
        if (!core_->calibrating()) watchdog_.stop();
        else core_->poll();
    });
}

// The window stops the link's reader (and may drop the link) before the
// features go: the calibration handlers never run after this.
CalibrationFeature::~CalibrationFeature() = default;

void CalibrationFeature::start()
{
    if (core_->start()) watchdog_.start();
}

void CalibrationFeature::loadFile()
{
    scope::CalibrationOffsets o = core_->offsets();
    if (scope::readCalibrationFile(window_.dataFolderPath() / files::kCalibrationFileName, o)) {
        core_->setOffsets(o);
        features_.setCalibrationOffsets(o);
    }
}

bool CalibrationFeature::saveFile()
{
    std::string error;
    if (scope::writeCalibrationFile(window_.dataFolderPath() / files::kCalibrationFileName, core_->offsets(), &error))
        return true;
    qWarning("Oscilloscope calibration not saved: %s", error.c_str());
    return false;
}

} // namespace zelbo::app
