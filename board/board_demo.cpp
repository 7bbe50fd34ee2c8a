// zelbo-board-demo: brings the simulated board up through its USB-facing
// surface, the way the bridge and the link do it, and tells what happens.

#include "board/sim_board.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using simboard::Board;
using simboard::Result;
using simboard::Setup;

namespace {

constexpr unsigned kTimeoutMs = 1500;
constexpr std::uint16_t kBoardIndex = 0xBEEF;

const char* name(Result r)
{
    switch (r) {
    case Result::Ok: return "ok";
    case Result::Stall: return "stall";
    case Result::Timeout: return "time-out";
    case Result::Error: return "error";
    case Result::NoDevice: return "no device";
    }
    return "?";
}

std::vector<std::uint8_t> getDescriptor(Board& b, std::uint16_t wValue, std::uint16_t wIndex = 0)
{
    std::vector<std::uint8_t> buf(255);
    const Setup s{0x80, 6, wValue, wIndex, static_cast<std::uint16_t>(buf.size())};
    const auto t = b.control(s, buf.data(), kTimeoutMs);
    buf.resize(t.result == Result::Ok ? t.length : 0);
    return buf;
}

std::string stringDescriptor(Board& b, std::uint8_t index)
{
    if (index == 0) return "(none)";
    const auto d = getDescriptor(b, static_cast<std::uint16_t>(0x0300 | index), 0x0409);
    std::string s;
    for (std::size_t i = 2; i + 1 < d.size(); i += 2) s += static_cast<char>(d[i]);
    return '"' + s + '"';
}

void describe(Board& b)
{
    const auto dev = getDescriptor(b, 0x0100);
    if (dev.size() < 18) {
        std::printf("  device descriptor unreadable\n");
        return;
    }
    std::printf("  address %u, ID %02X%02X:%02X%02X, manufacturer %s, product %s\n", b.deviceAddress(), dev[9],
                dev[8], dev[11], dev[10], stringDescriptor(b, dev[14]).c_str(), stringDescriptor(b, dev[15]).c_str());
    const auto cfg = getDescriptor(b, 0x0200);
    std::string eps;
    for (std::size_t i = 0; i + 1 < cfg.size() && cfg[i] >= 2; i += cfg[i]) {
        if (cfg[i + 1] == 5 && i + 6 < cfg.size()) {
            char e[32];
            std::snprintf(e, sizeof e, " 0x%02X/%u", cfg[i + 2], cfg[i + 4] | (cfg[i + 5] << 8));
            eps += e;
        }
    }
    std::printf("  endpoints:%s\n", eps.empty() ? " (none)" : eps.c_str());
}

// A device-to-host vendor request as the link sends it.
std::vector<std::uint8_t> vendor(Board& b, std::uint8_t request, std::uint16_t value, std::uint16_t length)
{
    std::vector<std::uint8_t> reply(length, 0);
    const Setup s{0xC0, request, value, kBoardIndex, length};
    const auto t = b.control(s, reply.data(), kTimeoutMs);
    if (t.result != Result::Ok) std::printf("  request 0x%02X: %s\n", request, name(t.result));
    return reply;
}

bool loadRam(Board& b, std::uint16_t address, const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> copy = bytes;
    const Setup s{0x40, 0xA0, address, 0, static_cast<std::uint16_t>(copy.size())};
    return b.control(s, copy.data(), kTimeoutMs).result == Result::Ok;
}

bool bulkWrite(Board& b, const std::vector<std::uint8_t>& bytes)
{
    const auto t = b.bulkOut(0x04, bytes.data(), bytes.size(), kTimeoutMs);
    return t.result == Result::Ok;
}

void readResponses(Board& b)
{
    for (;;) {
        const auto st = vendor(b, 0xFD, 1, 6);
        if (st[0] == 0) break;
        std::uint8_t block[512];
        const auto t = b.bulkIn(0x82, block, sizeof block, kTimeoutMs);
        if (t.result != Result::Ok) {
            std::printf("  response read: %s\n", name(t.result));
            return;
        }
        for (std::size_t off = 0; off + 6 <= sizeof block && block[off + 1] != 0; off += 6) {
            if (block[off + 1] == 0x01) std::printf("  <- Hardware Ready\n");
            else if (block[off + 1] == 0x40)
                std::printf("  <- register 0x%02X reads 0x%02X\n", block[off + 4], block[off + 5]);
            else std::printf("  <- record 0x%02X\n", block[off + 1]);
        }
    }
}

std::filesystem::path ownFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : exe.parent_path();
}

} // namespace

