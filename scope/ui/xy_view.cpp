#include "scope/ui/xy_view.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "scope/chart/chart.h"
#include "scope/scope_core.h"

namespace zelbo::scope {

namespace {
constexpr int kDivs = 10;
}

XyView::XyView(ScopeCore& core, QWidget* parent) : QWidget(parent), core_(core)
{
    setObjectName(QStringLiteral("xyView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    xs_.reserve(kSamplesPerSweep);
    points_.reserve(kSamplesPerSweep);
}

void XyView::setChannels(int x, int y)
{
    x_ = std::clamp(x, 0, kChannels - 1);
    y_ = std::clamp(y, 0, kChannels - 1);
    update();
}

std::pair<double, double> XyView::axisRange(double valuePerDiv, int position)
{
    const double span = kDivs * valuePerDiv / 100.0;
    const double lo = -span / 2.0 - (span / 20.0) * position;
    return {lo, lo + span};
}

void XyView::collect()
{
    // One trace at a time under its own lock, so the reader never waits on both.
    xs_.clear();
    points_.clear();
    {
        const ScopeChannel& c = core_.channel(x_);
        std::lock_guard lk(c.traceMutex);
        for (const auto& p : c.trace) xs_.push_back(p.second);
    }
    const ScopeChannel& c = core_.channel(y_);
    std::lock_guard lk(c.traceMutex);
    const std::size_t n = std::min(xs_.size(), c.trace.size());
    for (std::size_t i = 0; i < n; ++i) points_.emplace_back(xs_[i], c.trace[i].second);
}

void XyView::paintEvent(QPaintEvent*)
{
    collect();
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 24, 32));
    // A square plot, ten divisions each way.
    const int side = std::max(10, std::min(width(), height()) - 40);
    const QRect plot((width() - side) / 2, (height() - side) / 2 - 6, side, side);
    p.setPen(QColor(70, 78, 92));
    for (int i = 0; i <= kDivs; ++i) {
        const int x = plot.left() + i * plot.width() / kDivs;
        const int y = plot.top() + i * plot.height() / kDivs;
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(QColor(120, 130, 150));
    p.drawLine(plot.center().x(), plot.top(), plot.center().x(), plot.bottom());
    p.drawLine(plot.left(), plot.center().y(), plot.right(), plot.center().y());

    const ScopeChannel& cx = core_.channel(x_);
    const ScopeChannel& cy = core_.channel(y_);
    const auto [x0, x1] = axisRange(cx.valuePerDiv, cx.verticalPosition);
    const auto [y0, y1] = axisRange(cy.valuePerDiv, cy.verticalPosition);
    auto map = [&](const std::pair<double, double>& v) {
        return QPointF(plot.left() + (v.first - x0) / (x1 - x0) * plot.width(),
                       plot.top() + (y1 - v.second) / (y1 - y0) * plot.height());
    };
    p.setClipRect(plot);
    p.setRenderHint(QPainter::Antialiasing);
    QColor colour = QColor::fromRgba(cy.colour);
    if (colour.lightness() < 60) colour = QColor(255, 220, 0);
    if (points_.size() > 1) {
        QColor faint = colour;
        faint.setAlpha(70);
        p.setPen(QPen(faint, 1));
        QPainterPath path(map(points_.front()));
        for (std::size_t i = 1; i < points_.size(); ++i) path.lineTo(map(points_[i]));
        p.drawPath(path);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (const auto& v : points_) p.drawEllipse(map(v), 2.0, 2.0);
    p.setClipping(false);

    p.setPen(QColor(220, 225, 235));
    const QString xs = QString::fromStdString(channelKey(x_) + " " + cx.valuePerDivText + "/div");
    const QString ys = QString::fromStdString(channelKey(y_) + " " + cy.valuePerDivText + "/div");
    p.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), 18), Qt::AlignCenter, tr("X: %1").arg(xs));
    p.save();
    p.translate(plot.left() - 6, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-plot.height() / 2, -16, plot.height(), 16), Qt::AlignCenter, tr("Y: %1").arg(ys));
    p.restore();
}

LevelsOverlay::LevelsOverlay(ScopeCore& core, CChart& chart, Levels levels, QWidget* chartView)
    : QWidget(chartView), core_(core), chart_(chart), levels_(std::move(levels))
{
    setObjectName(QStringLiteral("levelsOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(chartView->rect());
    chartView->installEventFilter(this);
}

bool LevelsOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void LevelsOverlay::paintEvent(QPaintEvent*)
{
    const std::vector<double> levels = levels_ ? levels_() : std::vector<double>{};
    if (levels.empty()) return;
    QPainter p(this);
    const QRect plot = chart_.plotRect();
    p.setClipRect(plot);
    for (int n = 0; n < kChannels; ++n) {
        if (!core_.channelOn(n) || core_.source(n) != Source::Current) continue;
        const ScopeChannel& c = core_.channel(n);
        const auto [lo, hi] = chart_.traceRange(c);
        if (!(hi > lo)) continue;
        QColor colour = QColor::fromRgba(c.colour);
        colour.setAlpha(90);
        p.setPen(QPen(colour, 1, Qt::DashLine));
        for (double v : levels) {
            const double y = plot.top() + (hi - v) / (hi - lo) * plot.height();
            p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        }
    }
}

} // namespace zelbo::scope
