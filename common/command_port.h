#pragma once
// The narrow port through which every feature reaches the board: register
// writes, read requests, block writes, the write-done wait and vendor requests.
// Feature cores (drive, scope, thermal) know registers and values only; the
// FPGA link implements this port, tests use a recording fake. It lives beside
// the cores, not in the link, so that they depend on it alone.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zelbo {

// Class byte of a register write: ordinary (pins, DACs, clock, pattern and
// sequencer) or scope (the acquisition registers 0x70..0x7B).
enum class WriteClass : std::uint8_t { Ordinary = 0, Scope = 1 };

struct VendorReply {
    bool ok = false;                    // first reply byte non-zero
    std::array<std::uint8_t, 8> bytes{}; // the reply bytes (zero beyond what arrived)
};

class CommandPort {
public:
    virtual ~CommandPort() = default;

    // Appends a register write and wakes the reader, which sends it.
    virtual void queueWrite(std::uint8_t reg, std::uint8_t value,
                            WriteClass cls = WriteClass::Ordinary) = 0;
    // The same without waking the reader (for callers that flush themselves).
    virtual void queueWriteQuiet(std::uint8_t reg, std::uint8_t value,
                                 WriteClass cls = WriteClass::Ordinary) = 0;
    // Appends a register read request; the answer comes back as a record.
    virtual void queueRead(std::uint8_t reg) = 0;
    // Queues one block write (n <= 503 bytes) for the reader to send.
    virtual void queueBlock(std::uint8_t target, std::uint16_t start, const std::uint8_t* data,
                            std::size_t n) = 0;
    // Sends the pending buffer now, in the calling thread: 0 sent (or nothing
    // to send), 1 failed.
    virtual int flushCommands() = 0;
    // Waits for the write-done event; false on time-out (callers go on silently).
    virtual bool waitWriteDone(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) = 0;
    // A device-to-host vendor request with index 0xBEEF.
    virtual VendorReply vendorRequest(std::uint8_t request, std::uint16_t value, int length) = 0;
    // The short pauses the board needs between writes of a sequence. The link
    // sleeps; test fakes record the pause and return at once.
    virtual void pause(std::chrono::milliseconds ms) = 0;
};

} // namespace zelbo

// The link's own spelling, used throughout the cores.
namespace zelbo::link {
using zelbo::CommandPort;
using zelbo::VendorReply;
using zelbo::WriteClass;
} // namespace zelbo::link
