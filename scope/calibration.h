#pragma once
// Offset calibration of the four scope channels: with the driver's pins at
// 0 V, three acquisitions of all four channels (voltage, current and ICC
// sources at the fastest rate) measure the level each input reads at rest;
// the offsets are those levels negated, so a quiet input converts to 0.
//
// Threads: start(), poll() and finish() run on the GUI thread; runStep() on
// the board reader thread, which calls it on every fourth sweep-finished
// record while calibrating() is true (the link does the counting). The step
// counter is atomic; a mutex keeps a step and a time-out from overlapping.
//
// A step that does not come within the step time-out (the board stopped
// sweeping) ends calibration: the old offsets are kept, the acquisition is
// stopped and the controls come back.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

#include "common/message_service.h"
#include "common/command_port.h"
#include "scope/scope_channel.h"
#include "scope/scope_core.h"

namespace zelbo::scope {

inline constexpr const char* kCalibrationRefused =
    "This operation is not available while the oscilloscope function is in use. Please press \"Run/Stop\" to "
    "enable device calibration.";
inline constexpr const char* kCalibrationCompleted = "Oscilloscope calibration completed.\n";
inline constexpr const char* kCalibrationCaption = "Oscilloscope Calibration";
inline constexpr const char* kCalibrationTimedOut =
    "Oscilloscope calibration stopped: the board delivered no sweep in time. The previous offsets are kept.";
inline constexpr const char* kCalibratingStatus = "Calibrating...";

// Channel configuration bytes of the three steps (trigger not armed).
inline constexpr std::uint8_t kCalVoltageConfig = 0x04;
inline constexpr std::uint8_t kCalCurrentConfig = 0x14;
inline constexpr std::uint8_t kCalIccConfig = 0x1C;

struct CalibrationHooks {
    // GUI thread, in start(): the five pins to 0 V, stale board input dropped.
    std::function<void()> dropPins;
    std::function<void()> purgeInput;
    std::function<bool()> scopeRunning;             // "Run" checked
    std::function<void()> disableControls;          // groups off, status "Calibrating..."
    std::function<void()> clearCaptures;            // capture areas and fill counters
    // Reader thread: a step needs the capture areas; the last step asks for
    // finish() on the GUI thread.
    std::function<void()> finishLater;
    // GUI thread, when calibration ends (completed or timed out): the ready
    // state and the controls back, and the pins as the user set them.
    std::function<void()> restoreControls;
    std::function<void()> reapplyPins;
    // GUI thread: the new offsets for the conversion (completed only).
    std::function<void(const CalibrationOffsets&)> offsetsChanged;
};

class Calibration {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kStepTimeout{5000};

    Calibration(link::CommandPort& port, MessageService& messages, CalibrationHooks hooks = {});
    // The front end's hooks, set once before the first start.
    void setHooks(CalibrationHooks hooks) { hooks_ = std::move(hooks); }

    // ---- GUI thread -------------------------------------------------------
    // CALIBRATE. False when refused (Run on) or already calibrating; a
    // refusal puts the pins back as they were.
    bool start();
    // Ends a calibration whose step has waited longer than the time-out;
    // true when it did. Call it regularly (the chart refresh does).
    bool poll(Clock::time_point now = Clock::now());
    // Completes a calibration whose last step has run: offsets, controls,
    // message, pins. Does nothing otherwise.
    void finish();
    // Ends a calibration from outside (power off, closing, a lost board):
    // the old offsets stay, the acquisition is stopped when `toBoard`, and
    // the controls come back without a message. False when none ran.
    bool abort(bool toBoard);

    const CalibrationOffsets& offsets() const { return offsets_; }
    void setOffsets(const CalibrationOffsets& offsets) { offsets_ = offsets; }

    // ---- any thread -------------------------------------------------------
    bool calibrating() const { return step_.load() != 0; }
    int step() const { return step_.load(); }

    // ---- board reader thread ------------------------------------------------
    void runStep(const CaptureAreas& areas);

    // Pure measurement of one step over the capture areas (exposed for tests).
    // Voltage: a running halving m = (m + v) / 2 over each channel's samples,
    // carried from one channel to the next; current and ICC: the mean.
    static std::array<double, kChannels> measureVoltage(const CaptureAreas& areas);
    static std::array<double, kChannels> measureMean(const CaptureAreas& areas);

private:
    void writeSources(std::uint8_t config);
    void beginStep(int step);

    link::CommandPort& port_;
    MessageService& messages_;
    CalibrationHooks hooks_;

    std::atomic<int> step_{0};
    std::mutex mutex_; // a step on the reader against a time-out on the GUI thread
    Clock::time_point stepStarted_{};
    CalibrationOffsets measured_{};
    std::optional<CalibrationOffsets> result_; // the last step's, until finish()
    CalibrationOffsets offsets_{};             // GUI thread
};

} // namespace zelbo::scope
