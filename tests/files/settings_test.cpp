// The settings file: its exact format, the tolerant reader, and loading
// through the drive and oscilloscope cores (stage 1 always, stage 2 only with
// the board ready).
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "common/atomic_file.h"
#include "files/settings_core.h"
#include "files/settings_file.h"
#include "common/number_text.h"
#include "scope/scope_core.h"
#include "tests/drive/fake_port.h"

namespace zelbo::files {
namespace {

namespace fs = std::filesystem;
using drive::ColumnId;
using drive::Limit;
using drive::Pin;

class QuietMessages final : public MessageService {
public:
    MsgAnswer show(const Message& m) override
    {
        shown.push_back(m.text);
        return MsgAnswer::Ok;
    }
    std::vector<std::string> shown;
};

std::vector<std::string> splitLines(const std::string& s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The lines of a formatted file with line `n` (1-based value line) replaced.
std::string withValue(std::string text, int n, const std::string& value)
{
    auto lines = splitLines(text);
    std::string& l = lines[static_cast<std::size_t>(n + 2)];
    l = value + l.substr(l.find('\t'));
    std::string out;
    for (const auto& x : lines) out += x + "\n";
    return out;
}

// Drive and scope cores on recording ports, as the program wires them.
struct Bench {
    drive::test::FakePort port;
    QuietMessages messages;
    drive::DriveCore drive{port, messages};
    scope::ScopeCore scope{port};
    bool ready = false;
    int modeChanges = 0, powerReruns = 0, refreshes = 0;
    SettingsCore core{drive, scope, port, hooks()};

    Bench()
    {
        drive.reset();
        scope.applyDefaults();
        port.ops.clear();
    }
    SettingsHooks hooks()
    {
        SettingsHooks h;
        h.boardReady = [this] { return ready; };
        h.refreshViews = [this] { ++refreshes; };
        h.modeChange = [this] {
            ++modeChanges;
            port.ops.push_back("ModeChange");
        };
        h.rerunPowerAndClock = [this] {
            ++powerReruns;
            port.ops.push_back("Power");
        };
        return h;
    }
    SettingsLoadResult load(const std::string& text) { return core.apply(parseSettings(text)); }
};

// A set-up away from every default.
void changeEverything(Bench& b)
{
    b.drive.loadVcc(drive::Vcc::V3_3);
    b.drive.setLimitText(ColumnId::Vref, Limit::Max, "2.50");
    b.drive.commitLimit(ColumnId::Vref, Limit::Max);
    b.drive.setLimitText(ColumnId::Clk, Limit::Max, "5.00 k");
    b.drive.commitLimit(ColumnId::Clk, Limit::Max);
    b.drive.setValueText(ColumnId::Vref, "1.25");
    b.drive.commitValue(ColumnId::Vref);
    b.drive.setValueText(ColumnId::Mth, "0.75");
    b.drive.commitValue(ColumnId::Mth);
    b.drive.setValueText(ColumnId::Clk, "2.5k");
    b.drive.commitValue(ColumnId::Clk);
    b.drive.setRnfText("0.33");
    b.drive.commitRnf();
    b.drive.setRateIndex(7);
    b.drive.setManual(true);
    b.drive.editSteps("250");
    b.drive.setStopHigh(true);
    b.drive.loadPinStateText("10110");
    b.scope.setSamplingRate(9);
    b.scope.setTimeBase(8);
    b.scope.setSource(0, scope::Source::Current);
    b.scope.setOutput(0, 1);
    b.scope.setSource(1, scope::Source::Icc);
    b.scope.setSource(2, scope::Source::Current);
    b.scope.setValuePerDiv(0, 2);
    b.scope.setValuePerDiv(3, 4);
    b.scope.setTriggerChannel(2);
    b.scope.setTriggerOn(true);
    b.scope.setVoltageLevelText("1.500");
    b.scope.setCurrentLevelText("-0.250");
}

TEST(SettingsFormat, WritesTheHeaderAndEveryLineExactly)
{
    const auto lines = splitLines(formatSettings(defaultSettings()));
    ASSERT_EQ(lines.size(), 3u + kSettingsValueLines);
    EXPECT_EQ(lines[0], "TQ5170x Evaluation Software");
    EXPECT_EQ(lines[1], "Evaluation Settings");
    EXPECT_EQ(lines[2], "-----");
    EXPECT_EQ(lines[3], "0\t :: Mode (0: Clk-In, 1: Para-In, 2: H-Bridge)");
    EXPECT_EQ(lines[4], "5.0\t :: VCC");
    EXPECT_EQ(lines[7], "1 / 5\t :: RNF Exchange Rate");
    EXPECT_EQ(lines[9], "150 kHz\t:: Sampling Rate");
    EXPECT_EQ(lines[18], "01111\t :: [PS][Enable][Mode0][Mode1][CW/CCW] (0: L, 1: H)");
    EXPECT_EQ(lines[20], "0 - B\t :: CH2 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)");
    EXPECT_EQ(lines[23], "2.5 ms\t\t:: Sec/Div");
    EXPECT_EQ(lines[36], "0\t\t:: Min CLK Value");

    SettingsValues v = defaultSettings();
    v[kLineVcc] = "3.3";
    v[kLineVref] = "1.00\nx\ty"; // a field text can never break the line structure
    const auto odd = splitLines(formatSettings(v));
    ASSERT_EQ(odd.size(), 3u + kSettingsValueLines);
    EXPECT_EQ(odd[4], "3.3\t :: VCC");
    EXPECT_EQ(odd[5], "1.00 x y\t :: VREF");
}

TEST(SettingsFormat, ReaderToleratesWindowsFilesEditorsAndOddBytes)
{
    const std::string unix = formatSettings(defaultSettings());
    std::string windows;
    for (char c : unix) {
        if (c == '\n') windows += "\r\n";
        else windows += c;
    }
    const auto a = parseSettings(unix);
    const auto b = parseSettings(windows);
    ASSERT_EQ(a.size(), static_cast<std::size_t>(kSettingsValueLines));
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].value, b[i].value) << i;
        EXPECT_EQ(a[i].comment, b[i].comment) << i;
    }
    EXPECT_EQ(a[6].value, "150 kHz");
    EXPECT_EQ(a[6].comment, ":: Sampling Rate");

