#pragma once
// The main window's tooltips (app/main_tooltips.cpp).

#include <QList>

class CTQ5170xHWPDlg;

namespace zelbo::app {

// The ids of the controls that write to the board; each carries a tooltip
// saying what it sets, its unit and its range.
QList<int> boardControlIds();
// Puts those tooltips on the window's controls, in the language in use.
void applyToolTips(CTQ5170xHWPDlg& window);

} // namespace zelbo::app
