#pragma once
// Help > Version Information and the window menu's "About Zelbo...".

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static QString versionText(); // "Zelbo Evaluation Software\nVersion 1.0.2.0"
    static QString builtText();   // "Built : <date> <time>"
    static QString demoText();    // how to start without a board
};

// The program's icon, drawn at run time so that no image file is needed.
QIcon zelboIcon();
