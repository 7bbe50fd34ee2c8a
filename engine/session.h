#pragma once
// A board without a window: the engine and its drive, oscilloscope, settings,
// calibration and sequence cores, for the command line and the Python
// module. Every call is made from one thread at a time (the front end's);
// the link's reader hands its findings over through flags and copies, never
// by touching the cores. Every wait is bounded. Failures throw
// `SessionError` (board and file trouble) or `std::invalid_argument` (a bad
// argument), each with a text for the user.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "drive/drive_core.h"
#include "drive/sequence.h"
#include "engine/engine.h"
#include "scope/analysis/math_file.h"
#include "scope/analysis/frequency_analysis.h"
#include "scope/measure/sweep_measurer.h"
#include "scope/record/sweep_recorder.h"
#include "scope/scope_core.h"
#include "scope/sweep_observer.h"

namespace zelbo::files {
class SettingsCore;
}
namespace zelbo::scope {
class Calibration;
}

namespace zelbo::engine {

class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// The board could not be brought up (none there, no access, ...).
class NoBoardError : public SessionError {
public:
    using SessionError::SessionError;
};

// A wait given up because the front end was interrupted (Ctrl-C, SIGTERM):
// what it waited on has been stopped first.
class Interrupted : public SessionError {
public:
    using SessionError::SessionError;
};

struct SessionOptions {
    // true: the simulated board; false: a real one; empty: ZELBO_BOARD
    // decides. The variable is set (or cleared) only while the bridge
    // library is loaded at bring-up, then put back as it was.
    std::optional<bool> sim;
    // A real board chosen by its serial number or USB path ("1-4.2"); empty:
    // ZELBO_USB_BOARD decides, and without it the first board in bus and
    // port order. Handed to the bridge library as ZELBO_USB_BOARD while it is
    // loaded. A choice no attached board answers to is refused before the
    // bring-up, naming the boards that are attached.
    std::string usbBoard;
    // Polled at least every 100 ms by every wait; true gives the wait up
    // (after stopping what it waited on) with `Interrupted`.
    std::function<bool()> interrupted;
    link::LinkOptions link;      // program folder, library name, timings
    std::chrono::milliseconds startTimeout{60000};
    // Where "init.clb" is read at open and written after a calibration;
    // empty: the program's data folder.
    std::filesystem::path dataFolder;
};

// How a dynamic sequence repeats: 1..99 cycles, or 0 for endless; a pause of
// 0..60000 ms between cycles.
struct SequenceOptions {
    int cycles = 1;
    int repeatDelayMs = 0;
};

// A math channel evaluated over one capture.
struct MathTrace {
    std::string expression;
    std::string unit;           // derived from the channels' units ("W", "A", ...)
    std::vector<double> values; // one per sample; NaN where undefined (x / 0)
    std::string error;          // why there are no values (the units no longer fit)
    scope::Measurement figures{}; // measure() only
};

// One sweep of the four channels.
struct Capture {
    struct Channel {
        std::vector<double> values; // volts or amperes
        std::string source;         // "V", "I" or "ICC"
        std::string unit;           // "V" or "A"
        std::string output;         // the probed output ("OUT1A" ... or "ICC")
        std::string valuePerDiv;    // as the window shows it
    };
    std::vector<double> t;          // seconds from the first sample
    std::array<Channel, scope::kChannels> ch;
    double samplePeriod = 0.0;      // seconds
    std::string timeBase;           // SEC/DIV text
    std::uint64_t index = 0;        // sweep number since the session began
    // The window's measurement strip for this sweep (measure() only).
    std::array<scope::Measurement, scope::kChannels> figures{};
    bool measured = false;
    // The settings it was taken with, as read back when it was handed out
    // (a fresh capture began after the last change of them).
    double vref = 0.0, mth = 0.0; // volts, as the DAC makes them
    double clock = 0.0;           // Hz the generator makes from CLK
    bool clockRunning = false;
    std::string mode;             // excitation, as the drive window names it
    std::string samplingRate;     // "150 kHz"
    std::array<bool, scope::kChannels> on{}; // channel acquired
    // The math channels that are on, M1 and M2.
    std::array<std::optional<MathTrace>, scope::analysis::kMathChannels> math;
};

// The spectrum of one channel of a fresh sweep, with its harmonics.
struct SpectrumResult {
    std::string channel;           // "CH1".."CH4", "M1", "M2"
    std::string unit;
    scope::analysis::Window window = scope::analysis::Window::Hann;
    std::vector<double> frequency; // Hz, per bin
    std::vector<double> amplitude; // peak amplitude per bin, in `unit`
    // The fundamental looked for: the coil currents' electrical frequency
    // (step clock / steps per cycle of the mode) for a current channel while
    // the clock runs, else 0 (the strongest tone).
    double expectedHz = 0.0;
    scope::analysis::Harmonics harmonics;
    std::uint64_t index = 0;       // the sweep's
};

// One board per process: the bridge library and the simulated board are
// process-wide, and a second bring-up would take the first one's board from
// under it. A second Session while one exists is refused at once.
class SessionClaim {
public:
    SessionClaim();  // throws SessionError when a session exists
    ~SessionClaim();
    SessionClaim(const SessionClaim&) = delete;
    SessionClaim& operator=(const SessionClaim&) = delete;
};

class Session : private PowerSteps, private scope::SweepObserver {
public:
    explicit Session(SessionOptions options = {});
    ~Session() override; // powers off when on, shuts the board down
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Brings the board up; throws NoBoardError. Called by the constructor.
    void open();
    void close();
    bool isOpen() const { return open_; }
    // Which board this is: "sim" or "usb".
    const std::string& board() const { return board_; }
    // A real board's USB path and serial number, as listed at open ("" for
    // the simulated board, or a serial the board does not report).
    const std::string& usbPath() const { return usbPath_; }
    const std::string& serial() const { return serial_; }

