#pragma once
// Saving and loading the bench set-up through the drive and oscilloscope
// cores, never through the windows: the window binds its file dialogs and
// messages to this class and redraws from the cores afterwards.
//
// A load runs in two stages. Stage 1 puts every value into the cores (the
// little board traffic it causes is what the same edits by hand would
// cause). Stage 2, only when the board is ready, sends the whole set-up to
// the board again. A file with fewer value lines than a stage needs applies
// every line it has; what a missing line would set stays as it was, and the
// first missing line is reported.
// GUI thread only.

#include <functional>
#include <string>
#include <vector>

#include "files/settings_file.h"
#include "common/command_port.h"

namespace zelbo::files {

struct SettingsHooks {
    std::function<bool()> boardReady;          // stage 2 runs only when true
    std::function<void()> refreshViews;        // after stage 1: redraw from the cores
    std::function<void()> modeChange;          // stage 2: the mode-change handling for the current mode
    std::function<void()> rerunPowerAndClock;  // stage 2: power and clock handlers for their current states
};

// How far a load got.
struct SettingsLoadResult {
    bool opened = false;
    int valueLines = 0;     // value lines in the file
    int missingLine = 0;    // first line a stage needed but the file lacks (0: none)
    bool stage2 = false;    // the set-up went to the board
    // One sentence per line whose value was unreadable (kept what was there)
    // or out of range (limited), in line order.
    std::vector<std::string> notes;
};

class SettingsCore {
public:
    // `table` says which line holds what (the program's own by default); it
    // must outlive the core.
    SettingsCore(drive::DriveCore& drive, scope::ScopeCore& scope, link::CommandPort& port,
                 SettingsHooks hooks = {}, const SettingsTable& table = settingsTable());
    // The front end's hooks, set once before the first load.
    void setHooks(SettingsHooks hooks) { hooks_ = std::move(hooks); }

    // The set-up as the cores hold it.
    SettingsValues collect() const;
    // Writes it atomically; false (with `error`) leaves any old file as it was.
    bool save(const std::filesystem::path& path, std::string* error = nullptr) const;

    // Reads `path` and applies it. `opened` false: the file could not be read
    // and nothing changed.
    SettingsLoadResult load(const std::filesystem::path& path);
    // Applies lines already read (replacing the kept list).
    SettingsLoadResult apply(std::vector<SettingsLine> lines);

    // The value lines of the last load.
    const std::vector<SettingsLine>& lines() const { return lines_; }

    // A one-line account of an incomplete load for the status bar ("" when
    // the load was complete).
    static std::string incompleteText(const SettingsLoadResult& r);
    // What the status bar says after a load: the incomplete text and the
    // notes, joined; empty when the file was read whole and clean.
    static std::string statusText(const SettingsLoadResult& r);

    // The board back on the window's simple settings (the last step of a
    // load; also the end of dynamic mode and of advance mode): the power and
    // clock handlers re-run for their states (supply and pins), then VREF,
    // MTH and CLK committed again.
    void reapplySimpleSettings();

private:
    bool stage1(SettingsLoadResult& r);
    bool present(const SettingsRow& row) const; // the file has the row's line
    bool needed(const SettingsRow& row) const;  // the row counts for a file of this length
    void stage2();
    const std::string& value(int line) const { return lines_[static_cast<std::size_t>(line - 1)].value; }

    drive::DriveCore& drive_;
    scope::ScopeCore& scope_;
    link::CommandPort& port_;
    SettingsHooks hooks_;
    const SettingsTable& table_;
    std::vector<SettingsLine> lines_;
};

} // namespace zelbo::files
