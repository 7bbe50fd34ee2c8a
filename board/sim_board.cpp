// The board around its two chips: the bus (presence, enumeration, timing,
// waiting, transfer faults) and the test bench (Control).

#include "board/sim_board.h"

#include <cmath>

#include "board/board_clock.h"
#include "board/chamber_sim.h"
#include "board/clock_generator.h"
#include "board/dac_block.h"
#include "board/event_log.h"
#include "board/fpga.h"
#include "board/fx2.h"
#include "board/pattern_sequencer.h"
#include "board/scope_front_end.h"
#include "board/sim_board_test.h"
#include "board/stepper_dut.h"
#include "board/thermal_model.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>

namespace simboard {

struct Board::Impl {
    Impl() : fpga(log, clock), fx2(fpga, log)
    {
        if (const char* path = std::getenv("ZELBO_BOARD_LOG"); path && *path) log.setFile(path);
        reset();
        if (const char* path = std::getenv("ZELBO_SIM_CHAMBER"); path && *path) startChamber(path);
    }

    // Called with the lock held.
    std::string startChamber(const std::string& linkPath)
    {
        if (!chamberPort) {
            // The controller's thread takes the board lock for each request,
            // like any other caller.
            chamberPort = std::make_unique<ChamberPort>([this](std::vector<std::uint8_t>& pending) {
                std::lock_guard lk(m);
                touch();
                auto reply = chamber.serve(pending, clock.now());
                kick();
                return reply;
            });
            if (chamberPort->path().empty()) {
                chamberPort.reset();
                return {};
            }
            chamber.advanceTo(clock.now());
            fpga.thermal().setAmbientSource(&chamber);
        }
        if (!linkPath.empty()) {
            // Beside the link first, then renamed over it: whoever looks finds
            // either the old link or the new one, never none.
            const std::string temp = linkPath + ".new";
            std::remove(temp.c_str());
            if (::symlink(chamberPort->path().c_str(), temp.c_str()) != 0 ||
                std::rename(temp.c_str(), linkPath.c_str()) != 0)
                std::remove(temp.c_str());
        }
        return chamberPort->path();
    }

    void reset()
    {
        clock.reset();
        timingOn = true;
        timing = BusTiming{};
        timeoutLimit.reset();
        faults = Faults{};
        fx2.stalls.fill(0);
        fx2.downloadTakes = true;
        fx2.scopeCapable = true;
        fx2.neverAccept = false;
        fpga.failConfiguration = false;
        fpga.neverHardwareReady = false;
        fpga.scopeFitted = true;
        fpga.probeNoise = true;
        fpga.thermal().restoreDefaults();
        chamber.restoreDefaults(ThermalModel::kDefaultAmbient, clock.now());
        fpga.inputOffsetCodes = kDefaultScopeInputOffsetCodes;
        log.clear();
        present = true;
        powerUp();
        rng.seed(0x2B0A4Du);
    }

    void powerUp()
    {
        fpga.powerUp();
        fx2.powerUp();
        reattach();
    }

    // The board (re-)enumerates under a new address.
    void reattach()
    {
        ++enumerations;
        address = static_cast<std::uint8_t>(address % 127 + 1);
        cv.notify_all();
    }

    void touch() { fpga.advanceTo(clock.now()); }

    void kick()
    {
        ++kicks;
        cv.notify_all();
    }

    // Bus time of a transfer, spent after the board lock is released
    // (or added to virtual time at once).
    std::int64_t controlCost(std::size_t bytes) const
    {
        if (!timingOn) return 0;
        const auto packets = static_cast<std::int64_t>((bytes + 63) / 64);
        return timing.controlBase.count() + packets * timing.perControlPacket.count();
    }
    std::int64_t bulkCost(std::size_t bytes) const
    {
        if (!timingOn) return 0;
        const std::size_t packets = bytes ? (bytes + 511) / 512 : 1;
        return static_cast<std::int64_t>(
            double(bytes + packets * timing.bulkOverheadBytesPerPacket) * timing.bulkNsPerByte);
    }
    // Called with the lock held; returns the real time to sleep afterwards.
    std::int64_t spend(std::int64_t ns)
    {
        if (ns <= 0) return 0;
        if (clock.isVirtual()) {
            clock.advance(ns);
            return 0;
        }
        return ns;
    }
    // One bulk transfer: the injected faults first, then `attempt` until the
    // endpoint completes it, waiting while it NAKs (an IN endpoint first lets
    // the scope run up to its next upload). `attempt` reports the bytes moved.
    template <class Attempt>
    Transfer bulk(std::chrono::steady_clock::time_point start, std::uint8_t endpoint, unsigned timeoutMs,
                  bool in, int& failFault, int& timeoutFault, Attempt attempt);