    // Header of any length up to a line holding "----"; trailing blanks,
    // blank lines, comments in another code page, a line without a tab.
    const auto c = parseSettings("my own title\n== ---- ==\n1.00 \t\xE9t\xE9 \xB0\r\n\r\n\n0.5\n");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].value, "1.00");
    EXPECT_EQ(c[0].comment, "\xE9t\xE9 \xB0");
    EXPECT_EQ(c[1].value, "0.5");
    // No header end: no values.
    EXPECT_TRUE(parseSettings("0\t :: Mode\n5.0\t :: VCC\n").empty());
    // Old Mac line ends read like the others.
    std::string mac = unix;
    for (char& ch : mac)
        if (ch == '\n') ch = '\r';
    const auto m = parseSettings(mac);
    ASSERT_EQ(m.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(m[i].value, a[i].value) << i;
}

TEST(SettingsCore, SavedSetUpComesBackInFreshCores)
{
    Bench a;
    changeEverything(a);
    const fs::path dir = fs::temp_directory_path() / ("zelbo_settings_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "bench.set";
    ASSERT_TRUE(a.core.save(file));

    Bench b;
    const SettingsLoadResult r = b.core.load(file);
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.valueLines, kSettingsValueLines);
    EXPECT_EQ(r.missingLine, 0);
    EXPECT_FALSE(r.stage2); // the board is not ready
    EXPECT_EQ(b.refreshes, 1);

    SettingsValues x = a.core.collect();
    const SettingsValues y = b.core.collect();
    // Value/div waits for the board: it is sent with stage 2 only.
    bool scalesDiffer = false;
    for (int n = 0; n < scope::kChannels; ++n) {
        scalesDiffer |= x[kLineValuePerDiv1 + n] != y[kLineValuePerDiv1 + n];
        x[kLineValuePerDiv1 + n] = y[kLineValuePerDiv1 + n];
    }
    EXPECT_TRUE(scalesDiffer);
    EXPECT_EQ(formatSettings(x), formatSettings(y));
    // The state behind the texts, not only the texts.
    EXPECT_EQ(b.drive.vcc(), drive::Vcc::V3_3);
    EXPECT_DOUBLE_EQ(b.drive.vref(), 1.25);
    EXPECT_DOUBLE_EQ(b.drive.clockFrequency(), 2500.0);
    EXPECT_EQ(b.drive.rateIndex(), 7);
    EXPECT_TRUE(b.drive.manual());
    EXPECT_EQ(b.drive.stepsText(), "250");
    EXPECT_TRUE(b.drive.stopHigh());
    EXPECT_EQ(b.drive.pinStateText(), "10110");
    EXPECT_EQ(b.drive.column(ColumnId::Vref).limitText(Limit::Max), "2.50");
    EXPECT_EQ(b.scope.samplingRateIndex(), 9);
    EXPECT_EQ(b.scope.timeBaseIndex(), 8);
    EXPECT_EQ(b.scope.source(0), scope::Source::Current);
    EXPECT_EQ(b.scope.output(0), 1);
    EXPECT_DOUBLE_EQ(b.scope.directionSign(0), -1.0);
    EXPECT_EQ(b.scope.source(1), scope::Source::Icc);
    EXPECT_EQ(b.scope.triggerChannel(), 2);
    EXPECT_TRUE(b.scope.triggerOn());
    EXPECT_EQ(b.scope.voltageLevelText(), "1.500");

    // With the board ready the value/div lines are used too.
    Bench c;
    c.ready = true;
    EXPECT_TRUE(c.core.load(file).stage2);
    EXPECT_EQ(formatSettings(c.core.collect()), formatSettings(a.core.collect()));

    fs::remove_all(dir);
}