    // ---- power, supply, pins, references --------------------------------------
    // The power switch's sequence; with `startClock` false the step clock
    // stays stopped at its end (the window always starts it).
    void powerOn(bool startClock = true);
    void powerOff();
    bool poweredOn() const { return engine_->poweredOn(); }
    void setVdut(double volts);                   // 3.3 or 5.0
    void setPin(const std::string& name, bool high); // "ps", "enable", "mode0", "mode1", "cw"
    // VREF and MTH as the DAC makes them (whole millivolts, truncated); the
    // value applied is returned, and read back by vref() / mth().
    double setVref(double volts);
    double setMth(double volts);
    double vref() const;
    double mth() const;
    void setRnf(double ohms);
    // The chip list of the data folder (the window's "TQ5170x.chip"; the
    // built-in chip when there is none) for the drive mode: its names, and
    // the choice whose A and B convert Tj. Returns the name chosen.
    std::vector<std::string> chipNames() const { return drive_->chipNames(); }
    std::string selectChip(const std::string& name);
    // "full", "half-a", "half-b", "quarter" (MODE0/MODE1 pins).
    void setMode(const std::string& name);

    // ---- step clock -----------------------------------------------------------
    // Continuous when `steps` is empty; a counted run of `steps` otherwise.
    // The frequency is the generator's (40 MHz / (N + 1), N = trunc(40 MHz /
    // f - 1)), 0.01 Hz to 100 kHz; returned, and read back by clock().
    // The board counts at most 255 steps a run: a longer run is made of
    // runs of 255 and the rest, each started by waitRun() when it sees the
    // last one end (a gap of one poll, about 20 ms, between them).
    double run(double hertz, std::optional<long long> steps = std::nullopt);
    // Waits for a counted run (every part of it) to end; false on time-out.
    bool waitRun(std::chrono::milliseconds timeout);
    void stop();
    bool running() const { return drive_->clockRunning() || stepsLeft_ > 0; }
    // The clock the generator makes from the CLK value, Hz (0: none).
    double clock() const;
    // Duty of the step clock, 1 to 100 %, as the generator takes it (whole
    // percent, the high time D = trunc(d / 100 * N)); returns it.
    int setDuty(double percent);
    // The level the clock rests at after a counted run (from the next start).
    void setStopHigh(bool high);
    static constexpr long long kMaxSteps = drive::kMaxCountedSteps;

    // ---- files, sequences, calibration, temperature -------------------------------
    // The math channels go to and come from "name.zmath" beside "name.set"
    // (written when a math channel is set up or the file exists already; a
    // settings file without one turns the math channels off).
    void loadSettings(const std::filesystem::path& path);
    void saveSettings(const std::filesystem::path& path);
    // Junction temperature in degrees Celsius.
    double tj(std::chrono::milliseconds timeout);

