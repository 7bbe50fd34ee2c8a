// Whole-program CPU while the oscilloscope runs: the program's own window and
// features with the simulated board in the same process, on a real display
// (run it under Xvfb). Powers on through the power button (four channels
// acquired, the chart repainted every 100 ms), lets it settle, then measures
// the process's CPU time, all threads together, over the given seconds.
//   bench_program_cpu [seconds=20] [limit-percent=12]
// Prints the figure; exits 1 when it is above the limit or nothing ran.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <QApplication>
#include <QEvent>
#include <QTest>

#include "app/main_window.h"
#include "app/program_features.h"
#include "app/style.h"
#include "scope/scope_core.h"
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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyInstrumentStyle(app);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const double limit = argc > 2 ? std::atof(argv[2]) : 12.0;

    // Transfers cost what they cost on the bus, so that the reader's pacing
    // and the CPU it takes look like they do with a real board.
    e2e::SimProgram program(true);
    if (!program.start()) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    CTQ5170xHWPDlg& window = *program.window;
    QTest::mouseClick(window.control(1025), Qt::LeftButton);
    auto& scope = window.features()->scopeCore();
    if (!e2e::waitUntil([&] { return scope.sweepsConverted() >= 3; }, 5000)) {
        std::fprintf(stderr, "the oscilloscope does not run\n");
        return 1;
    }
    PaintCounter counter;
    window.control(1042)->installEventFilter(&counter);
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

    std::printf("program CPU with the oscilloscope running 4 channels: %.1f %% of one core "
                "(%.2f s CPU in %.1f s; %.1f sweeps/s converted, %.1f chart paints/s; limit %.0f %%)\n",
                percent, cpu, wall, double(sweeps) / wall, double(paints) / wall, limit);
    std::fflush(stdout);

    if (sweeps == 0 || paints == 0) {
        std::fprintf(stderr, "nothing was acquired or drawn\n");
        return 1;
    }
    return percent <= limit ? 0 : 1;
}
