#include "widgets/meter_wnd.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

CMeterWnd::CMeterWnd(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(60, 120);
}

void CMeterWnd::setLabel(const QString& label)
{
    label_ = label;
    update();
}

void CMeterWnd::setRange(double minimum, double maximum)
{
    if (!(maximum > minimum) || !std::isfinite(minimum) || !std::isfinite(maximum))
        return;
    min_ = minimum;
    max_ = maximum;
    update();
}

void CMeterWnd::setUnit(const QString& unit)
{
    unit_ = unit;
    update();
}

void CMeterWnd::setAlarmAbove(double limit)
{
    alarmAbove_ = limit;
    update();
}

bool CMeterWnd::alarming() const { return value_ && *value_ > alarmAbove_; }

void CMeterWnd::setReading(double value)
{
    if (!std::isfinite(value)) {
        clearReading();
        return;
    }
    value_ = value;
    update();
}

void CMeterWnd::clearReading()
{
    value_.reset();
    update();
}

QString CMeterWnd::displayText() const
{
    if (!value_)
        return QStringLiteral("    OPEN");
    QString text = QString::asprintf("%s %3.1f", label_.toUtf8().constData(), *value_);
    if (!unit_.isEmpty()) text += QLatin1Char(' ') + unit_;
    return text;
}

void CMeterWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    p.fillRect(r, palette().window());

    const double textH = 22;
    const double bulbD = std::min(r.width() * 0.42, (r.height() - textH) * 0.22);
    const double tubeW = bulbD * 0.45;
    const double cx = r.left() + r.width() * 0.38;
    const double top = r.top() + 8;
    const double bulbCy = r.bottom() - textH - 6 - bulbD / 2;
    const double tubeBottom = bulbCy - bulbD * 0.3;
    const QRectF tube(cx - tubeW / 2, top, tubeW, tubeBottom - top);

    // Glass.
    QPainterPath glass;
    glass.addRoundedRect(tube.adjusted(-2, -2, 2, bulbD * 0.3), tubeW / 2 + 2, tubeW / 2 + 2);
    glass.addEllipse(QPointF(cx, bulbCy), bulbD / 2 + 2, bulbD / 2 + 2);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.2));
    p.setBrush(QColor(0xFA, 0xFA, 0xFA));
    p.drawPath(glass.simplified());

    // Liquid up to the reading (clamped to the scale).
    const bool alarm = alarming();
    const QColor alarmColour(0xFF, 0x6A, 0x00);
    const QColor liquid = alarm ? alarmColour : value_ ? QColor(0xD0, 0x20, 0x20) : QColor(0xB0, 0xB0, 0xB0);
    double frac = 0.0;
    if (value_)
        frac = std::clamp((*value_ - min_) / (max_ - min_), 0.0, 1.0);
    const double level = tubeBottom - frac * (tubeBottom - top - 4);
    p.setPen(Qt::NoPen);
    QLinearGradient g(QPointF(cx - tubeW / 2, 0), QPointF(cx + tubeW / 2, 0));
    g.setColorAt(0, liquid.lighter(130));
    g.setColorAt(1, liquid.darker(115));
    p.setBrush(g);
    p.drawRect(QRectF(cx - tubeW / 2 + 2, level, tubeW - 4, tubeBottom - level + bulbD * 0.3));
    p.drawEllipse(QPointF(cx, bulbCy), bulbD / 2 - 1, bulbD / 2 - 1);

    // Scale: ticks every tenth of the range, numbers at the ends and the middle.
    QFont f = font();
    f.setPixelSize(9);
    p.setFont(f);
    p.setPen(QColor(0x30, 0x30, 0x30));
    const double sx = cx + tubeW / 2 + 4;
    for (int i = 0; i <= 10; ++i) {
        const double y = tubeBottom - i * (tubeBottom - top - 4) / 10.0;
        const double len = (i % 5 == 0) ? 7 : 4;
        p.drawLine(QPointF(sx, y), QPointF(sx + len, y));
        if (i % 5 == 0)
            p.drawText(QRectF(sx + 9, y - 6, r.right() - sx - 9, 12), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::number(min_ + (max_ - min_) * i / 10.0, 'f', 0));
    }

    // Reading.
    QFont tf = font();
    tf.setPixelSize(12);
    tf.setBold(true);
    p.setFont(tf);
    const QRectF textBox(r.left(), r.bottom() - textH, r.width(), textH);
    if (alarm) p.fillRect(textBox, alarmColour);
    p.setPen(alarm ? QColor(Qt::white) : value_ ? QColor(0x19, 0x19, 0x70) : QColor(0x80, 0x80, 0x80));
    p.drawText(textBox, Qt::AlignCenter, displayText());
}
