#pragma once
// The main window's three dynamic windows and the board side of their runs:
// the one running window, start / stop / pause through the sequence host, the
// row poll and its answers (from the reader thread, moved to the GUI thread),
// and handing the drive back to the main window when a window is finished.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>

#include "drive/sequence.h"
#include "engine/instrument_state.h"
#include "drive/ui/dynamic_dlg.h"

class CTQ5170xHWPDlg;

namespace zelbo::drive {
class DriveFeature;
}

namespace zelbo::app {

class DynamicFeature : public QObject {
    Q_OBJECT
public:
    // scopeControl: the scope control register's value, written back after the upload.
    DynamicFeature(CTQ5170xHWPDlg& window, drive::DriveFeature& drive, std::function<std::uint8_t()> scopeControl);
    ~DynamicFeature() override;

    CDynamicDlg* dialog(int n) const { return dialogs_[static_cast<std::size_t>(n)].data(); }
    drive::sequence::SequenceHost& host() { return *host_; } // the engine's

    // View > Dynamic Window: the main window's drive groups go off, the first window shows.
    bool show();
    // "Change": every visible window is finished (asked and, on Yes, hidden).
    void finishVisible();

private:
    // Dynamic mode ended from outside (the instrument state's ender).
    bool end(engine::EndCause cause);
    void handleRequest(int window, const drive::sequence::StartRecord& record);
    void deliverRow(std::int16_t index);

    CTQ5170xHWPDlg& window_;
    drive::DriveFeature& drive_;
    drive::sequence::SequenceHost* host_ = nullptr;
    std::array<QPointer<CDynamicDlg>, drive::sequence::kWindows> dialogs_;
};

} // namespace zelbo::app
