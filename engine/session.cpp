#include "engine/session.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <sstream>
#include <thread>

#include "drive/dac.h"
#include "common/number_text.h"
#include "drive/pins.h"
#include "drive/sequence_csv.h"
#include "engine/attached_boards.h"
#include "engine/chips.h"
#include "common/data_folder.h"
#include "files/settings_core.h"
#include "scope/analysis/math_expression.h"
#include "scope/calibration.h"
#include "scope/calibration_file.h"
#include "scope/record/recording_format.h"
#include "thermal/thermometer.h"

namespace zelbo::engine {

namespace {

using namespace std::chrono_literals;

std::string number(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

// Bring-up without a window: nothing to show.
struct Quiet final : link::BringUpObserver, link::LinkObserver {
    void statusText(const std::string&) override {}
    void progressShow() override {}
    void progressText(const std::string&) override {}
    void progressStep(int, int) override {}
    void progressHide() override {}
    void downloadProgressControl(bool) override {}
    void linkStarted() override {}
};

const char* sourceName(scope::Source s)
{
    switch (s) {
    case scope::Source::Voltage: return "V";
    case scope::Source::Current: return "I";
    default: return "ICC";
    }
}

std::atomic<bool> g_sessionExists{false};

// An environment variable for the bring-up only (the bridge reads it when
// it is loaded), then as it was, so that a later session chooses afresh.
class ScopedVariable {
public:
    // `value` nullopt: left as it is; empty: cleared.
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* v = std::getenv(name)) old_ = v;
        if (value && !value->empty()) ::setenv(name, value->c_str(), 1);
        else if (value) ::unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::optional<std::string> boardVariable(std::optional<bool> sim)
{
    if (!sim) return std::nullopt;
    return *sim ? "sim" : "";
}

std::string variable(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

} // namespace

SessionClaim::SessionClaim()
{
    if (g_sessionExists.exchange(true))
        throw SessionError("A board is already open in this process; close it first (one board per process).");
}

SessionClaim::~SessionClaim() { g_sessionExists.store(false); }

// Messages the cores would show in a box: kept for the front end, questions
// answered the way that lets the command go on.
class Session::Messages final : public MessageService {
public:
    MsgAnswer show(const Message& m) override
    {
        std::lock_guard lock(mutex_);
        last_ = m.text;
        // A question the window would ask ("Start the demo ... instead?") is
        // answered here without asking: the text is kept without it.
        if (m.buttons == MsgButtons::YesNo) {
            const auto cut = last_.rfind("\n\n");
            if (cut != std::string::npos && !last_.empty() && last_.back() == '?') last_.erase(cut);
        }
        switch (m.buttons) {
        case MsgButtons::Ok: return MsgAnswer::Ok;
        case MsgButtons::OkCancel: return MsgAnswer::Ok;
        default: return MsgAnswer::No; // never offer to restart in demo mode
        }
    }
    std::string last() const
    {
        std::lock_guard lock(mutex_);
        return last_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        last_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::string last_;
};

Session::Session(SessionOptions options) : options_(std::move(options)), messages_(std::make_unique<Messages>())
{
    EngineOptions eo;
    eo.link = options_.link;
    engine_ = std::make_unique<Engine>(*messages_, std::move(eo));
    link::FpgaLink& link = engine_->link();
    drive_ = &engine_->drive();
    scope_ = &engine_->scope();
    settings_ = &engine_->settings();
    calibration_ = &engine_->calibration();
    sequence_ = &engine_->sequence();
    files::SettingsHooks sh;
    sh.boardReady = [this] { return open_; };
    sh.rerunPowerAndClock = [this] {
        if (engine_->poweredOn()) engine_->powerOn(*this);
    };
    settings_->setHooks(std::move(sh));

    scope_->setSweepObserver(this);
    engine_->wireAcquisition();
    engine_->answers().onClockRunEnded([this] {
        std::lock_guard lock(mutex_);
        runEnded_ = true;
        changed_.notify_all();
    });
    engine_->answers().onTemperature([this](std::uint16_t code) {
        std::lock_guard lock(mutex_);
        diodeCode_ = code;
        changed_.notify_all();
    });
    auto lost = [this] {
        std::lock_guard lock(mutex_);
        boardLost_ = true;
        changed_.notify_all();
    };
    link.onCommunicationError(lost);
    link.onRequestClose(lost);

    wireCalibration();
    wireSequence();

    drive_->reset();
    scope_->applyDefaults();
    drive_->setDutyText("50.0");
    // The offsets of the last calibration, as the window starts with them.
    engine_->loadCalibrationFile(calibrationPath());
    loadChipList();
    open();
}

void Session::wireCalibration()
{
    link::FpgaLink& link = engine_->link();
    scope::CalibrationHooks h = engine_->calibrationLinkHooks();
    h.scopeRunning = [this] { return scope_->running(); };
    h.disableControls = [&link] { link.pause(50ms); };
    // Reader thread: the last step has run; the waiting call finishes.
    h.finishLater = [this] {
        std::lock_guard lock(mutex_);
        calibrationDone_ = true;
        changed_.notify_all();
    };
    h.reapplyPins = [this] { drive_->sendPins(20ms); };
    h.offsetsChanged = [this](const scope::CalibrationOffsets& o) { scope_->setCalibrationOffsets(o); };
    calibration_->setHooks(std::move(h));
    engine_->feedCalibrationFromReader();
}

void Session::wireSequence()
{
    drive::sequence::HostHooks hh = engine_->sequenceLinkHooks();
    hh.scopeRunValue = [this]() -> std::optional<std::uint8_t> {
        if (scope_->running()) return scope_->controlValue();
        return std::nullopt;
    };
    // Continuous clock while the board plays the rows.
    hh.prepareClock = [this] { drive_->setManual(false); };
    sequence_->setHooks(std::move(hh));
    // Reader thread: the row the sequencer is at (the end marker once done).
    engine_->answers().onDynamicIndex([this](std::int16_t index) {
        std::lock_guard lock(mutex_);
        seqRow_ = index;
        changed_.notify_all();
    });
}

void Session::loadChipList()
{
    // The window's list when one is in the data folder; its messages are kept
    // for lastMessage(), as any core's.
    const std::filesystem::path folder = options_.dataFolder.empty() ? files::dataFolder() : options_.dataFolder;
    std::error_code ec;
    if (!std::filesystem::exists(folder / files::kChipFileName, ec)) return;
    files::ChipList list;
    if (list.load(folder / files::kChipFileName, *messages_) == 0) drive_->setChipList(driveChips(list));
}

std::string Session::selectChip(const std::string& name)
{
    const auto& names = drive_->chipNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) {
            drive_->selectChip(static_cast<int>(i));
            return name;
        }
    std::string all;
    for (const auto& n : names) all += (all.empty() ? "\"" : ", \"") + n + "\"";
    throw std::invalid_argument("No chip \"" + name + "\" for this drive mode (" + all + ").");
}

std::filesystem::path Session::calibrationPath() const
{
    const std::filesystem::path folder = options_.dataFolder.empty() ? files::dataFolder() : options_.dataFolder;
    return folder / files::kCalibrationFileName;
}

Session::~Session()
{
    try {
        close();
    } catch (...) {
    }
    scope_->setSweepObserver(nullptr);
    engine_.reset(); // the reader stops before the cores go
}

void Session::open()
{
    if (open_) return;
    Quiet quiet;
    messages_->clear();
    int result = 0;
    {
        const ScopedVariable boardChoice("ZELBO_BOARD", boardVariable(options_.sim));
        board_ = variable("ZELBO_BOARD") == "sim" ? "sim" : "usb";
        usbPath_.clear();
        serial_.clear();
        std::optional<std::string> usb;
        if (board_ == "usb") {
            usb = chooseUsbBoard();
        } else if (!options_.usbBoard.empty()) {
            throw std::invalid_argument("A serial number or USB path chooses a real board, not the simulated one.");
        }
        const ScopedVariable usbChoice("ZELBO_USB_BOARD", usb);
        result = engine_->start(quiet, quiet);
    }
    if (result != 0) {
        std::string text = messages_->last();
        if (text.empty()) text = "No board: bring-up ended with result " + std::to_string(result) + ".";
        throw NoBoardError(text);
    }
    open_ = true;
    engine_->linkStarted(true);
}

// The real board to bring up: the one asked for, else the environment's
// choice, else the first in bus and port order (the bridge would otherwise
// settle on whichever of several it opened last). nullopt when no board is
// attached at all: the bring-up then says why.
std::optional<std::string> Session::chooseUsbBoard()
{
    const std::vector<AttachedBoard> boards = attachedBoards();
    std::string choice = !options_.usbBoard.empty() ? options_.usbBoard : variable("ZELBO_USB_BOARD");
    if (choice.empty() && boards.size() <= 1) {
        if (!boards.empty()) {
            usbPath_ = boards.front().path;
            serial_ = boards.front().serial;
        }
        return std::nullopt;
    }
    if (choice.empty()) choice = boards.front().path;
    for (const AttachedBoard& b : boards)
        if (boardIsNamed(b, choice)) {
            usbPath_ = b.path;
            serial_ = b.serial;
            return choice;
        }
    throw NoBoardError("No board with the serial number or USB path \"" + choice +
                       "\" is attached. Attached boards: " + boardListText(boards) + ".");
}

void Session::close()
{
    if (!open_) return;
    bool lost = false;
    {
        std::lock_guard lock(mutex_);
        lost = boardLost_;
    }
    // Whatever runs ends first (without a word to a board that is gone).
    engine_->endActivity(lost ? EndCause::LinkLost : EndCause::Closing);
    if (engine_->poweredOn() && !lost) powerOff();
    engine_->waitWritesSent();
    engine_->shutdown();
    open_ = false;
}

std::string Session::lastMessage() const { return messages_->last(); }

void Session::checkInterrupted() const
{
    if (options_.interrupted && options_.interrupted()) throw Interrupted("Interrupted.");
}

void Session::requireOpen() const
{
    if (!open_) throw SessionError("The board is not open.");
    bool lost = false;
    {
        auto& self = const_cast<Session&>(*this);
        std::lock_guard lock(self.mutex_);
        lost = boardLost_;
    }
    if (lost) {
        const std::string m = lastMessage();
        throw SessionError(m.empty() ? "Communication with the board was lost." : m);
    }
}

void Session::requirePower(const char* what) const
{
    requireOpen();
    if (!engine_->poweredOn()) throw SessionError(std::string("Power on first: ") + what + " needs the board powered.");
}

// ---------------------------------------------------------------- power

void Session::startScope()
{
    if (!scope_->running()) scope_->setRunning(true);
}

void Session::controlsOff()
{
    if (scope_->running()) scope_->setRunning(false);
}

void Session::powerOn(bool startClock)
{
    requireOpen();
    clockOnPower_ = startClock;
    struct Back {
        bool& flag;
        ~Back() { flag = true; } // a re-run of the power handler starts it, as in the window
    } back{clockOnPower_};
    engine_->powerOn(*this);
    engine_->waitWritesSent();
}

int Session::setDuty(double percent)
{
    if (!std::isfinite(percent) || percent < 1.0 || percent > 100.0)
        throw std::invalid_argument("Duty " + number(percent) + " % is out of range (1 to 100 %).");
    requireOpen();
    drive_->setDutyText(formatFixed(percent, 2));
    drive_->commitDuty();
    engine_->waitWritesSent();
    return drive::effectiveDuty(drive_->dutyText());
}

void Session::setStopHigh(bool high)
{
    requireOpen();
    drive_->setStopHigh(high);
}

void Session::powerOff()
{
    requireOpen();
    stepsLeft_ = 0;
    partSteps_ = 0;
    engine_->powerOff(*this);
    engine_->waitWritesSent();
}

void Session::setVdut(double volts)
{
    drive::Vcc vcc;
    if (std::fabs(volts - 3.3) < 1e-6) vcc = drive::Vcc::V3_3;
    else if (std::fabs(volts - 5.0) < 1e-6) vcc = drive::Vcc::V5_0;
    else throw std::invalid_argument("VDUT must be 3.3 or 5.0 V, not " + number(volts) + ".");
    requireOpen();
    drive_->loadVcc(vcc);
    if (engine_->poweredOn()) drive_->applyVccAndPins();
    engine_->waitWritesSent();
}

void Session::setPin(const std::string& name, bool high)
{
    const auto pin = drive::pinByName(name);
    if (!pin) throw std::invalid_argument("Unknown pin \"" + name + "\": use ps, enable, mode0, mode1 or cw.");
    requireOpen();
    drive_->setPin(*pin, high);
    engine_->waitWritesSent();
}

double Session::setReference(drive::ColumnId id, double volts)
{
    if (const std::string why = drive::rangeError(id, volts); !why.empty()) throw std::invalid_argument(why);
    requireOpen();
    // The DAC's code is whole millivolts: that value, not the slider's grid.
    const double applied = drive::DriveCore::referenceCode(volts) / 1000.0;
    drive_->setExactValue(id, applied);
    engine_->waitWritesSent();
    return applied;
}

double Session::setVref(double volts) { return setReference(drive::ColumnId::Vref, volts); }
double Session::setMth(double volts) { return setReference(drive::ColumnId::Mth, volts); }
double Session::vref() const
{
    return drive::DriveCore::referenceCode(drive_->column(drive::ColumnId::Vref).value()) / 1000.0;
}
double Session::mth() const
{
    return drive::DriveCore::referenceCode(drive_->column(drive::ColumnId::Mth).value()) / 1000.0;
}
double Session::clock() const { return drive::generatorFrequency(drive_->clockFrequency()); }

void Session::reapplySettings()
{
    const double v = vref(), m = mth(), f = drive_->clockFrequency();
    settings_->reapplySimpleSettings();
    drive_->setExactValue(drive::ColumnId::Vref, v);
    drive_->setExactValue(drive::ColumnId::Mth, m);
    drive_->setExactValue(drive::ColumnId::Clk, f);
}

void Session::setRnf(double ohms)
{
    if (!std::isfinite(ohms) || ohms < 0.01 - 1e-9 || ohms > 1.0 + 1e-9)
        throw std::invalid_argument("RNF " + number(ohms) + " ohm is out of range (0.01 to 1 ohm).");
    requireOpen();
    drive_->setRnfText(number(ohms));
    drive_->commitRnf();
}

void Session::setMode(const std::string& name)
{
    const auto m = drive::excitationByName(name);
    if (!m) throw std::invalid_argument("Unknown mode \"" + name + "\": use full, half-a, half-b or quarter.");
    requireOpen();
    drive_->setPin(drive::Pin::Mode0, m->mode0);
    drive_->setPin(drive::Pin::Mode1, m->mode1);
    engine_->waitWritesSent();
}

// ---------------------------------------------------------------- clock

double Session::run(double hertz, std::optional<long long> steps)
{
    if (steps && (*steps < 1 || *steps > kMaxSteps))
        throw std::invalid_argument("Steps must be 1 to " + std::to_string(kMaxSteps) + ", not " +
                                    std::to_string(*steps) + ".");
    if (const std::string why = drive::rangeError(drive::ColumnId::Clk, hertz); !why.empty())
        throw std::invalid_argument(why);
    requireOpen();
    requirePower("running the clock");
    // The clock is another activity's while one runs (a counted run is
    // restarted).
    const InstrumentState& state = engine_->state();
    if (!state.idle() && !state.running(Activity::CountedRun))
        throw SessionError(std::string("Cannot run the clock while ") + activityName(state.activity()) +
                           " is running. Stop it first.");
    stepsLeft_ = 0;
    partSteps_ = 0;
    if (drive_->clockRunning()) drive_->setClockRunning(false);
    // The generator's own frequency, so that what is stored, shown and saved
    // is what the board makes.
    const double applied = drive::generatorFrequency(hertz);
    drive_->setExactValue(drive::ColumnId::Clk, applied);
    drive_->setManual(steps.has_value());
    if (steps) {
        stepsLeft_ = *steps;
        startCountedPart();
    } else {
        drive_->setClockRunning(true);
    }
    engine_->waitWritesSent();
    return applied;
}

void Session::startCountedPart()
{
    const long long part = std::min<long long>(stepsLeft_, 255);
    stepsLeft_ -= part;
    partSteps_ = part;
    drive_->editSteps(std::to_string(part));
    {
        std::lock_guard lock(mutex_);
        runEnded_ = false;
    }
    drive_->setClockRunning(true);
}

void Session::applyRunEnded()
{
    bool ended = false;
    {
        std::lock_guard lock(mutex_);
        std::swap(ended, runEnded_);
    }
    if (ended) {
        drive_->onClockControlRead(0);
        countedSteps_ += partSteps_;
        partSteps_ = 0;
    }
}

bool Session::waitRun(std::chrono::milliseconds timeout)
{
    requireOpen();
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (!drive_->manual()) return false; // a continuous run never ends by itself
        if (!drive_->clockRunning()) {
            // The next part of a run over 255 steps.
            startCountedPart();
            engine_->waitWritesSent();
        }
        // Ask for the clock state often: its answer ends the run.
        engine_->link().queueRead(reg::kClockControl);
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 20ms, [this] { return runEnded_ || boardLost_; });
        lock.unlock();
        requireOpen();
        applyRunEnded();
        if (options_.interrupted && options_.interrupted()) {
            stop();
            throw Interrupted("Interrupted: the counted run was stopped.");
        }
        if (std::chrono::steady_clock::now() > end) return !running();
    }
    return true;
}

void Session::stop()
{
    requireOpen();
    stepsLeft_ = 0;
    partSteps_ = 0; // how far a stopped part got, the board does not say
    if (drive_->clockRunning()) drive_->setClockRunning(false);
    engine_->waitWritesSent();
}

// ---------------------------------------------------------------- files, temperature

void Session::loadSettings(const std::filesystem::path& path)
{
    requireOpen();
    // Whatever runs ends before the file's set-up reaches the board.
    stepsLeft_ = 0;
    engine_->endActivity(EndCause::FileOpen);
    const files::SettingsLoadResult r = settings_->load(path);
    if (!r.opened) throw SessionError("Cannot read the settings file \"" + path.string() + "\".");
    const std::string incomplete = files::SettingsCore::incompleteText(r);
    engine_->waitWritesSent();
    // The math channels beside it; a damaged file turns them off rather than
    // failing the settings that did load.
    scope::analysis::MathSetups math{};
    std::string error;
    if (!scope::analysis::readMathFile(scope::analysis::mathPathFor(path), math, nullptr, &error)) math = {};
    math_ = math;
    if (!incomplete.empty()) throw SessionError(incomplete);
}

void Session::saveSettings(const std::filesystem::path& path)
{
    std::string error;
    if (!settings_->save(path, &error))
        throw SessionError("Cannot write the settings file \"" + path.string() + "\"" +
                           (error.empty() ? std::string(".") : ": " + error));
    const auto mathPath = scope::analysis::mathPathFor(path);
    std::error_code ec;
    const bool anyMath = std::any_of(math_.begin(), math_.end(), [](const auto& m) { return !m.expression.empty(); });
    if ((anyMath || std::filesystem::exists(mathPath, ec)) && !scope::analysis::writeMathFile(mathPath, math_, &error))
        throw SessionError("Cannot write the math channel file \"" + mathPath.string() + "\"" +
                           (error.empty() ? std::string(".") : ": " + error));
}

double Session::tj(std::chrono::milliseconds timeout)
{
    requirePower("reading Tj");
    {
        std::lock_guard lock(mutex_);
        diodeCode_.reset();
    }
    engine_->thermometerTick();
    std::unique_lock lock(mutex_);
    const auto end = std::chrono::steady_clock::now() + timeout;
    auto ready = [this] { return diodeCode_.has_value() || boardLost_; };
    while (!ready()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) throw SessionError("No temperature reading from the board within the time-out.");
        changed_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(100ms, end - now), ready);
        if (!ready() && options_.interrupted) {
            lock.unlock();
            checkInterrupted();
            lock.lock();
        }
    }
    if (boardLost_) {
        lock.unlock();
        requireOpen();
    }
    const std::uint16_t code = *diodeCode_;
    lock.unlock();
    // The engine's thermometer, as the window's gauge reads it.
    thermal::Thermometer& thermometer = engine_->thermometer();
    const double a = drive_->chipA(), b = drive_->chipB();
    thermometer.setCoefficients(a, b);
    const thermal::Reading r = thermometer.convert(code);
    if (!thermal::junctionCelsius(r.vfMillivolts, a, b))
        throw SessionError("The diode reading gives no junction temperature for this chip.");
    return r.tjCelsius;
}

