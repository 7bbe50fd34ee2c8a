// Why no board could be opened: the probe over a hand-made sysfs tree, and
// bring-up's answer to each finding on the scripted bridge.
#include <gtest/gtest.h>

#include <fstream>

#include "link/board_probe.h"
#include "tests/link/link_fixture.h"

namespace zelbo::link::test {
namespace {

namespace fs = std::filesystem;

// A folder standing in for /sys/bus/usb/devices and one for /dev/bus/usb.
class FakeSysfs {
public:
    explicit FakeSysfs(const fs::path& root) : sys_(root / "sys"), dev_(root / "dev")
    {
        fs::create_directories(sys_);
        fs::create_directories(dev_);
        fs::create_directories(root / "drivers" / "usbfs");
        fs::create_directories(root / "drivers" / "hub");
        drivers_ = root / "drivers";
    }
    // A device folder with its attributes; with a node unless told otherwise.
    void device(const std::string& name, const std::string& vid, const std::string& pid, int bus, int devnum,
                bool node = true)
    {
        const fs::path d = sys_ / name;
        fs::create_directories(d);
        write(d / "idVendor", vid + "\n");
        write(d / "idProduct", pid + "\n");
        write(d / "busnum", std::to_string(bus) + "\n");
        write(d / "devnum", std::to_string(devnum) + "\n");
        if (node) {
            char n[32];
            std::snprintf(n, sizeof n, "%03d/%03d", bus, devnum);
            fs::create_directories((dev_ / n).parent_path());
            write(dev_ / n, "");
        }
    }
    // Interface 0 of a device, bound to a driver ("" for none).
    void interface(const std::string& device, const std::string& driver)
    {
        const fs::path i = sys_ / device / (device + ":1.0");
        fs::create_directories(i);
        if (!driver.empty()) fs::create_directory_symlink(drivers_ / driver, i / "driver");
    }
    BoardProbe probe() const { return probeBoard(sys_.string(), dev_.string()); }

private:
    static void write(const fs::path& p, const std::string& s) { std::ofstream(p) << s; }
    fs::path sys_, dev_, drivers_;
};

class BoardProbeTest : public LinkTest {
protected:
    FakeSysfs& sysfs()
    {
        if (!sysfs_) sysfs_ = std::make_unique<FakeSysfs>(folder / "bus");
        return *sysfs_;
    }
    std::unique_ptr<FakeSysfs> sysfs_;
};

TEST_F(BoardProbeTest, FindsTheBoardAndWhatKeepsItShut)
{
    // A hub and a foreign device are no board; their interfaces are skipped.
    sysfs().device("usb1", "1d6b", "0002", 1, 1);
    sysfs().interface("usb1", "hub");
    sysfs().device("1-2", "04b4", "0008", 1, 3); // the maker's, but another product
    EXPECT_EQ(sysfs().probe().access, BoardAccess::NoBoard);
    EXPECT_EQ(probeBoard((folder / "nothing-here").string()).access, BoardAccess::NoBoard);

    // The bare FX2 whose node is not there for us counts as not accessible.
    sysfs().device("1-3", "04b4", "1002", 1, 4, false);
    BoardProbe p = sysfs().probe();
    EXPECT_EQ(p.access, BoardAccess::NoAccess);
    EXPECT_EQ(p.id, "04b4:1002");
    EXPECT_EQ(p.node, (folder / "bus" / "dev" / "001" / "004").string());

    // A second board, held by another program through usbfs, says more.
    sysfs().device("2-1", "04b4", "8613", 2, 7);
    sysfs().interface("2-1", "usbfs");
    p = sysfs().probe();
    EXPECT_EQ(p.access, BoardAccess::Busy);
    EXPECT_EQ(p.id, "04b4:8613");

    // An accessible, unclaimed board wins over both.
    sysfs().device("2-2", "04b4", "8613", 2, 9);
    sysfs().interface("2-2", "");
    EXPECT_EQ(sysfs().probe().access, BoardAccess::Accessible);
}

class NoBoardBringUp : public LinkTest {
protected:
    int run(BoardAccess access)
    {
        fake().edit([](FakeScript& s) {
            s.checkBeforeDownload = 0;
            s.checkAfterDownload = 0;
            s.handle = 0;
        });
        options.boardProbe = [access] { return BoardProbe{access, "/dev/bus/usb/001/004", "04b4:8613"}; };
        auto& l = make();
        BringUp b(l, observer, messages);
        return b.bringUp();
    }
    // Nothing was asked of the FPGA, and nothing the user saw speaks of it.
    void expectNoFpgaStep()
    {
        for (const auto& v : fake().vendorCalls()) ADD_FAILURE() << "vendor request " << int(v.request);
        EXPECT_TRUE(fake().imageChunks().empty());
        for (const auto& line : observer.log()) EXPECT_EQ(line.find("FPGA"), std::string::npos) << line;
        for (const auto& t : messages.texts()) EXPECT_EQ(t.find("FPGA"), std::string::npos) << t;
        EXPECT_TRUE(observer.has("status:Not Ready..."));
        EXPECT_EQ(observer.log().back(), "hide");
        EXPECT_EQ(link->deviceHandle(), 0);
    }
};

TEST_F(NoBoardBringUp, NoBoardOffersTheDemo)
{
    EXPECT_EQ(run(BoardAccess::NoBoard), kBringUpStartDemo); // the recording service answers Yes
    ASSERT_EQ(messages.shown().size(), 1u);
    const Message m = messages.shown()[0];
    EXPECT_EQ(m.buttons, MsgButtons::YesNo);
    EXPECT_NE(m.text.find("No evaluation board was found."), std::string::npos);
    EXPECT_NE(m.text.find("check the cable"), std::string::npos);
    EXPECT_NE(m.text.find("demo"), std::string::npos);
    expectNoFpgaStep();
}

TEST_F(NoBoardBringUp, DecliningTheDemoLeavesTheProgramWithoutABoard)
{
    messages.queueAnswer(MsgAnswer::No);
    EXPECT_EQ(run(BoardAccess::NoBoard), kBringUpNoBoard);
    expectNoFpgaStep();
}

TEST_F(NoBoardBringUp, EachObstacleHasItsOwnMessage)
{
    struct Case {
        BoardAccess access;
        int result;
        const char* says;
    };
    for (const Case c : {Case{BoardAccess::NoAccess, kBringUpNoAccess, "udev rule 60-zelbo-usbbridge.rules"},
                         Case{BoardAccess::Busy, kBringUpBoardBusy, "in use by another program"},
                         Case{BoardAccess::Accessible, kBringUpOpenFailed, "start zelbo from a terminal"}}) {
        SCOPED_TRACE(c.says);
        messages.clear();
        observer.clear();
        fake().reset();
        EXPECT_EQ(run(c.access), c.result);
        ASSERT_EQ(messages.shown().size(), 1u);
        const Message m = messages.shown()[0];
        EXPECT_EQ(m.buttons, MsgButtons::Ok);
        EXPECT_EQ(m.icon, MsgIcon::Warning);
        EXPECT_NE(m.text.find(c.says), std::string::npos) << m.text;
        EXPECT_NE(m.text.find("/dev/bus/usb/001/004"), std::string::npos);
        expectNoFpgaStep();
    }
}

} // namespace
} // namespace zelbo::link::test
