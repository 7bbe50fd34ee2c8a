// The scope front end, seen from the wire: acquisition registers in, upload
// and sweep-finished records out, checked against the stepping-motor model
// and the converter scaling (a voltage v reads v x K / 36, a current i reads
// i x K / 6.22, K = 511 at and above zero, 512 below).

#include "board_fixture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace boardtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using Phase = simboard::ScopeState::Phase;

constexpr std::uint8_t kVoltage = 0x04, kCurrent = 0x14, kIcc = 0x1C, kArmed = 0x01;

int voltageCode(double v)
{
    return int(std::clamp(std::round(v * (v >= 0 ? 511.0 : 512.0) / 36.0), -512.0, 511.0));
}
int currentCode(double a)
{
    return int(std::clamp(std::round(a * (a >= 0 ? 511.0 : 512.0) / 6.22), -512.0, 511.0));
}
// The current out of OUTxA as the host reads it from a current channel.
double ampsOutOfA(int code)
{
    return -(2.0 / (code < 0 ? 512.0 : 511.0)) * code * 3.11;
}

// What arrived on EP2, parsed the way the host parses response blocks.
struct Capture {
    std::array<std::vector<int>, 4> samples;
    std::array<int, 4> records{};
    std::vector<int> channelOrder; // channel of each upload record, in order
    int sweepsFinished = 0;
    int misplaced = 0;   // upload records that do not open their block
    int badLength = 0;   // upload records whose length is not 256
    int blocks = 0;
};

class ScopeTest : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        bringUp();
        ctl.setVirtualTime(true);
        ctl.setProbeNoise(false);
        // The model's exact codes; the front-end offsets have a test of their own.
        for (int ch = 0; ch < 4; ++ch) ctl.setScopeInputOffsets(ch, 0, 0, 0);
    }

    static Bytes scopeWrite(std::uint8_t reg, std::uint8_t value) { return writeFrame(reg, value, 1); }
    // The acquisition registers in the order a host arms the scope; 0x70 last.
    static Bytes arm(std::uint8_t control, std::array<std::uint8_t, 4> config, std::uint16_t divider,
                     int level = 0, bool falling = false, std::uint16_t length = 0x0FFF)
    {
        Bytes f;
        for (int ch = 0; ch < 4; ++ch) f = cat({f, scopeWrite(std::uint8_t(0x78 + ch), config[std::size_t(ch)])});
        return cat({f, triggerLevel(level, falling), scopeWrite(0x72, std::uint8_t(divider & 0xFF)),
                    scopeWrite(0x73, std::uint8_t(divider >> 8)), scopeWrite(0x74, std::uint8_t(length & 0xFF)),
                    scopeWrite(0x75, std::uint8_t(length >> 8)), scopeWrite(0x70, control)});
    }
    static Bytes triggerLevel(int level, bool falling)
    {
        const auto code = static_cast<std::uint16_t>(0x800 + level);
        return cat({scopeWrite(0x76, std::uint8_t(code & 0xFF)),
                    scopeWrite(0x77, std::uint8_t(((code >> 8) & 0x7F) | (falling ? 0x80 : 0)))});
    }

    // Reads blocks while any wait, until `sweeps` sweep-finished records came.
    Capture read(int sweeps = 1, int maxBlocks = 2000)
    {
        Capture c;
        while (c.sweepsFinished < sweeps && c.blocks < maxBlocks && status()[0]) {
            const auto b = readBlock();
            if (b.size() != 512) break;
            ++c.blocks;
            std::size_t off = 0;
            while (off + 6 <= b.size() && b[off + 1] != 0) {
                const std::uint8_t code = b[off + 1];
                if (code >= 0x50 && code <= 0x53) {
                    const int ch = code - 0x50;
                    const std::size_t len = std::size_t(b[off + 4]) << 8 | b[off + 5];
                    if (off != 0) ++c.misplaced;
                    if (len != 256) ++c.badLength;
                    for (std::size_t i = 0; i + 1 < len && off + 7 + i < b.size(); i += 2) {
                        int r = (b[off + 6 + i] & 0x03) << 8 | b[off + 7 + i];
                        if (r & 0x200) r -= 0x400;
                        c.samples[std::size_t(ch)].push_back(r);
                    }
                    ++c.records[std::size_t(ch)];
                    c.channelOrder.push_back(ch);
                    off += 6 + len;
                } else {
                    if (code == 0x09) ++c.sweepsFinished;
                    off += 6;
                }
            }
        }
        return c;
    }
    bool dataWaiting() { return status()[0] != 0; }

    // Plateaus of a staircase: (first sample, length, value) of each run of equal codes.
    struct Plateau {
        std::size_t first, length;
        int code;
    };
    static std::vector<Plateau> plateaus(const std::vector<int>& s)
    {
        std::vector<Plateau> out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (out.empty() || out.back().code != s[i]) out.push_back({i, 0, s[i]});
            ++out.back().length;
        }
        return out;
    }
};

