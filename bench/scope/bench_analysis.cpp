// What the spectrum costs against the conversion it follows:
//  - BM_SpectrumVsConversion: per sweep of 4 x 4096 samples, the conversion
//    alone, then a Hann-windowed FFT of one 4096-point channel with its
//    harmonic analysis (what the spectrum view does per sweep); counter
//    "ratio" is spectrum / conversion.
//
//   build/<preset>/bin/bench_analysis

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <time.h>
#include <vector>

#include "link/null_command_port.h"
#include "scope/analysis/frequency_analysis.h"
#include "scope/scope_core.h"

using namespace zelbo::scope;

namespace {

double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A quarter-step staircase on every channel, as the coil currents look.
struct Sweep {
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    CaptureAreas areas;
    Sweep()
    {
        for (std::size_t n = 0; n < kChannels; ++n) {
            bytes[n].resize(kCaptureBytes);
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
                const int pos = static_cast<int>(i / 40 + n * 4);
                const int code = static_cast<int>(std::lround(400 * std::cos(pos * std::numbers::pi / 8)));
                const unsigned u = static_cast<unsigned>(code) & 0x3FF;
                bytes[n][2 * i] = static_cast<std::uint8_t>(u >> 8);
                bytes[n][2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
            }
            areas[n] = std::span<const std::uint8_t>(bytes[n]);
        }
    }
};

// Copies a converted channel out and analyses it, timing only that.
struct TimedSpectrum : SweepObserver {
    analysis::SpectrumAnalyser analyser;
    analysis::Spectrum spectrum;
    std::vector<double> values;
    double seconds = 0;
    double thd = 0;
    void onSweep(const SweepFrame& f) override
    {
        const double t0 = threadSeconds();
        const Trace& tr = *f.traces[2];
        values.resize(tr.size());
        for (std::size_t i = 0; i < tr.size(); ++i) values[i] = tr[i].second;
        analyser.compute(values, f.periodUs * 1e-6, analysis::Window::Hann, spectrum);
        thd = analysis::analyseHarmonics(spectrum).thd;
        seconds += threadSeconds() - t0;
    }
};

void BM_SpectrumVsConversion(benchmark::State& state)
{
    zelbo::link::NullCommandPort port;
    ScopeCore core{port};
    core.applyDefaults();
    for (int n = 0; n < kChannels; ++n) core.setSource(n, Source::Current);
    core.setRunning(true);
    Sweep sweep;
    TimedSpectrum ts;
    core.setSweepObserver(&ts);
    double total = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        benchmark::DoNotOptimize(core.processSweep(sweep.areas, {}));
        total += threadSeconds() - t0;
    }
    const double conversion = total - ts.seconds;
    const double n = static_cast<double>(state.iterations());
    state.counters["conversion_us"] = conversion / n * 1e6;
    state.counters["spectrum_us"] = ts.seconds / n * 1e6;
    state.counters["ratio"] = conversion > 0 ? ts.seconds / conversion : 0;
    state.counters["thd"] = ts.thd;
}
BENCHMARK(BM_SpectrumVsConversion)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
