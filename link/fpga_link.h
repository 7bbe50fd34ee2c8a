#pragma once
// The link to the board's FPGA: the pending command buffer and the block
// buffer, the status request that paces everything, the response-block walker
// with its record actions, the events other code waits on, the board reader
// thread, opening the link and stopping it. What the register traffic of link
// start and shutdown is, and what a register's answer means, is the engine's
// and the features' (engine/link_sequences.h, engine/answers.h).
//
// Threads. The owner (the engine) calls open() and shutdown() from one
// thread (the program does open() on its bring-up worker, shutdown() on the
// GUI thread); any thread may queue commands. The reader thread sends what is
// queued, reads and dispatches response blocks and runs the scope and
// calibration hooks. Every call into the bridge library is serialised by the
// link; reading and walking a response block never runs in two threads at once.
//
// Callbacks and hooks are registered before start(); they may be replaced
// later (each call sees either the old or the new one). Most run on the reader
// thread (noted per setter); none may block on the GUI thread while it waits
// for the link.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <boost/thread/mutex.hpp>
#include <boost/thread/once.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>

#include "common/message_service.h"
#include "link/board_probe.h"
#include "link/bring_up.h"
#include "link/clock.h"
#include "common/command_port.h"
#include "link/cyusb.h"
#include "link/event.h"
#include "link/response_block.h"

namespace zelbo::link {

inline constexpr std::size_t kPendingSize = 512;
inline constexpr std::size_t kWriteFrame = 6;
inline constexpr std::size_t kReadFrame = 5;
inline constexpr std::size_t kBlockHeader = 9;
inline constexpr std::size_t kMaxBlockData = 503;
inline constexpr std::size_t kCaptureBytes = 8192;
inline constexpr int kChannels = 4;
inline constexpr std::uint16_t kVendorIndex = 0xBEEF;
// The bridge's bulk pipes: answers and captures in, frames and the FPGA
// image out.
inline constexpr int kBulkIn = 1;
inline constexpr int kBulkOut = 2;

// Vendor requests of link start and shutdown. Host-ready drives port A bit 7:
// value 0 sets it (the host is there), 1 clears it. The scope capability
// answers 1 when the board takes scope-class commands.
inline constexpr std::uint8_t kReqHostReady = 0xB5;
inline constexpr std::uint16_t kHostReady = 0;
inline constexpr std::uint16_t kHostGone = 1;
inline constexpr std::uint8_t kReqScopeCapability = 0xB3;

inline constexpr const char* kCommErrorText =
    "Detected communication error with FPGA. Please restart system setup.\nSoftware is shutting "
    "down.\n\nNOTE: If error persists, please contact your developer.";
inline constexpr const char* kCommErrorCaption = "Zelbo3";
inline constexpr const char* kReaderUnresponsiveText =
    "Read thread unresponsive. Please restart system.";
inline constexpr const char* kNoHardwareReadyText =
    "Software did not receive Hardware Ready signal from FPGA. Please restart system.";

// The six-byte answer to the status request (0xFD).
struct Status {
    std::array<std::uint8_t, 6> bytes{};
    bool blockWaiting() const { return bytes[0] != 0; }          // byte 0 non-zero
    bool inputEmpty() const { return (bytes[1] & 0x01) != 0; }   // nothing lingers
    bool blockFlag() const { return (bytes[1] & 0x02) != 0; }    // a block is waiting
    bool acceptsCommands() const { return (bytes[1] & 0x04) != 0; }
};

// Bounds and pauses of the link. The defaults are the program's; tests shorten
// the waits that only end on failure.
struct LinkTimings {
    std::chrono::milliseconds readerAlive{3000};   // link start: reader's first cycle
    std::chrono::milliseconds hardwareReady{5000}; // link start: Hardware Ready
    std::chrono::milliseconds doneWait{5000};      // shutdown's waits for done events
    std::chrono::milliseconds readerJoin{15000};   // shutdown: bound of the reader stop
    int purgeAfterCycles = 1500;                   // flush: purge stale input after
    int errorAfterCycles = 3000;                   // flush: communication error after
    int configurePolls = 2000;                     // bring-up: status polls before the image
    std::chrono::milliseconds configurePollTime{5000}; // ... and their time bound
    // After a reader cycle that found nothing to do, the reader waits this long
    // (or until something is queued) before the next status request. Zero polls
    // back to back.
    std::chrono::milliseconds idleWait{1};
    // Once the reader has found nothing to do for idleBackoffAfter, each idle
    // wait doubles, up to idleWaitMax; the first sign of work (a block from the
    // board, or anything the host queues, which wakes the reader at once)
    // brings it back to idleWait. idleWaitMax at or below idleWait: no back-off.
    std::chrono::milliseconds idleBackoffAfter{500};
    std::chrono::milliseconds idleWaitMax{50};
};

struct LinkOptions {
    std::filesystem::path programFolder = zelbo::link::programFolder();
    std::string libraryName = kBridgeLibraryName;
    std::string imageName = kFpgaImageName;
    LinkTimings timings{};
    Clock* clock = nullptr; // null: realClock()
    // Creates the bridge binding at bring-up. Null: load libraryName from
    // programFolder. Tests return a hand-made table.
    std::function<std::unique_ptr<CCyUSB>()> bridgeFactory;
    // Tells why no board could be opened. Null: probeBoard() on the system's bus.
    std::function<BoardProbe()> boardProbe;
};

// The window-side call of link start (engine/link_sequences.h makes it).
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // Link start, after the initial register writes: enable the power button,
    // give it the focus and load the last settings. Called on start()'s thread.
    virtual void linkStarted() = 0;
};

