#include "scope/chart/chart.h"

#include <QFont>
#include <QLinearGradient>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QPen>
#include <QTransform>

#include <algorithm>
#include <cmath>

#include "scope/scope_channel.h"

namespace zelbo::scope {

CChart::CChart()
{
    recomputeLayout();
}

CChart::~CChart() = default;

void CChart::setSize(QSize size)
{
    size = size.expandedTo(QSize(80, 80));
    if (size == size_)
        return;
    size_ = size;
    recomputeLayout();
}

void CChart::setBackgroundColour(QRgb c) { background_ = c; invalidateStatic(); }
void CChart::setGridColour(QRgb c) { grid_ = c; invalidateStatic(); }
void CChart::setAxisColour(QRgb c) { axis_ = c; invalidateStatic(); }

void CChart::setDivisions(int horizontal, int vertical)
{
    hDivs_ = std::max(1, horizontal);
    vDivs_ = std::max(1, vertical);
    invalidateStatic();
}

void CChart::setLayers(const ChartLayers& layers)
{
    layers_ = layers;
    recomputeLayout();
}

void CChart::recomputeLayout()
{
    int left = 17, bottom = 44, top = 5;
    const int right = 7;
    if (layers_.yLabels)
        left += 30;
    if (layers_.yTitle)
        left += 30;
    if (layers_.xLabels)
        bottom += 30;
    if (layers_.xTitle)
        bottom += 30;
    if (layers_.title)
        top += 15;
    plot_ = QRect(QPoint(left, top), QPoint(size_.width() - 1 - right, size_.height() - 1 - bottom));
    if (plot_.width() < 10 || plot_.height() < 10)
        plot_ = QRect(0, 0, std::max(10, size_.width()), std::max(10, size_.height()));
    invalidateStatic();
}

// ---- ranges ---------------------------------------------------------------

void CChart::setTimePerDiv(double usPerDiv, const std::string& text)
{
    if (usPerDiv > 0.0 && std::isfinite(usPerDiv))
        usPerDiv_ = usPerDiv;
    timeText_ = text;
    resetZoom();
}

void CChart::resetScroll()
{
    xStart_ = 0.0;
    resetZoom();
}

double CChart::xWidth() const
{
    return zoomWidth_ ? *zoomWidth_ : hDivs_ * usPerDiv_;
}

double CChart::usPerPixel() const
{
    return xWidth() / std::max(1, plot_.width());
}

double CChart::timeAtPixel(int x) const
{
    return xStart_ + (x - plot_.left()) * usPerPixel();
}

double CChart::xToPixel(double us) const
{
    return plot_.left() + (us - xStart_) / usPerPixel();
}

double CChart::yToPixel(double value, double lo, double hi) const
{
    return plot_.top() + (hi - value) / (hi - lo) * plot_.height();
}

void CChart::resetZoom()
{
    zoomWidth_.reset();
    yFrac0_ = 0.0;
    yFrac1_ = 1.0;
}

void CChart::zoomTo(QPoint a, QPoint b)
{
    // Pixel edges of the dragged rectangle, kept inside the plot.
    const int left = plot_.left(), top = plot_.top();
    const int right = left + plot_.width(), bottom = top + plot_.height();
    const int px0 = std::clamp(std::min(a.x(), b.x()), left, right);
    const int px1 = std::clamp(std::max(a.x(), b.x()), left, right);
    const int py0 = std::clamp(std::min(a.y(), b.y()), top, bottom);
    const int py1 = std::clamp(std::max(a.y(), b.y()), top, bottom);
    if (px1 - px0 < 2 || py1 - py0 < 2)
        return;
    const double x0 = timeAtPixel(px0);
    const double x1 = timeAtPixel(px1);
    auto frac = [&](int y) { return double(bottom - y) / plot_.height(); };
    const double span = yFrac1_ - yFrac0_;
    const double n0 = yFrac0_ + frac(py1) * span, n1 = yFrac0_ + frac(py0) * span;
    if (!(x1 > x0) || !(n1 > n0))
        return;
    xStart_ = x0;
    zoomWidth_ = x1 - x0;
    yFrac0_ = n0;
    yFrac1_ = n1;
}

// ---- traces ---------------------------------------------------------------

void CChart::addTrace(const std::string& key, ScopeChannel* channel)
{
    if (channel)
        traces_[key] = channel;
}

void CChart::removeTrace(const std::string& key)
{
    traces_.erase(key);
}

std::pair<double, double> CChart::traceRange(const ScopeChannel& channel) const
{
    const double span = vDivs_ * channel.valuePerDiv / 100.0;
    const double lo = -span / 2.0 - (span / 20.0) * channel.verticalPosition;
    return {lo + yFrac0_ * span, lo + yFrac1_ * span};
}

// ---- cursors and input ------------------------------------------------------

void CChart::setStartCursor(bool on, int x)
{
    startOn_ = on;
    startX_ = x;
}

void CChart::setEndCursor(bool on, int x)
{
    endOn_ = on;
    endX_ = x;
}

void CChart::leftPress(QPoint p)
{
    dragging_ = true;
    dragFrom_ = dragTo_ = p;
}

void CChart::mouseMove(QPoint p)
{
    if (dragging_)
        dragTo_ = p;
}

void CChart::leftRelease(QPoint p)
{
    if (!plot_.contains(p))
        startOn_ = false;
    else if (startOn_)
        startX_ = p.x();
    if (dragging_) {
        dragTo_ = p;
        if (std::abs(dragTo_.x() - dragFrom_.x()) >= 10 && std::abs(dragTo_.y() - dragFrom_.y()) >= 10)
            zoomTo(dragFrom_, dragTo_);
    }
    dragging_ = false;
}

void CChart::leftDoubleClick(QPoint p)
{
    if (!plot_.contains(p))
        return;
    if (startOn_)
        startOn_ = false;
    else
        setStartCursor(true, p.x());
}

void CChart::rightDoubleClick(QPoint p)
{
    if (!plot_.contains(p))
        return;
    if (endOn_)
        endOn_ = false;
    else
        setEndCursor(true, p.x());
}

void CChart::rightRelease(QPoint p)
{
    invalidateStatic();
    if (!plot_.contains(p))
        endOn_ = false;
    else if (endOn_)
        endX_ = p.x();
}

bool CChart::keyPress(int key)
{
    if (key == Qt::Key_Left) {
        scrollLater();
        return true;
    }
    if (key == Qt::Key_Right) {
        scrollEarlier();
        return true;
    }
    return false;
}

void CChart::wheel(int delta)
{
    // Forward (positive) turns look at later times. A fine-grained wheel sends
    // small deltas; the view adds them up into whole notches of 120.
    if (delta > 0)
        scrollLater();
    else if (delta < 0)
        scrollEarlier();
}

void CChart::scrollEarlier()
{
    xStart_ -= xWidth() / 20.0;
}

void CChart::scrollLater()
{
    xStart_ += xWidth() / 20.0;
}

// ---- drawing ----------------------------------------------------------------

const QImage& CChart::redraw(bool full)
{
    if (full)
        invalidateStatic();
    if (image_.size() != size_)
        image_ = QImage(size_, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image_);
    paint(p);
    return image_;
}

void CChart::paint(QPainter& p)
{
    // The static layers (white, background, frame, axes, grid) only change
    // with the size and the colours; they are kept in their own image.
    if (!staticValid_ || static_.size() != size_) {
        static_ = QImage(size_, QImage::Format_ARGB32_Premultiplied);
        QPainter sp(&static_);
        sp.setRenderHint(QPainter::Antialiasing);
        sp.fillRect(windowRect(), Qt::white);
        drawBackground(sp);
        if (layers_.axes)
            drawAxes(sp);
        drawGrid(sp);
        if (layers_.secondGrid)
            drawSecondGrid(sp);
        staticValid_ = true;
    }
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, static_);
    p.restore();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintDynamic(p);
}

