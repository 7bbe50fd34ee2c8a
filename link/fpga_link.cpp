#include "link/fpga_link.h"

#include <algorithm>
#include <cstring>

#include "common/log.h"

namespace zelbo::link {

namespace {
constexpr std::uint8_t kReqStatus = 0xFD;
constexpr std::uint8_t kFrameRead = 0x80;
constexpr std::uint8_t kFrameBlock = 0x03;
} // namespace

struct FpgaLink::Handlers {
    std::function<void(std::uint8_t, std::uint8_t)> readAnswer;
    std::function<void()> patternStopped;
    std::function<void()> scopeArm;
    std::function<void()> sweep;
    std::function<void()> sweepUploading;
    std::function<void()> scopeTimer;
    std::function<bool()> calibrating;
    std::function<void()> calibrationStep;
    std::function<void()> communicationError;
    std::function<void()> requestClose;
};

// Applies the record actions of one walk to the link's state. Runs under the
// walk mutex.
class FpgaLink::Walker final : public ResponseSink {
public:
    Walker(FpgaLink& link, std::shared_ptr<const Handlers> h) : link_(link), h_(std::move(h)) {}

    void hardwareReady() override { link_.hardwareReady_.set(); }

    void patternStopped() override
    {
        if (h_->patternStopped) h_->patternStopped();
    }

    void sweepFinished() override
    {
        link_.uploadSeen_ = false;
        const bool calibrating = h_->calibrating && h_->calibrating();
        if (!calibrating) {
            link_.signal(link_.sweepDone_);
            return;
        }
        // Every fourth sweep while calibrating advances the calibration; the
        // step itself runs on the reader thread.
        if (link_.sweepCount_ == 3) {
            link_.sweepCount_ = 0;
            link_.calibrationStepsDue_.fetch_add(1);
            link_.wake_.set();
        } else {
            ++link_.sweepCount_;
        }
    }

    void registerRead(std::uint8_t reg, std::uint8_t value) override
    {
        if (h_->readAnswer)
            h_->readAnswer(reg, value);
    }

    void upload(int channel, const std::uint8_t* data, std::size_t n) override
    {
        if (!link_.uploadSeen_) {
            link_.uploadSeen_ = true;
            if (h_->sweepUploading)
                h_->sweepUploading();
        }
        auto& area = link_.capture_[static_cast<std::size_t>(channel)];
        auto& index = link_.captureIndex_[static_cast<std::size_t>(channel)];
        if (index + kUploadChunk > kCaptureBytes)
            index = 0;
        std::memcpy(area.data() + index, data, n);
        std::memset(area.data() + index + n, 0, kUploadChunk - n);
        index += kUploadChunk;
        if (index >= kCaptureBytes - 1)
            index = 0;
    }

private:
    FpgaLink& link_;
    std::shared_ptr<const Handlers> h_;
};

FpgaLink::FpgaLink(MessageService& messages, LinkOptions options)
    : messages_(messages),
      options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &realClock()),
      handlers_(std::make_shared<Handlers>())
{
    block_[3] = kFrameBlock;
}

FpgaLink::~FpgaLink()
{
    stop_.set();
    std::unique_ptr<boost::thread> t;
    {
        boost::lock_guard lock(threadMutex_);
        t = std::move(reader_);
    }
    if (t && t->joinable())
        t->join();
    releaseBridge();
}

// ---- handlers ---------------------------------------------------------------

std::shared_ptr<const FpgaLink::Handlers> FpgaLink::handlers() const
{
    boost::lock_guard lock(handlersMutex_);
    return handlers_;
}

template <class F> void FpgaLink::updateHandlers(F&& change)
{
    boost::lock_guard lock(handlersMutex_);
    auto copy = std::make_shared<Handlers>(*handlers_);
    change(*copy);
    handlers_ = std::move(copy);
}