class FpgaLink final : public CommandPort {
public:
    explicit FpgaLink(MessageService& messages, LinkOptions options = {});
    ~FpgaLink() override; // stops the reader (joins it) and releases the bridge
    FpgaLink(const FpgaLink&) = delete;
    FpgaLink& operator=(const FpgaLink&) = delete;

    // ---- CommandPort ------------------------------------------------------
    void queueWrite(std::uint8_t reg, std::uint8_t value,
                    WriteClass cls = WriteClass::Ordinary) override;
    void queueWriteQuiet(std::uint8_t reg, std::uint8_t value,
                         WriteClass cls = WriteClass::Ordinary) override;
    void queueRead(std::uint8_t reg) override;
    void queueBlock(std::uint8_t target, std::uint16_t start, const std::uint8_t* data,
                    std::size_t n) override;
    int flushCommands() override;
    bool waitWriteDone(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) override;
    VendorReply vendorRequest(std::uint8_t request, std::uint16_t value, int length) override;
    void pause(std::chrono::milliseconds ms) override;

    // ---- protocol ---------------------------------------------------------
    Status readStatus();
    // Drops stale board data: one status request and, when input lingers, one
    // discarded block read.
    void purgeInput();
    // Consumes every pending signal of the scope-arm, sweep-done,
    // commands-pending and block triggers.
    void quiesceTriggers();

    // ---- life cycle -------------------------------------------------------
    // Opens the link: bring-up, stale input purged, reader start, the
    // host-ready request, the reader's first cycle and Hardware Ready. 0 open
    // (active: writes go out); the bring-up result when it failed (no
    // reader); -1 when the reader or Hardware Ready did not come (message
    // shown, link stays inactive).
    int open(BringUpObserver& progress);
    // Asks the board whether it takes scope-class commands and lets them
    // through (or drops them) from now on; the answer.
    bool queryScopeCapability();
    // From here on a communication error ends the link without its message
    // box: the window is closing already, and may be waiting for the reader.
    void beginShutdown();
    // Waits (bounded) until the queued writes have left the host. Without a
    // reader (it stopped after a failed write) nothing would send them: they
    // are sent here.
    void waitSent();
    // Stops the reader (after beginShutdown(), which it implies). Bounded;
    // false when the reader did not end in time (the destructor then waits
    // for it).
    bool shutdown();
    // Closes the device (when bring-up opened one) and releases the library.
    void releaseBridge();

    bool active() const { return active_.load(); }
    bool scopeCommandsAllowed() const { return scopeAllowed_.load(); }
    bool readerRunning() const;
    int deviceHandle() const { return deviceHandle_; }
    CCyUSB* bridge() const { return bridge_.get(); }

    // ---- events -----------------------------------------------------------
    Event& writeDone() { return writeDone_; }
    Event& blockWriteDone() { return blockWriteDone_; }
    // Sets the scope-arm trigger: the reader runs the arm hook.
    void armScope();

    // ---- handlers ---------------------------------------------------------
    // Every register-read answer, in the order they arrive (the walking
    // thread: the reader, or whichever thread flushes; one walk at a time, so
    // calls never overlap). What an answer means is its feature's.
    void onReadAnswer(std::function<void(std::uint8_t reg, std::uint8_t value)> fn);
    // The board ended the run of the second "Start" toggle (PATTSTOP).
    void onPatternStopped(std::function<void()> fn);
    // Reader-thread hooks: scope arm, sweep processing, calibration.
    void onScopeArm(std::function<void()> fn);
    void onSweep(std::function<void()> fn);
    // The first upload record after a sweep-finished record or clearCaptures()
    // (walking thread, under the walk lock).
    void onSweepUploading(std::function<void()> fn);
    // Runs `fn` on the reader once the time given to scheduleScopeTimer has
    // come; a new request replaces the one pending. The reader's idle waits
    // never run past it.
    void onScopeTimer(std::function<void()> fn);
    void scheduleScopeTimer(std::chrono::steady_clock::time_point at);
    // `calibrating` tells whether sweep-finished records count toward
    // calibration steps; every fourth one then runs `step` on the reader.
    void onCalibration(std::function<bool()> calibrating, std::function<void()> step);
    // A communication error (once, on the thread that found it, after the
    // message was answered): the window clears its ask-before-closing flag.
    // The close request follows at once.
    void onCommunicationError(std::function<void()> fn);
    // The link asks the window to close (after a communication error, or when
    // a write of the reader failed); may come from any thread: post it.
    void onRequestClose(std::function<void()> fn);

