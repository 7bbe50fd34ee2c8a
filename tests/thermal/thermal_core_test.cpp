// The thermal core: conversions, the field texts, the log and its finish,
// the run's checks and steps, and the step timer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "thermal/monitor.h"
#include "thermal/step_timer.h"
#include "thermal/thermometer.h"

using namespace std::chrono_literals;
using namespace zelbo::thermal;

TEST(Thermometer, ConvertsTheDiodeCodeWithTheChipsCoefficients)
{
    EXPECT_NEAR(diodeMillivolts(1000), 256.41, 1e-9);
    Thermometer t;
    EXPECT_FALSE(t.last().has_value());
    t.setCoefficients(672.29, 2.0836);
    const Reading r = t.convert(2418);
    EXPECT_NEAR(r.vfMillivolts, 620.0, 0.01);
    EXPECT_NEAR(r.tjCelsius, (672.29 - 2418 * 0.25641) / 2.0836, 1e-9);
    EXPECT_NEAR(t.tj(), r.tjCelsius, 1e-12);
    // Only 12 bits are a code.
    EXPECT_EQ(t.convert(0xF3E8).code, 1000);
}

TEST(Thermometer, CoefficientsWithoutATemperatureKeepThePreviousOne)
{
    Thermometer t;
    t.setCoefficients(672.29, 2.0836);
    const double before = t.convert(2418).tjCelsius;
    t.setCoefficients(672.29, 0.0); // a chip row with B = 0
    const Reading r = t.convert(1000);
    EXPECT_DOUBLE_EQ(r.tjCelsius, before);
    EXPECT_NEAR(r.vfMillivolts, 256.41, 1e-9); // the voltage is still new
}

TEST(MonitorTexts, FieldsAndLabels)
{
    EXPECT_EQ(rnfFieldText("5"), "1.00");
    EXPECT_EQ(rnfFieldText("0"), "0.01");
    EXPECT_EQ(rnfFieldText("0.2"), "0.20");
    EXPECT_EQ(rnfFieldText("-3"), "0.01");
    EXPECT_EQ(rnfFieldText("oops"), "0.01");
    EXPECT_EQ(rnfFieldText("0.0005k"), "0.50");

    EXPECT_EQ(elapsedText(3725), "01:02:05");
    EXPECT_EQ(elapsedText(59), "00:00:59");
    EXPECT_EQ(elapsedText(100 * 3600 + 61), "100:01:01");

    EXPECT_EQ(divideText(0), "1 / 10");
    EXPECT_EQ(divideText(9), "1 / 1");
    EXPECT_EQ(divisorOfIndex(4), 6);
    EXPECT_EQ(divisorOfIndex(-1), 10);
    EXPECT_EQ(divisorOfIndex(12), 1);

    EXPECT_EQ(pinFlag("LO"), 0);
    EXPECT_EQ(pinFlag("lo"), 0);
    EXPECT_EQ(pinFlag("Lo"), 0);
    EXPECT_EQ(pinFlag("LOW"), 1);
    EXPECT_EQ(pinFlag("HI"), 1);
    EXPECT_EQ(pinFlag(""), 1);
}

TEST(TemperatureLog, RowsDescribeTheStepThatEnded)
{
    TemperatureLog log;
    StepRecord rec;
    rec.rnf = 0.20;
    rec.divisor = 10;
    log.logStep(1.0, rec, 41.257, 586.4);
    log.logStep(0.5, rec, 30.0, 609.6);
    ASSERT_EQ(log.rows().size(), 2u);
    EXPECT_EQ(log.rows()[0], (LogRow{"0", "500", "41.26", "586"}));
    EXPECT_EQ(log.rows()[1], (LogRow{"1", "250", "30.00", "610"}));
    // Time is in minutes: the row's index times the step's minutes.
    rec.minutes = 0.05;
    TemperatureLog minutes;
    for (int i = 0; i < 4; ++i) minutes.logStep(1.0, rec, 30.0, 600.0);
    std::vector<std::string> times;
    for (const auto& r : minutes.rows()) times.push_back(r.time);
    EXPECT_EQ(times, (std::vector<std::string>{"0", "0.05", "0.1", "0.15"}));
    EXPECT_EQ(minutesText(2.5), "2.5");
    EXPECT_EQ(minutesText(12), "12");
    // A record with a slipped sense resistor gives a bounded current, not inf.
    rec.rnf = 0.0;
    log.logStep(1.0, rec, 0, 0);
    EXPECT_EQ(log.rows()[2].io, "10000");
}

TEST(TemperatureLog, FinishDropsTheFirstRowAndSortsByCurrentNumerically)
{
    TemperatureLog log;
    log.setRows({{"0", "50", "25.00", "620"},
                 {"1", "1000", "60.00", "547"},
                 {"2", "500", "40.00", "589"},
                 {"3", "1000", "61.00", "545"},
                 {"4", "90", "27.00", "616"}});
    log.finish();
    std::vector<std::string> order;
    for (const auto& r : log.rows()) order.push_back(r.time);
    // "1000" after "500" (not as text), and the two 1000 mA rows keep their order.
    EXPECT_EQ(order, (std::vector<std::string>{"4", "2", "1", "3"}));

    TemperatureLog empty;
    empty.finish();
    EXPECT_TRUE(empty.rows().empty());
}

namespace {
std::vector<StepRow> threeSteps()
{
    return {{"0.5", "1.0", "HI", "LO", "HI"}, {"1.0", "1.0", "HI", "HI", "LO"}, {"1.5", "2.0", "lo", "", ""}};
}
} // namespace

