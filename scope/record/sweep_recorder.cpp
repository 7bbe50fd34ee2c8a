#include "scope/record/sweep_recorder.h"

#include "scope/scope_core.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelbo::scope {

recording::HeaderInfo recordingHeader(const ScopeCore& core, std::string started)
{
    recording::HeaderInfo h;
    h.mask = static_cast<std::uint8_t>(core.controlValue() & 0x0F);
    for (int n = 0; n < kChannels; ++n) {
        if (core.channelOn(n)) h.mask = static_cast<std::uint8_t>(h.mask | (1u << n));
        const ScopeChannel& c = core.channel(n);
        h.channels[static_cast<std::size_t>(n)] = {channelKey(n), c.label, c.unit, sourceText(core.source(n))};
    }
    h.timeBase = core.timeBaseText();
    h.samplingRate = core.samplingRateText();
    h.started = std::move(started);
    return h;
}

namespace {

class FileSink : public RecordSink {
public:
    explicit FileSink(std::FILE* f) : f_(f) {}
    ~FileSink() override
    {
        if (f_) std::fclose(f_);
    }
    bool write(const std::uint8_t* data, std::size_t size) override
    {
        return std::fwrite(data, 1, size, f_) == size;
    }
    bool close() override
    {
        const bool ok = std::fflush(f_) == 0;
        const bool closed = std::fclose(f_) == 0;
        f_ = nullptr;
        return ok && closed;
    }

private:
    std::FILE* f_;
};

} // namespace

std::unique_ptr<RecordSink> openFileSink(const std::string& path, std::string* error)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    // Large writes: the writer hands whole records over.
    std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
    return std::make_unique<FileSink>(f);
}

SweepRecorder::SweepRecorder(std::size_t queueDepth) : depth_(queueDepth < 2 ? 2 : queueDepth) {}

SweepRecorder::~SweepRecorder()
{
    stop();
}

std::string SweepRecorder::stopMessage(RecordStop reason)
{
    switch (reason) {
    case RecordStop::None: return {};
    case RecordStop::User: return "Recording stopped.";
    case RecordStop::Duration: return "Recording stopped: the set duration was reached.";
    case RecordStop::Size: return "Recording stopped: the set file size was reached.";
    case RecordStop::Overrun:
        return "Recording stopped: the disk could not keep up with the sweeps. "
               "Every sweep up to this point is in the file.";
    case RecordStop::WriteError: return "Recording stopped: the file could not be written (is the disk full?).";
    case RecordStop::SourceChanged:
        return "Recording stopped: a recorded channel's source changed, and the file's units would no longer hold. "
               "Every sweep up to this point is in the file.";
    }
    return {};
}

bool SweepRecorder::start(std::unique_ptr<RecordSink> sink, const recording::HeaderInfo& header,
                          RecordLimits limits, std::string* error)
{
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (!sink) return fail("no file to write to");
    std::unique_lock lk(mutex_);
    if (!writerDone_ || writer_.joinable()) {
        if (!writerDone_) return fail("a recording is already running");
        lk.unlock();
        writer_.join();
        lk.lock();
    }
    const std::uint8_t mask = header.mask & 0x0F;
    if (mask == 0) return fail("no channel to record");
    const std::vector<std::uint8_t> head = recording::encodeHeader(header);
    if (!sink->write(head.data(), head.size())) return fail("the file could not be written");

    sink_ = std::move(sink);
    mask_ = mask;
    for (std::size_t n = 0; n < kChannels; ++n) sources_[n] = header.channels[n].source;
    recordBytes_ = recording::recordBytes(mask);
    limits_ = limits;
    pool_.assign(depth_, std::vector<std::uint8_t>(recordBytes_));
    free_.clear();
    free_.reserve(depth_);
    for (std::size_t i = 0; i < depth_; ++i) free_.push_back(i);
    ready_.assign(depth_, 0);
    readyHead_ = readyCount_ = 0;
    reason_ = RecordStop::None;
    sweeps_ = first_ = last_ = 0;
    written_ = queuedBytes_ = head.size();
    startedAt_ = endedAt_ = std::chrono::steady_clock::now();
    writerDone_ = false;
    encoding_ = 0;
    active_.store(true);
    writer_ = std::thread([this] { writerLoop(); });
    return true;
}

void SweepRecorder::endLocked(RecordStop reason)
{
    if (!active_.load()) return;
    active_.store(false);
    reason_ = reason;
    endedAt_ = std::chrono::steady_clock::now();
    wake_.notify_all();
}

