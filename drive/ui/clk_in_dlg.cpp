#include "drive/ui/clk_in_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

using zelbo::drive::DriveCore;
using zelbo::drive::Pin;
namespace aspect = zelbo::drive::aspect;

CClkInDlg::CClkInDlg(DriveCore& core, QWidget* parent) : QDialog(parent), core_(core)
{
    setWindowTitle(tr("Pin Settings"));
    setObjectName(QStringLiteral("CClkInDlg"));

    auto* pinsBox = new QGroupBox(tr("Pins"), this);
    auto* grid = new QGridLayout(pinsBox);
    for (int i = 0; i < zelbo::drive::kPinCount; ++i) {
        const Pin pin = zelbo::drive::kPinOrder[static_cast<std::size_t>(i)];
        const QString name = QString::fromLatin1(zelbo::drive::pinName(pin));
        auto* label = new QLabel(name, pinsBox);
        auto* low = new QRadioButton(tr("Low"), pinsBox);
        auto* high = new QRadioButton(tr("High"), pinsBox);
        auto* slider = new QSlider(Qt::Horizontal, pinsBox);
        low->setObjectName(QStringLiteral("low_") + name);
        high->setObjectName(QStringLiteral("high_") + name);
        slider->setObjectName(QStringLiteral("slider_") + name);
        slider->setRange(0, 1);
        slider->setPageStep(1);
        slider->setFixedWidth(48);
        // Only settled positions count: no notifications while the thumb is
        // being dragged.
        slider->setTracking(false);
        auto* pair = new QButtonGroup(pinsBox);
        pair->addButton(low);
        pair->addButton(high);
        grid->addWidget(label, i, 0);
        grid->addWidget(low, i, 1);
        grid->addWidget(high, i, 2);
        grid->addWidget(slider, i, 3);
        low_[static_cast<std::size_t>(i)] = low;
        high_[static_cast<std::size_t>(i)] = high;
        sliders_[static_cast<std::size_t>(i)] = slider;
        connect(low, &QAbstractButton::clicked, this, [this, i](bool c) { pinClicked(i, false, c); });
        connect(high, &QAbstractButton::clicked, this, [this, i](bool c) { pinClicked(i, true, c); });
        connect(slider, &QAbstractSlider::valueChanged, this, [this, i](int pos) {
            core_.setPin(zelbo::drive::kPinOrder[static_cast<std::size_t>(i)], pos == 1);
        });
    }

    auto* chipBox = new QGroupBox(this);
    auto* chipGrid = new QGridLayout(chipBox);
    chips_ = new QComboBox(chipBox);
    chips_->setObjectName(QStringLiteral("chipName"));
    excitation_ = new QLineEdit(chipBox);
    excitation_->setObjectName(QStringLiteral("excitationMode"));
    excitation_->setReadOnly(true);
    chipGrid->addWidget(new QLabel(tr("Chip Name"), chipBox), 0, 0);
    chipGrid->addWidget(chips_, 0, 1);
    chipGrid->addWidget(new QLabel(tr("Excitation Mode"), chipBox), 1, 0);
    chipGrid->addWidget(excitation_, 1, 1);
    connect(chips_, &QComboBox::activated, this, [this](int index) { core_.selectChip(index); });

    advance_ = new QPushButton(tr("Advance"), this);
    advance_->setObjectName(QStringLiteral("advance"));
    advance_->setCheckable(true);
    connect(advance_, &QAbstractButton::clicked, this, [this](bool on) { emit advanceToggled(on); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pinsBox);
    layout->addWidget(chipBox);
    layout->addWidget(advance_, 0, Qt::AlignRight);

    coreConnection_ = core_.changed.connect([this](unsigned a) { refresh(a); });
    refresh();
}

void CClkInDlg::pinClicked(int index, bool highRadio, bool checked)
{
    // A Low radio means High when it is now unchecked, a High radio when it
    // is now checked.
    const bool high = highRadio ? checked : !checked;
    core_.setPin(zelbo::drive::kPinOrder[static_cast<std::size_t>(index)], high);
}

bool CClkInDlg::psLowSelected() const { return low_[0]->isChecked(); }

void CClkInDlg::setAdvanceChecked(bool checked)
{
    const QSignalBlocker block(advance_);
    advance_->setChecked(checked);
}

void CClkInDlg::setPinControlsEnabled(bool enabled)
{
    for (int i = 0; i < zelbo::drive::kPinCount; ++i) {
        low_[static_cast<std::size_t>(i)]->setEnabled(enabled);
        high_[static_cast<std::size_t>(i)]->setEnabled(enabled);
        sliders_[static_cast<std::size_t>(i)]->setEnabled(enabled);
    }
}

void CClkInDlg::refresh(unsigned aspects)
{
    if (aspects & aspect::kPins) {
        for (int i = 0; i < zelbo::drive::kPinCount; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const bool high = core_.pinHigh(zelbo::drive::kPinOrder[k]);
            const QSignalBlocker b1(low_[k]), b2(high_[k]), b3(sliders_[k]);
            (high ? high_[k] : low_[k])->setChecked(true);
            sliders_[k]->setValue(high ? 1 : 0);
        }
    }
    if (aspects & aspect::kChips) {
        const QSignalBlocker block(chips_);
        QStringList names;
        for (const auto& n : core_.chipNames()) names << QString::fromStdString(n);
        QStringList shown;
        for (int i = 0; i < chips_->count(); ++i) shown << chips_->itemText(i);
        if (names != shown) {
            chips_->clear();
            chips_->addItems(names);
        }
        chips_->setCurrentIndex(core_.selectedChipIndex());
    }
    if (aspects & (aspect::kPins | aspect::kChips)) {
        const QString text = QString::fromStdString(core_.excitationText());
        if (excitation_->text() != text) excitation_->setText(text);
    }
}
