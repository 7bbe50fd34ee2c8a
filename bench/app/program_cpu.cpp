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
#include <functional>
#include <thread>

#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <QTest>

#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "app/program_features.h"
#include "app/style.h"
#include "board/sim_board_test.h"
#include "common/message_service.h"
#include "scope/scope_core.h"

namespace {

const char* kChipList = "#Chipname\tA\tB\tMode\n"
                        "TQ51701\t672.29\t2.0836\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n";

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

bool wait(const std::function<bool()>& done, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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

    simboard::Control board;
    board.reset();
    board.setBusTiming(false);
    board.startFirmware();

    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    MainWindowSetup setup;
    setup.messages = &messages;
    setup.progress = ProgressReporter(&progress);
    setup.dataFolder = data.path().toStdString();
    setup.defaultChipList = kChipList;
    CTQ5170xHWPDlg window(setup);
    window.resize(1280, 800);
    window.show();
    if (!wait([&] { return window.linkStartResult().has_value(); }, 20000) || *window.linkStartResult() != 0) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    QTest::mouseClick(window.control(1025), Qt::LeftButton);
    auto& scope = window.features()->scopeCore();
    if (!wait([&] { return scope.sweepsConverted() >= 3; }, 5000)) {
        std::fprintf(stderr, "the oscilloscope does not run\n");
        return 1;
    }
    PaintCounter counter;
    window.control(1042)->installEventFilter(&counter);
    wait([] { return false; }, 1000); // settle

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

    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    window.close();
    if (sweeps == 0 || paints == 0) {
        std::fprintf(stderr, "nothing was acquired or drawn\n");
        return 1;
    }
    return percent <= limit ? 0 : 1;
}