void SweepRecorder::onSweep(const SweepFrame& frame)
{
    if (!active_.load()) return;
    std::size_t slot;
    {
        std::lock_guard lk(mutex_);
        if (!active_.load()) return;
        const auto now = std::chrono::steady_clock::now();
        if (limits_.maxSeconds > 0 &&
            std::chrono::duration<double>(now - startedAt_).count() >= limits_.maxSeconds) {
            endLocked(RecordStop::Duration);
            return;
        }
        if (limits_.maxBytes > 0 && queuedBytes_ + recordBytes_ > limits_.maxBytes) {
            endLocked(RecordStop::Size);
            return;
        }
        if (free_.empty()) {
            endLocked(RecordStop::Overrun);
            return;
        }
        // The header names each channel's source and unit once, for every
        // record: a sweep of another quantity (a new SOURCE, a settings file
        // opened) ends the recording before it, rather than going in under
        // the wrong unit.
        for (std::size_t n = 0; n < kChannels; ++n)
            if ((mask_ & frame.channels & (1u << n)) && !sources_[n].empty() &&
                sources_[n] != sourceText(frame.sources[n])) {
                endLocked(RecordStop::SourceChanged);
                return;
            }
        slot = free_.back();
        free_.pop_back();
        // Taken: a stop from now on waits for this sweep to be queued, so
        // the file holds every sweep the status counts.
        ++encoding_;
    }
    // The buffer belongs to this thread until it is queued.
    recording::encodeRecord(frame, mask_, pool_[slot]);
    std::lock_guard lk(mutex_);
    --encoding_;
    ready_[(readyHead_ + readyCount_) % depth_] = slot;
    ++readyCount_;
    ++sweeps_;
    queuedBytes_ += recordBytes_;
    if (first_ == 0) first_ = frame.index;
    last_ = frame.index;
    wake_.notify_all();
}

void SweepRecorder::writerLoop()
{
    std::unique_lock lk(mutex_);
    bool failed = false;
    for (;;) {
        wake_.wait(lk, [&] { return readyCount_ > 0 || (!active_.load() && encoding_ == 0); });
        if (readyCount_ == 0) break; // stopped, drained, and no sweep half-taken
        const std::size_t slot = ready_[readyHead_];
        readyHead_ = (readyHead_ + 1) % depth_;
        --readyCount_;
        lk.unlock();
        const bool ok = failed || sink_->write(pool_[slot].data(), pool_[slot].size());
        lk.lock();
        free_.push_back(slot);
        if (!ok && !failed) {
            failed = true;
            endLocked(RecordStop::WriteError);
            reason_ = RecordStop::WriteError;
        }
        if (!failed) written_ += recordBytes_;
    }
    lk.unlock();
    const bool closed = sink_->close();
    lk.lock();
    if (!closed && !failed) reason_ = RecordStop::WriteError;
    writerDone_ = true;
}

RecordStatus SweepRecorder::stop()
{
    {
        std::lock_guard lk(mutex_);
        endLocked(RecordStop::User);
    }
    if (writer_.joinable()) writer_.join();
    std::lock_guard lk(mutex_);
    sink_.reset();
    RecordStatus s;
    s.finished = true;
    s.reason = reason_;
    s.sweeps = sweeps_;
    s.bytesWritten = written_;
    s.firstSweep = first_;
    s.lastSweep = last_;
    s.elapsedSeconds = std::chrono::duration<double>(endedAt_ - startedAt_).count();
    return s;
}

RecordStatus SweepRecorder::poll()
{
    {
        std::lock_guard lk(mutex_);
        if (active_.load() && limits_.maxSeconds > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count() >= limits_.maxSeconds)
            endLocked(RecordStop::Duration);
    }
    return status();
}

RecordStatus SweepRecorder::status() const
{
    std::lock_guard lk(mutex_);
    RecordStatus s;
    s.active = active_.load();
    s.finished = writerDone_;
    s.reason = reason_;
    s.sweeps = sweeps_;
    s.bytesWritten = written_;
    s.firstSweep = first_;
    s.lastSweep = last_;
    const auto end = s.active ? std::chrono::steady_clock::now() : endedAt_;
    s.elapsedSeconds = std::chrono::duration<double>(end - startedAt_).count();
    return s;
}

} // namespace zelbo::scope
