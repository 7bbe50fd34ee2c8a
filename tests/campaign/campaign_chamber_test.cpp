// Whole campaigns on the simulated board with its chamber, through the real
// libCalora.so: the chamber's faults come in the middle of a campaign and
// the campaign pauses and resumes, or ends with the DUT off and the chamber
// at its safe set point, and its log says which. The soak runs on a clock
// ten times faster than real time, so a silent minute takes six seconds of
// the test (the library's own time-outs stay real).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "board/sim_board_test.h"
#include "campaign/runner.h"
#include "tests/campaign/sqlite_rows.h"
#include "engine/session.h"

namespace {

using namespace zelbo::campaign;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTimeScale = 10.0;

const char* const kPlan = R"([board]
rnf = 0.2
[matrix]
temperature = [25, 40]
mode = ["quarter"]
vref = [1.0, 2.0]
clk = 2000
[capture]
timebase = "1 ms"
settle = 0.05
ch3 = "I A"
[chamber]
window = 1.0
tj_band = 0.5
tj_stable = 10
max_soak = 150
silence_limit = 60
safe_setpoint = 23
[[measure]]
name = "Ipeak A"
channel = 3
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = "5 %"
tolerance_abs = 0.06
)";

class ChamberCampaign : public ::testing::Test {
protected:
    fs::path dir;
    simboard::Control ctl;
    std::unique_ptr<zelbo::engine::Session> session;
    std::unique_ptr<Chamber> chamber;
    std::thread injector;

    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("zelbo-campaign-chamber-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        zelbo::engine::SessionOptions so;
        so.sim = true;
        session = std::make_unique<zelbo::engine::Session>(so);
        const std::string port = ctl.startChamber();
        ASSERT_FALSE(port.empty());
        ctl.setChamberFault(simboard::ChamberFault::None);
        // A quick chamber and die: the faults are the subject, not the ramp.
        ctl.setChamberModel(600.0, 0.5);
        ctl.setThermalModel(25.0, 1.0);
        std::string error;
        chamber = openCaloraChamber(port, &error);
        ASSERT_TRUE(chamber) << error;
    }

    void TearDown() override
    {
        if (injector.joinable()) injector.join();
        ctl.setChamberFault(simboard::ChamberFault::None);
        if (session) session->close();
        ctl.setThermalModel(25.0, 20.0);
        fs::remove_all(dir);
    }

    // Runs the plan; `atRamp` is called once, at the first reading on the
    // way to 40 degrees.
    RunSummary run(const std::function<void()>& atRamp, const char* text = kPlan)
    {
        const auto read = readPlan(text);
        EXPECT_TRUE(read.plan) << read.error;
        const Plan& plan = *read.plan;
        SessionInstrument inst(*session);
        ResultStore store((dir / "c.sqlite").string());
        store.beginRun({plan.text, plan.hash, "c", "", "zelbo", "", inst.board(), inst.chip(), chamber->describe()},
                       false);
        RunnerOptions o;
        const auto origin = Clock::now();
        o.now = [origin] {
            return origin + std::chrono::duration_cast<Clock::duration>((Clock::now() - origin) * kTimeScale);
        };
        o.sleep = [](std::chrono::milliseconds d) {
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(double(d.count()) / kTimeScale));
        };
        bool fired = false;
        o.progress = [&](const Progress& p) {
            if (!fired && p.temperature == 40.0 && p.state == "ramp") {
                fired = true;
                atRamp();
            }
        };
        const RunSummary s = runCampaign(plan, inst, store, chamber.get(), o);
        store.endRun(outcomeName(s.outcome));
        return s;
    }

    std::vector<std::string> query(const std::string& sql) { return sqliteRows((dir / "c.sqlite").string(), sql); }

    bool logged(const std::string& part)
    {
        for (const auto& e : query("SELECT text FROM events"))
            if (e.find(part) != std::string::npos) return true;
        return false;
    }

    void expectDutOff()
    {
        EXPECT_FALSE(session->poweredOn());
        EXPECT_EQ(ctl.supplyMillivolts(), 0);
    }
};

