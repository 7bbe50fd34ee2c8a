// Fuzzes the replay of a "CYUSB.spt" script: any bytes as the script file,
// replayed by InitializeUSB's logic to a fake device that does not yet
// identify as the board.

#include "tests/usbbridge/fake_driver.h"
#include "usbbridge/bridge.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        std::string p = "/tmp/zelbo_fuzz_script_" + std::to_string(::getpid()) + ".spt";
        std::atexit([] { std::remove(("/tmp/zelbo_fuzz_script_" + std::to_string(::getpid()) + ".spt").c_str()); });
        return p;
    }();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    fake::Driver drv;
    drv.id.device = fake::deviceDescriptor(0x1234, 0x0001, 0, 0);
    usbbridge::Bridge bridge(drv);
    bridge.returnTimeout = std::chrono::milliseconds(0);
    bridge.pauseTime = std::chrono::milliseconds(0);
    bridge.initializeUsb(path);
    // Nothing but endpoint-0 requests may have reached the device.
    if (!drv.bulks.empty()) __builtin_trap();
    return 0;
}