void FpgaLink::onReadAnswer(std::function<void(std::uint8_t, std::uint8_t)> fn)
{
    updateHandlers([&](Handlers& h) { h.readAnswer = std::move(fn); });
}
void FpgaLink::onPatternStopped(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.patternStopped = std::move(fn); });
}
void FpgaLink::onScopeArm(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.scopeArm = std::move(fn); });
}
void FpgaLink::onSweep(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.sweep = std::move(fn); });
}
void FpgaLink::onSweepUploading(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.sweepUploading = std::move(fn); });
}
void FpgaLink::onScopeTimer(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.scopeTimer = std::move(fn); });
}
void FpgaLink::scheduleScopeTimer(std::chrono::steady_clock::time_point at)
{
    scopeTimerAt_.store(at.time_since_epoch().count());
    wake_.set();
}
void FpgaLink::onCalibration(std::function<bool()> calibrating, std::function<void()> step)
{
    updateHandlers([&](Handlers& h) {
        h.calibrating = std::move(calibrating);
        h.calibrationStep = std::move(step);
    });
}
void FpgaLink::onCommunicationError(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.communicationError = std::move(fn); });
}
void FpgaLink::onRequestClose(std::function<void()> fn)
{
    updateHandlers([&](Handlers& h) { h.requestClose = std::move(fn); });
}

// ---- queueing ---------------------------------------------------------------

void FpgaLink::signal(Event& trigger)
{
    trigger.set();
    wake_.set();
}

void FpgaLink::append(const std::uint8_t* frame, std::size_t n, bool wake)
{
    if (wake)
        commandsPending_.reset();
    bool stored = false;
    {
        boost::lock_guard lock(commandMutex_);
        if (pendingLength_ + n < kPendingSize) {
            std::memcpy(pending_.data() + pendingLength_, frame, n);
            pendingLength_ += n;
            stored = true;
            // Something waits to leave the host: whoever waits for the
            // write-done event now waits for this frame too.
            writeDone_.reset();
        }
    }
    if (wake)
        signal(commandsPending_);
    (void)stored;
}

void FpgaLink::queueWriteImpl(std::uint8_t reg, std::uint8_t value, WriteClass cls, bool wake)
{
    if (!active_.load())
        return;
    if (cls == WriteClass::Scope && !scopeAllowed_.load())
        return;
    bool full = false;
    {
        boost::lock_guard lock(commandMutex_);
        full = pendingLength_ + kWriteFrame >= kPendingSize;
    }
    if (full && flushCommands() != 0)
        return;
    const std::uint8_t frame[kWriteFrame] = {static_cast<std::uint8_t>(cls), 0, 0, 0, reg, value};
    append(frame, kWriteFrame, wake);
}

void FpgaLink::queueWrite(std::uint8_t reg, std::uint8_t value, WriteClass cls)
{
    queueWriteImpl(reg, value, cls, true);
}

void FpgaLink::queueWriteQuiet(std::uint8_t reg, std::uint8_t value, WriteClass cls)
{
    queueWriteImpl(reg, value, cls, false);
}

void FpgaLink::queueRead(std::uint8_t reg)
{
    const std::uint8_t frame[kReadFrame] = {0, 0, 0, kFrameRead, reg};
    append(frame, kReadFrame, true);
}

void FpgaLink::queueBlock(std::uint8_t target, std::uint16_t start, const std::uint8_t* data,
                          std::size_t n)
{
    if (n == 0 || n > kMaxBlockData || !data)
        return;
    {
        boost::lock_guard lock(commandMutex_);
        block_[0] = 0;
        block_[1] = 0;
        block_[2] = 0;
        block_[3] = kFrameBlock;
        block_[4] = target;
        block_[5] = static_cast<std::uint8_t>(start >> 8);
        block_[6] = static_cast<std::uint8_t>(start & 0xFF);
        const auto last = static_cast<std::uint16_t>(n - 1);
        block_[7] = static_cast<std::uint8_t>(last >> 8);
        block_[8] = static_cast<std::uint8_t>(last & 0xFF);
        std::memcpy(block_.data() + kBlockHeader, data, n);
        blockLength_ = n + kBlockHeader;
        blockWriteDone_.reset();
    }
    signal(blockTrigger_);
}

std::size_t FpgaLink::pendingLength() const
{
    boost::lock_guard lock(commandMutex_);
    return pendingLength_;
}

