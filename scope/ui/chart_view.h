#pragma once
// The chart on screen: shows the chart's off-screen image, forwards mouse,
// wheel and arrow keys to it, repaints when the window's chart refresh asks
// it to, and carries the "<" / ">" scroll buttons under the plot.

#include <QWidget>

class QToolButton;

namespace zelbo::scope {

class CChart;

class ChartView : public QWidget {
    Q_OBJECT
public:
    explicit ChartView(CChart& chart, QWidget* parent = nullptr);

    CChart& chart() { return chart_; }
    void setScrollButtonsVisible(bool visible);
    QToolButton* scrollEarlierButton() const { return earlier_; }
    QToolButton* scrollLaterButton() const { return later_; }
    // "1:1": back from a zoom to the whole sweep (enabled while zoomed).
    QToolButton* zoomOutButton() const { return unzoom_; }

    QSize sizeHint() const override { return QSize(720, 420); }

signals:
    // Something the user did changed the chart (cursor, zoom, scroll).
    void chartChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void layoutButtons();
    void changed();

    CChart& chart_;
    QToolButton* earlier_ = nullptr;
    QToolButton* later_ = nullptr;
    QToolButton* unzoom_ = nullptr;
    int wheelRest_ = 0; // fine-grained wheel deltas not yet a whole notch
};

} // namespace zelbo::scope