// Quarter-step position p (sixteenths of a cycle): winding currents.
double coil1(double io, int p) { return io * std::cos(p * std::numbers::pi / 8); }
double coil2(double io, int p) { return io * std::sin(p * std::numbers::pi / 8); }

TEST_F(ScopeTest, ArmedSweepUploadsEachEnabledChannelThenFinishes)
{
    power(false, false, true, 1.0);
    // Channels 1 and 3, 1 MHz: one sweep takes 4.096 ms from the moment of arming.
    ASSERT_EQ(bulkOut(arm(0x05, {kVoltage, kVoltage, kCurrent, kVoltage}, 36)), Result::Ok);
    EXPECT_EQ(ctl.scope().phase, Phase::WaitingForTrigger) << "free running: it starts with the next time step";
    ctl.advanceTime(4095us);
    EXPECT_EQ(ctl.scope().phase, Phase::Acquiring);
    EXPECT_FALSE(dataWaiting()) << "nothing before the last sample period has passed";
    ctl.advanceTime(1us);
    EXPECT_TRUE(dataWaiting());

    const Capture c = read();
    EXPECT_EQ(c.sweepsFinished, 1);
    EXPECT_EQ(c.records, (std::array<int, 4>{32, 0, 32, 0}));
    EXPECT_EQ(c.misplaced, 0) << "every upload record opens its block";
    EXPECT_EQ(c.badLength, 0);
    EXPECT_EQ(c.blocks, 64) << "one block per record, the sweep-finished record behind the last";
    ASSERT_EQ(c.channelOrder.size(), 64u);
    EXPECT_TRUE(std::is_sorted(c.channelOrder.begin(), c.channelOrder.end())) << "channel by channel";
    EXPECT_EQ(c.samples[0].size(), 4096u);
    EXPECT_EQ(c.samples[2].size(), 4096u);

    // Running on: the next sweeps follow one after another, each complete.
    ctl.advanceTime(5ms);
    Capture next = read();
    EXPECT_EQ(next.sweepsFinished, 1);
    EXPECT_EQ(next.records, (std::array<int, 4>{32, 0, 32, 0}));
    EXPECT_EQ(ctl.scope().sweepsUploaded, 2u);

    // A shorter record length goes out in whole records of 128 samples.
    ASSERT_EQ(bulkOut(arm(0x0F, {kVoltage, kVoltage, kVoltage, kVoltage}, 36, 0, false, 200)), Result::Ok);
    ctl.advanceTime(1ms);
    const Capture shortSweep = read();
    EXPECT_EQ(shortSweep.records, (std::array<int, 4>{2, 2, 2, 2}));
    EXPECT_EQ(shortSweep.sweepsFinished, 1);
}

