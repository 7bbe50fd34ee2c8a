// The pattern sequencer: records written by block frames, played at their
// times into the DAC and the clock generator, cycles, pause, reset, the row
// read-back and the end of a run.
#include "board_fixture.h"

namespace boardtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes record(std::uint16_t stepMs, std::uint16_t vrefMv, double hz, bool cw)
{
    Bytes r(15, 0);
    r[0] = std::uint8_t(stepMs);
    r[1] = std::uint8_t(stepMs >> 8);
    const std::uint32_t refs = std::uint32_t(vrefMv) << 12 | 500;
    r[2] = std::uint8_t(refs);
    r[3] = std::uint8_t(refs >> 8);
    r[4] = std::uint8_t(refs >> 16);
    const auto n = hz > 0 ? std::uint32_t(40e6 / hz - 1) : 0u;
    for (int i = 0; i < 4; ++i) {
        r[std::size_t(5 + i)] = std::uint8_t(n >> (8 * i));
        r[std::size_t(9 + i)] = std::uint8_t((n / 2) >> (8 * i));
    }
    r[13] = std::uint8_t((cw ? 0x10 : 0) | 0x01); // ENABLE high
    return r;
}

Bytes blockFrame(std::uint16_t start, const Bytes& data)
{
    Bytes f = {0, 0, 0, 0x03, 5, std::uint8_t(start >> 8), std::uint8_t(start), std::uint8_t((data.size() - 1) >> 8),
               std::uint8_t(data.size() - 1)};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

class SequencerTest : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        bringUp();
        ctl.setVirtualTime(true);
        ASSERT_EQ(bulkOut(writeFrame(1, 0xE3)), Result::Ok); // 5 V supply
        drain();
    }
    void load(const std::vector<Bytes>& records, std::uint8_t cycles, std::uint16_t delayMs)
    {
        Bytes all;
        for (const auto& r : records) all.insert(all.end(), r.begin(), r.end());
        ASSERT_EQ(bulkOut(blockFrame(0, all)), Result::Ok);
        const auto last = std::uint16_t(records.size() - 1);
        ASSERT_EQ(bulkOut(cat({writeFrame(193, cycles), writeFrame(194, std::uint8_t(delayMs)),
                               writeFrame(195, std::uint8_t(delayMs >> 8)), writeFrame(196, std::uint8_t(last)),
                               writeFrame(197, std::uint8_t(last >> 8))})),
                  Result::Ok);
    }
    int row()
    {
        bulkOut(cat({readFrame(198), readFrame(199)}));
        std::vector<std::array<std::uint8_t, 3>> r;
        for (const auto& rec : drain()) (rec[0] == 0x40 ? r : others).push_back(rec);
        EXPECT_EQ(r.size(), 2u);
        return r.size() == 2 ? std::int16_t(r[0][2] | r[1][2] << 8) : 9999;
    }
    // Board times (ms from `t0`) of the sequencer's loads of a DAC channel.
    std::vector<std::array<std::uint8_t, 3>> others; // records besides the answers
    std::vector<std::pair<double, int>> loads(std::uint8_t channel, std::int64_t t0)
    {
        std::vector<std::pair<double, int>> out;
        for (const auto& e : ctl.log())
            if (e.kind == simboard::LogEvent::Kind::DacLoad && e.code == channel)
                out.emplace_back(double(e.timeNs - t0) / 1e6, int(e.value));
        return out;
    }
};

