#include "drive/ui/advance_feature.h"

namespace zelbo::drive {

AdvanceFeature::AdvanceFeature(link::CommandPort& port, MessageService& messages, DriveCore& drive,
                               CClkInDlg& pinPanel, QWidget* window)
    : QObject(window), core_(std::make_unique<AdvanceCore>(port, messages, drive)), pinPanel_(&pinPanel)
{
    dialog_ = new CDlgAdvanceMode(*core_, messages, window);
    connect(&pinPanel, &CClkInDlg::advanceToggled, this, [this](bool on) {
        if (!setActive(on) && on && pinPanel_) pinPanel_->setAdvanceChecked(false);
    });
    connect(dialog_, &CDlgAdvanceMode::closedByUser, this, [this] { setActive(false); });
}

AdvanceFeature::~AdvanceFeature()
{
    // The window holds a reference to the core.
    delete dialog_.data();
}

bool AdvanceFeature::setActive(bool on)
{
    if (!on) {
        const bool was = core_->active();
        core_->leave();
        if (dialog_) dialog_->hide();
        if (pinPanel_) {
            pinPanel_->setAdvanceChecked(false);
            pinPanel_->setPinControlsEnabled(true);
        }
        if (was && left_) left_();
        return true;
    }
    if (core_->active()) return true;
    if (!core_->confirmOpen()) return false;
    // Only one single-instance window at a time; the check tells the user.
    if (CSingletonDlg::anyVisible()) {
        dialog_->showSingleton();
        return false;
    }
    if (opening_ && !opening_()) return false;
    core_->activate();
    if (pinPanel_) {
        pinPanel_->setAdvanceChecked(true);
        pinPanel_->setPinControlsEnabled(false);
    }
    dialog_->showSingleton();
    dialog_->raise();
    dialog_->activateWindow();
    return true;
}

} // namespace zelbo::drive
