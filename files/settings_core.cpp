#include "files/settings_core.h"

#include <algorithm>
#include <chrono>

#include "common/number_text.h"
#include "drive/drive_core.h"
#include "scope/scope_core.h"
#include "scope/scope_tables.h"

namespace zelbo::files {

namespace {

using namespace std::chrono_literals;
using drive::ColumnId;
using drive::Limit;

constexpr std::array<ColumnId, 3> kColumns{ColumnId::Vref, ColumnId::Mth, ColumnId::Clk};
constexpr std::array<Limit, 3> kLimits{Limit::Max, Limit::Step, Limit::Min};

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

} // namespace

SettingsCore::SettingsCore(drive::DriveCore& drive, scope::ScopeCore& scope, link::CommandPort& port,
                           SettingsHooks hooks)
    : drive_(drive), scope_(scope), port_(port), hooks_(std::move(hooks))
{
}

SettingsValues SettingsCore::collect() const
{
    SettingsValues v;
    v.mode = drive_.mode();
    v.vcc33 = drive_.vcc() == drive::Vcc::V3_3;
    v.vref = drive_.column(ColumnId::Vref).valueText();
    v.rnf = drive_.rnfText();
    v.rnfRate = drive_.rateText();
    v.mth = drive_.column(ColumnId::Mth).valueText();
    v.samplingRate = scope_.samplingRateText();
    v.triggerOn = scope_.triggerOn() ? 1 : 0;
    v.voltageLevel = scope_.voltageLevelText();
    v.currentLevel = scope_.currentLevelText();
    v.triggerChannel = scope_.triggerChannel() + 1;
    v.clk = drive_.column(ColumnId::Clk).valueText();
    v.clockManual = drive_.manual() ? 1 : 0;
    v.steps = drive_.stepsText();
    v.stopHigh = drive_.stopHigh() ? 1 : 0;
    v.pins = drive_.pinStateText();
    for (int n = 0; n < scope::kChannels; ++n) {
        auto& c = v.channels[static_cast<std::size_t>(n)];
        c.source = static_cast<int>(scope_.source(n));
        c.outputB = scope_.output(n) != 0;
        v.valuePerDiv[static_cast<std::size_t>(n)] = scope_.channel(n).valuePerDivText;
    }
    v.timeBase = scope_.timeBaseText();
    for (std::size_t c = 0; c < kColumns.size(); ++c)
        for (std::size_t l = 0; l < kLimits.size(); ++l) v.sweep[c][l] = drive_.column(kColumns[c]).limitText(kLimits[l]);
    return v;
}

bool SettingsCore::save(const std::filesystem::path& path, std::string* error) const
{
    return writeSettingsFile(path, collect(), error);
}

SettingsLoadResult SettingsCore::load(const std::filesystem::path& path)
{
    std::vector<SettingsLine> lines;
    if (!readSettingsFile(path, lines)) return {};
    return apply(std::move(lines));
}

SettingsLoadResult SettingsCore::apply(std::vector<SettingsLine> lines)
{
    lines_ = std::move(lines);
    SettingsLoadResult r;
    r.opened = true;
    r.valueLines = static_cast<int>(lines_.size());
    const bool applied = stage1(r);
    if (hooks_.refreshViews) hooks_.refreshViews();
    if (applied && hooks_.boardReady && hooks_.boardReady()) {
        stage2();
        r.stage2 = true;
        // Stage 2 sets the channels' VALUE/DIV: the fields show what the
        // chart's legend and scale now use.
        if (hooks_.refreshViews) hooks_.refreshViews();
    }
    return r;
}

std::string SettingsCore::incompleteText(const SettingsLoadResult& r)
{
    if (!r.opened || r.missingLine == 0) return {};
    return "Settings file ends after " + std::to_string(r.valueLines) + " value lines; line " +
           std::to_string(r.missingLine) + " and those after it are missing.";
}

std::string SettingsCore::statusText(const SettingsLoadResult& r)
{
    std::string out = incompleteText(r);
    for (const std::string& n : r.notes) out += (out.empty() ? "" : " ") + n;
    return out;
}

bool SettingsCore::stage1(SettingsLoadResult& r)
{
    // Every line the file has is applied; a missing one keeps what the cores
    // hold, and the first of them is reported.
    int& missing = r.missingLine;
    auto at = [this, &missing](int line) -> const std::string* {
        if (line <= static_cast<int>(lines_.size())) return &value(line);
        if (missing == 0) missing = line;
        return nullptr;
    };
    // A value that cannot be used is named with its line; the line keeps what
    // the cores hold (unreadable) or is limited (out of range).
    auto note = [&r](int line, const char* what, const std::string& text, const std::string& outcome) {
        r.notes.push_back("Line " + std::to_string(line) + " (" + what + "): \"" + text.substr(0, 40) + "\" " +
                          outcome);
    };
    auto loadColumn = [&](int line, ColumnId id, const char* what) {
        const auto* t = at(line);
        if (!t) return;
        const drive::Column& c = drive_.column(id);
        const auto v = readNumber(*t, true);
        if (!v) {
            note(line, what, *t, "is not a number; kept " + c.valueText() + ".");
            return;
        }
        if (*v > c.max() || *v < c.min()) {
            const bool above = *v > c.max();
            const std::string limited = c.format(above ? c.max() : c.min());
            note(line, what, *t, std::string(above ? "is above MAX" : "is below MIN") + "; limited to " + limited + ".");
            drive_.loadValueText(id, limited);
            return;
        }
        drive_.loadValueText(id, *t);
    };

    // Mode and supply.
    if (const auto* t = at(1)) drive_.loadMode(parseLeadingInt(*t));
    if (const auto* t = at(2)) drive_.loadVcc(*t == "3.3" ? drive::Vcc::V3_3 : drive::Vcc::V5_0);

    // The sweep limits first, so that the values below land inside them.
    // A column of which the file sets any limit is validated as the window
    // does (its MIN checked, the slider re-ranged, the value committed).
    if (static_cast<int>(lines_.size()) > kSettingsSweepThreshold) {
        int line = 26;
        for (ColumnId c : kColumns) {
            std::array<bool, 3> set{};
            for (std::size_t l = 0; l < kLimits.size(); ++l, ++line) {
                const auto* t = at(line);
                if (!t) continue;
                if (!readNumber(*t, true)) {
                    static const char* const names[] = {"MAX", "STEP", "MIN"};
                    const std::string what = std::string(drive::columnName(c)) + " " + names[l];
                    note(line, what.c_str(), *t,
                         "is not a number; kept " + drive_.column(c).limitText(kLimits[l]) + ".");
                    continue;
                }
                if (drive_.column(c).limitText(kLimits[l]) != *t) drive_.setLimitText(c, kLimits[l], *t);
                set[l] = true;
            }
            if (set[0] || set[1] || set[2]) drive_.commitLimit(c, Limit::Min);
        }
    }

    // References, sense resistor, sampling, trigger, clock and pins.
    loadColumn(3, ColumnId::Vref, "VREF");
    if (const auto* t = at(4)) {
        // The sense resistor, 0.01 .. 1 ohm as its field keeps it.
        if (const auto ohms = readNumber(*t, true); !ohms) {
            note(4, "RNF", *t, "is not a number; kept " + drive_.rnfText() + ".");
        } else if (*ohms < 0.01 || *ohms > 1.0) {
            const std::string limited = formatFixed(std::clamp(*ohms, 0.01, 1.0), 2);
            note(4, "RNF", *t, "is outside 0.01 to 1 ohm; limited to " + limited + ".");
            drive_.loadRnfText(limited);
        } else {
            drive_.loadRnfText(*t);
        }
    }
    if (const auto* t = at(5)) drive_.loadRateText(*t);
    loadColumn(6, ColumnId::Mth, "MTH");
    if (const auto* t = at(7)) {
        if (const int rate = sampleRateIndexOf(*t); rate >= 0) scope_.setSamplingRate(rate);
        else note(7, "sampling rate", *t, "is not a sampling rate; kept " + scope_.samplingRateText() + ".");
    }
    if (const auto* t = at(8)) scope_.setTriggerOn(parseLeadingInt(*t) == 1);
    const auto* voltageLevel = at(9);
    const auto* currentLevel = at(10);
    const auto* triggerChannel = at(11);
    loadColumn(12, ColumnId::Clk, "CLK");
    if (const auto* t = at(13)) drive_.loadRunMode(parseLeadingInt(*t));
    if (const auto* t = at(14)) drive_.loadStepsText(*t);
    if (const auto* t = at(15)) drive_.loadStopLevel(parseLeadingInt(*t));
    if (const auto* t = at(16)) drive_.loadPinStateText(*t);

    // Trigger channel, 1..4 (anything else is kept inside that range).
    if (triggerChannel) scope_.setTriggerChannel(std::clamp(parseLeadingInt(*triggerChannel), 1, scope::kChannels) - 1);

    // Channel sources and outputs: "1 - B" is a current on the B output,
    // "2 - B" ICC with the B output selected.
    for (int n = 0; n < scope::kChannels; ++n) {
        const auto* t = at(17 + n);
        if (!t) continue;
        const int s = parseLeadingInt(*t);
        if (s < 0 || s > 2) continue; // no such source: the channel stays as it is
        const auto source = static_cast<scope::Source>(s);
        const bool dash = t->find('-') != std::string::npos;
        const bool outputB = dash && t->find('B') != std::string::npos;
        scope_.setSource(n, source);
        scope_.setOutput(n, outputB ? 1 : 0);
    }

    if (const auto* t = at(21)) {
        if (const int tb = timeBaseIndexOf(*t); tb >= 0) scope_.setTimeBase(tb);
        else note(21, "Sec/Div", *t, "is not a time base; kept " + scope_.timeBaseText() + ".");
    }
    // VALUE/DIV (applied with the board in stage 2): checked against the
    // channel's source now, so that a bad one is named either way.
    for (int n = 0; n < scope::kChannels && 22 + n <= static_cast<int>(lines_.size()); ++n)
        if (scaleIndexOf(scope_.source(n), value(22 + n)) < 0) {
            const std::string what = "CH" + std::to_string(n + 1) + " VALUE/DIV";
            note(22 + n, what.c_str(), value(22 + n),
                 "is not a VALUE/DIV of this channel; kept " + scope_.channel(n).valuePerDivText + ".");
        }

    // Trigger levels as typed, and the acquisition running as it was.
    if (voltageLevel) scope_.setVoltageLevelText(*voltageLevel);
    if (currentLevel) scope_.setCurrentLevelText(*currentLevel);
    if (scope_.running()) scope_.setRunning(true);

    // Lines 22..25 wait for stage 2; a file without them is short all the same.
    at(kSettingsCoreLines);
    return !lines_.empty();
}

void SettingsCore::stage2()
{
    if (hooks_.modeChange) hooks_.modeChange();
    port_.pause(500ms);

    const auto& rate = scope::kSampleRates[static_cast<std::size_t>(scope_.samplingRateIndex())];
    port_.queueWrite(reg::kScopeDividerLow, static_cast<std::uint8_t>(rate.divider & 0xFF), link::WriteClass::Scope);
    port_.queueWrite(reg::kScopeDividerHigh, static_cast<std::uint8_t>(rate.divider >> 8), link::WriteClass::Scope);
    port_.queueWrite(reg::kScopeLengthLow, 255, link::WriteClass::Scope);
    port_.queueWrite(reg::kScopeLengthHigh, 15, link::WriteClass::Scope);
    port_.pause(50ms);

    drive_.sendPins(20ms);

    for (int n = 0; n < scope::kChannels && 22 + n <= static_cast<int>(lines_.size()); ++n)
        if (const int i = scaleIndexOf(scope_.source(n), value(22 + n)); i >= 0) scope_.setValuePerDiv(n, i);

    reapplySimpleSettings();
}

void SettingsCore::reapplySimpleSettings()
{
    port_.queueWrite(reg::kModeSetup, 1);
    if (hooks_.rerunPowerAndClock) hooks_.rerunPowerAndClock();
    port_.pause(50ms);
    port_.waitWriteDone(std::chrono::milliseconds(5000));
    drive_.recommitValues();
}

} // namespace zelbo::files
