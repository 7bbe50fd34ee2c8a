// The fourteen exports of libCalora.so, called through the shared library as
// a program would, against the simulated controller on a pseudo-terminal.
// These run with the library's real time-outs (100 ms per expected byte).

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
using calora_test::SimController;
using calora_test::StderrCapture;

namespace {

using Lines = std::vector<std::string>;

constexpr double kA = 6e-06, kB = 0.9959, kC = 2.3287;

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
    Bytes onlyRequest() const
    {
        const auto r = sim.requests();
        return r.size() == 1 ? r[0] : Bytes{};
    }

    SimController sim;
};

TEST_F(CaloraExports, RunStopAndReadsSendTheReferenceFrames)
{
    StderrCapture err;
    EXPECT_TRUE(StopTemp());
    EXPECT_EQ(onlyRequest(), (Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x01, 0x68, 0x07}));
    sim.clearRequests();
    EXPECT_TRUE(RunTemp());
    EXPECT_EQ(onlyRequest(), (Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x00, 0xA9, 0xC7}));
    sim.clearRequests();
    ReadTemp();
    EXPECT_EQ(onlyRequest(), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    sim.clearRequests();
    ReadTemp2();
    EXPECT_EQ(onlyRequest(), (Bytes{0x01, 0x03, 0x00, 0x02, 0x00, 0x01, 0x25, 0xCA}));
    EXPECT_TRUE(err.lines().empty());
}

TEST_F(CaloraExports, SetpointsAreCalibratedAndEchoed)
{
    EXPECT_EQ(SetPoint1(25.0), 1.0);
    EXPECT_EQ(onlyRequest(), calora_test::withCrc({0x01, 0x06, 0x00, 0x4E, 0x01, 0x10}));
    sim.clearRequests();
    EXPECT_TRUE(SetPoint2(-10.0));
    EXPECT_EQ(onlyRequest(), calora_test::withCrc({0x01, 0x06, 0x00, 0x5A, 0xFF, 0xB4}));

    // Not a temperature: nothing is sent, the export fails.
    sim.clearRequests();
    EXPECT_EQ(SetPoint1(std::nan("")), 0.0);
    EXPECT_FALSE(SetPoint2(INFINITY));
    EXPECT_TRUE(sim.requests().empty());
}

TEST_F(CaloraExports, OptionWritesGoToTheirRegisters)
{
    struct Case {
        const char* what;
        bool ok;
        std::uint16_t reg, value;
    };
    const std::vector<Case> cases = {
        {"bar graph 9", SetBarGraphDisplaySel(9) == 1, 0x0202, 9},
        {"output 1", SetTransmissionOutputType(1, 0) == 1, 0x0242, 0},
        {"output 2", SetTransmissionOutputType(2, 5) == 1, 0x0248, 5},
        {"output 3", SetTransmissionOutputType(3, 9) == 1, 0x024E, 9},
        {"input 2 use", SetInput2UseSel(2), 0x0286, 2},
        {"auto transfer 1", SetInputAutoTransfer(1, 200) == 1, 0x0034, 200},
        {"auto transfer 2", SetInputAutoTransfer(2, 255) == 1, 0x0036, 255},
    };
    const auto reqs = sim.requests();
    ASSERT_EQ(reqs.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_TRUE(c.ok) << c.what;
        EXPECT_EQ(reqs[i], calora_test::withCrc({0x01, 0x06, static_cast<std::uint8_t>(c.reg >> 8),
                                                 static_cast<std::uint8_t>(c.reg & 0xFF), 0x00,
                                                 static_cast<std::uint8_t>(c.value)}))
            << c.what;
    }
}

