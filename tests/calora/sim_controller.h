#pragma once
// A temperature controller on the far side of a pseudo-terminal pair, for
// tests. The library opens the slave side (its path goes into CALORA_PORT);
// a thread on the master side collects 8-byte request frames, checks their
// CRC, records them and answers through a scriptable responder. By default
// it behaves like a well-behaved controller: it stores written registers and
// echoes the request, and answers reads with the stored value.
//
// It shares no code with the library: its CRC is computed differently
// (table-driven), so that a mistake on one side is not mirrored on the other.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace calora_test {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t referenceCrc(const std::uint8_t* data, std::size_t size);
// The bytes followed by their CRC, low byte first.
Bytes withCrc(Bytes bytes);

struct Reply {
    Bytes bytes;                           // sent as they are; empty = silence
    std::chrono::milliseconds delay{0};    // before the bytes go out
};

class SimController {
public:
    using Responder = std::function<Reply(const Bytes& request, int index)>;

    SimController();
    ~SimController();
    SimController(const SimController&) = delete;
    SimController& operator=(const SimController&) = delete;

    const std::string& slavePath() const { return slavePath_; }

    // index counts the requests received so far, from 0.
    void setResponder(Responder responder);
    // What a well-behaved controller answers (also updates the registers).
    Reply normalReply(const Bytes& request);

    void setRegister(std::uint16_t reg, std::uint16_t value);
    std::uint16_t reg(std::uint16_t reg) const;

    std::vector<Bytes> requests() const;
    int badCrcCount() const { return badCrc_.load(); }
    void clearRequests();

private:
    void run();

    int master_ = -1;
    int slaveHolder_ = -1;
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    std::atomic<int> badCrc_{0};
    mutable std::mutex mutex_;
    Responder responder_;
    std::map<std::uint16_t, std::uint16_t> registers_;
    std::vector<Bytes> requests_;
    std::thread thread_;
};

// Redirects file descriptor 2 into a temporary file while it lives; lines()
// ends the capture and returns what was written, one entry per line.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::vector<std::string> lines();

private:
    void restore();
    int saved_ = -1;
    int file_ = -1;
};

} // namespace calora_test
