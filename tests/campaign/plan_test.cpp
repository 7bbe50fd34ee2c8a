// The plan reader and the limit formulas: what a good plan becomes, and
// hostile plans refused with the line that is wrong.

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "campaign/formula.h"
#include "campaign/plan.h"
#include "common/toml.h"

namespace {

using namespace zelbo::campaign;

double eval(const std::string& text, std::map<std::string, double> vars = {})
{
    std::string error;
    auto f = Formula::parse(text, {"vref", "rnf", "clk"}, &error);
    if (!f) {
        ADD_FAILURE() << text << ": " << error;
        return NAN;
    }
    return f->evaluate(vars);
}

std::string refusal(const std::string& text)
{
    std::string error;
    auto f = Formula::parse(text, {"vref", "rnf"}, &error);
    EXPECT_FALSE(f) << text;
    return error;
}

TEST(Formula, ArithmeticFollowsPrecedenceAndFunctions)
{
    EXPECT_DOUBLE_EQ(eval("vref / 5 / rnf", {{"vref", 1.5}, {"rnf", 0.2}}), 1.5);
    EXPECT_DOUBLE_EQ(eval("1 + 2 * 3 - 4 / 2"), 5.0);
    EXPECT_DOUBLE_EQ(eval("(1 + 2) * 3"), 9.0);
    EXPECT_DOUBLE_EQ(eval("-2 * -3"), 6.0);
    EXPECT_DOUBLE_EQ(eval("2 - -1"), 3.0);
    EXPECT_DOUBLE_EQ(eval("1.5e3 + .5"), 1500.5);
    EXPECT_DOUBLE_EQ(eval("max(1, min(5, clk))", {{"clk", 3}}), 3.0);
    EXPECT_DOUBLE_EQ(eval("abs(-2) + sqrt(16)"), 6.0);
}

TEST(Formula, NoFiniteResultIsNaNNotACrash)
{
    EXPECT_TRUE(std::isnan(eval("1 / (vref - 1)", {{"vref", 1.0}})));
    EXPECT_TRUE(std::isnan(eval("sqrt(vref - 2)", {{"vref", 1.0}})));
    EXPECT_TRUE(std::isnan(eval("vref")));                 // not given
    EXPECT_TRUE(std::isnan(eval("1e308 * 1e308")));
}

TEST(Formula, AnythingElseIsRefusedWithWhere)
{
    EXPECT_NE(refusal("vref / 5 / rnff").find("unknown name \"rnff\""), std::string::npos);
    EXPECT_NE(refusal("vref +").find("column 7"), std::string::npos);
    EXPECT_NE(refusal("(vref").find("\")\" is missing"), std::string::npos);
    refusal("");
    refusal("vref ** 2");
    refusal("system(1)");
    refusal("max(1)");
    refusal("1..2");
    refusal("vref; 1");
    refusal(std::string(300, '1'));
    // Deep nesting ends in a refusal, not a stack overflow.
    refusal(std::string(200, '(') + "1" + std::string(200, ')'));
    refusal(std::string(200, '-') + "1");
}

const char* const kGood = R"(title = "Current"
[board]
rnf = 0.2
[matrix]
temperature = [-40, 25, 125]
vref = [0.5, 1.0]
mode = ["full", "quarter"]
[capture]
sweeps = 3
ch3 = "I A"
ch4 = { source = "I B", scale = "500 mA" }
[chamber]
fixed_soak = 600
on_soak_timeout = "skip"
[[measure]]
name = "Ipeak"
channel = 3
figure = "ipeak"
expect = "vref / 5 / rnf"
tolerance = "5 %"
[[measure]]
channel = 4
figure = "frequency"
min = "clk / 4 * 0.99"
)";

TEST(Plan, AGoodPlanNestsAsWrittenWithStableKeys)
{
    const auto r = readPlan(kGood, "p.toml");
    ASSERT_TRUE(r.plan) << r.error;
    const Plan& p = *r.plan;
    EXPECT_EQ(p.title, "Current");
    EXPECT_TRUE(p.hasTemperatures);
    EXPECT_TRUE(p.skipOnSoakTimeout);
    ASSERT_TRUE(p.soak.fixedSoak);
    EXPECT_EQ(p.soak.fixedSoak->count(), 600);
    ASSERT_EQ(p.axes.size(), 3u);
    EXPECT_EQ(p.axes[0].axis, Axis::Temperature);
    EXPECT_EQ(p.axes[1].axis, Axis::Vref);
    EXPECT_EQ(p.axes[2].axis, Axis::Mode);
    const auto pts = p.points();
    ASSERT_EQ(pts.size(), 12u);
    // The innermost axis moves fastest; temperature changes only twice.
    EXPECT_EQ(*pts[0].temperature, -40);
    EXPECT_EQ(pts[0].mode, "full");
    EXPECT_EQ(pts[1].mode, "quarter");
    EXPECT_EQ(pts[2].vref, 1.0);
    EXPECT_EQ(*pts[4].temperature, 25);
    EXPECT_EQ(pts[0].key, "T=-40 mode=full vref=0.5 clk=2000 mth=0 dir=cw");
    EXPECT_EQ(p.measures[1].name, "frequency CH4");
    EXPECT_EQ(p.measures[1].unit, "Hz");
    EXPECT_EQ(p.capture.channels[3]->output, 1);
    const auto [lo, hi] = p.measures[0].limit.band(pts[0].vars);
    EXPECT_NEAR(lo, 0.475, 1e-12);
    EXPECT_NEAR(hi, 0.525, 1e-12);
    // The same text, the same keys and hash; "order" changes the nesting.
    const auto again = readPlan(kGood, "p.toml");
    EXPECT_EQ(again.plan->hash, p.hash);
    std::string reordered = kGood;
    reordered.replace(reordered.find("[capture]"), 0, "order = [\"mode\", \"temperature\", \"vref\"]\n");
    const auto o = readPlan(reordered);
    ASSERT_TRUE(o.plan) << o.error;
    EXPECT_EQ(o.plan->points()[1].vref, 1.0);
    EXPECT_EQ(o.plan->points()[2].temperature, 25);
    EXPECT_NE(o.plan->hash, p.hash);
}

