#pragma once
// A small chart drawn with QPainter into an off-screen ARGB image, so that the
// same layers serve the screen and the picture export. The chart is not a
// widget: a view forwards its size, mouse and keys here (pixel coordinates),
// which keeps every piece of state (ranges, zoom, scroll, cursors) testable
// without a display. Qt Gui only; text needs a QGuiApplication.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

class QPainter;

namespace zelbo::scope {

struct ScopeChannel;

// Optional layers; the scope switches the title, axis labels and axis titles
// off and the grid on.
struct ChartLayers {
    bool title = true;
    bool xLabels = true;
    bool yLabels = true;
    bool xTitle = true;
    bool yTitle = true;
    bool axes = true;
    bool secondGrid = false;
    bool verticalGrid = true;   // lines at each horizontal division
    bool horizontalGrid = true; // lines at each vertical division
};

class CChart {
public:
    CChart();
    virtual ~CChart();
    CChart(const CChart&) = delete;
    CChart& operator=(const CChart&) = delete;

    // ---- appearance -------------------------------------------------------
    void setSize(QSize size);
    QSize size() const { return size_; }
    QRect windowRect() const { return QRect(QPoint(0, 0), size_); }
    QRect plotRect() const { return plot_; }

    void setBackgroundColour(QRgb c);
    void setGridColour(QRgb c);
    void setAxisColour(QRgb c);
    void setTitle(const QString& t) { title_ = t; }
    void setAxisTitles(const QString& x, const QString& y) { xTitle_ = x; yTitle_ = y; }
    void setDivisions(int horizontal, int vertical);
    int horizontalDivisions() const { return hDivs_; }
    int verticalDivisions() const { return vDivs_; }
    void setLayers(const ChartLayers& layers);
    const ChartLayers& layers() const { return layers_; }

    // ---- ranges -----------------------------------------------------------
    void setTimePerDiv(double usPerDiv, const std::string& text);
    double timePerDiv() const { return usPerDiv_; }
    const std::string& timePerDivText() const { return timeText_; }
    void resetScroll();  // x start = 0, zoom dropped, scales recomputed
    double xStart() const { return xStart_; }
    double xEnd() const { return xStart_ + xWidth(); }
    double xWidth() const;
    double yMin() const { return yMin_; }
    double yMax() const { return yMax_; }
    double usPerPixel() const;
    double timeAtPixel(int x) const;

    // Zoom: the part of the unzoomed view shown. Every trace keeps its own
    // vertical scale, so the vertical zoom is kept as a fraction of the
    // plot height (0 = bottom, 1 = top).
    bool zoomed() const { return zoomWidth_.has_value(); }
    void resetZoom();
    std::pair<double, double> verticalZoom() const { return {yFrac0_, yFrac1_}; }

    // ---- traces -----------------------------------------------------------
    void addTrace(const std::string& key, ScopeChannel* channel);
    void removeTrace(const std::string& key);
    bool hasTrace(const std::string& key) const { return traces_.count(key) != 0; }
    const std::map<std::string, ScopeChannel*>& traces() const { return traces_; }
    // The value range a trace is drawn with: value/div, vertical position and zoom.
    std::pair<double, double> traceRange(const ScopeChannel& channel) const;

    void setSlopeIndicator(int slope) { slope_ = slope; }
    int slopeIndicator() const { return slope_; }

    // ---- cursors ----------------------------------------------------------
    bool startCursorOn() const { return startOn_; }
    bool endCursorOn() const { return endOn_; }
    int startCursorX() const { return startX_; }
    int endCursorX() const { return endX_; }
    void setStartCursor(bool on, int x = 0);
    void setEndCursor(bool on, int x = 0);

    // ---- input (pixels in the chart's own coordinates) ----------------------
    void leftPress(QPoint p);
    void mouseMove(QPoint p);
    void leftRelease(QPoint p);
    void leftDoubleClick(QPoint p);
    void rightDoubleClick(QPoint p);
    void rightRelease(QPoint p);
    // Qt key code; true when the chart used it.
    bool keyPress(int key);
    virtual void wheel(int delta);   // one notch: > 0 scrolls to later times, < 0 to earlier
    virtual void scrollEarlier();    // shift the x range by -1/20 of its width
    virtual void scrollLater();      // shift the x range by +1/20 of its width
    bool dragging() const { return dragging_; }

    // ---- drawing ----------------------------------------------------------
    // Renders every layer into the off-screen image and returns it. `full`
    // also rebuilds the cached static layers (background, frame, grid).
    const QImage& redraw(bool full = false);
    const QImage& image() const { return image_; }
    // All layers in painting order onto any painter of the chart's size.
    void paint(QPainter& p);
    // Writes the chart as a JPEG picture (whole or not at all); false when the
    // file cannot be written, with the reason in `error` when given.
    bool saveJpeg(const QString& path, QString* error = nullptr);

    virtual void traceSetChanged() {}

    // Pixels at the right end of the legend strip kept free (for the view's
    // scroll buttons).
    void setLegendReserve(int px) { legendReserve_ = px; }

protected:
    virtual void drawBackground(QPainter& p);
    virtual void drawTitle(QPainter& p);
    virtual void drawAxes(QPainter& p);
    virtual void drawAxisLabels(QPainter& p);
    virtual void drawGrid(QPainter& p);
    virtual void drawSecondGrid(QPainter& p);
    virtual void drawCursors(QPainter& p);
    virtual void drawTraces(QPainter& p);
    virtual void recomputeLayout();
    virtual void drawLegend(QPainter& p);

    double yToPixel(double value, double lo, double hi) const;
    double xToPixel(double us) const;
    void zoomTo(QPoint a, QPoint b);
    void invalidateStatic() { staticValid_ = false; }

    QSize size_{640, 400};
    QRect plot_;
    QRgb background_ = 0xFFF0F8FF;
    QRgb grid_ = 0xFF696969;
    QRgb axis_ = 0xFF696969;
    QString title_, xTitle_, yTitle_;
    int hDivs_ = 10;
    int vDivs_ = 10;
    ChartLayers layers_;

    double xStart_ = 0.0;
    std::optional<double> zoomWidth_;
    double yFrac0_ = 0.0, yFrac1_ = 1.0;
    double yMin_ = -70.0, yMax_ = 70.0;
    double usPerDiv_ = 2500.0;
    std::string timeText_ = "2.5 ms";
    int slope_ = 0;
    int legendReserve_ = 0;

    std::map<std::string, ScopeChannel*> traces_;

    bool startOn_ = false, endOn_ = false;
    int startX_ = 0, endX_ = 0;
    bool dragging_ = false;
    QPoint dragFrom_, dragTo_;

private:
    void paintDynamic(QPainter& p);
    QImage image_;
    QImage static_;
    bool staticValid_ = false;
};

} // namespace zelbo::scope
