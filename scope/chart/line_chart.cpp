#include "scope/chart/line_chart.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "scope/measure/measurements.h"
#include "scope/scope_channel.h"

namespace zelbo::scope {

namespace {

constexpr QRgb kStartColour = 0xFFFF0000;
constexpr QRgb kEndColour = 0xFF0000FF;

QFont chartFont(int pixelSize, bool bold = false)
{
    QFont f("Arial");
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// Index of the first point whose time is not before t (size() when none).
std::size_t firstNotBefore(const Trace& trace, double t)
{
    std::size_t lo = 0, hi = trace.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (trace[mid].first < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Nearest sample to time t; nothing when t lies outside the sweep.
std::optional<double> valueAt(const Trace& trace, double t)
{
    if (trace.empty() || t < trace.front().first || t > trace.back().first)
        return std::nullopt;
    const std::size_t i = firstNotBefore(trace, t);
    if (i >= trace.size())
        return trace.back().second;
    if (i > 0 && t - trace[i - 1].first < trace[i].first - t)
        return trace[i - 1].second;
    return trace[i].second;
}

} // namespace

CLineChart::CLineChart()
{
    points_.reserve(8192);
}

void CLineChart::configureForScope()
{
    setBackgroundColour(0xFFF0F8FF);
    setGridColour(0xFF696969);
    setAxisColour(0xFF696969);
    setTitle(QStringLiteral("Scope"));
    setAxisTitles(QStringLiteral("Time [Unit x 100ms]"), QStringLiteral("Voltage [V]"));
    setDivisions(10, 10);
    ChartLayers l;
    l.title = false;
    l.xLabels = l.yLabels = false;
    l.xTitle = l.yTitle = false;
    l.axes = true;
    l.secondGrid = true;
    l.verticalGrid = l.horizontalGrid = true;
    setLayers(l);
}

void CLineChart::traceSetChanged()
{
    // A hidden channel no longer has a readout or a trigger marker; nothing
    // is cached per trace, so the next redraw is all it takes.
}

QString CLineChart::displayName(const std::string& key, const ScopeChannel& channel)
{
    return QString::fromStdString(channel.label.empty() ? key : channel.label);
}

QString CLineChart::legendText(const std::string& key, const ScopeChannel& channel)
{
    return displayName(key, channel).left(5) + QStringLiteral(": ") +
           QString::fromStdString(channel.valuePerDivText);
}

QString CLineChart::timeLegendText() const
{
    return QStringLiteral("TIME : ") + QString::fromStdString(timeText_);
}

QString CLineChart::cursorDeltaText() const
{
    if (!startOn_ || !endOn_)
        return {};
    // The distance between the cursors only; where the view starts does not matter.
    const double us = (endX_ - startX_) * usPerPixel();
    const QString t = QString::fromStdString(timeText_);
    double v;
    QString unit;
    if (t.contains(QStringLiteral("ms"))) {
        v = us / 1000.0;
        unit = QStringLiteral("ms");
    } else if (t.contains(QStringLiteral("µs"))) {
        v = us;
        unit = QStringLiteral("µs");
    } else if (t.contains(QStringLiteral("ns"))) {
        v = us * 1000.0;
        unit = QStringLiteral("ns");
    } else {
        v = us / 1000000.0;
        unit = QStringLiteral("s");
    }
    return QString::number(v, 'f', 3) + QLatin1Char(' ') + unit;
}

QString CLineChart::cursorInverseText() const
{
    if (!startOn_ || !endOn_ || endX_ == startX_)
        return {};
    const double us = std::abs(endX_ - startX_) * usPerPixel();
    if (!(us > 0.0))
        return {};
    return QString::fromStdString(formatFigure(1e6 / us, "Hz"));
}

void CLineChart::setLevelCursors(const std::string& key, const LevelCursors& cursors)
{
    if (cursors.on && std::isfinite(cursors.a) && std::isfinite(cursors.b))
        levels_[key] = cursors;
    else
        levels_.erase(key);
}

LevelCursors CLineChart::levelCursors(const std::string& key) const
{
    const auto it = levels_.find(key);
    return it == levels_.end() ? LevelCursors{} : it->second;
}

QString CLineChart::levelDeltaText(const std::string& key) const
{
    const auto it = levels_.find(key);
    const auto tr = traces_.find(key);
    if (it == levels_.end() || tr == traces_.end())
        return {};
    const std::string& unit = tr->second->unit;
    const char* quantity = unit == "V" ? "V" : unit == "A" ? "I" : unit == "W" ? "P" : "";
    return displayName(key, *tr->second).left(5) + QStringLiteral(" \u0394") + QString::fromLatin1(quantity) +
           QStringLiteral(" = ") + QString::fromStdString(formatFigure(it->second.b - it->second.a, unit));
}

void CLineChart::drawLevelCursors(QPainter& p)
{
    std::vector<std::pair<QString, QColor>> deltas;
    p.save();
    p.setFont(chartFont(10));
    QFontMetrics fm(p.font());
    for (const auto& [key, lc] : levels_) {
        const auto tr = traces_.find(key);
        if (tr == traces_.end())
            continue;
        const ScopeChannel& ch = *tr->second;
        const QColor c = QColor::fromRgba(ch.colour ? ch.colour : 0xFF000000).darker(120);
        const auto [lo, hi] = traceRange(ch);
        int slot = 0;
        for (double level : {lc.a, lc.b}) {
            const double y = yToPixel(level, lo, hi);
            if (y < plot_.top() || y > plot_.bottom()) {
                ++slot;
                continue; // off screen: its value still counts in the difference
            }
            p.setPen(QPen(c, 1, Qt::DashDotLine));
            p.drawLine(QPointF(plot_.left(), y), QPointF(plot_.right(), y));
            const QString tag = displayName(key, ch).left(5) + (slot == 0 ? QStringLiteral(" a: ") : QStringLiteral(" b: ")) +
                                QString::fromStdString(formatFigure(level, ch.unit));
            const int w = fm.horizontalAdvance(tag) + 6;
            const QRect box(plot_.left() + 4, int(y) - (y - fm.height() - 2 < plot_.top() ? -1 : fm.height() + 2), w,
                            fm.height() + 1);
            p.fillRect(box, QColor(255, 255, 255, 210));
            p.setPen(c);
            p.drawText(box, Qt::AlignCenter, tag);
            ++slot;
        }
        deltas.push_back({levelDeltaText(key), c});
    }
    if (!deltas.empty()) {
        p.setFont(chartFont(11, true));
        QFontMetrics bm(p.font());
        int w = 0;
        for (const auto& d : deltas)
            w = std::max(w, bm.horizontalAdvance(d.first));
        const int line = bm.height() + 2;
        const QRect box(plot_.right() - w - 16, plot_.top() + 4, w + 12, line * int(deltas.size()) + 4);
        p.fillRect(box, QColor(255, 255, 255, 225));
        p.setPen(QColor(0x19, 0x19, 0x70));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        for (std::size_t i = 0; i < deltas.size(); ++i) {
            p.setPen(deltas[i].second);
            p.drawText(QRect(box.left() + 6, box.top() + 2 + int(i) * line, w + 2, line), Qt::AlignLeft | Qt::AlignVCenter,
                       deltas[i].first);
        }
    }
    p.restore();
}

std::vector<CursorReadout> CLineChart::readouts(int x) const
{
    std::vector<CursorReadout> out;
    const double t = timeAtPixel(x);
    for (const auto& [key, ch] : traces_) {
        std::optional<double> v;
        {
            std::lock_guard lk(ch->traceMutex);
            v = valueAt(ch->trace, t);
        }
        QString value = QStringLiteral("---");
        if (v) {
            value = QString::number(*v, 'f', 2);
            if (value == QLatin1String("-0.00"))
                value = QStringLiteral("0.00");
        }
        CursorReadout r;
        r.colour = ch->colour;
        r.text = displayName(key, *ch) + QStringLiteral(": ") +
                 value + QLatin1Char(' ') +
                 QString::fromStdString(ch->unit);
        out.push_back(std::move(r));
    }
    return out;
}

void CLineChart::drawZeroMarker(QPainter& p, double y, QColor colour)
{
    const double top = plot_.top(), bottom = plot_.bottom();
    y = std::clamp(y, top, bottom);
    const double x = plot_.left() - 4;
    p.save();
    p.setPen(QPen(colour, 2));
    p.drawLine(QPointF(x - 9, y), QPointF(x - 1, y));
    p.setPen(QPen(colour, 1));
    p.setBrush(colour);
    const QPointF head[3] = {QPointF(x + 1, y), QPointF(x - 4, y - 4), QPointF(x - 4, y + 4)};
    p.drawPolygon(head, 3);
    p.restore();
}

double CLineChart::acquiredUntilUs() const
{
    double end = 0.0;
    for (const auto& [key, ch] : traces_) {
        std::lock_guard lk(ch->traceMutex);
        const Trace& tr = ch->trace;
        if (tr.size() < 2) continue;
        // One sample period past the last sample: the sweep's own length.
        const double period = (tr.back().first - tr.front().first) / double(tr.size() - 1);
        end = std::max(end, tr.back().first + period);
    }
    return end;
}

QString CLineChart::notAcquiredText()
{
    return QCoreApplication::translate("CLineChart", "not yet acquired");
}

void CLineChart::drawNotAcquired(QPainter& p, double fromUs)
{
    const double left = plot_.left() + (std::max(fromUs, xStart_) - xStart_) / usPerPixel();
    const QRectF area(QPointF(left, plot_.top()), QPointF(plot_.right() + 1, plot_.bottom() + 1));
    if (area.width() < 2) return;
    p.save();
    p.setClipRect(plot_.adjusted(0, 0, 1, 1));
    p.fillRect(area, QColor(0x60, 0x68, 0x78, 40));
    p.fillRect(area, QBrush(QColor(0x60, 0x68, 0x78, 90), Qt::BDiagPattern));
    p.setPen(QPen(QColor(0x60, 0x68, 0x78), 1, Qt::DashLine));
    p.drawLine(QPointF(left, plot_.top()), QPointF(left, plot_.bottom()));
    QFont f = p.font();
    f.setItalic(true);
    p.setFont(f);
    const QFontMetrics fm(f);
    const QString text = notAcquiredText();
    const int w = fm.horizontalAdvance(text) + 8;
    if (area.width() >= w) {
        // On an opaque box in the middle, so the hatching does not cross it.
        const QRectF box(area.center().x() - w / 2.0, area.center().y() - fm.height() / 2.0 - 2, w, fm.height() + 4);
        p.fillRect(box, QColor(0xFF, 0xFF, 0xFF, 235));
        p.setPen(QColor(0x40, 0x48, 0x58));
        p.drawText(box, Qt::AlignCenter, text);
    }
    p.restore();
}

void CLineChart::drawTraces(QPainter& p)
{
    const double x0 = xStart_, x1 = xEnd();
    const double left = plot_.left();
    const double pxPerUs = 1.0 / usPerPixel();
    // The part of a long time base that one sweep does not reach.
    if (const double acquired = acquiredUntilUs(); acquired > 0 && acquired < x1) drawNotAcquired(p, acquired);
    for (const auto& [key, ch] : traces_) {
        const auto [lo, hi] = traceRange(*ch);
        yMin_ = lo;
        yMax_ = hi;
        const QColor colour = QColor::fromRgba(ch->colour);
        const double yScale = plot_.height() / (hi - lo);
        const double yTop = plot_.top();

        std::lock_guard lk(ch->traceMutex);
        const Trace& tr = ch->trace;
        if (tr.empty())
            continue;
        drawZeroMarker(p, yTop + hi * yScale, colour);

        // First point not before the view's start.
        const std::size_t n = tr.size();
        std::size_t i = firstNotBefore(tr, x0);
        points_.clear();
        // Several samples in one pixel column collapse to the lowest and the
        // highest, in the order they came: the same picture at this width,
        // a fraction of the segments.
        long column = std::numeric_limits<long>::min();
        double first = 0, last = 0, mn = 0, mx = 0;
        int count = 0, mnAt = 0, mxAt = 0;
        auto flush = [&]() {
            if (count == 0)
                return;
            const double cx = double(column);
            auto py = [&](double v) { return yTop + (hi - v) * yScale; };
            if (count == 1) {
                points_.emplace_back(cx, py(first));
            } else if (count == 2) {
                points_.emplace_back(cx, py(first));
                points_.emplace_back(cx, py(last));
            } else if (mnAt <= mxAt) {
                points_.emplace_back(cx, py(mn));
                points_.emplace_back(cx, py(mx));
            } else {
                points_.emplace_back(cx, py(mx));
                points_.emplace_back(cx, py(mn));
            }
        };
        for (; i < n && tr[i].first <= x1; ++i) {
            const double px = left + (tr[i].first - x0) * pxPerUs;
            const long col = std::lround(px);
            const double v = tr[i].second;
            if (col != column) {
                flush();
                column = col;
                first = last = mn = mx = v;
                count = 1;
                mnAt = mxAt = 0;
                continue;
            }
            ++count;
            last = v;
            if (v < mn) {
                mn = v;
                mnAt = count;
            }
            if (v > mx) {
                mx = v;
                mxAt = count;
            }
        }
        flush();
        if (points_.size() < 2)
            continue;
        p.save();
        p.setClipRect(plot_);
        p.setPen(QPen(colour, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin));
        p.drawPolyline(points_.data(), int(points_.size()));
        p.restore();
    }
}

void CLineChart::drawCursors(QPainter& p)
{
    drawLevelCursors(p);
    drawStartCursor(p);
    drawEndCursor(p);
}

void CLineChart::drawStartCursor(QPainter& p)
{
    if (startOn_)
        drawCursor(p, startX_, kStartColour, QStringLiteral("Start"), 0);
}

void CLineChart::drawEndCursor(QPainter& p)
{
    if (endOn_)
        drawCursor(p, endX_, kEndColour, QStringLiteral("End"), startOn_ ? 1 : 0);
}

void CLineChart::drawCursor(QPainter& p, int x, QRgb colour, const QString& caption, int slot)
{
    const QColor c = QColor::fromRgba(colour);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(c, 1));
    p.drawLine(x, plot_.top(), x, plot_.bottom());

    // Caption tag at the top of the line.
    p.setFont(chartFont(11, true));
    QFontMetrics fm(p.font());
    const int tw = fm.horizontalAdvance(caption) + 8;
    QRect tag(x - tw / 2, plot_.top() + 1, tw, fm.height() + 2);
    tag.moveLeft(std::clamp(tag.left(), plot_.left(), plot_.right() - tw));
    p.fillRect(tag, c);
    p.setPen(Qt::white);
    p.drawText(tag, Qt::AlignCenter, caption);

    // Readouts beside the line: right of it when there is room, else left.
    const auto rows = readouts(x);
    if (!rows.empty()) {
        p.setFont(chartFont(11));
        QFontMetrics rm(p.font());
        int w = 0;
        for (const auto& r : rows)
            w = std::max(w, rm.horizontalAdvance(r.text));
        const int line = rm.height() + 2;
        const int boxW = w + 24, boxH = line * int(rows.size()) + 6;
        int bx = x + 6;
        if (bx + boxW > plot_.right())
            bx = x - 6 - boxW;
        bx = std::max(bx, plot_.left() + 1);
        const int by = plot_.top() + tag.height() + 6 + slot * (boxH + 6);
        const QRect box(bx, by, boxW, boxH);
        p.fillRect(box, Qt::white); // opaque: no grid line or axis runs through the figures
        p.setPen(QPen(c, 1));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        int y = by + 4;
        for (const auto& r : rows) {
            p.fillRect(QRect(bx + 6, y + (line - 8) / 2, 8, 8), QColor::fromRgba(r.colour));
            p.setPen(Qt::black);
            p.drawText(QRect(bx + 18, y, w + 4, line), Qt::AlignLeft | Qt::AlignVCenter, r.text);
            y += line;
        }
    }
    p.restore();
}

void CLineChart::drawLegend(QPainter& p)
{
    // One row below the plot, left of whatever the view reserves on the right
    // (its scroll buttons). The traces, the time base and the cursor difference
    // always show, in a smaller font when the row is narrow; the trigger source
    // and the sampling rate follow only where there is room for them.
    struct Item {
        QString text;
        QColor colour;
        QRgb box = 0; // colour box before the text; 0 = none
        bool rightAligned = false;
    };
    std::vector<Item> required;
    std::vector<Item> optional;
    const ScopeChannel* trigger = nullptr;
    std::string triggerKey;
    for (const auto& [key, ch] : traces_) {
        if (ch->triggerFlag) {
            trigger = ch;
            triggerKey = key;
        }
        required.push_back({legendText(key, *ch), Qt::black, ch->colour ? ch->colour : qRgba(0, 0, 0, 255)});
    }
    required.push_back({timeLegendText(), Qt::black});
    const QString delta = cursorDeltaText();
    if (!delta.isEmpty()) {
        const QString inverse = cursorInverseText();
        required.push_back({QStringLiteral("\u0394t = ") + delta +
                                (inverse.isEmpty() ? QString() : QStringLiteral("  1/\u0394t = ") + inverse),
                            QColor(0x19, 0x19, 0x70), 0, true});
    }
    if (trigger) {
        const QString text = QStringLiteral("TRIG : ") + displayName(triggerKey, *trigger).left(5) +
                             (slope_ == 1 ? QStringLiteral(" \u2193") : QStringLiteral(" \u2191"));
        optional.push_back({text, QColor::fromRgba(trigger->colour).darker(130)});
    }
    if (!rateText_.empty())
        optional.push_back({QStringLiteral("RATE : ") + QString::fromStdString(rateText_), QColor(0x50, 0x50, 0x50)});

    const int limit = plot_.right() - legendReserve_;
    auto widthOf = [](const std::vector<Item>& items, const QFontMetrics& fm, int gap) {
        int w = 0;
        for (const auto& it : items)
            w += (it.box ? 14 : 0) + fm.horizontalAdvance(it.text) + gap;
        return w;
    };
    int pixelSize = 12;
    int gap = 18;
    for (; pixelSize > 8; --pixelSize) {
        QFontMetrics fm(chartFont(pixelSize));
        gap = pixelSize + 6;
        if (plot_.left() + widthOf(required, fm, gap) <= limit)
            break;
    }
    p.save();
    p.setFont(chartFont(pixelSize));
    QFontMetrics fm(p.font());
    // Optional items go in before the right-aligned cursor difference.
    std::vector<Item> row;
    for (const auto& it : required)
        if (!it.rightAligned)
            row.push_back(it);
    int used = plot_.left() + widthOf(required, fm, gap);
    for (const auto& it : optional) {
        const int w = fm.horizontalAdvance(it.text) + gap;
        if (used + w > limit)
            break;
        row.push_back(it);
        used += w;
    }

    const int rowTop = plot_.bottom() + 10;
    const int rowH = std::min(fm.height() + 4, std::max(8, size_.height() - rowTop - 2));
    int x = plot_.left();
    for (const auto& it : row) {
        if (it.box) {
            const QRect box(x, rowTop + (rowH - 10) / 2, 10, 10);
            p.fillRect(box, QColor::fromRgba(it.box));
            p.setPen(QColor(0x19, 0x19, 0x70));
            p.drawRect(box.adjusted(0, 0, -1, -1));
            x += 14;
        }
        p.setPen(it.colour);
        const int w = fm.horizontalAdvance(it.text) + 2;
        p.drawText(QRect(x, rowTop, w, rowH), Qt::AlignLeft | Qt::AlignVCenter, it.text);
        x += w - 2 + gap;
    }
    for (const auto& it : required) {
        if (!it.rightAligned)
            continue;
        const int w = fm.horizontalAdvance(it.text) + 2;
        const int dx = std::max(x, limit - w);
        p.setPen(it.colour);
        p.drawText(QRect(dx, rowTop, w, rowH), Qt::AlignLeft | Qt::AlignVCenter, it.text);
    }

    if (trigger) {
        // Trigger marker: a tag in the trigger trace's colour at its level on
        // the right edge of the plot.
        const QColor c = QColor::fromRgba(trigger->colour);
        const auto [lo, hi] = traceRange(*trigger);
        const double y = std::clamp(yToPixel(trigger->triggerLevel, lo, hi), double(plot_.top()),
                                    double(plot_.bottom()));
        const double r = plot_.right();
        const QPointF tri[3] = {QPointF(r - 9, y), QPointF(r, y - 5), QPointF(r, y + 5)};
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPolygon(tri, 3);
    }
    if (zoomed()) {
        p.setPen(QColor(0x19, 0x19, 0x70));
        p.setFont(chartFont(10, true));
        p.drawText(QRect(plot_.left() + 4, plot_.top() + 2, 60, 16), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("ZOOM"));
    }
    p.restore();
}

} // namespace zelbo::scope
