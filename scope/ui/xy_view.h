#pragma once
// Two drawings beside the time chart: the XY view, which plots one channel
// against another (the two coil currents draw the current vector's circle,
// square or staircase), and the faint ideal microstep levels laid over the
// time chart for the current channels.

#include <QWidget>

#include <functional>
#include <span>
#include <vector>

namespace zelbo::scope {

class CChart;
class ScopeCore;

class XyView : public QWidget {
    Q_OBJECT
public:
    XyView(ScopeCore& core, QWidget* parent = nullptr);

    void setChannels(int x, int y);
    int xChannel() const { return x_; }
    int yChannel() const { return y_; }
    // The value range one axis spans: ten divisions of the channel's
    // value/div, shifted by its vertical position.
    static std::pair<double, double> axisRange(double valuePerDiv, int position);
    // The points drawn by the last paint (for tests): (x, y) in the channels' units.
    const std::vector<std::pair<double, double>>& points() const { return points_; }

    QSize sizeHint() const override { return QSize(720, 420); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void collect();

    ScopeCore& core_;
    int x_ = 1, y_ = 3;
    std::vector<double> xs_;
    std::vector<std::pair<double, double>> points_;
};

// Lies over the chart view, lets the mouse through, and draws +-Io times
// each ideal level of the excitation mode for every shown current channel.
class LevelsOverlay : public QWidget {
    Q_OBJECT
public:
    using Levels = std::function<std::vector<double>()>; // ideal levels in A, both signs
    LevelsOverlay(ScopeCore& core, CChart& chart, Levels levels, QWidget* chartView);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ScopeCore& core_;
    CChart& chart_;
    Levels levels_;
};

} // namespace zelbo::scope
