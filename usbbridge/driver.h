#pragma once
// The driver layer under the device-access layer: the request codes, the
// 38-byte transfer record, and the interface a backend implements. A backend
// is the kernel driver's stand-in on this platform: libusb-1.0 for real
// boards, the simulated board for tests and demos, or a scripted fake in unit
// tests. The device-access layer above speaks only in these requests and
// records, so everything above this line is the same code for every backend.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace usbbridge {

// Request codes.
namespace req {
constexpr std::uint32_t kDriverVersion = 0x220000;   // 4 bytes out
constexpr std::uint32_t kStackVersion = 0x220004;    // 4 bytes out
constexpr std::uint32_t kGetAltSetting = 0x220008;   // 1 byte out
constexpr std::uint32_t kSetAltSetting = 0x22000C;   // 1 byte in
constexpr std::uint32_t kUsbAddress = 0x220010;      // 1 byte out
constexpr std::uint32_t kControl = 0x220020;         // record + data, in and out the same buffer
constexpr std::uint32_t kBufferedXfer = 0x220024;    // record (+ packet table) + data
constexpr std::uint32_t kCyclePort = 0x220028;       // no buffer
constexpr std::uint32_t kSetTransferSize = 0x220038; // 5 bytes: address, u32 size
constexpr std::uint32_t kDeviceName = 0x22003C;      // 256 bytes out
constexpr std::uint32_t kFriendlyName = 0x220040;    // 256 bytes out
constexpr std::uint32_t kAbortPipe = 0x220044;       // 1 byte in: endpoint address
constexpr std::uint32_t kDirectXfer = 0x22004B;      // record in, caller's buffer out
constexpr std::uint32_t kBusSpeed = 0x22004C;        // 4 bytes out; 2 = high speed
} // namespace req

// Driver versions from this one on pass bulk data without copying (direct mode).
constexpr std::uint32_t kDirectModeDriverVersion = 0x01050500;
// What our own backends report.
constexpr std::uint32_t kOurDriverVersion = 0x01060000;

// System error codes a submitted request can report.
constexpr std::uint32_t kErrorNone = 0;
constexpr std::uint32_t kErrorIoPending = 997;
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorNoDevice = 1167;

// The record every transfer request carries: packed, little-endian, 38 bytes.
struct TransferRecord {
    static constexpr std::size_t kSize = 38;

    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
    std::uint32_t timeoutSeconds = 0;
    std::uint8_t reserved = 0;
    std::uint8_t endpointAddress = 0;
    std::uint32_t ntStatus = 0;
    std::uint32_t usbdStatus = 0;
    std::uint32_t isoPacketOffset = 0;
    std::uint32_t isoPacketLength = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t dataLength = 0;

    void store(std::uint8_t* out) const;
    static TransferRecord load(const std::uint8_t* in);
};

// Little-endian helpers shared by the layer and the backends.
inline void putU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t getU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t getU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// USBD status values a backend writes into the record.
constexpr std::uint32_t kUsbdStall = 0xC0000004;
constexpr std::uint32_t kUsbdCanceled = 0xC0010000;
constexpr std::uint32_t kUsbdError = 0xC0000011;
constexpr std::uint32_t kUsbdDeviceGone = 0xC0007000;
constexpr std::uint32_t kNtUnsuccessful = 0xC0000001;
constexpr std::uint32_t kNtCancelled = 0xC0000120;
constexpr std::uint32_t kNtNoSuchDevice = 0xC000000E;

using DriverHandle = int;
constexpr DriverHandle kInvalidHandle = -1;

// A submitted (overlapped) request: the stand-in for the event and the
// overlapped structure. The buffers given to submit() must stay alive until
// wait() has returned true.
class PendingRequest {
public:
    virtual ~PendingRequest() = default;
    // True once the request has completed; false when timeoutMs passed first.
    // UINT32_MAX waits without limit.
    virtual bool wait(std::uint32_t timeoutMs) = 0;
    // The overlapped result, without waiting: false when the request failed
    // at the driver level; `bytes` is the reported byte count (for buffered
    // and control requests it includes the 38-byte record).
    virtual bool result(std::uint32_t& bytes) = 0;
};

// A request that was carried out before its submission returned. It can
// still report one time-out first, so that the caller's abort path runs as it
// does when a transfer on hardware times out (the simulated board's time-outs,
// scripted drivers in tests).
class CompletedRequest final : public PendingRequest {
public:
    CompletedRequest(bool ok, std::uint32_t bytes, bool timedOut) : ok_(ok), bytes_(bytes), timedOut_(timedOut) {}
    bool wait(std::uint32_t) override
    {
        if (timedOut_) {
            timedOut_ = false;
            return false;
        }
        return true;
    }
    bool result(std::uint32_t& bytes) override
    {
        bytes = ok_ ? bytes_ : 0;
        return ok_;
    }

private:
    bool ok_;
    std::uint32_t bytes_;
    bool timedOut_;
};

struct Submission {
    std::uint32_t error = kErrorNone; // 0 completed at once, 997 pending, else failed
    std::unique_ptr<PendingRequest> pending;
};

class Driver {
public:
    virtual ~Driver() = default;

    // Present devices of the class.
    virtual unsigned deviceCount() = 0;
    // A value that identifies the n-th present device for as long as it stays
    // enumerated; it changes when the device drops off the bus and comes back
    // (0 when there is no such device).
    virtual std::uint64_t deviceInstance(unsigned n) = 0;
    // Opens the n-th present device; kInvalidHandle on failure. `path` gets
    // the interface path.
    virtual DriverHandle open(unsigned n, std::string& path) = 0;
    virtual bool close(DriverHandle h) = 0;

    // Synchronous request: `buf` is input (inLen bytes) and output (room for
    // outLen bytes) at once; `returned` is the byte count written back.
    virtual bool ioctl(DriverHandle h, std::uint32_t code, std::uint8_t* buf, std::size_t inLen,
                       std::size_t outLen, std::uint32_t& returned) = 0;

    // Overlapped transfer request (kControl, kBufferedXfer, kDirectXfer). `in`
    // holds the record (and data behind it); for kDirectXfer `out` is the
    // caller's data buffer, otherwise out == in. `waitHintMs` is how long the
    // layer is going to wait; backends that cannot complete asynchronously use
    // it as the transfer's own limit.
    virtual Submission submit(DriverHandle h, std::uint32_t code, std::uint8_t* in, std::size_t inLen,
                              std::uint8_t* out, std::size_t outLen, std::uint32_t waitHintMs) = 0;
};

// The backend for this process: the simulated board when ZELBO_BOARD is
// "sim", libusb otherwise, narrowed to one board when ZELBO_USB_BOARD names
// it. The library makes it once, at load, and destroys it at unload after
// the device that uses it (never in a static destructor, which exit would
// run before the unload hook).
std::unique_ptr<Driver> makeSystemDriver();

// `board` empty: every board of the class, in bus and port order. Otherwise
// only the board whose USB path (the kernel's name for its port, "1-4.2")
// or serial number (its sysfs "serial") it is; the board is then followed
// by its port, where it comes back without its serial (a bare FX2 before
// its firmware, a re-enumeration).
std::unique_ptr<Driver> makeLibusbDriver(std::string board = {});
// Null when the library was built without the simulated board.
std::unique_ptr<Driver> makeSimDriver();

} // namespace usbbridge
