#pragma once
// One slider panel of the advance-mode window: a label across the top, a
// vertical slider on the left (top = MAX), the MAX / STEP / MIN fields on the
// right and the value field with its unit at the bottom. It shows one panel of
// the advance core and hands every edit to it.

#include <QWidget>

#include "drive/advance.h"

class QLabel;
class QLineEdit;
class QSlider;

class CDlgSlider : public QWidget {
    Q_OBJECT
public:
    // Control ids of the panel.
    enum Id {
        IDC_VALUE = 1260,
        IDC_SLIDER = 1261,
        IDC_LABEL = 1262,
        IDC_UNIT = 1263,
        IDC_MIN = 1264,
        IDC_STEP = 1265,
        IDC_MAX = 1266,
    };

    CDlgSlider(zelbo::drive::AdvanceCore& core, int panel, QWidget* parent = nullptr);

    int panel() const { return panel_; }
    QSlider* slider() const { return slider_; }
    QLineEdit* valueEdit() const { return value_; }
    QLineEdit* limitEdit(zelbo::drive::Limit which) const;

    // Redraws from the core (signals blocked).
    void refresh();

private:
    zelbo::drive::AdvanceCore& core_;
    int panel_;
    QLabel* label_ = nullptr;
    QSlider* slider_ = nullptr;
    QLineEdit* max_ = nullptr;
    QLineEdit* step_ = nullptr;
    QLineEdit* min_ = nullptr;
    QLineEdit* value_ = nullptr;
};
