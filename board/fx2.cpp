#include "board/fx2.h"

#include "board/usb_descriptors.h"

#include <algorithm>
#include <cstring>

namespace simboard {
namespace {

constexpr std::uint16_t kCpucs = 0xE600;
constexpr std::uint8_t kAck = 0x01;
// The firmware version request 0xBC answers: major, minor.
constexpr std::uint8_t kFirmwareVersion[2] = {2, 0};
// EP2 is double-buffered: at most two response blocks sit in the FX2, the
// rest wait in the FPGA.
constexpr std::size_t kEp2Buffers = 2;

Transfer ok(std::size_t n) { return {Result::Ok, n}; }
Transfer stall() { return {Result::Stall, 0}; }

// Sends `reply` as the data stage of a device-to-host request, cut to wLength.
Transfer reply(const Setup& s, std::uint8_t* data, const std::uint8_t* bytes, std::size_t n)
{
    if (!(s.bmRequestType & 0x80)) return ok(s.wLength); // host-to-device: data taken
    n = std::min<std::size_t>(n, s.wLength);
    if (n && data) std::memcpy(data, bytes, n);
    return ok(n);
}

} // namespace

Fx2::Fx2(Fpga& fpga, EventLog& log) : fpga_(fpga), log_(log)
{
    powerUp();
}

void Fx2::powerUp()
{
    ram_.fill(0);
    scratch_.fill(0);
    cpuHeld_ = true;
    loadedWhileHeld_ = false;
    imageReady_ = false;
    running_ = false;
    configuration_ = 1;
    ioa_ = 0;
    iod_ = 0;
    nakAll_ = false;
    ep4Interrupt_ = false;
    ep4Held_ = false;
    chunkCode_ = 0;
    statusPolls_ = 0;
}

void Fx2::enumerate()
{
    const bool wasRunning = running_;
    running_ = imageReady_ && !cpuHeld_;
    configuration_ = 1; // the host's USB stack selects the only configuration
    if (running_ && !wasRunning) {
        // Firmware start-up: FIFOs to the FPGA, port D idle.
        iod_ = 0xC0;
        nakAll_ = false;
        ep4Interrupt_ = false;
        ep4Held_ = false;
        chunkCode_ = 0;
    }
}

void Fx2::forceRunning()
{
    cpuHeld_ = false;
    loadedWhileHeld_ = false;
    imageReady_ = true;
    running_ = false;
    enumerate();
}

std::uint8_t Fx2::portD() const
{
    return static_cast<std::uint8_t>((iod_ & ~0x18) | (fpga_.nStatus() ? 0x08 : 0) | (fpga_.confDone() ? 0x10 : 0));
}

// ---- Endpoint 0 ------------------------------------------------------------

Transfer Fx2::control(const Setup& s, std::uint8_t* data)
{
    switch ((s.bmRequestType >> 5) & 3) {
    case 0: return standardRequest(s, data);
    case 2: break;
    default: return stall();
    }
    if (s.bRequest != 0xFD) {
        LogEvent e;
        e.kind = LogEvent::Kind::VendorRequest;
        e.timeNs = fpga_.nowNs();
        e.code = s.bRequest;
        e.value = s.wValue;
        log_.add(e);
    } else {
        ++statusPolls_;
    }
    int& st = stalls[s.bRequest];
    if (st != 0) {
        if (st > 0) --st;
        return stall();
    }
    if (s.bRequest == 0xA0) return firmwareLoad(s, data); // the chip itself answers 0xA0
    if (!running_ || cpuHeld_) return stall();            // no firmware executing
    return vendorRequest(s, data);
}

Transfer Fx2::standardRequest(const Setup& s, std::uint8_t* data)
{
    const auto& set = running_ ? usb::firmwareDescriptors() : usb::bareDescriptors();
    switch (s.bRequest) {
    case 0x00: { // GET_STATUS
        const std::uint8_t status[2] = {0, 0};
        return reply(s, data, status, 2);
    }
    case 0x01: // CLEAR_FEATURE
    case 0x03: // SET_FEATURE
    case 0x05: // SET_ADDRESS (the host controller's business)
        return ok(0);
    case 0x06: { // GET_DESCRIPTOR
        if (!(s.bmRequestType & 0x80)) return stall();
        auto d = usb::find(set, s.wValue);
        if (d.empty()) return stall();
        return reply(s, data, d.data(), d.size());
    }
    case 0x08: // GET_CONFIGURATION
        return reply(s, data, &configuration_, 1);
    case 0x09: // SET_CONFIGURATION
        if (s.wValue > 1) return stall();
        configuration_ = static_cast<std::uint8_t>(s.wValue);
        return ok(0);
    case 0x0A: { // GET_INTERFACE
        const std::uint8_t alt = 0;
        return reply(s, data, &alt, 1);
    }
    case 0x0B: // SET_INTERFACE: interface 0 has alternate setting 0 only
        return (s.wIndex == 0 && s.wValue == 0) ? ok(0) : stall();
    default:
        return stall();
    }
}

Transfer Fx2::firmwareLoad(const Setup& s, std::uint8_t* data)
{
    if (s.bmRequestType & 0x80) { // upload: read memory back
        std::size_t n = s.wLength;
        for (std::size_t i = 0; i < n && data; ++i) data[i] = peekByte(static_cast<std::uint16_t>(s.wValue + i));
        return ok(n);
    }
    if (s.wLength && !data) return {Result::Error, 0};
    for (std::size_t i = 0; i < s.wLength; ++i) {
        const std::size_t a = std::size_t(s.wValue) + i;
        if (a > 0xFFFF) break;
        pokeByte(static_cast<std::uint16_t>(a), data[i]);
    }
    return ok(s.wLength);
}

void Fx2::pokeByte(std::uint16_t a, std::uint8_t v)
{
    if (a < ram_.size()) {
        ram_[a] = v;
        if (cpuHeld_) loadedWhileHeld_ = true;
    } else if (a >= 0xE000 && a < 0xE200) {
        scratch_[a - 0xE000] = v;
    } else if (a == kCpucs) {
        const bool hold = v & 0x01;
        if (hold) {
            cpuHeld_ = true;
        } else if (cpuHeld_) {
            cpuHeld_ = false;
            if (loadedWhileHeld_) imageReady_ = downloadTakes;
            loadedWhileHeld_ = false;
        }
    }
}

std::uint8_t Fx2::peekByte(std::uint16_t a) const
{
    if (a < ram_.size()) return ram_[a];
    if (a >= 0xE000 && a < 0xE200) return scratch_[a - 0xE000];
    if (a == kCpucs) return cpuHeld_ ? 0x01 : 0x00;
    return 0;
}

std::vector<std::uint8_t> Fx2::memory(std::uint16_t address, std::size_t n) const
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < n && address + i <= 0xFFFF; ++i)
        out.push_back(peekByte(static_cast<std::uint16_t>(address + i)));
    return out;
}

