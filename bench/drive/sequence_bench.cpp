// Starting a 255-row dynamic sequence through the link to the simulated board
// (bus model on, the reader running): reset, run parameters, eight pattern
// blocks with their block-written waits, and the run command.
//
//   SequenceStart255/transfers   everything but the settling pauses between
//                                steps (the board's own cost and the bus)
//   SequenceStart255/with_pauses the same with the 50 ms pauses slept;
//                                `pause_ms` counts them
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "board/sim_board_test.h"
#include "common/message_service.h"
#include "drive/sequence.h"
#include "link/fpga_link.h"
#include "tests/common/recording_message_service.h"
#include "engine/link_sequences.h"

namespace {

using namespace std::chrono_literals;
using namespace zelbo::drive::sequence;
using zelbo::link::CommandPort;
using zelbo::link::FpgaLink;

struct NoWindow final : zelbo::link::LinkObserver {
    void linkStarted() override {}
};

// The link, with its pauses counted and (unless asked) skipped.
struct PausePort final : CommandPort {
    PausePort(FpgaLink& l, bool sleep) : link(l), sleeps(sleep) {}
    void queueWrite(std::uint8_t r, std::uint8_t v, zelbo::link::WriteClass c) override { link.queueWrite(r, v, c); }
    void queueWriteQuiet(std::uint8_t r, std::uint8_t v, zelbo::link::WriteClass c) override
    {
        link.queueWriteQuiet(r, v, c);
    }
    void queueRead(std::uint8_t r) override { link.queueRead(r); }
    void queueBlock(std::uint8_t t, std::uint16_t s, const std::uint8_t* d, std::size_t n) override
    {
        link.queueBlock(t, s, d, n);
    }
    int flushCommands() override { return link.flushCommands(); }
    bool waitWriteDone(std::chrono::milliseconds t) override { return link.waitWriteDone(t); }
    zelbo::link::VendorReply vendorRequest(std::uint8_t r, std::uint16_t v, int n) override
    {
        return link.vendorRequest(r, v, n);
    }
    void pause(std::chrono::milliseconds ms) override
    {
        pausedMs += ms.count();
        if (sleeps) link.pause(ms);
    }
    FpgaLink& link;
    bool sleeps;
    long pausedMs = 0;
};

void SequenceStart255(benchmark::State& state)
{
    ::setenv("ZELBO_BOARD", "sim", 1);
    simboard::Control board;
    board.reset();
    board.setBusTiming(true);
    board.startFirmware();
    board.configureFpga();
    zelbo::RecordingMessageService messages;
    auto link = std::make_unique<FpgaLink>(messages);
    zelbo::link::NullBringUpObserver progress;
    NoWindow window;
    if (zelbo::engine::startLink(*link, progress, window) != 0) {
        state.SkipWithError("link did not start on the simulated board");
        return;
    }
    link->waitWriteDone(5000ms);

    SequenceTable table;
    for (int r = 0; r < kRows; ++r) {
        table.setCell(r, kTime, std::to_string(r * 10));
        table.setCell(r, kVref, r % 2 ? "1.50" : "1.00");
        table.setCell(r, kClk, "2.5k");
    }
    StartRecord rec;
    rec.rows = buildRows(table, 0);
    rec.rowCount = std::to_string(rec.rows.size());

    PausePort port(*link, state.range(0) != 0);
    HostHooks hooks;
    hooks.quiesceTriggers = [&] { link->quiesceTriggers(); };
    hooks.waitBlockWritten = [&](std::chrono::milliseconds t) { return link->blockWriteDone().wait(t); };
    SequenceHost host(port, hooks);
    long startPauses = 0;
    for (auto _ : state) {
        port.pausedMs = 0;
        host.start(rec, 0);
        link->waitWriteDone(5000ms);
        state.PauseTiming();
        startPauses = port.pausedMs;
        host.stop(false);
        state.ResumeTiming();
    }
    state.counters["pause_ms"] = static_cast<double>(startPauses);
    std::size_t bytes = 0;
    for (const auto& e : board.log())
        if (e.kind == simboard::LogEvent::Kind::BlockWrite && e.code == 5) bytes += e.count;
    state.counters["pattern_bytes_per_start"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
    zelbo::engine::shutdownLink(*link);
    board.setBusTiming(false);
}
BENCHMARK(SequenceStart255)->Name("SequenceStart255/transfers")->Arg(0)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SequenceStart255)->Name("SequenceStart255/with_pauses")->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
