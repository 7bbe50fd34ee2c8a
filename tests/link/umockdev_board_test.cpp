// Bring-up through the real bridge library and real libusb, with umockdev
// standing in for the kernel's USB bus: no board at all, a board whose device
// node the user may not open, a board that another program holds. Each ends
// in its own message, none in an FPGA error. Each case is a process of its own
// (CTest runs them one by one), because the library opens the bus once, when
// it is loaded.

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "tests/link/link_fixture.h"

namespace zelbo::link::test {
namespace {

// The FX2 with the board's firmware: device and configuration descriptors
// (one interface, bulk OUT 0x04 and bulk IN 0x82).
constexpr const char* kDescriptors = "12010002ffffff40b4041386000001020001"
                                     "0902200001010080320904000002ff000000"
                                     "07050402000200"
                                     "07058202000200";

class RealBus : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        testbed_ = umockdev_testbed_new();
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&RealBus::onIoctl), nullptr);
        // The real library beside the image, as in the program's folder.
        std::error_code ec;
        std::filesystem::create_symlink(programFolder() / kBridgeLibraryName, folder / kBridgeLibraryName, ec);
        options.bridgeFactory = nullptr;
        options.clock = nullptr;
    }
    void TearDown() override
    {
        link.reset();
        // The node's listener first, so that umockdev's thread is done with
        // the handler before the handler goes.
        if (attached_) umockdev_testbed_detach_ioctl(testbed_, kNode, nullptr);
        g_object_unref(handler_);
        g_object_unref(testbed_);
        LinkTest::TearDown();
    }

    // The board on bus 1 at address 2, its node answering through the handler.
    void plugIn(bool busy)
    {
        busy_.store(busy);
        attached_ = umockdev_testbed_attach_ioctl(testbed_, kNode, handler_, nullptr);
        ASSERT_TRUE(umockdev_testbed_add_from_string(
            testbed_,
            (std::string("P: /devices/usb1\nN: bus/usb/001/002\nE: SUBSYSTEM=usb\nE: DRIVER=usb\n"
                         "E: BUSNUM=001\nE: DEVNUM=002\nE: DEVNAME=/dev/bus/usb/001/002\nE: DEVTYPE=usb_device\n"
                         "A: idVendor=04b4\\n\nA: idProduct=8613\\n\n"
                         "A: bConfigurationValue=1\\n\nA: busnum=1\\n\nA: devnum=2\\n\nA: speed=480\\n\n"
                         "H: descriptors=") +
             kDescriptors + "\n")
                .c_str(),
            nullptr));
        if (busy) {
            // What the kernel shows while a program holds the interface.
            const std::string sys = umockdev_testbed_get_sys_dir(testbed_);
            std::filesystem::create_directories(sys + "/bus/usb/drivers/usbfs");
            std::filesystem::create_directories(sys + "/devices/usb1/usb1:1.0");
            std::filesystem::create_directory_symlink(sys + "/bus/usb/drivers/usbfs",
                                                      sys + "/devices/usb1/usb1:1.0/driver");
        }
    }
    std::string nodeFile() const { return std::string(umockdev_testbed_get_root_dir(testbed_)) + kNode; }

    // One request through the node before the library is loaded, so that the
    // handler thread has its socket functions resolved before the library
    // opens the board under the dynamic loader's lock.
    void warmUp()
    {
        const int fd = ::open(kNode, O_RDWR);
        ASSERT_GE(fd, 0);
        unsigned caps = 0;
        EXPECT_EQ(::ioctl(fd, USBDEVFS_GET_CAPABILITIES, &caps), 0);
        ::close(fd);
    }

    int bringUp()
    {
        auto& l = make();
        return start(l);
    }

    void expectNoFpgaError()
    {
        for (const auto& line : observer.log()) EXPECT_EQ(line.find("FPGA"), std::string::npos) << line;
        for (const auto& t : messages.texts()) EXPECT_EQ(t.find("FPGA"), std::string::npos) << t;
        EXPECT_TRUE(observer.has("status:Not Ready..."));
        EXPECT_FALSE(link->active());
    }

    static constexpr const char* kNode = "/dev/bus/usb/001/002";

private:
    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer)
    {
        const bool busy = busy_.load();
        switch (umockdev_ioctl_client_get_request(client)) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* d =
                umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(guint32), nullptr);
            const guint32 caps = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
            std::memcpy(d->data, &caps, sizeof caps);
            g_object_unref(d);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER: umockdev_ioctl_client_complete(client, -1, ENODATA); return TRUE;
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_CLAIMINTERFACE:
            umockdev_ioctl_client_complete(client, busy ? -1 : 0, busy ? EBUSY : 0);
            return TRUE;
        default: umockdev_ioctl_client_complete(client, -1, ENOTTY); return TRUE;
        }
    }

    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    bool attached_ = false;
    // Read on umockdev's handler thread, whose hand-over TSan cannot see, and
    // which may outlive the fixture: so process-wide (each case is a process).
    static inline std::atomic<bool> busy_{false};
};

TEST_F(RealBus, NoBoardSaysSoAndOffersTheDemo)
{
    messages.queueAnswer(MsgAnswer::No);
    EXPECT_EQ(bringUp(), kBringUpNoBoard);
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.texts()[0].find("No evaluation board was found."), std::string::npos);
    EXPECT_NE(messages.texts()[0].find("Start the demo"), std::string::npos);
    EXPECT_EQ(messages.shown()[0].buttons, MsgButtons::YesNo);
    expectNoFpgaError();
}

TEST_F(RealBus, ClaimedInterfaceNamesTheOtherProgram)
{
    plugIn(true);
    warmUp();
    EXPECT_EQ(bringUp(), kBringUpBoardBusy);
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.texts()[0].find("in use by another program"), std::string::npos) << messages.texts()[0];
    expectNoFpgaError();
}

// Device nodes without the udev rule belong to root alone. Root opens any
// file, so the case runs as an ordinary user (nobody) when started as root.
class RealBusAsUser : public RealBus {
protected:
    void SetUp() override
    {
        if (::geteuid() == 0) {
            ASSERT_EQ(::setgroups(0, nullptr), 0);
            ASSERT_EQ(::setgid(65534), 0);
            ASSERT_EQ(::setuid(65534), 0);
        }
        RealBus::SetUp();
    }
};

TEST_F(RealBusAsUser, InaccessibleNodeNamesTheUdevRule)
{
    plugIn(false);
    ASSERT_EQ(::chmod(nodeFile().c_str(), 0), 0);
    EXPECT_EQ(bringUp(), kBringUpNoAccess);
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.texts()[0].find("udev rule 60-zelbo-usbbridge.rules"), std::string::npos)
        << messages.texts()[0];
    EXPECT_NE(messages.texts()[0].find(kNode), std::string::npos);
    expectNoFpgaError();
}

} // namespace
} // namespace zelbo::link::test
