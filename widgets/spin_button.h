#pragma once
// A pair of small up/down arrow buttons that step an integer position within a
// range, for use beside a read-only text field (the field shows whatever the
// position means: a scale, a rate, a ratio).

#include <QWidget>

class QToolButton;

class SpinButton : public QWidget {
    Q_OBJECT
public:
    explicit SpinButton(QWidget* parent = nullptr);

    void setRange(int minimum, int maximum);
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int value() const { return value_; }

public slots:
    // Clamps into the range; emits valueChanged only when the position moves.
    void setValue(int value);
    void stepUp() { setValue(value_ + 1); }
    void stepDown() { setValue(value_ - 1); }

signals:
    void valueChanged(int value);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateButtons();

    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
};
