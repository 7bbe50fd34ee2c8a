// The command language: splitting, quoting, comments and the checks that
// refuse a script before the board is touched.

#include <gtest/gtest.h>

#include "cli/script.h"

using namespace zelbo::cli;

namespace {

std::vector<std::string> texts(const ParseResult& r)
{
    std::vector<std::string> out;
    for (const auto& c : r.commands) out.push_back(c.text());
    return out;
}

} // namespace

TEST(CliScript, SplitsOnSemicolonsAndNewlinesAndSkipsCommentsAndBlanks)
{
    const auto r = parseScript("power on; set vref 1.2\n\n# a comment\nrun --freq 2k --steps 200 # trailing\n;;capture --out \"my sweep.csv\"");
    ASSERT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(texts(r), (std::vector<std::string>{"power on", "set vref 1.2", "run --freq 2k --steps 200",
                                                  "capture --out my sweep.csv"}));
    EXPECT_EQ(r.commands[2].line, 4);
    EXPECT_EQ(r.commands[3].words[2], "my sweep.csv");
}

TEST(CliScript, RefusesBrokenScripts)
{
    EXPECT_FALSE(parseScript("load \"unterminated").error.empty());
    EXPECT_FALSE(parseScript("load \"two\nlines\"").error.empty());
    EXPECT_FALSE(parseScript(std::string("power on\0", 9)).error.empty());
    EXPECT_FALSE(parseScript(std::string(kMaxWordBytes + 1, 'x')).error.empty());
    EXPECT_TRUE(parseScript("").commands.empty());
}

TEST(CliScript, ChecksEachCommandsArguments)
{
    auto check = [](const char* text) { return checkCommand(parseScript(text).commands.at(0)); };
    const auto run = check("run --steps 200 --freq 2k");
    ASSERT_TRUE(run.step);
    EXPECT_EQ(run.step->kind, Step::Kind::Run);
    EXPECT_DOUBLE_EQ(run.step->value, 2000.0);
    EXPECT_EQ(run.step->steps, 200);
    EXPECT_FALSE(check("run --freq 2k").step->steps.has_value());
    EXPECT_EQ(check("run --freq 2k --steps 1000").step->steps, 1000);

    const auto seq = check("sequence \"my seq.csv\" --cycles 3 --delay 250");
    ASSERT_TRUE(seq.step);
    EXPECT_EQ(seq.step->kind, Step::Kind::Sequence);
    EXPECT_EQ(seq.step->name, "my seq.csv");
    EXPECT_EQ(seq.step->cycles, 3);
    EXPECT_EQ(seq.step->delayMs, 250);
    EXPECT_EQ(check("sequence s.csv").step->cycles, 1);
    EXPECT_EQ(check("sequence s.csv --endless").step->cycles, 0);

    const auto recd = check("record \"my run.zrec\" --seconds 2.5 --max-mb 10");
    ASSERT_TRUE(recd.step);
    EXPECT_EQ(recd.step->kind, Step::Kind::Record);
    EXPECT_EQ(recd.step->name, "my run.zrec");
    EXPECT_DOUBLE_EQ(recd.step->value, 2.5);
    EXPECT_DOUBLE_EQ(recd.step->maxMegabytes, 10.0);
    for (const char* wrong : {"record r.zrec", "record --seconds 1", "record r.zrec --seconds 0",
                              "record r.zrec --seconds 1 --max-mb -1", "record a b --seconds 1",
                              "record r.zrec --seconds", "convert in.zrec", "set output 1 C", "set output 5 A"})
        EXPECT_FALSE(check(wrong).step) << wrong;
    const auto conv = check("convert in.zrec out.csv");
    ASSERT_TRUE(conv.step);
    EXPECT_EQ(conv.step->name, "in.zrec");
    EXPECT_EQ(conv.step->target, "out.csv");
    EXPECT_EQ(check("set output 4 B").step->output, 1);

    const auto src = check("set source 3 I B");
    ASSERT_TRUE(src.step);
    EXPECT_EQ(src.step->kind, Step::Kind::SetSource);
    EXPECT_EQ(src.step->channel, 2);
    EXPECT_EQ(src.step->name, "I");
    EXPECT_EQ(src.step->output, 1);

    const auto pin = check("set pin enable 1");
    ASSERT_TRUE(pin.step);
    EXPECT_EQ(pin.step->name, "enable");
    EXPECT_TRUE(pin.step->high);

    for (const char* wrong : {"power", "power sideways", "set vref", "set vref abc", "set vref 1.2x", "set colour 1",
                              "set pin enable 2", "run --steps 200", "run --freq", "run --freq 2k --steps 0",
                              "run --freq 2k --steps 1000000001",
                              "set vref 9", "set vref -0.1", "set mth 3.6", "set rnf 2", "set vdut 4",
                              "set pin nose 1", "set mode sideways", "set source 5 V", "set source 1 X",
                              "set source 1 I C", "set source", "measure now", "run --freq 200k", "run --freq 0.001", "run --freq 2k --steps 1.5", "run --freq -3",
                              "capture sweep.csv", "load", "sleep", "sleep -1", "stop now", "dance",
                              "sequence", "sequence a.csv b.csv", "sequence a.csv --cycles 0",
                              "sequence a.csv --cycles 100", "sequence a.csv --delay 60001", "sequence a.csv --loop",
                              "sequence a.csv --cycles", "calibrate now"}) {
        const auto r = check(wrong);
        EXPECT_FALSE(r.step) << wrong;
        EXPECT_NE(r.error.find(wrong), std::string::npos) << r.error;
    }
}

