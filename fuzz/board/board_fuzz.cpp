// Feeds the simulated board arbitrary host traffic: bulk OUT transfers on EP4
// (command frames or image bytes), vendor and standard requests, reads, port
// cycles, and the scope front end armed with arbitrary settings while the
// device under test runs. The board must neither crash, hang nor read past a
// buffer.
//
// Input: byte 0 picks the starting state (bare, firmware running, FPGA
// configured); then a sequence of operations, each an opcode byte followed by
// its operands, cut wherever the input ends.

#include "board/sim_board.h"
#include "board/sim_board_test.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

struct Reader {
    const std::uint8_t* p;
    std::size_t n;
    bool empty() const { return n == 0; }
    std::uint8_t byte()
    {
        if (!n) return 0;
        --n;
        return *p++;
    }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    std::vector<std::uint8_t> bytes(std::size_t len)
    {
        len = std::min(len, n);
        std::vector<std::uint8_t> out(p, p + len);
        p += len;
        n -= len;
        return out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace simboard;
    Control ctl;
    ctl.reset();
    ctl.setBusTiming(false);
    ctl.setVirtualTime(true);
    ctl.setTimeoutLimit(std::chrono::milliseconds(0));
    Board& b = Board::instance();

    Reader in{data, size};
    const std::uint8_t start = in.byte();
    if (start & 1) ctl.startFirmware();
    if (start & 2) ctl.configureFpga();
    if (start & 4) b.control(Setup{0xC0, 0xB5, 0, 0xBEEF, 1}, std::array<std::uint8_t, 1>{}.data(), 100);

    std::vector<std::uint8_t> buf(4096);
    int ops = 0;
    while (!in.empty() && ++ops < 256) {
        switch (in.byte() % 9) {
        case 0:
        case 1: { // bulk OUT on EP4: length then bytes
            const auto bytes = in.bytes(in.word() % 2048);
            b.bulkOut(0x04, bytes.data(), bytes.size(), 10);
            break;
        }
        case 2: { // vendor request, either direction
            Setup s;
            s.bmRequestType = static_cast<std::uint8_t>(in.byte() & 0x80) | 0x40;
            s.bRequest = in.byte();
            s.wValue = in.word();
            s.wIndex = 0xBEEF;
            s.wLength = static_cast<std::uint16_t>(in.word() % buf.size());
            const auto payload = in.bytes(s.bmRequestType & 0x80 ? 0 : s.wLength);
            std::fill(buf.begin(), buf.end(), 0);
            std::copy(payload.begin(), payload.end(), buf.begin());
            b.control(s, buf.data(), 100);
            break;
        }
        case 3: { // any control request
            Setup s;
            s.bmRequestType = in.byte();
            s.bRequest = in.byte();
            s.wValue = in.word();
            s.wIndex = in.word();
            s.wLength = static_cast<std::uint16_t>(in.word() % buf.size());
            b.control(s, buf.data(), 100);
            break;
        }
        case 4: { // bulk IN on any endpoint, any length
            const std::uint8_t ep = in.byte();
            const std::size_t len = in.word() % buf.size();
            b.bulkIn(ep, buf.data(), len, 10);
            break;
        }
        case 5: { // image path: switch EP4 to it, pulse nCONFIG, send a chunk code
            const std::uint8_t req[3] = {0xB1, 0xB9, 0xB4};
            Setup s{0xC0, req[in.byte() % 3], in.byte(), 0xBEEF, 2};
            b.control(s, buf.data(), 100);
            break;
        }
        case 6:
            b.cyclePort();
            break;
        case 7:
            ctl.advanceTime(std::chrono::microseconds(in.word()));
            break;
        default: { // the DUT powered in some mode and the scope armed: every scope register from the input
            std::vector<std::uint8_t> f;
            auto write = [&](std::uint8_t reg, std::uint8_t value, std::uint8_t cls) {
                f.insert(f.end(), {cls, 0, 0, 0, reg, value});
            };
            const std::uint8_t pins = in.byte();
            write(1, 0xE3, 0);
            const std::uint8_t lowRegister[5] = {36, 32, 38, 40, 23}; // ENABLE, CW, MODE0, MODE1, VREF
            const std::uint8_t channel[5] = {129, 130, 131, 128, 133};
            for (int i = 0; i < 5; ++i) {
                const std::uint16_t code = i == 4 ? std::uint16_t(in.byte() * 16) : ((pins >> i) & 1 ? 2500 : 0);
                write(lowRegister[i], std::uint8_t(code & 0xFF), 0);
                write(std::uint8_t(lowRegister[i] + 1), std::uint8_t(code >> 8), 0);
                write(26, channel[i], 0);
            }
            for (std::uint8_t reg = 0x71; reg <= 0x7B; ++reg) write(reg, in.byte(), 1);
            write(0x70, in.byte(), 1);
            b.bulkOut(0x04, f.data(), f.size(), 10);
            break;
        }
        }
    }
    return 0;
}