std::size_t FpgaLink::blockLength() const
{
    boost::lock_guard lock(commandMutex_);
    return blockLength_;
}

void FpgaLink::quiesceTriggers()
{
    for (Event* e : {&scopeArm_, &sweepDone_, &commandsPending_, &blockTrigger_})
        while (e->tryWait()) {
        }
}

void FpgaLink::armScope()
{
    signal(scopeArm_);
}

void FpgaLink::pause(std::chrono::milliseconds ms)
{
    clock().sleep(ms);
}

bool FpgaLink::waitWriteDone(std::chrono::milliseconds timeout)
{
    return writeDone_.wait(timeout);
}

// ---- transfers --------------------------------------------------------------

bool FpgaLink::bridgeUsable() const
{
    boost::lock_guard lock(busMutex_);
    return bridge_ != nullptr;
}

VendorReply FpgaLink::vendorRequest(std::uint8_t request, std::uint16_t value, int length)
{
    VendorReply reply;
    const int n = std::clamp(length, 0, static_cast<int>(reply.bytes.size()));
    {
        boost::lock_guard lock(busMutex_);
        if (bridge_ && bridge_->SendVendorRequest)
            (void)bridge_->SendVendorRequest(1, request, value, kVendorIndex, reply.bytes.data(), n);
    }
    reply.ok = reply.bytes[0] != 0;
    return reply;
}

Status FpgaLink::readStatus()
{
    Status s;
    boost::lock_guard lock(busMutex_);
    if (bridge_ && bridge_->SendVendorRequest)
        (void)bridge_->SendVendorRequest(1, kReqStatus, 1, kVendorIndex, s.bytes.data(),
                                         static_cast<int>(s.bytes.size()));
    return s;
}

bool FpgaLink::readAndProcessBlock()
{
    {
        boost::lock_guard walk(walkMutex_);
        std::uint8_t block[kBlockSize] = {};
        int r = 1;
        {
            boost::lock_guard lock(busMutex_);
            if (bridge_)
                r = bridge_->USB_BulkRead(block, static_cast<int>(kBlockSize), kBulkIn);
        }
        if (r == 0) {
            Walker walker(*this, handlers());
            walkResponseBlock(block, walker);
            return true;
        }
    }
    // Reported outside the walk lock: the message may need the GUI thread.
    communicationFailure();
    return false;
}

void FpgaLink::purgeInput()
{
    const Status s = readStatus();
    if (s.inputEmpty())
        return;
    std::uint8_t scratch[kBlockSize] = {};
    int r = 1;
    {
        boost::lock_guard lock(busMutex_);
        if (bridge_)
            r = bridge_->USB_BulkRead(scratch, static_cast<int>(kBlockSize), kBulkIn);
    }
    if (r != 0)
        communicationFailure();
}

int FpgaLink::flushCommands()
{
    {
        boost::lock_guard lock(commandMutex_);
        if (pendingLength_ == 0) {
            writeDone_.set();
            return 0;
        }
    }
    // A dead link, or no bridge at all (bring-up failed): nothing can be sent.
    if (failed_.load() || !bridgeUsable())
        return 1;

    const auto& t = options_.timings;
    Status s = readStatus();
    for (int c = 0; !s.acceptsCommands(); ++c) {
        if (s.blockFlag() && !readAndProcessBlock())
            return 1;
        s = readStatus();
        if (c > t.purgeAfterCycles && !s.inputEmpty()) {
            purgeInput();
            if (failed_.load())
                return 1;
        }
        if (c > t.errorAfterCycles) {
            communicationFailure();
            return 1;
        }
    }

    int r = 1;
    {
        boost::lock_guard lock(commandMutex_);
        if (pendingLength_ == 0) { // another thread sent it meanwhile
            writeDone_.set();
            return 0;
        }
        {
            boost::lock_guard bus(busMutex_);
            if (bridge_)
                r = bridge_->USB_BulkWrite(pending_.data(), static_cast<int>(pendingLength_), kBulkOut);
        }
        pendingLength_ = 0;
        writeDone_.set();
    }
    if (r == 0)
        return 0;
    (void)readStatus();
    return 1;
}

