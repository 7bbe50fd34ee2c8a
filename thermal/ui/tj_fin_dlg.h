#pragma once
// The monitor's completion dialog: "Temperature monitoring finished
// successfully." with "Save Chart" (the default) and "Discard Chart".

#include <QDialog>

class QPushButton;

class CTjFinDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTjFinDlg(QWidget* parent = nullptr);
    // Accepted: Save Chart; rejected: Discard Chart (or closed).
    QPushButton* saveButton() const { return save_; }
    QPushButton* discardButton() const { return discard_; }

private:
    QPushButton* save_;
    QPushButton* discard_;
};
