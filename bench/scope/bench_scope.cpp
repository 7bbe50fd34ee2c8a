// Sweep conversion (4 x 4096 samples) against plain copies of the same raw
// bytes, and the chart render of 4 x 4096 points at 1280 x 720.
//
//   build/<preset>/bin/bench_scope

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "link/null_command_port.h"
#include "scope/scope_core.h"

#ifdef ZELBO_BENCH_CHART
#include <QGuiApplication>
#include "scope/chart/line_chart.h"
#endif

using namespace zelbo::scope;

namespace {

using NullPort = zelbo::link::NullCommandPort;

struct RawSweep {
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    CaptureAreas areas;
    RawSweep()
    {
        std::mt19937 rng(7);
        for (std::size_t n = 0; n < kChannels; ++n) {
            bytes[n].resize(kCaptureBytes);
            for (auto& b : bytes[n])
                b = static_cast<std::uint8_t>(rng());
            areas[n] = std::span<const std::uint8_t>(bytes[n]);
        }
    }
};

void BM_SweepConversion(benchmark::State& state)
{
    NullPort port;
    ScopeCore core(port);
    core.applyDefaults();
    core.setSource(1, Source::Current);
    core.setSource(3, Source::Icc);
    core.setRunning(true);
    RawSweep raw;
    CalibrationOffsets off;
    off.voltage.fill(0.01);
    for (auto _ : state) {
        benchmark::DoNotOptimize(core.processSweep(raw.areas, off));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kChannels * kSamplesPerSweep);
}
BENCHMARK(BM_SweepConversion);

// The same raw bytes copied as they are (what the link does with an upload).
void BM_PlainCopy(benchmark::State& state)
{
    RawSweep raw;
    std::vector<std::uint8_t> out(kChannels * kCaptureBytes);
    for (auto _ : state) {
        for (std::size_t n = 0; n < kChannels; ++n)
            std::memcpy(out.data() + n * kCaptureBytes, raw.areas[n].data(), kCaptureBytes);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kChannels * kSamplesPerSweep);
}
BENCHMARK(BM_PlainCopy);

// The same samples copied unscaled into (time, value) pairs: the floor for
// anything that produces a trace of doubles.
void BM_CopyIntoPairs(benchmark::State& state)
{
    RawSweep raw;
    std::vector<TracePoint> out(kChannels * kSamplesPerSweep);
    for (auto _ : state) {
        for (std::size_t n = 0; n < kChannels; ++n) {
            const std::uint8_t* p = raw.areas[n].data();
            TracePoint* o = out.data() + n * kSamplesPerSweep;
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i)
                o[i] = {static_cast<double>(i), static_cast<double>((p[2 * i] << 8) | p[2 * i + 1])};
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kChannels * kSamplesPerSweep);
}
BENCHMARK(BM_CopyIntoPairs);

#ifdef ZELBO_BENCH_CHART
void renderBench(benchmark::State& state, bool full)
{
    std::array<ScopeChannel, kChannels> ch;
    CLineChart chart;
    chart.configureForScope();
    chart.setSize(QSize(1280, 720));
    chart.setTimePerDiv(2500, "2.5 ms");
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> noise(-0.3, 0.3);
    for (int n = 0; n < kChannels; ++n) {
        auto& c = ch[static_cast<std::size_t>(n)];
        for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
            const double t = i * 6.25;
            c.trace.push_back({t, 60.0 * std::sin(t / 800.0 + n) + noise(rng)});
        }
        c.colour = 0xFF000000u | (0x3F3FFFu << (n * 4));
        chart.addTrace("CH" + std::to_string(n + 1), &c);
    }
    const QRect plot = chart.plotRect();
    chart.setStartCursor(true, plot.left() + plot.width() / 4);
    chart.setEndCursor(true, plot.left() + plot.width() * 3 / 4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(chart.redraw(full).constBits());
    }
    state.SetItemsProcessed(state.iterations() * kChannels * kSamplesPerSweep);
}

void BM_ChartRender(benchmark::State& state) { renderBench(state, false); }
BENCHMARK(BM_ChartRender)->Unit(benchmark::kMillisecond);

// With the cached background rebuilt every time (a resize on every frame).
void BM_ChartRenderFull(benchmark::State& state) { renderBench(state, true); }
BENCHMARK(BM_ChartRenderFull)->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef ZELBO_BENCH_CHART
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
