// What the measuring instrument costs the reader thread and what the
// recorder sustains:
//  - BM_MeasureVsConversion: per sweep of 4 x 4096 samples, the conversion
//    with the measurements of all four channels taken alongside, against the
//    conversion alone; counter "ratio" is the first over the second (target
//    <= 1.05); four coil currents with the plateau search, a step every
//    40, 160 or 640 samples (the argument: the cost follows the number of
//    plateau ends, not of samples), and BM_MeasureVsConversionVoltage the
//    sweep of 40 samples a step read as four voltages;
//  - BM_MeasureAfterConversion: measuring the converted traces afterwards,
//    as the strip does for a zoomed part, as a ratio to the conversion;
//  - BM_RecorderThroughput: sweeps streamed to a file in the temporary folder
//    through the writer thread, in sweeps/s and MB/s, to set against the
//    board's sweep rate (sweeps/s of bench_board) times 32 KiB a sweep.
//
//   build/<preset>/bin/bench_instrument

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <time.h>
#include <thread>
#include <vector>

#include "link/null_command_port.h"
#include "scope/measure/sweep_measurer.h"
#include "scope/record/sweep_recorder.h"
#include "scope/scope_core.h"

using namespace zelbo::scope;

namespace {

// Sine-like codes (so the crossing and plateau paths do real work): a
// staircase of 16 steps a period, a step every `perStep` samples, with a code
// of noise.
struct Sweep {
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    CaptureAreas areas;
    explicit Sweep(std::size_t perStep = 40)
    {
        for (std::size_t n = 0; n < kChannels; ++n) {
            bytes[n].resize(kCaptureBytes);
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
                const int pos = static_cast<int>(i / perStep + n * 4);
                const int code = static_cast<int>(std::lround(400 * std::cos(pos * std::numbers::pi / 8))) +
                                 static_cast<int>((i * 7 + n) % 3) - 1;
                const unsigned u = static_cast<unsigned>(code) & 0x3FF;
                bytes[n][2 * i] = static_cast<std::uint8_t>(u >> 8);
                bytes[n][2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
            }
            areas[n] = std::span<const std::uint8_t>(bytes[n]);
        }
    }
};

struct Core {
    zelbo::link::NullCommandPort port;
    ScopeCore core{port};
    explicit Core(Source source = Source::Current)
    {
        core.applyDefaults();
        for (int n = 0; n < kChannels; ++n) core.setSource(n, source);
        core.setRunning(true);
    }
};

// This thread's CPU time: the machine may be shared, and wall time would
// charge other processes' work to whichever part was running.
double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Takes every sweep and measures nothing: the conversion alone.
struct Ignore : SweepObserver {
    void onSweep(const SweepFrame&) override {}
};

// The same sweep converted with the measurer installed (measuring while
// converting, then keeping the figures) and with an observer that measures
// nothing, alternately, so both see the same machine load.
void measureVsConversion(benchmark::State& state, Source source, std::size_t perStep)
{
    Core c(source);
    Sweep sweep(perStep);
    SweepMeasurer measurer;
    measurer.setDrive(1.0, Excitation::QuarterStep);
    Ignore ignore;
    double plain = 0, measured = 0;
    for (auto _ : state) {
        c.core.setSweepObserver(&ignore);
        double t0 = threadSeconds();
        benchmark::DoNotOptimize(c.core.processSweep(sweep.areas, {}));
        plain += threadSeconds() - t0;
        c.core.setSweepObserver(&measurer);
        t0 = threadSeconds();
        benchmark::DoNotOptimize(c.core.processSweep(sweep.areas, {}));
        measured += threadSeconds() - t0;
    }
    if (!std::isfinite(measurer.latest().channels[0].rms)) state.SkipWithError("nothing was measured");
    const double n = static_cast<double>(state.iterations());
    state.counters["conversion_us"] = plain / n * 1e6;
    state.counters["with_measurement_us"] = measured / n * 1e6;
    state.counters["ratio"] = plain > 0 ? measured / plain : 0;
}
void BM_MeasureVsConversion(benchmark::State& state)
{
    measureVsConversion(state, Source::Current, static_cast<std::size_t>(state.range(0)));
}
BENCHMARK(BM_MeasureVsConversion)->Arg(40)->Arg(160)->Arg(640)->Unit(benchmark::kMicrosecond);
// The same sweep read as four voltages: no plateaus to follow.
void BM_MeasureVsConversionVoltage(benchmark::State& state) { measureVsConversion(state, Source::Voltage, 40); }
BENCHMARK(BM_MeasureVsConversionVoltage)->Unit(benchmark::kMicrosecond);

// What measuring a converted trace afterwards costs (the strip does this for a
// zoomed part of the trace), against the conversion.
void BM_MeasureAfterConversion(benchmark::State& state)
{
    Core c;
    Sweep sweep;
    Ignore ignore;
    c.core.setSweepObserver(&ignore);
    double conversion = 0, measuring = 0;
    const MeasureSetup setup{Source::Current, 1.0, Excitation::QuarterStep};
    for (auto _ : state) {
        double t0 = threadSeconds();
        benchmark::DoNotOptimize(c.core.processSweep(sweep.areas, {}));
        conversion += threadSeconds() - t0;
        t0 = threadSeconds();
        for (int n = 0; n < kChannels; ++n) {
            const Trace& t = c.core.channel(n).trace;
            const auto one = t.array_one();
            const auto two = t.array_two();
            benchmark::DoNotOptimize(measure({one.first, one.second}, {two.first, two.second}, setup));
        }
        measuring += threadSeconds() - t0;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["conversion_us"] = conversion / n * 1e6;
    state.counters["measurement_us"] = measuring / n * 1e6;
    state.counters["ratio"] = conversion > 0 ? measuring / conversion : 0;
}
BENCHMARK(BM_MeasureAfterConversion)->Unit(benchmark::kMicrosecond);

void BM_RecorderThroughput(benchmark::State& state)
{
    Core c;
    Sweep sweep;
    const auto path = std::filesystem::temp_directory_path() / "bench_instrument.zrec";
    recording::HeaderInfo h;
    h.mask = 0x0F;
    const std::size_t depth = 128;
    std::uint64_t sweeps = 0, bytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        SweepRecorder rec(depth);
        c.core.setSweepObserver(&rec);
        std::string error;
        if (!rec.start(openFileSink(path.string(), &error), h, {}, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        const auto t0 = std::chrono::steady_clock::now();
        const int n = 2000;
        const std::uint64_t head = rec.status().bytesWritten;
        for (int i = 0; i < n; ++i) {
            // Feed as fast as the writer drains, never past the queue.
            while (rec.status().sweeps * recording::recordBytes(0x0F) + head - rec.status().bytesWritten >=
                   (depth - 2) * recording::recordBytes(0x0F))
                std::this_thread::yield();
            c.core.processSweep(sweep.areas, {});
        }
        const RecordStatus st = rec.stop();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (st.reason != RecordStop::User) state.SkipWithError("recording ended early");
        sweeps += st.sweeps;
        bytes += st.bytesWritten;
        c.core.setSweepObserver(nullptr);
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    state.counters["sweeps_per_s"] = seconds > 0 ? static_cast<double>(sweeps) / seconds : 0;
    state.counters["MB_per_s"] = seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}
BENCHMARK(BM_RecorderThroughput)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
