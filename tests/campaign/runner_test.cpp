// The runner's decisions without a board: verdicts from the data it has,
// resume at the first missing point, a clean stop, the chamber's endings,
// and a database refused when it belongs to another plan.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "campaign/campaign.h"
#include "campaign/runner.h"
#include "tests/campaign/sqlite_rows.h"

namespace {

using namespace zelbo::campaign;
namespace fs = std::filesystem;

// Ipeak = VREF / 5 / RNF times `gain`; a point listed in `noData` gives no
// figure; every call is noted.
class FakeInstrument : public Instrument {
public:
    double gain = 1.0;
    std::set<double> noDataAtVref;
    std::vector<std::string> calls;
    bool powered = false;
    int measures = 0;
    std::function<void()> onMeasure;

    std::string board() override { return "fake"; }
    std::string chip() override { return "TQ51705"; }
    std::string firmware() override { return "fake firmware"; }
    void prepare(const Plan&) override { calls.push_back("prepare"); }
    void powerOn() override
    {
        powered = true;
        calls.push_back("on");
    }
    void powerOff() override
    {
        powered = false;
        calls.push_back("off");
    }
    Applied apply(const Point& p) override
    {
        EXPECT_TRUE(powered);
        vref_ = p.vref;
        calls.push_back("apply " + p.key);
        Applied a;
        a.mode = p.mode;
        a.direction = p.cw ? "cw" : "ccw";
        a.vref = p.vref;
        a.mth = p.mth;
        a.clk = p.clk;
        a.rnf = 0.2;
        a.vdut = 5.0;
        return a;
    }
    void idle() override {}
    void rest() override { calls.push_back("rest"); }
    std::array<zelbo::scope::Measurement, 4> measure() override
    {
        ++measures;
        if (onMeasure) onMeasure();
        std::array<zelbo::scope::Measurement, 4> m{};
        if (!noDataAtVref.count(vref_)) {
            m[2].samples = 4096;
            m[2].peakCurrent = vref_ / 5 / 0.2 * gain;
        }
        return m;
    }
    std::optional<double> tj() override { return 30.0; }
    // A recording of `sweeps` lines naming the point's VREF; `recordFails`
    // throws after writing half of it.
    bool recordFails = false;
    std::uint64_t record(const fs::path& path, int sweeps) override
    {
        std::ofstream out(path);
        for (int k = 0; k < sweeps; ++k) out << "vref " << vref_ << "\n";
        if (recordFails) throw std::runtime_error("The recording could not be written.");
        return static_cast<std::uint64_t>(sweeps);
    }
    void pause(std::chrono::milliseconds) override {}

private:
    double vref_ = 0;
};

class FakeChamber : public Chamber {
public:
    std::vector<double> setpoints;
    bool setSetpoint(double c) override
    {
        setpoints.push_back(c);
        return true;
    }
    std::optional<double> air() override { return setpoints.empty() ? 25.0 : setpoints.back(); }
    std::string describe() const override { return "fake chamber"; }
};

const char* const kPlan = R"(title = "t"
[matrix]
vref = [0.5, 1.0, 1.5, 2.0]
mode = ["full", "quarter"]
[capture]
sweeps = 2
ch3 = "I A"
[[measure]]
name = "Ipeak"
channel = 3
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = 5
)";

const char* const kTempPlan = R"([matrix]
temperature = [-40, 25, 125]
vref = [0.5, 1.0]
[capture]
ch3 = "I A"
[chamber]
safe_setpoint = 22
[[measure]]
channel = 3
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = 5
)";

class Runner : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("zelbo-campaign-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    static Plan plan(const char* text)
    {
        auto r = readPlan(text);
        EXPECT_TRUE(r.plan) << r.error;
        return *r.plan;
    }
    std::string db() const { return (dir / "r.sqlite").string(); }

    // Rows of a query, each as text joined by '|'.
    std::vector<std::string> query(const std::string& sql) { return sqliteRows(db(), sql); }
};

