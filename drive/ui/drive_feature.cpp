#include "drive/ui/drive_feature.h"

namespace zelbo::drive {

DriveFeature::DriveFeature(link::CommandPort& port, MessageService& messages, DriveBinder::Lookup lookup,
                           QWidget* window, DriveControlIds ids)
    : DriveFeature(std::make_unique<DriveCore>(port, messages), nullptr, port, messages, std::move(lookup), window,
                   ids)
{
}

DriveFeature::DriveFeature(DriveCore& core, link::CommandPort& port, MessageService& messages,
                           DriveBinder::Lookup lookup, QWidget* window, DriveControlIds ids)
    : DriveFeature(std::unique_ptr<DriveCore>(), &core, port, messages, std::move(lookup), window, ids)
{
}

DriveFeature::DriveFeature(std::unique_ptr<DriveCore> owned, DriveCore* core, link::CommandPort& port,
                           MessageService& messages, DriveBinder::Lookup lookup, QWidget* window, DriveControlIds ids)
    : QObject(window), owned_(std::move(owned)), core_(core ? core : owned_.get())
{
    pinPanel_ = new CClkInDlg(*core_, window);
    modeDialog_ = new CModeDlg(*core_, messages, window);
    binder_ = new DriveBinder(*core_, lookup, ids, this);
    advance_ = new AdvanceFeature(port, messages, *core_, *pinPanel_, window);
    sweep_ = new SweepBinder(*core_, std::move(lookup), {}, this);
}

DriveFeature::~DriveFeature()
{
    // The dialogs and the binder hold references to the core: they go first.
    delete sweep_.data();
    delete advance_.data();
    delete binder_.data();
    delete modeDialog_.data();
    delete pinPanel_.data();
}

void DriveFeature::setModeChangeHooks(const ModeChangeHooks& hooks)
{
    hooks_ = hooks;
    modeDialog_->setModeChangeHooks(hooks);
}

void DriveFeature::setDefaults() { core_->reset(hooks_); }

void DriveFeature::showPinPanel()
{
    pinPanel_->show();
    pinPanel_->raise();
    pinPanel_->activateWindow();
}

} // namespace zelbo::drive
