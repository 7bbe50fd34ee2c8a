#pragma once
// Streams every converted sweep into a recording file without holding up the
// reader thread: the reader copies each sweep into one of a fixed pool of
// record buffers and queues it; a writer thread of its own writes the queue
// out. When no buffer is free (the disk cannot keep up) the recording stops
// and says so; a sweep is never dropped silently.
//
// Threads: start(), stop() and status() on the GUI thread, onSweep() on the
// reader thread, the writing on the recorder's own thread.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scope/record/recording_format.h"
#include "scope/sweep_observer.h"

namespace zelbo::scope {

class ScopeCore;

// The header of a recording of what `core` acquires now: the acquired
// channels, and while stopped the shown ones (acquired on Run), with their
// labels, units and sources, the time base and sampling rate; `started` is
// the start time as the user should read it (ISO 8601, UTC).
recording::HeaderInfo recordingHeader(const ScopeCore& core, std::string started);

// Where the bytes go; a file normally, something slower in tests.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // Flushes and closes; false when the last bytes did not reach the disk.
    virtual bool close() = 0;
};

// A sink on a file created (or truncated) at `path`; nothing when it cannot be opened.
std::unique_ptr<RecordSink> openFileSink(const std::string& path, std::string* error);

// SourceChanged: a recorded channel now measures another quantity than the
// header names (its unit would no longer hold for the records that follow).
enum class RecordStop { None, User, Duration, Size, Overrun, WriteError, SourceChanged };

struct RecordLimits {
    double maxSeconds = 0;      // 0 = no limit
    std::uint64_t maxBytes = 0; // 0 = no limit; the file ends before it would pass this
};

struct RecordStatus {
    bool active = false;   // still taking sweeps
    bool finished = false; // the writer is done; stop() returns at once
    RecordStop reason = RecordStop::None;
    std::uint64_t sweeps = 0;      // sweeps taken into the recording
    std::uint64_t bytesWritten = 0; // header included
    std::uint64_t firstSweep = 0, lastSweep = 0; // core's sweep indices, 0 = none
    double elapsedSeconds = 0;
};

class SweepRecorder : public SweepObserver {
public:
    explicit SweepRecorder(std::size_t queueDepth = 128);
    ~SweepRecorder() override;
    SweepRecorder(const SweepRecorder&) = delete;
    SweepRecorder& operator=(const SweepRecorder&) = delete;

    // Writes the header and starts taking sweeps of the channels in
    // `header.mask`. False (with `error`) when already recording or the
    // header cannot be written.
    bool start(std::unique_ptr<RecordSink> sink, const recording::HeaderInfo& header, RecordLimits limits,
               std::string* error);
    // Takes no more sweeps, writes what is queued, closes the file. Returns
    // the final status (its reason is User unless the recording had stopped by itself).
    RecordStatus stop();
    RecordStatus status() const;
    // status(), after ending a recording whose duration is up even when no
    // sweep comes to notice it (acquisition stopped). GUI timer.
    RecordStatus poll();
    // The user's words for why a recording stopped.
    static std::string stopMessage(RecordStop reason);

    void onSweep(const SweepFrame& frame) override;

private:
    void writerLoop();
    void endLocked(RecordStop reason);

    const std::size_t depth_;
    std::unique_ptr<RecordSink> sink_;
    std::thread writer_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::vector<std::uint8_t>> pool_; // record buffers, allocated at start
    std::vector<std::size_t> free_;               // indices of free buffers (capacity = depth)
    std::vector<std::size_t> ready_;              // ring of queued buffers
    std::size_t readyHead_ = 0, readyCount_ = 0;
    std::size_t encoding_ = 0; // sweeps taken but not yet queued
    std::atomic<bool> active_{false};
    bool writerDone_ = true;
    std::uint8_t mask_ = 0;
    std::array<std::string, kChannels> sources_; // as the header names them ("" = not named)
    std::size_t recordBytes_ = 0;
    RecordLimits limits_;
    RecordStop reason_ = RecordStop::None;
    std::chrono::steady_clock::time_point startedAt_{};
    std::chrono::steady_clock::time_point endedAt_{};
    std::uint64_t sweeps_ = 0, queuedBytes_ = 0, written_ = 0, first_ = 0, last_ = 0;
};

} // namespace zelbo::scope
