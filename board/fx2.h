#pragma once
// The FX2 USB bridge: endpoint 0 (standard requests, the chip's own
// firmware-load request 0xA0, the board firmware's vendor requests), the
// 8051's RAM and reset, ports A and D towards the FPGA, and the FIFO
// endpoints. Timing, faults of the bus and waiting live in the board around it.

#include "board/event_log.h"
#include "board/fpga.h"
#include "board/sim_board.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace simboard {

class Fx2 {
public:
    enum class Io { Done, Nak, Error };

    Fx2(Fpga& fpga, EventLog& log);

    void powerUp();
    // The port was cycled: the chip enumerates again, running the firmware if
    // a complete image was loaded and released, bare otherwise.
    void enumerate();
    void forceRunning();

    Transfer control(const Setup& setup, std::uint8_t* data);
    Io bulkOut(std::uint8_t ep, const std::uint8_t* data, std::size_t n);
    Io bulkIn(std::uint8_t ep, std::uint8_t* data, std::size_t n, std::size_t& got);

    bool running() const { return running_; }
    bool cpuHeld() const { return cpuHeld_; }
    std::uint8_t portA() const { return static_cast<std::uint8_t>(ioa_ | (scopeCapable ? 0x02 : 0x00)); }
    std::uint8_t portD() const;
    bool nakAll() const { return nakAll_; }
    std::vector<std::uint8_t> memory(std::uint16_t address, std::size_t n) const;
    std::uint64_t statusPolls() const { return statusPolls_; }

    // Settings and faults.
    bool downloadTakes = true;
    bool scopeCapable = true;
    bool neverAccept = false;
    std::array<int, 256> stalls{}; // per request: 0 none, -1 always, n the next n times

private:
    Transfer standardRequest(const Setup& s, std::uint8_t* data);
    Transfer firmwareLoad(const Setup& s, std::uint8_t* data);
    Transfer vendorRequest(const Setup& s, std::uint8_t* data);
    bool ep4Empty();
    std::uint8_t ep2468stat();
    std::uint8_t ep2cs() const;
    std::uint8_t ep4cs();
    void pokeByte(std::uint16_t address, std::uint8_t value);
    std::uint8_t peekByte(std::uint16_t address) const;

    Fpga& fpga_;
    EventLog& log_;

    std::array<std::uint8_t, 0x4000> ram_{};    // program and data RAM
    std::array<std::uint8_t, 0x200> scratch_{}; // 0xE000..0xE1FF
    bool cpuHeld_ = true;
    bool loadedWhileHeld_ = false; // RAM written since the 8051 was last held
    bool imageReady_ = false;      // a loaded image was released
    bool running_ = false;         // enumerated with the board firmware
    std::uint8_t configuration_ = 0;

    std::uint8_t ioa_ = 0;    // port A outputs (bits 7 and 4)
    std::uint8_t iod_ = 0;    // port D outputs
    bool nakAll_ = false;
    bool ep4Interrupt_ = false; // EP4 packets are shifted out to the FPGA as image bits
    bool ep4Held_ = false;      // EP4 holds a packet the FPGA cannot take
    std::uint8_t chunkCode_ = 0;
    std::uint64_t statusPolls_ = 0;
};

} // namespace simboard
