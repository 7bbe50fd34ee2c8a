// The simulated chamber's controller without its line: framing, registers and
// the air, on board time given by the test.

#include "board/chamber_sim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace simboard {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t kSecond = 1'000'000'000;

// An independent CRC: bit by bit from the polynomial's other end.
Bytes framed(Bytes b)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : b) {
        for (int k = 0; k < 8; ++k) {
            const bool mix = ((crc ^ (byte >> k)) & 1) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (mix) crc ^= 0xA001;
        }
    }
    b.push_back(static_cast<std::uint8_t>(crc));
    b.push_back(static_cast<std::uint8_t>(crc >> 8));
    return b;
}

Bytes read(std::uint16_t reg, std::uint16_t n = 1, std::uint8_t slave = 1)
{
    return framed({slave, 3, std::uint8_t(reg >> 8), std::uint8_t(reg), std::uint8_t(n >> 8), std::uint8_t(n)});
}
Bytes write(std::uint16_t reg, std::uint16_t v)
{
    return framed({1, 6, std::uint8_t(reg >> 8), std::uint8_t(reg), std::uint8_t(v >> 8), std::uint8_t(v)});
}

TEST(ChamberModel, FramesAreFoundAmidNoiseAndOnlyOursAnswered)
{
    ChamberModel m;
    Bytes line{0x00, 0xFF, 0x13};               // noise before
    const Bytes other = read(0, 1, 7);          // another slave's request
    const Bytes mine = read(0x004E);
    Bytes badFrame = write(0x004E, 100);
    badFrame[5] ^= 1;                                 // a corrupted write
    const Bytes& bad = badFrame;
    for (const Bytes* b : {&other, &bad, &mine}) line.insert(line.end(), b->begin(), b->end());
    line.insert(line.end(), {1, 6, 0});          // a frame still arriving
    const Bytes out = m.serve(line, 0);
    ASSERT_EQ(out.size(), 7u);                   // one reply: the set point
    EXPECT_EQ(out, framed({1, 3, 2, out[3], out[4]}));
    EXPECT_EQ(line, (Bytes{1, 6, 0}));           // kept for the rest
    EXPECT_EQ(m.state().requests, 1u);
    EXPECT_NEAR(m.state().setpointCelsius, 25.0, 0.06);
}

TEST(ChamberModel, WritesAreEchoedAndWhatIsNotAControllerRegisterIsRefused)
{
    ChamberModel m;
    Bytes req = write(0x0202, 7);
    EXPECT_EQ(m.serve(req, 0), write(0x0202, 7));
    req = read(0x0202);
    EXPECT_EQ(m.serve(req, 0), framed({1, 3, 2, 0, 7}));
    req = write(0x1234, 1);
    EXPECT_EQ(m.serve(req, 0), framed({1, 0x86, 2}));   // no such register
    req = write(0x0000, 1);
    EXPECT_EQ(m.serve(req, 0), framed({1, 0x86, 2}));   // a reading is not written
    req = read(0x0000, 0);
    EXPECT_EQ(m.serve(req, 0), framed({1, 0x83, 3}));   // no registers asked for
    req = framed({1, 16, 0, 0x4E, 0, 1});
    EXPECT_EQ(m.serve(req, 0), framed({1, 0x90, 1}));   // a function it does not have
}

TEST(ChamberModel, AirRampsAtTheStatedRateThenSettlesAndStopReturnsToTheRoom)
{
    ChamberModel m;
    m.setModel(6.0, 10.0); // 0.1 degree a second, 10 s lag
    // 85 degrees on the controller's own scale: what its probe shows there.
    const auto tenths = static_cast<std::uint16_t>(std::lround(ChamberModel::probeShows(85.0) * 10));
    Bytes req = write(0x004E, tenths);
    m.serve(req, 0);
    m.advanceTo(100 * kSecond);
    // The ramp is at 35 degrees; the air lags about rate x lag behind it.
    EXPECT_NEAR(m.air(), 35.0 - 1.0, 0.1);
    m.advanceTo(1000 * kSecond);
    EXPECT_NEAR(m.air(), 85.0, 0.06); // the register holds tenths
    req = read(0x0000);
    const Bytes r = m.serve(req, 1000 * kSecond);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_NEAR(ChamberModel::probeTruth(std::int16_t(r[3] << 8 | r[4]) / 10.0), 85.0, 0.06);
    req = write(0x003A, 1); // stop
    m.serve(req, 1000 * kSecond);
    m.advanceTo(2000 * kSecond);
    EXPECT_NEAR(m.air(), ChamberModel::kRoomCelsius, 0.01);
    EXPECT_FALSE(m.state().running);
}

TEST(ChamberModel, FaultsShapeTheAnswers)
{
    ChamberModel m;
    m.setFault(ChamberFault::NoAnswer);
    Bytes req = read(0x0000);
    EXPECT_TRUE(m.serve(req, 0).empty());
    EXPECT_EQ(m.state().requests, 1u);
    EXPECT_EQ(m.state().answered, 0u);

    m.setFault(ChamberFault::Garbled);
    req = read(0x0000);
    const Bytes g = m.serve(req, 0);
    ASSERT_EQ(g.size(), 7u);
    EXPECT_NE(g, framed({g[0], g[1], g[2], g[3], g[4]})) << "the CRC must fail";

    m.setFault(ChamberFault::StuckReading);
    const auto tenths = static_cast<std::uint16_t>(std::lround(ChamberModel::probeShows(-40.0) * 10));
    req = write(0x004E, tenths);
    m.serve(req, 0);
    m.advanceTo(600 * kSecond);
    EXPECT_NEAR(m.air(), -40.0, 0.06);
    EXPECT_NEAR(ChamberModel::probeTruth(m.state().shownCelsius), 25.0, 0.06);
}

} // namespace
} // namespace simboard
