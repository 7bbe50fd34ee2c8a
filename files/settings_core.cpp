#include "files/settings_core.h"

#include <algorithm>
#include <chrono>

#include "common/number_text.h"
#include "drive/drive_core.h"
#include "scope/scope_core.h"
#include "scope/scope_tables.h"

namespace zelbo::files {

using namespace std::chrono_literals;

SettingsCore::SettingsCore(drive::DriveCore& drive, scope::ScopeCore& scope, link::CommandPort& port,
                           SettingsHooks hooks, const SettingsTable& table)
    : drive_(drive), scope_(scope), port_(port), hooks_(std::move(hooks)), table_(table)
{
}

SettingsValues SettingsCore::collect() const
{
    const SettingsSource source{drive_, scope_};
    SettingsValues v;
    for (const SettingsRow& row : table_) v[row.line] = row.collect(source);
    return v;
}

bool SettingsCore::save(const std::filesystem::path& path, std::string* error) const
{
    return writeSettingsFile(path, collect(), error, table_);
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

bool SettingsCore::present(const SettingsRow& row) const
{
    return row.line <= static_cast<int>(lines_.size());
}

bool SettingsCore::needed(const SettingsRow& row) const
{
    return row.onlyAbove == 0 || static_cast<int>(lines_.size()) > row.onlyAbove;
}

bool SettingsCore::stage1(SettingsLoadResult& r)
{
    // Every line the file has is applied; a missing one keeps what the cores
    // hold, and the first of them is reported. A value that cannot be used is
    // named with its line; the line keeps what the cores hold (unreadable) or
    // is limited (out of range).
    for (const SettingsRow& row : table_)
        if (needed(row) && !present(row) && (r.missingLine == 0 || row.line < r.missingLine)) r.missingLine = row.line;

    SettingsTarget target{drive_, scope_};
    target.notes = &r.notes;
    auto run = [&](const SettingsRow& row, const auto& fn) {
        if (!fn || !needed(row) || !present(row)) return;
        target.line = row.line;
        target.label = row.label;
        fn(target, value(row.line));
    };
    for (SettingsStep step = SettingsStep::Supply; step != SettingsStep::Board;
         step = static_cast<SettingsStep>(static_cast<int>(step) + 1)) {
        for (const SettingsRow& row : table_) {
            if (step == SettingsStep::Check && row.step == SettingsStep::Board) run(row, row.check);
            else if (row.step == step) run(row, row.apply);
        }
        // A sweep column of which the file sets any limit is validated as the
        // window does (its MIN checked, the slider re-ranged, the value
        // committed), before the values that must lie inside it.
        if (step == SettingsStep::Limits)
            for (std::size_t c = 0; c < target.limitsSet.size(); ++c)
                if (target.limitsSet[c]) drive_.commitLimit(static_cast<drive::ColumnId>(c), drive::Limit::Min);
    }

    // The acquisition running as it was.
    if (scope_.running()) scope_.setRunning(true);
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

    SettingsTarget target{drive_, scope_};
    for (const SettingsRow& row : table_)
        if (row.step == SettingsStep::Board && row.apply && needed(row) && present(row)) {
            target.line = row.line;
            target.label = row.label;
            row.apply(target, value(row.line));
        }

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