TEST_F(Runner, VerdictsFollowTheLimitsAndNoDataNeverPasses)
{
    const Plan p = plan(kPlan);
    FakeInstrument inst;
    inst.gain = 1.03;                  // within 5 %
    inst.noDataAtVref = {1.5};         // the figure is missing there
    ResultStore store(db());
    store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", ""}, false);
    std::vector<std::string> seen;
    RunnerOptions o;
    o.pointDone = [&](const PointRecord& r) { seen.push_back(r.verdict); };
    const auto s = runCampaign(p, inst, store, nullptr, o);
    EXPECT_EQ(s.outcome, Outcome::Finished);
    EXPECT_EQ(s.measured, 8u);
    EXPECT_EQ(s.passed, 6u);
    EXPECT_EQ(s.failed, 2u);
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_EQ(inst.measures, 16);      // two sweeps a point
    EXPECT_EQ(inst.calls.front(), "prepare");
    EXPECT_EQ(inst.calls.back(), "off");
    EXPECT_EQ(query("SELECT count(*) FROM measurements WHERE verdict = 'no data' AND value IS NULL"),
              std::vector<std::string>{"2"});
    EXPECT_EQ(query("SELECT count(*) FROM points p JOIN measurements m ON m.point = p.id "
                    "WHERE p.verdict = 'pass' AND (m.value IS NULL OR m.verdict != 'pass')"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(query("SELECT m.verdict, round(value, 4), low, high FROM measurements m JOIN points p ON p.id = m.point "
                    "WHERE p.idx = 0"),
              std::vector<std::string>{"pass|0.515|0.475|0.525"});
}

TEST_F(Runner, AStopBetweenPointsThenAResumeMeasuresEachPointOnce)
{
    const Plan p = plan(kPlan);
    {
        FakeInstrument inst;
        ResultStore store(db());
        store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", ""}, false);
        RunnerOptions o;
        o.stopRequested = [&] { return inst.measures >= 6; }; // after the third point
        const auto s = runCampaign(p, inst, store, nullptr, o);
        EXPECT_EQ(s.outcome, Outcome::Stopped);
        EXPECT_EQ(s.measured, 3u);
        EXPECT_FALSE(inst.powered);
    }
    FakeInstrument inst;
    ResultStore store(db());
    EXPECT_EQ(store.planHash(), p.hash);
    store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", ""}, true);
    const auto s = runCampaign(p, inst, store, nullptr, {});
    EXPECT_EQ(s.outcome, Outcome::Finished);
    EXPECT_EQ(s.alreadyDone, 3u);
    EXPECT_EQ(s.measured, 5u);
    // It continues at the first point without a result.
    EXPECT_EQ(inst.calls[2], "apply mode=quarter vref=1 clk=2000 mth=0 dir=cw");
    EXPECT_EQ(query("SELECT count(*), count(DISTINCT key), min(idx), max(idx) FROM points"),
              std::vector<std::string>{"8|8|0|7"});
    EXPECT_EQ(query("SELECT count(*) FROM runs"), std::vector<std::string>{"2"});
}

TEST_F(Runner, RecordedSweepsLieBesideTheDatabaseOnlyForCommittedPoints)
{
    std::string text = kPlan;
    text.replace(text.find("sweeps = 2"), 0, "record = true\n");
    const Plan p = plan(text.c_str());
    FakeInstrument inst;
    inst.onMeasure = [&] {
        if (inst.measures == 7) inst.recordFails = true; // the fourth point's
    };
    {
        ResultStore store(db());
        store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", ""}, false);
        const auto s = runCampaign(p, inst, store, nullptr, {});
        EXPECT_EQ(s.outcome, Outcome::Failed);
        EXPECT_EQ(s.measured, 3u);
    }
    // Three whole files named by index and settings, and no half one.
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() != ".sqlite") files.insert(e.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"r_0000_full_vref0.5_clk2000_mth0_cw.zrec",
                                            "r_0001_quarter_vref0.5_clk2000_mth0_cw.zrec",
                                            "r_0002_full_vref1_clk2000_mth0_cw.zrec"}));
    std::ifstream in(dir / "r_0001_quarter_vref0.5_clk2000_mth0_cw.zrec");
    const std::string body((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(body, "vref 0.5\nvref 0.5\n");
    EXPECT_EQ(query("SELECT idx, recording FROM points ORDER BY idx"),
              (std::vector<std::string>{"0|r_0000_full_vref0.5_clk2000_mth0_cw.zrec",
                                        "1|r_0001_quarter_vref0.5_clk2000_mth0_cw.zrec",
                                        "2|r_0002_full_vref1_clk2000_mth0_cw.zrec"}));
    // Resumed: the missing points get theirs.
    inst.recordFails = false;
    inst.onMeasure = nullptr;
    ResultStore store(db());
    store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", ""}, true);
    EXPECT_EQ(runCampaign(p, inst, store, nullptr, {}).measured, 5u);
    EXPECT_EQ(query("SELECT count(*) FROM points WHERE recording LIKE 'r_000%.zrec'"), std::vector<std::string>{"8"});
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().extension() == ".zrec";
    EXPECT_EQ(n, 8u);
}

TEST_F(Runner, AFailingBoardLeavesNoHalfPointAndPowersOff)
{
    const Plan p = plan(kPlan);
    FakeInstrument inst;
    inst.onMeasure = [&] {
        if (inst.measures == 5) throw std::runtime_error("The board stopped answering.");
    };
    ResultStore store(db());
    store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", ""}, false);
    const auto s = runCampaign(p, inst, store, nullptr, {});
    EXPECT_EQ(s.outcome, Outcome::Failed);
    EXPECT_EQ(s.message, "The board stopped answering.");
    EXPECT_FALSE(inst.powered);
    EXPECT_EQ(query("SELECT count(*) FROM points"), std::vector<std::string>{"2"});
    EXPECT_EQ(query("SELECT count(*) FROM measurements"), std::vector<std::string>{"2"});
}

TEST_F(Runner, TemperaturesSettleOnceEachAndTheChamberEndsSafe)
{
    const Plan p = plan(kTempPlan);
    FakeInstrument inst;
    FakeChamber chamber;
    std::vector<double> settled;
    RunnerOptions o;
    o.settle = [&](Chamber& c, double t, const SoakPlan& sp, const SoakHooks& h) {
        EXPECT_EQ(sp.safeSetpoint, 22);
        c.setSetpoint(t);
        h.sample(t, h.tj(), "settled");
        h.log("settled at " + std::to_string(t));
        settled.push_back(t);
        return t == 125 ? SoakResult::SoakTimedOut : SoakResult::Settled;
    };
    ResultStore store(db());
    store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", "fake chamber"}, false);
    const auto s = runCampaign(p, inst, store, &chamber, o);
    EXPECT_EQ(s.outcome, Outcome::Finished);
    EXPECT_EQ(settled, (std::vector<double>{-40, 25, 125}));
    // The DUT rests through each soak and is driven again for the points.
    EXPECT_EQ(std::count(inst.calls.begin(), inst.calls.end(), "rest"), 3);
    EXPECT_EQ(chamber.setpoints.back(), 22);
    EXPECT_FALSE(inst.powered);
    // Measured anyway after a timed-out soak, and marked so.
    EXPECT_EQ(query("SELECT temperature, soak, count(*) FROM points GROUP BY temperature ORDER BY temperature"),
              (std::vector<std::string>{"-40.0|settled|2", "25.0|settled|2", "125.0|soak timed out|2"}));
    EXPECT_EQ(query("SELECT count(*) FROM chamber_log"), std::vector<std::string>{"3"});
    EXPECT_GE(query("SELECT text FROM events WHERE text LIKE 'chamber left at 22%'").size(), 1u);
}

TEST_F(Runner, ALostChamberOrASkippedSoakEndsOrSkipsWithTheDutOff)
{
    std::string text = kTempPlan;
    text.replace(text.find("safe_setpoint"), 0, "on_soak_timeout = \"skip\"\n");
    const Plan p = plan(text.c_str());
    FakeInstrument inst;
    FakeChamber chamber;
    RunnerOptions o;
    o.settle = [&](Chamber& c, double t, const SoakPlan&, const SoakHooks&) {
        c.setSetpoint(t);
        if (t == -40) return SoakResult::SoakTimedOut;
        return t == 25 ? SoakResult::Settled : SoakResult::ChamberLost;
    };
    ResultStore store(db());
    store.beginRun({p.text, p.hash, "p", "t", "zelbo", "fw", "fake", "chip", "fake chamber"}, false);
    const auto s = runCampaign(p, inst, store, &chamber, o);
    EXPECT_EQ(s.outcome, Outcome::ChamberLost);
    EXPECT_EQ(s.skipped, 2u);
    EXPECT_EQ(s.measured, 2u);
    EXPECT_FALSE(inst.powered);
    EXPECT_EQ(chamber.setpoints.back(), 22);
    EXPECT_EQ(query("SELECT DISTINCT temperature FROM points"), std::vector<std::string>{"25.0"});
}

TEST_F(Runner, ADatabaseOfAnotherPlanOrABadPlanIsRefusedBeforeTheBoard)
{
    const fs::path planFile = dir / "p.toml";
    std::ofstream(planFile) << kPlan;
    {
        const Plan other = plan(kTempPlan);
        ResultStore store(db());
        store.beginRun({other.text, other.hash, "o", "", "zelbo", "fw", "fake", "chip", ""}, false);
    }
    CampaignOptions o;
    o.planPath = planFile.string();
    o.dbPath = db();
    o.resume = true;
    o.sim = true;
    auto r = runCampaignFile(o);
    EXPECT_EQ(r.code, CampaignRun::Code::Usage);
    EXPECT_NE(r.error.find("another plan"), std::string::npos) << r.error;

    std::ofstream(planFile) << "[matrix]\nvref = [1]\nvreff = 2\n";
    r = runCampaignFile(o);
    EXPECT_EQ(r.code, CampaignRun::Code::Usage);
    EXPECT_NE(r.error.find("p.toml:3: unknown key \"vreff\""), std::string::npos) << r.error;

    std::ofstream(dir / "junk.sqlite") << "this is not a database, not at all, 0123456789";
    std::ofstream(planFile) << kPlan;
    o.dbPath = (dir / "junk.sqlite").string();
    r = runCampaignFile(o);
    EXPECT_EQ(r.code, CampaignRun::Code::Usage);
    EXPECT_NE(r.error.find("not a campaign database"), std::string::npos) << r.error;
}

} // namespace
