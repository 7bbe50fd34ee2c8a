// The board's own cost per transfer with the bus-timing model off: what the
// simulator adds to every host measurement made on it.

#include "board/sim_board.h"
#include "board/sim_board_test.h"

#include <benchmark/benchmark.h>

#include <array>
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

} // namespace

BENCHMARK_MAIN();
