#include "app/dynamic_feature.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QThread>

#include "app/main_window.h"
#include "drive/ui/drive_feature.h"

namespace zelbo::app {

namespace {
// The drive groups the dynamic windows take over while shown.
constexpr int kDriveGroups = 0x3C;
constexpr int kScopeRunButton = 1026;
} // namespace

DynamicFeature::DynamicFeature(CTQ5170xHWPDlg& window, drive::DriveFeature& drive,
                               std::function<std::uint8_t()> scopeControl)
    : QObject(nullptr), window_(window), drive_(drive)
{
    drive::sequence::HostHooks hh = window_.engine().sequenceLinkHooks();
    hh.scopeRunValue = [this, scopeControl]() -> std::optional<std::uint8_t> {
        auto* run = window_.control<QAbstractButton>(kScopeRunButton);
        if (run && run->isChecked() && scopeControl) return scopeControl();
        return std::nullopt;
    };
    // Continuous clock; the steps and stop-level rows go off.
    hh.prepareClock = [this] {
        drive_.core().setManual(false);
        drive_.binder().refresh(drive::aspect::kClock);
    };
    host_ = &window_.engine().sequence();
    host_->setHooks(std::move(hh));

    for (int n = 0; n < drive::sequence::kWindows; ++n) {
        CDynamicDlg::Hooks h;
        h.runningWindow = [this] { return host_->runningWindow(); };
        // Posted: the upload runs after the window's handler has returned.
        h.post = [this, n](const drive::sequence::StartRecord& rec) {
            QMetaObject::invokeMethod(this, [this, n, rec] { handleRequest(n, rec); }, Qt::QueuedConnection);
        };
        h.sendPauseState = [this](int state) { host_->sendPauseState(state); };
        h.requestRow = [this] { host_->requestRow(); };
        h.simpleSettings = [this] { drive_.core().recommitValues(); };
        h.applyRow = [this](int index) {
            if (index < 0) window_.enableGroups(kDriveGroups, true);
        };
        h.sleep = [](std::chrono::milliseconds ms) { QThread::msleep(static_cast<unsigned long>(ms.count())); };
        auto* dlg = new CDynamicDlg(n, window_.messages(), std::move(h), &window_);
        dlg->setWindowFlag(Qt::Window);
        dlg->hide();
        dialogs_[static_cast<std::size_t>(n)] = dlg;
    }
    // Reader thread: the row index, handed to the running window on the GUI thread.
    window_.link().onDynamicIndex([this](std::int16_t index) {
        QMetaObject::invokeMethod(this, [this, index] { deliverRow(index); }, Qt::QueuedConnection);
    });
}

DynamicFeature::~DynamicFeature()
{
    host_->setHooks({});
    for (auto& d : dialogs_) delete d.data();
}

bool DynamicFeature::show()
{
    window_.enableGroups(kDriveGroups, false);
    CDynamicDlg* dlg = dialog(0);
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    return true;
}

void DynamicFeature::finishVisible()
{
    for (auto& d : dialogs_)
        if (d && d->isVisible()) d->finish();
}

void DynamicFeature::handleRequest(int n, const drive::sequence::StartRecord& rec)
{
    if (rec.kind == drive::sequence::StartRecord::Start) {
        host_->start(rec, n);
    } else if (host_->runningWindow() == n || host_->runningWindow() < 0) {
        host_->stop(rec.finished);
    }
}

void DynamicFeature::deliverRow(std::int16_t index)
{
    const int n = host_->runningWindow();
    if (n >= 0 && dialog(n)) dialog(n)->currentRowReceived(index);
}

} // namespace zelbo::app