// ---------------------------------------------------------------- calibration

const scope::CalibrationOffsets& Session::calibrationOffsets() const { return calibration_->offsets(); }

void Session::calibrate()
{
    requireOpen();
    if (calibration_->calibrating()) throw SessionError("Calibration is already under way.");
    if (auto why = engine_->state().refusal(Activity::Calibration)) throw SessionError(*why);
    stepsLeft_ = 0; // the rest of a long counted run is not carried on after it
    // As Help > Oscilloscope > Calibrate: "Run" off first, half a second.
    const bool wasRunning = scope_->running();
    if (wasRunning) {
        scope_->setRunning(false);
        engine_->waitWritesSent();
        std::this_thread::sleep_for(500ms);
    }
    {
        std::lock_guard lock(mutex_);
        calibrationDone_ = false;
    }
    messages_->clear();
    // The calibration is the instrument's activity until this call returns
    // (every wait in it is bounded, and nothing else runs meanwhile).
    engine_->state().begin(Activity::Calibration, [this](EndCause cause) {
        calibration_->abort(cause != EndCause::LinkLost);
        return true;
    });
    struct Finished {
        InstrumentState& s;
        ~Finished() { s.finished(Activity::Calibration); }
    } finished{engine_->state()};
    if (!calibration_->start()) {
        const std::string m = lastMessage();
        throw SessionError(m.empty() ? "Calibration did not start." : m);
    }
    // Each step is bounded by the core's time-out, which poll() enforces.
    bool lost = false;
    while (calibration_->calibrating()) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 250ms, [this] { return calibrationDone_ || boardLost_; });
        lost = boardLost_;
        if (calibrationDone_) break;
        lock.unlock();
        calibration_->poll();
    }
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        std::swap(done, calibrationDone_);
    }
    if (done) calibration_->finish();
    engine_->waitWritesSent();
    if (lost) requireOpen();
    if (!done) {
        const std::string m = lastMessage();
        throw SessionError(m.empty() ? scope::kCalibrationTimedOut : m);
    }
    std::string error;
    std::error_code ec;
    std::filesystem::create_directories(calibrationPath().parent_path(), ec); // a write error says why
    if (!scope::writeCalibrationFile(calibrationPath(), calibration_->offsets(), &error))
        throw SessionError("Oscilloscope calibration not saved: " + error);
    if (wasRunning) {
        scope_->setRunning(true);
        engine_->waitWritesSent();
    }
}

