// What the bridge library adds to a transfer: one SendVendorRequest and one
// 512-byte USB_BulkWrite through the exports and the driver layer to the
// simulated board (bus model off), each next to the same request made on the
// board directly. The difference of the pairs is the library's own cost.

#include "board/sim_board_test.h"
#include "tests/usbbridge/library_path.h"
#include "usbbridge/usb_bridge.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Library {
    void* lib = nullptr;
    decltype(&SendVendorRequest) vendor = nullptr;
    decltype(&USB_BulkWrite) bulkWrite = nullptr;
    bool ready = false;

    Library()
    {
        simboard::Control board;
        board.reset();
        board.setBusTiming(false);
        board.startFirmware();
        board.configureFpga();
        ::setenv("ZELBO_BOARD", "sim", 1);
        lib = dlopen(bridgeLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            std::fprintf(stderr, "%s\n", dlerror());
            return;
        }
        vendor = reinterpret_cast<decltype(vendor)>(dlsym(lib, "SendVendorRequest"));
        bulkWrite = reinterpret_cast<decltype(bulkWrite)>(dlsym(lib, "USB_BulkWrite"));
        auto check = reinterpret_cast<decltype(&USB_Check)>(dlsym(lib, "USB_Check"));
        ready = vendor && bulkWrite && check && check("CYUSB FX2") == 1;
    }
};

Library& library()
{
    static Library l;
    return l;
}

void BM_SendVendorRequest(benchmark::State& state)
{
    Library& l = library();
    if (!l.ready) {
        state.SkipWithError("library not ready");
        return;
    }
    unsigned char b[2];
    for (auto _ : state) benchmark::DoNotOptimize(l.vendor(1, 0xB4, 8, 0xBEEF, b, 2));
}

void BM_BoardControl(benchmark::State& state)
{
    library();
    simboard::Board& board = simboard::Board::instance();
    std::uint8_t b[2];
    const simboard::Setup s{0xC0, 0xB4, 8, 0xBEEF, 2};
    for (auto _ : state) benchmark::DoNotOptimize(board.control(s, b, 10000));
}

void BM_BulkWrite512(benchmark::State& state)
{
    Library& l = library();
    if (!l.ready) {
        state.SkipWithError("library not ready");
        return;
    }
    std::vector<unsigned char> block(512, 0);
    for (auto _ : state) {
        if (l.bulkWrite(block.data(), 512, 2) != 0) {
            state.SkipWithError("bulk write failed");
            break;
        }
    }
}

void BM_BoardBulkOut512(benchmark::State& state)
{
    library();
    simboard::Board& board = simboard::Board::instance();
    std::vector<std::uint8_t> block(512, 0);
    for (auto _ : state) benchmark::DoNotOptimize(board.bulkOut(0x04, block.data(), block.size(), 10000));
}

BENCHMARK(BM_BoardControl);
BENCHMARK(BM_SendVendorRequest);
BENCHMARK(BM_BoardBulkOut512);
BENCHMARK(BM_BulkWrite512);

} // namespace

BENCHMARK_MAIN();
