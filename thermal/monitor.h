#pragma once
// The temperature monitor without a window: its step list, the step records
// it hands to the main window, the log of Time, Io, Tj and Vf the main window
// keeps, and the run itself (start checks, one step per timer expiry, stop).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelbo::thermal {

inline constexpr std::size_t kMaxSteps = 256;
inline constexpr double kMinRnf = 0.01;
inline constexpr double kMaxRnf = 1.0;
inline constexpr int kDivideSteps = 10; // "1 / 10" .. "1 / 1"

// One row of the step list: the grid's cells as typed.
struct StepRow {
    std::string vref, mth, ps, mode0, mode1;
    bool operator==(const StepRow&) const = default;
};

// One operating point, as the main window applies it.
struct StepRecord {
    int kind = 0;            // 0: the temperature monitor's rows
    std::string vrefText;
    int ps = 1, mode0 = 1, mode1 = 1;
    double rnf = 0.2;        // ohms
    int divisor = 10;        // VREF divisor, 10 .. 1
    std::string mthText;
    double minutes = 1.0;    // how long each step lasts ("Time (min)")
};

// 1 unless the cell, upper-cased, is "LO".
int pinFlag(std::string_view cell);
// VREF Divide position 0..9: "1 / 10" .. "1 / 1" and the divisor 10 .. 1
// (positions outside the range are taken as the nearest end).
int divisorOfIndex(int index);
std::string divideText(int index);
// The RNF Resistor field on leaving it: the number (a "k" means x 1000)
// clamped to 0.01 .. 1 ohm, as "%0.2f".
double clampRnf(double ohms);
std::string rnfFieldText(std::string_view entered);
// "%02u:%02u:%02u" of hours, minutes and seconds.
std::string elapsedText(std::uint64_t seconds);
// Output current in mA from VREF (volts), the sense resistor and the divisor.
double ioMilliamps(double vrefVolts, double rnfOhms, int divisor);

StepRecord makeStepRecord(const StepRow& row, double rnfOhms, int divisor, double minutes = 1.0);
// Minutes as the log shows them: up to four decimals, no trailing zeros
// ("1", "0.05", "2.5").
std::string minutesText(double minutes);

class Thermometer;

// The log: one row per step that has ended, texts as shown and exported.
struct LogRow {
    std::string time; // minutes: the rows logged before it x the step's minutes
    std::string io;   // "%.0f" mA
    std::string temp; // "%.2f" degrees
    std::string vf;   // "%.0f" mV
    bool operator==(const LogRow&) const = default;
};

class TemperatureLog {
public:
    void clear() { rows_.clear(); }
    // The step that has just ended ran at `vrefVolts` through `record`'s
    // sense resistor and divisor; the junction is at `tj` now.
    void logStep(double vrefVolts, const StepRecord& record, double tj, double vf);
    // The same with Tj and Vf of the thermometer's last reading, both taken
    // from that one reading (0 before the first).
    void logStep(double vrefVolts, const StepRecord& record, const Thermometer& thermometer);
    // The first row describes the set-up before the first step: it goes.
    // The rest is ordered by Io (numerically, ties keep their order).
    void finish();
    const std::vector<LogRow>& rows() const { return rows_; }
    void setRows(std::vector<LogRow> rows) { rows_ = std::move(rows); }

private:
    std::vector<LogRow> rows_;
};

// The run: Idle, Started (one step at a time), back to Idle after the last
// step or on Stop.
class MonitorRun {
public:
    enum class StartError { None, NoTime, NoRnf, EmptyList };
    static const char* errorText(StartError e); // shown under "Error"

    struct Step {
        bool final = false;        // no more rows: the run has ended
        StepRecord record;         // final: the last record sent (if any)
        std::chrono::milliseconds next{0}; // not final: wait this long
    };

    // Checks the fields and the list; on success the run is started and
    // the first step is due one second later.
    StartError start(std::vector<StepRow> rows, std::string_view timeText, std::string_view rnfText,
                     int divideIndex);
    // The step timer has expired: the next row's step (or the end).
    Step nextStep();
    void stop();
    bool running() const { return running_; }
    std::size_t stepsSent() const { return next_; }
    std::size_t stepCount() const { return rows_.size(); }

    // Seconds the run waits per minute of "Time (min)": 60, shortened only by
    // tests.
    void setSecondsPerMinute(double s) { secondsPerMinute_ = s; }
    std::chrono::milliseconds stepInterval() const { return interval_; }

private:
    std::vector<StepRow> rows_;
    std::size_t next_ = 0;
    double rnf_ = 0.2;
    int divisor_ = 10;
    double minutes_ = 1.0;
    std::chrono::milliseconds interval_{0};
    std::optional<StepRecord> last_;
    bool running_ = false;
    double secondsPerMinute_ = 60.0;
};

} // namespace zelbo::thermal
