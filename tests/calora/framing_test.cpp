// Frames, reply parsing and scaling: the pure part of the library.

#include <gtest/gtest.h>

#include <cmath>

#include "calora/calibration.h"
#include "calora/modbus_rtu.h"
#include "tests/calora/sim_controller.h"

using calora::Calibration;
using calora_test::Bytes;
using calora_test::withCrc;

namespace {

Bytes bytes(const calora::Frame& f) { return Bytes(f.begin(), f.end()); }

TEST(CaloraFraming, RequestsAndCrcMatchTheReferences)
{
    EXPECT_EQ(bytes(calora::writeRequest(0x003A, 1)), (Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x01, 0x68, 0x07}));
    EXPECT_EQ(bytes(calora::writeRequest(0x003A, 0)), (Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x00, 0xA9, 0xC7}));
    EXPECT_EQ(bytes(calora::readRequest(0x0000)), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_EQ(bytes(calora::readRequest(0x0002)), (Bytes{0x01, 0x03, 0x00, 0x02, 0x00, 0x01, 0x25, 0xCA}));
    EXPECT_EQ(bytes(calora::writeRequest(0x024E, 0xABCD)), withCrc({0x01, 0x06, 0x02, 0x4E, 0xAB, 0xCD}));
    Bytes data;
    for (int n = 0; n < 40; ++n) {
        data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
        ASSERT_EQ(calora::crc16(data), calora_test::referenceCrc(data.data(), data.size())) << data.size();
    }
}

TEST(CaloraFraming, ReadReplyIsAcceptedOnlyWhenEveryFieldIsRight)
{
    const Bytes good = withCrc({0x01, 0x03, 0x02, 0x9C, 0x41});
    ASSERT_EQ(calora::parseReadReply(good), 0x9C41);
    Bytes badCrc = good, longer = good;
    badCrc[6] ^= 0x01;
    longer.push_back(0);
    for (const Bytes& bad : {Bytes{}, Bytes(good.begin(), good.begin() + 5), longer, badCrc,
                             withCrc({0x02, 0x03, 0x02, 0x9C, 0x41}), withCrc({0x01, 0x04, 0x02, 0x9C, 0x41}),
                             withCrc({0x01, 0x03, 0x04, 0x9C, 0x41}), withCrc({0x01, 0x83, 0x02})})
        EXPECT_FALSE(calora::parseReadReply(bad).has_value()) << ::testing::PrintToString(bad);
}

TEST(CaloraScaling, SetpointsAreEncodedWithTheCalibration)
{
    const Calibration initial, identity{0.0, 1.0, 0.0};
    EXPECT_EQ(calora::encodeSetpoint(25.0, initial), 272);
    EXPECT_EQ(calora::encodeSetpoint(-10.0, initial), 65460);
    EXPECT_EQ(calora::encodeSetpoint(0.0, initial), 23);
    EXPECT_EQ(calora::encodeSetpoint(0.25, identity), 2); // halves to the even neighbour
    EXPECT_EQ(calora::encodeSetpoint(0.75, identity), 8);
    EXPECT_EQ(calora::encodeSetpoint(-0.1, identity), 65535);
    EXPECT_EQ(calora::encodeSetpoint(1e6, identity), 10000000 % 65536); // low 16 bits
    EXPECT_TRUE(calora::encodeSetpoint(1e300, identity).has_value());   // no overflowing conversion
    EXPECT_FALSE(calora::encodeSetpoint(std::nan(""), initial).has_value());
    EXPECT_FALSE(calora::encodeSetpoint(1e200, initial).has_value()); // a*t*t overflows
}

TEST(CaloraScaling, ReadingDecodesAndInvertsTheCalibration)
{
    EXPECT_DOUBLE_EQ(calora::decodeRegister(40000), 4000.0);
    EXPECT_NEAR(calora::decodeRegister(40001), -2553.5, 1e-9);
    EXPECT_NEAR(calora::decodeRegister(65535), -0.1, 1e-9);

    const Calibration initial;
    EXPECT_NEAR(calora::invertCalibration(calora::decodeRegister(250), initial), 22.76, 0.005);
    EXPECT_NEAR(calora::invertCalibration(calora::decodeRegister(272), initial), 24.97, 0.005);
    for (double t = -50.0; t <= 300.0; t += 7.3) { // what a setpoint wrote reads back
        const auto v = calora::encodeSetpoint(t, initial);
        ASSERT_TRUE(v);
        EXPECT_NEAR(calora::invertCalibration(calora::decodeRegister(*v), initial), t, 0.06) << t;
    }
    // A nearly linear calibration keeps its digits; negative b takes the same root.
    EXPECT_NEAR(calora::invertCalibration(4000.0, Calibration{1e-12, 1.0, 0.0}), 4000.0, 1e-4);
    EXPECT_NEAR(calora::invertCalibration(4.0, Calibration{0.5, -1.0, 0.0}), 4.0, 1e-9);
    // Undefined: a = 0, no real root, non-finite coefficients.
    EXPECT_TRUE(std::isnan(calora::invertCalibration(25.0, Calibration{0.0, 1.0, 0.0})));
    EXPECT_TRUE(std::isnan(calora::invertCalibration(0.0, Calibration{1.0, 0.0, 10.0})));
    EXPECT_TRUE(std::isnan(calora::invertCalibration(25.0, Calibration{NAN, 1.0, 0.0})));
}

} // namespace
