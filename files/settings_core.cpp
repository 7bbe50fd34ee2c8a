#include "files/settings_core.h"

#include <chrono>

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
    const bool complete = stage1(r.missingLine);
    if (hooks_.refreshViews) hooks_.refreshViews();
    if (complete && hooks_.boardReady && hooks_.boardReady()) {
        stage2();
        r.stage2 = true;
    }
    return r;
}

std::string SettingsCore::incompleteText(const SettingsLoadResult& r)
{
    if (!r.opened || r.missingLine == 0) return {};
    return "Settings file ends after " + std::to_string(r.valueLines) + " value lines: loading stopped at line " +
           std::to_string(r.missingLine) + ".";
}

bool SettingsCore::has(int line, int& missing) const
{
    if (line <= static_cast<int>(lines_.size())) return true;
    missing = line;
    return false;
}

bool SettingsCore::stage1(int& missing)
{
    // Mode and supply.
    if (!has(1, missing)) return false;
    drive_.loadMode(leadingInt(value(1)));
    if (!has(2, missing)) return false;
    drive_.loadVcc(value(2) == "3.3" ? drive::Vcc::V3_3 : drive::Vcc::V5_0);

    // The sweep limits first, so that the values below land inside them.
    if (static_cast<int>(lines_.size()) > kSettingsSweepThreshold) {
        int line = 26;
        for (ColumnId c : kColumns) {
            for (Limit l : kLimits) {
                if (!has(line, missing)) return false;
                const std::string& text = value(line++);
                if (drive_.column(c).limitText(l) != text) drive_.setLimitText(c, l, text);
            }
            drive_.commitLimit(c, Limit::Min);
        }
    }

    // References, sense resistor, sampling, trigger, clock and pins.
    for (int line = 3; line <= kSettingsCoreLines; ++line)
        if (!has(line, missing)) return false;
    drive_.loadValueText(ColumnId::Vref, value(3));
    drive_.loadRnfText(value(4));
    drive_.loadRateText(value(5));
    drive_.loadValueText(ColumnId::Mth, value(6));
    if (const int rate = sampleRateIndexOf(value(7)); rate >= 0) scope_.setSamplingRate(rate);
    scope_.setTriggerOn(leadingInt(value(8)) == 1);
    drive_.loadValueText(ColumnId::Clk, value(12));
    drive_.loadRunMode(leadingInt(value(13)));
    drive_.loadStepsText(value(14));
    drive_.loadStopLevel(leadingInt(value(15)));
    drive_.loadPinStateText(value(16));

    // Trigger channel, 1..4 (anything else is kept inside that range).
    scope_.setTriggerChannel(std::clamp(leadingInt(value(11)), 1, scope::kChannels) - 1);

    // Channel sources and outputs: "1 - B" is a current on the B output.
    for (int n = 0; n < scope::kChannels; ++n) {
        const std::string& text = value(17 + n);
        const int s = leadingInt(text);
        if (s < 0 || s > 2) continue; // no such source: the channel stays as it is
        const auto source = static_cast<scope::Source>(s);
        const bool dash = text.find('-') != std::string::npos;
        const bool outputB = dash && text.find('B') != std::string::npos;
        scope_.setSource(n, source);
        scope_.setOutput(n, outputB ? 1 : 0);
    }

    if (const int tb = timeBaseIndexOf(value(21)); tb >= 0) scope_.setTimeBase(tb);

    // Trigger levels as typed, and the acquisition running as it was.
    scope_.setVoltageLevelText(value(9));
    scope_.setCurrentLevelText(value(10));
    if (scope_.running()) scope_.setRunning(true);
    return true;
}

void SettingsCore::stage2()
{
    if (hooks_.modeChange) hooks_.modeChange();
    port_.pause(500ms);

    const auto& rate = scope::kSampleRates[static_cast<std::size_t>(scope_.samplingRateIndex())];
    port_.queueWrite(scope::kRegDividerLow, static_cast<std::uint8_t>(rate.divider & 0xFF), link::WriteClass::Scope);
    port_.queueWrite(scope::kRegDividerHigh, static_cast<std::uint8_t>(rate.divider >> 8), link::WriteClass::Scope);
    port_.queueWrite(scope::kRegLengthLow, 255, link::WriteClass::Scope);
    port_.queueWrite(scope::kRegLengthHigh, 15, link::WriteClass::Scope);
    port_.pause(50ms);

    drive_.sendPins(20ms);

    for (int n = 0; n < scope::kChannels; ++n)
        if (const int i = scaleIndexOf(scope_.source(n), value(22 + n)); i >= 0) scope_.setValuePerDiv(n, i);

    reapplySimpleSettings();
}

void SettingsCore::reapplySimpleSettings()
{
    port_.queueWrite(drive::kModeSetupRegister, 1);
    if (hooks_.rerunPowerAndClock) hooks_.rerunPowerAndClock();
    port_.pause(50ms);
    port_.waitWriteDone(std::chrono::milliseconds(5000));
    drive_.recommitValues();
}

} // namespace zelbo::files