void CChart::paintDynamic(QPainter& p)
{
    if (layers_.xLabels || layers_.yLabels || layers_.xTitle || layers_.yTitle)
        drawAxisLabels(p);
    if (layers_.title)
        drawTitle(p);
    drawTraces(p);
    drawCursors(p);
    drawLegend(p);
    if (dragging_) {
        const QRect r = QRect(dragFrom_, dragTo_).normalized().intersected(plot_);
        if (r.width() > 1 && r.height() > 1) {
            p.save();
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(QPen(QColor(0x19, 0x19, 0x70), 1, Qt::DashLine));
            p.setBrush(QColor(0x19, 0x19, 0x70, 28));
            p.drawRect(r);
            p.restore();
        }
    }
}

bool CChart::saveJpeg(const QString& path, QString* error)
{
    QImage picture(size_, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        const bool wasDragging = dragging_;
        dragging_ = false; // no rubber band in the picture
        paint(p);
        dragging_ = wasDragging;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, "JPEG");
    if (!writer.write(picture)) {
        if (error) *error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

void CChart::drawBackground(QPainter& p)
{
    p.fillRect(windowRect(), Qt::white);
    // Background colour fading to white: 70 % white at the top, 100 % at the bottom.
    const QColor bg = QColor::fromRgba(background_);
    auto blend = [&](double f) {
        return QColor::fromRgbF(float(bg.redF() * (1 - f) + f), float(bg.greenF() * (1 - f) + f),
                                float(bg.blueF() * (1 - f) + f));
    };
    QLinearGradient g(plot_.topLeft(), plot_.bottomLeft());
    g.setColorAt(0.0, blend(0.7));
    g.setColorAt(1.0 / 3.0, blend(0.8));
    g.setColorAt(2.0 / 3.0, blend(0.9));
    g.setColorAt(1.0, blend(1.0));
    p.fillRect(plot_, g);
    // Frame three pixels outside the plot.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgba(0xFF191970), 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot_.adjusted(-3, -3, 3, 3));
    p.restore();
}

void CChart::drawTitle(QPainter& p)
{
    QFont f("Arial");
    f.setPointSize(11);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRect(plot_.left(), 0, plot_.width(), plot_.top()), Qt::AlignCenter, title_);
}

void CChart::drawAxes(QPainter& p)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgba(axis_), 1));
    const int cy = plot_.top() + plot_.height() / 2;
    p.drawLine(plot_.left(), cy, plot_.right(), cy);
    p.restore();
}