void FpgaLink::sendBlock()
{
    boost::lock_guard lock(commandMutex_);
    if (blockLength_ == 0)
        return;
    blockWriteDone_.reset();
    {
        boost::lock_guard bus(busMutex_);
        if (bridge_)
            (void)bridge_->USB_BulkWrite(block_.data(), static_cast<int>(blockLength_), kBulkOut);
    }
    blockLength_ = 0;
    blockWriteDone_.set();
}

// ---- failure ----------------------------------------------------------------

void FpgaLink::communicationFailure()
{
    // Once per link. No lock is held while the message is up: it may have to
    // wait for the GUI thread, which may itself be waiting on the link.
    if (failed_.exchange(true))
        return;
    log::error("link: communication error with the FPGA; the link is closed");
    active_.store(false);
    stop_.set(); // the reader ends at its next check
    wake_.set();
    writeDone_.set(); // nothing more will be sent: release whoever waits
    // While the window shuts the link down it is closing already, and may be
    // waiting for the reader: do not hold the reader in a message box then.
    if (!closing_.load())
        messages_.show(kCommErrorText, kCommErrorCaption, MsgIcon::Error);
    if (auto h = handlers(); h->communicationError)
        h->communicationError();
    requestCloseOnce();
}

void FpgaLink::requestCloseOnce()
{
    if (closeRequested_.exchange(true))
        return;
    if (auto h = handlers(); h->requestClose)
        h->requestClose();
}

// ---- reader -----------------------------------------------------------------

bool FpgaLink::readerRunning() const
{
    return readerRunning_.load();
}

void FpgaLink::readerLoop()
{
    bool failedWrite = false;
    // Idle back-off: when the last work was seen, and the wait in force.
    const auto& timings = options_.timings;
    auto lastWork = std::chrono::steady_clock::now();
    std::chrono::milliseconds wait = timings.idleWait;
    while (!stop_.tryWait()) {
        bool busy = false;
        const Status s = readStatus();
        if (s.blockWaiting()) {
            busy = true;
            if (!readAndProcessBlock())
                break;
        }
        auto h = handlers();
        for (int due = calibrationStepsDue_.exchange(0); due > 0; --due) {
            busy = true;
            if (h->calibrationStep)
                h->calibrationStep();
        }
        if (scopeArm_.tryWait()) {
            busy = true;
            if (h->scopeArm)
                h->scopeArm();
        }
        if (sweepDone_.tryWait()) {
            busy = true;
            if (h->sweep)
                h->sweep();
        }
        if (const auto due = scopeTimerAt_.load(); due != kNoTimer) {
            const auto now = std::chrono::steady_clock::now();
            if (now.time_since_epoch().count() >= due) {
                // A later request made by the hook itself stays in place.
                auto expected = due;
                scopeTimerAt_.compare_exchange_strong(expected, kNoTimer);
                busy = true;
                if (h->scopeTimer)
                    h->scopeTimer();
            }
        }
        if (commandsPending_.tryWait()) {
            busy = true;
            {
                boost::lock_guard lock(commandMutex_);
                if (pendingLength_ != 0)
                    writeDone_.reset();
            }
            if (flushCommands() != 0) {
                failedWrite = true;
                break;
            }
        }
        if (blockTrigger_.tryWait()) {
            busy = true;
            sendBlock();
        }
        boost::call_once(readerAliveOnce_, [this] { readerAlive_.set(); });
        if (busy) {
            lastWork = std::chrono::steady_clock::now();
            wait = timings.idleWait;
        } else if (timings.idleWait.count() > 0) {
            if (wait < timings.idleWaitMax && std::chrono::steady_clock::now() - lastWork >= timings.idleBackoffAfter)
                wait = std::min(wait * 2, timings.idleWaitMax);
            // Never past a scope timer that is due.
            std::chrono::milliseconds thisWait = wait;
            if (const auto due = scopeTimerAt_.load(); due != kNoTimer) {
                const auto left = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(due)) -
                                  std::chrono::steady_clock::now();
                thisWait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left),
                                      std::chrono::milliseconds(0), wait);
            }
            if (thisWait.count() > 0 && wake_.wait(thisWait)) {
                // The host started something: full rate from here.
                lastWork = std::chrono::steady_clock::now();
                wait = timings.idleWait;
            }
        }
    }
    if (failedWrite) {
        // A failed write (or a communication error, whose close request has
        // gone out already) ends the reader and closes the window.
        stop_.set();
        if (!failed_.load())
            requestCloseOnce();
        writeDone_.set();
    }
    readerRunning_.store(false);
    readerEnded_.set();
}