    // Oscilloscope offset calibration: the three steps of CALIBRATE, the
    // acquisition stopped first as the menu command does (and started again
    // after when it ran). The offsets take effect and are written to
    // "init.clb". Refused while a dynamic sequence runs; bounded (a board
    // that stops sweeping ends it with the old offsets kept).
    void calibrate();
    const scope::CalibrationOffsets& calibrationOffsets() const;

    // Dynamic sequences: the table is checked as the dialog checks it, then
    // uploaded and started; the board plays it on its own. Needs power and
    // drive mode 0.
    void runSequence(const drive::sequence::SequenceTable& table, SequenceOptions options = {});
    // The same from a CSV file as the dialog saves it.
    void runSequenceFile(const std::filesystem::path& csv, SequenceOptions options = {});
    // Waits for the sequence to end by itself (true), false on time-out or
    // when it is endless. The drive then returns to the session's settings.
    bool waitSequence(std::chrono::milliseconds timeout);
    void stopSequence();
    bool sequenceRunning() const { return sequence_->runningWindow() >= 0; }
    // How long the running sequence plays, all cycles and pauses (0 endless).
    std::chrono::milliseconds sequenceLength() const { return sequenceLength_; }

    // ---- oscilloscope ---------------------------------------------------------------
    // Channel 0..3 probes "V" (its output), "I" (a coil current; output 0 the
    // A output, 1 the B output) or "ICC".
    void setSource(int channel, const std::string& source, int output = 0);
    // The window's oscilloscope controls, by the texts they show (blanks and
    // case do not count, "us" for "µs"); each returns what was applied.
    // Time base "500 ns" .. "50 ms" (SEC/DIV; "Auto" may move the sampling
    // rate with it, as in the window), sampling rate "2.5 kHz" .. "10 MHz".
    std::string setTimeBase(const std::string& text);
    std::string setSamplingRate(const std::string& text);
    void setChannelOn(int channel, bool on);
    // Value/div of the channel's unit: "100 mV" .. "50 V" or "100 mA" .. "10 A".
    std::string setScale(int channel, const std::string& text);
    // The trigger: channel 0..3, its level in the channel's unit (within the
    // level slider's +-36 V or +-6 A), the slope (falling: "-"). Returns the
    // level applied ("%.3f").
    double setTrigger(bool on, int channel, double level, bool falling);
    // Trigger mode "auto", "normal" or "single" (case does not count); returns
    // its name as the window shows it. Single: the next Run (or capture) takes
    // one sweep and the oscilloscope stops by itself.
    std::string setTriggerMode(const std::string& mode);
    // Holdoff after each sweep, 0..10000 ms; returns the value applied.
    double setHoldoff(double ms);
    // "Stop", "Wait", "Armed", "Trig'd", "Auto" or "Run" (see scope::TriggerState).
    std::string triggerState() const;
    // Every setting a front end can read back, as name -> text, in a fixed
    // order (power, drive, clock, oscilloscope).
    std::vector<std::pair<std::string, std::string>> status() const;

    // Fresh: a whole sweep armed after the call (the one under way is
    // skipped). Otherwise the next sweep newer than the last one returned
    // (for streaming: none is handed out twice).
    Capture capture(std::chrono::milliseconds timeout, bool fresh = true);
    // A fresh capture with the figures the window's measurement strip shows
    // for it (the same measurer, fed with the drive's Io and excitation
    // mode); channels not acquired have no figures.
    Capture measure(std::chrono::milliseconds timeout);
    // Math channel 0 (M1) or 1 (M2): an expression over CH1..CH4 and
    // constants (see scope/analysis/math_expression.h), checked against the
    // channels' present units; empty turns it off. Returns the result's unit;
    // a refused expression throws std::invalid_argument with the reason and
    // leaves the channel as it was. Captures carry the channels that are on.
    std::string setMath(int index, const std::string& expression);
    const scope::analysis::MathSetups& mathSetups() const { return math_; }
    // The spectrum of "CH1".."CH4", "M1" or "M2" in a fresh sweep; window
    // "hann", "flat-top" or "rectangular"; THD over harmonics up to
    // `maxHarmonic`.
    SpectrumResult spectrum(const std::string& channel, const std::string& window,
                            std::chrono::milliseconds timeout,
                            int maxHarmonic = scope::analysis::kDefaultMaxHarmonic);
    // Sweeps the oscilloscope core has converted since the session began.
    std::uint64_t sweepsConverted() const { return scope_->sweepsConverted(); }