    // ---- capture areas ----------------------------------------------------
    // Upload records fill four 8192-byte areas, one write index each. Reads
    // copy under the walk lock, so a sweep is never seen half-written.
    using CaptureSnapshot = std::array<std::array<std::uint8_t, kCaptureBytes>, kChannels>;
    void copyCaptures(CaptureSnapshot& out) const;
    // Resets the write indices of the channels in `channelMask` (bit n = channel n).
    void resetCaptureIndices(std::uint8_t channelMask = 0x0F);
    // Zeroes all four areas and their indices (before the scope is armed).
    void clearCaptures();

    // ---- inspection (tests, benchmarks) -----------------------------------
    std::size_t pendingLength() const;
    std::size_t blockLength() const;

private:
    struct Handlers;
    class Walker;
    friend class BringUp;

    void append(const std::uint8_t* frame, std::size_t n, bool wake);
    void queueWriteImpl(std::uint8_t reg, std::uint8_t value, WriteClass cls, bool wake);
    bool readAndProcessBlock();
    void sendBlock();
    void readerLoop();
    void communicationFailure();
    void requestCloseOnce();
    void signal(Event& trigger);
    std::shared_ptr<const Handlers> handlers() const;
    template <class F> void updateHandlers(F&& change);
    bool bridgeUsable() const;
    Clock& clock() const { return *clock_; }

    MessageService& messages_;
    LinkOptions options_;
    Clock* clock_;

    std::unique_ptr<CCyUSB> bridge_;
    int deviceHandle_ = 0;

    // Serialises every call into the bridge library.
    mutable boost::mutex busMutex_;
    // Guards the pending buffer, its length and the block buffer.
    mutable boost::mutex commandMutex_;
    std::array<std::uint8_t, kPendingSize> pending_{};
    std::size_t pendingLength_ = 0;
    std::array<std::uint8_t, kPendingSize> block_{};
    std::size_t blockLength_ = 0;

    // One walk at a time (recursive: a hook may flush, which walks again).
    mutable boost::recursive_mutex walkMutex_;
    std::array<std::array<std::uint8_t, kCaptureBytes>, kChannels> capture_{};
    std::array<std::size_t, kChannels> captureIndex_{};
    int sweepCount_ = 0; // sweep-finished records counted while calibrating
    bool uploadSeen_ = false; // an upload record of this sweep arrived (walk lock)
    static constexpr std::int64_t kNoTimer = INT64_MAX;
    std::atomic<std::int64_t> scopeTimerAt_{kNoTimer}; // steady-clock ticks
    std::atomic<int> calibrationStepsDue_{0};

    mutable boost::mutex handlersMutex_;
    std::shared_ptr<const Handlers> handlers_;

    std::atomic<bool> active_{false};
    std::atomic<bool> scopeAllowed_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> closeRequested_{false};
    std::atomic<bool> closing_{false}; // shutdown() has begun
    boost::once_flag readerAliveOnce_ = BOOST_ONCE_INIT;

    Event writeDone_{Event::Reset::Manual, false, "write-done"};
    Event blockWriteDone_{Event::Reset::Manual, false, "block-write-done"};
    Event commandsPending_{Event::Reset::Auto, false, "commands-pending"};
    Event scopeArm_{Event::Reset::Auto, false, "scope-arm"};
    Event sweepDone_{Event::Reset::Auto, false, "sweep-done"};
    Event blockTrigger_{Event::Reset::Auto, false, "block"};
    Event stop_{Event::Reset::Auto, false, "stop"};
    Event readerAlive_{Event::Reset::Auto, false, "reader-alive"};
    Event hardwareReady_{Event::Reset::Auto, false, "hardware-ready"};
    Event wake_{Event::Reset::Auto, false, "reader-wake"};
    Event readerEnded_{Event::Reset::Manual, false, "reader-ended"};

    mutable boost::mutex threadMutex_;
    std::unique_ptr<boost::thread> reader_;
    std::atomic<bool> readerRunning_{false};
};

} // namespace zelbo::link