TEST(Plan, RangesExpandAndScalarsAreOneValue)
{
    const auto r = readPlan("[matrix]\nvref = { from = 0.5, to = 2.0, step = 0.5 }\nclk = 1000\n"
                            "[[measure]]\nchannel = 1\nfigure = \"mean\"\n");
    ASSERT_TRUE(r.plan) << r.error;
    EXPECT_EQ(r.plan->pointCount(), 4u);
    EXPECT_EQ(r.plan->points()[3].vref, 2.0);
    EXPECT_EQ(r.plan->points()[0].clk, 1000.0);
}

// Replaces `from` in the good plan by `to` and expects a refusal naming `line`.
void expectRefused(const std::string& from, const std::string& to, int line, const std::string& words)
{
    std::string text = kGood;
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    const auto r = readPlan(text, "p.toml");
    EXPECT_FALSE(r.plan) << to;
    EXPECT_NE(r.error.find("p.toml:" + std::to_string(line) + ":"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find(words), std::string::npos) << r.error;
}

TEST(Plan, HostilePlansAreRefusedNamingTheLine)
{
    expectRefused("rnf = 0.2", "rnf = 0.2\nrnff = 1", 4, "unknown key \"rnff\"");
    expectRefused("sweeps = 3", "sweeps = \"3\"", 9, "sweeps must be a whole number");
    expectRefused("sweeps = 3", "sweeps = 1000", 9, "sweeps must be 1 to 100");
    expectRefused("vref = [0.5, 1.0]", "vref = [0.5, 9]", 6, "VREF");
    expectRefused("vref = [0.5, 1.0]", "vref = [0.5, 0.5]", 6, "twice");
    expectRefused("mode = [\"full\", \"quarter\"]", "mode = [\"full\", \"eighth\"]", 7, "eighth");
    expectRefused("expect = \"vref / 5 / rnf\"", "expect = \"vref / 5 / rn\"", 19, "unknown name \"rn\"");
    // Evaluable text, no value at one point of the matrix.
    expectRefused("expect = \"vref / 5 / rnf\"", "expect = \"1 / (vref - 1)\"", 15, "no value at the point");
    expectRefused("figure = \"ipeak\"", "figure = \"ipeak\"\nmin = 1", 15, "either expect");
    expectRefused("channel = 4\nfigure = \"frequency\"", "channel = 2\nfigure = \"ipeak\"", 23, "coil current");
    expectRefused("[chamber]\nfixed_soak = 600\non_soak_timeout = \"skip\"\n", "", 4,
                  "temperatures need a [chamber]");
    expectRefused("title = \"Current\"", "title = \"Current\"\ntitle = \"Again\"", 2, "");
    expectRefused("temperature = [-40, 25, 125]", "temperature = [-40, 25, 1250]", 5, "out of range");
}

TEST(Plan, AMillionPointsAreRefusedBeforeAnythingIsExpanded)
{
    std::string many = "[";
    for (int i = 0; i < 1000; ++i) many += std::to_string(1 + i) + (i < 999 ? "," : "]");
    const std::string text = "[matrix]\nvref = { from = 0.001, to = 1.0, step = 0.001 }\nclk = " + many +
                             "\n[[measure]]\nchannel = 1\nfigure = \"mean\"\n";
    const auto r = readPlan(text, "big.toml");
    EXPECT_FALSE(r.plan);
    EXPECT_NE(r.error.find("big.toml:3:"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("more than 10000 points"), std::string::npos) << r.error;
}

TEST(Plan, SyntaxErrorsCarryTheLine)
{
    const auto r = readPlan("title = \"x\"\n[matrix\nvref = 1\n", "s.toml");
    EXPECT_FALSE(r.plan);
    EXPECT_EQ(r.error.rfind("s.toml:2:", 0), 0u) << r.error;
    EXPECT_FALSE(readPlan("", "e.toml").plan);
    EXPECT_FALSE(readPlan(std::string("\0\xff\xfe", 3)).plan);
    // Non-ASCII text outside strings and comments is refused before the
    // TOML parser sees it (it is not safe on such text); inside them it is
    // read as written.
    const auto bad = readPlan("title = \"x\" # 25 \xC2\xB0" "C\n\xC2\xB0 = 1\n", "u.toml");
    EXPECT_FALSE(bad.plan);
    EXPECT_EQ(bad.error.rfind("u.toml:2:", 0), 0u) << bad.error;
    EXPECT_EQ(zelbo::nonAsciiOutsideStrings("a = \"\xC2\xB0\" # \xC2\xB1\nb = '" "''\n\xC3\xA9'" "''\n"), 0);
    EXPECT_EQ(zelbo::nonAsciiOutsideStrings("a = \"x\\\"\" \xC3\xA9\n"), 1);
}

TEST(Plan, ShippedExamplesAreAccepted)
{
    for (const char* name : {"current_accuracy.toml", "campaign_demo.toml", "chamber_demo.toml"}) {
        const auto r = readPlanFile(std::string(ZELBO_SOURCE_DIR) + "/examples/" + name);
        EXPECT_TRUE(r.plan) << name << ": " << r.error;
    }
}

} // namespace
