#pragma once
// The Save Waveform action: a save dialog for a JPEG picture of the chart.

#include <QString>

class QFileDialog;
class QWidget;

namespace zelbo {
class MessageService;
}

namespace zelbo::scope {

class CChart;

// Filter, suffix, the picture folder last used and a name from the chip and
// the time; overwriting asks first.
void configureWaveformDialog(QFileDialog& dialog);
// Shows the dialog; the chosen path, or empty when cancelled.
QString askWaveformPath(QWidget* parent);
// Writes the picture; a failure is reported with its reason through
// `messages` when given, and the reason left in `reason`.
bool exportWaveform(CChart& chart, const QString& path, MessageService* messages, QString* reason = nullptr);

} // namespace zelbo::scope