    // Real-time pacing keeps one bus timeline: transfers never overlap on it,
    // and a transfer that the host issues right after the previous one woke up
    // starts on the bus where that one ended. Without the second rule the
    // simulator's own wake-up latency (tens of microseconds on a busy kernel)
    // would be charged to the bus on every transfer, and the host would look
    // slower than the bus makes it.
    void pace(std::chrono::steady_clock::time_point start, std::int64_t ns)
    {
        using steady = std::chrono::steady_clock;
        if (ns <= 0) return;
        steady::time_point deadline;
        {
            std::lock_guard lk(paceMutex);
            steady::time_point begin = start;
            // Only a short overshoot followed by a prompt next transfer is
            // credited; an idle host or a long stall gets no credit.
            constexpr auto kCredit = std::chrono::microseconds(200);
            if (lastWake != steady::time_point{} && lastWake > busFreeAt && start >= lastWake &&
                lastWake - busFreeAt < kCredit && start - lastWake < kCredit)
                begin = busFreeAt + (start - lastWake); // the host's own gap, not our overshoot
            if (begin < busFreeAt) begin = busFreeAt;  // one bus: wait for the transfer ahead
            deadline = begin + std::chrono::nanoseconds(ns);
            busFreeAt = deadline;
        }
        std::this_thread::sleep_until(deadline);
        std::lock_guard lk(paceMutex);
        const auto now = steady::now();
        if (now > lastWake) lastWake = now;
    }
    std::mutex paceMutex;
    std::chrono::steady_clock::time_point busFreeAt{};
    std::chrono::steady_clock::time_point lastWake{};

    enum class Wake { Retry, Timeout, Aborted, Gone };

    // Waits for something to change while an endpoint NAKs. `deadline` is
    // fixed by the caller on its first call; nullopt waits without limit.
    // `wakeAt`, when given, ends the wait early for a retry (the board will
    // have something by then).
    Wake wait(std::unique_lock<std::mutex>& lk, std::uint8_t ep, std::uint32_t enumeration,
              std::uint64_t aborts, std::optional<std::chrono::steady_clock::time_point> deadline,
              bool retry, std::optional<std::chrono::steady_clock::time_point> wakeAt = std::nullopt)
    {
        const std::uint64_t k = kicks;
        auto gone = [&] { return !present || enumerations != enumeration; };
        auto aborted = [&] { return abortCount[ep] != aborts; };
        auto until = deadline;
        if (wakeAt && (!until || *wakeAt < *until)) until = wakeAt;
        ++waiting; // counted under the lock, so a test that sees it knows the wait has begun
        if (until) {
            cv.wait_until(lk, *until, [&] { return gone() || aborted() || (retry && kicks != k); });
        } else {
            cv.wait(lk, [&] { return gone() || aborted() || (retry && kicks != k); });
        }
        --waiting;
        if (gone()) return Wake::Gone;
        if (aborted()) return Wake::Aborted;
        if (deadline && std::chrono::steady_clock::now() >= *deadline) return Wake::Timeout;
        return Wake::Retry;
    }

    // The deadline of a wait of `timeoutMs` (0: none), within the test limit.
    std::optional<std::chrono::steady_clock::time_point> deadlineFor(std::chrono::steady_clock::time_point start,
                                                                     unsigned timeoutMs) const
    {
        std::optional<std::chrono::milliseconds> t;
        if (timeoutMs) t = std::chrono::milliseconds(timeoutMs);
        if (timeoutLimit && (!t || *timeoutLimit < *t)) t = timeoutLimit;
        if (!t) return std::nullopt;
        return start + *t;
    }