TEST(CliScript, ReadsFrequenciesWithTheirSuffixes)
{
    EXPECT_EQ(parseFrequency("2k"), 2000.0);
    EXPECT_EQ(parseFrequency("2.5 k"), 2500.0);
    EXPECT_EQ(parseFrequency("750"), 750.0);
    EXPECT_EQ(parseFrequency("1kHz"), 1000.0);
    EXPECT_FALSE(parseFrequency("k"));
    EXPECT_FALSE(parseFrequency("0"));
    EXPECT_FALSE(parseFrequency("nan"));
    EXPECT_FALSE(parseFrequency("2kk"));
}

TEST(CliScript, ReadsTheOscilloscopesTextsAsTheWindowListsThem)
{
    auto check = [](const char* text) { return checkCommand(parseScript(text).commands.at(0)); };
    const auto tb = check("set timebase 2.5 ms");
    ASSERT_TRUE(tb.step);
    EXPECT_EQ(tb.step->name, "2.5 ms");
    EXPECT_TRUE(check("set timebase 10us").step);
    EXPECT_TRUE(check("set rate 10 MHz").step);
    const auto trig = check("set trigger 3 0.5 -");
    ASSERT_TRUE(trig.step);
    EXPECT_EQ(trig.step->channel, 2);
    EXPECT_TRUE(trig.step->falling);
    EXPECT_DOUBLE_EQ(trig.step->value, 0.5);
    EXPECT_FALSE(check("set trigger off").step->high);
    EXPECT_TRUE(check("power on").step->high);
    EXPECT_FALSE(check("power on --no-clock").step->high);
    EXPECT_TRUE(check("set stoplevel H").step->high);
    EXPECT_DOUBLE_EQ(check("set duty 25").step->value, 25.0);
    EXPECT_EQ(check("set chip TQ 51701 B").step->name, "TQ 51701 B");
    EXPECT_EQ(check("list").step->kind, Step::Kind::List);
    for (const char* wrong : {"set timebase 100 ms", "set timebase fast", "set rate 3 kHz", "set scale 5 1 V",
                              "set scale 1 3 V", "set trigger 1 40", "set trigger 1 0.5 up", "set channel 1 maybe",
                              "get", "status now", "set duty 0", "set duty 101", "set stoplevel M",
                              "power on --clock", "list boards"}) {
        const auto r = check(wrong);
        EXPECT_FALSE(r.step) << wrong;
    }
}

TEST(CliScript, ChecksMathChannelsAndSpectraBeforeTheBoardIsTouched)
{
    auto check = [](const char* text) { return checkCommand(parseScript(text).commands.at(0)); };
    // The words after the number are the expression; the channels' units are
    // known only when it runs, so CH1 + CH3 passes here (both may be volts).
    auto m = check("set math 2 CH1 + CH3 * 2");
    ASSERT_TRUE(m.step) << m.error;
    EXPECT_EQ(m.step->kind, Step::Kind::SetMath);
    EXPECT_EQ(m.step->channel, 1);
    EXPECT_EQ(m.step->name, "CH1 + CH3 * 2");
    m = check("set math 1 off");
    ASSERT_TRUE(m.step);
    EXPECT_TRUE(m.step->name.empty());
    // No choice of units makes a volt or ampere plus an ohm; nor is CH5 a channel.
    EXPECT_NE(check("set math 1 CH1 + 2 ohm").error.find("Cannot add"), std::string::npos);
    EXPECT_FALSE(check("set math 1 CH5").step);
    EXPECT_FALSE(check("set math 3 CH1").step);
    EXPECT_FALSE(check("set math 1").step);

    auto s = check("spectrum ch3 --window flat-top --harmonics 20 --out bins.csv");
    ASSERT_TRUE(s.step) << s.error;
    EXPECT_EQ(s.step->kind, Step::Kind::Spectrum);
    EXPECT_EQ(s.step->name, "CH3");
    EXPECT_EQ(s.step->window, "flat-top");
    EXPECT_EQ(s.step->harmonics, 20);
    EXPECT_EQ(s.step->file, "bins.csv");
    EXPECT_TRUE(check("spectrum M2").step);
    for (const char* bad : {"spectrum", "spectrum CH5", "spectrum CH1 --window kaiser", "spectrum CH1 --harmonics 1",
                            "spectrum CH1 --harmonics 2.5", "spectrum CH1 --out", "spectrum CH1 --bins 3"})
        EXPECT_FALSE(check(bad).step) << bad;
}