TEST_F(ScopeTest, UncalibratedInputsAtRestReadTheirOwnOffsets)
{
    // Nothing driven: every input is at 0 and reads its channel's offset.
    ctl.reset();
    bringUp();
    ctl.setVirtualTime(true);
    ctl.setProbeNoise(false);
    std::array<std::array<int, 4>, 3> seen{};
    const std::array<std::uint8_t, 3> kinds{kVoltage, kCurrent, kIcc};
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        ASSERT_EQ(bulkOut(arm(0x0F, {kinds[k], kinds[k], kinds[k], kinds[k]}, 36)), Result::Ok);
        ctl.advanceTime(5ms);
        const Capture c = read();
        ASSERT_EQ(c.sweepsFinished, 1);
        for (std::size_t ch = 0; ch < 4; ++ch) {
            ASSERT_EQ(c.samples[ch].size(), 4096u);
            EXPECT_TRUE(std::all_of(c.samples[ch].begin(), c.samples[ch].end(),
                                    [&](int v) { return v == c.samples[ch][0]; }));
            seen[k][ch] = c.samples[ch][0];
        }
    }
    // A few codes each (tens of mV, tens of mA), not all alike.
    for (const auto& kind : seen) {
        for (int v : kind) {
            EXPECT_NE(v, 0);
            EXPECT_LE(std::abs(v), 4);
        }
        EXPECT_NE(kind[0], kind[1]);
    }
    // Set from a test: 0.21 V is three voltage codes, -0.05 A four current codes below 0.
    ctl.setScopeInputOffsets(1, 0.21, -0.05, 0.0);
    ASSERT_EQ(bulkOut(arm(0x02, {kVoltage, kVoltage, kVoltage, kVoltage}, 36)), Result::Ok);
    ctl.advanceTime(5ms);
    EXPECT_EQ(read().samples[1].front(), 3);
    ASSERT_EQ(bulkOut(arm(0x02, {kVoltage, kCurrent, kVoltage, kVoltage}, 36)), Result::Ok);
    ctl.advanceTime(5ms);
    EXPECT_EQ(read().samples[1].front(), -4);
}

TEST_F(ScopeTest, QuarterStepCurrentsShowTheStaircase)
{
    const double vref = 2.0;
    const double io = vref / 5.0 / 0.2; // 2 A
    power(true, true, true, vref);
    ASSERT_EQ(ctl.dut().excitation, 3);
    // 1 kHz step clock and 100 kHz sampling, started together: 100 samples a step.
    ASSERT_EQ(bulkOut(cat({clockRegisters(1000), startRun(0, false),
                           arm(0x0F, {kCurrent, kVoltage, kCurrent, kIcc}, 396)})),
              Result::Ok);
    ctl.advanceTime(41ms);
    const Capture c = read();
    ASSERT_EQ(c.sweepsFinished, 1);
    for (const auto& s : c.samples) ASSERT_EQ(s.size(), 4096u);

    // The first rising clock edge comes 500.025 us after the start, then one
    // every millisecond; position 2 (45 degrees) is home.
    for (std::size_t i = 0; i < 4096; ++i) {
        const std::int64_t t = std::int64_t(i) * 10'000;
        const int edges = t < 500'025 ? 0 : int((t - 500'025) / 1'000'000) + 1;
        const int p = (2 + edges) % 16;
        // The current input reads the current into OUTxA.
        ASSERT_EQ(c.samples[0][i], currentCode(-coil1(io, p))) << "sample " << i;
        ASSERT_EQ(c.samples[2][i], currentCode(-coil2(io, p))) << "sample " << i;
        // OUT1B chops only while winding 1's current flows into OUT1A.
        const int v = c.samples[1][i];
        ASSERT_TRUE(v == 0 || (v == voltageCode(24.0) && coil1(io, p) < -1e-9)) << "sample " << i << ": " << v;
        // ICC: the quiescent current plus each winding whose bridge is on.
        const double a1 = std::abs(coil1(io, p)), a2 = std::abs(coil2(io, p)), q = 0.005;
        const std::array<int, 4> allowed{currentCode(q), currentCode(q + a1), currentCode(q + a2),
                                         currentCode(q + a1 + a2)};
        ASSERT_NE(std::find(allowed.begin(), allowed.end(), c.samples[3][i]), allowed.end()) << "sample " << i;
    }
    // The last samples agree with the model's own state.
    const auto dut = ctl.dut();
    EXPECT_EQ(dut.position, (2 + 41) % 16);
    EXPECT_NEAR(ampsOutOfA(c.samples[0].back()), dut.coilA, 0.013);
    EXPECT_NEAR(ampsOutOfA(c.samples[2].back()), dut.coilB, 0.013);

    // With the noise on, the staircase's amplitude still reads Io within 2 %.
    ctl.setProbeNoise(true);
    ctl.advanceTime(41ms);
    const Capture noisy = read();
    ASSERT_EQ(noisy.samples[0].size(), 4096u);
    double top = -1e9, bottom = 1e9;
    for (std::size_t step = 0; step + 1 < 40; ++step) {
        // The middle 80 samples of each step, away from the edges.
        double sum = 0;
        const std::size_t first = 50 + step * 100 + 10;
        for (std::size_t i = first; i < first + 80; ++i) sum += ampsOutOfA(noisy.samples[0][i]);
        top = std::max(top, sum / 80);
        bottom = std::min(bottom, sum / 80);
    }
    EXPECT_NEAR(top, io, 0.02 * io);
    EXPECT_NEAR(bottom, -io, 0.02 * io);
    bool anyNoise = false;
    for (const auto& p : plateaus(noisy.samples[0])) anyNoise |= p.length < 50;
    EXPECT_TRUE(anyNoise) << "the noise shows";
}