    // ---- recording, output, step count ------------------------------------------
    // Records every converted sweep of the acquired channels into a recording
    // file (the window's format, written by the window's recorder) for
    // `seconds` (0.1 to 86400), or until the file would pass `maxBytes` (0:
    // any size), or once it holds `sweeps` sweeps (0: any number); waits for
    // the end. The acquisition is started when it is
    // not running. An interruption or a lost board ends the file whole
    // (every sweep taken is in it) before the wait gives up. Throws
    // SessionError when the recording cannot start or stops by itself
    // (the disk could not keep up, a write failed).
    scope::RecordStatus record(const std::filesystem::path& path, double seconds, std::uint64_t maxBytes = 0,
                               std::uint64_t sweeps = 0);
    // What the window's output selection sets: the output (0 A, 1 B) a
    // coil-current channel probes; refused for a voltage or ICC channel,
    // whose output is fixed. Returns the output's name ("OUT2B").
    std::string setOutput(int channel, int output);
    // The board reports no step position. This is what the session knows:
    // the steps of counted runs that ran to their end since the board was
    // opened (every part of a chained run). Continuous runs, stopped runs
    // and sequences are not in it, nor is the direction.
    long long countedSteps() const { return countedSteps_; }

    drive::DriveCore& drive() { return *drive_; }
    scope::ScopeCore& scope() { return *scope_; }
    Engine& engine() { return *engine_; }
    // Text of the last message the cores showed (what a window would have shown).
    std::string lastMessage() const;

private:
    class Messages;
    // PowerSteps.
    int mode() const override { return drive_->mode(); }
    void applySupplyAndPins() override { drive_->applyVccAndPins(); }
    void startScope() override;
    void startClock() override
    {
        if (clockOnPower_) drive_->setClockRunning(true);
    }
    void stopClock() override { drive_->setClockRunning(false); }
    void controlsOff() override;
    // SweepObserver (reader thread).
    void onSweep(const scope::SweepFrame& frame) override;

    void requireOpen() const;
    // Throws Interrupted when the front end says so.
    void checkInterrupted() const;
    std::optional<std::string> chooseUsbBoard();
    void startCountedPart();
    double setReference(drive::ColumnId id, double volts);
    // The simple settings back on the board, with the exact values the
    // session set (the drive's re-commit would put them on the slider grid).
    void reapplySettings();
    void requirePower(const char* what) const;
    void applyRunEnded();
    void wireCalibration();
    void wireSequence();
    void loadChipList();
    void endSequence(bool finished);
    std::filesystem::path calibrationPath() const;

    SessionClaim claim_; // first: a refused session touches nothing
    SessionOptions options_;
    std::string board_;
    std::string usbPath_, serial_;
    long long stepsLeft_ = 0; // of a counted run over 255 steps, not yet started
    bool clockOnPower_ = true; // the power-on sequence starts the clock
    std::unique_ptr<Messages> messages_;
    std::unique_ptr<Engine> engine_;
    // The engine's cores.
    drive::DriveCore* drive_ = nullptr;
    scope::ScopeCore* scope_ = nullptr;
    files::SettingsCore* settings_ = nullptr;
    scope::Calibration* calibration_ = nullptr;
    drive::sequence::SequenceHost* sequence_ = nullptr;
    bool open_ = false;
    bool endless_ = false; // the running sequence repeats until stopped
    std::chrono::milliseconds sequenceLength_{0};

    // Handed over by the reader thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool runEnded_ = false;
    std::optional<std::uint16_t> diodeCode_;
    bool boardLost_ = false;
    std::uint64_t sweepIndex_ = 0;
    std::uint64_t lastDelivered_ = 0;
    Capture pending_;
    bool pendingReady_ = false;
    bool calibrationDone_ = false;         // the last step has run: finish() is due
    std::optional<std::int16_t> seqRow_;   // the last row index the board reported
    // Sweeps are measured (on the reader thread) only while measure() waits.
    scope::SweepMeasurer measurer_;
    std::atomic<bool> measureWanted_{false};
    // Takes every sweep (reader thread) while record() waits.
    scope::SweepRecorder recorder_;
    long long partSteps_ = 0;    // the counted part under way
    long long countedSteps_ = 0; // see countedSteps()
    // Front-end thread only.
    scope::analysis::MathSetups math_{};
    scope::analysis::SpectrumAnalyser analyser_;
    void evaluateMath(Capture& c) const;
};

} // namespace zelbo::engine
