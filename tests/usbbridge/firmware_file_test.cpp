// A "fx2fw.hex" beside the library replaces the built-in firmware. The test
// loads a copy of the library from a folder of its own, next to such a file.

#include "board/sim_board_test.h"
#include "tests/usbbridge/library_path.h"
#include "usbbridge/usb_bridge.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct LibraryCopy {
    fs::path dir;
    void* lib = nullptr;

    explicit LibraryCopy(const std::string& hex)
    {
        dir = fs::temp_directory_path() / ("zelbo_fw_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::copy_file(bridgeLibraryPath(), dir / "libUsbBridge.so", fs::copy_options::overwrite_existing);
        std::ofstream(dir / "fx2fw.hex") << hex;
        ::setenv("ZELBO_BOARD", "sim", 1);
        lib = dlopen((dir / "libUsbBridge.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~LibraryCopy()
    {
        if (lib) dlclose(lib);
        fs::remove_all(dir);
    }
    template <typename F>
    F get(const char* name)
    {
        return reinterpret_cast<F>(dlsym(lib, name));
    }
};

TEST(FirmwareFile, ReplacesTheBuiltInImage)
{
    simboard::Control board;
    board.reset();
    board.setBusTiming(false);
    // Two data records: a jump-to-self at 0 and a marker at 0x2000.
    LibraryCopy copy(":0200000080FE80\n:04200000C0FFEE002F\n:00000001FF\n");
    ASSERT_NE(copy.lib, nullptr) << dlerror();
    EXPECT_EQ(copy.get<decltype(&download)>("download")(), 1);
    EXPECT_EQ(board.fx2Memory(0x2000, 4), (std::vector<std::uint8_t>{0xC0, 0xFF, 0xEE, 0x00}));
    EXPECT_EQ(board.fx2Memory(0x1000, 2), (std::vector<std::uint8_t>{0, 0})); // nothing of the built-in image
    board.reset();
}

TEST(FirmwareFile, ABrokenFileIsRefusedWithoutTouchingTheBoard)
{
    simboard::Control board;
    board.reset();
    board.setBusTiming(false);
    LibraryCopy copy(":0200000080FE81\n:00000001FF\n"); // bad checksum
    ASSERT_NE(copy.lib, nullptr) << dlerror();
    EXPECT_EQ(copy.get<decltype(&download)>("download")(), 0);
    EXPECT_EQ(board.fx2Memory(0, 2), (std::vector<std::uint8_t>{0, 0})); // nothing was loaded
    EXPECT_FALSE(board.firmwareRunning());
    board.reset();
}

} // namespace