// ---------------------------------------------------------------- dynamic sequences

void Session::runSequence(const drive::sequence::SequenceTable& table, SequenceOptions options)
{
    namespace seq = drive::sequence;
    if (options.cycles < 0 || options.cycles > 99)
        throw std::invalid_argument("Cycles must be 1 to 99, or 0 for endless, not " + std::to_string(options.cycles) +
                                    ".");
    if (options.repeatDelayMs < 0 || options.repeatDelayMs > 60000)
        throw std::invalid_argument("The repeat delay must be 0 to 60000 ms, not " +
                                    std::to_string(options.repeatDelayMs) + ".");
    const seq::Validation v = seq::validate(table);
    if (v != seq::Validation::Ok) throw std::invalid_argument(seq::validationMessage(v));
    requireOpen();
    if (sequenceRunning()) throw SessionError("Dynamic sequence is currently running.");
    // Power, drive mode 0 and nothing else running, with the window's texts.
    if (auto why = engine_->state().refusal(Activity::Sequence)) throw SessionError(*why);
    stepsLeft_ = 0;

    seq::StartRecord rec;
    rec.kind = seq::StartRecord::Start;
    rec.rows = seq::buildRows(table, 0);
    rec.cycles = std::to_string(options.cycles);
    rec.repeatDelay = std::to_string(options.repeatDelayMs);
    rec.rowCount = std::to_string(rec.rows.size());
    {
        std::lock_guard lock(mutex_);
        seqRow_.reset();
    }
    engine_->state().begin(Activity::Sequence, [this](EndCause cause) {
        // Ended from outside: the board stops the table (unless it is gone),
        // and returns to the session's settings when the drive stays on.
        if (cause != EndCause::LinkLost) sequence_->stop(false);
        if (InstrumentState::restores(cause)) reapplySettings();
        return true;
    });
    sequence_->start(rec, 0);
    engine_->waitWritesSent();
    endless_ = options.cycles == 0;
    const double lastMs = rec.rows.empty() ? 0.0 : std::strtod(rec.rows.back().time.c_str(), nullptr);
    sequenceLength_ = endless_ ? 0ms
                               : std::chrono::milliseconds(static_cast<long long>(
                                     options.cycles * (std::max(lastMs, 0.0) + options.repeatDelayMs)));
}