int main()
{
    Board& b = Board::instance();
    std::printf("Board %s the bus (enumeration %u)\n", b.present() ? "is on" : "is not on", b.enumerationCount());
    describe(b);

    std::printf("Loading firmware with request 0xA0\n");
    std::vector<std::uint8_t> firmware(2933);
    for (std::size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<std::uint8_t>(i * 7 + 3);
    bool loaded = loadRam(b, 0xE600, {1});
    for (std::size_t off = 0; off < firmware.size(); off += 16) {
        const auto end = std::min(firmware.size(), off + 16);
        loaded &= loadRam(b, static_cast<std::uint16_t>(off), {firmware.begin() + long(off), firmware.begin() + long(end)});
    }
    loaded &= loadRam(b, 0xE600, {0});
    std::printf("  %zu bytes %s, 8051 released\n", firmware.size(), loaded ? "written" : "NOT written");
    b.cyclePort();
    std::printf("Port cycled: enumeration %u\n", b.enumerationCount());
    describe(b);

    std::printf("Configuring the FPGA\n");
    std::ifstream in(ownFolder() / "Zelbo3.rbf", std::ios::binary);
    const std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.empty()) std::printf("  Zelbo3.rbf not found beside the program; sending an empty image\n");
    vendor(b, 0xB1, 0, 1);
    std::printf("  nCONFIG pulse acknowledged: %s\n", vendor(b, 0xB9, 0, 1)[0] == 1 ? "yes" : "no");
    for (std::size_t off = 0; off < image.size(); off += 512) {
        vendor(b, 0xB4, 8, 2);
        bulkWrite(b, {image.begin() + long(off), image.begin() + long(std::min(image.size(), off + 512))});
        vendor(b, 0xBA, 0, 2);
    }
    vendor(b, 0xB4, 0x19, 2);
    bulkWrite(b, {0, 0, 0});
    const auto done = vendor(b, 0xBA, 0, 2);
    std::printf("  %zu image bytes in %zu chunks; nSTATUS %u, CONF_DONE %u\n", image.size(), (image.size() + 511) / 512,
                done[0], done[1]);
    vendor(b, 0xB0, 0, 1);

    std::printf("Host ready (request 0xB5, value 0): port A = 0x%02X\n", vendor(b, 0xB5, 0, 1)[0]);
    readResponses(b);

    std::printf("Writing registers: supply 5.0 V, VREF 1.25 V, then reading VREF's low byte\n");
    std::vector<std::uint8_t> frames;
    auto write = [&](std::uint8_t reg, std::uint8_t value) {
        frames.insert(frames.end(), {0, 0, 0, 0, reg, value});
        std::printf("  -> register %u = 0x%02X\n", reg, value);
    };
    write(1, 0xE3);
    write(23, 0xE2);
    write(24, 0x04);
    write(26, 133);
    frames.insert(frames.end(), {0, 0, 0, 0x80, 23});
    const auto st = vendor(b, 0xFD, 1, 6);
    std::printf("  board %s a command transfer\n", (st[1] & 0x04) ? "accepts" : "does NOT accept");
    if (!bulkWrite(b, frames)) std::printf("  command transfer failed\n");
    readResponses(b);
    std::printf("Done.\n");
    return 0;
}
