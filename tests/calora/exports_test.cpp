// The exports through libCalora.so, as a program calls them, against the
// simulated controller, with the library's real time-outs.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "calora/calora.h"
#include "tests/calora/sim_controller.h"

using calora_test::Bytes;
using calora_test::Reply;
using calora_test::StderrCapture;
using calora_test::withCrc;
using Lines = std::vector<std::string>;

namespace {

constexpr double kA = 6e-06, kB = 0.9959, kC = 2.3287;

Bytes writeFrame(std::uint16_t reg, std::uint16_t value)
{
    return withCrc({0x01, 0x06, static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg & 0xFF),
                    static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)});
}

class CaloraExports : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("CALORA_PORT", sim.slavePath().c_str(), 1);
        SetCalibrationData(kA, kB, kC);
    }
    void TearDown() override
    {
        SetCalibrationData(kA, kB, kC);
        ::unsetenv("CALORA_PORT");
        EXPECT_EQ(sim.badCrcCount(), 0);
    }
    calora_test::SimController sim;
};

TEST_F(CaloraExports, WritesAndReadsSendTheirFramesByteForByte)
{
    StderrCapture err;
    EXPECT_TRUE(StopTemp());
    EXPECT_TRUE(RunTemp());
    ReadTemp();
    ReadTemp2();
    EXPECT_EQ(SetPoint1(25.0), 1.0);
    EXPECT_TRUE(SetPoint2(-10.0));
    EXPECT_EQ(SetBarGraphDisplaySel(9), 1);
    EXPECT_EQ(SetTransmissionOutputType(1, 0), 1);
    EXPECT_EQ(SetTransmissionOutputType(2, 5), 1);
    EXPECT_EQ(SetTransmissionOutputType(3, 9), 1);
    EXPECT_TRUE(SetInput2UseSel(2));
    EXPECT_EQ(SetInputAutoTransfer(1, 200), 1);
    EXPECT_EQ(SetInputAutoTransfer(2, 255), 1);
    const std::vector<Bytes> expected = {
        {0x01, 0x06, 0x00, 0x3A, 0x00, 0x01, 0x68, 0x07},
        {0x01, 0x06, 0x00, 0x3A, 0x00, 0x00, 0xA9, 0xC7},
        {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A},
        {0x01, 0x03, 0x00, 0x02, 0x00, 0x01, 0x25, 0xCA},
        withCrc({0x01, 0x06, 0x00, 0x4E, 0x01, 0x10}),
        writeFrame(0x005A, 0xFFB4),
        writeFrame(0x0202, 9),
        writeFrame(0x0242, 0),
        writeFrame(0x0248, 5),
        writeFrame(0x024E, 9),
        writeFrame(0x0286, 2),
        writeFrame(0x0034, 200),
        writeFrame(0x0036, 255),
    };
    EXPECT_EQ(sim.requests(), expected);
    EXPECT_TRUE(err.lines().empty());

    // Not a temperature: nothing is sent, the export fails.
    EXPECT_EQ(SetPoint1(std::nan("")), 0.0);
    EXPECT_FALSE(SetPoint2(INFINITY));
    EXPECT_EQ(sim.requests().size(), expected.size());
}

TEST_F(CaloraExports, BadArgumentsAreRefusedWithTheirMessageAndSendNothing)
{
    auto check = [](auto call, const std::string& line) {
        StderrCapture err;
        EXPECT_EQ(static_cast<int>(call()), 0) << line;
        EXPECT_EQ(err.lines(), Lines{line});
    };
    const std::string range9 = "Calora [warning] Invalid value: 0 to 9 only";
    check([] { return SetTransmissionOutputType(4, 3); }, "Calora [error] SetTransmissionOutputType Failed");
    check([] { return SetTransmissionOutputType(0, 0); }, "Calora [error] SetTransmissionOutputType Failed");
    check([] { return SetTransmissionOutputType(4, 12); }, range9); // the value is checked first
    check([] { return SetTransmissionOutputType(1, 10); }, range9);
    check([] { return SetBarGraphDisplaySel(10); }, range9);
    check([] { return SetInput2UseSel(3); }, "Calora [warning] Invalid value: 0 to 2 only");
    check([] { return SetInputAutoTransfer(0, 1); }, "Calora [warning] SetInputAutoTransfer failed");
    check([] { return SetInputAutoTransfer(3, 1); }, "Calora [warning] SetInputAutoTransfer failed");
    EXPECT_TRUE(sim.requests().empty());
}