void Session::runSequenceFile(const std::filesystem::path& csv, SequenceOptions options)
{
    drive::sequence::SequenceTable table;
    const auto r = drive::sequence::loadCsvFile(csv, table);
    if (!r.opened) throw SessionError("Unable to open .csv file \"" + csv.string() + "\".");
    // A partial table would play other rows than the file holds.
    if (r.incomplete || r.kept)
        throw SessionError(std::string(drive::sequence::kCsvIncomplete) + ": \"" + csv.string() + "\".");
    runSequence(table, options);
}

void Session::endSequence(bool finished)
{
    // As the dialog: half a second for the last row, then the stop sequence;
    // the drive goes back to the session's settings, as on leaving the
    // dynamic window.
    std::this_thread::sleep_for(500ms);
    sequence_->stop(finished);
    // The rows set the pins: supply and pins go back first (the power
    // handler re-run), then VREF, MTH and CLK.
    reapplySettings();
    engine_->waitWritesSent();
    engine_->state().finished(Activity::Sequence);
}

bool Session::waitSequence(std::chrono::milliseconds timeout)
{
    requireOpen();
    if (!sequenceRunning()) return true;
    if (endless_) return false;
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // The row poll, every 25 ms as the dialog asks.
        sequence_->requestRow();
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 25ms, [this] {
            return (seqRow_ && drive::sequence::isEndMarker(*seqRow_)) || boardLost_;
        });
        const bool ended = seqRow_ && drive::sequence::isEndMarker(*seqRow_);
        lock.unlock();
        requireOpen();
        if (ended) {
            endSequence(true);
            return true;
        }
        if (options_.interrupted && options_.interrupted()) {
            endSequence(false);
            throw Interrupted("Interrupted: the dynamic sequence was stopped.");
        }
        if (std::chrono::steady_clock::now() > end) return false;
    }
}

