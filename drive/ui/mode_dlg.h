#pragma once
// "Configure Zelbo": the supply choice and the (single-entry, hidden) drive
// mode selector. OK hands both to the drive core's mode change and closes.

#include <QString>

#include "drive/drive_core.h"
#include "widgets/singleton_dlg.h"

class QComboBox;
class QPushButton;
class QRadioButton;

class CModeDlg : public CSingletonDlg {
    Q_OBJECT
public:
    CModeDlg(zelbo::drive::DriveCore& core, zelbo::MessageService& messages, QWidget* parent = nullptr);

    // What a confirmed mode change must do outside the drive (oscilloscope,
    // thermometer, chart); supplied by the main window.
    void setModeChangeHooks(zelbo::drive::ModeChangeHooks hooks) { hooks_ = std::move(hooks); }

    QRadioButton* radio33() const { return v33_; }
    QRadioButton* radio50() const { return v50_; }
    QComboBox* modeSelector() const { return selector_; }
    QPushButton* okButton() const { return ok_; }

    // Radios from the core's supply; runs whenever the dialog is shown.
    void syncFromCore();
    // "Change": centre over the parent and show through the single-instance
    // check. Returns whether it is shown.
    bool showCentred();

signals:
    // After OK: the mode change ran (true) or the user cancelled it (false).
    void modeChangeFinished(bool applied);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void okClicked();

    zelbo::drive::DriveCore& core_;
    zelbo::drive::ModeChangeHooks hooks_;
    QRadioButton* v33_ = nullptr;
    QRadioButton* v50_ = nullptr;
    QComboBox* selector_ = nullptr;
    QPushButton* ok_ = nullptr;
};
