#pragma once
// A pair of small up/down arrow buttons that step an integer position within a
// range, for use beside a read-only text field (the field shows whatever the
// position means: a scale, a rate, a ratio). It is a QAbstractSlider, so code
// that binds sliders binds it too: value(), setRange(), valueChanged().

#include <QAbstractSlider>

class QToolButton;

class SpinButton : public QAbstractSlider {
    Q_OBJECT
public:
    explicit SpinButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

public slots:
    void stepUp() { triggerAction(SliderSingleStepAdd); }
    void stepDown() { triggerAction(SliderSingleStepSub); }

protected:
    void sliderChange(SliderChange change) override;
    void changeEvent(QEvent* event) override;

private:
    void updateButtons();

    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
};