void Session::stopSequence()
{
    requireOpen();
    if (sequenceRunning()) endSequence(false);
}

// ---------------------------------------------------------------- oscilloscope

void Session::setSource(int channel, const std::string& source, int output)
{
    if (channel < 0 || channel >= scope::kChannels)
        throw std::invalid_argument("Channel must be 0 to 3, not " + std::to_string(channel) + ".");
    scope::Source kind;
    if (source == "V") kind = scope::Source::Voltage;
    else if (source == "I") kind = scope::Source::Current;
    else if (source == "ICC") kind = scope::Source::Icc;
    else throw std::invalid_argument("Source must be \"V\", \"I\" or \"ICC\", not \"" + source + "\".");
    if (output != 0 && output != 1) throw std::invalid_argument("Output must be 0 (A) or 1 (B).");
    requireOpen();
    scope_->setSource(channel, kind);
    if (kind == scope::Source::Current) scope_->setOutput(channel, output);
    engine_->waitWritesSent();
}

void Session::onSweep(const scope::SweepFrame& frame)
{
    recorder_.onSweep(frame); // returns at once when not recording
    // Reader thread: keep the newest sweep. A capture copying it out at this
    // moment makes the reader skip this one rather than wait.
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    sweepIndex_ = frame.index;
    if (frame.channels == 0) return;
    Capture& c = pending_;
    c.index = frame.index;
    c.samplePeriod = frame.periodUs * 1e-6;
    std::size_t n = 0;
    for (const scope::Trace* tr : frame.traces)
        if (tr) n = std::max(n, tr->size());
    c.t.resize(n);
    for (std::size_t i = 0; i < n; ++i) c.t[i] = static_cast<double>(i) * c.samplePeriod;
    for (std::size_t k = 0; k < scope::kChannels; ++k) {
        auto& ch = c.ch[k];
        ch.source = sourceName(frame.sources[k]);
        ch.unit = frame.sources[k] == scope::Source::Voltage ? "V" : "A";
        ch.values.assign(n, 0.0);
        if (const scope::Trace* tr = frame.traces[k]) {
            for (std::size_t i = 0; i < tr->size() && i < n; ++i) ch.values[i] = (*tr)[i].second;
        }
    }
    c.measured = measureWanted_.load();
    if (c.measured) {
        measurer_.onSweep(frame);
        c.figures = measurer_.latest().channels;
    }
    pendingReady_ = true;
    changed_.notify_all();
}

