// The SWEEP row: one STEP at a time inside MIN..MAX, and a run from MIN to MAX.
#include <gtest/gtest.h>

#include "drive/sweep.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

namespace {

struct Sweep : ::testing::Test {
    FakePort port;
    RecordingMessageService messages;
    DriveCore drive{port, messages};
    SweepCore sweep{drive};

    void limits(ColumnId id, const char* max, const char* min, const char* step)
    {
        drive.setLimitText(id, Limit::Min, min);
        drive.commitLimit(id, Limit::Min);
        drive.setLimitText(id, Limit::Max, max);
        drive.commitLimit(id, Limit::Max);
        drive.setLimitText(id, Limit::Step, step);
        drive.commitLimit(id, Limit::Step);
    }
    // The period counts N written to 145..148, in order.
    std::vector<unsigned> periods() const
    {
        std::vector<unsigned> out;
        const Writes& w = port.writes();
        for (std::size_t i = 0; i + 3 < w.size(); ++i)
            if (w[i].first == 145 && w[i + 3].first == 148)
                out.push_back(unsigned(w[i].second) | unsigned(w[i + 1].second) << 8 |
                              unsigned(w[i + 2].second) << 16 | unsigned(w[i + 3].second) << 24);
        return out;
    }
};

} // namespace

TEST_F(Sweep, ArrowsMoveOneStepAndStopAtTheLimits)
{
    limits(ColumnId::Vref, "1.00", "0.50", "0.25");
    drive.setValueText(ColumnId::Vref, "0.5");
    drive.commitValue(ColumnId::Vref);
    port.clear();
    EXPECT_TRUE(sweep.stepUp());
    EXPECT_EQ(drive.column(ColumnId::Vref).valueText(), "0.75");
    EXPECT_EQ(port.writes(), (Writes{{23, 0xEE}, {24, 0x02}, {26, 133}}));
    EXPECT_TRUE(sweep.stepUp());
    EXPECT_FALSE(sweep.stepUp()) << "already at MAX";
    EXPECT_EQ(drive.column(ColumnId::Vref).valueText(), "1.00");
    EXPECT_TRUE(sweep.stepDown());
    EXPECT_TRUE(sweep.stepDown());
    EXPECT_FALSE(sweep.stepDown()) << "already at MIN";
    EXPECT_EQ(drive.vref(), 0.5);

    // Hundredth steps accumulate without drifting off the grid.
    limits(ColumnId::Vref, "0.30", "0.00", "0.01");
    drive.setValueText(ColumnId::Vref, "0.27");
    drive.commitValue(ColumnId::Vref);
    for (int i = 0; i < 5; ++i) sweep.stepUp();
    EXPECT_EQ(drive.column(ColumnId::Vref).valueText(), "0.30");
}

TEST_F(Sweep, RunGoesFromMinToMaxThenEndsAndDropsTheToggle)
{
    sweep.setColumn(ColumnId::Clk);
    limits(ColumnId::Clk, "3k", "1k", "1k");
    port.clear();
    sweep.start();
    EXPECT_TRUE(sweep.running());
    EXPECT_TRUE(drive.secondRunning());
    while (sweep.tick()) {}
    EXPECT_FALSE(sweep.running());
    EXPECT_FALSE(drive.secondRunning());
    EXPECT_EQ(periods(), (std::vector<unsigned>{39'999, 19'999, 13'332}));
    EXPECT_EQ(port.writes().back(), (std::pair<int, int>{160, 0}));
}

TEST_F(Sweep, BoardEndOrAColumnChangeStopsTheRun)
{
    sweep.start();
    drive.secondRunEnded();
    EXPECT_FALSE(sweep.running());
    EXPECT_FALSE(sweep.tick());

    sweep.start();
    sweep.setColumn(ColumnId::Mth);
    EXPECT_FALSE(sweep.running());
    EXPECT_FALSE(drive.secondRunning());

    sweep.setPaceMs(1);
    EXPECT_EQ(sweep.paceMs(), SweepCore::kMinPaceMs);
    sweep.setPaceMs(1'000'000);
    EXPECT_EQ(sweep.paceMs(), SweepCore::kMaxPaceMs);
}

TEST_F(Sweep, ARunEndsWhenMaxIsOffTheStepGrid)
{
    // MAX 1.00 with STEP 0.30 from 0: the grid tops out at 0.90, and a run
    // that waited to reach 1.00 never ended (register 160 left on, VREF sent
    // on every tick).
    limits(ColumnId::Vref, "1.00", "0.00", "0.30");
    sweep.start();
    ASSERT_TRUE(sweep.running());
    int ticks = 0;
    while (sweep.tick() && ticks < 20) ++ticks;
    EXPECT_LT(ticks, 20) << "the run must end";
    EXPECT_FALSE(sweep.running());
    EXPECT_FALSE(drive.secondRunning()) << "register 160 goes off";
    const double top = drive.vref();
    EXPECT_LE(top, 1.0);
    port.clear();
    EXPECT_FALSE(sweep.stepUp()) << "\">\" at the top of the grid says so";
    EXPECT_EQ(drive.vref(), top);
}
