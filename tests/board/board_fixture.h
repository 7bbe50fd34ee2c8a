#pragma once
// Drives the simulated board the way a USB driver layer does, for the board's
// own tests: control transfers, bulk transfers and nothing else. Inspection
// goes through simboard::Control.

#include "board/sim_board.h"
#include "board/sim_board_test.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace boardtest {

using simboard::Board;
using simboard::Control;
using simboard::Result;
using UsbSetup = simboard::Setup;

struct Reply {
    Result result = Result::NoDevice;
    std::vector<std::uint8_t> bytes;
};

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctl.reset();
        ctl.setBusTiming(false);
        ctl.setTimeoutLimit(std::chrono::milliseconds(20));
    }
    void TearDown() override { ctl.reset(); }

    Reply in(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length)
    {
        Reply r;
        r.bytes.assign(length, 0xEE);
        const auto t = board.control(UsbSetup{type, request, value, index, length}, r.bytes.data(), 1500);
        r.result = t.result;
        r.bytes.resize(t.result == Result::Ok ? t.length : 0);
        return r;
    }
    // A device-to-host vendor request with index 0xBEEF, as the link sends it.
    Reply vendor(std::uint8_t request, std::uint16_t value = 0, std::uint16_t length = 1)
    {
        return in(0xC0, request, value, 0xBEEF, length);
    }
    Reply descriptor(std::uint16_t wValue, std::uint16_t length = 255, std::uint16_t index = 0)
    {
        return in(0x80, 6, wValue, index, length);
    }
    Result ramWrite(std::uint16_t address, std::vector<std::uint8_t> bytes)
    {
        return board.control(UsbSetup{0x40, 0xA0, address, 0, static_cast<std::uint16_t>(bytes.size())}, bytes.data(), 1500)
            .result;
    }
    // The loader's sequence: hold, write, release, then the port cycle.
    void downloadFirmware()
    {
        ASSERT_EQ(ramWrite(0xE600, {1}), Result::Ok);
        for (std::uint16_t a = 0; a < 0x100; a += 16) ASSERT_EQ(ramWrite(a, std::vector<std::uint8_t>(16, 0x5A)), Result::Ok);
        ASSERT_EQ(ramWrite(0xE600, {0}), Result::Ok);
        board.cyclePort();
    }
    Result bulkOut(const std::vector<std::uint8_t>& bytes, unsigned timeoutMs = 1500)
    {
        return board.bulkOut(0x04, bytes.data(), bytes.size(), timeoutMs).result;
    }
    // The bring-up sequence of the FPGA with `image`; returns the final 0xBA reply.
    std::vector<std::uint8_t> configure(const std::vector<std::uint8_t>& image)
    {
        vendor(0xB1);
        EXPECT_EQ(vendor(0xB9).bytes, std::vector<std::uint8_t>{1});
        for (std::size_t off = 0; off < image.size(); off += 512) {
            EXPECT_EQ(vendor(0xB4, 8, 2).bytes, (std::vector<std::uint8_t>{1, 8}));
            const auto end = std::min(image.size(), off + 512);
            EXPECT_EQ(bulkOut({image.begin() + long(off), image.begin() + long(end)}), Result::Ok);
            vendor(0xBA, 0, 2);
        }
        vendor(0xB4, 0x19, 2);
        EXPECT_EQ(bulkOut({0, 0, 0}), Result::Ok);
        const auto status = vendor(0xBA, 0, 2).bytes;
        vendor(0xB0);
        return status;
    }
    // Firmware running, FPGA configured, host ready acknowledged and drained.
    void bringUp()
    {
        downloadFirmware();
        ASSERT_EQ(configure(std::vector<std::uint8_t>(1000, 0x33)), (std::vector<std::uint8_t>{1, 1}));
        vendor(0xB5, 0);
        drain();
        ctl.clearLog();
    }
    std::array<std::uint8_t, 6> status()
    {
        std::array<std::uint8_t, 6> s{};
        const auto r = vendor(0xFD, 1, 6);
        EXPECT_EQ(r.result, Result::Ok);
        std::copy(r.bytes.begin(), r.bytes.end(), s.begin());
        return s;
    }
    // Reads one response block; empty when none could be read.
    std::vector<std::uint8_t> readBlock()
    {
        std::vector<std::uint8_t> b(512);
        const auto t = board.bulkIn(0x82, b.data(), b.size(), 1500);
        if (t.result != Result::Ok) return {};
        b.resize(t.length);
        return b;
    }
    // Every record waiting, as (code, byte 4, byte 5), in order.
    std::vector<std::array<std::uint8_t, 3>> drain()
    {
        std::vector<std::array<std::uint8_t, 3>> records;
        while (status()[0]) {
            const auto b = readBlock();
            if (b.size() != 512) break;
            for (std::size_t off = 0; off + 6 <= b.size() && b[off + 1] != 0; off += 6)
                records.push_back({b[off + 1], b[off + 4], b[off + 5]});
        }
        return records;
    }

    enum Pin : std::uint8_t { kMode1 = 128, kEnable = 129, kCw = 130, kMode0 = 131, kVref = 133, kPs = 135 };

    static std::vector<std::uint8_t> dac(std::uint8_t channel, std::uint16_t code)
    {
        static const std::uint8_t lo[8] = {40, 36, 32, 38, 42, 23, 21, 34};
        const std::uint8_t r = lo[channel - 128];
        return cat({writeFrame(r, std::uint8_t(code & 0xFF)), writeFrame(std::uint8_t(r + 1), std::uint8_t(code >> 8)),
                    writeFrame(26, channel)});
    }
    // The clock registers as the host computes them from a frequency (duty 50).
    static std::vector<std::uint8_t> clockRegisters(double hz, std::uint8_t control = 6)
    {
        const auto n = hz > 0 ? std::uint32_t(40e6 / hz - 1) : 0u;
        const auto d = std::uint32_t(0.5 * n);
        std::vector<std::uint8_t> f;
        for (int i = 0; i < 4; ++i) f = cat({f, writeFrame(std::uint8_t(145 + i), std::uint8_t(n >> (8 * i)))});
        for (int i = 0; i < 4; ++i) f = cat({f, writeFrame(std::uint8_t(149 + i), std::uint8_t(d >> (8 * i)))});
        return cat({f, writeFrame(144, control)});
    }
    static std::vector<std::uint8_t> startRun(std::uint8_t steps, bool stopHigh)
    {
        return cat({writeFrame(144, 0), writeFrame(153, steps), writeFrame(144, stopHigh ? 0x81 : 0x01)});
    }
    // Supply 5 V, ENABLE high, the given mode and direction, VREF in volts.
    void power(bool mode0, bool mode1, bool cw, double vref = 1.0)
    {
        const std::uint16_t high = 2500;
        ASSERT_EQ(bulkOut(cat({writeFrame(1, 0xE3), dac(kPs, high), dac(kEnable, high), dac(kMode0, mode0 ? high : 0),
                               dac(kMode1, mode1 ? high : 0), dac(kCw, cw ? high : 0),
                               dac(kVref, std::uint16_t(vref * 1000))})),
                  Result::Ok);
    }
    static std::vector<std::uint8_t> writeFrame(std::uint8_t reg, std::uint8_t value, std::uint8_t cls = 0)
    {
        return {cls, 0, 0, 0, reg, value};
    }
    static std::vector<std::uint8_t> readFrame(std::uint8_t reg) { return {0, 0, 0, 0x80, reg}; }
    static std::vector<std::uint8_t> cat(std::initializer_list<std::vector<std::uint8_t>> parts)
    {
        std::vector<std::uint8_t> out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    Board& board = Board::instance();
    Control ctl;
};

} // namespace boardtest
