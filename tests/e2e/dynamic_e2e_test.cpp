// A dynamic sequence through the real program on the simulated board: edited
// in the window, uploaded, played by the board's sequencer at its times,
// followed by the window's highlight, paused, and finished back to the main
// window's settings.

#include <set>

#include <QAbstractButton>
#include <QPushButton>
#include <QRadioButton>

#include "app/dynamic_feature.h"
#include "app/program_features.h"
#include "drive/sequence.h"
#include "drive/ui/dynamic_dlg.h"
#include "tests/e2e/program_fixture.h"
#include "widgets/grid_ctrl.h"

using namespace e2e;
using namespace zelbo::drive::sequence;

namespace {

class DynamicOnBoard : public Program {
protected:
    CDynamicDlg* dlg = nullptr;

    void openDynamic()
    {
        poweredOn();
        if (HasFatalFailure()) return;
        window->onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
        dlg = window->features()->dynamic().dialog(0);
        ASSERT_TRUE(dlg->isVisible());
        const char* rows[3][9] = {{"0", "1.00", "0.50", "1000", "HI", "HI", "LO", "LO", "HI"},
                                  {"200", "1.50", "0.50", "2k", "HI", "HI", "LO", "LO", "LO"},
                                  {"500", "2.00", "0.50", "500", "HI", "HI", "LO", "LO", "HI"}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 9; ++c) dlg->table().setCell(r, c, rows[r][c]);
        dlg->refreshGrid();
    }