TEST(SettingsCore, ValueRulesOfSingleLines)
{
    const std::string base = formatSettings(defaultSettings());
    Bench b;

    b.load(withValue(base, 2, "3.3"));
    EXPECT_EQ(b.drive.vcc(), drive::Vcc::V3_3);
    for (const char* other : {"3.30", "5.0", "junk", ""}) {
        b.load(withValue(base, 2, "3.3"));
        b.load(withValue(base, 2, other));
        EXPECT_EQ(b.drive.vcc(), drive::Vcc::V5_0) << other;
    }

    // Rate: only an exact table text selects the divisor; the text is shown.
    b.drive.setRateIndex(2);
    b.load(withValue(base, 5, "1/5"));
    EXPECT_EQ(b.drive.rateText(), "1/5");
    EXPECT_EQ(b.drive.rateIndex(), 2);
    b.load(withValue(base, 5, "1 / 5"));
    EXPECT_EQ(b.drive.rateDivisor(), 5);

    // Pins: exactly five characters, each digit above 0 is High.
    b.load(withValue(base, 16, "10201"));
    EXPECT_EQ(b.drive.pinStateText(), "10101");
    b.load(withValue(base, 16, "1111"));
    EXPECT_EQ(b.drive.pinStateText(), "10101");

    // Channels: "2 - B" is ICC; "1 - B" a current on the B output, read with
    // the opposite sign; "1" alone a current on the A output.
    std::string ch = withValue(withValue(base, 17, "2 - B"), 18, "1 - B");
    b.load(ch);
    EXPECT_EQ(b.scope.source(0), scope::Source::Icc);
    EXPECT_EQ(b.scope.source(1), scope::Source::Current);
    EXPECT_EQ(b.scope.output(1), 1);
    EXPECT_DOUBLE_EQ(b.scope.directionSign(1), -1.0);
    b.load(withValue(base, 18, "1"));
    EXPECT_EQ(b.scope.source(1), scope::Source::Current);
    EXPECT_EQ(b.scope.output(1), 0);
    EXPECT_DOUBLE_EQ(b.scope.directionSign(1), 1.0);
    // A trigger channel outside 1..4 stays inside the range.
    b.load(withValue(base, 11, "9"));
    EXPECT_EQ(b.scope.triggerChannel(), 3);
}

