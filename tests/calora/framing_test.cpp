// Frames, reply parsing, scaling and calibration: the pure part of the library.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "calora/calibration.h"
#include "calora/modbus_rtu.h"
#include "calora/report.h"
#include "tests/calora/sim_controller.h"

using calora::Calibration;
using calora_test::Bytes;

namespace {

Bytes toBytes(const calora::Frame& f)
{
    return Bytes(f.begin(), f.end());
}

TEST(CaloraFraming, RequestsMatchTheReferenceFramesByteForByte)
{
    EXPECT_EQ(toBytes(calora::writeRequest(0x003A, 1)), (Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x01, 0x68, 0x07}));
    EXPECT_EQ(toBytes(calora::writeRequest(0x003A, 0)), (Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x00, 0xA9, 0xC7}));
    EXPECT_EQ(toBytes(calora::readRequest(0x0000)), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_EQ(toBytes(calora::readRequest(0x0002)), (Bytes{0x01, 0x03, 0x00, 0x02, 0x00, 0x01, 0x25, 0xCA}));
    // High bytes of register and value in the right places, CRC as an
    // independent implementation computes it.
    const Bytes f = toBytes(calora::writeRequest(0x024E, 0xABCD));
    EXPECT_EQ(f, calora_test::withCrc({0x01, 0x06, 0x02, 0x4E, 0xAB, 0xCD}));
}

TEST(CaloraFraming, CrcAgreesWithTheReferenceOnAssortedInputs)
{
    EXPECT_EQ(calora::crc16({}), 0xFFFF);
    Bytes data;
    for (int n = 0; n < 64; ++n) {
        data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
        EXPECT_EQ(calora::crc16(data), calora_test::referenceCrc(data.data(), data.size())) << "length " << data.size();
    }
}

TEST(CaloraFraming, ReadReplyIsAcceptedOnlyWhenEveryFieldIsRight)
{
    const Bytes good = calora_test::withCrc({0x01, 0x03, 0x02, 0x9C, 0x41});
    ASSERT_EQ(calora::parseReadReply(good), 0x9C41);

    struct Case {
        const char* what;
        Bytes reply;
    };
    Bytes badCrc = good;
    badCrc[6] ^= 0x01;
    const std::vector<Case> rejected = {
        {"empty", {}},
        {"short", Bytes(good.begin(), good.begin() + 5)},
        {"long", [&] { Bytes b = good; b.push_back(0); return b; }()},
        {"other slave", calora_test::withCrc({0x02, 0x03, 0x02, 0x9C, 0x41})},
        {"other function", calora_test::withCrc({0x01, 0x04, 0x02, 0x9C, 0x41})},
        {"byte count", calora_test::withCrc({0x01, 0x03, 0x04, 0x9C, 0x41})},
        {"CRC", badCrc},
        {"exception reply", calora_test::withCrc({0x01, 0x83, 0x02})},
    };
    for (const Case& c : rejected)
        EXPECT_FALSE(calora::parseReadReply(c.reply).has_value()) << c.what;
}

TEST(CaloraFraming, EchoMustBeTheWholeRequest)
{
    const calora::Frame req = calora::writeRequest(0x004E, 272);
    const Bytes echo = toBytes(req);
    EXPECT_TRUE(calora::isEcho(req, echo));
    EXPECT_FALSE(calora::isEcho(req, Bytes(echo.begin(), echo.begin() + 7)));
    for (std::size_t i = 0; i < echo.size(); ++i) {
        Bytes wrong = echo;
        wrong[i] ^= 0x80;
        EXPECT_FALSE(calora::isEcho(req, wrong)) << "byte " << i;
    }
}

