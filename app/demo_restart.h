#pragma once
// The way from a program without a board to the demo: File > Restart in Demo
// Mode starts a copy of the program on the simulated board (--demo) and closes
// this one; the copy waits for this one's single-instance lock to go.

class CTQ5170xHWPDlg;
class QMenu;

namespace zelbo::app {

// Starts `<this program> --demo` detached. False when it could not be started.
bool startDemoCopy();

} // namespace zelbo::app

// Adds the menu item (object name "cmdDemo") to the File menu. It is hidden in
// demo mode and disabled while a board is in use.
void addDemoRestart(CTQ5170xHWPDlg* window, QMenu* file);
