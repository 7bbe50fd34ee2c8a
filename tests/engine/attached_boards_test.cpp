// The boards attached, read from a folder laid out as /sys/bus/usb/devices.

#include "engine/attached_boards.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using zelbo::engine::AttachedBoard;
using zelbo::engine::attachedBoards;
using zelbo::engine::boardIsNamed;
using zelbo::engine::boardListText;

class AttachedBoards : public ::testing::Test {
protected:
    fs::path sys;
    void SetUp() override
    {
        sys = fs::temp_directory_path() / ("zelbo-boards-" + std::to_string(::getpid()));
        fs::create_directories(sys);
    }
    void TearDown() override { fs::remove_all(sys); }

    void device(const std::string& name, const std::string& vid, const std::string& pid, int bus, int dev,
                const char* serial = nullptr)
    {
        const fs::path d = sys / name;
        fs::create_directories(d);
        std::ofstream(d / "idVendor") << vid << "\n";
        std::ofstream(d / "idProduct") << pid << "\n";
        std::ofstream(d / "busnum") << bus << "\n";
        std::ofstream(d / "devnum") << dev << "\n";
        if (serial) std::ofstream(d / "serial") << serial << "\n";
    }
};

TEST_F(AttachedBoards, OnlyTheClassInBusAndPortOrderWithSerialsWhereThereAreAny)
{
    device("1-10", "04b4", "8613", 1, 12, "B10");
    device("2-1", "04b4", "1002", 2, 3);          // a bare FX2: no serial
    device("1-2.3", "04b4", "8613", 1, 9, "A 7"); // behind a hub
    device("1-2", "05e3", "0610", 1, 8);          // the hub
    device("1-4", "04b4", "0001", 1, 5, "X");     // the maker's, another product
    device("usb1", "1d6b", "0002", 1, 1);         // the root hub
    fs::create_directories(sys / "1-10:1.0");     // an interface
    const auto boards = attachedBoards(sys.string(), "/dev/bus/usb");
    ASSERT_EQ(boards.size(), 3u);
    EXPECT_EQ(boards[0].path, "1-2.3");
    EXPECT_EQ(boards[0].serial, "A 7");
    EXPECT_EQ(boards[0].node, "/dev/bus/usb/001/009");
    EXPECT_EQ(boards[1].path, "1-10"); // port 10 after port 2, not before it
    EXPECT_EQ(boards[2].path, "2-1");
    EXPECT_EQ(boards[2].id, "04b4:1002");
    EXPECT_EQ(boards[2].serial, "");
    EXPECT_EQ(boardListText(boards), "1-2.3 (serial A 7), 1-10 (serial B10), 2-1 (no serial)");

    EXPECT_TRUE(boardIsNamed(boards[1], "B10"));
    EXPECT_TRUE(boardIsNamed(boards[1], "1-10"));
    EXPECT_FALSE(boardIsNamed(boards[1], "1-1"));
    EXPECT_FALSE(boardIsNamed(boards[2], "")); // an empty choice names no board without a serial
}

TEST_F(AttachedBoards, NoFolderNoBoards)
{
    EXPECT_TRUE(attachedBoards((sys / "missing").string()).empty());
    EXPECT_EQ(boardListText({}), "none");
}

} // namespace
