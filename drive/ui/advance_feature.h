#pragma once
// Advance mode as one piece: the core, the "Advance Mode" window and the pin
// panel's "Advance" toggle. Opening asks first and refuses (the toggle goes
// off again) on Cancel or while another single-instance window is open;
// leaving, by the toggle or by closing the window, hands the board back to
// the main window's settings.

#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>

#include "drive/advance.h"
#include "drive/ui/advance_mode_dlg.h"
#include "drive/ui/clk_in_dlg.h"

namespace zelbo::drive {

class AdvanceFeature : public QObject {
    Q_OBJECT
public:
    AdvanceFeature(link::CommandPort& port, MessageService& messages, DriveCore& drive, CClkInDlg& pinPanel,
                   QWidget* window);
    ~AdvanceFeature() override;

    AdvanceCore& core() { return *core_; }
    CDlgAdvanceMode& window() { return *dialog_; }

    // The "Advance" toggle: true to open (false when refused), false to leave.
    bool setActive(bool on);
    // Asked before advance mode opens (false refuses: the gate has told the
    // user why), and told when it has been left.
    void setGate(std::function<bool()> opening, std::function<void()> left)
    {
        opening_ = std::move(opening);
        left_ = std::move(left);
    }
    // Leaves advance mode if it is active (the main window's "Change").
    void leaveIfActive()
    {
        if (core_->active()) setActive(false);
    }

private:
    std::function<bool()> opening_;
    std::function<void()> left_;
    std::unique_ptr<AdvanceCore> core_;
    QPointer<CClkInDlg> pinPanel_;
    QPointer<CDlgAdvanceMode> dialog_;
};

} // namespace zelbo::drive