Capture Session::capture(std::chrono::milliseconds timeout, bool fresh)
{
    requirePower("a capture");
    // Single: armed afresh here, its one sweep is the caller's.
    const bool single = scope_->triggerMode() == scope::TriggerMode::Single;
    if (single && scope_->running()) scope_->setRunning(false);
    std::uint64_t before;
    {
        std::lock_guard lock(mutex_);
        before = sweepIndex_;
    }
    if (!scope_->running()) scope_->setRunning(true);
    std::unique_lock lock(mutex_);
    // Fresh: the sweep under way may have been armed before the last change
    // of settings, so the one after it is wholly the caller's. Otherwise any
    // sweep newer than the last one handed out.
    const std::uint64_t after = !fresh ? lastDelivered_ : single ? before : sweepIndex_ + 1;
    const auto end = std::chrono::steady_clock::now() + timeout;
    auto ready = [&] { return (pendingReady_ && pending_.index > after) || boardLost_; };
    bool got = ready();
    while (!got && std::chrono::steady_clock::now() < end) {
        got = changed_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                          100ms, end - std::chrono::steady_clock::now()),
                                ready);
        if (!got && options_.interrupted) {
            lock.unlock();
            checkInterrupted();
            lock.lock();
        }
    }
    if (boardLost_) {
        lock.unlock();
        requireOpen();
    }
    if (!got) throw SessionError("No sweep from the board within the time-out.");
    Capture c = pending_;
    lastDelivered_ = c.index;
    lock.unlock();
    c.timeBase = scope_->timeBaseText();
    for (int k = 0; k < scope::kChannels; ++k) {
        auto& ch = c.ch[static_cast<std::size_t>(k)];
        ch.output = scope_->outputText(k);
        ch.valuePerDiv = scope_->channel(k).valuePerDivText;
        c.on[static_cast<std::size_t>(k)] = scope_->channelOn(k);
    }
    c.vref = vref();
    c.mth = mth();
    c.clock = clock();
    c.clockRunning = running();
    c.mode = drive_->excitationText();
    c.samplingRate = scope_->samplingRateText();
    evaluateMath(c);
    return c;
}

// ---------------------------------------------------------------- math channels, spectrum

namespace {

std::array<scope::analysis::Unit, scope::kChannels> unitsOf(const Capture& c)
{
    std::array<scope::analysis::Unit, scope::kChannels> u{};
    for (std::size_t k = 0; k < u.size(); ++k)
        u[k] = c.ch[k].unit == "A" ? scope::analysis::Unit{0, 1} : scope::analysis::Unit{1, 0};
    return u;
}

scope::Measurement measureValues(const std::vector<double>& t, const std::vector<double>& v)
{
    std::vector<scope::TracePoint> points(std::min(t.size(), v.size()));
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {t[i] * 1e6, v[i]};
    return scope::measure(points, scope::MeasureSetup{});
}

} // namespace

void Session::evaluateMath(Capture& c) const
{
    const auto units = unitsOf(c);
    for (std::size_t m = 0; m < math_.size(); ++m) {
        if (!math_[m].on || math_[m].expression.empty()) continue;
        MathTrace tr;
        tr.expression = math_[m].expression;
        // The channels' sources may have changed since it was set.
        const auto e = scope::analysis::MathExpression::parse(tr.expression, units, &tr.error);
        if (e) {
            tr.unit = e->unit().text();
            std::array<std::span<const double>, scope::kChannels> in;
            for (std::size_t k = 0; k < in.size(); ++k) in[k] = c.ch[k].values;
            tr.values.resize(c.t.size());
            tr.values.resize(e->evaluate(in, tr.values));
            if (c.measured) tr.figures = measureValues(c.t, tr.values);
        }
        c.math[m] = std::move(tr);
    }
}

std::string Session::setMath(int index, const std::string& expression)
{
    if (index < 0 || index >= scope::analysis::kMathChannels)
        throw std::invalid_argument("Math channel must be 0 or 1, not " + std::to_string(index) + ".");
    auto& m = math_[static_cast<std::size_t>(index)];
    if (expression.find_first_not_of(" \t") == std::string::npos) {
        m.on = false;
        m.expression.clear();
        return "";
    }
    std::array<scope::analysis::Unit, scope::kChannels> units{};
    for (int k = 0; k < scope::kChannels; ++k)
        units[static_cast<std::size_t>(k)] = scope::analysis::unitOf(scope_->source(k));
    std::string error;
    const auto e = scope::analysis::MathExpression::parse(expression, units, &error);
    if (!e) throw std::invalid_argument(scope::analysis::mathKey(index) + ": " + error);
    m.on = true;
    m.expression = e->text();
    return e->unit().text();
}

SpectrumResult Session::spectrum(const std::string& channel, const std::string& window,
                                 std::chrono::milliseconds timeout, int maxHarmonic)
{
    const auto w = scope::analysis::windowFromName(window);
    if (!w) throw std::invalid_argument("Window must be hann, flat-top or rectangular, not \"" + window + "\".");
    std::string key;
    for (char ch : channel) if (ch != ' ') key += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    int k = -1;
    if (key.size() == 3 && key.rfind("CH", 0) == 0 && key[2] >= '1' && key[2] <= '4') k = key[2] - '1';
    else if (key.size() == 2 && key[0] == 'M' && (key[1] == '1' || key[1] == '2')) k = scope::kChannels + key[1] - '1';
    if (k < 0) throw std::invalid_argument("Channel must be CH1 to CH4, M1 or M2, not \"" + channel + "\".");
    if (k >= scope::kChannels && !math_[static_cast<std::size_t>(k - scope::kChannels)].on)
        throw std::invalid_argument(key + " is off: set its expression first.");
    const Capture c = capture(timeout, true);
    SpectrumResult r;
    r.channel = key;
    r.window = *w;
    r.index = c.index;
    const std::vector<double>* values = nullptr;
    bool current = false;
    if (k < scope::kChannels) {
        const auto& ch = c.ch[static_cast<std::size_t>(k)];
        values = &ch.values;
        r.unit = ch.unit;
        current = ch.source == "I";
    } else {
        const auto& m = c.math[static_cast<std::size_t>(k - scope::kChannels)];
        if (!m || !m->error.empty()) throw SessionError(key + ": " + (m ? m->error : std::string("no values.")));
        values = &m->values;
        r.unit = m->unit;
    }
    if (current && drive_->clockRunning()) {
        const int excitation =
            (drive_->pinHigh(drive::Pin::Mode0) ? 1 : 0) + (drive_->pinHigh(drive::Pin::Mode1) ? 2 : 0);
        r.expectedHz = scope::analysis::electricalHz(clock(), static_cast<scope::Excitation>(excitation));
    }
    const scope::analysis::Spectrum s = analyser_.compute(*values, c.samplePeriod, *w);
    r.amplitude = s.amplitude;
    r.frequency.resize(s.amplitude.size());
    for (std::size_t i = 0; i < r.frequency.size(); ++i) r.frequency[i] = s.frequencyOf(i);
    r.harmonics = scope::analysis::analyseHarmonics(s, r.expectedHz, maxHarmonic);
    return r;
}

