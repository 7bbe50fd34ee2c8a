#pragma once
// The oscilloscope's line chart: one polyline per channel, each with its own
// vertical scale, Start and End cursors with readouts, and a legend strip.
// It is also the acquisition core's view of the display.

#include <QPointF>

#include <optional>
#include <string>
#include <vector>

#include "scope/chart/chart.h"
#include "scope/scope_view.h"

namespace zelbo::scope {

struct CursorReadout {
    QString text;       // "<label or key>: <value> <unit>", "---" for no sample there
    QRgb colour = 0;    // trace colour
};

class CLineChart : public CChart, public ScopeView {
public:
    CLineChart();

    // Configures the chart as the oscilloscope shows it.
    void configureForScope();

    // ScopeView
    void setTimePerDiv(double usPerDiv, const std::string& text) override { CChart::setTimePerDiv(usPerDiv, text); }
    void resetScroll() override { CChart::resetScroll(); }
    bool hasTrace(const std::string& key) const override { return CChart::hasTrace(key); }
    void addTrace(const std::string& key, ScopeChannel* channel) override { CChart::addTrace(key, channel); }
    void removeTrace(const std::string& key) override { CChart::removeTrace(key); }
    void traceSetChanged() override;
    void setSlopeIndicator(int slope) override { CChart::setSlopeIndicator(slope); }

    // Readouts of a cursor at pixel column x, one per trace in key order.
    std::vector<CursorReadout> readouts(int x) const;
    // Time between the End and the Start cursor in the unit of the time base
    // text ("%.3f ms", "%.3f µs", "%.3f s"); empty unless both cursors are on.
    QString cursorDeltaText() const;
    // "TIME : <time per division>".
    QString timeLegendText() const;
    // Sampling rate shown after the time base ("RATE : 150 kHz"); empty hides it.
    void setSampleRateText(const std::string& text) { rateText_ = text; }
    // The legend text of one trace: first five characters of its name and its scale.
    static QString legendText(const std::string& key, const ScopeChannel& channel);
    static QString displayName(const std::string& key, const ScopeChannel& channel);

protected:
    void drawTraces(QPainter& p) override;
    void drawCursors(QPainter& p) override;
    void drawLegend(QPainter& p) override;
    virtual void drawStartCursor(QPainter& p);
    virtual void drawEndCursor(QPainter& p);

private:
    void drawCursor(QPainter& p, int x, QRgb colour, const QString& caption, int slot);
    void drawZeroMarker(QPainter& p, double y, QColor colour);
    std::vector<QPointF> points_; // reused for every polyline
    std::string rateText_;
};

} // namespace zelbo::scope