TEST_F(CaloraExports, BadArgumentsAreRefusedWithTheirMessageAndSendNothing)
{
    struct Case {
        const char* what;
        int result;
        Lines expected;
    };
    std::vector<Case> cases;
    auto run = [&](const char* what, auto call, Lines expected) {
        StderrCapture err;
        const int result = static_cast<int>(call());
        cases.push_back({what, result, expected});
        EXPECT_EQ(err.lines(), expected) << what;
        EXPECT_EQ(result, 0) << what;
    };
    run("output 4, type 3", [] { return SetTransmissionOutputType(4, 3); },
        {"Calora [error] SetTransmissionOutputType Failed"});
    run("output 4, type 12", [] { return SetTransmissionOutputType(4, 12); },
        {"Calora [warning] Invalid value: 0 to 9 only"});
    run("output 1, type 10", [] { return SetTransmissionOutputType(1, 10); },
        {"Calora [warning] Invalid value: 0 to 9 only"});
    run("output 0, type 0", [] { return SetTransmissionOutputType(0, 0); },
        {"Calora [error] SetTransmissionOutputType Failed"});
    run("bar graph 10", [] { return SetBarGraphDisplaySel(10); }, {"Calora [warning] Invalid value: 0 to 9 only"});
    run("input 2 use 3", [] { return SetInput2UseSel(3); }, {"Calora [warning] Invalid value: 0 to 2 only"});
    run("auto transfer 0", [] { return SetInputAutoTransfer(0, 1); }, {"Calora [warning] SetInputAutoTransfer failed"});
    run("auto transfer 3", [] { return SetInputAutoTransfer(3, 1); }, {"Calora [warning] SetInputAutoTransfer failed"});
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
    const double t1 = GetSetPoint1(); // 4000.0 on the controller's side
    EXPECT_NEAR(kA * t1 * t1 + kB * t1 + kC, 4000.0, 1e-6);
    const double t2 = GetSetPoint2(); // -2553.5 on the controller's side
    EXPECT_NEAR(kA * t2 * t2 + kB * t2 + kC, -2553.5, 1e-6);
    EXPECT_EQ(GetBarGraphDisplaySel(), 7);

    // A setpoint read back is the setpoint written, to a tenth of a degree.
    ASSERT_EQ(SetPoint1(-40.0), 1.0);
    EXPECT_NEAR(GetSetPoint1(), -40.0, 0.06);

    // New coefficients apply to the next reading; with a = 0 there is none.
    EXPECT_TRUE(SetCalibrationData(1e-12, 1.0, 0.0));
    EXPECT_NEAR(ReadTemp(), 25.0, 1e-6);
    EXPECT_TRUE(SetCalibrationData(0.0, 1.0, 0.0));
    EXPECT_TRUE(std::isnan(ReadTemp()));
    EXPECT_TRUE(SetCalibrationData(1.0, 0.0, 100.0)); // no real root at 25
    EXPECT_TRUE(std::isnan(ReadTemp()));
}

TEST_F(CaloraExports, ControllerThatNeverEchoesIsAskedTenTimes)
{
    sim.setResponder([](const Bytes& req, int) {
        Bytes b = req;
        b[4] ^= 0x01;
        return Reply{b, {}};
    });
    StderrCapture err;
    EXPECT_FALSE(StopTemp());
    EXPECT_EQ(sim.requests().size(), 10U);
    EXPECT_EQ(SetPoint1(25.0), 0.0);
    EXPECT_EQ(sim.requests().size(), 20U);
    EXPECT_TRUE(err.lines().empty());
}

TEST_F(CaloraExports, ReadsWithoutAValidReplyGiveNaN)
{
    sim.setResponder([](const Bytes&, int) { return Reply{Bytes{0x01, 0x03, 0x02, 0x00, 0xFA, 0x00, 0x00}, {}}; });
    EXPECT_TRUE(std::isnan(ReadTemp()));
    EXPECT_EQ(GetBarGraphDisplaySel(), 0xFF);
    sim.setResponder([](const Bytes&, int) { return Reply{}; }); // one silent exchange: 700 ms
    EXPECT_TRUE(std::isnan(GetSetPoint2()));
    EXPECT_EQ(sim.requests().size(), 3U);
}

TEST(CaloraExportsNoPort, MissingPortIsReportedAndEveryExportFails)
{
    ::setenv("CALORA_PORT", "/nonexistent/ttyCalora", 1);
    const std::string line =
        "Calora [plain] Cannot open Communication Port.\\nPlease quit the application & re-start your PC.";
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
    EXPECT_EQ(err.lines(), Lines(13, line));
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
    for (int i = 0; i < 2000; ++i) {
        if (i % 2)
            SetCalibrationData(kA, kB, kC);
        else
            SetCalibrationData(1e-12, 1.0, 0.0);
    }
    reader.join();
}

} // namespace
