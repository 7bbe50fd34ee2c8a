#include "scope/ui/chart_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWheelEvent>

#include "scope/chart/chart.h"

namespace zelbo::scope {

namespace {
constexpr int kButtonW = 24;
constexpr int kButtonH = 20;
// Room beside the legend for "1:1", "<" and ">".
constexpr int kButtonReserve = 4 * kButtonW + 12;
} // namespace

ChartView::ChartView(CChart& chart, QWidget* parent) : QWidget(parent), chart_(chart)
{
    setObjectName(QStringLiteral("Line"));
    setFocusPolicy(Qt::StrongFocus); // arrow keys scroll the chart
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    earlier_ = new QToolButton(this);
    earlier_->setText(QStringLiteral("<"));
    earlier_->setToolTip(tr("Earlier"));
    earlier_->setFocusPolicy(Qt::NoFocus);
    later_ = new QToolButton(this);
    later_->setText(QStringLiteral(">"));
    later_->setToolTip(tr("Later"));
    later_->setFocusPolicy(Qt::NoFocus);
    // Leaves a zoom without a new sweep or time base.
    unzoom_ = new QToolButton(this);
    unzoom_->setObjectName(QStringLiteral("zoomOut"));
    unzoom_->setText(QStringLiteral("1:1"));
    unzoom_->setToolTip(tr("Zoom out: the whole sweep"));
    unzoom_->setFocusPolicy(Qt::NoFocus);
    unzoom_->setEnabled(false);
    connect(unzoom_, &QToolButton::clicked, this, [this] {
        chart_.resetScroll();
        changed();
    });
    connect(earlier_, &QToolButton::clicked, this, [this] {
        chart_.scrollEarlier();
        changed();
    });
    connect(later_, &QToolButton::clicked, this, [this] {
        chart_.scrollLater();
        changed();
    });
    chart_.setLegendReserve(kButtonReserve);
}

void ChartView::setScrollButtonsVisible(bool visible)
{
    earlier_->setVisible(visible);
    later_->setVisible(visible);
    unzoom_->setVisible(visible);
    chart_.setLegendReserve(visible ? kButtonReserve : 0);
}

void ChartView::changed()
{
    update();
    emit chartChanged();
}

void ChartView::layoutButtons()
{
    const QRect plot = chart_.plotRect();
    const int y = std::min(height() - kButtonH - 2, plot.bottom() + 10);
    later_->setGeometry(plot.right() - kButtonW + 1, y, kButtonW, kButtonH);
    earlier_->setGeometry(plot.right() - 2 * kButtonW - 2, y, kButtonW, kButtonH);
    unzoom_->setGeometry(plot.right() - 4 * kButtonW - 6, y, 2 * kButtonW, kButtonH);
}

void ChartView::paintEvent(QPaintEvent*)
{
    const QImage& img = chart_.redraw();
    if (unzoom_->isEnabled() != chart_.zoomed()) unzoom_->setEnabled(chart_.zoomed());
    QPainter p(this);
    p.drawImage(0, 0, img);
}

void ChartView::resizeEvent(QResizeEvent*)
{
    chart_.setSize(size());
    layoutButtons();
}

void ChartView::mousePressEvent(QMouseEvent* e)
{
    setFocus(Qt::MouseFocusReason);
    if (e->button() == Qt::LeftButton) {
        chart_.leftPress(e->position().toPoint());
        update();
    }
}

void ChartView::mouseMoveEvent(QMouseEvent* e)
{
    if (chart_.dragging()) {
        chart_.mouseMove(e->position().toPoint());
        update();
    }
}

void ChartView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        chart_.leftRelease(e->position().toPoint());
    else if (e->button() == Qt::RightButton)
        chart_.rightRelease(e->position().toPoint());
    else
        return;
    changed();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        chart_.leftDoubleClick(e->position().toPoint());
    else if (e->button() == Qt::RightButton)
        chart_.rightDoubleClick(e->position().toPoint());
    else
        return;
    changed();
}

void ChartView::wheelEvent(QWheelEvent* e)
{
    wheelRest_ += e->angleDelta().y();
    bool moved = false;
    while (wheelRest_ >= 120) {
        chart_.wheel(120);
        wheelRest_ -= 120;
        moved = true;
    }
    while (wheelRest_ <= -120) {
        chart_.wheel(-120);
        wheelRest_ += 120;
        moved = true;
    }
    e->accept();
    if (moved)
        changed();
}

void ChartView::keyPressEvent(QKeyEvent* e)
{
    if (chart_.keyPress(e->key())) {
        e->accept();
        changed();
        return;
    }
    QWidget::keyPressEvent(e);
}

} // namespace zelbo::scope
