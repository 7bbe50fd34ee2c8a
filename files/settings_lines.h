#pragma once
// The settings file's value lines in one table: for each line its position,
// its label, the comment written after it, its first-run text, how its text
// is collected from the drive and oscilloscope cores and how it is applied
// back to them. Saving, loading and the first-run file all go through the
// table, so a new setting is one new row.
//
// Lines are applied in steps, not in file order: the sweep limits before the
// values that must lie inside them, the trigger channel after the pins, the
// channels' sources before their VALUE/DIV is checked, the trigger levels
// last; VALUE/DIV reaches the board with stage 2 only.

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace zelbo::drive {
class DriveCore;
}
namespace zelbo::scope {
class ScopeCore;
}

namespace zelbo::files {

// The value lines by position (from 1), in file order.
enum SettingsLineId : int {
    kLineMode = 1,
    kLineVcc,
    kLineVref,
    kLineRnf,
    kLineRnfRate,
    kLineMth,
    kLineSamplingRate,
    kLineTriggerOn,
    kLineVoltageLevel,
    kLineCurrentLevel,
    kLineTriggerChannel,
    kLineClk,
    kLineClockManual,
    kLineSteps,
    kLineStopHigh,
    kLinePins,
    kLineChannel1, // CH1..CH4 source and output
    kLineTimeBase = kLineChannel1 + 4,
    kLineValuePerDiv1, // CH1..CH4 VALUE/DIV
    kLineSweep = kLineValuePerDiv1 + 4, // VREF, MTH, CLK columns; each MAX, STEP, MIN
    kLineLast = kLineSweep + 8,
};

// When a line is applied during a load. Stage 1 runs the steps in this
// order, each step's lines in file order; Board lines are applied in stage 2
// (with the board ready) and only checked in stage 1, at Check.
enum class SettingsStep { Supply, Limits, Drive, TriggerChannel, Channels, TimeBase, Check, Levels, Board };

// What a line is collected from.
struct SettingsSource {
    const drive::DriveCore& drive;
    const scope::ScopeCore& scope;
};

// What a line is applied to, and where it says that a value could not be used.
struct SettingsTarget {
    SettingsTarget(drive::DriveCore& d, scope::ScopeCore& s) : drive(d), scope(s) {}

    drive::DriveCore& drive;
    scope::ScopeCore& scope;
    int line = 0;                        // the line being applied
    std::string label;                   // its label
    std::vector<std::string>* notes = nullptr;
    std::array<bool, 3> limitsSet{};     // sweep columns of which a line set a limit

    // "Line N (label): "text" outcome", in the load's notes.
    void note(const std::string& text, const std::string& outcome) const;
};

struct SettingsRow {
    int line = 0;                 // position among the value lines, from 1
    std::string label;            // names the line in load notes
    std::string comment;          // written after the value: separator and text
    std::string firstRun;         // the first-run file's value
    SettingsStep step = SettingsStep::Drive;
    // Applied only when the file has more value lines than this (the sweep
    // block of older files is optional); 0: always.
    int onlyAbove = 0;
    std::function<std::string(const SettingsSource&)> collect;
    std::function<void(SettingsTarget&, const std::string&)> apply;
    // Board lines: checked in stage 1 so that a bad value is named either way.
    std::function<void(SettingsTarget&, const std::string&)> check;
};

using SettingsTable = std::vector<SettingsRow>;

// The program's table: lines 1..kLineLast, in file order.
const SettingsTable& settingsTable();

} // namespace zelbo::files