    // Board-time milliseconds of each sequencer DAC load of `channel` after `t0`.
    std::vector<std::pair<double, int>> loads(std::uint8_t channel, std::int64_t t0) const
    {
        std::vector<std::pair<double, int>> out;
        for (const LogEvent& e : board.log())
            if (e.kind == LogEvent::Kind::DacLoad && e.code == channel && e.timeNs >= t0)
                out.emplace_back(double(e.timeNs - t0) / 1e6, int(e.value));
        return out;
    }
    std::int64_t runStartNs() const
    {
        for (const LogEvent& e : board.log())
            if (e.kind == LogEvent::Kind::RegisterWrite && e.code == 192 && e.value == 0x80) return e.timeNs;
        return -1;
    }
};

TEST_F(DynamicOnBoard, TwoCyclesPlayOnScheduleWithTheRowsHighlightedAndEndByThemselves)
{
    openDynamic();
    if (HasFatalFailure()) return;
    dlg->countField()->setText("2");
    dlg->delayField()->setText("100");
    dlg->startButton()->click();
    ASSERT_TRUE(dlg->running());
    EXPECT_EQ(dlg->startButton()->text(), "Stop");
    EXPECT_FALSE(dlg->saveAction()->isEnabled());

    std::set<int> seen;
    QColor highlight;
    ASSERT_TRUE(waitUntil([&] {
        if (dlg->highlightedRow() >= 0) {
            seen.insert(dlg->highlightedRow());
            highlight = dlg->grid()->rowColours(dlg->highlightedRow()).first;
        }
        return !dlg->startButton()->isChecked();
    }, 10000)) << "the run ends by itself";
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(highlight, QColor(0x33, 0x99, 0xFF));
    EXPECT_EQ(dlg->startButton()->text(), "Start");
    EXPECT_EQ(dlg->highlightedRow(), -1);
    EXPECT_TRUE(waitUntil([&] { return window->features()->dynamic().host().runningWindow() == -1; }, 3000));

    // The upload and the run command reached the board.
    std::vector<std::pair<int, int>> blocks;
    for (const LogEvent& e : board.log())
        if (e.kind == LogEvent::Kind::BlockWrite) blocks.emplace_back(e.code, e.count);
    EXPECT_EQ(blocks, (std::vector<std::pair<int, int>>{{5, 45}}));
    const std::int64_t t0 = runStartNs();
    ASSERT_GE(t0, 0);
    EXPECT_TRUE(contains(writes(), {{193, 2}, {194, 100}, {195, 0}, {196, 2}, {197, 0}, {192, 0x80}}));

    // VREF, direction and clock at every row's time, twice.
    const std::vector<double> times = {0, 200, 500, 600, 800, 1100};
    const auto vref = loads(133, t0);
    const auto cw = loads(130, t0);
    ASSERT_GE(vref.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(vref[i].first, times[i], 5.0) << i;
        EXPECT_EQ(vref[i].second, (i % 3 == 0 ? 1000 : i % 3 == 1 ? 1500 : 2000)) << i;
        EXPECT_NEAR(cw[i].first, times[i], 5.0) << i;
        EXPECT_EQ(cw[i].second != 0, i % 3 != 1) << i;
    }
    std::vector<std::uint32_t> periods;
    for (const LogEvent& e : board.log())
        if (e.kind == LogEvent::Kind::RegisterWrite && e.writeClass == 2 && e.code == 146 && e.timeNs >= t0)
            periods.push_back(e.value);
    // Second byte of N for 1000 Hz (39999), 2000 Hz (19999) and 500 Hz (79999).
    EXPECT_EQ(periods, (std::vector<std::uint32_t>{0x9C, 0x4E, 0x38, 0x9C, 0x4E, 0x38}));
}

// The highlighted row is the one the board plays, as the board's own DAC
// loads tell it (each row has its own VREF), not as register 198 says: the
// window's reading of 198 is checked against the sequencer, not against
// itself.
TEST_F(DynamicOnBoard, TheHighlightedRowIsTheRowTheSequencerPlays)
{
    openDynamic();
    if (HasFatalFailure()) return;
    dlg->infiniteRadio()->setChecked(true);
    dlg->delayField()->setText("300");
    dlg->startButton()->click();
    ASSERT_TRUE(dlg->running());
    std::set<int> checked;
    for (int round = 0; round < 12 && checked.size() < 3; ++round) {
        QTest::qWait(90 + 37 * round);
        dlg->pauseButton()->click(); // the board holds its row
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        QTest::qWait(150);           // several polls of the window
        int vref = -1;
        for (const LogEvent& e : board.log())
            if (e.kind == LogEvent::Kind::DacLoad && e.code == 133) vref = int(e.value);
        const int playing = vref == 1000 ? 0 : vref == 1500 ? 1 : vref == 2000 ? 2 : -1;
        ASSERT_GE(playing, 0) << "VREF code " << vref;
        EXPECT_EQ(dlg->highlightedRow(), playing) << "round " << round;
        EXPECT_EQ(dlg->grid()->rowColours(playing).first, QColor(0x33, 0x99, 0xFF));
        checked.insert(playing);
        dlg->pauseButton()->click();
    }
    EXPECT_EQ(checked.size(), 3u) << "every row met paused";
}

TEST_F(DynamicOnBoard, PauseFreezesTheRowAndClosingAsksThenHandsBackTheDrive)
{
    openDynamic();
    if (HasFatalFailure()) return;
    dlg->infiniteRadio()->setChecked(true);
    dlg->delayField()->setText("300");   // the last row shows until the next cycle
    dlg->startButton()->click();
    ASSERT_TRUE(waitUntil([&] { return dlg->highlightedRow() == 1; }, 5000));
    dlg->pauseButton()->click();
    EXPECT_EQ(dlg->pauseButton()->text(), "Continue");
    QTest::qWait(400);   // row 2 would have come 300 ms after row 1
    EXPECT_EQ(dlg->highlightedRow(), 1);
    dlg->pauseButton()->click();
    EXPECT_EQ(dlg->pauseButton()->text(), "Pause");
    ASSERT_TRUE(waitUntil([&] { return dlg->highlightedRow() == 2; }, 5000)) << "Continue resumes";

    // A second window may not start while this one runs.
    CDynamicDlg* other = window->features()->dynamic().dialog(1);
    other->table().setCell(0, kTime, "0");
    other->startButton()->click();
    EXPECT_FALSE(other->startButton()->isChecked());
    ASSERT_FALSE(messages.shown().empty());
    EXPECT_EQ(messages.shown().back().text,
              "Dynamic Settings Window #0 is currently running.\nOnly one window can be active at any time.");

    // Closing: No keeps the run going; Yes stops it and commits the main window's values again.
    messages.queueAnswer(zelbo::MsgAnswer::No);
    dlg->close();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->running());
    EXPECT_TRUE(dlg->startButton()->isChecked());
    EXPECT_EQ(dlg->pauseState(), kPauseStateRunning);

    board.clearLog();
    messages.queueAnswer(zelbo::MsgAnswer::Yes);
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->running());
    EXPECT_TRUE(waitUntil([&] { return window->features()->dynamic().host().runningWindow() == -1; }, 5000));
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    EXPECT_TRUE(contains(writes(), {{192, 0xC0}, {192, 0}, {200, 1}, {200, 0}}));
    bool recommitted = false;
    for (const LogEvent& e : board.log())
        recommitted |= e.kind == LogEvent::Kind::RegisterWrite && e.writeClass == 0 && e.code == 26 && e.value == 133;
    EXPECT_TRUE(recommitted) << "the main window's VREF went to the board again";
    EXPECT_EQ(messages.shown().back().text.rfind("If you're finished with dynamic mode", 0), 0u);
}

} // namespace
