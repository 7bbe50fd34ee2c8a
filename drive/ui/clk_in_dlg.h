#pragma once
// The pin panel: a Low/High radio pair and a two-position slider for each of
// the five logic pins, the "Chip Name" list, the "Excitation Mode" field and
// the "Advance" toggle. It shows the drive core's pin and chip state and hands
// every click to the core, which loads the pin's DAC channel.

#include <array>

#include <QDialog>

#include <boost/signals2/connection.hpp>

#include "drive/drive_core.h"

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

class CClkInDlg : public QDialog {
    Q_OBJECT
public:
    explicit CClkInDlg(zelbo::drive::DriveCore& core, QWidget* parent = nullptr);

    QRadioButton* lowRadio(zelbo::drive::Pin pin) const { return low_[static_cast<int>(pin)]; }
    QRadioButton* highRadio(zelbo::drive::Pin pin) const { return high_[static_cast<int>(pin)]; }
    QSlider* pinSlider(zelbo::drive::Pin pin) const { return sliders_[static_cast<int>(pin)]; }
    QComboBox* chipNameList() const { return chips_; }
    QLineEdit* excitationField() const { return excitation_; }
    QPushButton* advanceButton() const { return advance_; }

    // The PS row's "Low" radio is the checked one (read at power on).
    bool psLowSelected() const;
    // The "Advance" toggle without its click handling (a refused opening
    // unchecks it again; the end of advance mode too).
    void setAdvanceChecked(bool checked);
    // Pin radios and sliders are disabled while advance mode drives the pins.
    void setPinControlsEnabled(bool enabled);

    // Redraws from the core.
    void refresh(unsigned aspects = zelbo::drive::aspect::kAll);

signals:
    // The user toggled "Advance": true to open advance mode, false to leave it.
    void advanceToggled(bool on);

private:
    void pinClicked(int index, bool highRadio, bool checked);

    zelbo::drive::DriveCore& core_;
    std::array<QRadioButton*, zelbo::drive::kPinCount> low_{};
    std::array<QRadioButton*, zelbo::drive::kPinCount> high_{};
    std::array<QSlider*, zelbo::drive::kPinCount> sliders_{};
    QComboBox* chips_ = nullptr;
    QLineEdit* excitation_ = nullptr;
    QPushButton* advance_ = nullptr;
    boost::signals2::scoped_connection coreConnection_;
};
