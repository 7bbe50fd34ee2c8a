// A campaign on the simulated board, in process: three chamber temperatures
// (a fake chamber whose set point becomes the simulated DUT's ambient) by
// four VREF by two modes, every point committed, every Ipeak as the model
// makes it.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "board/sim_board_test.h"
#include "campaign/runner.h"
#include "engine/session.h"
#include "scope/record/recording_format.h"

namespace {

using namespace zelbo::campaign;
namespace fs = std::filesystem;

class AmbientChamber : public Chamber {
public:
    double setpoint = 25.0;
    bool setSetpoint(double c) override
    {
        setpoint = c;
        // The die starts at the new ambient and warms with its own power
        // (the model's 20 s time constant).
        simboard::Control().setThermalModel(c, 20.0);
        return true;
    }
    std::optional<double> air() override { return setpoint; }
    std::string describe() const override { return "ambient of the simulated board"; }
};

const char* const kPlan = R"(title = "e2e"
[board]
rnf = 0.2
[matrix]
temperature = [-40, 25, 125]
mode = ["full", "quarter"]
vref = [0.5, 1.0, 1.5, 2.0]
clk = 2000
[capture]
timebase = "1 ms"
settle = 0.05
ch3 = "I A"
ch4 = "I B"
[chamber]
safe_setpoint = 23
[[measure]]
name = "Ipeak A"
channel = 3
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = "2 %"
tolerance_abs = 0.015
[[measure]]
name = "Ipeak B"
channel = 4
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = "2 %"
tolerance_abs = 0.015
)";

