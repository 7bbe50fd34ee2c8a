#pragma once
// The settings file (".set"): the whole bench set-up as 34 value lines behind
// a three-line header. Each value line is the value text, a tab, and a comment
// for the human reader; loading uses only the values, by position.
//
// This header is the format alone (text in, text out); settings_core.h applies
// a loaded file to the drive and oscilloscope cores.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/settings_lines.h"

namespace zelbo::files {

inline constexpr int kSettingsValueLines = kLineLast;
// Lines 1..25 are the set-up proper; 26..34 the sweep limits, which are used
// only when the file holds more than 31 value lines (settings_lines.h).
inline constexpr int kSettingsCoreLines = kLineSweep - 1;
inline constexpr int kSettingsSweepThreshold = 31;

inline constexpr const char* kSettingsHeader = "TQ5170x Evaluation Software\nEvaluation Settings\n-----\n";
inline constexpr const char* kSettingsSaveFailed = "Failed to create .set file. Settings can't be saved.";
inline constexpr const char* kSettingsOpenFailed = "Failed to open .set file";

// A set-up as the file holds it: the value text of each line, by position
// (from 1; see settings_lines.h). A line never set reads as "".
class SettingsValues {
public:
    std::string& operator[](int line)
    {
        if (line > static_cast<int>(texts_.size())) texts_.resize(static_cast<std::size_t>(line));
        return texts_[static_cast<std::size_t>(line - 1)];
    }
    const std::string& operator[](int line) const
    {
        static const std::string none;
        return line >= 1 && line <= static_cast<int>(texts_.size()) ? texts_[static_cast<std::size_t>(line - 1)] : none;
    }
    bool operator==(const SettingsValues&) const = default;

private:
    std::vector<std::string> texts_;
};

// One value line as read: the text up to the tab and the rest of the line.
struct SettingsLine {
    std::string value;
    std::string comment;
};

// The file's bytes: the header, then one line per row of the table (value
// and comment), "\n" line ends. The micro sign of a time base ("500 µs") is
// written as the Windows code page's byte 0xB5, as the settings files of the
// Windows program carry it.
std::string formatSettings(const SettingsValues& v, const SettingsTable& table = settingsTable());

// One value text as read from a file: UTF-8 as it is, and a byte 0xB5 that
// is not part of a UTF-8 sequence taken as the Windows code page's micro
// sign ("µ" in UTF-8). Other bytes are kept.
std::string valueFromFile(std::string_view bytes);
// One value text as written: "µ" as the byte 0xB5, tabs and line breaks as
// spaces; everything else as it is.
std::string valueForFile(std::string_view text);

// The value lines of a file's bytes. The header ends with the first line
// that contains "----"; no such line, no values. Every further non-empty line
// is one value line: the value is the text before its first tab (the whole
// line when it has none), the comment what follows. Lines end with LF, CR or
// CR LF; spaces or tabs ending the value or the comment are dropped, so files
// written on Windows or touched by an editor read the same; blank lines are
// skipped. Any bytes are accepted: comments may be in any 8-bit code page
// and keep their bytes; values go through valueFromFile().
std::vector<SettingsLine> parseSettings(std::string_view bytes);

// Whole-file helpers. write: atomically (the old file stays on failure).
// read: false when the file cannot be opened or read, is not a plain file, or
// is larger than kSettingsMaxBytes.
inline constexpr std::size_t kSettingsMaxBytes = 4u << 20;
bool writeSettingsFile(const std::filesystem::path& path, const SettingsValues& v, std::string* error = nullptr,
                       const SettingsTable& table = settingsTable());
bool readSettingsFile(const std::filesystem::path& path, std::vector<SettingsLine>& lines);

// The first-run settings: a quarter-step drive that moves on all four
// channels as soon as the power is switched on.
SettingsValues defaultSettings(const SettingsTable& table = settingsTable());


} // namespace zelbo::files
