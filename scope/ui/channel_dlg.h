#pragma once
// Settings of one scope channel, opened from the channel's ">" button: the
// name shown for the trace, its colour, the vertical position of its zero
// line and the measured quantity. Every change is reported at once.

#include <QDialog>
#include <QString>
#include <QColor>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QSlider;
class CColourPickerCB;

namespace zelbo::scope {

struct ChannelSettings {
    QString label;
    QRgb colour = 0xFF000000;  // 0xFFRRGGBB
    int position = 0;          // half divisions, -10..+10 (= -slider value)
    int source = 0;            // 0 Voltage, 1 Current, 2 ICC
};

class CChannelDlg : public QDialog {
    Q_OBJECT
public:
    explicit CChannelDlg(int channel, QWidget* parent = nullptr);

    int channel() const { return channel_; }
    ChannelSettings settings() const;

    // Programmatic updates; none of them reports a change.
    void setLabel(const QString& label);
    void setColour(QRgb colour);
    void setPosition(int position);
    void setSource(int source);

    // Position text of the "div" edit for a slider value ("%.1f" of -0.5 x value, never "-0.0").
    static QString positionText(int sliderValue);

    QLineEdit* nameEdit() const { return name_; }
    CColourPickerCB* colourPicker() const { return colour_; }
    QSlider* positionSlider() const { return slider_; }
    QLineEdit* divEdit() const { return div_; }
    QButtonGroup* sourceButtons() const { return sources_; }

signals:
    // Sent with the whole record on every change the user makes.
    void settingsChanged(int channel, const zelbo::scope::ChannelSettings& settings);

private:
    void notify();
    void onDivEdited();

    int channel_;
    QLineEdit* name_ = nullptr;
    CColourPickerCB* colour_ = nullptr;
    QSlider* slider_ = nullptr;
    QLineEdit* div_ = nullptr;
    QLabel* maxLabel_ = nullptr;
    QLabel* minLabel_ = nullptr;
    QButtonGroup* sources_ = nullptr;
};

} // namespace zelbo::scope
