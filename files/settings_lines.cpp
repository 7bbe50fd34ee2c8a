#include "files/settings_lines.h"

#include <algorithm>

#include "common/number_text.h"
#include "drive/drive_core.h"
#include "files/settings_file.h"
#include "scope/scope_core.h"
#include "scope/scope_tables.h"

namespace zelbo::files {

namespace {

using drive::ColumnId;
using drive::Limit;
using Step = SettingsStep;

constexpr std::array<ColumnId, 3> kColumns{ColumnId::Vref, ColumnId::Mth, ColumnId::Clk};
// The sweep block's order within a column.
constexpr std::array<Limit, 3> kLimits{Limit::Max, Limit::Step, Limit::Min};
constexpr const char* kLimitNames[] = {"MAX", "STEP", "MIN"};
constexpr const char* kLimitWords[] = {"Max", "Step", "Min"};

int timeBaseIndexOf(const std::string& text)
{
    for (std::size_t i = 0; i < scope::kTimeBases.size(); ++i)
        if (scope::kTimeBases[i].text == text) return static_cast<int>(i);
    return -1;
}

int sampleRateIndexOf(const std::string& text)
{
    for (std::size_t i = 0; i < scope::kSampleRates.size(); ++i)
        if (scope::kSampleRates[i].text == text) return static_cast<int>(i);
    return -1;
}

int scaleIndexOf(scope::Source source, const std::string& text)
{
    for (int i = 0; i < scope::scaleCount(source); ++i)
        if (scope::scaleEntry(source, i).text == text) return i;
    return -1;
}

std::string flag(bool b) { return b ? "1" : "0"; }

// VREF, MTH or CLK: read with the fields' number entry and kept inside the
// column's MIN..MAX; a text without a number keeps what the column holds.
void applyColumn(SettingsTarget& t, ColumnId id, const std::string& text)
{
    const drive::Column& c = t.drive.column(id);
    const auto v = readNumber(text, true);
    if (!v) {
        t.note(text, "is not a number; kept " + c.valueText() + ".");
        return;
    }
    if (*v > c.max() || *v < c.min()) {
        const bool above = *v > c.max();
        const std::string limited = c.format(above ? c.max() : c.min());
        t.note(text, std::string(above ? "is above MAX" : "is below MIN") + "; limited to " + limited + ".");
        t.drive.loadValueText(id, limited);
        return;
    }
    t.drive.loadValueText(id, text);
}

SettingsRow makeRow(int line, std::string label, std::string comment, std::string firstRun, Step step)
{
    SettingsRow r;
    r.line = line;
    r.label = std::move(label);
    r.comment = std::move(comment);
    r.firstRun = std::move(firstRun);
    r.step = step;
    return r;
}

SettingsRow columnRow(int line, ColumnId id, const char* comment, const char* firstRun)
{
    SettingsRow r = makeRow(line, drive::columnName(id), comment, firstRun, Step::Drive);
    r.collect = [id](const SettingsSource& s) { return s.drive.column(id).valueText(); };
    r.apply = [id](SettingsTarget& t, const std::string& text) { applyColumn(t, id, text); };
    return r;
}

SettingsTable buildTable()
{
    SettingsTable t;
    auto add = [&t](int line, std::string label, std::string comment, std::string firstRun, Step step) -> SettingsRow& {
        t.push_back(makeRow(line, std::move(label), std::move(comment), std::move(firstRun), step));
        return t.back();
    };

    {
        auto& r = add(kLineMode, "mode", "\t :: Mode (0: Clk-In, 1: Para-In, 2: H-Bridge)", "0", Step::Supply);
        r.collect = [](const SettingsSource& s) { return std::to_string(s.drive.mode()); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.drive.loadMode(parseLeadingInt(v)); };
    }
    {
        // "3.3" exactly is 3.3 V, anything else 5.0 V.
        auto& r = add(kLineVcc, "VCC", "\t :: VCC", "5.0", Step::Supply);
        r.collect = [](const SettingsSource& s) { return std::string(s.drive.vcc() == drive::Vcc::V3_3 ? "3.3" : "5.0"); };
        r.apply = [](SettingsTarget& g, const std::string& v) {
            g.drive.loadVcc(v == "3.3" ? drive::Vcc::V3_3 : drive::Vcc::V5_0);
        };
    }
    t.push_back(columnRow(kLineVref, ColumnId::Vref, "\t :: VREF", "1.00"));
    {
        // The sense resistor, 0.01 .. 1 ohm as its field keeps it.
        auto& r = add(kLineRnf, "RNF", "\t :: RNF Value", "0.20", Step::Drive);
        r.collect = [](const SettingsSource& s) { return s.drive.rnfText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) {
            if (const auto ohms = readNumber(v, true); !ohms) {
                g.note(v, "is not a number; kept " + g.drive.rnfText() + ".");
            } else if (*ohms < 0.01 || *ohms > 1.0) {
                const std::string limited = formatFixed(std::clamp(*ohms, 0.01, 1.0), 2);
                g.note(v, "is outside 0.01 to 1 ohm; limited to " + limited + ".");
                g.drive.loadRnfText(limited);
            } else {
                g.drive.loadRnfText(v);
            }
        };
    }
    {
        // A table text selects its entry: "1 / 5" selects the divisor, "1/5" is only shown.
        auto& r = add(kLineRnfRate, "RNF exchange rate", "\t :: RNF Exchange Rate", "1 / 5", Step::Drive);
        r.collect = [](const SettingsSource& s) { return s.drive.rateText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.drive.loadRateText(v); };
    }
    t.push_back(columnRow(kLineMth, ColumnId::Mth, "\t :: MTH", "0.50"));
    {
        auto& r = add(kLineSamplingRate, "sampling rate", "\t:: Sampling Rate", "150 kHz", Step::Drive);
        r.collect = [](const SettingsSource& s) { return s.scope.samplingRateText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) {
            if (const int rate = sampleRateIndexOf(v); rate >= 0) g.scope.setSamplingRate(rate);
            else g.note(v, "is not a sampling rate; kept " + g.scope.samplingRateText() + ".");
        };
    }
    {
        auto& r = add(kLineTriggerOn, "trigger state", "\t :: Trigger State (0: Off, 1: On)", "0", Step::Drive);
        r.collect = [](const SettingsSource& s) { return flag(s.scope.triggerOn()); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.scope.setTriggerOn(parseLeadingInt(v) == 1); };
    }
    {
        auto& r = add(kLineVoltageLevel, "voltage trigger level", "\t :: Trigger Level (Voltage)", "0.000", Step::Levels);
        r.collect = [](const SettingsSource& s) { return s.scope.voltageLevelText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.scope.setVoltageLevelText(v); };
    }
    {
        auto& r = add(kLineCurrentLevel, "current trigger level", "\t :: Trigger Level (Current)", "0.000", Step::Levels);
        r.collect = [](const SettingsSource& s) { return s.scope.currentLevelText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.scope.setCurrentLevelText(v); };
    }
    {
        // 1..4; anything else is kept inside that range.
        auto& r = add(kLineTriggerChannel, "trigger channel", "\t :: Triggered Channel", "1", Step::TriggerChannel);
        r.collect = [](const SettingsSource& s) { return std::to_string(s.scope.triggerChannel() + 1); };
        r.apply = [](SettingsTarget& g, const std::string& v) {
            g.scope.setTriggerChannel(std::clamp(parseLeadingInt(v), 1, scope::kChannels) - 1);
        };
    }
    t.push_back(columnRow(kLineClk, ColumnId::Clk, "\t :: Clk-In Frequency", "2.00 k"));
    {
        auto& r = add(kLineClockManual, "clock mode", "\t :: Clk-In Mode (0: Continuous, 1: Manual)", "0", Step::Drive);
        r.collect = [](const SettingsSource& s) { return flag(s.drive.manual()); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.drive.loadRunMode(parseLeadingInt(v)); };
    }
    {
        auto& r = add(kLineSteps, "steps", "\t :: Clk-In Steps", "1", Step::Drive);
        r.collect = [](const SettingsSource& s) { return s.drive.stepsText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.drive.loadStepsText(v); };
    }
    {
        auto& r = add(kLineStopHigh, "stop level", "\t :: Stop@ (0: L, 1: H)", "0", Step::Drive);
        r.collect = [](const SettingsSource& s) { return flag(s.drive.stopHigh()); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.drive.loadStopLevel(parseLeadingInt(v)); };
    }
    {
        // ENABLE, MODE0, MODE1 (quarter step), CW high; PS follows the power button.
        auto& r = add(kLinePins, "pins", "\t :: [PS][Enable][Mode0][Mode1][CW/CCW] (0: L, 1: H)", "01111", Step::Drive);
        r.collect = [](const SettingsSource& s) { return s.drive.pinStateText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) { g.drive.loadPinStateText(v); };
    }
    // The two winding currents on CH1 and CH3, the chopped B outputs on CH2 and CH4.
    static const char* const kChannelFirstRun[] = {"1 - A", "0 - B", "1 - A", "0 - B"};
    static const char* const kChannelComment[] = {
        "\t :: CH1 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
        "\t :: CH2 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
        "\t :: CH3 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
        "\t :: CH4 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
    };
    for (int n = 0; n < scope::kChannels; ++n) {
        // "1 - B" is a current on the B output, "2 - B" ICC with the B output
        // selected; a value without a dash is output A.
        auto& r = add(kLineChannel1 + n, "CH" + std::to_string(n + 1) + " source", kChannelComment[n],
                      kChannelFirstRun[n], Step::Channels);
        r.collect = [n](const SettingsSource& s) {
            return std::to_string(static_cast<int>(s.scope.source(n))) + " - " + (s.scope.output(n) != 0 ? "B" : "A");
        };
        r.apply = [n](SettingsTarget& g, const std::string& v) {
            const int source = parseLeadingInt(v);
            if (source < 0 || source > 2) return; // no such source: the channel stays as it is
            const bool outputB = v.find('-') != std::string::npos && v.find('B') != std::string::npos;
            g.scope.setSource(n, static_cast<scope::Source>(source));
            g.scope.setOutput(n, outputB ? 1 : 0);
        };
    }
    {
        auto& r = add(kLineTimeBase, "Sec/Div", "\t\t:: Sec/Div", "2.5 ms", Step::TimeBase);
        r.collect = [](const SettingsSource& s) { return s.scope.timeBaseText(); };
        r.apply = [](SettingsTarget& g, const std::string& v) {
            if (const int tb = timeBaseIndexOf(v); tb >= 0) g.scope.setTimeBase(tb);
            else g.note(v, "is not a time base; kept " + g.scope.timeBaseText() + ".");
        };
    }
    static const char* const kScaleFirstRun[] = {"500 mA", "10 V", "500 mA", "10 V"};
    for (int n = 0; n < scope::kChannels; ++n) {
        // Matched against the scales of the channel's source: sent with the
        // board, checked before so that a bad one is named either way.
        const std::string ch = "CH" + std::to_string(n + 1);
        auto& r = add(kLineValuePerDiv1 + n, ch + " VALUE/DIV", "\t\t:: " + ch + " Value/Div", kScaleFirstRun[n],
                      Step::Board);
        r.collect = [n](const SettingsSource& s) { return s.scope.channel(n).valuePerDivText; };
        r.check = [n](SettingsTarget& g, const std::string& v) {
            if (scaleIndexOf(g.scope.source(n), v) < 0)
                g.note(v, "is not a VALUE/DIV of this channel; kept " + g.scope.channel(n).valuePerDivText + ".");
        };
        r.apply = [n](SettingsTarget& g, const std::string& v) {
            if (const int i = scaleIndexOf(g.scope.source(n), v); i >= 0) g.scope.setValuePerDiv(n, i);
        };
    }
    static const char* const kSweepFirstRun[3][3] = {{"3.00", "0.01", "0.00"}, {"3.50", "0.01", "0.00"}, {"5.00 k", "10", "0"}};
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        for (std::size_t l = 0; l < kLimits.size(); ++l) {
            // A limit that is not a number keeps the column's; the column is
            // validated once its lines are in (SettingsCore).
            const ColumnId id = kColumns[c];
            const Limit limit = kLimits[l];
            const std::string name = drive::columnName(id);
            auto& r = add(kLineSweep + static_cast<int>(c * 3 + l), name + " " + kLimitNames[l],
                          std::string("\t\t:: ") + kLimitWords[l] + " " + name + " Value", kSweepFirstRun[c][l],
                          Step::Limits);
            r.onlyAbove = kSettingsSweepThreshold;
            r.collect = [id, limit](const SettingsSource& s) { return s.drive.column(id).limitText(limit); };
            r.apply = [id, limit, c](SettingsTarget& g, const std::string& v) {
                if (!readNumber(v, true)) {
                    g.note(v, "is not a number; kept " + g.drive.column(id).limitText(limit) + ".");
                    return;
                }
                if (g.drive.column(id).limitText(limit) != v) g.drive.setLimitText(id, limit, v);
                g.limitsSet[c] = true;
            };
        }
    }
    return t;
}

} // namespace

void SettingsTarget::note(const std::string& text, const std::string& outcome) const
{
    if (notes) notes->push_back("Line " + std::to_string(line) + " (" + label + "): \"" + text.substr(0, 40) + "\" " + outcome);
}

const SettingsTable& settingsTable()
{
    static const SettingsTable table = buildTable();
    return table;
}

} // namespace zelbo::files
