// The libusb backend through real libusb, without hardware: umockdev fakes a
// /dev/bus/usb node and its sysfs device, and an ioctl handler answers the
// usbdevfs requests that libusb makes from the simulated board. The library
// is loaded after the fake bus exists, with the real (libusb) backend.
//
// The fake node is a regular file, so libusb's event loop spins while it
// waits; the tests stay short.

#include "board/sim_board_test.h"
#include "tests/usbbridge/library_path.h"
#include "usbbridge/usb_bridge.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// umockdev, GLib and libudev are not built with ThreadSanitizer; their own
// synchronisation (futexes, GLib atomics) is invisible to it.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions()
{
    return "race:libglib-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libumockdev.so\n"
           "race:libumockdev-preload.so\n"
           "race:libudev.so\n"
           "called_from_lib:libumockdev-preload.so\n";
}

namespace {

using namespace std::chrono_literals;
using simboard::Result;

// The bus between libusb and the simulated board: one device node at a time,
// re-created under the board's new address whenever the board re-enumerates.
class FakeBus {
public:
    // `port` empty: the board is the bus's only device (/sys/devices/usb1).
    // Otherwise it sits on that port of bus 1 ("1-2") with that serial.
    explicit FakeBus(std::string port = {}, std::string serial = {})
        : board_(simboard::Board::instance()), port_(std::move(port)), serial_(std::move(serial))
    {
        testbed_ = umockdev_testbed_new();
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&FakeBus::onIoctl), this);
        hub_ = std::thread([this] { hubLoop(); });
    }

    ~FakeBus()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        hub_.join();
        for (Urb& u : done_) g_object_unref(u.data);
        for (Urb& u : waiting_) g_object_unref(u.data);
        for (Urb& u : discarded_) g_object_unref(u.data);
        // The nodes' listeners first, so that umockdev's threads are done
        // with the handlers before the handlers go.
        for (const std::string& node : attached_) umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
        g_object_unref(handler_);
        if (other_ != nullptr) g_object_unref(other_);
        g_object_unref(testbed_);
    }

    // A second board of the class on another port: another FX2 with its own
    // serial, not the simulated one. It answers what opening it takes and
    // fails every transfer; what matters is whether anyone opens it.
    void plugInOther(const std::string& port, const std::string& serial)
    {
        other_ = umockdev_ioctl_base_new();
        g_signal_connect(other_, "handle-ioctl", G_CALLBACK(&FakeBus::onOtherIoctl), this);
        const char* node = "/dev/bus/usb/001/090";
        if (umockdev_testbed_attach_ioctl(testbed_, node, other_, nullptr)) {
            std::lock_guard<std::mutex> lock(m_);
            attached_.emplace_back(node);
        }
        umockdev_testbed_add_from_string(testbed_, sysfsEntry(port, serial, 90).c_str(), nullptr);
    }
    int otherIoctls() const { return otherIoctls_.load(); }

    void plugIn() { addDevice(); }

    // The board leaves the bus, as when its cable is pulled.
    void unplug()
    {
        simboard::Control().setPresent(false);
        std::lock_guard<std::mutex> lock(m_);
        removeDeviceLocked();
    }

    // Waits until the hub has caught up with the board's re-enumeration.
    bool settled(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, limit, [this] { return !cyclePending_; });
    }

    // One request through the fake node before the library is loaded: the
    // library opens the board from its load-time constructor, under the
    // dynamic loader's lock, and umockdev's handler thread must not be the
    // first to resolve its socket functions then (it would wait for that lock).
    // For the same reason the warm-up connection stays open until the library
    // is loaded (warmDown): when it closes, umockdev's thread reports the
    // socket's end through g_strerror, whose first call in the process reads
    // GLib's charset aliases through umockdev's fopen wrapper, which looks up
    // the real fopen with dlsym, and waits for the loader's lock. GLib's
    // charset is also settled here, on this thread, before any of that.
    void warmUp()
    {
        (void)g_get_charset(nullptr);
        (void)g_strerror(ECONNRESET);
        std::string node;
        {
            std::lock_guard<std::mutex> lock(m_);
            node = node_;
        }
        const int fd = ::open(node.c_str(), O_RDWR);
        ASSERT_GE(fd, 0) << node;
        guint32 caps = 0;
        EXPECT_EQ(::ioctl(fd, USBDEVFS_GET_CAPABILITIES, &caps), 0);
        warmFd_ = fd;
    }
    void warmDown()
    {
        if (warmFd_ >= 0) ::close(warmFd_);
        warmFd_ = -1;
    }

    int urbsSeen() const { return urbs_.load(); }
    int discards() const { return discards_.load(); }

