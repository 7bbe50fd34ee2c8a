#pragma once
// The oscilloscope's host side without any window: the acquisition settings,
// the register sequences that carry them to the board, the trigger, and the
// conversion of uploaded sweeps into traces.
//
// Threads: the setters run on the GUI thread. arm() and processSweep() run on
// the board reader thread, which calls them when it finds the scope-arm and
// sweep-done triggers signalled. Shared settings are guarded by one mutex that
// is never held while talking to the command port, so the GUI thread can wait
// for the reader without a deadlock.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/command_port.h"
#include "scope/scope_channel.h"
#include "scope/scope_tables.h"
#include "scope/scope_view.h"
#include "scope/sweep_observer.h"

namespace zelbo::scope {

// The link's four capture blocks (8192 bytes each), read-only for the scope.
using CaptureAreas = std::array<std::span<const std::uint8_t>, kChannels>;

// How sweeps follow the trigger, as on a bench scope. The board re-arms by
// itself after every sweep and waits for ever for an armed trigger (Normal);
// Auto's time-out, Single's one sweep and the holdoff are the host's doing.
enum class TriggerMode : int { Auto = 0, Normal = 1, Single = 2 };
inline constexpr int kTriggerModes = 3;
const char* triggerModeText(TriggerMode mode); // "Auto", "Normal", "Single"

// What the acquisition is doing, for the state indicator.
enum class TriggerState : int {
    Stopped,   // not running (Single after its sweep, too)
    Waiting,   // holdoff after a sweep: the trigger is not armed yet
    Armed,     // armed, waiting for the trigger
    Triggered, // the last sweep came from the trigger
    Auto,      // Auto mode swept without a trigger, as none came in time
    FreeRun,   // trigger off: every sweep starts at once
};
const char* triggerStateText(TriggerState state); // "Stop", "Wait", "Armed", "Trig'd", "Auto", "Run"

// What the trigger controls of the window should show.
struct TriggerControls {
    std::string buttonCaption; // "OFF" while the trigger is on (the caption names the action)
    bool voltageLevelEnabled = false;
    bool currentLevelEnabled = false;
};

class ScopeCore {
public:
    explicit ScopeCore(link::CommandPort& port);
    ScopeCore(const ScopeCore&) = delete;
    ScopeCore& operator=(const ScopeCore&) = delete;

    // Wiring (before use).
    void setView(ScopeView* view);
    // Signals the link's scope-arm trigger; the reader then calls arm().
    void setArmRequest(std::function<void()> armRequest);
    // Offsets used by the trigger setup; set whenever calibration changes them.
    void setCalibrationOffsets(const CalibrationOffsets& offsets);
    CalibrationOffsets calibrationOffsets() const;
    // Asks the reader to call onTimer() at (or soon after) the given time; a
    // later request replaces an earlier one. Auto mode and holdoff use it.
    void setTimerRequest(std::function<void(std::chrono::steady_clock::time_point)> request);
    // Sees every converted sweep on the reader thread (before the reader runs).
    void setSweepObserver(SweepObserver* observer) { observer_ = observer; }

    ScopeChannel& channel(int n) { return channels_.at(static_cast<std::size_t>(n)); }
    const ScopeChannel& channel(int n) const { return channels_.at(static_cast<std::size_t>(n)); }

    // Start-up state: time base "2.5 ms", "150 kHz", "20 V"/div, voltage
    // sources, trigger off at 0.000 V / 0.000 A, and all four channels shown
    // and acquired (what a fresh start without a settings file looks like).
    // Register writes go out as for the matching user actions.
    void applyDefaults();

    // ---- GUI thread -------------------------------------------------------
    void setRunning(bool run);
    bool running() const { return running_.load(); }

    // Shows or hides a channel's trace. Hiding keeps the channel in the
    // acquisition control byte, so it goes on being acquired.
    void setChannelOn(int n, bool on);
    bool channelOn(int n) const;