TEST(CaloraScaling, SetpointsAreEncodedWithTheCalibration)
{
    const Calibration initial;
    EXPECT_EQ(calora::encodeSetpoint(25.0, initial), 272);
    EXPECT_EQ(calora::encodeSetpoint(-10.0, initial), 65460);
    EXPECT_EQ(calora::encodeSetpoint(0.0, initial), 23);

    const Calibration identity{0.0, 1.0, 0.0};
    EXPECT_EQ(calora::encodeSetpoint(0.25, identity), 2); // halves go to the even neighbour
    EXPECT_EQ(calora::encodeSetpoint(0.75, identity), 8);
    EXPECT_EQ(calora::encodeSetpoint(-0.1, identity), 65535);
    EXPECT_EQ(calora::encodeSetpoint(1e6, identity), 10000000 % 65536); // low 16 bits
    EXPECT_TRUE(calora::encodeSetpoint(1e300, identity).has_value());   // no overflowing conversion

    EXPECT_FALSE(calora::encodeSetpoint(std::nan(""), initial).has_value());
    EXPECT_FALSE(calora::encodeSetpoint(INFINITY, initial).has_value());
    EXPECT_FALSE(calora::encodeSetpoint(1e200, initial).has_value()); // a*t*t overflows
}

TEST(CaloraScaling, RegistersAreDecodedWithNegativesAbove4000)
{
    EXPECT_DOUBLE_EQ(calora::decodeRegister(40000), 4000.0);
    EXPECT_NEAR(calora::decodeRegister(40001), -2553.5, 1e-9);
    EXPECT_DOUBLE_EQ(calora::decodeRegister(0), 0.0);
    EXPECT_NEAR(calora::decodeRegister(65535), -0.1, 1e-9);
    EXPECT_DOUBLE_EQ(calora::decodeRegister(250), 25.0);
}

TEST(CaloraScaling, ReadingInvertsTheCalibration)
{
    const Calibration initial;
    EXPECT_NEAR(calora::invertCalibration(calora::decodeRegister(250), initial), 22.76, 0.005);
    EXPECT_NEAR(calora::invertCalibration(calora::decodeRegister(272), initial), 24.97, 0.005);

    // Reading back what a setpoint wrote gives the setpoint to within the
    // register's tenth of a degree.
    for (double t = -50.0; t <= 300.0; t += 7.3) {
        const auto v = calora::encodeSetpoint(t, initial);
        ASSERT_TRUE(v);
        EXPECT_NEAR(calora::invertCalibration(calora::decodeRegister(*v), initial), t, 0.06) << t;
    }

    // A nearly linear calibration keeps its digits.
    EXPECT_NEAR(calora::invertCalibration(4000.0, Calibration{1e-12, 1.0, 0.0}), 4000.0, 1e-4);
    // Negative b takes the same root formula.
    const Calibration negB{0.5, -1.0, 0.0};
    const double t = calora::invertCalibration(4.0, negB);
    EXPECT_NEAR(0.5 * t * t - t, 4.0, 1e-9);
    EXPECT_NEAR(t, 4.0, 1e-9);
}

TEST(CaloraScaling, UndefinedCalibrationsReadAsNaN)
{
    EXPECT_TRUE(std::isnan(calora::invertCalibration(25.0, Calibration{0.0, 1.0, 0.0})));  // a = 0
    EXPECT_TRUE(std::isnan(calora::invertCalibration(0.0, Calibration{1.0, 0.0, 10.0})));  // no real root
    EXPECT_TRUE(std::isnan(calora::invertCalibration(25.0, Calibration{NAN, 1.0, 0.0})));
}

TEST(CaloraReport, EveryMessageIsOneLineWithItsKind)
{
    using calora::MessageKind;
    EXPECT_EQ(calora::formatMessageLine(MessageKind::Warning, "Invalid value: 0 to 9 only"),
              "Calora [warning] Invalid value: 0 to 9 only\n");
    EXPECT_EQ(calora::formatMessageLine(MessageKind::Error, "SetTransmissionOutputType Failed"),
              "Calora [error] SetTransmissionOutputType Failed\n");
    EXPECT_EQ(calora::formatMessageLine(MessageKind::Plain, "a\nb\\c"), "Calora [plain] a\\nb\\\\c\n");
}

} // namespace