Transfer Fx2::vendorRequest(const Setup& s, std::uint8_t* data)
{
    const auto lo = static_cast<std::uint8_t>(s.wValue & 0xFF);
    switch (s.bRequest) {
    case 0x20: {
        const bool full = fpga_.blocksWaiting() > 0;
        const std::uint8_t r[2] = {0x00, static_cast<std::uint8_t>(full ? 0x02 : 0x00)}; // 512 or 0
        return reply(s, data, r, 2);
    }
    case 0xB0: // FIFOs and interface back to the FPGA path
        ep4Interrupt_ = false;
        return reply(s, data, &kAck, 1);
    case 0xB1: // EP4 packets go out on port D as image bits
        ep4Interrupt_ = true;
        return reply(s, data, &kAck, 1);
    case 0xB2:
        ioa_ |= 0x10;
        return reply(s, data, &kAck, 1);
    case 0xB3: {
        const std::uint8_t bit = (portA() >> 1) & 1;
        return reply(s, data, &bit, 1);
    }
    case 0xB4: {
        chunkCode_ = lo;
        const std::uint8_t r[2] = {kAck, lo};
        return reply(s, data, r, 2);
    }
    case 0xB5: {
        if (s.wValue == 1) ioa_ &= static_cast<std::uint8_t>(~0x80);
        if (s.wValue == 0) ioa_ |= 0x80;
        fpga_.setHostReady(ioa_ & 0x80);
        const std::uint8_t a = portA();
        return reply(s, data, &a, 1);
    }
    case 0xB7:
        return reply(s, data, &lo, 1);
    case 0xB9:
        iod_ &= 0x7F;
        fpga_.pulseNConfig();
        iod_ |= 0x80;
        return reply(s, data, &kAck, 1);
    case 0xBA: {
        const std::uint8_t d = portD();
        const std::uint8_t r[2] = {static_cast<std::uint8_t>((d >> 3) & 1), static_cast<std::uint8_t>((d >> 4) & 1)};
        return reply(s, data, r, 2);
    }
    case 0xBB:
        return reply(s, data, &kAck, 1);
    case 0xBC:
        return reply(s, data, kFirmwareVersion, 2);
    case 0xD0:
        nakAll_ = true;
        return ok(0);
    case 0xD1:
        nakAll_ = false;
        return ok(0);
    case 0xFD: {
        // Byte 0: at least one block waits (EP2 not empty); byte 1 the
        // register, whose EP2 FULL bit means both buffers hold one.
        const bool waiting = fpga_.blocksWaiting() > 0;
        const std::uint8_t r[6] = {static_cast<std::uint8_t>(waiting ? 1 : 0), ep2468stat(), ep2cs(), ep4cs(),
                                   static_cast<std::uint8_t>(waiting ? 0x02 : 0x00), 0x00};
        return reply(s, data, r, 6);
    }
    default:
        return stall();
    }
}