    void setSource(int n, Source source);
    Source source(int n) const;
    // Output combo: 0 = "A" output, 1 = "B" output. Ignored for a voltage
    // source (its output is fixed); kept, but not shown, for ICC.
    void setOutput(int n, int outputIndex);
    int output(int n) const;
    bool outputSelectable(int n) const { return source(n) == Source::Current; }
    std::string outputText(int n) const; // text of the selected output, "ICC" for ICC
    double directionSign(int n) const;

    // Value/div index; clamped to the table of the channel's unit. Returns it.
    int setValuePerDiv(int n, int index);
    int valuePerDivIndex(int n) const;
    int valuePerDivMax(int n) const { return scaleCount(source(n)) - 1; }

    // SEC/DIV: shows and applies the chosen entry, links the sampling rate
    // when "Auto" is on, then keeps the index at or below 15. Returns the index.
    int setTimeBase(int index);
    int timeBaseIndex() const;
    std::string timeBaseText() const;
    double timeBaseUs() const;

    // SAMPLING RATE: writes the divider at once (also while stopped) and links
    // the time base when "Auto" is on. Returns the index.
    int setSamplingRate(int index);
    int samplingRateIndex() const;
    std::string samplingRateText() const;
    double samplePeriodUs() const;

    void setAuto(bool on);
    bool autoLink() const;

    void setTriggerOn(bool on);
    bool triggerOn() const;
    void setTriggerChannel(int t);
    int triggerChannel() const;
    void setSlopeMinus(bool minus);
    bool slopeMinus() const;
    std::string slopeCaption() const { return slopeMinus() ? "-" : "+"; }

    // Trigger level from a slider: returns the "%.3f" text for the edit. The
    // caller applies the trigger setup a moment later (applyTriggerSetup).
    std::string setVoltageLevelFromSlider(int position);
    std::string setCurrentLevelFromSlider(int position);
    // Trigger level typed into an edit: stores the reformatted text, applies
    // the trigger setup and returns the new slider position.
    int setVoltageLevelText(std::string_view text);
    int setCurrentLevelText(std::string_view text);
    std::string voltageLevelText() const;
    std::string currentLevelText() const;
    int voltageSlider() const;
    int currentSlider() const;

    // Writes the channel configuration bytes with the armed bit and, when
    // armed, the trigger level and slope.
    void applyTriggerSetup(bool armed);
    TriggerControls triggerControls() const;

    // The acquisition control register's value as last written.
    std::uint8_t controlValue() const;
    std::uint8_t configByte(int n) const;

    // Trigger mode and holdoff (time after each sweep before the trigger is
    // armed again, 0..kMaxHoldoffMs). Not part of the settings file. Single:
    // Run takes one sweep from the trigger (or at once with the trigger off)
    // and then stops by itself; Run again for the next one.
    void setTriggerMode(TriggerMode mode);
    TriggerMode triggerMode() const;
    double setHoldoffMs(double ms); // returns the value kept
    double holdoffMs() const;
    TriggerState triggerState() const { return static_cast<TriggerState>(triggerState_.load()); }

    // ---- board reader thread ----------------------------------------------
    // Programs the front end and starts acquisition. The link clears its
    // capture blocks and fill counters before calling this.
    void arm();
    // Converts the sweep in `areas` into the channels' traces. Returns the
    // channels (bit n = channel n) whose fill counters the link must reset.
    std::uint8_t processSweep(const CaptureAreas& areas, const CalibrationOffsets& offsets);
    // The first upload record of a sweep has arrived: the board re-arms as
    // soon as the upload is out, so a Single or a holdoff takes the trigger
    // away now (a level no sample reaches) rather than after the sweep.
    void sweepUploading();
    // The time asked for with the timer request has come (or passed).
    void onTimer(std::chrono::steady_clock::time_point now);
    std::uint64_t sweepsConverted() const { return sweeps_.load(); }

private:
    struct Write {
        std::uint8_t reg;
        std::uint8_t value;
    };
    using Writes = std::vector<Write>;

    struct ChannelState {
        Source source = Source::Voltage;
        int output = 0;
        int valuePerDiv = kDefaultValuePerDiv;
        double direction = 1.0;
        bool shown = false;
        std::uint8_t config = kCfgAlwaysOne;
    };