// ---- open and shutdown ---------------------------------------------------------

int FpgaLink::open(BringUpObserver& progress)
{
    BringUp bringUpper(*this, progress, messages_);
    const int result = bringUpper.bringUp();
    if (result != kBringUpReady) {
        log::writef(log::Level::Info, "link: bring-up ended with %d", result);
        return result;
    }
    purgeInput();
    if (failed_.load())
        return -1; // reported already
    {
        boost::lock_guard lock(threadMutex_);
        if (!reader_) {
            readerRunning_.store(true);
            readerEnded_.reset();
            reader_ = std::make_unique<boost::thread>([this] { readerLoop(); });
        }
    }
    (void)vendorRequest(kReqHostReady, kHostReady, 1);
    (void)readStatus();
    if (!readerAlive_.wait(options_.timings.readerAlive)) {
        log::error("link: the reader did not start");
        if (!failed_.load())
            messages_.show(kReaderUnresponsiveText);
        return -1;
    }
    if (!hardwareReady_.wait(options_.timings.hardwareReady)) {
        log::error("link: no Hardware Ready from the FPGA");
        if (!failed_.load())
            messages_.show(kNoHardwareReadyText);
        return -1;
    }
    log::debug("link: open (reader running, Hardware Ready)");
    active_.store(true);
    return 0;
}

bool FpgaLink::queryScopeCapability()
{
    const VendorReply cap = vendorRequest(kReqScopeCapability, 0, 1);
    scopeAllowed_.store(cap.ok);
    log::writef(log::Level::Info, "link: the board %s oscilloscope commands", cap.ok ? "takes" : "does not take");
    return cap.ok;
}

void FpgaLink::beginShutdown()
{
    closing_.store(true);
}

void FpgaLink::waitSent()
{
    if (readerRunning_.load())
        (void)writeDone_.wait(options_.timings.doneWait);
    else
        (void)flushCommands();
}

bool FpgaLink::shutdown()
{
    beginShutdown();
    boost::lock_guard lock(threadMutex_);
    if (!reader_)
        return true;
    stop_.set();
    wake_.set();
    if (!readerEnded_.wait(options_.timings.readerJoin)) {
        log::warning("link: the reader did not stop in time");
        return false;
    }
    reader_->join(); // it has left its loop: returns at once
    reader_.reset();
    log::debug("link: reader stopped");
    return true;
}

void FpgaLink::releaseBridge()
{
    boost::lock_guard lock(busMutex_);
    if (bridge_ && deviceHandle_ != 0 && bridge_->USB_Close)
        bridge_->USB_Close(deviceHandle_);
    deviceHandle_ = 0;
    bridge_.reset();
}

// ---- capture areas ------------------------------------------------------------

void FpgaLink::copyCaptures(CaptureSnapshot& out) const
{
    boost::lock_guard lock(walkMutex_);
    out = capture_;
}

void FpgaLink::resetCaptureIndices(std::uint8_t channelMask)
{
    boost::lock_guard lock(walkMutex_);
    for (int ch = 0; ch < kChannels; ++ch)
        if (channelMask & (1u << ch))
            captureIndex_[static_cast<std::size_t>(ch)] = 0;
}

void FpgaLink::clearCaptures()
{
    boost::lock_guard lock(walkMutex_);
    for (auto& area : capture_)
        area.fill(0);
    captureIndex_.fill(0);
    uploadSeen_ = false;
}

} // namespace zelbo::link