private:
    struct Urb {
        UMockdevIoctlData* data;
        bool control;
        int status;
        int actual;
        std::vector<std::uint8_t> in;
    };

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
    {
        return static_cast<FakeBus*>(self)->handle(client) ? TRUE : FALSE;
    }

    static gboolean onOtherIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
    {
        // Claims succeed; anything else is a request it does not know (an
        // old kernel's answer to the capability query, a failed transfer).
        ++static_cast<FakeBus*>(self)->otherIoctls_;
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        const bool claim = request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE;
        umockdev_ioctl_client_complete(client, claim ? 0 : -1, claim ? 0 : ENOTTY);
        return TRUE;
    }

    std::string sysfsPath() const { return port_.empty() ? "/sys/devices/usb1" : "/sys/devices/usb1/" + port_; }

    // The sysfs entry of a board of the class at `port` ("" : the bus's
    // only device) under `addr`, with the simulated board's descriptors.
    std::string sysfsEntry(const std::string& port, const std::string& serial, unsigned addr)
    {
        std::vector<std::uint8_t> all = descriptor(0x0100, 18);
        const std::vector<std::uint8_t> head = descriptor(0x0200, 9);
        if (head.size() >= 4) {
            const std::vector<std::uint8_t> config =
                descriptor(0x0200, static_cast<std::uint16_t>(head[2] | head[3] << 8));
            all.insert(all.end(), config.begin(), config.end());
        }
        std::string hex;
        char b[3];
        for (std::uint8_t c : all) {
            std::snprintf(b, sizeof b, "%02x", c);
            hex += b;
        }
        char text[1024];
        std::snprintf(text, sizeof text,
                      "P: /devices/usb1%s%s\nN: bus/usb/001/%03u\nE: SUBSYSTEM=usb\nE: DRIVER=usb\nE: BUSNUM=001\n"
                      "E: DEVNUM=%03u\nE: DEVNAME=/dev/bus/usb/001/%03u\nE: DEVTYPE=usb_device\n"
                      "A: bConfigurationValue=1\\n\nA: busnum=1\\n\nA: devnum=%u\\n\nA: speed=480\\n\n"
                      "A: idVendor=04b4\\n\nA: idProduct=%02x%02x\\n\n%s"
                      "H: descriptors=%s\n",
                      port.empty() ? "" : "/", port.c_str(), addr, addr, addr, addr,
                      all.size() > 11 ? all[11] : 0, all.size() > 10 ? all[10] : 0,
                      serial.empty() ? "" : ("A: serial=" + serial + "\\n\n").c_str(), hex.c_str());
        return text;
    }

    bool stale(UMockdevIoctlClient* client)
    {
        std::lock_guard<std::mutex> lock(m_);
        return node_.empty() || node_ != umockdev_ioctl_client_get_devnode(client) || !board_.present();
    }

    bool handle(UMockdevIoctlClient* client)
    {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
            const guint32 caps = USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                                 USBDEVFS_CAP_ZERO_PACKET;
            std::memcpy(d->data, &caps, sizeof caps);
            g_object_unref(d);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_SETINTERFACE: {
            UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
            const auto* si = reinterpret_cast<const usbdevfs_setinterface*>(d->data);
            simboard::Setup s{0x01, 11, static_cast<std::uint16_t>(si->altsetting),
                              static_cast<std::uint16_t>(si->interface), 0};
            const bool ok = !stale(client) && board_.control(s, nullptr, 100).result == Result::Ok;
            g_object_unref(d);
            umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EPIPE);
            return true;
        }
        case USBDEVFS_RESET:
            if (stale(client)) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return true;
            }
            board_.cyclePort();
            {
                std::lock_guard<std::mutex> lock(m_);
                cyclePending_ = true;
            }
            cv_.notify_all();
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_SUBMITURB: return submit(client, arg);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: return reap(client, arg);
        case USBDEVFS_DISCARDURB: {
            const gulong addr = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
            std::lock_guard<std::mutex> lock(m_);
            for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
                if (it->data->client_addr == addr) {
                    it->status = -ENOENT;
                    discarded_.splice(discarded_.end(), waiting_, it);
                    ++discards_;
                    umockdev_ioctl_client_complete(client, 0, 0);
                    return true;
                }
            }
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return true;
        }
        default:
            return false;
        }
    }

    bool submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        if (stale(client)) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
        ++urbs_;
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        UMockdevIoctlData* buf = umockdev_ioctl_data_resolve(urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                             static_cast<gsize>(urb->buffer_length), nullptr);
        Urb u{urbData, urb->type == USBDEVFS_URB_TYPE_CONTROL, 0, 0, {}};
        Result r = Result::Error;
        std::size_t got = 0;
        if (u.control && urb->buffer_length >= 8) {
            const std::uint8_t* p = buf->data;
            simboard::Setup s{p[0], p[1], static_cast<std::uint16_t>(p[2] | p[3] << 8),
                              static_cast<std::uint16_t>(p[4] | p[5] << 8), static_cast<std::uint16_t>(p[6] | p[7] << 8)};
            std::vector<std::uint8_t> data(buf->data + 8, buf->data + urb->buffer_length);
            const simboard::Transfer t = board_.control(s, data.data(), 100);
            r = t.result;
            got = t.length;
            if (s.bmRequestType & 0x80) u.in.assign(data.begin(), data.begin() + static_cast<long>(std::min(got, data.size())));
        } else if (urb->endpoint & 0x80) {
            u.in.resize(static_cast<std::size_t>(urb->buffer_length));
            const simboard::Transfer t = board_.bulkIn(urb->endpoint, u.in.data(), u.in.size(), 100);
            r = t.result;
            got = t.length;
            u.in.resize(std::min(got, u.in.size()));
        } else {
            const simboard::Transfer t =
                board_.bulkOut(urb->endpoint, buf->data, static_cast<std::size_t>(urb->buffer_length), 100);
            r = t.result;
            got = t.length;
        }
        g_object_unref(buf);
        u.actual = static_cast<int>(got);
        switch (r) {
        case Result::Ok: break;
        case Result::Stall: u.status = -EPIPE; break;
        case Result::NoDevice: u.status = -ESHUTDOWN; break;
        case Result::Timeout: break; // the request stays on the bus until it is discarded
        case Result::Error: u.status = -EPROTO; break;
        }
        {
            std::lock_guard<std::mutex> lock(m_);
            (r == Result::Timeout ? waiting_ : done_).push_back(std::move(u));
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }

    bool reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        Urb u{};
        {
            std::lock_guard<std::mutex> lock(m_);
            const bool gone = node_ != umockdev_ioctl_client_get_devnode(client) || !board_.present();
            if (gone) {
                for (Urb& w : waiting_) w.status = -ESHUTDOWN;
                done_.splice(done_.end(), waiting_);
            }
            std::list<Urb>* from = !discarded_.empty() ? &discarded_ : !done_.empty() ? &done_ : nullptr;
            if (from == nullptr) {
                umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
                return true;
            }
            u = std::move(from->front());
            from->pop_front();
        }
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
        urb->status = u.status;
        urb->actual_length = u.status == 0 ? u.actual : 0;
        if (u.status == 0 && !u.in.empty())
            std::memcpy(static_cast<std::uint8_t*>(urb->buffer) + (u.control ? 8 : 0), u.in.data(), u.in.size());
        UMockdevIoctlData* ptr = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(ptr, 0, u.data);
        g_object_unref(ptr);
        g_object_unref(u.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }

    std::vector<std::uint8_t> descriptor(std::uint16_t wValue, std::uint16_t length)
    {
        std::vector<std::uint8_t> d(length);
        const simboard::Transfer t = board_.control({0x80, 6, wValue, 0, length}, d.data(), 100);
        d.resize(t.result == Result::Ok ? t.length : 0);
        return d;
    }

    void addDevice()
    {
        const unsigned addr = board_.deviceAddress();
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", addr);
        const std::string entry = sysfsEntry(port_, serial_, addr);
        const bool attached = umockdev_testbed_attach_ioctl(testbed_, node, handler_, nullptr);
        std::lock_guard<std::mutex> lock(m_);
        if (attached) attached_.emplace_back(node);
        node_ = node;
        umockdev_testbed_add_from_string(testbed_, entry.c_str(), nullptr);
    }

    void removeDeviceLocked()
    {
        if (node_.empty()) return;
        umockdev_testbed_uevent(testbed_, sysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, sysfsPath().c_str());
        node_.clear();
    }

    // Plays the kernel's hub driver: the old device goes, the new one comes.
    void hubLoop()
    {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || cyclePending_; });
            if (stop_) return;
            removeDeviceLocked();
            lock.unlock();
            std::this_thread::sleep_for(30ms); // the bus is quiet for a moment
            if (board_.present()) addDevice();
            lock.lock();
            cyclePending_ = false;
            cv_.notify_all();
        }
    }

    simboard::Board& board_;
    const std::string port_, serial_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    UMockdevIoctlBase* other_ = nullptr;
    std::atomic<int> otherIoctls_{0};
    std::mutex m_;
    std::condition_variable cv_;
    std::string node_;
    std::vector<std::string> attached_; // every node given a listener
    std::list<Urb> done_, waiting_, discarded_;
    bool cyclePending_ = false;
    bool stop_ = false;
    std::atomic<int> urbs_{0};
    std::atomic<int> discards_{0};
    int warmFd_ = -1;
    std::thread hub_;
};

