// The board's own cost per transfer with the bus-timing model off: what the
// simulator adds to every host measurement made on it.

#include "board/sim_board.h"
#include "board/sim_board_test.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <ctime>
#include <initializer_list>
#include <thread>
#include <vector>

namespace {

using simboard::Board;
using simboard::Control;
using simboard::Setup;

void readyBoard()
{
    Control ctl;
    ctl.reset();
    ctl.setBusTiming(false);
    ctl.startFirmware();
    ctl.configureFpga();
}

// The status request the link's reader polls with.
void StatusRequest(benchmark::State& state)
{
    readyBoard();
    Board& b = Board::instance();
    std::array<std::uint8_t, 6> reply{};
    const Setup s{0xC0, 0xFD, 1, 0xBEEF, 6};
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.control(s, reply.data(), 1500));
    }
}
BENCHMARK(StatusRequest);

// A logged vendor request with a reply.
void VendorRequest(benchmark::State& state)
{
    readyBoard();
    Board& b = Board::instance();
    std::array<std::uint8_t, 2> reply{};
    const Setup s{0xC0, 0xBA, 0, 0xBEEF, 2};
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.control(s, reply.data(), 1500));
    }
}
BENCHMARK(VendorRequest);

// A full command transfer: 85 register writes in 510 bytes.
void BulkOutRegisterWrites(benchmark::State& state)
{
    readyBoard();
    Board& b = Board::instance();
    std::vector<std::uint8_t> frames;
    for (int i = 0; i < 85; ++i) frames.insert(frames.end(), {0, 0, 0, 0, std::uint8_t(0x30 + i % 16), std::uint8_t(i)});
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.bulkOut(0x04, frames.data(), frames.size(), 1500));
    }
}
BENCHMARK(BulkOutRegisterWrites);