TEST_F(ChamberCampaign, SilentForAMinuteThePausedCampaignResumesAndFinishes)
{
    const auto s = run([&] {
        ctl.setChamberFault(simboard::ChamberFault::NoAnswer);
        // A minute of the soak's clock.
        injector = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::duration<double>(60.0 / kTimeScale));
            ctl.setChamberFault(simboard::ChamberFault::None);
        });
    });
    EXPECT_EQ(s.outcome, Outcome::Finished) << s.message;
    EXPECT_EQ(s.measured, 4u);
    EXPECT_EQ(s.passed, 4u);
    EXPECT_TRUE(logged("does not answer: pausing")) << ::testing::PrintToString(query("SELECT text FROM events"));
    EXPECT_TRUE(logged("answers again after"));
    EXPECT_EQ(query("SELECT temperature, soak, count(*) FROM points GROUP BY temperature ORDER BY temperature"),
              (std::vector<std::string>{"25.0|settled|2", "40.0|settled|2"}));
    expectDutOff();
    EXPECT_NEAR(ctl.chamber().setpointCelsius, 23.0, 0.15);
    EXPECT_TRUE(logged("chamber left at 23 °C"));
}

TEST_F(ChamberCampaign, GarbledRepliesForeverEndTheCampaignSafely)
{
    // Every reply fails its CRC, yet writes land: the campaign cannot tell
    // its chamber is there, ends at the silence limit, and the safe set
    // point it sends reaches the controller all the same.
    const auto s = run([&] { ctl.setChamberFault(simboard::ChamberFault::Garbled); });
    EXPECT_EQ(s.outcome, Outcome::ChamberLost) << s.message;
    EXPECT_EQ(s.measured, 2u);
    expectDutOff();
    EXPECT_NEAR(ctl.chamber().setpointCelsius, 23.0, 0.15);
    EXPECT_TRUE(logged("DUT powered off"));
    EXPECT_TRUE(logged("chamber lost: the chamber stopped answering at 40 °C"))
        << ::testing::PrintToString(query("SELECT text FROM events"));
    EXPECT_TRUE(logged("chamber silent for more than 60 s"));
    EXPECT_EQ(query("SELECT outcome FROM runs"), std::vector<std::string>{"chamber lost"});
    // Nothing at 40 degrees is in the database.
    EXPECT_EQ(query("SELECT DISTINCT temperature FROM points"), std::vector<std::string>{"25.0"});
}

TEST_F(ChamberCampaign, AControllerSilentForGoodEndsTheCampaignAndTheLogSaysTheSafeSetPointFailed)
{
    const auto s = run([&] { ctl.setChamberFault(simboard::ChamberFault::NoAnswer); });
    EXPECT_EQ(s.outcome, Outcome::ChamberLost) << s.message;
    EXPECT_EQ(s.measured, 2u);
    expectDutOff();
    const auto events = query("SELECT text FROM events");
    EXPECT_TRUE(logged("chamber silent for more than 60 s")) << ::testing::PrintToString(events);
    EXPECT_TRUE(logged("chamber left at 23 °C (the controller did not answer)"));
    // The DUT went off before the chamber was tried.
    const auto off = std::find(events.begin(), events.end(), "DUT powered off");
    ASSERT_NE(off, events.end());
    EXPECT_TRUE(std::any_of(off, events.end(),
                            [](const std::string& e) { return e.rfind("chamber left at 23", 0) == 0; }));
}

TEST_F(ChamberCampaign, AReadingStuckOffTheSetPointTimesTheSoakOutAndSaysSo)
{
    const auto s = run([&] { ctl.setChamberFault(simboard::ChamberFault::StuckReading); });
    EXPECT_EQ(s.outcome, Outcome::Finished) << s.message;
    EXPECT_EQ(s.measured, 4u);
    EXPECT_TRUE(logged("chamber reading stuck at")) << ::testing::PrintToString(query("SELECT text FROM events"));
    EXPECT_TRUE(logged("the reading was stuck"));
    EXPECT_TRUE(logged("soak timed out at 40 °C: its points are measured and marked so"));
    EXPECT_EQ(query("SELECT temperature, soak, count(*) FROM points GROUP BY temperature ORDER BY temperature"),
              (std::vector<std::string>{"25.0|settled|2", "40.0|soak timed out|2"}));
    expectDutOff();
}

} // namespace