TEST(MonitorRun, StartChecksTheFieldsThenTheList)
{
    MonitorRun run;
    using E = MonitorRun::StartError;
    EXPECT_EQ(run.start(threeSteps(), "", "0.2", 0), E::NoTime);
    EXPECT_EQ(run.start(threeSteps(), "1", "", 0), E::NoRnf);
    // Letters are no time and no resistance (not 0 minutes, not 0.01 ohm).
    EXPECT_EQ(run.start(threeSteps(), "soon", "0.2", 0), E::NoTime);
    EXPECT_EQ(run.start(threeSteps(), "1", "abc", 0), E::NoRnf);
    EXPECT_EQ(run.start({}, "1", "0.2", 0), E::EmptyList);
    // The list ends at the first row without a VREF.
    EXPECT_EQ(run.start({{"", "1", "", "", ""}, {"1.0", "", "", "", ""}}, "1", "0.2", 0), E::EmptyList);
    EXPECT_FALSE(run.running());
    EXPECT_STREQ(MonitorRun::errorText(E::EmptyList), "Dynamic sequence is empty.");
    EXPECT_STREQ(MonitorRun::errorText(E::NoTime), "Please indicate Time value.");
    EXPECT_STREQ(MonitorRun::errorText(E::NoRnf), "Please indicate RNF Register value.");
}

TEST(MonitorRun, StepsThroughTheRowsThenEndsWithTheLastRecord)
{
    MonitorRun run;
    run.setSecondsPerMinute(0.6); // a hundredth of a minute per minute
    auto rows = threeSteps();
    rows.push_back({"", "", "", "", ""});
    rows.push_back({"9.9", "", "", "", ""}); // after the end: never run
    ASSERT_EQ(run.start(rows, "2", "5", 4), MonitorRun::StartError::None);
    EXPECT_EQ(run.stepInterval(), 1200ms);
    EXPECT_EQ(run.stepCount(), 3u);

    auto s = run.nextStep();
    EXPECT_FALSE(s.final);
    EXPECT_EQ(s.next, 1200ms);
    EXPECT_EQ(s.record.vrefText, "0.5");
    EXPECT_EQ(s.record.mthText, "1.0");
    EXPECT_EQ((std::array{s.record.ps, s.record.mode0, s.record.mode1}), (std::array{1, 0, 1}));
    EXPECT_DOUBLE_EQ(s.record.rnf, 1.0); // clamped
    EXPECT_EQ(s.record.divisor, 6);
    run.nextStep();
    s = run.nextStep();
    EXPECT_EQ(s.record.vrefText, "1.5");
    EXPECT_EQ((std::array{s.record.ps, s.record.mode0, s.record.mode1}), (std::array{0, 1, 1}));

    s = run.nextStep();
    EXPECT_TRUE(s.final);
    EXPECT_EQ(s.record.vrefText, "1.5");
    EXPECT_FALSE(run.running());
}

TEST(MonitorRun, StopEndsTheRun)
{
    MonitorRun run;
    ASSERT_EQ(run.start(threeSteps(), "-1", "0.2", 0), MonitorRun::StartError::None);
    EXPECT_EQ(run.stepInterval(), 0ms); // a negative time steps at once
    run.nextStep();
    run.stop();
    EXPECT_FALSE(run.running());
    EXPECT_TRUE(run.nextStep().final);
}

TEST(StepTimer, FiresOnceWhenArmedAndNotWhenCancelled)
{
    std::atomic<int> fired{0};
    {
        StepTimer timer([&] { ++fired; });
        timer.arm(20ms);
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (fired.load() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
        EXPECT_EQ(fired.load(), 1);
        EXPECT_FALSE(timer.armed());

        timer.arm(1h);
        EXPECT_TRUE(timer.armed());
        timer.cancel();
        EXPECT_FALSE(timer.armed());
        // Re-arming from the expiry itself is how the run steps on.
    }
    EXPECT_EQ(fired.load(), 1); // destroyed without firing again

    std::atomic<int> chain{0};
    StepTimer* self = nullptr;
    StepTimer timer([&] {
        if (++chain < 3) self->arm(1ms);
    });
    self = &timer;
    timer.arm(1ms);
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (chain.load() < 3 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
    EXPECT_EQ(chain.load(), 3);
}

// Temp and Vf of one row come from one reading, while the reader thread
// keeps converting (here codes far apart, so a mixed row shows at once).
TEST(TemperatureLog, TempAndVfOfARowComeFromOneReading)
{
    Thermometer t;
    t.setCoefficients(672.29, 2.0836);
    t.convert(0);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (std::uint16_t code = 0; !done.load(); code ^= 4000) t.convert(code);
    });
    TemperatureLog log;
    StepRecord rec;
    for (int i = 0; i < 20000; ++i) log.logStep(1.0, rec, t);
    done = true;
    reader.join();
    int mixed = 0;
    for (const LogRow& r : log.rows()) {
        const double vf = std::stod(r.vf), tj = std::stod(r.temp);
        if (std::abs((672.29 - vf) / 2.0836 - tj) > 0.5) ++mixed;
    }
    EXPECT_EQ(mixed, 0);
}

// The monitor's step records carry the minutes the run steps by.
TEST(MonitorRun, RecordsCarryTheStepMinutes)
{
    MonitorRun run;
    ASSERT_EQ(run.start({{"1.0", "1.0", "HI", "HI", "HI"}}, "0.05", "0.2", 0), MonitorRun::StartError::None);
    EXPECT_DOUBLE_EQ(run.nextStep().record.minutes, 0.05);
    EXPECT_DOUBLE_EQ(run.nextStep().record.minutes, 0.05); // the final one too
}