TEST_F(CaloraExports, ReadingsAreScaledThroughTheCalibration)
{
    sim.setRegister(0x0000, 250);
    sim.setRegister(0x0002, 272);
    sim.setRegister(0x004E, 40000);
    sim.setRegister(0x005A, 40001);
    sim.setRegister(0x0202, 0x0107);
    EXPECT_NEAR(ReadTemp(), 22.76, 0.005);
    EXPECT_NEAR(ReadTemp2(), 24.97, 0.005);
    const double t1 = GetSetPoint1(), t2 = GetSetPoint2(); // 4000.0 and -2553.5 on the controller
    EXPECT_NEAR(kA * t1 * t1 + kB * t1 + kC, 4000.0, 1e-6);
    EXPECT_NEAR(kA * t2 * t2 + kB * t2 + kC, -2553.5, 1e-6);
    EXPECT_EQ(GetBarGraphDisplaySel(), 7);
    ASSERT_EQ(SetPoint1(-40.0), 1.0);
    EXPECT_NEAR(GetSetPoint1(), -40.0, 0.06);

    EXPECT_TRUE(SetCalibrationData(1e-12, 1.0, 0.0));
    EXPECT_NEAR(ReadTemp(), 25.0, 1e-6);
    EXPECT_TRUE(SetCalibrationData(0.0, 1.0, 0.0)); // a = 0: no reading
    EXPECT_TRUE(std::isnan(ReadTemp()));
    EXPECT_TRUE(SetCalibrationData(1.0, 0.0, 100.0)); // no real root at 25
    EXPECT_TRUE(std::isnan(ReadTemp()));
}

TEST_F(CaloraExports, FailedExchangesAreRetriedForWritesOnlyAndReadAsNaN)
{
    sim.setResponder([](const Bytes& req, int) {
        Bytes b = req;
        b[4] ^= 0x01; // wrong echo for writes, garbage for reads
        return Reply{b, {}};
    });
    StderrCapture err;
    EXPECT_FALSE(StopTemp());
    EXPECT_EQ(sim.requests().size(), 10U);
    EXPECT_EQ(SetPoint1(25.0), 0.0);
    EXPECT_EQ(sim.requests().size(), 20U);
    EXPECT_TRUE(std::isnan(ReadTemp()));
    EXPECT_EQ(GetBarGraphDisplaySel(), 0xFF);
    EXPECT_EQ(sim.requests().size(), 22U);
    sim.setResponder([](const Bytes&, int) { return Reply{}; }); // one silent exchange: 700 ms
    EXPECT_TRUE(std::isnan(GetSetPoint2()));
    EXPECT_EQ(sim.requests().size(), 23U);
    EXPECT_TRUE(err.lines().empty());
}

TEST(CaloraExportsNoPort, MissingPortIsReportedAndEveryExportFails)
{
    ::setenv("CALORA_PORT", "/nonexistent/ttyCalora", 1);
    StderrCapture err;
    EXPECT_FALSE(StopTemp());
    EXPECT_FALSE(RunTemp());
    EXPECT_EQ(SetPoint1(25.0), 0.0);
    EXPECT_FALSE(SetPoint2(25.0));
    EXPECT_TRUE(std::isnan(ReadTemp()));
    EXPECT_TRUE(std::isnan(ReadTemp2()));
    EXPECT_TRUE(std::isnan(GetSetPoint1()));
    EXPECT_TRUE(std::isnan(GetSetPoint2()));
    EXPECT_EQ(SetBarGraphDisplaySel(1), 0);
    EXPECT_EQ(GetBarGraphDisplaySel(), 0xFF);
    EXPECT_EQ(SetTransmissionOutputType(1, 1), 0);
    EXPECT_FALSE(SetInput2UseSel(1));
    EXPECT_EQ(SetInputAutoTransfer(1, 1), 0);
    EXPECT_TRUE(SetCalibrationData(kA, kB, kC)); // needs no port
    EXPECT_EQ(err.lines(), Lines(13, "Calora [plain] Cannot open Communication Port.\\nPlease quit the "
                                     "application & re-start your PC."));
    ::unsetenv("CALORA_PORT");
}

TEST_F(CaloraExports, CoefficientsMayChangeWhileAnotherThreadReads)
{
    sim.setRegister(0x0000, 250);
    std::thread reader([] {
        for (int i = 0; i < 20; ++i) {
            const double t = ReadTemp();
            EXPECT_TRUE(std::fabs(t - 22.76) < 0.005 || std::fabs(t - 25.0) < 1e-6) << t;
        }
    });
    for (int i = 0; i < 2000; ++i)
        SetCalibrationData(i % 2 ? kA : 1e-12, i % 2 ? kB : 1.0, i % 2 ? kC : 0.0);
    reader.join();
}

} // namespace