TEST_F(ScopeTest, VoltageAndSupplyCurrentFollowTheChopper)
{
    const double io = 1.0 / 5.0 / 0.2; // 1 A
    power(false, false, true, 1.0);    // full step at home: +Io in both windings
    // 10 MHz on all four channels, voltage on 1..3, ICC on 4.
    ASSERT_EQ(bulkOut(arm(0x0F, {kVoltage, kVoltage, kVoltage, kIcc}, 0)), Result::Ok);
    ctl.advanceTime(1ms);
    const Capture c = read();
    ASSERT_EQ(c.sweepsFinished, 1);
    const auto dut = ctl.dut();
    ASSERT_GT(dut.duty1, 0.0);
    EXPECT_DOUBLE_EQ(dut.motorVolts, 24.0);

    // OUT1A and OUT2A chop between 0 V and the 24 V supply for the duty
    // cycle; OUT1B stays low.
    auto highShare = [&](int ch) {
        int high = 0;
        for (int v : c.samples[std::size_t(ch)]) {
            EXPECT_TRUE(v == 0 || v == voltageCode(24.0)) << "channel " << ch + 1 << ": " << v;
            high += v != 0;
        }
        return double(high) / 4096.0;
    };
    EXPECT_NEAR(highShare(0), dut.duty1, 0.01);
    EXPECT_NEAR(highShare(2), dut.duty2, 0.01);
    EXPECT_EQ(highShare(1), 0.0);
    // 24 V reads back as 24 V to within one code.
    EXPECT_NEAR(2.0 / 511 * voltageCode(24.0) * 18.0, 24.0, 36.0 / 511);

    // The supply current: both windings' current while the bridges are on.
    double mean = 0;
    int peak = 0;
    for (int v : c.samples[3]) {
        mean += 2.0 / 511 * v * 3.11;
        peak = std::max(peak, v);
    }
    mean /= 4096;
    EXPECT_EQ(peak, currentCode(0.005 + 2 * io));
    EXPECT_NEAR(mean, dut.iccMeanAmps, 0.02);
}

