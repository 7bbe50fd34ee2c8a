#include "drive/ui/mode_dlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using zelbo::drive::Vcc;

CModeDlg::CModeDlg(zelbo::drive::DriveCore& core, zelbo::MessageService& messages, QWidget* parent)
    : CSingletonDlg(messages, parent), core_(core)
{
    setWindowTitle(tr("Configure Zelbo"));
    setObjectName(QStringLiteral("CModeDlg"));
    setModal(false);

    auto* supply = new QGroupBox(tr("Input Voltage:"), this);
    v33_ = new QRadioButton(tr("3.3 V"), supply);
    v50_ = new QRadioButton(tr("5.0 V"), supply);
    v33_->setObjectName(QStringLiteral("vcc33"));
    v50_->setObjectName(QStringLiteral("vcc50"));
    auto* supplyRow = new QHBoxLayout(supply);
    supplyRow->addWidget(v33_);
    supplyRow->addWidget(v50_);

    // One mode only; the selector is kept (hidden and disabled) because the
    // mode change reads its index.
    auto* modeLabel = new QLabel(tr("Select Mode:"), this);
    selector_ = new QComboBox(this);
    selector_->setObjectName(QStringLiteral("modeSelector"));
    selector_->addItem(tr("Stepping Clk-In"));
    selector_->setCurrentIndex(0);
    modeLabel->hide();
    selector_->hide();
    modeLabel->setEnabled(false);
    selector_->setEnabled(false);

    ok_ = new QPushButton(tr("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CModeDlg::okClicked);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(supply);
    layout->addWidget(modeLabel);
    layout->addWidget(selector_);
    layout->addWidget(ok_, 0, Qt::AlignRight);

    syncFromCore();
}

void CModeDlg::syncFromCore()
{
    (core_.vcc() == Vcc::V3_3 ? v33_ : v50_)->setChecked(true);
}

bool CModeDlg::showCentred()
{
    if (isVisible()) return true;
    adjustSize();
    if (QWidget* p = parentWidget()) {
        const QPoint centre = p->mapToGlobal(p->rect().center());
        move(centre - rect().center());
    }
    return showSingleton();
}

void CModeDlg::showEvent(QShowEvent* event)
{
    syncFromCore();
    CSingletonDlg::showEvent(event);
}

void CModeDlg::okClicked()
{
    const Vcc vcc = v33_->isChecked() ? Vcc::V3_3 : Vcc::V5_0;
    const bool applied = core_.changeMode(selector_->currentIndex(), vcc, hooks_);
    if (!applied && core_.mode() >= 0 && core_.mode() < selector_->count())
        selector_->setCurrentIndex(core_.mode());
    hide();
    emit modeChangeFinished(applied);
}
