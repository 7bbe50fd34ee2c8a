// Link throughput and idle cost.
//
//   HostCostPerFlush/fake      85 register writes queued and flushed against a
//                              bridge table that returns at once: the link's own cost.
//   FlushToBoard/bus_off       the same through libUsbBridge.so to the simulated
//                              board with its bus-timing model off.
//   FlushToBoard/bus_on        with the bus model on; `bus_ratio` is the bus-time
//                              limit of one flush (one status request and one bulk
//                              write of 510 bytes) over the time achieved.
//   IdleReaderCpu              process CPU while a started link idles, bus model
//                              on, with the reader's idle wait (1 ms) and without (0);
//                              IdleBoardOnlyCpu is the board's own share.
#include <benchmark/benchmark.h>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "board/sim_board_test.h"
#include "tests/common/recording_message_service.h"
#include "link/fpga_link.h"
#include "engine/link_sequences.h"

namespace {

using namespace std::chrono_literals;
using zelbo::link::BringUpObserver;
using zelbo::link::CCyUSB;
using zelbo::link::FpgaLink;
using zelbo::link::LinkObserver;
using zelbo::link::LinkOptions;
using zelbo::link::NullBringUpObserver;

struct NoWindow final : LinkObserver {
    void linkStarted() override {}
};

// ---- a bridge table that answers at once ----------------------------------------
namespace quick {
std::atomic<int> readyBlocks{0};
int bulkWrite(unsigned char*, int, int) { return 0; }
int bulkRead(unsigned char* b, int n, int)
{
    std::memset(b, 0, static_cast<std::size_t>(n));
    if (readyBlocks.load() > 0) {
        --readyBlocks;
        b[1] = 0x01; // Hardware Ready
    }
    return 0;
}
int vendor(unsigned char, unsigned char req, unsigned short value, unsigned short, unsigned char* buf,
           int len)
{
    std::memset(buf, 0, static_cast<std::size_t>(len));
    if (req == 0xFD) {
        buf[0] = readyBlocks.load() > 0 ? 1 : 0;
        buf[1] = 0x05;
    } else if (req == 0xBA && len >= 2) {
        buf[0] = 1;
        buf[1] = 1; // configured already
    } else {
        buf[0] = 1;
        if (req == 0xB5 && value == 0)
            readyBlocks = 1;
    }
    return buf[0];
}
int check(const char*) { return 1; }
int init(const char*) { return 1; }
int download() { return 1; }
void closeDev(int) {}
void desc(char* t) { t[0] = 0; }
} // namespace quick

std::unique_ptr<CCyUSB> quickTable()
{
    auto b = std::make_unique<CCyUSB>(CCyUSB::Unbound{});
    b->USB_BulkWrite = quick::bulkWrite;
    b->USB_BulkRead = quick::bulkRead;
    b->SendVendorRequest = quick::vendor;
    b->USB_Check = quick::check;
    b->USB_Init = quick::init;
    b->download = quick::download;
    b->USB_Close = quick::closeDev;
    b->StringDesc1 = quick::desc;
    b->StringDesc2 = quick::desc;
    return b;
}

// A link that has started and whose reader has stopped again, so that the
// benchmark thread does the flushing itself (one status request, one bulk write).
std::unique_ptr<FpgaLink> startedLink(zelbo::MessageService& messages, LinkOptions options)
{
    auto link = std::make_unique<FpgaLink>(messages, std::move(options));
    NullBringUpObserver progress;
    NoWindow window;
    if (zelbo::engine::startLink(*link, progress, window) != 0)
        return nullptr;
    zelbo::engine::shutdownLink(*link);
    return link;
}

void flush85(FpgaLink& link, std::uint8_t seed)
{
    for (int i = 0; i < 85; ++i)
        link.queueWriteQuiet(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(seed + i));
    link.flushCommands();
}

void HostCostPerFlush(benchmark::State& state)
{
    zelbo::RecordingMessageService messages;
    LinkOptions o;
    o.bridgeFactory = quickTable;
    auto link = startedLink(messages, o);
    if (!link) {
        state.SkipWithError("link did not start");
        return;
    }
    std::uint8_t seed = 0;
    for (auto _ : state)
        flush85(*link, seed++);
    state.counters["writes_per_s"] =
        benchmark::Counter(85.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(HostCostPerFlush)->Name("HostCostPerFlush/fake")->Unit(benchmark::kMicrosecond);

void FlushToBoard(benchmark::State& state)
{
    const bool busOn = state.range(0) != 0;
    ::setenv("ZELBO_BOARD", "sim", 1);
    simboard::Control board;
    board.reset();
    board.setBusTiming(false);
    board.startFirmware();
    board.configureFpga();
    zelbo::RecordingMessageService messages;
    auto link = startedLink(messages, LinkOptions{});
    if (!link) {
        state.SkipWithError("link did not start on the simulated board");
        return;
    }
    board.setBusTiming(busOn);
    board.clearLog();
    const auto polls0 = board.statusRequests();
    std::uint8_t seed = 0;
    for (auto _ : state)
        flush85(*link, seed++);

    // Every write reached the board's register log (which keeps the most
    // recent 262144 events), the last flush with the last values.
    std::size_t logged = 0;
    for (const auto& e : board.log())
        if (e.kind == simboard::LogEvent::Kind::RegisterWrite)
            ++logged;
    const double sent = 85.0 * static_cast<double>(state.iterations());
    state.counters["logged_fraction"] = static_cast<double>(logged) / std::min(sent, 262144.0);
    state.counters["last_value_ok"] =
        board.registerValue(84) == static_cast<std::uint8_t>(seed - 1 + 84) ? 1 : 0;
    state.counters["status_per_flush"] =
        static_cast<double>(board.statusRequests() - polls0) / static_cast<double>(state.iterations());
    state.counters["writes_per_s"] =
        benchmark::Counter(85.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    if (busOn) {
        const simboard::BusTiming t;
        const double packets = std::ceil(510.0 / 512.0);
        const double limitNs = static_cast<double>(t.controlBase.count() + t.perControlPacket.count()) +
                               (510.0 + packets * t.bulkOverheadBytesPerPacket) * t.bulkNsPerByte;
        // kIsIterationInvariantRate * kInvert: seconds per iteration; scale to ns.
        state.counters["limit_ns_per_flush"] = limitNs;
        state.counters["bus_ratio"] = benchmark::Counter(
            limitNs * 1e-9 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    }
    board.setBusTiming(false);
    messages.clear();
}
BENCHMARK(FlushToBoard)->Name("FlushToBoard/bus_off")->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(FlushToBoard)->Name("FlushToBoard/bus_on")->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

double processCpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void IdleReaderCpu(benchmark::State& state)
{
    ::setenv("ZELBO_BOARD", "sim", 1);
    simboard::Control board;
    board.reset();
    board.setBusTiming(true);
    board.startFirmware();
    board.configureFpga();
    zelbo::RecordingMessageService messages;
    LinkOptions o;
    o.timings.idleWait = std::chrono::milliseconds(state.range(0));
    auto link = std::make_unique<FpgaLink>(messages, o);
    NullBringUpObserver progress;
    NoWindow window;
    if (zelbo::engine::startLink(*link, progress, window) != 0) {
        state.SkipWithError("link did not start on the simulated board");
        return;
    }
    link->waitWriteDone(5000ms);
    double cpu = 0, wall = 0;
    const auto polls0 = board.statusRequests();
    for (auto _ : state) {
        const double c0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(1s);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += processCpuSeconds() - c0;
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["status_polls_per_s"] = static_cast<double>(board.statusRequests() - polls0) / wall;
    zelbo::engine::shutdownLink(*link);
    board.setBusTiming(false);
}
// The same window with the board powered and configured but no link: what the
// simulated board costs by itself.
void IdleBoardOnlyCpu(benchmark::State& state)
{
    simboard::Control board;
    board.reset();
    board.setBusTiming(true);
    board.startFirmware();
    board.configureFpga();
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double c0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(1s);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += processCpuSeconds() - c0;
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    board.setBusTiming(false);
}
BENCHMARK(IdleBoardOnlyCpu)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(IdleReaderCpu)->Name("IdleReaderCpu/idle_wait_1ms")->Arg(1)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(IdleReaderCpu)->Name("IdleReaderCpu/idle_wait_0")->Arg(0)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The board model paces transfers with short sleeps in the caller's
    // thread; the default 50 us timer slack would be charged to every one.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
