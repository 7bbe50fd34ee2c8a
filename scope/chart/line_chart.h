#pragma once
// The oscilloscope's line chart: one polyline per channel, each with its own
// vertical scale, Start and End cursors with readouts, and a legend strip.
// It is also the acquisition core's view of the display.

#include <QPointF>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "scope/chart/chart.h"
#include "scope/scope_view.h"

namespace zelbo::scope {

// Two amplitude cursors on one trace, in the trace's unit.
struct LevelCursors {
    bool on = false;
    double a = 0.0;
    double b = 0.0;
};

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
    // 1 / (End - Start) as a frequency ("400.0 Hz"); empty unless both
    // cursors are on and apart.
    QString cursorInverseText() const;

    // Amplitude cursors: two levels on the trace `key`, drawn across the plot
    // in the trace's scale with their values, and their difference
    // ("ΔV = 2.400 V", ΔI for a current, ΔP for a power) in a box at the top
    // right. They are part of every picture the chart draws.
    void setLevelCursors(const std::string& key, const LevelCursors& cursors);
    LevelCursors levelCursors(const std::string& key) const;
    // "CH1 ΔV = 2.400 V" for the trace, empty when its cursors are off.
    QString levelDeltaText(const std::string& key) const;

    // The time (us from the first sample) up to which the traces hold
    // samples: a long time base is wider than one sweep, and the part after
    // this is marked "not yet acquired" rather than left blank. 0 when no
    // trace holds a sweep.
    double acquiredUntilUs() const;
    static QString notAcquiredText();

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
    void drawLevelCursors(QPainter& p);
    void drawNotAcquired(QPainter& p, double fromUs);
    std::map<std::string, LevelCursors> levels_;
    std::vector<QPointF> points_; // reused for every polyline
    std::string rateText_;
};

} // namespace zelbo::scope