// A 512-byte image chunk while the FPGA is being configured.
void BulkOutImageChunk(benchmark::State& state)
{
    readyBoard();
    Board& b = Board::instance();
    std::array<std::uint8_t, 2> reply{};
    b.control(Setup{0xC0, 0xB1, 0, 0xBEEF, 1}, reply.data(), 1500);
    b.control(Setup{0xC0, 0xB9, 0, 0xBEEF, 1}, reply.data(), 1500);
    b.control(Setup{0xC0, 0xB4, 8, 0xBEEF, 2}, reply.data(), 1500);
    std::vector<std::uint8_t> chunk(512, 0x5A);
    std::size_t sent = 0;
    for (auto _ : state) {
        if (sent > (8u << 20)) { // keep the image bounded: start a new configuration
            state.PauseTiming();
            b.control(Setup{0xC0, 0xB9, 0, 0xBEEF, 1}, reply.data(), 1500);
            sent = 0;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(b.bulkOut(0x04, chunk.data(), chunk.size(), 1500));
        sent += chunk.size();
    }
}
BENCHMARK(BulkOutImageChunk);

// Reading one 512-byte response block (queued in batches outside the timed region).
void BulkInResponseBlock(benchmark::State& state)
{
    readyBoard();
    Board& b = Board::instance();
    Control ctl;
    const std::vector<std::uint8_t> block(512, 0x40);
    std::array<std::uint8_t, 512> buf{};
    std::size_t queued = 0;
    for (auto _ : state) {
        if (queued == 0) {
            state.PauseTiming();
            for (int i = 0; i < 4000; ++i) ctl.queueResponseBlock(block);
            queued = 4000;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(b.bulkIn(0x82, buf.data(), buf.size(), 1500));
        --queued;
    }
}
BENCHMARK(BulkInResponseBlock);

// Read request and its answer: a 5-byte command transfer, then the block.
void ReadRoundTrip(benchmark::State& state)
{
    readyBoard();
    Board& b = Board::instance();
    const std::array<std::uint8_t, 5> frame{0, 0, 0, 0x80, 0x65};
    std::array<std::uint8_t, 512> buf{};
    for (auto _ : state) {
        b.bulkOut(0x04, frame.data(), frame.size(), 1500);
        benchmark::DoNotOptimize(b.bulkIn(0x82, buf.data(), buf.size(), 1500));
    }
}
BENCHMARK(ReadRoundTrip);

// ---- Scope front end ---------------------------------------------------------

void frame(std::vector<std::uint8_t>& f, std::uint8_t reg, std::uint8_t value, std::uint8_t cls = 0)
{
    f.insert(f.end(), {cls, 0, 0, 0, reg, value});
}

void dacLoad(std::vector<std::uint8_t>& f, std::uint8_t channel, std::uint16_t code)
{
    static const std::uint8_t lo[8] = {40, 36, 32, 38, 42, 23, 21, 34};
    const std::uint8_t r = lo[channel - 128];
    frame(f, r, std::uint8_t(code & 0xFF));
    frame(f, std::uint8_t(r + 1), std::uint8_t(code >> 8));
    frame(f, 26, channel);
}

// DUT powered in quarter step with a 1 kHz step clock, and the scope armed
// free running on four channels (two outputs, a winding current, ICC) at
// sampling divider `divider`.
void runScope(std::uint16_t divider)
{
    std::vector<std::uint8_t> f;
    frame(f, 1, 0xE3);
    for (std::uint8_t pin : {129, 130, 131, 128}) dacLoad(f, pin, 2500);
    dacLoad(f, 133, 2000);
    const std::uint32_t n = 39999, d = 19999;
    for (int i = 0; i < 4; ++i) frame(f, std::uint8_t(145 + i), std::uint8_t(n >> (8 * i)));
    for (int i = 0; i < 4; ++i) frame(f, std::uint8_t(149 + i), std::uint8_t(d >> (8 * i)));
    frame(f, 144, 6);
    frame(f, 153, 0);
    frame(f, 144, 1);
    Board::instance().bulkOut(0x04, f.data(), f.size(), 1500);
    f.clear();
    const std::uint8_t config[4] = {0x04, 0x04, 0x14, 0x1C};
    for (int ch = 0; ch < 4; ++ch) frame(f, std::uint8_t(0x78 + ch), config[ch], 1);
    frame(f, 0x72, std::uint8_t(divider & 0xFF), 1);
    frame(f, 0x73, std::uint8_t(divider >> 8), 1);
    frame(f, 0x74, 0xFF, 1);
    frame(f, 0x75, 0x0F, 1);
    frame(f, 0x70, 0x0F, 1);
    Board::instance().bulkOut(0x04, f.data(), f.size(), 1500);
}

std::chrono::nanoseconds sweepTime(std::uint16_t divider)
{
    return std::chrono::nanoseconds(4096LL * (divider + 4) * 25);
}

// Reads every block waiting on EP2; returns how many.
int drainBlocks()
{
    Board& b = Board::instance();
    std::array<std::uint8_t, 512> buf{};
    int n = 0;
    while (b.bulkIn(0x82, buf.data(), buf.size(), 1).result == simboard::Result::Ok) ++n;
    return n;
}

// Generating one sweep of 4 x 4096 samples at 150 kHz while the motor steps:
// the time step that covers the sweep (the first upload records included),
// with the upload read outside the timed region.
void ScopeSweepGeneration(benchmark::State& state)
{
    readyBoard();
    Control ctl;
    ctl.setVirtualTime(true);
    const std::uint16_t divider = 246;
    runScope(divider);
    for (auto _ : state) {
        ctl.advanceTime(sweepTime(divider));
        state.PauseTiming();
        drainBlocks();
        state.ResumeTiming();
    }
    state.counters["samples/s"] = benchmark::Counter(4.0 * 4096, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(ScopeSweepGeneration)->Unit(benchmark::kMicrosecond);

// One whole sweep as the host sees it: generation, then the 128 upload
// blocks and the sweep-finished record read through EP2 one block at a time.
void ScopeSweepWithUpload(benchmark::State& state)
{
    readyBoard();
    Control ctl;
    ctl.setVirtualTime(true);
    const std::uint16_t divider = 246;
    runScope(divider);
    for (auto _ : state) {
        ctl.advanceTime(sweepTime(divider));
        benchmark::DoNotOptimize(drainBlocks());
    }
}
BENCHMARK(ScopeSweepWithUpload)->Unit(benchmark::kMicrosecond);

// The process's share of a core while a host polls the board as the link's
// reader does (status request, then a block whenever one waits) with the bus
// timing on, for two seconds: argument 1 with the scope running four
// channels in real time, 0 idle for comparison.
void ScopeRealTimeCpu(benchmark::State& state)
{
    Control ctl;
    ctl.reset();
    ctl.startFirmware();
    ctl.configureFpga();
    if (state.range(0)) runScope(246);
    Board& b = Board::instance();
    std::array<std::uint8_t, 6> reply{};
    std::array<std::uint8_t, 512> buf{};
    const Setup s{0xC0, 0xFD, 1, 0xBEEF, 6};
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        const auto w0 = std::chrono::steady_clock::now();
        const auto swept0 = ctl.scope().sweepsUploaded;
        while (std::chrono::steady_clock::now() - w0 < std::chrono::seconds(2)) {
            b.control(s, reply.data(), 1500);
            if (reply[0]) b.bulkIn(0x82, buf.data(), buf.size(), 1500);
        }
        const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["sweeps/s"] = double(ctl.scope().sweepsUploaded - swept0) / wall;
    }
}
BENCHMARK(ScopeRealTimeCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
