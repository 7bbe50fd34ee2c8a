// Whole-program CPU while the oscilloscope runs: the program's own window and
// features with the simulated board in the same process, on a real display
// (run it under Xvfb). Powers on through the power button (four channels
// acquired, the chart repainted every 100 ms), lets it settle, then measures
// the process's CPU time, all threads together, over the given seconds.
//   bench_program_cpu [seconds=20] [limit-percent=12]
// Prints the figure; exits 1 when it is above the limit or nothing ran.
//
//   bench_program_cpu analysis [seconds=20] [limit-percent=20]
// The same with the analyser at work as well: one math channel (CH1 x CH2,
// measured in the strip) and the spectrum dock on CH2.
//
//   bench_program_cpu idle [seconds=20] [limit-percent=0.5]
// The program left powered off: its CPU over the given seconds, then the time
// from the power button (which starts the oscilloscope) to the first converted
// sweep. Once with the reader's idle back-off and once with it off (a status
// request every millisecond, as before it existed), so both figures come from
// one run. Exits 1 when the back-off run is above the limit.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTest>

#include "app/main_window.h"
#include "app/program_features.h"
#include "app/style.h"
#include "scope/scope_core.h"
#include "scope/ui/analysis_tools.h"
#include "scope/ui/instrument.h"
#include "tests/e2e/sim_program.h"

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct IdleFigures {
    double percent = -1;
    double latencyMs = -1;
    double pollsPerSecond = 0;
};

// One program powered off for `seconds`, then powered on.
IdleFigures idleRun(int seconds, bool backOff)
{
    IdleFigures f;
    e2e::SimProgram program(true);
    if (!program.start([&](MainWindowSetup& s) {
            if (!backOff) s.link.timings.idleWaitMax = s.link.timings.idleWait;
        })) {
        std::fprintf(stderr, "the link did not start\n");
        return f;
    }
    CTQ5170xHWPDlg& window = *program.window;
    e2e::waitUntil([] { return false; }, 2000); // start-up traffic done

    const auto polls0 = program.board.statusRequests();
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    // A loop of its own: quitting the application's would shut the program down.
    QEventLoop idle;
    QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f.percent = 100.0 * (cpuSeconds() - cpu0) / wall;
    f.pollsPerSecond = double(program.board.statusRequests() - polls0) / wall;

    auto& scope = window.features()->scopeCore();
    const std::uint64_t before = scope.sweepsConverted();
    const auto p0 = std::chrono::steady_clock::now();
    QTest::mouseClick(window.control(ctl::kPower), Qt::LeftButton);
    if (e2e::waitUntil([&] { return scope.sweepsConverted() > before; }, 5000))
        f.latencyMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - p0).count();
    return f;
}

int idleMain(int seconds, double limit)
{
    const IdleFigures off = idleRun(seconds, false);
    const IdleFigures on = idleRun(seconds, true);
    std::printf("idle, powered off, %d s: without back-off %.2f %% of one core (%.0f status requests/s), "
                "with back-off %.2f %% (%.0f/s); ratio %.3f; limit %.2f %%\n",
                seconds, off.percent, off.pollsPerSecond, on.percent, on.pollsPerSecond,
                off.percent > 0 ? on.percent / off.percent : 0.0, limit);
    std::printf("power on to first sweep: without back-off %.1f ms, with back-off %.1f ms\n", off.latencyMs,
                on.latencyMs);
    std::fflush(stdout);
    if (on.percent < 0 || on.latencyMs < 0 || off.latencyMs < 0) {
        std::fprintf(stderr, "the program did not start or the oscilloscope did not run\n");
        return 1;
    }
    return on.percent <= limit ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyInstrumentStyle(app);
    if (argc > 1 && std::string(argv[1]) == "idle") {
        const int secs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
        return idleMain(secs, argc > 3 ? std::atof(argv[3]) : 0.5);
    }
    const bool analysis = argc > 1 && std::string(argv[1]) == "analysis";
    if (analysis) {
        --argc;
        ++argv;
    }
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const double limit = argc > 2 ? std::atof(argv[2]) : analysis ? 20.0 : 12.0;

    // Transfers cost what they cost on the bus, so that the reader's pacing
    // and the CPU it takes look like they do with a real board.
    e2e::SimProgram program(true);
    if (!program.start()) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    CTQ5170xHWPDlg& window = *program.window;
    QTest::mouseClick(window.control(ctl::kPower), Qt::LeftButton);
    auto& scope = window.features()->scopeCore();
    if (!e2e::waitUntil([&] { return scope.sweepsConverted() >= 3; }, 5000)) {
        std::fprintf(stderr, "the oscilloscope does not run\n");
        return 1;
    }
    if (analysis) {
        auto& tools = window.features()->instrument().analysis();
        zelbo::scope::analysis::MathSetups setups{};
        setups[0] = {true, "CH1 * CH2", 20.0, -4, "P1"};
        tools.applySetups(setups);
        tools.setSpectrumShown(true);
        tools.spectrumPanel()->setChannel(1);
    }
    PaintCounter counter;
    window.control(ctl::kChart)->installEventFilter(&counter);
    e2e::waitUntil([] { return false; }, 1000); // settle

    const std::uint64_t sweeps0 = scope.sweepsConverted();
    const int paints0 = counter.paints;
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    const std::uint64_t sweeps = scope.sweepsConverted() - sweeps0;
    const int paints = counter.paints - paints0;
    const double percent = 100.0 * cpu / wall;

    std::printf("program CPU with the oscilloscope running 4 channels%s: %.1f %% of one core "
                "(%.2f s CPU in %.1f s; %.1f sweeps/s converted, %.1f chart paints/s; limit %.0f %%)\n",
                analysis ? ", a math channel and the spectrum" : "", percent, cpu, wall, double(sweeps) / wall,
                double(paints) / wall, limit);
    std::fflush(stdout);

    if (sweeps == 0 || paints == 0) {
        std::fprintf(stderr, "nothing was acquired or drawn\n");
        return 1;
    }
    return percent <= limit ? 0 : 1;
}
