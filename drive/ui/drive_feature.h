#pragma once
// The drive as one piece for the main window: the core, the pin panel, the
// mode dialog and the binder of the window's drive controls, with one method
// per call the window makes into the drive.

#include <memory>
#include <vector>

#include <QObject>
#include <QPointer>

#include "drive/drive_core.h"
#include "drive/ui/advance_feature.h"
#include "drive/ui/clk_in_dlg.h"
#include "drive/ui/drive_binder.h"
#include "drive/ui/mode_dlg.h"
#include "drive/ui/sweep_binder.h"

namespace zelbo::drive {

class DriveFeature : public QObject {
    Q_OBJECT
public:
    // `window` owns the two dialogs; `lookup` finds its controls by id.
    DriveFeature(link::CommandPort& port, MessageService& messages, DriveBinder::Lookup lookup,
                 QWidget* window, DriveControlIds ids = {});
    // On a core that someone else owns (the engine's); it must outlive this.
    DriveFeature(DriveCore& core, link::CommandPort& port, MessageService& messages, DriveBinder::Lookup lookup,
                 QWidget* window, DriveControlIds ids = {});
    ~DriveFeature() override;

    DriveCore& core() { return *core_; }
    CClkInDlg& pinPanel() { return *pinPanel_; }
    CModeDlg& modeDialog() { return *modeDialog_; }
    DriveBinder& binder() { return *binder_; }
    AdvanceFeature& advance() { return *advance_; }
    SweepBinder& sweep() { return *sweep_; }

    // What a mode change and a reset touch outside the drive.
    void setModeChangeHooks(const ModeChangeHooks& hooks);
    // The loaded chip list, in file order.
    void setChipList(std::vector<ChipEntry> chips) { core_->setChipList(std::move(chips)); }

    // ---- the main window's calls ---------------------------------------------
    void setDefaults();                                 // initialisation
    void applySupplyAndPins() { core_->applyVccAndPins(); } // power on, board re-initialised
    bool psLowSelected() const { return pinPanel_->psLowSelected(); }
    void startClock() { binder_->startClock(); }       // CLK toggle checked by the window
    void stopClock() { binder_->stopClock(); }         // CLK toggle unchecked by the window
    void clockControlRead(std::uint8_t value) { binder_->clockControlRead(value); } // GUI thread
    void secondRunEnded() { binder_->secondRunEnded(); }
    bool modeDialogVisible() const { return modeDialog_->isVisible(); }
    void showModeDialog() { modeDialog_->showCentred(); }
    void showPinPanel();

private:
    DriveFeature(std::unique_ptr<DriveCore> owned, DriveCore* core, link::CommandPort& port, MessageService& messages,
                 DriveBinder::Lookup lookup, QWidget* window, DriveControlIds ids);

    ModeChangeHooks hooks_;
    std::unique_ptr<DriveCore> owned_; // null on someone else's core
    DriveCore* core_;
    // Guarded: the window may delete its child dialogs before this object.
    QPointer<CClkInDlg> pinPanel_;
    QPointer<CModeDlg> modeDialog_;
    QPointer<DriveBinder> binder_;
    QPointer<AdvanceFeature> advance_;
    QPointer<SweepBinder> sweep_;
};

} // namespace zelbo::drive
