#pragma once
// The engine: the board link and the sequences that span the cores (power on
// and off, link start and shutdown, the thermometer tick), with its own timer
// thread. Qt-free, so that the window, the command line and the Python module
// drive the board the same way. Whoever shows the controls (the window) or
// stands in for them (a headless session) supplies the steps of the power
// sequences that are theirs through `PowerSteps`.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "common/message_service.h"
#include "engine/answers.h"
#include "engine/instrument_state.h"
#include "engine/thermometer_timer.h"
#include "link/fpga_link.h"
#include "drive/sequence.h"
#include "scope/calibration.h"
#include "thermal/monitor.h"
#include "thermal/thermometer.h"

namespace zelbo::drive {
class DriveCore;
}
namespace zelbo::scope {
class ScopeCore;
}
namespace zelbo::files {
class SettingsCore;
}

namespace zelbo::engine {

// The parts of the power sequences that belong to the front end, in the order
// the engine calls them. Every step runs on the thread that called powerOn()
// or powerOff().
class PowerSteps {
public:
    virtual ~PowerSteps() = default;
    virtual int mode() const = 0;               // drive mode; 0 runs the thermometer
    // Power on.
    virtual void switchedOn() {}                // caption, control groups enabled
    virtual void applySupplyAndPins() = 0;      // supply register and the five pins
    virtual void startScope() {}                // acquisition on ("Run")
    virtual bool psLow() const { return false; } // PS held low at power on
    virtual void startClock() {}                // the step clock as set up
    // Power off.
    virtual void stopClock() {}
    virtual void switchedOff() {}               // caption
    virtual void controlsOff() {}               // control groups disabled
};

struct EngineOptions {
    link::LinkOptions link;
    std::chrono::milliseconds thermometerPeriod{1000};
    std::chrono::milliseconds writeWait{5000};
};

class Engine {
public:
    Engine(MessageService& messages, EngineOptions options = {});
    ~Engine(); // stops the thermometer, then the link, then the cores go
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    link::FpgaLink& link() { return *link_; }
    const link::FpgaLink& link() const { return *link_; }
    // The board's answers to register reads, decoded: front ends listen here.
    Answers& answers() { return *answers_; }

    // ---- the cores ------------------------------------------------------------
    // One of each, on the link's port and the engine's messages. The front
    // end sets their hooks and the link's handlers; views bind to them.
    drive::DriveCore& drive() { return *drive_; }
    scope::ScopeCore& scope() { return *scope_; }
    scope::Calibration& calibration() { return *calibration_; }
    drive::sequence::SequenceHost& sequence() { return *sequence_; }
    files::SettingsCore& settings() { return *settings_; }
    // The diode code converted with the selected chip's coefficients, and
    // the Tj monitor's log (the monitor's run is the window's).
    thermal::Thermometer& thermometer() { return thermometer_; }
    thermal::TemperatureLog& temperatureLog() { return temperatureLog_; }
    // The thermometer and the link go (the reader stops, the bridge is
    // closed) while the cores stay for the views that still refer to them.
    // Only destruction may follow.
    void releaseLink();

    // The link's share of the calibration and sequence hooks (the pins to
    // 0 V, input purge, capture clear; trigger quiescing, the block-write
    // wait). The front end fills in the rest and sets them on the cores.
    scope::CalibrationHooks calibrationLinkHooks();
    drive::sequence::HostHooks sequenceLinkHooks();
    // Hands every fourth sweep to the calibration core while it calibrates,
    // as a copy of the capture areas (reader thread).
    void feedCalibrationFromReader();
    // The offsets of a calibration file ("init.clb"), for the calibration
    // core and the conversion; false (and nothing changed) when it cannot be
    // read.
    bool loadCalibrationFile(const std::filesystem::path& path);
    // The acquisition on the link's reader: the arm request, the arm (capture
    // areas cleared, the scope core's registers) and each sweep converted from
    // a copy of the capture areas. Every front end wires it the same way.
    void wireAcquisition();

    // ---- what the instrument is doing ----------------------------------------
    InstrumentState& state() { return state_; }
    const InstrumentState& state() const { return state_; }
    // Ends the running activity for `cause` before the board is touched for
    // it; false when its owner kept it (the caller then does not go on).
    // `activityEnded` fires for an activity ended this way.
    bool endActivity(EndCause cause);
    boost::signals2::signal<void(Activity, EndCause)> activityEnded;
    // The board is gone: whatever runs ends without writing to it.
    void linkLost();

    // ---- link start and shutdown ------------------------------------------
    // Bring-up and the initial writes (engine/link_sequences.h, the DAC
    // outputs cleared by the drive core); blocks for seconds. 0 when the
    // board is up (the link's result codes otherwise).
    int start(link::BringUpObserver& progress, link::LinkObserver& window);
    // The front end's thread, with the result of start().
    void linkStarted(bool up);
    // The thermometer stops, then the link's shutdown traffic and reader stop.
    bool shutdown();

    // ---- power --------------------------------------------------------------
    // The sequences of the power switch. Both begin with the common prefix
    // (stale input purged while the link is up, the power sequencing writes).
    // Power off ends the running activity first.
    void powerOn(PowerSteps& steps);
    void powerOff(PowerSteps& steps);
    bool poweredOn() const { return powered_.load(); }
    // Waits until queued writes have left the host (at once without a reader).
    void waitWritesSent();

    // ---- thermometer ----------------------------------------------------------
    // Every period while running: the diode code (high nibble, then low byte)
    // and, when `readClock` says so, the clock control register (its answer
    // ends a counted run). `afterTick` runs on the timer thread after the reads.
    void setThermometerReadsClock(std::function<bool()> readClock);
    void setThermometerTick(std::function<void()> afterTick);
    // Where a due tick runs: null runs it on the timer thread; a window hands
    // it to its own thread (the reads then sit between its other traffic as
    // they always have).
    void setThermometerDispatch(std::function<void(std::function<void()>)> dispatch);
    void startThermometer();
    void stopThermometer();
    bool thermometerRunning() const;
    // One tick now, on the calling thread.
    void thermometerTick();

private:
    void powerPrefix();
    void followClock();

    MessageService& messages_;
    EngineOptions options_;
    std::unique_ptr<link::FpgaLink> link_;
    std::unique_ptr<Answers> answers_; // fed by the link's reader
    std::unique_ptr<drive::DriveCore> drive_;
    std::unique_ptr<scope::ScopeCore> scope_;
    std::unique_ptr<scope::Calibration> calibration_;
    std::unique_ptr<drive::sequence::SequenceHost> sequence_;
    std::unique_ptr<files::SettingsCore> settings_;
    std::unique_ptr<link::FpgaLink::CaptureSnapshot> calSnapshot_; // reader thread only
    thermal::Thermometer thermometer_;
    thermal::TemperatureLog temperatureLog_;
    std::atomic<bool> powered_{false};
    InstrumentState state_;
    boost::signals2::scoped_connection modeFollower_;
    std::unique_ptr<link::FpgaLink::CaptureSnapshot> sweepSnapshot_; // reader thread only

    std::unique_ptr<ThermometerTimer> timer_; // goes before the link it reads through
};

} // namespace zelbo::engine