// ---- FIFO endpoints --------------------------------------------------------

bool Fx2::ep4Empty()
{
    if (ep4Held_ && fpga_.state() == FpgaState::Configured) ep4Held_ = false; // stale bytes flushed
    return !neverAccept && !ep4Held_;
}

std::uint8_t Fx2::ep2468stat()
{
    const std::size_t packets = std::min(fpga_.blocksWaiting(), kEp2Buffers);
    std::uint8_t v = 0x50; // EP6 and EP8 empty
    if (packets == 0) v |= 0x01;
    if (packets == kEp2Buffers) v |= 0x02;
    v |= ep4Empty() ? 0x04 : 0x08;
    return v;
}

std::uint8_t Fx2::ep2cs() const
{
    const std::size_t n = std::min(fpga_.blocksWaiting(), kEp2Buffers);
    return static_cast<std::uint8_t>((n << 4) | (n == 0 ? 0x04 : 0) | (n == kEp2Buffers ? 0x08 : 0));
}

std::uint8_t Fx2::ep4cs()
{
    return ep4Empty() ? 0x04 : 0x28; // EMPTY, or both buffers held (FULL)
}

Fx2::Io Fx2::bulkOut(std::uint8_t ep, const std::uint8_t* data, std::size_t n)
{
    if (!running_ || ep != 0x04) return Io::Error;
    if (nakAll_) return Io::Nak;
    if (n && !data) return Io::Error;
    if (ep4Interrupt_) {
        fpga_.shiftImage(data, n, chunkCode_);
        iod_ = 0xC0;
        return Io::Done;
    }
    if (!ep4Empty()) return Io::Nak;
    if (fpga_.state() == FpgaState::Configured) {
        fpga_.commandBytes(data, n);
    } else if (n) {
        ep4Held_ = true; // nobody drains the FIFO
    }
    return Io::Done;
}

Fx2::Io Fx2::bulkIn(std::uint8_t ep, std::uint8_t* data, std::size_t n, std::size_t& got)
{
    got = 0;
    if (!running_ || (ep != 0x82 && ep != 0x86 && ep != 0x88)) return Io::Error;
    if (nakAll_ || ep != 0x82) return Io::Nak;
    if (fpga_.blocksWaiting() == 0) return Io::Nak;
    if (n < Fpga::kBlockSize || !data) return Io::Error; // the packet would overflow the buffer
    while (n - got >= Fpga::kBlockSize && fpga_.popBlock(data + got)) got += Fpga::kBlockSize;
    return Io::Done;
}

} // namespace simboard
