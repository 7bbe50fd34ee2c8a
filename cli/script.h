#pragma once
// The command language of zelbo-cli: commands separated by newlines or ';',
// words by blanks, "double quotes" around a word with blanks, '#' to the end
// of the line a comment. Parsing and checking are pure functions, so that a
// whole script is refused before the board is touched. They survive any
// bytes: a NUL, a lone quote or an endless line is an error, never a crash.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelbo::cli {

struct Command {
    std::vector<std::string> words;
    int line = 1; // where it began, for messages
    std::string text() const;
};

struct ParseResult {
    std::vector<Command> commands;
    std::string error; // empty: parsed
};

inline constexpr std::size_t kMaxScriptBytes = 1u << 20;
inline constexpr std::size_t kMaxWordBytes = 4096;

ParseResult parseScript(std::string_view text);

// What a well-formed command asks for, its arguments parsed.
struct Step {
    enum class Kind { PowerOn, PowerOff, SetVref, SetMth, SetRnf, SetVdut, SetPin, SetMode, Run, Stop, Capture,
                      Load, Save, Calibrate, Temp, Sleep, Sequence, Measure, SetSource,
                      SetTimeBase, SetRate, SetChannel, SetScale, SetTrigger, Get, Status, SetDuty, SetStopLevel,
                      SetChip, Record, Convert, List, SetOutput, SetTriggerMode, SetHoldoff, SetMath, Spectrum };
    Kind kind = Kind::Stop;
    double value = 0.0;         // volts, ohms, hertz (run) or seconds (sleep)
    std::optional<long long> steps; // run --steps
    bool high = false;          // set pin, set stoplevel H; power on: the clock starts
    std::string name;           // pin, mode or file
    int cycles = 1;             // sequence: 1..99, 0 endless
    int delayMs = 0;            // sequence: pause between cycles
    int channel = 0;            // set source: 0..3 (written 1..4)
    int output = 0;             // set source: 0 the A output, 1 the B output
    bool falling = false;       // set trigger: slope "-"
    std::string target;         // convert: the CSV file
    double maxMegabytes = 0;    // record: the file's limit, 0 any size
    std::string window = "hann"; // spectrum: the window
    std::string file;           // spectrum --out: the bins as CSV
    int harmonics = 40;         // spectrum --harmonics: THD up to this one
};

// Checks one command, its arguments' ranges and names included (what the
// session would refuse is refused here, before the board is touched): its
// step, or a usage message naming the command.
struct CheckResult {
    std::optional<Step> step;
    std::string error;
};
CheckResult checkCommand(const Command& c);

// "2k", "2.5 k", "1500", "1M": hertz; nullopt when it is no frequency.
std::optional<double> parseFrequency(std::string_view text);
// A plain decimal number (no trailing junk); nullopt otherwise.
std::optional<double> parseNumber(std::string_view text);

// The --help text.
const char* usageText();

} // namespace zelbo::cli