TEST(CampaignOnSimBoard, ThreeTemperaturesFourVrefsTwoModes)
{
    const fs::path dir = fs::temp_directory_path() / ("zelbo-campaign-e2e-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string db = (dir / "e2e.sqlite").string();
    const auto read = readPlan(kPlan);
    ASSERT_TRUE(read.plan) << read.error;
    const Plan& plan = *read.plan;

    zelbo::engine::SessionOptions so;
    so.sim = true;
    zelbo::engine::Session session(so);
    // What a calibration takes out: the front end's zero offsets.
    for (int n = 0; n < 4; ++n) simboard::Control().setScopeInputOffsets(n, 0, 0, 0);
    SessionInstrument inst(session);
    AmbientChamber chamber;
    RunnerOptions o;
    o.settle = [](Chamber& c, double t, const SoakPlan&, const SoakHooks& h) {
        c.setSetpoint(t);
        // Tj follows the ambient; wait (bounded) until it reads near it.
        for (int k = 0; k < 40; ++k) {
            const auto tj = h.tj();
            h.sample(*c.air(), tj, "soaking");
            if (tj && std::fabs(*tj - t) < 5) return SoakResult::Settled;
            h.sleep ? h.sleep(std::chrono::milliseconds(100))
                    : std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return SoakResult::SoakTimedOut;
    };
    {
        ResultStore store(db);
        store.beginRun({plan.text, plan.hash, "e2e", plan.title, "zelbo", inst.firmware(), inst.board(),
                        inst.chip(), chamber.describe()},
                       false);
        const auto s = runCampaign(plan, inst, store, &chamber, o);
        store.endRun(outcomeName(s.outcome));
        EXPECT_EQ(s.outcome, Outcome::Finished) << s.message;
        EXPECT_EQ(s.measured, 24u);
        EXPECT_EQ(s.passed, 24u);
    }
    EXPECT_FALSE(session.poweredOn());
    EXPECT_EQ(chamber.setpoint, 23);

    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(h,
                                 "SELECT p.temperature, p.mode, p.vref, p.tj, p.soak, m.value FROM points p "
                                 "JOIN measurements m ON m.point = p.id ORDER BY p.idx, m.name",
                                 -1, &st, nullptr),
              SQLITE_OK);
    int rows = 0;
    std::map<double, double> tjSum;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ++rows;
        const double t = sqlite3_column_double(st, 0), vref = sqlite3_column_double(st, 2);
        const double tj = sqlite3_column_double(st, 3), ipeak = sqlite3_column_double(st, 5);
        const std::string soak = reinterpret_cast<const char*>(sqlite3_column_text(st, 4));
        EXPECT_NEAR(ipeak, vref / 5 / 0.2, vref / 5 / 0.2 * 0.02 + 0.013) << "T " << t << " VREF " << vref;
        // The die sat at the chamber's temperature, plus a little of its own heating.
        EXPECT_GT(tj, t - 2);
        EXPECT_LT(tj, t + 40);
        tjSum[t] += tj;
        EXPECT_EQ(soak, "settled");
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    EXPECT_EQ(rows, 48);
    EXPECT_LT(tjSum[-40], tjSum[25]);
    EXPECT_LT(tjSum[25], tjSum[125]);
    session.close();
    // Kept for a look at its report when asked.
    if (const char* keep = std::getenv("ZELBO_CAMPAIGN_KEEP_DB")) {
        std::ifstream in(db, std::ios::binary);
        std::ofstream(keep, std::ios::binary) << in.rdbuf();
    }
    for (int n = 0; n < 4; ++n) {
        const auto& c = simboard::kDefaultScopeInputOffsetCodes[static_cast<std::size_t>(n)];
        simboard::Control().setScopeInputOffsets(n, c[0] * 0.070, c[1] * 0.012, c[2] * 0.012);
    }
    fs::remove_all(dir);
}

// A plan that keeps its sweeps: one recording per point beside the
// database, readable by the recording reader, with the sweeps asked of the
// channels the plan shows (among those acquired), at the point's current,
// and exactly as many with a math channel named in the header too.
TEST(CampaignOnSimBoard, RecordedSweepsOpenWithTheRecordingReader)
{
    const fs::path dir = fs::temp_directory_path() / ("zelbo-campaign-rec-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto read = readPlan(R"([matrix]
vref = [1.0, 2.0]
mode = ["quarter"]
[capture]
timebase = "1 ms"
settle = 0.05
sweeps = 3
record = true
ch3 = "I A"
ch4 = "I B"
[[measure]]
channel = 3
figure = "ipeak"
min = 0
)");
    ASSERT_TRUE(read.plan) << read.error;
    const Plan& plan = *read.plan;
    zelbo::engine::SessionOptions so;
    so.sim = true;
    zelbo::engine::Session session(so);
    session.setMath(0, "(CH3 - CH4) * 1000 / 1000 + 0");
    SessionInstrument inst(session);
    {
        ResultStore store((dir / "rec.sqlite").string());
        store.beginRun({plan.text, plan.hash, "rec", "", "zelbo", "", inst.board(), inst.chip(), ""}, false);
        const auto s = runCampaign(plan, inst, store, nullptr, {});
        EXPECT_EQ(s.outcome, Outcome::Finished) << s.message;
        EXPECT_EQ(s.measured, 2u);
    }
    session.close();
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "rec.sqlite").c_str(), &h), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(h, "SELECT vref, recording FROM points ORDER BY idx", -1, &st, nullptr), SQLITE_OK);
    int points = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ++points;
        const double vref = sqlite3_column_double(st, 0);
        const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        EXPECT_EQ(name.rfind("rec_000", 0), 0u) << name;
        zelbo::scope::recording::Header header;
        int sweeps = 0;
        double peak = 0;
        std::string error;
        ASSERT_TRUE(zelbo::scope::recording::readFile(
            (dir / name).string(), header,
            [&](const zelbo::scope::recording::Sweep& sw) {
                ++sweeps;
                EXPECT_EQ(sw.present & 0x0C, 0x0C);
                for (double v : sw.values[2]) peak = std::max(peak, std::fabs(v));
                return true;
            },
            &error))
            << error;
        EXPECT_EQ(header.mask & 0x0C, 0x0C);
        EXPECT_EQ(sweeps, 3) << name;
        const auto info = zelbo::scope::recording::headerInfo(header);
        ASSERT_EQ(info.math.size(), 1u) << header.json;
        EXPECT_EQ(info.math[0].key, "M1");
        // The coil's peak current, as the model drives it (front-end offsets
        // left in: a generous band).
        EXPECT_NEAR(peak, vref / 5 / 0.2, 0.15 * vref / 5 / 0.2 + 0.1) << name;
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    EXPECT_EQ(points, 2);
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().extension(), ".part") << e.path();
    fs::remove_all(dir);
}

} // namespace