void CChart::drawAxisLabels(QPainter& p)
{
    QFont f("Arial");
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(QColor::fromRgba(axis_));
    if (layers_.xLabels) {
        for (int i = 0; i <= hDivs_; ++i) {
            const double x = plot_.left() + double(plot_.width()) * i / hDivs_;
            const double t = xStart_ + xWidth() * i / hDivs_;
            p.drawText(QRectF(x - 30, plot_.bottom() + 6, 60, 16), Qt::AlignHCenter | Qt::AlignTop,
                       QString::asprintf("%5.2f", t));
        }
    }
    if (layers_.yLabels) {
        for (int i = 0; i <= vDivs_; ++i) {
            const double y = plot_.top() + double(plot_.height()) * i / vDivs_;
            const double v = yMax_ - (yMax_ - yMin_) * i / vDivs_;
            p.drawText(QRectF(plot_.left() - 48, y - 8, 42, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::asprintf("%5.1f", v));
        }
    }
    if (layers_.xTitle)
        p.drawText(QRect(plot_.left(), size_.height() - 28, plot_.width(), 20), Qt::AlignCenter, xTitle_);
    if (layers_.yTitle) {
        p.save();
        p.translate(12, plot_.center().y());
        p.rotate(-90);
        p.drawText(QRect(-plot_.height() / 2, -10, plot_.height(), 20), Qt::AlignCenter, yTitle_);
        p.restore();
    }
}

void CChart::drawGrid(QPainter& p)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor::fromRgba(grid_), 1, Qt::DashLine);
    pen.setDashPattern({2, 3});
    p.setPen(pen);
    if (layers_.verticalGrid) {
        for (int i = 1; i < hDivs_; ++i) {
            const int x = plot_.left() + int(std::lround(double(plot_.width()) * i / hDivs_));
            p.drawLine(x, plot_.top(), x, plot_.bottom());
        }
    }
    if (layers_.horizontalGrid) {
        for (int i = 1; i < vDivs_; ++i) {
            const int y = plot_.top() + int(std::lround(double(plot_.height()) * i / vDivs_));
            p.drawLine(plot_.left(), y, plot_.right(), y);
        }
    }
    p.restore();
}

void CChart::drawSecondGrid(QPainter& p)
{
    // Minor ticks (five per division) along the centre lines.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgba(grid_), 1));
    const double cx = plot_.left() + plot_.width() / 2.0;
    const double cy = plot_.top() + plot_.height() / 2.0;
    for (int i = 1; i < hDivs_ * 5; ++i) {
        const double x = plot_.left() + double(plot_.width()) * i / (hDivs_ * 5);
        const int len = (i % 5 == 0) ? 5 : 3;
        p.drawLine(QPointF(x, cy - len), QPointF(x, cy + len));
    }
    for (int i = 1; i < vDivs_ * 5; ++i) {
        const double y = plot_.top() + double(plot_.height()) * i / (vDivs_ * 5);
        const int len = (i % 5 == 0) ? 5 : 3;
        p.drawLine(QPointF(cx - len, y), QPointF(cx + len, y));
    }
    p.restore();
}

void CChart::drawCursors(QPainter&) {}
void CChart::drawTraces(QPainter&) {}
void CChart::drawLegend(QPainter&) {}

} // namespace zelbo::scope