TEST_F(ScopeTest, TriggerOnAnEdgeAtALevel)
{
    const double io = 2.0;
    power(true, true, true, 2.0);
    // Channel 1 reads the current into OUT1A, so it rises as the winding's
    // current falls. Level 100 codes is first reached at position 6 (116 codes),
    // the fourth edge: 3.500025 ms after the start, sampled at 3.51 ms.
    const std::int64_t t0 = ctl.nowNs();
    ASSERT_EQ(bulkOut(cat({clockRegisters(1000), startRun(0, false),
                           arm(0x01, {kCurrent | kArmed, kArmed | kVoltage, kArmed | kVoltage, kArmed | kVoltage},
                               396, 100)})),
              Result::Ok);
    ctl.advanceTime(3ms);
    EXPECT_EQ(ctl.scope().phase, Phase::WaitingForTrigger);
    ctl.advanceTime(45ms);
    Capture c = read();
    ASSERT_EQ(c.samples[0].size(), 4096u);
    EXPECT_EQ(ctl.scope().lastTriggerNs - t0, 3'510'000);
    EXPECT_EQ(c.samples[0][0], currentCode(-coil1(io, 6)));
    EXPECT_EQ(c.samples[0][0], 116);

    // Falling through -100 codes from home again: at the twelfth edge
    // (position 13 -> 14, 63 -> 116 codes below zero), 11.500025 ms in.
    ASSERT_EQ(bulkOut(cat({writeFrame(144, 0), writeFrame(1, 0xE0)})), Result::Ok);
    power(true, true, true, 2.0);
    const std::int64_t t1 = ctl.nowNs();
    ASSERT_EQ(bulkOut(cat({clockRegisters(1000), startRun(0, false),
                           arm(0x01, {kCurrent | kArmed, kVoltage, kVoltage, kVoltage}, 396, -100, true)})),
              Result::Ok);
    ctl.advanceTime(60ms);
    c = read();
    ASSERT_EQ(c.samples[0].size(), 4096u);
    EXPECT_EQ(ctl.scope().lastTriggerNs - t1, 11'510'000);
    EXPECT_LE(c.samples[0][0], -100);
}

TEST_F(ScopeTest, TriggerOnTheChoppedOutputAndLevelChangesWhileWaiting)
{
    power(false, false, true, 1.0); // full step at home: OUT1A chops
    // A level the 24 V output never reaches: no sweep.
    ASSERT_EQ(bulkOut(arm(0x03, {kVoltage | kArmed, kVoltage | kArmed, kVoltage, kVoltage}, 0,
                          voltageCode(30.0))),
              Result::Ok);
    ctl.advanceTime(200ms);
    EXPECT_FALSE(dataWaiting());
    EXPECT_EQ(ctl.scope().phase, Phase::WaitingForTrigger);

    // Moving the level to 12 V (no new 0x70) takes effect at once: the sweep
    // starts with the first sample of a chopping period's on-time.
    ASSERT_EQ(bulkOut(triggerLevel(voltageCode(12.0), false)), Result::Ok);
    ctl.advanceTime(1ms);
    const Capture c = read();
    ASSERT_EQ(c.sweepsFinished, 1);
    EXPECT_EQ(c.samples[0][0], voltageCode(24.0));
    const auto s = ctl.scope();
    EXPECT_LT(s.lastTriggerNs % ctl.dut().chopPeriodNs, s.samplePeriodNs);
}

TEST_F(ScopeTest, DividerSetsTheTimePerSample)
{
    power(true, true, true, 2.0);
    ASSERT_EQ(bulkOut(cat({clockRegisters(1000), startRun(0, false)})), Result::Ok);
    // Steps of 1 ms: 100 samples each at 10 us (divider 396), 50 at 20 us (796),
    // 10 at 100 us (3996).
    for (const auto& [divider, perStep] : {std::pair{396, 100u}, std::pair{796, 50u}, std::pair{3996, 10u}}) {
        ASSERT_EQ(bulkOut(arm(0x01, {kCurrent, kVoltage, kVoltage, kVoltage}, std::uint16_t(divider))), Result::Ok);
        EXPECT_EQ(ctl.scope().samplePeriodNs, (divider + 4) * 25);
        ctl.advanceTime(std::chrono::nanoseconds(4096LL * (divider + 4) * 25));
        const Capture c = read();
        ASSERT_EQ(c.samples[0].size(), 4096u) << divider;
        const auto steps = plateaus(c.samples[0]);
        ASSERT_GT(steps.size(), 3u);
        // Whole steps (not the first and last, which the sweep cuts).
        for (std::size_t i = 1; i + 1 < steps.size(); ++i)
            EXPECT_EQ(steps[i].length, perStep) << "divider " << divider << ", step " << i;
    }
}