struct Exports {
    void* lib = nullptr;
    decltype(&USB_Check) check = nullptr;
    decltype(&USB_Init) init = nullptr;
    decltype(&download) load = nullptr;
    decltype(&USB_BulkWrite) bulkWrite = nullptr;
    decltype(&USB_BulkRead) bulkRead = nullptr;
    decltype(&SendVendorRequest) vendor = nullptr;
    decltype(&StringDesc1) desc1 = nullptr;
    decltype(&GetPID) pid = nullptr;
    decltype(&GetDeviceID) deviceId = nullptr;
    decltype(&OpenUSBDevice) openDevice = nullptr;
    decltype(&USB_Close) close = nullptr;

    template <typename F>
    void bind(F& f, const char* name)
    {
        f = reinterpret_cast<F>(dlsym(lib, name));
        ASSERT_NE(f, nullptr) << name;
    }
    void load_()
    {
        ::unsetenv("ZELBO_BOARD");
        lib = dlopen(bridgeLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        bind(check, "USB_Check");
        bind(init, "USB_Init");
        bind(load, "download");
        bind(bulkWrite, "USB_BulkWrite");
        bind(bulkRead, "USB_BulkRead");
        bind(vendor, "SendVendorRequest");
        bind(desc1, "StringDesc1");
        bind(pid, "GetPID");
        bind(deviceId, "GetDeviceID");
        bind(openDevice, "OpenUSBDevice");
        bind(close, "USB_Close");
    }
};

struct LibusbBackend : ::testing::Test {
    simboard::Control board;
    std::unique_ptr<FakeBus> bus;
    Exports x;

