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

// Filter, default name and suffix of the dialog; overwriting asks first.
void configureWaveformDialog(QFileDialog& dialog);
// Shows the dialog; the chosen path, or empty when cancelled.
QString askWaveformPath(QWidget* parent);
// Writes the picture; a failure is reported through `messages` when given.
bool exportWaveform(CChart& chart, const QString& path, MessageService* messages);

} // namespace zelbo::scope
