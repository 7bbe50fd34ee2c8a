#include "engine/engine.h"

#include "common/fpga_registers.h"
#include "drive/dac.h"
#include "drive/drive_core.h"
#include "drive/pins.h"
#include "engine/link_sequences.h"
#include "files/settings_core.h"
#include "scope/calibration_file.h"
#include "scope/scope_core.h"

namespace zelbo::engine {

namespace {
// Power sequencing values and the DAC strobe codes around them.
constexpr std::uint8_t kSequenceBegin = 0x02;
constexpr std::uint8_t kSequenceArmed = 0x0B;
constexpr std::uint8_t kStrobeMode0 = 0x83;
constexpr std::uint8_t kStrobePs = 0x87;
constexpr std::uint8_t kSupplyOff = 0xE0;
constexpr std::uint16_t kPsHighLevel = 2500; // PS pin level at power on, mV
} // namespace

Engine::Engine(MessageService& messages, EngineOptions options)
    : messages_(messages), options_(std::move(options)),
      link_(std::make_unique<link::FpgaLink>(messages_, options_.link)),
      answers_(std::make_unique<Answers>(*link_)),
      drive_(std::make_unique<drive::DriveCore>(*link_, messages_)),
      scope_(std::make_unique<scope::ScopeCore>(*link_)),
      calibration_(std::make_unique<scope::Calibration>(*link_, messages_)),
      sequence_(std::make_unique<drive::sequence::SequenceHost>(*link_, drive::sequence::HostHooks{})),
      settings_(std::make_unique<files::SettingsCore>(*drive_, *scope_, *link_)),
      timer_(std::make_unique<ThermometerTimer>(*link_, options_.thermometerPeriod))
{
    link_->onReadAnswer([a = answers_.get()](std::uint8_t reg, std::uint8_t value) { a->take(reg, value); });
    // The drive mode is the drive core's; the state follows it.
    modeFollower_ = drive_->changed.connect([this](unsigned aspects) {
        if (aspects & drive::aspect::kMode) state_.setMode(drive_->mode());
        if (aspects & drive::aspect::kClock) followClock();
    });
    state_.setMode(drive_->mode());
}

Engine::~Engine()
{
    releaseLink();
    settings_.reset();
    sequence_.reset();
    calibration_.reset();
    scope_.reset();
    drive_.reset();
}

scope::CalibrationHooks Engine::calibrationLinkHooks()
{
    link::FpgaLink& link = *link_;
    scope::CalibrationHooks h;
    h.dropPins = [&link] {
        for (drive::Pin pin : drive::kPinOrder) drive::loadDacChannel(link, drive::pinChannel(pin), 0);
    };
    h.purgeInput = [&link] {
        if (link.active()) link.purgeInput();
    };
    h.clearCaptures = [&link] { link.clearCaptures(); };
    return h;
}

drive::sequence::HostHooks Engine::sequenceLinkHooks()
{
    link::FpgaLink& link = *link_;
    drive::sequence::HostHooks h;
    h.quiesceTriggers = [&link] { link.quiesceTriggers(); };
    h.waitBlockWritten = [&link](std::chrono::milliseconds t) { return link.blockWriteDone().wait(t); };
    return h;
}

void Engine::feedCalibrationFromReader()
{
    if (!calSnapshot_) calSnapshot_ = std::make_unique<link::FpgaLink::CaptureSnapshot>();
    scope::Calibration& core = *calibration_;
    link::FpgaLink& link = *link_;
    link.onCalibration([&core] { return core.calibrating(); },
                       [this, &core, &link] {
                           link.copyCaptures(*calSnapshot_);
                           scope::CaptureAreas areas;
                           for (std::size_t n = 0; n < scope::kChannels; ++n)
                               areas[n] = std::span<const std::uint8_t>((*calSnapshot_)[n]);
                           core.runStep(areas);
                       });
}

bool Engine::loadCalibrationFile(const std::filesystem::path& path)
{
    scope::CalibrationOffsets offsets = calibration_->offsets();
    if (!scope::readCalibrationFile(path, offsets)) return false;
    calibration_->setOffsets(offsets);
    scope_->setCalibrationOffsets(offsets);
    return true;
}

void Engine::wireAcquisition()
{
    if (!sweepSnapshot_) sweepSnapshot_ = std::make_unique<link::FpgaLink::CaptureSnapshot>();
    link::FpgaLink& link = *link_;
    scope::ScopeCore& scope = *scope_;
    scope.setArmRequest([&link] { link.armScope(); });
    // Reader thread: the arm and the sweep conversion.
    link.onScopeArm([&link, &scope] {
        link.clearCaptures();
        scope.arm();
    });
    link.onSweep([this, &link, &scope] {
        link.copyCaptures(*sweepSnapshot_);
        scope::CaptureAreas areas;
        for (std::size_t n = 0; n < scope::kChannels; ++n)
            areas[n] = std::span<const std::uint8_t>((*sweepSnapshot_)[n]);
        link.resetCaptureIndices(scope.processSweep(areas, scope.calibrationOffsets()));
    });
    // Trigger modes: the trigger taken away while a sweep uploads (Single,
    // holdoff), and the reader's timer for Auto's time-out and the holdoff.
    link.onSweepUploading([&scope] { scope.sweepUploading(); });
    link.onScopeTimer([&scope] { scope.onTimer(std::chrono::steady_clock::now()); });
    scope.setTimerRequest([&link](std::chrono::steady_clock::time_point at) { link.scheduleScopeTimer(at); });
}

void Engine::followClock()
{
    // A counted run ("Manual" and the clock started) is an activity from its
    // start to the board's end of it; ended from outside, the clock stops.
    // Whoever starts the clock is refused beforehand while another activity
    // runs (the window's groups, the session's check).
    const bool counted = drive_->clockRunning() && drive_->manual();
    if (counted && state_.idle()) {
        state_.begin(Activity::CountedRun, [this](EndCause) {
            // Without a link the write is dropped; the run toggle goes off.
            drive_->setClockRunning(false);
            return true;
        });
    } else if (!counted) {
        state_.finished(Activity::CountedRun);
    }
}

bool Engine::endActivity(EndCause cause)
{
    const Activity was = state_.activity();
    if (!state_.end(cause)) return false;
    if (was != Activity::None) activityEnded(was, cause);
    return true;
}

void Engine::linkLost()
{
    endActivity(EndCause::LinkLost);
    state_.setLinkUp(false);
}

void Engine::releaseLink()
{
    // The reader's handlers reach into the cores: it stops before they go.
    timer_.reset();
    link_.reset();
}

int Engine::start(link::BringUpObserver& progress, link::LinkObserver& window)
{
    // Bring-up runs on a worker; the state is the front end's thread's, so
    // the link's state is set by whoever reads the result (linkStarted()).
    return startLink(*link_, progress, window, [this](CommandPort& port) { drive_->clearDacOutputs(port); });
}

void Engine::linkStarted(bool up) { state_.setLinkUp(up); }

bool Engine::shutdown()
{
    stopThermometer();
    return shutdownLink(*link_);
}

// ---------------------------------------------------------------- power

void Engine::powerPrefix()
{
    // Without a started link there is no board to talk to (and the writes
    // are dropped).
    if (link_->active()) link_->purgeInput();
    link_->queueWrite(reg::kPowerSequence, kSequenceBegin);
    link_->queueWrite(reg::kDacStrobe, kStrobeMode0);
    link_->queueWrite(reg::kPowerSequence, kSequenceArmed);
    link_->queueWrite(reg::kScopeGate, link_->scopeCommandsAllowed() ? 0x00 : 0x01);
}

void Engine::powerOn(PowerSteps& steps)
{
    powerPrefix();
    powered_.store(true);
    state_.setPowered(true);
    steps.switchedOn();
    if (steps.mode() == 0) {
        answers_->temperatureEvent().set();
        startThermometer();
    }
    steps.applySupplyAndPins();
    waitWritesSent();
    steps.startScope();
    const bool low = steps.psLow();
    link_->queueWrite(reg::kDacPsLow, low ? 0 : static_cast<std::uint8_t>(kPsHighLevel & 0xFF));
    link_->queueWrite(reg::kDacPsHigh, low ? 0 : static_cast<std::uint8_t>(kPsHighLevel >> 8));
    link_->queueWrite(reg::kDacStrobe, kStrobePs);
    steps.startClock();
}

void Engine::powerOff(PowerSteps& steps)
{
    // Whatever runs ends while the board still has its supply: nothing is
    // written to an unpowered board.
    endActivity(EndCause::PowerOff);
    powerPrefix();
    powered_.store(false);
    state_.setPowered(false);
    steps.stopClock();
    steps.switchedOff();
    link_->queueWrite(reg::kSupply, kSupplyOff);
    waitWritesSent();
    if (steps.mode() == 0) stopThermometer();
    steps.controlsOff();
    link_->queueWrite(reg::kDacPsLow, 0);
    link_->queueWrite(reg::kDacPsHigh, 0);
    link_->queueWrite(reg::kDacStrobe, kStrobePs);
}

void Engine::waitWritesSent()
{
    // Without a running reader nothing is sent: there is nothing to wait for.
    if (link_->readerRunning()) link_->waitWriteDone(options_.writeWait);
}

// ---------------------------------------------------------------- thermometer

void Engine::setThermometerReadsClock(std::function<bool()> readClock) { timer_->setReadsClock(std::move(readClock)); }
void Engine::setThermometerTick(std::function<void()> afterTick) { timer_->setAfterTick(std::move(afterTick)); }
void Engine::setThermometerDispatch(std::function<void(std::function<void()>)> dispatch)
{
    timer_->setDispatch(std::move(dispatch));
}
void Engine::startThermometer() { timer_->start(); }
void Engine::stopThermometer() { timer_->stop(); }
bool Engine::thermometerRunning() const { return timer_->running(); }
void Engine::thermometerTick() { timer_->tick(); }

} // namespace zelbo::engine
