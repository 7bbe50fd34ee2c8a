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

namespace zelbo::files {

inline constexpr int kSettingsValueLines = 34;
// Lines 1..25 are the set-up proper; 26..34 the sweep limits, which are used
// only when the file holds more than 31 value lines.
inline constexpr int kSettingsCoreLines = 25;
inline constexpr int kSettingsSweepThreshold = 31;

inline constexpr const char* kSettingsHeader = "TQ5170x Evaluation Software\nEvaluation Settings\n-----\n";
inline constexpr const char* kSettingsSaveFailed = "Failed to create .set file. Settings can't be saved.";
inline constexpr const char* kSettingsOpenFailed = "Failed to open .set file";

// One channel line: source list index (0 voltage, 1 current, 2 ICC) and
// whether the output list shows the "B" output.
struct ChannelSetting {
    int source = 0;
    bool outputB = false;
};

// Everything a settings file stores, as the window shows it.
struct SettingsValues {
    int mode = 0;
    bool vcc33 = false;            // "3.3 V" checked; otherwise 5.0 V
    std::string vref, rnf, rnfRate, mth, samplingRate;
    int triggerOn = 0;             // the trigger toggle's check state
    std::string voltageLevel, currentLevel;
    int triggerChannel = 1;        // 1..4
    std::string clk;
    int clockManual = 0;           // 0 "Continuous", 1 "Manual"
    std::string steps;
    int stopHigh = 0;              // 0 L, 1 H
    std::string pins;              // "01011": PS, ENABLE, MODE0, MODE1, CW/CCW
    std::array<ChannelSetting, 4> channels{};
    std::string timeBase;
    std::array<std::string, 4> valuePerDiv;
    // VREF, MTH, CLK columns; each MAX, STEP, MIN.
    std::array<std::array<std::string, 3>, 3> sweep;
};

// One value line as read: the text up to the tab and the rest of the line.
struct SettingsLine {
    std::string value;
    std::string comment;
};

// The file's bytes, "\n" line ends, numbers independent of the locale. The
// micro sign of a time base ("500 µs") is written as the Windows code page's
// byte 0xB5, as the settings files of the Windows program carry it.
std::string formatSettings(const SettingsValues& v);

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
bool writeSettingsFile(const std::filesystem::path& path, const SettingsValues& v, std::string* error = nullptr);
bool readSettingsFile(const std::filesystem::path& path, std::vector<SettingsLine>& lines);

// The first-run settings: a quarter-step drive that moves on all four
// channels as soon as the power is switched on.
SettingsValues defaultSettings();


} // namespace zelbo::files
