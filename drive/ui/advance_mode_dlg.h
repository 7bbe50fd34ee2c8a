#pragma once
// "Advance Mode": the six slider panels, the VDUT choice and the CLK group
// (voltage sweep, continuous, single steps with "Trigger"). A single-instance
// dialog; the advance feature opens and closes it.

#include <array>

#include <boost/signals2/connection.hpp>

#include "drive/advance.h"
#include "drive/ui/dlg_slider.h"
#include "widgets/singleton_dlg.h"

class QPushButton;
class QRadioButton;

class CDlgAdvanceMode : public CSingletonDlg {
    Q_OBJECT
public:
    CDlgAdvanceMode(zelbo::drive::AdvanceCore& core, zelbo::MessageService& messages, QWidget* parent = nullptr);

    CDlgSlider* panel(int k) const { return panels_[static_cast<std::size_t>(k)]; }
    QRadioButton* vdut5() const { return v5_; }
    QRadioButton* vdut33() const { return v33_; }
    QRadioButton* sweepRadio() const { return sweep_; }
    QRadioButton* continuousRadio() const { return continuous_; }
    QRadioButton* singleStepRadio() const { return single_; }
    QPushButton* triggerButton() const { return trigger_; }

    void refresh();

signals:
    // The user closed the window.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    zelbo::drive::AdvanceCore& core_;
    std::array<CDlgSlider*, zelbo::drive::AdvanceCore::kPanels> panels_{};
    QRadioButton* v5_ = nullptr;
    QRadioButton* v33_ = nullptr;
    QRadioButton* sweep_ = nullptr;
    QRadioButton* continuous_ = nullptr;
    QRadioButton* single_ = nullptr;
    QPushButton* trigger_ = nullptr;
    boost::signals2::scoped_connection coreConnection_;
};