// A hand-edited file: a value out of range is limited, one that is no number
// (or no table entry) keeps what the cores hold; each is named with its
// line, and a clean file says nothing.
TEST(SettingsCore, UnusableValuesAreNamedPerLineAndNeverDriveTheBoard)
{
    const std::string base = formatSettings(defaultSettings());
    Bench b;
    const auto clean = b.load(base);
    EXPECT_TRUE(clean.notes.empty());
    EXPECT_EQ(SettingsCore::statusText(clean), "");
    const std::string clkBefore = b.drive.column(ColumnId::Clk).valueText();
    const std::string tbBefore = b.scope.timeBaseText();

    std::string bad = withValue(base, 3, "99");
    bad = withValue(bad, 12, "abc");
    bad = withValue(bad, 21, "7 parsecs");
    bad = withValue(bad, 4, "5");
    bad = withValue(bad, 22, "3 furlongs");
    const auto r = b.load(bad);
    ASSERT_EQ(r.notes.size(), 5u);
    EXPECT_EQ(r.notes[0], "Line 3 (VREF): \"99\" is above MAX; limited to 3.00.");
    EXPECT_EQ(r.notes[1], "Line 4 (RNF): \"5\" is outside 0.01 to 1 ohm; limited to 1.00.");
    EXPECT_EQ(r.notes[2], "Line 12 (CLK): \"abc\" is not a number; kept " + clkBefore + ".");
    EXPECT_EQ(r.notes[3], "Line 21 (Sec/Div): \"7 parsecs\" is not a time base; kept " + tbBefore + ".");
    EXPECT_EQ(r.notes[4].rfind("Line 22 (CH1 VALUE/DIV): \"3 furlongs\"", 0), 0u);
    EXPECT_DOUBLE_EQ(b.drive.vref(), 3.0);
    EXPECT_EQ(b.drive.column(ColumnId::Vref).valueText(), "3.00");
    EXPECT_EQ(b.drive.column(ColumnId::Clk).valueText(), clkBefore);
    EXPECT_EQ(b.scope.timeBaseText(), tbBefore);
    EXPECT_EQ(b.drive.rnfText(), "1.00");
    EXPECT_NE(SettingsCore::statusText(r).find("Line 21"), std::string::npos);

    // Prefixes and a decimal comma read as typed.
    b.load(withValue(base, 3, "500m"));
    EXPECT_DOUBLE_EQ(b.drive.vref(), 0.5);
    b.load(withValue(base, 3, "1,25"));
    EXPECT_DOUBLE_EQ(b.drive.vref(), 1.25);

    // A limit without a number is no limit of 0: the column keeps its own.
    const std::string maxBefore = b.drive.column(ColumnId::Vref).limitText(Limit::Max);
    const auto lim = b.load(withValue(base, 26, "lots"));
    ASSERT_EQ(lim.notes.size(), 1u);
    EXPECT_EQ(lim.notes[0], "Line 26 (VREF MAX): \"lots\" is not a number; kept " + maxBefore + ".");
    EXPECT_EQ(b.drive.column(ColumnId::Vref).limitText(Limit::Max), maxBefore);
}

TEST(SettingsCore, CommentsDoNotMatterButPositionsDo)
{
    const std::string base = formatSettings(defaultSettings());
    std::string edited;
    for (const auto& l : splitLines(base)) {
        const auto tab = l.find('\t');
        edited += (tab == std::string::npos ? l : l.substr(0, tab) + "\t whatever I like") + "\n";
    }
    Bench a, b;
    a.load(base);
    b.load(edited);
    EXPECT_EQ(formatSettings(a.core.collect()), formatSettings(b.core.collect()));

    // VREF (line 3) and MTH (line 6) swapped: each takes the other's meaning.
    Bench c;
    c.load(withValue(withValue(base, 3, "0.50"), 6, "1.00"));
    EXPECT_EQ(c.drive.column(ColumnId::Vref).valueText(), "0.50");
    EXPECT_EQ(c.drive.column(ColumnId::Mth).valueText(), "1.00");
}

TEST(SettingsCore, ShortFilesApplyEveryLineTheyHaveAndNameTheFirstMissing)
{
    const auto all = splitLines(formatSettings(defaultSettings()));
    auto firstLines = [&](int n) {
        std::string s;
        for (int i = 0; i < 3 + n; ++i) s += all[static_cast<std::size_t>(i)] + "\n";
        return s;
    };

    // 25 lines: everything but the sweep block; the limits stay.
    Bench a;
    a.drive.setLimitText(ColumnId::Vref, Limit::Max, "2.00");
    a.drive.commitLimit(ColumnId::Vref, Limit::Max);
    a.ready = true;
    SettingsLoadResult r = a.load(firstLines(25));
    EXPECT_EQ(r.missingLine, 0);
    EXPECT_TRUE(r.stage2);
    EXPECT_EQ(a.drive.column(ColumnId::Vref).limitText(Limit::Max), "2.00");
    EXPECT_EQ(a.drive.column(ColumnId::Vref).valueText(), "1.00");
    EXPECT_EQ(a.scope.valuePerDivIndex(1), 6); // "10 V", applied by stage 2

    // 20 lines: all twenty applied, the time base and value/div kept, the
    // first missing line reported; stage 2 sends what the cores now hold.
    Bench b;
    b.ready = true;
    b.drive.loadValueText(ColumnId::Vref, "2.22");
    b.scope.setTimeBase(3);
    r = b.load(withValue(firstLines(20), 2, "3.3"));
    EXPECT_EQ(r.missingLine, 21);
    EXPECT_TRUE(r.stage2);
    EXPECT_EQ(b.drive.vcc(), drive::Vcc::V3_3);
    EXPECT_EQ(b.drive.column(ColumnId::Vref).valueText(), "1.00");
    EXPECT_EQ(b.scope.source(3), scope::Source::Voltage);
    EXPECT_EQ(b.scope.timeBaseIndex(), 3);
    EXPECT_EQ(b.modeChanges, 1);
    EXPECT_NE(SettingsCore::incompleteText(r).find("line 21"), std::string::npos);

    // No value line at all: nothing applied, nothing sent.
    Bench c;
    c.ready = true;
    r = c.load(firstLines(0));
    EXPECT_EQ(r.missingLine, 1);
    EXPECT_FALSE(r.stage2);
    EXPECT_EQ(c.modeChanges, 0);

    EXPECT_FALSE(Bench().core.load("/nonexistent/zelbo.set").opened);
}