TEST_F(SequencerTest, RowsSwitchAtTheirTimesOverCyclesThenTheRunEnds)
{
    load({record(0, 1000, 1000, true), record(200, 1500, 2000, false), record(300, 2000, 0, true)}, 2, 100);
    ctl.clearLog();
    const std::int64_t t0 = ctl.nowNs();
    ASSERT_EQ(bulkOut(writeFrame(192, 0x80)), Result::Ok);
    EXPECT_EQ(row(), 1) << "the first record, counted from 1";
    EXPECT_EQ(ctl.clockGenerator().period, 39999u);
    EXPECT_TRUE(ctl.clockGenerator().running);
    ctl.advanceTime(250ms);
    EXPECT_EQ(row(), 2);
    EXPECT_EQ(ctl.clockGenerator().period, 19999u);
    ctl.advanceTime(300ms);
    EXPECT_EQ(row(), 3);
    EXPECT_FALSE(ctl.clockGenerator().running) << "a row without a clock stops it";
    ctl.advanceTime(700ms);   // second cycle, 100 ms after the first ended, and its end
    EXPECT_EQ(row(), -1);
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(others[0][0], 0x05) << "PATTSTOP";
    EXPECT_EQ(ctl.sequenceRowsApplied(), 6u) << "three rows, two cycles";
    const auto vref = loads(133, t0);
    const std::vector<std::pair<double, int>> expected = {{0, 1000}, {200, 1500}, {500, 2000},
                                                          {600, 1000}, {800, 1500}, {1100, 2000}};
    ASSERT_EQ(vref.size(), expected.size());
    for (std::size_t i = 0; i < vref.size(); ++i) {
        EXPECT_NEAR(vref[i].first, expected[i].first, 0.001) << i;
        EXPECT_EQ(vref[i].second, expected[i].second) << i;
    }
    const auto cw = loads(130, t0);
    ASSERT_GE(cw.size(), 2u);
    EXPECT_EQ(cw[0].second, 2500);
    EXPECT_EQ(cw[1].second, 0);
    EXPECT_TRUE(ctl.dut().cw) << "the last row's direction stays";
}

TEST_F(SequencerTest, PauseFreezesTheScheduleAndResetStopsIt)
{
    load({record(10, 1000, 1000, true), record(100, 1500, 1000, true)}, 0, 0);
    ASSERT_EQ(bulkOut(writeFrame(192, 0x80)), Result::Ok);
    EXPECT_EQ(row(), 0) << "none played yet";
    ctl.advanceTime(20ms);
    EXPECT_EQ(row(), 1);
    bulkOut(writeFrame(192, 0xC0));
    ctl.advanceTime(500ms);
    EXPECT_EQ(row(), 1) << "paused";
    bulkOut(writeFrame(192, 0x80));
    ctl.advanceTime(95ms);
    EXPECT_EQ(row(), 2);
    ctl.advanceTime(5000ms);   // endless: still running, many cycles later
    EXPECT_GE(row(), 1);
    bulkOut(cat({writeFrame(200, 1), writeFrame(200, 0)}));
    EXPECT_EQ(row(), 0);
    ctl.clearLog();
    ctl.advanceTime(500ms);
    EXPECT_EQ(row(), 0);
    EXPECT_TRUE(loads(133, 0).empty()) << "nothing plays after a reset";
}

TEST_F(SequencerTest, ZeroLengthEndlessCycleDoesNotHangAndOversizeBlocksAreRefused)
{
    load({record(0, 1000, 1000, true)}, 0, 0);
    ASSERT_EQ(bulkOut(writeFrame(192, 0x80)), Result::Ok);
    ctl.advanceTime(50ms);
    EXPECT_EQ(row(), 1);
    bulkOut(cat({writeFrame(200, 1), writeFrame(200, 0)}));
    drain();

    ASSERT_EQ(bulkOut(blockFrame(250, Bytes(15 * 6, 1))), Result::Ok);   // records 250..255: fits
    EXPECT_TRUE(drain().empty());
    ASSERT_EQ(bulkOut(blockFrame(250, Bytes(15 * 7, 1))), Result::Ok);   // one past the end
    const auto r = drain();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][0], 0xE0);
    ASSERT_EQ(bulkOut(blockFrame(256, Bytes(15, 1))), Result::Ok);
    EXPECT_EQ(drain().size(), 1u);
}

} // namespace
} // namespace boardtest
