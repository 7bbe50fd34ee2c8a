#pragma once
// Thermometer gauge: a glass column filled up to the reading, a scale, and
// the reading as text ("<label> <value> <unit>" with one decimal), or
// "    OPEN" while no reading is available (nothing connected, or not read
// yet). Above the alarm limit the column and the text turn to the alarm
// colour and the scale's top shows the limit is passed.
// GUI thread only; readings from other threads arrive through queued calls.

#include <QString>
#include <QWidget>

#include <optional>

class CMeterWnd : public QWidget {
    Q_OBJECT
public:
    explicit CMeterWnd(QWidget* parent = nullptr);

    void setLabel(const QString& label);   // the "%s" part, e.g. "Tj"
    void setRange(double minimum, double maximum);
    void setUnit(const QString& unit);     // e.g. "\u00b0C"; empty: none
    // Readings above `limit` are an alarm (infinity: never).
    void setAlarmAbove(double limit);
    bool alarming() const;
    double minimum() const { return min_; }
    double maximum() const { return max_; }

    std::optional<double> reading() const { return value_; }
    QString displayText() const;

    QSize sizeHint() const override { return QSize(90, 220); }

public slots:
    void setReading(double value);
    void clearReading();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString label_;
    QString unit_;
    double alarmAbove_ = 1e300;
    double min_ = 0.0;
    double max_ = 150.0;
    std::optional<double> value_;
};
