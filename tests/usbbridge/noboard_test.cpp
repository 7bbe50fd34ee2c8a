// The exports with no board at all: the simulator is selected but unplugged
// before the library is loaded, so nothing is ever opened.

#include "board/sim_board_test.h"
#include "tests/usbbridge/library_path.h"
#include "usbbridge/usb_bridge.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>

namespace {

template <typename F>
F sym(void* lib, const char* name)
{
    return reinterpret_cast<F>(dlsym(lib, name));
}

TEST(NoBoard, EveryExportReportsTheAbsentBoard)
{
    simboard::Control board;
    board.reset();
    board.setPresent(false);
    ::setenv("ZELBO_BOARD", "sim", 1);
    void* lib = dlopen(bridgeLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();

    EXPECT_EQ(sym<decltype(&USB_Check)>(lib, "USB_Check")("CYUSB FX2"), -1);
    EXPECT_EQ(sym<decltype(&USB_Init)>(lib, "USB_Init")("CYUSB FX2"), 0);
    unsigned char buf[512] = {0x11};
    EXPECT_EQ(sym<decltype(&USB_BulkWrite)>(lib, "USB_BulkWrite")(buf, 512, 2), 6);
    EXPECT_EQ(sym<decltype(&USB_BulkRead)>(lib, "USB_BulkRead")(buf, 512, 1), 6);
    EXPECT_EQ(sym<decltype(&USB_Send)>(lib, "USB_Send")(0, buf, 3), 6);
    EXPECT_EQ(sym<decltype(&USB_Read)>(lib, "USB_Read")(0), 6);
    EXPECT_EQ(sym<decltype(&SendVendorRequest)>(lib, "SendVendorRequest")(1, 0xB4, 8, 0xBEEF, buf, 2), 0);
    EXPECT_EQ(sym<decltype(&download)>(lib, "download")(), 0);
    EXPECT_EQ(sym<decltype(&InitializeUSB)>(lib, "InitializeUSB")(), 0);
    EXPECT_EQ(sym<decltype(&OpenUSBDevice)>(lib, "OpenUSBDevice")(), 0);
    EXPECT_EQ(sym<decltype(&GetVID)>(lib, "GetVID")(), 0u);
    EXPECT_EQ(sym<decltype(&GetDriverVersion)>(lib, "GetDriverVersion")(), 0u);
    char text[256] = "x";
    sym<decltype(&StringDesc1)>(lib, "StringDesc1")(text);
    EXPECT_STREQ(text, "");
    sym<decltype(&USB_Close)>(lib, "USB_Close")(0);
    EXPECT_EQ(dlclose(lib), 0);
    board.reset();
}

} // namespace