TEST(SettingsCore, StageTwoSendsTheSetUpInOrder)
{
    Bench b;
    b.ready = true;
    SettingsValues v = defaultSettings();
    v[kLineSamplingRate] = "1 MHz"; // divider 36
    v[kLinePins] = "11001";
    b.load(formatSettings(v));
    const auto& ops = b.port.ops;
    auto at = [&](const std::string& op, std::size_t from = 0) {
        for (std::size_t i = from; i < ops.size(); ++i)
            if (ops[i] == op) return i;
        ADD_FAILURE() << op << " missing";
        return ops.size();
    };
    const std::size_t mode = at("ModeChange");
    EXPECT_EQ(ops[mode + 1], "Pause(500)");
    const std::size_t div = at("W(114,36,scope)", mode);
    EXPECT_EQ(ops[div + 1], "W(115,0,scope)");
    EXPECT_EQ(ops[div + 2], "W(116,255,scope)");
    EXPECT_EQ(ops[div + 3], "W(117,15,scope)");
    EXPECT_EQ(ops[div + 4], "Pause(50)");
    // The five pins, PS first, 20 ms apart: PS at 2500 (5 V supply), ENABLE at 0.
    const std::size_t ps = at("W(34,196)", div);
    EXPECT_EQ(ops[ps + 1], "W(35,9)");
    const std::size_t reg104 = at("W(104,1)", ps);
    const std::size_t power = at("Power", reg104);
    const std::size_t wait = at("Wait", power);
    EXPECT_EQ(ops[wait - 1], "Pause(50)");
    // Then VREF, MTH and CLK committed again, each followed by 50 ms.
    EXPECT_EQ(ops.back(), "Pause(50)");
    EXPECT_EQ(b.powerReruns, 1);
}

// ---- the table of lines ---------------------------------------------------------

std::string readBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SettingsTable, EveryLineHasOneRowInFileOrderAndTheFirstRunFileIsAsCommitted)
{
    const SettingsTable& table = settingsTable();
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kSettingsValueLines));
    std::set<std::string> labels;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const SettingsRow& row = table[i];
        EXPECT_EQ(row.line, static_cast<int>(i) + 1) << row.label;
        EXPECT_TRUE(labels.insert(row.label).second) << "two lines named " << row.label;
        EXPECT_TRUE(row.collect && row.apply) << row.label;
        EXPECT_EQ(row.comment.find('\n'), std::string::npos) << row.label;
        EXPECT_EQ(row.comment.front(), '\t') << row.label;
        EXPECT_EQ(row.step == SettingsStep::Board, static_cast<bool>(row.check)) << row.label;
        EXPECT_EQ(row.onlyAbove != 0, row.line > kSettingsCoreLines) << row.label;
    }
    // The first-run file, byte for byte as it has always been written.
    EXPECT_EQ(formatSettings(defaultSettings()),
              readBytes(fs::path(ZELBO_SOURCE_DIR) / "tests/files/samples/first_run.set"));
    // And the cores, once they hold it, write it back unchanged.
    Bench b;
    b.ready = true;
    b.load(formatSettings(defaultSettings()));
    EXPECT_EQ(formatSettings(b.core.collect()), formatSettings(defaultSettings()));
}

