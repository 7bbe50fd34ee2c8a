#include "drive/ui/advance_mode_dlg.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using zelbo::drive::AdvanceCore;
using zelbo::drive::Vcc;
using ClockMode = zelbo::drive::AdvanceCore::ClockMode;

CDlgAdvanceMode::CDlgAdvanceMode(AdvanceCore& core, zelbo::MessageService& messages, QWidget* parent)
    : CSingletonDlg(messages, parent), core_(core)
{
    setWindowTitle(tr("Advance Mode"));
    setObjectName(QStringLiteral("CDlgAdvanceMode"));

    auto* pinsBox = new QGroupBox(tr("Pins"), this);
    auto* pinsRow = new QHBoxLayout(pinsBox);
    pinsRow->setSpacing(2);
    for (int k = 0; k < AdvanceCore::kPanels; ++k) {
        auto* p = new CDlgSlider(core_, k, pinsBox);
        panels_[static_cast<std::size_t>(k)] = p;
        if (k == AdvanceCore::kSweepPanel) pinsRow->addSpacing(12);
        pinsRow->addWidget(p);
    }

    auto* vdutBox = new QGroupBox(tr("VDUT"), this);
    auto* vdutCol = new QVBoxLayout(vdutBox);
    v5_ = new QRadioButton(tr("5V"), vdutBox);
    v33_ = new QRadioButton(tr("3.3V"), vdutBox);
    v5_->setObjectName(QStringLiteral("vdut5"));
    v33_->setObjectName(QStringLiteral("vdut33"));
    vdutCol->addWidget(v5_);
    vdutCol->addWidget(v33_);
    auto* vdutGroup = new QButtonGroup(this);
    vdutGroup->addButton(v5_);
    vdutGroup->addButton(v33_);
    connect(v5_, &QAbstractButton::clicked, this, [this] { core_.setVdut(Vcc::V5_0); });
    connect(v33_, &QAbstractButton::clicked, this, [this] { core_.setVdut(Vcc::V3_3); });

    auto* clkBox = new QGroupBox(tr("CLK"), this);
    auto* clkCol = new QVBoxLayout(clkBox);
    sweep_ = new QRadioButton(tr("Voltage Sweep"), clkBox);
    continuous_ = new QRadioButton(tr("Continuous"), clkBox);
    single_ = new QRadioButton(tr("Single Step"), clkBox);
    trigger_ = new QPushButton(tr("Trigger"), clkBox);
    sweep_->setObjectName(QStringLiteral("voltageSweep"));
    continuous_->setObjectName(QStringLiteral("continuous"));
    single_->setObjectName(QStringLiteral("singleStep"));
    trigger_->setObjectName(QStringLiteral("trigger"));
    trigger_->setAutoDefault(false);
    for (QWidget* w : {static_cast<QWidget*>(sweep_), static_cast<QWidget*>(continuous_),
                       static_cast<QWidget*>(single_), static_cast<QWidget*>(trigger_)})
        clkCol->addWidget(w);
    auto* clkGroup = new QButtonGroup(this);
    clkGroup->addButton(sweep_);
    clkGroup->addButton(continuous_);
    clkGroup->addButton(single_);
    connect(sweep_, &QAbstractButton::clicked, this, [this] { core_.setClockMode(ClockMode::Sweep); });
    connect(continuous_, &QAbstractButton::clicked, this, [this] { core_.setClockMode(ClockMode::Continuous); });
    connect(single_, &QAbstractButton::clicked, this, [this] { core_.setClockMode(ClockMode::SingleStep); });
    connect(trigger_, &QAbstractButton::clicked, this, [this] { core_.trigger(); });

    auto* side = new QVBoxLayout;
    side->addWidget(vdutBox);
    side->addWidget(clkBox);
    side->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(pinsBox, 1);
    layout->addLayout(side);

    coreConnection_ = core_.changed.connect([this] { refresh(); });
    refresh();
}

void CDlgAdvanceMode::refresh()
{
    for (CDlgSlider* p : panels_) p->refresh();
    {
        const QSignalBlocker b1(v5_), b2(v33_);
        (core_.vdut() == Vcc::V5_0 ? v5_ : v33_)->setChecked(true);
    }
    {
        const QSignalBlocker b1(sweep_), b2(continuous_), b3(single_);
        switch (core_.clockMode()) {
        case ClockMode::Sweep: sweep_->setChecked(true); break;
        case ClockMode::Continuous: continuous_->setChecked(true); break;
        case ClockMode::SingleStep: single_->setChecked(true); break;
        }
    }
    panels_[AdvanceCore::kSweepPanel]->setEnabled(core_.sweepPanelEnabled());
    trigger_->setEnabled(core_.triggerEnabled());
}

void CDlgAdvanceMode::closeEvent(QCloseEvent* event)
{
    CSingletonDlg::closeEvent(event);
    if (event->isAccepted()) emit closedByUser();
}

void CDlgAdvanceMode::reject()
{
    // Escape closes the window like its close button.
    hide();
    emit closedByUser();
}
