#pragma once
// The program's look: Fusion with a calm light palette and an instrument-panel
// style sheet (bold group titles, aligned numeric fields, a power button that
// shows its state in colour).

class QApplication;
class QColor;
class QIcon;

void applyInstrumentStyle(QApplication& app);

// A small rounded square in `colour`: the channel buttons' trace colour.
QIcon colourSwatch(const QColor& colour);
