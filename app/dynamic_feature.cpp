#include "app/dynamic_feature.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>

#include "app/main_window.h"
#include "common/message_service.h"
#include "drive/ui/drive_feature.h"
#include "files/settings_core.h"

namespace zelbo::app {

DynamicFeature::DynamicFeature(CTQ5170xHWPDlg& window, drive::DriveFeature& drive,
                               std::function<std::uint8_t()> scopeControl)
    : QObject(nullptr), window_(window), drive_(drive)
{
    drive::sequence::HostHooks hh = window_.engine().sequenceLinkHooks();
    hh.scopeRunValue = [this, scopeControl]() -> std::optional<std::uint8_t> {
        auto* run = window_.panels().acquisition->run;
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
        // A start is posted: the upload runs after the window's handler has
        // returned. A stop is done at once: finishing a window hands the
        // drive back right after it, and the sequencer must be stopped first.
        h.post = [this, n](const drive::sequence::StartRecord& rec) {
            if (rec.kind != drive::sequence::StartRecord::Start) {
                handleRequest(n, rec);
                return;
            }
            QMetaObject::invokeMethod(this, [this, n, rec] { handleRequest(n, rec); }, Qt::QueuedConnection);
        };
        h.sendPauseState = [this](int state) { host_->sendPauseState(state); };
        h.requestRow = [this] { host_->requestRow(); };
        // The board back on the main window's settings: supply and pins
        // (a sequence's rows set the pins), then VREF, MTH and CLK.
        h.simpleSettings = [this] { window_.engine().settings().reapplySimpleSettings(); };
        // -1: dynamic mode is over; the drive groups come back with the state.
        h.applyRow = [this](int index) {
            if (index < 0) window_.engine().state().finished(engine::Activity::Sequence);
        };
        h.sleep = [](std::chrono::milliseconds ms) { QThread::msleep(static_cast<unsigned long>(ms.count())); };
        auto* dlg = new CDynamicDlg(n, window_.messages(), std::move(h), &window_);
        dlg->setWindowFlag(Qt::Window);
        dlg->hide();
        dialogs_[static_cast<std::size_t>(n)] = dlg;
    }
    // Reader thread: the row index, handed to the running window on the GUI thread.
    window_.engine().answers().onDynamicIndex([this](std::int16_t index) {
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
    engine::InstrumentState& state = window_.engine().state();
    if (!state.running(engine::Activity::Sequence)) {
        // Dynamic mode takes the drive groups while a window is open.
        if (auto why = state.begin(engine::Activity::Sequence,
                                   [this](engine::EndCause cause) { return end(cause); })) {
            window_.messages().show(*why, kAppCaption, MsgIcon::Information);
            return false;
        }
    }
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

bool DynamicFeature::end(engine::EndCause cause)
{
    bool shown = false;
    for (auto& d : dialogs_) shown = shown || (d && d->isVisible());
    if (engine::InstrumentState::restores(cause) && shown) {
        // A mode change or a settings file: finished as its window finishes,
        // with the question; No keeps dynamic mode.
        finishVisible();
        return !window_.engine().state().running(engine::Activity::Sequence);
    }
    // Power off, closing, a lost board: the board stops the table now (not
    // through the posted request, which would come after the power is off).
    if (cause != engine::EndCause::LinkLost && host_->runningWindow() >= 0) host_->stop(false);
    for (auto& d : dialogs_)
        if (d) d->abandon();
    if (engine::InstrumentState::restores(cause)) window_.engine().settings().reapplySimpleSettings();
    return true;
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