    // EP2 NAKs while the scope is still sweeping: when its upload will start,
    // if known. In virtual time the clock runs on to it (if it comes within
    // the time-out) and the read is retried at once; in real time the wait
    // ends then, or polls the trigger search every millisecond.
    bool awaitingUpload(std::uint8_t ep) const
    {
        return ep == 0x82 && fx2.running() && !fx2.nakAll() && fpga.blocksWaiting() == 0 &&
               fpga.scope().running();
    }
    bool runToUpload(std::uint8_t ep, unsigned timeoutMs)
    {
        if (!clock.isVirtual() || !awaitingUpload(ep)) return false;
        const auto due = fpga.scope().uploadDueNs();
        const std::int64_t now = clock.now();
        if (!due || *due <= now || (timeoutMs && *due > now + std::int64_t(timeoutMs) * 1'000'000)) return false;
        clock.advance(*due - now);
        touch();
        return true;
    }
    std::optional<std::chrono::steady_clock::time_point> uploadWake(std::uint8_t ep) const
    {
        if (clock.isVirtual() || !awaitingUpload(ep)) return std::nullopt;
        const auto due = fpga.scope().uploadDueNs();
        const std::int64_t at = due ? std::max(*due, clock.now()) : clock.now() + 1'000'000;
        return clock.steadyAt(at);
    }

    // A NAKing endpoint in virtual time: the time-out passes at once.
    bool virtualTimeout(unsigned timeoutMs)
    {
        if (!clock.isVirtual() || timeoutMs == 0) return false;
        clock.advance(std::int64_t(timeoutMs) * 1'000'000);
        return true;
    }

    struct Faults {
        int failControl = 0;
        int failWrites = 0;
        int timeoutWrites = 0;
        int failReads = 0;
        int timeoutReads = 0;
    };

