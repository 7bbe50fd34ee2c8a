#pragma once
// Dynamic sequences: a timed table of drive set-ups (VREF, MTH, the step
// clock and the five pins) that the board's pattern sequencer plays on its
// own, without the PC in the loop.
//
// SequenceTable holds the cell texts of up to 255 rows and normalises every
// edit; validate() checks a table before it runs; buildRows() turns it into
// row records, patternRecord() a row into the 15 bytes the sequencer reads.
// SequenceHost is the board side of a run: the one window that may run at a
// time, the start / stop / pause register sequences and the upload in blocks
// of 33 records. Qt-free; everything runs on the GUI thread.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/command_port.h"
#include "common/fpga_registers.h"

namespace zelbo::drive::sequence {

inline constexpr int kRows = 255;
inline constexpr int kColumns = 9;
inline constexpr int kWindows = 3;

enum Col : int { kTime, kVref, kMth, kClk, kPs, kEnable, kMode0, kMode1, kCw };

// Values of the sequencer control register (reg::kSeqControl).
namespace seqreg {
inline constexpr std::uint8_t kRun = 0x80;
inline constexpr std::uint8_t kPaused = 0xC0;
inline constexpr std::uint8_t kStopped = 0x00;
} // namespace seqreg

inline constexpr std::size_t kRecordSize = 15;
inline constexpr std::size_t kRecordsPerBlock = 33;

// Pause-button states as the window sends them: the value then written to the
// sequencer control register.
inline constexpr int kPauseStateRunning = 192;
inline constexpr int kPauseStatePaused = 128;

const char* columnHeader(int column);
bool isPinColumn(int column);

// The cell in its normalised form: numbers clamped to the column's range,
// rounded to its grid and formatted; pins "HI" / "LO"; empty stays empty.
std::string normaliseCell(int column, std::string_view text);

// Whether a typed cell can be taken: empty, a number (prefixes allowed) in a
// number column, HI, LO or a number in a pin column. A window refuses the
// rest rather than store it as 0 or LO.
bool cellReadable(int column, std::string_view text);

class SequenceTable {
public:
    SequenceTable();
    const std::string& cell(int row, int column) const;
    // Stores the normalised text (out-of-range positions are ignored).
    void setCell(int row, int column, std::string_view text);
    void clear();
    // Rows from the first down to the first one whose time cell is empty.
    int usedRows() const;

private:
    std::vector<std::array<std::string, kColumns>> cells_;
};

// Validation before a start; the message for each failure.
enum class Validation { Ok, InvalidTime, NotIncreasing, Empty };
// `row`, when given, is set to the row (from 0) that failed, -1 when none.
Validation validate(const SequenceTable& table, int* row = nullptr);
const char* validationMessage(Validation v);

// One row as the window hands it over: all texts.
struct RowRecord {
    std::string vref, mth;
    std::string clk;               // whole hertz, "%d"
    std::string duty = "50.00";
    std::array<std::string, 5> pins; // "1" / "0" in column order PS, ENABLE, MODE0, MODE1, CW/CCW
    std::string time;
    int window = 0;
};

struct StartRecord {
    enum Kind { Start = 0, Stop = 1 } kind = Start;
    bool finished = false;          // stop only: the sequence ended by itself
    std::string cycles = "1";       // "0" for endless
    std::string repeatDelay = "0";
    std::string rowCount = "0";
    std::vector<RowRecord> rows;
};

// Rows from the first down to the first empty time cell.
std::vector<RowRecord> buildRows(const SequenceTable& table, int window);
// A clock cell in whole hertz ("2.500 k" -> 2500).
long clockCellHz(std::string_view cell);

using PatternRecord = std::array<std::uint8_t, kRecordSize>;
// previousTimeMs: the time of the row before (0 for the first).
PatternRecord patternRecord(const RowRecord& row, long previousTimeMs);
std::vector<std::uint8_t> patternRecords(const std::vector<RowRecord>& rows);

// The end marker the board reports as current row: the top six bits set.
inline bool isEndMarker(std::int16_t index) { return (static_cast<std::uint16_t>(index) & 0xFC00) == 0xFC00; }

// What a run needs from the link beyond the command port.
struct HostHooks {
    std::function<void()> quiesceTriggers;
    std::function<bool(std::chrono::milliseconds)> waitBlockWritten;
    // The scope run register's value while the oscilloscope runs, else nullopt.
    std::function<std::optional<std::uint8_t>()> scopeRunValue;
    // The main window switches the step clock to continuous (between the
    // reset and the run parameters).
    std::function<void()> prepareClock;
};

// The row the sequencer is at, from the board's answers: the current-row
// register's answer (its low byte) asks for the high byte, whose answer gives
// the signed index (the end marker once the table is done). Fed every
// register answer in arrival order from one thread at a time.
class RowIndexAnswers {
public:
    std::optional<std::int16_t> take(std::uint8_t reg, std::uint8_t value, link::CommandPort& port);

private:
    std::uint8_t low_ = 0;
};

class SequenceHost {
public:
    SequenceHost(link::CommandPort& port, HostHooks hooks);
    // The front end's hooks, set once before the first run.
    void setHooks(HostHooks hooks) { hooks_ = std::move(hooks); }

    // The window whose sequence runs, or -1.
    int runningWindow() const { return running_; }

    // Reset, run parameters, upload, run. Records `window` as running.
    void start(const StartRecord& record, int window);
    // Stops (unless the board already ended the run), resets the sequencer
    // and reads the row register once more. Clears the running window.
    void stop(bool finished);
    // Pause / Continue: the window's pause state written to the control register.
    void sendPauseState(int state);
    // The 25 ms row poll: the answer comes back as a read of the current-row
    // register (reg::kSeqRow, then its high byte).
    void requestRow();

    static constexpr auto kSettle = std::chrono::milliseconds(50);
    static constexpr auto kWait = std::chrono::milliseconds(5000);

private:
    void uploadBlock(std::uint16_t firstRow, const std::vector<std::uint8_t>& bytes);

    link::CommandPort& port_;
    HostHooks hooks_;
    int running_ = -1;
};

} // namespace zelbo::drive::sequence
