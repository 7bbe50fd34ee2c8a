// Renders the scope chart with four synthetic traces, both cursors and an
// optional zoom into a picture, for looking at the drawing by eye.

#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "scope/chart/line_chart.h"
#include "scope/scope_channel.h"

using namespace zelbo::scope;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s out.png [width height] [zoom]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int w = argc > 3 ? std::atoi(argv[2]) : 1280;
    const int h = argc > 3 ? std::atoi(argv[3]) : 720;
    const bool zoom = argc > 4;

    std::array<ScopeChannel, 4> ch;
    const double period = 6.25; // 150 kHz entry
    const double pi = 3.14159265358979;
    unsigned seed = 12345;
    auto noise = [&] {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 16) & 0x7FFF) / 32768.0 - 0.5;
    };
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
        const double t = i * period;
        // Quarter-step staircase currents on the two coils, 16 steps per period.
        const double phase = std::floor(t / 400.0) * (2 * pi / 16);
        const double ia = 1.2 * std::cos(phase) + 0.02 * noise();
        const double ib = 1.2 * std::sin(phase) + 0.02 * noise();
        // Chopped output voltage from a 24 V supply.
        const double vout = (std::fmod(t, 50.0) < 30.0 ? 24.0 : 0.0) * (std::cos(phase) > 0 ? 1 : -1) + 0.3 * noise();
        ch[0].trace.push_back({t, vout});
        ch[1].trace.push_back({t, ia});
        ch[2].trace.push_back({t, ib});
        ch[3].trace.push_back({t, 0.35 + 0.1 * std::abs(std::sin(2 * phase)) + 0.01 * noise()});
    }
    const char* labels[] = {"OUT1A", "OUT1A", "OUT2A", "ICC"};
    const char* units[] = {"V", "A", "A", "A"};
    const char* scales[] = {"20 V", "500 mA", "500 mA", "200 mA"};
    const double values[] = {2000, 50, 50, 20};
    const int positions[] = {4, 0, -4, -8};
    const std::uint32_t colours[] = {0xFFFF7F00, 0xFF00CCFF, 0xFFFF00FF, 0xFF662900};
    CLineChart chart;
    chart.configureForScope();
    chart.setSize(QSize(w, h));
    chart.setTimePerDiv(2500, "2.5 ms");
    chart.setSampleRateText("150 kHz");
    for (int n = 0; n < 4; ++n) {
        auto& c = ch[static_cast<std::size_t>(n)];
        c.label = labels[n];
        c.unit = units[n];
        c.valuePerDivText = scales[n];
        c.valuePerDiv = values[n];
        c.verticalPosition = positions[n];
        c.colour = colours[n];
        chart.addTrace("CH" + std::to_string(n + 1), &c);
    }
    ch[1].triggerFlag = 1;
    ch[1].triggerLevel = 0.5;
    const QRect plot = chart.plotRect();
    if (zoom) {
        chart.leftPress(plot.topLeft() + QPoint(plot.width() / 5, plot.height() / 8));
        chart.leftRelease(plot.topLeft() + QPoint(plot.width() * 3 / 5, plot.height() * 7 / 8));
    }
    chart.leftDoubleClick(plot.topLeft() + QPoint(plot.width() / 4, 40));
    chart.rightDoubleClick(plot.topLeft() + QPoint(plot.width() * 5 / 8, 40));
    const QImage& img = chart.redraw(true);
    if (!img.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