TEST_F(ScopeTest, StopEndsTheStream)
{
    power(false, false, true, 1.0);
    ASSERT_EQ(bulkOut(arm(0x4F, {kVoltage, kVoltage, kVoltage, kVoltage}, 0)), Result::Ok);
    ctl.advanceTime(1ms);
    ASSERT_EQ(read().sweepsFinished, 1);
    // Half-way through the next upload the host stops: channels cleared, the
    // trigger channel kept.
    ctl.advanceTime(1ms);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(readBlock().size(), 512u);
    ASSERT_EQ(bulkOut(scopeWrite(0x70, 0x40)), Result::Ok);
    EXPECT_EQ(ctl.scope().phase, Phase::Stopped);
    const Capture rest = read(1);
    EXPECT_LE(rest.blocks, int(8)) << "only what already waited on EP2";
    EXPECT_EQ(rest.sweepsFinished, 0);
    ctl.advanceTime(500ms);
    EXPECT_FALSE(dataWaiting());

    // A board without the scope front end never acquires.
    ctl.setScopeCapable(false);
    ASSERT_EQ(bulkOut(arm(0x0F, {kVoltage, kVoltage, kVoltage, kVoltage}, 0)), Result::Ok);
    ctl.advanceTime(10ms);
    EXPECT_FALSE(dataWaiting());
}

TEST_F(ScopeTest, SlowHostHoldsWholeSweeps)
{
    power(false, false, true, 1.0);
    ASSERT_EQ(bulkOut(arm(0x0F, {kVoltage, kCurrent, kVoltage, kIcc}, 0)), Result::Ok);
    // A hundred sweeps' time with nobody reading.
    ctl.advanceTime(50ms);
    EXPECT_LE(ctl.blocksWaiting(), 8u);
    EXPECT_EQ(ctl.scope().sweepsAcquired, 1u);
    EXPECT_EQ(ctl.scope().phase, Phase::Uploading);
    // Then three sweeps read back to back: each complete, none dropped.
    for (int sweep = 0; sweep < 3; ++sweep) {
        const Capture c = read();
        EXPECT_EQ(c.sweepsFinished, 1);
        EXPECT_EQ(c.records, (std::array<int, 4>{32, 32, 32, 32}));
        ctl.advanceTime(1ms);
    }
    EXPECT_EQ(ctl.droppedBlocks(), 0u);
}

TEST_F(ScopeTest, BlockingReadWaitsForTheSweep)
{
    power(false, false, true, 1.0);
    // 2.5 kHz: a sweep takes 1.6384 s.
    ASSERT_EQ(bulkOut(arm(0x01, {kVoltage, kVoltage, kVoltage, kVoltage}, 15996)), Result::Ok);
    const std::int64_t t0 = ctl.nowNs();
    std::vector<std::uint8_t> b(512);
    // A read whose time-out ends before the sweep does times out after it...
    EXPECT_EQ(board.bulkIn(0x82, b.data(), b.size(), 1000).result, Result::Timeout);
    EXPECT_EQ(ctl.nowNs() - t0, 1'000'000'000);
    // ... one that lasts long enough gets the first upload as the sweep ends.
    const auto t = board.bulkIn(0x82, b.data(), b.size(), 0);
    ASSERT_EQ(t.result, Result::Ok);
    EXPECT_EQ(b[1], 0x50);
    EXPECT_EQ(ctl.nowNs() - t0, 4096LL * 16000 * 25);

    // In real time a reader waiting without a time-out is woken by the sweep.
    ASSERT_EQ(bulkOut(scopeWrite(0x70, 0)), Result::Ok);
    while (dataWaiting()) readBlock(); // what was already on EP2 when it stopped
    ctl.setVirtualTime(false);
    ctl.setTimeoutLimit(2s);
    ASSERT_EQ(bulkOut(arm(0x01, {kVoltage, kVoltage, kVoltage, kVoltage}, 246)), Result::Ok);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(board.bulkIn(0x82, b.data(), b.size(), 0).result, Result::Ok);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 25ms); // 4096 x 6.25 us = 25.6 ms
    EXPECT_LT(waited, 1s);
}

} // namespace
} // namespace boardtest