    void send(const Writes& writes);
    // Sends a trigger set up anew (the configuration bytes, level and slope)
    // and, while running, starts the trigger's cycle again.
    void sendTriggerSetup(const Writes& writes);
    void triggerSetupLocked(bool armed, Writes& out);
    void updateTriggerControlsLocked();
    int timeBaseInner(int index, bool link, Writes& out);
    int samplingRateInner(int index, bool link, Writes& out);
    void applyValuePerDivLocked(int n);
    // Reader side of the trigger modes.
    int triggerLevelCodeLocked() const;
    void realTriggerWritesLocked(Writes& out) const; // the trigger as the user set it
    void parkWritesLocked(Writes& out) const;        // armed at a level never reached
    void forceWritesLocked(Writes& out) const;       // not armed: a sweep at once
    void startTriggerCycleLocked(std::chrono::steady_clock::time_point now);
    std::chrono::steady_clock::duration autoTimeoutLocked(double periodUs) const;
    void requestTimerLocked(std::function<void(std::chrono::steady_clock::time_point)>& request,
                            std::chrono::steady_clock::time_point& at) const;

    link::CommandPort& port_;
    ScopeView* view_ = nullptr;
    std::function<void()> armRequest_;

    mutable std::mutex mutex_; // guards everything below except the atomics
    std::array<ScopeChannel, kChannels> channels_;
    std::array<ChannelState, kChannels> state_{};
    CalibrationOffsets offsets_{};
    std::uint8_t control_ = 0;
    int timeBase_ = kDefaultTimeBase;
    std::string timeBaseText_{kTimeBases[kDefaultTimeBase].text};
    double timeBaseUs_ = kTimeBases[kDefaultTimeBase].usPerDiv;
    int sampleRate_ = kDefaultSampleRate;
    bool auto_ = false;
    bool triggerOn_ = false;
    bool slopeMinus_ = false;
    std::string voltageLevel_ = "0.000";
    std::string currentLevel_ = "0.000";
    int voltageSlider_ = kVoltSliderMax / 2;
    int currentSlider_ = kAmpSliderMax / 2;
    bool inTimeBase_ = false;
    bool inSampleRate_ = false;

    // Trigger modes (under mutex_; the state is read without it).
    using TimePoint = std::chrono::steady_clock::time_point;
    std::function<void(TimePoint)> timerRequest_;
    TriggerMode triggerMode_ = TriggerMode::Normal; // what the trigger always did
    double holdoffMs_ = 0.0;
    bool parked_ = false;     // the board holds a trigger level no sample reaches
    bool forced_ = false;     // Auto: the board was told to sweep without the trigger
    bool singleTaken_ = false;
    // Run is on and its arm has been asked for but has not come yet: the
    // board is not acquiring for this Run, so a sweep still on its way from
    // before belongs to no one.
    std::atomic<bool> awaitingArm_{false};
    TimePoint rearmAt_{};     // holdoff ends (parked only)
    TimePoint autoAt_{};      // Auto gives up waiting (armed only)
    std::atomic<int> triggerState_{static_cast<int>(TriggerState::Stopped)};

    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> sweeps_{0};
    // Scratch traces exchanged with the channels' traces (reader thread only),
    // and the sample period whose times each buffer already holds (0 = none):
    // times only change with the sampling rate, so most sweeps write values only.
    std::array<Trace, kChannels> scratch_;
    std::array<double, kChannels> scratchPeriod_{};
    std::array<double, kChannels> tracePeriod_{};
    // One per channel: the sweep observer sees every channel's block at once.
    std::array<std::array<std::uint8_t, kCaptureBytes>, kChannels> shortBlock_{};
    // One channel's codes as keys, for measuring (reader thread).
    alignas(16) std::array<std::int16_t, kSamplesPerSweep> keys_{};
    std::array<KeyLimits, kChannels> keyLimits_{};
    SweepObserver* observer_ = nullptr;
    SweepFrame frame_{};
};

} // namespace zelbo::scope