TEST(SettingsTable, ALineAddedToTheTableIsSavedAndLoadedWithNoOtherEdit)
{
    // A new setting: the duty cycle, as line 35.
    SettingsTable table = settingsTable();
    SettingsRow duty;
    duty.line = kSettingsValueLines + 1;
    duty.label = "duty";
    duty.comment = "\t\t:: Duty";
    duty.firstRun = "50.0";
    duty.collect = [](const SettingsSource& s) { return s.drive.dutyText(); };
    std::vector<std::string> applied;
    duty.apply = [&applied](SettingsTarget& t, const std::string& v) {
        applied.push_back(v);
        if (!readNumber(v, false)) t.note(v, "is not a number.");
    };
    table.push_back(duty);

    const fs::path dir = fs::temp_directory_path() / ("zelbo_settings_row_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "bench.set";

    Bench a;
    changeEverything(a);
    SettingsCore saver(a.drive, a.scope, a.port, {}, table);
    ASSERT_TRUE(saver.save(file));
    const std::string bytes = readBytes(file);
    const auto lines = splitLines(bytes);
    ASSERT_EQ(lines.size(), 3u + kSettingsValueLines + 1);
    EXPECT_EQ(lines.back(), a.drive.dutyText() + "\t\t:: Duty");
    // The lines before it are the program's file as it was.
    EXPECT_EQ(bytes.substr(0, bytes.size() - lines.back().size() - 1), formatSettings(a.core.collect()));

    Bench b;
    SettingsCore loader(b.drive, b.scope, b.port, {}, table);
    const SettingsLoadResult r = loader.load(file);
    EXPECT_EQ(r.valueLines, kSettingsValueLines + 1);
    EXPECT_EQ(r.missingLine, 0);
    EXPECT_TRUE(r.notes.empty());
    EXPECT_EQ(applied, std::vector<std::string>{a.drive.dutyText()});
    EXPECT_EQ(b.drive.pinStateText(), "10110"); // the old lines still land where they did

    // The program's own file lacks the line: named as missing, the rest applied.
    applied.clear();
    const SettingsLoadResult old = loader.apply(parseSettings(formatSettings(a.core.collect())));
    EXPECT_EQ(old.missingLine, kSettingsValueLines + 1);
    EXPECT_TRUE(applied.empty());
    // The first-run file gets the row's first-run text.
    EXPECT_EQ(splitLines(formatSettings(defaultSettings(table), table)).back(), "50.0\t\t:: Duty");
    fs::remove_all(dir);
}

// ---- files as the Windows program writes them ---------------------------------
// tests/files/samples/windows_N.set: N value lines, CR LF, the Windows code
// page (the micro sign of "500 µs" is the single byte 0xB5), written by hand
// from the format.

std::string sample(int valueLines)
{
    std::ifstream in(fs::path(ZELBO_SOURCE_DIR) / "tests/files/samples" /
                         ("windows_" + std::to_string(valueLines) + ".set"),
                     std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string withoutCr(std::string s)
{
    std::erase(s, '\r');
    return s;
}

// The sample with value line `n` set to `value` (bytes as given).
std::string sampleWith(int valueLines, int n, const std::string& value)
{
    return withValue(withoutCr(sample(valueLines)), n, value);
}

std::string cp1252(std::string utf8)
{
    for (std::size_t i; (i = utf8.find("\xC2\xB5")) != std::string::npos;) utf8.replace(i, 2, "\xB5");
    return utf8;
}

TEST(WindowsSettingsFiles, AWholeFileLoadsAndIsSavedBackByteForByte)
{
    const std::string windows = sample(34);
    ASSERT_EQ(windows.size(), 1169u) << "sample missing";
    Bench b;
    b.ready = true;
    const SettingsLoadResult r = b.load(windows);
    EXPECT_EQ(r.missingLine, 0);
    EXPECT_TRUE(r.stage2);
    EXPECT_EQ(b.scope.timeBaseIndex(), 9); // "500 µs"
    EXPECT_EQ(b.scope.source(0), scope::Source::Current);
    EXPECT_EQ(b.scope.output(0), 1);
    EXPECT_DOUBLE_EQ(b.scope.directionSign(0), -1.0);
    EXPECT_EQ(b.scope.source(1), scope::Source::Icc);
    EXPECT_EQ(b.scope.output(1), 1);
    EXPECT_EQ(b.scope.source(3), scope::Source::Icc);
    EXPECT_EQ(b.scope.output(3), 0);
    EXPECT_EQ(b.drive.rateDivisor(), 3);
    EXPECT_DOUBLE_EQ(b.drive.vref(), 1.25);

    // Written back as the Windows program writes it, but for the line ends
    // (a text-mode reader takes LF as well).
    EXPECT_EQ(formatSettings(b.core.collect()), withoutCr(windows));
    // Our own files and the Windows ones load to the same set-up.
    Bench again;
    again.ready = true;
    again.load(formatSettings(b.core.collect()));
    EXPECT_EQ(formatSettings(again.core.collect()), withoutCr(windows));

    // Comments keep their bytes: nothing is decoded there.
    std::string edited = withoutCr(sample(34));
    edited.replace(edited.find("\t :: VREF"), 9, "\t\xB5 \xE9t\xE9");
    const auto lines = parseSettings(edited);
    EXPECT_EQ(lines[2].comment, "\xB5 \xE9t\xE9");
}

TEST(WindowsSettingsFiles, EveryTimeBaseLoadsFromEitherCodingAndIsWrittenInTheCodePage)
{
    for (std::size_t i = 0; i < scope::kTimeBases.size(); ++i) {
        const std::string utf8(scope::kTimeBases[i].text);
        for (const std::string& coded : {cp1252(utf8), utf8}) {
            Bench b;
            b.scope.setTimeBase(static_cast<int>((i + 1) % scope::kTimeBases.size()));
            b.load(sampleWith(34, 21, coded));
            // (The slowest time bases run at the slowest usable index.)
            EXPECT_EQ(b.scope.timeBaseIndex(), std::min(static_cast<int>(i), scope::kMaxUsableTimeBase)) << utf8;
            EXPECT_EQ(b.scope.timeBaseText(), utf8);
            EXPECT_EQ(splitLines(formatSettings(b.core.collect()))[23], cp1252(utf8) + "\t\t:: Sec/Div") << utf8;
        }
    }
    // A byte 0xB5 inside a UTF-8 character is that character's, not a micro sign.
    EXPECT_EQ(valueFromFile("\xE2\x82\xB5 \xB5s"), "\xE2\x82\xB5 \xC2\xB5s");
    EXPECT_EQ(valueForFile("\xC2\xB5\xC2"), "\xB5\xC2");
}

TEST(WindowsSettingsFiles, EveryChannelLineComesBackAsItWas)
{
    for (int k = 1; k <= 4; ++k) {
        for (int source = 0; source <= 2; ++source) {
            for (const char* out : {"A", "B"}) {
                const std::string line = std::to_string(source) + " - " + out;
                Bench b;
                b.load(sampleWith(34, 16 + k, line));
                const std::string saved = splitLines(formatSettings(b.core.collect()))[static_cast<std::size_t>(18 + k)];
                // A voltage is measured on the channel's own output (CH1 and
                // CH3 on A, CH2 and CH4 on B); currents and ICC keep the file's.
                const std::string expected =
                    source == 0 ? std::string("0 - ") + (k % 2 == 1 ? "A" : "B") : line;
                EXPECT_EQ(saved.substr(0, saved.find('\t')), expected) << "CH" << k << " " << line;
            }
        }
    }
}

TEST(WindowsSettingsFiles, ShortFilesApplyWhatTheyHoldAndValidateTheLimitsTheySet)
{
    // 25 lines: lines 1..25, the sweep limits as they were (CLK MAX raised
    // beforehand, or stage 2 would hold the clock at its first-start 1000 Hz).
    {
        Bench b;
        b.ready = true;
        b.drive.setLimitText(ColumnId::Clk, Limit::Max, "5.00 k");
        b.drive.commitLimit(ColumnId::Clk, Limit::Max);
        const SettingsLoadResult r = b.load(sample(25));
        EXPECT_EQ(r.valueLines, 25);
        EXPECT_EQ(r.missingLine, 0);
        EXPECT_TRUE(r.stage2);
        EXPECT_EQ(b.scope.timeBaseIndex(), 9);
        EXPECT_EQ(b.scope.valuePerDivIndex(2), 5); // "5 V"
        EXPECT_EQ(b.drive.column(ColumnId::Vref).limitText(Limit::Max), "3.00");
        const auto saved = splitLines(formatSettings(b.core.collect()));
        const auto windows = splitLines(withoutCr(sample(25)));
        for (std::size_t i = 0; i < windows.size(); ++i) EXPECT_EQ(saved[i], windows[i]) << i;
    }
    // 32 and 33 lines: every line there is applied, the CLK column whose MAX
    // the file sets is validated (its slider re-ranged to the new MAX), and
    // the first missing line is named.
    for (int n : {32, 33}) {
        Bench b;
        b.ready = true;
        b.drive.setLimitText(ColumnId::Clk, Limit::Max, "2.00 k");
        b.drive.commitLimit(ColumnId::Clk, Limit::Max);
        const int before = b.drive.column(ColumnId::Clk).sliderMax();
        const SettingsLoadResult r = b.load(sample(n));
        EXPECT_EQ(r.missingLine, n + 1) << n;
        EXPECT_NE(SettingsCore::incompleteText(r).find("line " + std::to_string(n + 1)), std::string::npos);
        EXPECT_TRUE(r.stage2) << n;
        EXPECT_DOUBLE_EQ(b.drive.vref(), 1.25) << n;
        EXPECT_EQ(b.drive.pinStateText(), "10110") << n;
        EXPECT_EQ(b.scope.timeBaseIndex(), 9) << n;
        EXPECT_EQ(b.scope.source(1), scope::Source::Icc) << n;
        EXPECT_EQ(b.drive.column(ColumnId::Vref).limitText(Limit::Max), "2.50") << n;
        EXPECT_EQ(b.drive.column(ColumnId::Clk).limitText(Limit::Max), "5.00 k") << n;
        EXPECT_GT(b.drive.column(ColumnId::Clk).sliderMax(), before) << n << ": CLK MAX set but not validated";
        const auto saved = splitLines(formatSettings(b.core.collect()));
        const auto windows = splitLines(withoutCr(sample(n)));
        for (std::size_t i = 0; i < windows.size(); ++i) EXPECT_EQ(saved[i], windows[i]) << n << ": " << i;
    }
}

TEST(AtomicFile, FailedWritesLeaveNothingBehindAndSeedingNeverReplaces)
{
    const fs::path dir = fs::temp_directory_path() / ("zelbo_atomic_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "missing" / "x.set", "abc", &error));
    EXPECT_FALSE(error.empty());

    const fs::path f = dir / "x.set";
    ASSERT_TRUE(writeFileAtomically(f, "old"));
    ASSERT_TRUE(writeFileAtomically(f, "new"));
    EXPECT_TRUE(seedFile(f, "seed"));
    std::ifstream in(f);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "new");
    EXPECT_TRUE(seedFile(dir / "y.set", "seed"));
    EXPECT_TRUE(fs::exists(dir / "y.set"));
    // No temporary files stay in the folder.
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
    EXPECT_EQ(n, 2);
    fs::remove_all(dir);
}

TEST(AtomicFile, NewFilesFollowTheUmaskReplacedOnesKeepModeAndOwnerLinksStayLinks)
{
    const fs::path dir = fs::temp_directory_path() / ("zelbo_atomic_mode_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "real");
    auto text = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    auto mode = [](const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    };

    // A new file: what the umask leaves of 0666.
    const mode_t old = ::umask(027);
    EXPECT_TRUE(writeFileAtomically(dir / "new.set", "x"));
    ::umask(old);
    EXPECT_EQ(mode(dir / "new.set"), 0640u);

    // A replaced file keeps its mode, and its owner where we may give it away.
    const fs::path kept = dir / "kept.set";
    ASSERT_TRUE(writeFileAtomically(kept, "old"));
    ::chmod(kept.c_str(), 0604);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(kept.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(writeFileAtomically(kept, "new"));
    EXPECT_EQ(text(kept), "new");
    EXPECT_EQ(mode(kept), 0604u);
    if (root) {
        struct stat st {};
        ::stat(kept.c_str(), &st);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }

    // A link (relative, through a second link) is followed: the target is
    // replaced, the links stay links.
    ASSERT_TRUE(writeFileAtomically(dir / "real" / "target.set", "old"));
    fs::create_symlink("real/target.set", dir / "inner.set");
    fs::create_symlink(dir / "inner.set", dir / "outer.set");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(dir / "outer.set", "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "outer.set")));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "inner.set")));
    EXPECT_EQ(text(dir / "real" / "target.set"), "new");
    // A link to nowhere gets its file, as opening it would give.
    fs::create_symlink("real/later.set", dir / "dangling.set");
    ASSERT_TRUE(writeFileAtomically(dir / "dangling.set", "made"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "dangling.set")));
    EXPECT_EQ(text(dir / "real" / "later.set"), "made");
    // The library's half (the workbook) follows the link the same way.
    const fs::path tmp = createTemporaryBeside(dir / "outer.set");
    EXPECT_EQ(tmp.parent_path(), dir / "real");
    { std::ofstream(tmp) << "book"; }
    ASSERT_TRUE(replaceWithTemporary(tmp, dir / "outer.set"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "outer.set")));
    EXPECT_EQ(text(dir / "real" / "target.set"), "book");
    fs::remove_all(dir);
}

} // namespace
} // namespace zelbo::files