    void SetUp() override
    {
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(20ms);
        bus = std::make_unique<FakeBus>();
        bus->plugIn();
        bus->warmUp();
        x.load_();
        bus->warmDown();
    }
    void TearDown() override
    {
        bus->warmDown();
        if (x.lib) dlclose(x.lib);
        bus.reset();
        board.reset();
    }
};

// The bare board found, given its firmware and found again under its new
// address; the handle of the board then open.
int firmwareDownloaded(Exports& x, simboard::Control& board, FakeBus& bus)
{
    EXPECT_EQ(x.check("CYUSB FX2"), 0); // bare FX2: no manufacturer string
    EXPECT_EQ(x.check("CYUSB FX2"), -1);
    // download() enumerates the bare board again, loads, releases, cycles
    // the port and finds the board under its new address.
    EXPECT_EQ(x.load(), 1);
    EXPECT_TRUE(board.firmwareRunning());
    EXPECT_TRUE(bus.settled(1s));
    EXPECT_EQ(x.check("CYUSB FX2"), 1);
    const int handle = x.init("CYUSB FX2");
    EXPECT_NE(handle, 0);
    return handle;
}

TEST_F(LibusbBackend, BareBoardTakesTheFirmwareAndComesBackUnderANewAddress)
{
    const int handle = firmwareDownloaded(x, board, *bus);
    if (HasFailure()) return;
    EXPECT_EQ(x.pid(), 0x8613u);
    char text[256] = {};
    x.desc1(text);
    EXPECT_STREQ(text, "CYUSB FX2");
    x.deviceId(text);
    EXPECT_NE(std::strstr(text, "bus 1"), nullptr) << text;

    unsigned char b[6] = {};
    EXPECT_EQ(x.vendor(1, 0xB4, 8, 0xBEEF, b, 2), 1);
    EXPECT_EQ(b[1], 8);
    EXPECT_EQ(x.vendor(1, 0xB6, 0, 0xBEEF, b, 1), 0); // stalls

    unsigned char block[512];
    for (int i = 0; i < 512; ++i) block[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(x.bulkWrite(block, 512, 2), 0);
    board.queueResponseBlock(std::vector<std::uint8_t>(512, 0xA5));
    std::memset(block, 0, sizeof block);
    EXPECT_EQ(x.bulkRead(block, 512, 1), 0);
    EXPECT_EQ(block[0], 0xA5);
    EXPECT_EQ(block[511], 0xA5);
    x.close(handle);
}

TEST_F(LibusbBackend, TimeOutIsAbortedAndAVanishingBoardFailsItsTransfer)
{
    board.startFirmware();
    bus->unplug();
    board.setPresent(true);
    board.startFirmware();
    bus->plugIn();
    // The handle of load time belongs to a device that has gone; the check
    // finds the board under its new address.
    ASSERT_EQ(x.check("CYUSB FX2"), 1);
    ASSERT_EQ(x.openDevice(), 1); // 1500 ms time-outs on the bulk endpoints

    unsigned char block[512] = {};
    board.timeoutBulkWrites(1);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(x.bulkWrite(block, 512, 2), 1);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 4s);
    EXPECT_EQ(bus->discards(), 1); // the transfer was cancelled on the bus
    EXPECT_EQ(x.bulkWrite(block, 512, 2), 0);

    // A read waits for a block that never comes; the board is pulled meanwhile.
    std::thread puller([this] {
        std::this_thread::sleep_for(200ms);
        bus->unplug();
    });
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(x.bulkRead(block, 512, 1), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 1400ms); // ended by the loss, not the time-out
    puller.join();
    EXPECT_EQ(x.check("CYUSB FX2"), 0);
    EXPECT_EQ(x.bulkWrite(block, 512, 2), 6);
}

// Two boards on the bus: ZELBO_USB_BOARD, read when the library is loaded,
// chooses one by serial or USB path. The other board sits on the lower port,
// so that without the choice it would be the first one found.
struct TwoBoards : ::testing::Test {
    simboard::Control board;
    std::unique_ptr<FakeBus> bus;
    Exports x;

