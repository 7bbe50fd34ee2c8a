#pragma once
// The program on the simulated board: the main window with its link, the real
// bridge library (loaded by name from the program folder) and the board's log
// of what reached it. Shared by the end-to-end tests.

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/dlg_progress.h"
#include "app/dynamic_feature.h"
#include "app/main_window.h"
#include "app/program_features.h"
#include "drive/ui/dynamic_dlg.h"
#include "board/sim_board_test.h"
#include "tests/common/recording_message_service.h"
#include "tests/common/short_pause_clock.h"
#include "tests/e2e/sim_program.h"

using simboard::LogEvent;
using namespace std::chrono_literals;

namespace e2e {

// A row of a dynamic table: time, VREF, MTH, CLK and the five pins.
using SequenceRow = std::array<const char*, 9>;

// Opens the first dynamic window of a powered window, fills it with `rows`
// and starts it endless; returns once the board plays it.
inline CDynamicDlg* startEndlessSequence(CTQ5170xHWPDlg& window, std::initializer_list<SequenceRow> rows)
{
    window.onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    CDynamicDlg* dlg = window.features()->dynamic().dialog(0);
    int r = 0;
    for (const SequenceRow& row : rows) {
        for (int c = 0; c < 9; ++c) dlg->table().setCell(r, c, row[static_cast<std::size_t>(c)]);
        ++r;
    }
    dlg->refreshGrid();
    dlg->infiniteRadio()->setChecked(true);
    dlg->startButton()->click();
    EXPECT_TRUE(waitUntil([&] { return dlg->highlightedRow() >= 0; }, 5000)) << "the sequence runs";
    return dlg;
}

using Write = std::pair<int, int>; // register, value
using Writes = std::vector<Write>;

class Program : public ::testing::Test {
protected:
    simboard::Control board;
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    std::unique_ptr<CTQ5170xHWPDlg> window;

    void SetUp() override
    {
        board.reset();
        board.setBusTiming(false);
        board.startFirmware();
    }

    void TearDown() override
    {
        if (window) {
            messages.queueAnswer(zelbo::MsgAnswer::Ok);
            window->close();
            window.reset();
        }
    }

    // Whether the program's pauses last as long as on a real board; most
    // tests are about what reaches the board and run them shortened.
    bool fullPauses = false;
    // A test's own change to the set-up (the link's bounds, say).
    std::function<void(MainWindowSetup&)> adjustSetup;

    MainWindowSetup setup()
    {
        MainWindowSetup s = simSetup(messages, progress, data);
        if (!fullPauses) s.link.clock = &zelbo::test::shortPauseClock();
        if (adjustSetup) adjustSetup(s);
        return s;
    }

    void open(MainWindowSetup s)
    {
        window = std::make_unique<CTQ5170xHWPDlg>(std::move(s));
        window->resize(1280, 800);
        window->show();
    }

    // Opens the window and waits until the link start has finished.
    void openReady()
    {
        open(setup());
        ASSERT_TRUE(waitUntil([&] { return window->linkStartResult().has_value(); }));
        ASSERT_EQ(*window->linkStartResult(), 0);
    }

    QPushButton* power() const { return window->control<QPushButton>(ctl::kPower); }

    // The register writes the board received (in order).
    Writes writes() const
    {
        Writes w;
        for (const LogEvent& e : board.log())
            if (e.kind == LogEvent::Kind::RegisterWrite) w.emplace_back(e.code, e.value);
        return w;
    }

    // Waits until the board has seen `n` register writes since the last clear.
    bool waitWrites(std::size_t n, int ms = 5000)
    {
        return waitUntil([&] { return writes().size() >= n; }, ms);
    }

    static Writes powerPrefix() { return {{0x2C, 0x02}, {0x1A, 0x83}, {0x2C, 0x0B}, {0x02, 0x00}}; }
    // Power on, in this order among the rest: the 5 V supply, the scope's
    // four channels, the PS pin at the pin panel's "Low", the continuous clock.
    static Writes powerOnOrder()
    {
        return {{0x01, 0xE3}, {0x70, 0x0F}, {0x22, 0x00}, {0x23, 0x00}, {0x1A, 0x87},
                {144, 0},     {153, 0},     {144, 0x01}};
    }
    // Power off: the clock stops, the supply goes off, the scope stops, PS low.
    static Writes powerOffTail()
    {
        return {{144, 0}, {144, 0}, {0x01, 0xE0}, {0x70, 0x00}, {0x22, 0x00}, {0x23, 0x00}, {0x1A, 0x87}};
    }
    static Writes concat(Writes a, const Writes& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    void clickPower()
    {
        ASSERT_TRUE(power()->isEnabled());
        QTest::mouseClick(power(), Qt::LeftButton);
    }

    void waitLockout()
    {
        ASSERT_TRUE(waitUntil([&] { return power()->isEnabled(); }, 3000));
    }

    // Opens the window, waits for the link and switches the DUT on; the log
    // is cleared once the power-on traffic has reached the board.
    void poweredOn()
    {
        openReady();
        if (HasFatalFailure()) return;
        clickPower();
        ASSERT_TRUE(waitUntil([&] { return contains(writes(), powerOnOrder()); }, 5000));
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        board.clearLog();
    }

    // Types `text` into field `id` the way a user does, ending with Enter.
    void type(int id, const QString& text)
    {
        auto* edit = window->control<QLineEdit>(id);
        ASSERT_NE(edit, nullptr) << id;
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    // Whether `expected` occurs in `all` in this order (other writes may lie between).
    static bool contains(const Writes& all, const Writes& expected)
    {
        auto it = all.begin();
        for (const Write& w : expected) {
            it = std::find(it, all.end(), w);
            if (it == all.end()) return false;
            ++it;
        }
        return true;
    }

    static std::size_t count(const Writes& all, int reg)
    {
        return static_cast<std::size_t>(
            std::count_if(all.begin(), all.end(), [reg](const Write& w) { return w.first == reg; }));
    }
};

} // namespace e2e
