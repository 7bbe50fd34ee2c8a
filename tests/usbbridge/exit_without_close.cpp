// A caller that opens the board and ends without USB_Close or dlclose: the
// library's unload at process exit closes the device, and the driver it
// closes through must still exist then. Under ASan any use after free fails
// the run; without it a freed driver usually shows as a crash at exit.

#include "board/sim_board_test.h"
#include "tests/usbbridge/library_path.h"
#include "usbbridge/usb_bridge.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    simboard::Control board;
    board.reset();
    board.setBusTiming(false);
    board.startFirmware();
    ::setenv("ZELBO_BOARD", "sim", 1);
    void* lib = dlopen(bridgeLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto check = reinterpret_cast<decltype(&USB_Check)>(dlsym(lib, "USB_Check"));
    auto init = reinterpret_cast<decltype(&USB_Init)>(dlsym(lib, "USB_Init"));
    if (check == nullptr || init == nullptr || check("CYUSB FX2") != 1 || init("CYUSB FX2") == 0) {
        std::fprintf(stderr, "the simulated board was not opened\n");
        return 3;
    }
    return 0; // open, unclosed, still loaded
}
