// Start-up time: from the moment the process began (the kernel's start time of
// this process, so loading the program and its libraries counts) until the
// window shows "Ready..." and every command of the start-up has reached the
// board, on the simulated board with the bus costing what it costs on a real
// one, starting bare (firmware download and FPGA image included).
//   bench_startup with      the first-run settings file is loaded (stage 2 too)
//   bench_startup without   the settings file holds no value lines, so nothing
//                           is applied (the status bar says so instead of
//                           "Ready...")
// Prints one line; exits 1 when the board never became ready.

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QApplication>
#include <QTemporaryDir>

#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "app/style.h"
#include "board/sim_board_test.h"
#include "common/data_folder.h"
#include "tests/common/recording_message_service.h"
#include "tests/e2e/sim_program.h"

namespace {

// Seconds since boot at which this process started.
double processStartSeconds()
{
    std::ifstream f("/proc/self/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto close = all.rfind(')'); // the command name may hold spaces
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    // Field 3 (state) is the first after the name; start time is field 22.
    for (int i = 3; i < 22 && rest >> field; ++i) {
    }
    unsigned long long ticks = 0;
    if (!(rest >> ticks)) return -1;
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

double nowSinceBoot()
{
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

} // namespace

int main(int argc, char** argv)
{
    const bool withSettings = !(argc > 1 && std::strcmp(argv[1], "without") == 0);
    QApplication app(argc, argv);
    applyInstrumentStyle(app);

    simboard::Control board;
    board.reset(); // bare: the firmware download and the FPGA image are part of it
    board.setBusTiming(true);
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    if (!withSettings)
        std::ofstream(std::filesystem::path(data.path().toStdString()) / zelbo::files::kSettingsFileName)
            << "TQ5170x Evaluation Software\nEvaluation Settings\n-----\n";

    MainWindowSetup s;
    s.messages = &messages;
    s.progress = ProgressReporter(&progress);
    s.dataFolder = data.path().toStdString();
    s.defaultChipList = e2e::kChipList;
    auto window = std::make_unique<CTQ5170xHWPDlg>(std::move(s));
    window->resize(1280, 800);
    window->show();

    const bool ready = e2e::waitUntil(
        [&] {
            return window->linkStartResult().has_value() && (window->statusPaneText(0) == "Ready..." || (!withSettings && window->statusPaneText(0).startsWith("Settings file ends"))) &&
                   window->link().waitWriteDone(std::chrono::milliseconds(0));
        },
        30000);
    const double seconds = nowSinceBoot() - processStartSeconds();
    if (!ready || *window->linkStartResult() != 0) {
        std::fprintf(stderr, "the board did not become ready (status \"%s\", messages:", qPrintable(window->statusPaneText(0)));
        for (const auto& t : messages.texts()) std::fprintf(stderr, " \"%s\"", t.c_str());
        std::fprintf(stderr, ")\n");
        return 1;
    }
    std::printf("start-up to \"Ready...\" %s the settings file: %.0f ms from process start\n",
                withSettings ? "with" : "without", seconds * 1000.0);
    std::fflush(stdout);
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    window->close();
    return 0;
}
