// The drive core on a started link to the simulated board: what the core
// sends must be what the board's DAC, clock generator and driver model act on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "board/sim_board_test.h"
#include "drive/drive_core.h"
#include "link/fpga_link.h"
#include "tests/common/recording_message_service.h"
#include "engine/link_sequences.h"

using namespace std::chrono_literals;
using namespace zelbo;
using namespace zelbo::drive;

namespace {

struct QuietProgress final : link::BringUpObserver {
    void statusText(const std::string&) override {}
    void progressShow() override {}
    void progressText(const std::string&) override {}
    void progressStep(int, int) override {}
    void progressHide() override {}
    void downloadProgressControl(bool) override {}
};

struct QuietWindow final : link::LinkObserver {
    void linkStarted() override {}
};

template <class Pred> bool eventually(Pred p, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (p()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return p();
}

class DriveOnBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(200ms);
        link::LinkOptions options;
        options.timings.hardwareReady = 3000ms;
        link = std::make_unique<link::FpgaLink>(messages, options);
        core = std::make_unique<DriveCore>(*link, messages);
        link->onReadAnswer([this](std::uint8_t reg, std::uint8_t value) {
            if (reg == reg::kClockControl) {
                clockAnswer = value;
                ++clockAnswers;
            }
        });
        ASSERT_EQ(zelbo::engine::startLink(*link, progress, window,
                                           [this](link::CommandPort& p) { core->clearDacOutputs(p); }),
                  0) << testing::PrintToString(messages.texts());
    }
    void TearDown() override
    {
        if (link) zelbo::engine::shutdownLink(*link);
        core.reset();
        link.reset();
        board.reset();
    }
    // Power on as the main window does it: supply and pins.
    void powerOn()
    {
        core->setPin(Pin::Enable, true);
        core->applyVccAndPins();
        link->waitWriteDone();
    }
    void commit(ColumnId id, const char* text)
    {
        core->setValueText(id, text);
        core->commitValue(id);
        link->waitWriteDone();
    }

    simboard::Control board;
    RecordingMessageService messages;
    QuietProgress progress;
    QuietWindow window;
    std::unique_ptr<link::FpgaLink> link;
    std::unique_ptr<DriveCore> core;
    std::atomic<int> clockAnswer{-1};
    std::atomic<int> clockAnswers{0};
};

} // namespace

TEST_F(DriveOnBoard, SupplyPinsAndReferencesReachTheDac)
{
    core->loadVcc(Vcc::V3_3);
    core->setPin(Pin::CwCcw, true);
    powerOn();
    ASSERT_TRUE(eventually([&] { return board.supplyMillivolts() == 3300; }));
    EXPECT_TRUE(eventually([&] { return board.dacCode(129) == 1650 && board.dacCode(130) == 1650; }));
    EXPECT_EQ(board.dacCode(135), 0);

    commit(ColumnId::Vref, "1.25");
    commit(ColumnId::Mth, "0.505");
    EXPECT_TRUE(eventually([&] { return board.dacCode(133) == 1250 && board.dacCode(134) == 510; }));
    EXPECT_NEAR(board.dut().vrefVolts, 1.25, 1e-9);
    const auto dut = board.dut();
    EXPECT_TRUE(dut.enable);
    EXPECT_TRUE(dut.cw);
    EXPECT_FALSE(dut.ps);
}

TEST_F(DriveOnBoard, CountedRunMakesExactlyItsStepsAndEndsOnTheReadBack)
{
    core->setPin(Pin::CwCcw, true); // clockwise: steps count up
    powerOn();
    core->setPin(Pin::Mode0, true); // half step A
    commit(ColumnId::Vref, "1");
    core->setLimitText(ColumnId::Clk, Limit::Max, "100k");
    core->commitLimit(ColumnId::Clk, Limit::Max);
    commit(ColumnId::Clk, "2k");
    ASSERT_TRUE(eventually([&] { return board.clockGenerator().period == 19999u; }));
    EXPECT_EQ(board.clockGenerator().highTime, 9999u);
    EXPECT_FALSE(board.clockGenerator().running);

    const auto before = board.dut();
    const auto edgesBefore = board.clockGenerator().risingEdges;
    core->setManual(true);
    core->editSteps("10");
    core->setStopHigh(true);
    core->setClockRunning(true);
    ASSERT_TRUE(eventually([&] {
        const auto g = board.clockGenerator();
        return !g.running && g.risingEdges >= edgesBefore + 10;
    }));
    const auto g = board.clockGenerator();
    EXPECT_EQ(g.risingEdges, edgesBefore + 10);
    EXPECT_TRUE(g.level); // rests High
    const auto after = board.dut();
    EXPECT_EQ(after.steps - before.steps, 10);
    EXPECT_EQ(after.excitation, 1);
    EXPECT_EQ((after.position - before.position + 160) % 16, (10 * 2) % 16); // half step: 2/16 per edge

    // The thermometer tick's read-back ends the run in the core.
    EXPECT_TRUE(core->clockRunning());
    ASSERT_TRUE(core->requestClockState());
    ASSERT_TRUE(eventually([&] { return clockAnswers.load() > 0; }));
    EXPECT_TRUE(core->onClockControlRead(static_cast<std::uint8_t>(clockAnswer.load())));
    EXPECT_FALSE(core->clockRunning());
    EXPECT_TRUE(messages.shown().empty());
}