Capture Session::measure(std::chrono::milliseconds timeout)
{
    requirePower("a measurement");
    // As the window feeds its measurer: Io in amperes, the excitation mode
    // from MODE0 and MODE1.
    const int excitation = (drive_->pinHigh(drive::Pin::Mode0) ? 1 : 0) + (drive_->pinHigh(drive::Pin::Mode1) ? 2 : 0);
    measurer_.setDrive(drive_->io() / 1000.0, static_cast<scope::Excitation>(excitation));
    measureWanted_ = true;
    struct Off {
        std::atomic<bool>& wanted;
        ~Off() { wanted = false; }
    } off{measureWanted_};
    // A fresh sweep began after the request, so the reader measured it.
    Capture c = capture(timeout, true);
    if (!c.measured) throw SessionError("The sweep was not measured.");
    return c;
}

// ---------------------------------------------------------------- oscilloscope set-up

namespace {

void requireChannel(int channel)
{
    if (channel < 0 || channel >= scope::kChannels)
        throw std::invalid_argument("Channel must be 0 to 3, not " + std::to_string(channel) + ".");
}

template <class Table> std::string tableTexts(const Table& table, std::size_t count)
{
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s += (i ? ", " : "") + std::string(table[i].text);
    return s;
}

} // namespace

std::string Session::setTimeBase(const std::string& text)
{
    const int i = scope::indexOfText(scope::kTimeBases, text);
    if (i < 0 || i > scope::kMaxUsableTimeBase)
        throw std::invalid_argument("Time base \"" + text + "\" is not one of " +
                                    tableTexts(scope::kTimeBases, scope::kMaxUsableTimeBase + 1) + ".");
    requireOpen();
    scope_->setTimeBase(i);
    engine_->waitWritesSent();
    return scope_->timeBaseText();
}

std::string Session::setSamplingRate(const std::string& text)
{
    const int i = scope::indexOfText(scope::kSampleRates, text);
    if (i < 0)
        throw std::invalid_argument("Sampling rate \"" + text + "\" is not one of " +
                                    tableTexts(scope::kSampleRates, scope::kSampleRates.size()) + ".");
    requireOpen();
    scope_->setSamplingRate(i);
    engine_->waitWritesSent();
    return scope_->samplingRateText();
}

void Session::setChannelOn(int channel, bool on)
{
    requireChannel(channel);
    requireOpen();
    scope_->setChannelOn(channel, on);
    engine_->waitWritesSent();
}

std::string Session::setScale(int channel, const std::string& text)
{
    requireChannel(channel);
    requireOpen();
    const scope::Source source = scope_->source(channel);
    const int i = source == scope::Source::Voltage ? scope::indexOfText(scope::kVoltScales, text)
                                                   : scope::indexOfText(scope::kCurrentScales, text);
    if (i < 0)
        throw std::invalid_argument(
            "Scale \"" + text + "\" is not one of " +
            (source == scope::Source::Voltage ? tableTexts(scope::kVoltScales, scope::kVoltScales.size())
                                              : tableTexts(scope::kCurrentScales, scope::kCurrentScales.size())) +
            " (the channel's unit).");
    scope_->setValuePerDiv(channel, i);
    engine_->waitWritesSent();
    return scope_->channel(channel).valuePerDivText;
}

double Session::setTrigger(bool on, int channel, double level, bool falling)
{
    requireChannel(channel);
    requireOpen();
    const bool volts = scope_->source(channel) == scope::Source::Voltage;
    const double top = volts ? scope::kVoltLevelTop : scope::kAmpLevelTop;
    if (!std::isfinite(level) || std::fabs(level) > top + 1e-9)
        throw std::invalid_argument("Trigger level " + number(level) + (volts ? " V" : " A") + " is out of range (-" +
                                    number(top) + " to " + number(top) + (volts ? " V)." : " A)."));
    scope_->setTriggerChannel(channel);
    scope_->setSlopeMinus(falling);
    const std::string text = scope::formatLevel(level);
    if (volts) scope_->setVoltageLevelText(text);
    else scope_->setCurrentLevelText(text);
    scope_->setTriggerOn(on);
    engine_->waitWritesSent();
    return scope::parseLevel(volts ? scope_->voltageLevelText() : scope_->currentLevelText());
}

// ---------------------------------------------------------------- recording, output

