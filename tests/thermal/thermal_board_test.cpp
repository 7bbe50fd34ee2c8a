// The thermometer on a started link to the simulated board: the diode code
// the board's temperature ADC gives for its junction model, read the way the
// main window's tick reads it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "board/sim_board_test.h"
#include "common/message_service.h"
#include "drive/drive_core.h"
#include "link/fpga_link.h"
#include "thermal/thermometer.h"
#include "tests/common/recording_message_service.h"
#include "engine/link_sequences.h"

using namespace std::chrono_literals;
using namespace zelbo;

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

using thermal::Reading;

constexpr double kA = 672.29, kB = 2.0836;

class ThermometerOnBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(200ms);
        link::LinkOptions options;
        options.timings.hardwareReady = 3000ms;
        link = std::make_unique<link::FpgaLink>(messages, options);
        drive = std::make_unique<drive::DriveCore>(*link, messages);
        thermometer.setCoefficients(kA, kB);
        // Reader thread: the answers make whole diode codes.
        link->onReadAnswer([this](std::uint8_t reg, std::uint8_t value) {
            if (const auto raw = diodeCodes.take(reg, value)) {
                thermometer.convert(*raw);
                ++readings;
            }
        });
        ASSERT_EQ(zelbo::engine::startLink(*link, progress, window,
                                           [this](link::CommandPort& p) { drive->clearDacOutputs(p); }),
                  0);
    }
    void TearDown() override
    {
        if (link) zelbo::engine::shutdownLink(*link);
        drive.reset();
        link.reset();
        board.reset();
    }
    // One tick: the high nibble, then the low byte.
    Reading tick()
    {
        const int before = readings.load();
        link->queueRead(reg::kDiodeCodeHigh);
        link->queueRead(reg::kDiodeCodeLow);
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (readings.load() == before && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
        EXPECT_GT(readings.load(), before);
        return thermometer.last().value_or(Reading{});
    }

    simboard::Control board;
    RecordingMessageService messages;
    QuietProgress progress;
    QuietWindow window;
    std::unique_ptr<link::FpgaLink> link;
    std::unique_ptr<drive::DriveCore> drive;
    thermal::Thermometer thermometer;
    thermal::DiodeCodeAnswers diodeCodes; // reader thread
    std::atomic<int> readings{0};
};

} // namespace

TEST_F(ThermometerOnBoard, ReadsTheJunctionOfTheModel)
{
    board.setThermalModel(25.0, 0.0);
    const Reading cold = tick();
    EXPECT_NEAR(cold.tjCelsius, 25.0, 0.5);
    EXPECT_EQ(cold.code, board.thermal().code);

    // Drive the coils: the junction warms by the dissipated power.
    drive->setPin(drive::Pin::Enable, true);
    drive->setValueText(drive::ColumnId::Vref, "1.0");
    drive->commitValue(drive::ColumnId::Vref);
    drive->applyVccAndPins();
    ASSERT_TRUE(link->waitWriteDone());
    const simboard::ThermalState model = board.thermal();
    ASSERT_GT(model.powerWatts, 0.5);
    const Reading warm = tick();
    EXPECT_NEAR(warm.tjCelsius, model.steadyCelsius, 0.5);
    EXPECT_GT(warm.tjCelsius, cold.tjCelsius + 10.0);
}

TEST_F(ThermometerOnBoard, TheJunctionFollowsItsTimeConstant)
{
    board.setThermalModel(25.0, 0.4);
    drive->setPin(drive::Pin::Enable, true);
    drive->setValueText(drive::ColumnId::Vref, "1.0");
    drive->commitValue(drive::ColumnId::Vref);
    drive->applyVccAndPins();
    ASSERT_TRUE(link->waitWriteDone());
    const double steady = board.thermal().steadyCelsius;
    const Reading early = tick();
    EXPECT_LT(early.tjCelsius, steady - 2.0);
    std::this_thread::sleep_for(3s); // more than seven time constants
    EXPECT_NEAR(tick().tjCelsius, steady, 0.5);
}

// A code that crosses a multiple of 256 between two readings: each reading
// is the code of its own moment, never one tick's nibble with another's byte.
TEST_F(ThermometerOnBoard, ReadingsAcrossA256CodeBoundaryAreWhole)
{
    // Code 0x900 is 590.77 mV: Tj = 39.1 degrees with these coefficients.
    const double boundaryTj = (kA - 0x900 * 0.25641) / kB;
    for (double offset : {-0.5, +0.5, -0.5, +0.5}) {
        board.setThermalModel(boundaryTj + offset, 0.0);
        const Reading r = tick();
        EXPECT_EQ(r.code, board.thermal().code) << offset;
        EXPECT_NEAR(r.tjCelsius, boundaryTj + offset, 0.2) << offset;
    }
}