    void load(const char* chosen)
    {
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(20ms);
        bus = std::make_unique<FakeBus>("1-2", "SIM-B");
        bus->plugInOther("1-1", "OTHER-A");
        bus->plugIn();
        bus->warmUp();
        ::setenv("ZELBO_USB_BOARD", chosen, 1);
        x.load_();
        ::unsetenv("ZELBO_USB_BOARD");
        bus->warmDown();
    }
    void TearDown() override
    {
        if (bus) bus->warmDown();
        if (x.lib) dlclose(x.lib);
        x.lib = nullptr;
        bus.reset();
        board.reset();
    }
};

TEST_F(TwoBoards, TheBoardNamedBySerialIsFollowedThroughItsFirmwareDownload)
{
    load("SIM-B");
    // Back under a new address on the same port: still the chosen board.
    const int handle = firmwareDownloaded(x, board, *bus);
    unsigned char b[2] = {};
    EXPECT_EQ(x.vendor(1, 0xB4, 8, 0xBEEF, b, 2), 1);
    EXPECT_EQ(b[1], 8);
    x.close(handle);
    EXPECT_EQ(bus->otherIoctls(), 0) << "the other board was opened";
}

TEST_F(TwoBoards, ThePathChoosesTheOtherAndAnAbsentSerialNeither)
{
    load("1-1");
    EXPECT_NE(x.check("CYUSB FX2"), 1);
    EXPECT_GT(bus->otherIoctls(), 0);
    EXPECT_EQ(bus->urbsSeen(), 0) << "the simulated board was opened";
    TearDown();

    load("NOT-THERE");
    EXPECT_NE(x.check("CYUSB FX2"), 1);
    EXPECT_EQ(x.openDevice(), 0);
    EXPECT_EQ(bus->otherIoctls(), 0);
    EXPECT_EQ(bus->urbsSeen(), 0);
}

} // namespace