    std::mutex m;
    std::condition_variable cv;
    std::uint64_t kicks = 0; // counts state changes that may unblock a NAKed endpoint
    BoardClock clock;
    EventLog log;
    Fpga fpga;
    Fx2 fx2;
    bool present = true;
    std::uint32_t enumerations = 0;
    std::uint8_t address = 0;
    std::array<std::uint64_t, 256> abortCount{};
    std::size_t waiting = 0; // transfers inside wait()
    bool timingOn = true;
    BusTiming timing;
    std::optional<std::chrono::milliseconds> timeoutLimit;
    Faults faults;
    std::mt19937 rng;
    ChamberModel chamber;
    std::unique_ptr<ChamberPort> chamberPort; // once started, serves until the process ends
};

// ---- USB-facing surface ------------------------------------------------------

Board& Board::instance()
{
    // Never destroyed: threads of the host may still call in while the
    // process exits.
    static Board* board = new Board;
    return *board;
}

Board::Board() : impl_(new Impl) {}

Board::~Board()
{
    delete impl_;
}

bool Board::present() const
{
    std::lock_guard lk(impl_->m);
    return impl_->present;
}

std::uint32_t Board::enumerationCount() const
{
    std::lock_guard lk(impl_->m);
    return impl_->enumerations;
}

std::uint8_t Board::deviceAddress() const
{
    std::lock_guard lk(impl_->m);
    return impl_->address;
}

Transfer Board::control(const Setup& setup, std::uint8_t* data, unsigned timeoutMs)
{
    (void)timeoutMs; // endpoint 0 always answers at once
    const auto start = std::chrono::steady_clock::now();
    Impl& d = *impl_;
    std::unique_lock lk(d.m);
    if (!d.present) return {Result::NoDevice, 0};
    d.touch();
    Transfer t;
    if (d.faults.failControl > 0) {
        --d.faults.failControl;
        t = {Result::Error, 0};
    } else {
        t = d.fx2.control(setup, data);
    }
    const std::int64_t sleepNs = d.spend(d.controlCost(t.length));
    d.kick();
    lk.unlock();
    d.pace(start, sleepNs);
    return t;
}

template <class Attempt>
Transfer Board::Impl::bulk(std::chrono::steady_clock::time_point start, std::uint8_t endpoint,
                           unsigned timeoutMs, bool in, int& failFault, int& timeoutFault, Attempt attempt)
{
    std::unique_lock lk(m);
    if (!present) return {Result::NoDevice, 0};
    const std::uint32_t enumeration = enumerations;
    const std::uint64_t aborts = abortCount[endpoint];
    const auto deadline = deadlineFor(start, timeoutMs);
    touch();
    if (failFault > 0) {
        --failFault;
        return {Result::Error, 0};
    }
    if (timeoutFault > 0) {
        --timeoutFault;
        if (virtualTimeout(timeoutMs)) return {Result::Timeout, 0};
        switch (wait(lk, endpoint, enumeration, aborts, deadline, false)) {
        case Wake::Gone: return {Result::NoDevice, 0};
        case Wake::Aborted: return {Result::Error, 0};
        default: return {Result::Timeout, 0};
        }
    }
    std::size_t moved = 0;
    for (;;) {
        const Fx2::Io io = attempt(moved);
        if (io == Fx2::Io::Error) return {Result::Error, 0};
        if (io == Fx2::Io::Done) break;
        if (in && runToUpload(endpoint, timeoutMs)) continue;
        if (virtualTimeout(timeoutMs)) return {Result::Timeout, 0};
        switch (wait(lk, endpoint, enumeration, aborts, deadline, true,
                     in ? uploadWake(endpoint) : std::nullopt)) {
        case Wake::Gone: return {Result::NoDevice, 0};
        case Wake::Aborted: return {Result::Error, 0};
        case Wake::Timeout: return {Result::Timeout, 0};
        case Wake::Retry: touch(); break;
        }
    }
    const std::int64_t sleepNs = spend(bulkCost(moved));
    kick();
    lk.unlock();
    pace(start, sleepNs);
    return {Result::Ok, moved};
}

Transfer Board::bulkOut(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length, unsigned timeoutMs)
{
    Impl& d = *impl_;
    return d.bulk(std::chrono::steady_clock::now(), endpoint, timeoutMs, false, d.faults.failWrites,
                  d.faults.timeoutWrites, [&](std::size_t& moved) {
                      const Fx2::Io io = d.fx2.bulkOut(endpoint, data, length);
                      if (io == Fx2::Io::Done) moved = length;
                      return io;
                  });
}

Transfer Board::bulkIn(std::uint8_t endpoint, std::uint8_t* data, std::size_t length, unsigned timeoutMs)
{
    Impl& d = *impl_;
    return d.bulk(std::chrono::steady_clock::now(), endpoint, timeoutMs, true, d.faults.failReads,
                  d.faults.timeoutReads,
                  [&](std::size_t& moved) { return d.fx2.bulkIn(endpoint, data, length, moved); });
}

void Board::abortEndpoint(std::uint8_t endpoint)
{
    std::lock_guard lk(impl_->m);
    ++impl_->abortCount[endpoint];
    impl_->cv.notify_all();
}

void Board::cyclePort()
{
    std::lock_guard lk(impl_->m);
    if (!impl_->present) return;
    impl_->touch();
    impl_->fx2.enumerate();
    impl_->reattach();
}

// ---- Test bench --------------------------------------------------------------

namespace {

// Runs `f` on the board's state under its lock and wakes waiting transfers,
// since any change may unblock a NAKing endpoint.
template <class D, class F>
auto withBoard(D& d, F&& f)
{
    std::lock_guard lk(d.m);
    d.touch();
    struct Wake {
        D& d;
        ~Wake() { d.kick(); }
    } wake{d};
    return f(d);
}

} // namespace

Control::Control(Board& board) : board_(board) {}

#define WITH(...) withBoard(*board_.impl_, [&](Board::Impl & d) __VA_ARGS__)

void Control::reset()
{
    WITH({ d.reset(); });
}

void Control::setPresent(bool present)
{
    WITH({
        if (present == d.present) return;
        d.present = present;
        if (present) {
            d.powerUp();
        } else {
            d.cv.notify_all();
        }
    });
}

void Control::startFirmware()
{
    WITH({
        d.fx2.forceRunning();
        d.reattach();
    });
}

void Control::configureFpga()
{
    WITH({ d.fpga.forceConfigured(); });
}

void Control::setBusTiming(bool on)
{
    WITH({ d.timingOn = on; });
}

void Control::setBusTiming(const BusTiming& costs)
{
    WITH({
        d.timing = costs;
        d.timingOn = true;
    });
}

void Control::setVirtualTime(bool on)
{
    WITH({ d.clock.setVirtual(on); });
}

void Control::advanceTime(std::chrono::nanoseconds dt)
{
    WITH({
        if (dt.count() <= 0 || !d.clock.isVirtual()) return;
        d.clock.advance(dt.count());
        d.touch();
    });
}

std::int64_t Control::nowNs() const
{
    return WITH({ return d.clock.now(); });
}

void Control::setTimeoutLimit(std::optional<std::chrono::milliseconds> limit)
{
    WITH({ d.timeoutLimit = limit; });
}

bool Control::firmwareRunning() const
{
    return WITH({ return d.fx2.running(); });
}

bool Control::cpuHeldInReset() const
{
    return WITH({ return d.fx2.cpuHeld(); });
}

std::vector<std::uint8_t> Control::fx2Memory(std::uint16_t address, std::size_t n) const
{
    return WITH({ return d.fx2.memory(address, n); });
}

std::uint8_t Control::portA() const
{
    return WITH({ return d.fx2.portA(); });
}

std::uint8_t Control::portD() const
{
    return WITH({ return d.fx2.portD(); });
}

bool Control::nakAll() const
{
    return WITH({ return d.fx2.nakAll(); });
}

FpgaState Control::fpgaState() const
{
    return WITH({ return d.fpga.state(); });
}

std::vector<std::uint8_t> Control::fpgaImage() const
{
    return WITH({ return d.fpga.image(); });
}

std::uint8_t Control::registerValue(std::uint8_t reg) const
{
    return WITH({ return d.fpga.reg(reg); });
}

std::uint16_t Control::dacCode(std::uint8_t channelCode) const
{
    return WITH({ return d.fpga.dac().code(channelCode); });
}

int Control::supplyMillivolts() const
{
    return WITH({ return d.fpga.dac().supplyMillivolts(); });
}

std::vector<std::uint8_t> Control::blockMemory(std::uint8_t target, std::uint16_t start, std::size_t n) const
{
    return WITH({ return d.fpga.memory(target, start, n); });
}

std::size_t Control::blocksWaiting() const
{
    return WITH({ return d.fpga.blocksWaiting(); });
}

std::size_t Control::waitingTransfers() const
{
    return WITH({ return d.waiting; });
}

std::uint64_t Control::statusRequests() const
{
    return WITH({ return d.fx2.statusPolls(); });
}

std::uint64_t Control::droppedBlocks() const
{
    return WITH({ return d.fpga.droppedBlocks(); });
}

ClockGeneratorState Control::clockGenerator() const
{
    return WITH({ return d.fpga.clockGenerator().state(d.clock.now()); });
}

DutState Control::dut() const
{
    return WITH({ return d.fpga.dut().state(d.fpga.nowNs()); });
}

ScopeState Control::scope() const
{
    return WITH({ return d.fpga.scope().state(); });
}

std::uint64_t Control::sequenceRowsApplied() const
{
    return WITH({ return d.fpga.sequencer().rowsApplied(); });
}

ThermalState Control::thermal() const
{
    return WITH({
        d.touch();
        return d.fpga.thermal().state(d.fpga.nowNs());
    });
}

void Control::setThermalModel(double ambientCelsius, double timeConstantSeconds)
{
    WITH({
        d.touch();
        if (d.chamberPort) d.chamber.putAt(ambientCelsius, d.clock.now());
        d.fpga.thermal().setModel(ambientCelsius, timeConstantSeconds);
    });
}

std::string Control::startChamber(const std::string& linkPath)
{
    return WITH({ return d.startChamber(linkPath); });
}

void Control::setChamberModel(double rampCelsiusPerMinute, double lagSeconds)
{
    WITH({
        d.chamber.advanceTo(d.clock.now());
        d.chamber.setModel(rampCelsiusPerMinute, lagSeconds);
    });
}

void Control::setChamberFault(ChamberFault fault)
{
    WITH({
        d.chamber.advanceTo(d.clock.now());
        d.chamber.setFault(fault);
    });
}

ChamberState Control::chamber() const
{
    return WITH({
        d.chamber.advanceTo(d.clock.now());
        ChamberState s = d.chamber.state();
        s.started = d.chamberPort != nullptr;
        if (d.chamberPort) s.port = d.chamberPort->path();
        return s;
    });
}

void Control::setDiode(double aMillivolts, double bMillivoltsPerDegree)
{
    WITH({ d.fpga.thermal().setDiode(aMillivolts, bMillivoltsPerDegree); });
}

void Control::setProbeNoise(bool on)
{
    WITH({ d.fpga.probeNoise = on; });
}

void Control::setScopeInputOffsets(int channel, double volts, double currentAmps, double iccAmps)
{
    if (channel < 0 || channel > 3) return;
    // The converter's step: 36 V or 6.22 A over 511 codes.
    auto code = [](double x, double span) { return static_cast<int>(std::lround(x * 511.0 / span)); };
    WITH({
        d.fpga.inputOffsetCodes[static_cast<std::size_t>(channel)] = {code(volts, 36.0), code(currentAmps, 6.22),
                                                                      code(iccAmps, 6.22)};
    });
}

void Control::setDutSense(double senseOhms, double vrefDivisor)
{
    WITH({ d.fpga.dut().setSense(senseOhms, vrefDivisor); });
}

std::vector<LogEvent> Control::log() const
{
    return WITH({ return d.log.events(); });
}

void Control::clearLog()
{
    WITH({ d.log.clear(); });
}

bool Control::setLogFile(const std::string& path)
{
    return WITH({ return d.log.setFile(path); });
}

void Control::queueResponseBlock(const std::vector<std::uint8_t>& bytes)
{
    WITH({ d.fpga.pushBlock(bytes.data(), bytes.size()); });
}

void Control::setScopeCapable(bool capable)
{
    WITH({
        d.fx2.scopeCapable = capable;
        d.fpga.scopeFitted = capable;
    });
}

void Control::stallRequest(std::uint8_t request, int times)
{
    WITH({ d.fx2.stalls[request] = times < 0 ? -1 : times; });
}

void Control::clearStalls()
{
    WITH({ d.fx2.stalls.fill(0); });
}

void Control::failControlTransfers(int n)
{
    WITH({ d.faults.failControl = std::max(n, 0); });
}

void Control::failBulkWrites(int n)
{
    WITH({ d.faults.failWrites = std::max(n, 0); });
}

void Control::timeoutBulkWrites(int n)
{
    WITH({ d.faults.timeoutWrites = std::max(n, 0); });
}

void Control::failBulkReads(int n)
{
    WITH({ d.faults.failReads = std::max(n, 0); });
}

void Control::timeoutBulkReads(int n)
{
    WITH({ d.faults.timeoutReads = std::max(n, 0); });
}

void Control::setNeverAcceptCommands(bool on)
{
    WITH({ d.fx2.neverAccept = on; });
}

void Control::setNeverSendHardwareReady(bool on)
{
    WITH({ d.fpga.neverHardwareReady = on; });
}

void Control::setFailConfiguration(bool on)
{
    WITH({ d.fpga.failConfiguration = on; });
}

void Control::sendGarbageBlocks(int n)
{
    WITH({
        for (int i = 0; i < n; ++i) {
            std::array<std::uint8_t, Fpga::kBlockSize> b;
            for (auto& x : b) x = static_cast<std::uint8_t>(d.rng());
            d.fpga.pushBlock(b.data(), b.size(), true);
        }
    });
}

void Control::setDownloadTakes(bool takes)
{
    WITH({ d.fx2.downloadTakes = takes; });
}

#undef WITH

} // namespace simboard
