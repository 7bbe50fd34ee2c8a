#pragma once
// The program on the simulated board, for tools that drive it outside a test
// (the documentation's screenshots, the whole-program CPU benchmark) and for
// the end-to-end tests: the chip list they start with, a wait that keeps the
// event loop turning, and the window started on a board that runs its firmware.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include <QApplication>
#include <QTemporaryDir>

#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "board/sim_board_test.h"
#include "tests/common/recording_message_service.h"
#include "tests/common/time_scale.h"

namespace e2e {

inline const char* kChipList = "#Chipname\tA\tB\tMode\n"
                               "TQ51701\t672.29\t2.0836\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n"
                               "TQ51702\t668.5\t2.071\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n";

// A copy started from here would be this very program (a test binary or the
// screenshot tool) running everything again, and its copies would do the
// same. Being asked to is a fault of the caller: it stops here, loudly.
[[noreturn]] inline bool refuseDemoCopy()
{
    std::fputs("the program tried to start a copy of itself in demo mode\n", stderr);
    std::abort();
}

// The window's set-up on the simulated board: the test's message service and
// progress dialog, a fresh data folder, the chip list, and no demo copy.
inline MainWindowSetup simSetup(zelbo::RecordingMessageService& messages, CDlgProgress& progress,
                                const QTemporaryDir& data)
{
    MainWindowSetup s;
    s.messages = &messages;
    s.progress = ProgressReporter(&progress);
    s.dataFolder = data.path().toStdString();
    s.defaultChipList = kChipList;
    s.startDemoCopy = refuseDemoCopy;
    return s;
}

// Turns the event loop until `done` holds; false after `ms` milliseconds
// (times the test time scale).
inline bool waitUntil(const std::function<bool()>& done, int ms = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(zelbo::test::scaledMs(ms));
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A fresh board with its firmware running, a fresh data folder, and the main
// window on them. `busTiming` chooses whether transfers cost bus time.
struct SimProgram {
    simboard::Control board;
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    std::unique_ptr<CTQ5170xHWPDlg> window;

    explicit SimProgram(bool busTiming)
    {
        board.reset();
        board.setBusTiming(busTiming);
        board.startFirmware();
    }

    ~SimProgram()
    {
        if (window) {
            messages.queueAnswer(zelbo::MsgAnswer::Ok);
            window->close();
        }
    }

    // Opens the window at 1280 x 800 in the top-left corner and waits for the
    // link start; false when it did not succeed. `adjust` may change the
    // set-up first (the link's timings, say).
    bool start(const std::function<void(MainWindowSetup&)>& adjust = {})
    {
        MainWindowSetup setup = simSetup(messages, progress, data);
        if (adjust) adjust(setup);
        window = std::make_unique<CTQ5170xHWPDlg>(std::move(setup));
        window->move(0, 0);
        window->resize(1280, 800);
        window->show();
        return waitUntil([&] { return window->linkStartResult().has_value(); }) && *window->linkStartResult() == 0;
    }
};

} // namespace e2e
