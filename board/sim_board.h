#pragma once
// The simulated evaluation board: an FX2 USB bridge and an FPGA around the
// driver IC, seen from the wire. This header is the board's whole public
// surface. It deliberately includes nothing from the host side: the board
// speaks USB transfers and bytes only.
//
// One board exists per process (Board::instance()). The bridge library's
// simulated driver backend talks to it through the USB-facing surface; tests
// reach the same instance to inspect and steer it. Every member is thread-safe.

#include <cstddef>
#include <cstdint>

#define SIMBOARD_API __attribute__((visibility("default")))

namespace simboard {

// A USB SETUP packet, fields in host byte order.
struct Setup {
    std::uint8_t bmRequestType = 0; // bit 7: 1 = device-to-host
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
};

enum class Result {
    Ok,       // completed; `length` bytes moved
    Stall,    // the endpoint stalled (unknown or refused request)
    Timeout,  // nothing happened within the time-out
    Error,    // the transfer failed on the bus
    NoDevice, // the board is not on the bus (absent, or re-enumerating)
};

struct Transfer {
    Result result = Result::NoDevice;
    std::size_t length = 0;
};

class SIMBOARD_API Board {
public:
    static Board& instance();

    // ---- USB-facing surface: what a USB driver layer sees -------------------

    // True while the board is attached to the bus.
    bool present() const;
    // Counts enumerations: it changes whenever the board (re-)enumerates, and
    // the device address changes with it, as on a real bus.
    std::uint32_t enumerationCount() const;
    std::uint8_t deviceAddress() const;

    // A control transfer on endpoint 0. For device-to-host requests `data`
    // receives up to wLength bytes; for host-to-device ones it holds wLength
    // bytes. Standard GET_DESCRIPTOR (device, configuration, string) and
    // SET_CONFIGURATION/SET_INTERFACE are answered as the current firmware
    // state presents them; vendor requests as the FX2 loader (0xA0) or the
    // running firmware defines them; anything else stalls.
    Transfer control(const Setup& setup, std::uint8_t* data, unsigned timeoutMs);

    // Bulk transfers on the running firmware's endpoints (0x04 OUT, 0x82 IN,
    // 0x86 IN, 0x88 IN). Reads of 0x82 return one 512-byte response block
    // (whole blocks while `length` has room for them; a read shorter than 512
    // bytes fails with Error and leaves the block queued). An endpoint with
    // nothing to give, or one that cannot take data, NAKs: the transfer ends
    // with Timeout after `timeoutMs`. A time-out of 0 waits without limit, as
    // in libusb, until data comes, the endpoint is aborted (Error) or the
    // board leaves the bus (NoDevice).
    Transfer bulkOut(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length,
                     unsigned timeoutMs);
    Transfer bulkIn(std::uint8_t endpoint, std::uint8_t* data, std::size_t length,
                    unsigned timeoutMs);

    // Cancels whatever waits on the endpoint (the driver's abort after a time-out).
    void abortEndpoint(std::uint8_t endpoint);

    // The host resets/cycles the port: the board drops off the bus and comes
    // back; it then runs the firmware if a complete image was loaded and the
    // 8051 released, and is a bare FX2 otherwise.
    void cyclePort();

    // ---- Steering and inspection for tests: simboard::Control in
    // board/sim_board_test.h.

    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

private:
    Board();
    ~Board();
    struct Impl;
    Impl* impl_;
    friend class Control;
};

} // namespace simboard