scope::RecordStatus Session::record(const std::filesystem::path& path, double seconds, std::uint64_t maxBytes,
                                    std::uint64_t sweeps)
{
    if (!(seconds >= 0.1 && seconds <= 86400))
        throw std::invalid_argument("A recording lasts 0.1 to 86400 seconds, not " + number(seconds) + ".");
    requirePower("a recording");
    if (!scope_->running()) scope_->setRunning(true);
    engine_->waitWritesSent();
    char started[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc)) std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &utc);
    scope::recording::HeaderInfo header = scope::recordingHeader(*scope_, started);
    // The math channels that are on go into the header as expressions, as the
    // window's recordings have them: a reader computes them from the records.
    std::array<scope::analysis::Unit, scope::kChannels> units{};
    for (int k = 0; k < scope::kChannels; ++k)
        units[static_cast<std::size_t>(k)] = scope::analysis::unitOf(scope_->source(k));
    for (std::size_t m = 0; m < math_.size(); ++m) {
        if (!math_[m].on || math_[m].expression.empty()) continue;
        const auto e = scope::analysis::MathExpression::parse(math_[m].expression, units, nullptr);
        if (e)
            header.math.push_back({scope::analysis::mathKey(static_cast<int>(m)), math_[m].label.substr(0, 7),
                                   e->unit().text(), e->text()});
    }
    if (sweeps > 0 && header.mask) {
        // A count of sweeps is a size: this header and that many records,
        // the limit halfway into the next one.
        const std::uint64_t each = scope::recording::recordBytes(header.mask);
        const std::uint64_t bySweeps = scope::recording::encodeHeader(header).size() + sweeps * each + each / 2;
        maxBytes = maxBytes > 0 ? std::min(maxBytes, bySweeps) : bySweeps;
    }
    const std::string where = path.string();
    std::string error;
    auto sink = header.mask ? scope::openFileSink(where, &error) : nullptr;
    if (!header.mask) error = "no channel is shown";
    if (!sink || !recorder_.start(std::move(sink), header, scope::RecordLimits{seconds, maxBytes}, &error))
        throw SessionError("The recording could not be started in \"" + where + "\": " + error + ".");
    // The recorder ends the file at the time or size limit; the wait looks
    // at the front end and the board between its polls.
    for (;;) {
        if (!recorder_.poll().active) break;
        bool lost = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, 50ms, [this] { return boardLost_; });
            lost = boardLost_;
        }
        if (lost) {
            recorder_.stop();
            requireOpen();
        }
        if (options_.interrupted && options_.interrupted()) {
            const scope::RecordStatus st = recorder_.stop();
            throw Interrupted("Interrupted: the recording was ended with " + std::to_string(st.sweeps) + " sweeps.");
        }
    }
    const scope::RecordStatus st = recorder_.stop();
    if (st.reason != scope::RecordStop::Duration && st.reason != scope::RecordStop::Size)
        throw SessionError("The recording in \"" + where + "\" holds " + std::to_string(st.sweeps) + " sweeps. " +
                           scope::SweepRecorder::stopMessage(st.reason));
    return st;
}

std::string Session::setOutput(int channel, int output)
{
    requireChannel(channel);
    if (output != 0 && output != 1) throw std::invalid_argument("Output must be 0 (A) or 1 (B).");
    requireOpen();
    if (!scope_->outputSelectable(channel))
        throw std::invalid_argument(scope::channelKey(channel) + " probes " +
                                    (scope_->source(channel) == scope::Source::Voltage ? "a voltage" : "ICC") +
                                    ": its output (" + scope_->outputText(channel) +
                                    ") is fixed; a coil-current channel chooses A or B.");
    scope_->setOutput(channel, output);
    engine_->waitWritesSent();
    return scope_->outputText(channel);
}

std::string Session::setTriggerMode(const std::string& mode)
{
    std::string m;
    for (char ch : mode) m += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    scope::TriggerMode chosen;
    if (m == "auto") chosen = scope::TriggerMode::Auto;
    else if (m == "normal") chosen = scope::TriggerMode::Normal;
    else if (m == "single") chosen = scope::TriggerMode::Single;
    else throw std::invalid_argument("Trigger mode must be \"auto\", \"normal\" or \"single\", not \"" + mode + "\".");
    requireOpen();
    scope_->setTriggerMode(chosen);
    return scope::triggerModeText(chosen);
}

double Session::setHoldoff(double ms)
{
    if (!std::isfinite(ms) || ms < 0 || ms > scope::kMaxHoldoffMs)
        throw std::invalid_argument("Holdoff " + number(ms) + " ms is out of range (0 to " +
                                    number(scope::kMaxHoldoffMs) + " ms).");
    requireOpen();
    return scope_->setHoldoffMs(ms);
}

std::string Session::triggerState() const
{
    return scope::triggerStateText(scope_->triggerState());
}

std::vector<std::pair<std::string, std::string>> Session::status() const
{
    auto fixed = [](double v, int decimals) { return formatFixed(v, decimals); };
    std::vector<std::pair<std::string, std::string>> s;
    s.emplace_back("board", board_);
    s.emplace_back("usb_path", usbPath_);
    s.emplace_back("serial", serial_);
    s.emplace_back("power", engine_->poweredOn() ? "on" : "off");
    s.emplace_back("vdut", drive_->vcc() == drive::Vcc::V3_3 ? "3.3" : "5.0");
    s.emplace_back("pins", drive_->pinStateText());
    s.emplace_back("chip", drive_->selectedChipName());
    s.emplace_back("mode", drive_->excitationText());
    s.emplace_back("vref", fixed(vref(), 3));
    s.emplace_back("mth", fixed(mth(), 3));
    s.emplace_back("rnf", drive_->rnfText());
    s.emplace_back("io", fixed(drive_->io(), 0));
    s.emplace_back("clk", exactText(clock()));
    s.emplace_back("running", running() ? "yes" : "no");
    s.emplace_back("counted_steps", std::to_string(countedSteps_));
    s.emplace_back("duty", std::to_string(drive::effectiveDuty(drive_->dutyText())));
    s.emplace_back("stop_level", drive_->stopLevelCaption());
    s.emplace_back("activity", activityName(engine_->state().activity()));
    s.emplace_back("timebase", scope_->timeBaseText());
    s.emplace_back("rate", scope_->samplingRateText());
    s.emplace_back("trigger", scope_->triggerOn() ? "on" : "off");
    const int t = scope_->triggerChannel();
    s.emplace_back("trigger_channel", std::to_string(t + 1));
    s.emplace_back("trigger_level", scope_->source(t) == scope::Source::Voltage ? scope_->voltageLevelText()
                                                                                 : scope_->currentLevelText());
    s.emplace_back("trigger_slope", scope_->slopeCaption());
    s.emplace_back("trigger_mode", scope::triggerModeText(scope_->triggerMode()));
    s.emplace_back("holdoff_ms", exactText(scope_->holdoffMs()));
    s.emplace_back("trigger_state", scope::triggerStateText(scope_->triggerState()));
    for (int k = 0; k < scope::kChannels; ++k) {
        const std::string ch = "ch" + std::to_string(k + 1) + "_";
        s.emplace_back(ch + "on", scope_->channelOn(k) ? "on" : "off");
        s.emplace_back(ch + "source", sourceName(scope_->source(k)));
        s.emplace_back(ch + "output", scope_->outputText(k));
        s.emplace_back(ch + "scale", scope_->channel(k).valuePerDivText);
    }
    return s;
}

} // namespace zelbo::engine
