// The libusb-1.0 backend: real boards. Devices of the class are the FX2 with
// the board's firmware (04b4:8613) and the loader identity (04b4:1002).
// Transfers are libusb asynchronous transfers; the waiting thread runs
// libusb's event handling itself, so no thread of our own is needed. A
// time-out is the layer's business: it aborts the endpoint, which cancels the
// transfers in flight, and then waits for their completion.

#include "usbbridge/driver.h"
#include "common/log.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace usbbridge {

namespace {

libusb_log_level libusbLevel(zelbo::log::Level level)
{
    switch (level) {
    case zelbo::log::Level::Error: return LIBUSB_LOG_LEVEL_ERROR;
    case zelbo::log::Level::Warning: return LIBUSB_LOG_LEVEL_WARNING;
    case zelbo::log::Level::Info: return LIBUSB_LOG_LEVEL_INFO;
    case zelbo::log::Level::Debug: return LIBUSB_LOG_LEVEL_DEBUG;
    }
    return LIBUSB_LOG_LEVEL_WARNING;
}

bool isClassDevice(const libusb_device_descriptor& d)
{
    return d.idVendor == 0x04B4 && (d.idProduct == 0x8613 || d.idProduct == 0x1002);
}

void storeStatus(std::uint8_t* record, int status)
{
    std::uint32_t usbd = 0, nt = 0;
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: break;
    case LIBUSB_TRANSFER_STALL: usbd = kUsbdStall; nt = kNtUnsuccessful; break;
    case LIBUSB_TRANSFER_CANCELLED:
    case LIBUSB_TRANSFER_TIMED_OUT: usbd = kUsbdCanceled; nt = kNtCancelled; break;
    case LIBUSB_TRANSFER_NO_DEVICE: usbd = kUsbdDeviceGone; nt = kNtNoSuchDevice; break;
    default: usbd = kUsbdError; nt = kNtUnsuccessful; break;
    }
    putU32(record + 14, nt);
    putU32(record + 18, usbd);
}

int transferStatusOf(int libusbError)
{
    switch (libusbError) {
    case LIBUSB_ERROR_PIPE: return LIBUSB_TRANSFER_STALL;
    case LIBUSB_ERROR_TIMEOUT: return LIBUSB_TRANSFER_TIMED_OUT;
    case LIBUSB_ERROR_NO_DEVICE: return LIBUSB_TRANSFER_NO_DEVICE;
    default: return LIBUSB_TRANSFER_ERROR;
    }
}

// The kernel's name for a device's place on the bus, as /sys/bus/usb/devices
// lists it: the bus, then the ports from the root hub down ("1-4.2"). It
// stays when the device re-enumerates under a new address.
std::string usbPathOf(libusb_device* d)
{
    std::uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(d, ports, sizeof ports);
    std::string path = std::to_string(libusb_get_bus_number(d));
    if (depth <= 0) return "usb" + path; // a root hub
    for (int i = 0; i < depth; ++i) {
        path += i == 0 ? '-' : '.';
        path += std::to_string(ports[i]);
    }
    return path;
}

// The serial number the kernel read from the device ("" when it has none).
// Read from sysfs rather than asked of the device: a board that another
// process drives is not disturbed by a look at it.
std::string serialOf(const std::string& usbPath)
{
    std::string serial;
    if (std::FILE* f = std::fopen(("/sys/bus/usb/devices/" + usbPath + "/serial").c_str(), "r")) {
        char line[256];
        if (std::fgets(line, sizeof line, f) != nullptr) serial = line;
        std::fclose(f);
    }
    serial.erase(serial.find_last_not_of("\r\n ") + 1);
    return serial;
}

// A libusb error on the log (error level), with libusb's own name for it and, where the user
// can do something about it, what. The same line is not repeated back to back
// (the loaders open the board several times while they wait for it).
void reportError(const char* what, unsigned bus, unsigned address, int rc)
{
    const char* hint = "";
    if (rc == LIBUSB_ERROR_ACCESS)
        hint = "; the board is not accessible: install the udev rule 60-zelbo-usbbridge.rules";
    else if (rc == LIBUSB_ERROR_BUSY)
        hint = "; another program holds the board";
    char line[512];
    std::snprintf(line, sizeof line, "UsbBridge: %s /dev/bus/usb/%03u/%03u: %s (%s)%s", what, bus, address,
                  libusb_error_name(rc), libusb_strerror(rc), hint);
    static std::mutex m;
    static std::string last;
    std::lock_guard<std::mutex> lock(m);
    if (last == line) return;
    last = line;
    zelbo::log::error(line);
}

class LibusbDriver;

class LibusbRequest final : public PendingRequest {
public:
    LibusbRequest(LibusbDriver& driver, DriverHandle h, std::uint8_t endpoint, std::uint8_t* record,
                  std::uint32_t header, bool control)
        : driver_(driver), handle_(h), endpoint_(endpoint), record_(record), header_(header), control_(control)
    {
        transfer_ = libusb_alloc_transfer(0);
    }
    ~LibusbRequest() override;

    bool wait(std::uint32_t timeoutMs) override;
    bool result(std::uint32_t& bytes) override
    {
        if (!completed_.load()) {
            bytes = 0;
            return false;
        }
        const int status = transfer_->status;
        storeStatus(record_, status);
        if (status != LIBUSB_TRANSFER_COMPLETED) {
            bytes = 0;
            return false;
        }
        const int actual = std::max(0, transfer_->actual_length);
        if (control_ && (transfer_->buffer[0] & 0x80) && actual > 0)
            std::copy_n(libusb_control_transfer_get_data(transfer_), actual, record_ + TransferRecord::kSize);
        bytes = header_ + static_cast<std::uint32_t>(actual);
        return true;
    }

    static void LIBUSB_CALL done(libusb_transfer* t)
    {
        static_cast<LibusbRequest*>(t->user_data)->completed_.store(true);
    }

    libusb_transfer* transfer_ = nullptr;
    std::vector<std::uint8_t> setupBlock; // control: SETUP packet + data
    std::atomic<bool> completed_{false};
    LibusbDriver& driver_;
    DriverHandle handle_;
    std::uint8_t endpoint_;
    std::uint8_t* record_;
    std::uint32_t header_;
    bool control_;
};

class LibusbDriver final : public Driver {
public:
    explicit LibusbDriver(std::string board) : board_(std::move(board))
    {
        const int rc = libusb_init(&ctx_);
        if (rc != 0) {
            ctx_ = nullptr;
            zelbo::log::writef(zelbo::log::Level::Error,
                        "UsbBridge: libusb could not be initialised (%s); no USB devices are available",
                        libusb_error_name(rc));
        } else if (zelbo::log::chosen()) {
            // libusb's own messages follow the program's level once one was
            // chosen (LIBUSB_DEBUG, when set, still wins inside libusb).
            libusb_set_option(ctx_, LIBUSB_OPTION_LOG_LEVEL, libusbLevel(zelbo::log::level()));
        }
    }
    ~LibusbDriver() override
    {
        for (auto& [h, s] : handles_) closeState(s);
        handles_.clear();
        if (lastList_ != nullptr) libusb_free_device_list(lastList_, 1);
        if (ctx_ != nullptr) libusb_exit(ctx_);
    }

    unsigned deviceCount() override { return static_cast<unsigned>(classDevices().size()); }

    std::uint64_t deviceInstance(unsigned n) override
    {
        auto list = classDevices();
        if (n >= list.size()) return 0;
        return instanceOf(list[n].dev);
    }

    DriverHandle open(unsigned n, std::string& path) override
    {
        auto list = classDevices();
        if (n >= list.size()) return kInvalidHandle;
        libusb_device* dev = list[n].dev;
        libusb_device_handle* dh = nullptr;
        const unsigned bus = libusb_get_bus_number(dev), address = libusb_get_device_address(dev);
        if (const int rc = libusb_open(dev, &dh); rc != 0) {
            reportError("cannot open", bus, address, rc);
            return kInvalidHandle;
        }
        libusb_set_auto_detach_kernel_driver(dh, 1);
        // Without the interface no transfer can succeed: an open that cannot
        // claim it fails here, rather than later as a misleading board error.
        if (const int rc = libusb_claim_interface(dh, 0); rc != 0) {
            reportError("cannot claim interface 0 of", bus, address, rc);
            libusb_close(dh);
            return kInvalidHandle;
        }
        State s;
        s.dh = dh;
        s.bus = static_cast<std::uint8_t>(bus);
        s.address = static_cast<std::uint8_t>(address);
        s.speed = libusb_get_device_speed(dev);
        s.desc = list[n].desc;
        s.claimed = true;
        char buf[64];
        std::snprintf(buf, sizeof buf, "/dev/bus/usb/%03u/%03u", s.bus, s.address);
        path = buf;
        std::lock_guard<std::mutex> lock(mutex_);
        const DriverHandle h = nextHandle_++;
        handles_.emplace(h, s);
        return h;
    }

    bool close(DriverHandle h) override
    {
        State s;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = handles_.find(h);
            if (it == handles_.end()) return false;
            s = it->second;
            handles_.erase(it);
        }
        closeState(s);
        return true;
    }

    bool ioctl(DriverHandle h, std::uint32_t code, std::uint8_t* buf, std::size_t inLen, std::size_t outLen,
               std::uint32_t& returned) override
    {
        returned = 0;
        State* s = state(h);
        if (s == nullptr) return false;
        switch (code) {
        case req::kDriverVersion:
        case req::kStackVersion:
        case req::kBusSpeed: {
            if (outLen < 4) return false;
            std::uint32_t v = kOurDriverVersion;
            if (code == req::kStackVersion) {
                const libusb_version* lv = libusb_get_version();
                v = static_cast<std::uint32_t>(lv->major << 24 | lv->minor << 16 | lv->micro << 8);
            } else if (code == req::kBusSpeed) {
                v = s->speed >= LIBUSB_SPEED_HIGH ? 2u : 1u;
            }
            putU32(buf, v);
            returned = 4;
            return true;
        }
        case req::kGetAltSetting:
            if (outLen < 1) return false;
            buf[0] = s->alt;
            returned = 1;
            return true;
        case req::kSetAltSetting:
            if (inLen < 1 || libusb_set_interface_alt_setting(s->dh, 0, buf[0]) != 0) return false;
            s->alt = buf[0];
            return true;
        case req::kUsbAddress:
            if (outLen < 1) return false;
            buf[0] = s->address;
            returned = 1;
            return true;
        case req::kControl: {
            if (inLen < TransferRecord::kSize) return false;
            const TransferRecord rec = TransferRecord::load(buf);
            if (rec.wLength > inLen - TransferRecord::kSize) return false;
            const int r = libusb_control_transfer(s->dh, rec.bmRequestType, rec.bRequest, rec.wValue, rec.wIndex,
                                                  buf + TransferRecord::kSize, rec.wLength,
                                                  rec.timeoutSeconds * 1000);
            storeStatus(buf, r >= 0 ? LIBUSB_TRANSFER_COMPLETED : transferStatusOf(r));
            if (r < 0) return false;
            returned = static_cast<std::uint32_t>(TransferRecord::kSize + r);
            return true;
        }
        case req::kCyclePort: {
            // The device comes back under a new address; this handle then
            // belongs to a device that is gone, which libusb reports as "not
            // found". The port was cycled all the same.
            const int r = libusb_reset_device(s->dh);
            return r == 0 || r == LIBUSB_ERROR_NOT_FOUND || r == LIBUSB_ERROR_NO_DEVICE;
        }
        case req::kSetTransferSize:
            // libusb submits each transfer whole; there is no size to set.
            return inLen >= 5;
        case req::kDeviceName:
        case req::kFriendlyName: {
            char text[256];
            if (code == req::kDeviceName) {
                std::snprintf(text, sizeof text, "/dev/bus/usb/%03u/%03u", s->bus, s->address);
            } else {
                unsigned char product[200] = {};
                if (s->desc.iProduct == 0 ||
                    libusb_get_string_descriptor_ascii(s->dh, s->desc.iProduct, product, sizeof product) <= 0)
                    std::snprintf(reinterpret_cast<char*>(product), sizeof product, "USB device %04x:%04x",
                                  s->desc.idVendor, s->desc.idProduct);
                std::snprintf(text, sizeof text, "%s (bus %u, address %u)", reinterpret_cast<char*>(product),
                              s->bus, s->address);
            }
            const std::size_t n = std::min(outLen, std::strlen(text) + 1);
            std::memcpy(buf, text, n);
            returned = static_cast<std::uint32_t>(n);
            return n > 0;
        }
        case req::kAbortPipe: {
            if (inLen < 1) return false;
            std::lock_guard<std::mutex> lock(mutex_);
            for (LibusbRequest* r : s->inFlight)
                if (r->endpoint_ == buf[0] && !r->completed_.load()) libusb_cancel_transfer(r->transfer_);
            return true;
        }
        default:
            return false;
        }
    }

    Submission submit(DriverHandle h, std::uint32_t code, std::uint8_t* in, std::size_t inLen, std::uint8_t* out,
                      std::size_t outLen, std::uint32_t) override
    {
        State* s = state(h);
        if (s == nullptr || inLen < TransferRecord::kSize) return Submission{kErrorInvalidParameter, nullptr};
        const TransferRecord rec = TransferRecord::load(in);
        std::unique_ptr<LibusbRequest> r;
        if (code == req::kControl) {
            if (rec.dataOffset != TransferRecord::kSize || rec.wLength > inLen - TransferRecord::kSize)
                return Submission{kErrorInvalidParameter, nullptr};
            r = std::make_unique<LibusbRequest>(*this, h, 0, in, TransferRecord::kSize, true);
            r->setupBlock.assign(LIBUSB_CONTROL_SETUP_SIZE + rec.wLength, 0);
            libusb_fill_control_setup(r->setupBlock.data(), rec.bmRequestType, rec.bRequest, rec.wValue, rec.wIndex,
                                      rec.wLength);
            if (!(rec.bmRequestType & 0x80))
                std::copy_n(in + TransferRecord::kSize, rec.wLength, r->setupBlock.data() + LIBUSB_CONTROL_SETUP_SIZE);
            libusb_fill_control_transfer(r->transfer_, s->dh, r->setupBlock.data(), &LibusbRequest::done, r.get(),
                                         rec.timeoutSeconds * 1000);
        } else if (code == req::kBufferedXfer || code == req::kDirectXfer) {
            if (rec.isoPacketLength != 0) return Submission{kErrorInvalidParameter, nullptr}; // isochronous: not supported
            std::uint8_t* data = out;
            std::size_t length = outLen;
            std::uint32_t header = 0;
            if (code == req::kBufferedXfer) {
                if (rec.dataOffset > inLen || rec.dataLength > inLen - rec.dataOffset)
                    return Submission{kErrorInvalidParameter, nullptr};
                data = in + rec.dataOffset;
                length = rec.dataLength;
                header = rec.dataOffset;
            }
            if (length > static_cast<std::size_t>(INT32_MAX)) return Submission{kErrorInvalidParameter, nullptr};
            r = std::make_unique<LibusbRequest>(*this, h, rec.endpointAddress, in, header, false);
            libusb_fill_bulk_transfer(r->transfer_, s->dh, rec.endpointAddress, data, static_cast<int>(length),
                                      &LibusbRequest::done, r.get(), 0);
        } else {
            return Submission{kErrorInvalidParameter, nullptr};
        }
        if (r->transfer_ == nullptr) return Submission{kErrorGenFailure, nullptr};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            s->inFlight.push_back(r.get());
        }
        const int rc = libusb_submit_transfer(r->transfer_);
        if (rc != 0) {
            if (rc != LIBUSB_ERROR_NO_DEVICE) reportError("cannot submit a transfer to", s->bus, s->address, rc);
            forget(h, r.get());
            storeStatus(in, transferStatusOf(rc));
            return Submission{rc == LIBUSB_ERROR_NO_DEVICE ? kErrorNoDevice : kErrorGenFailure, nullptr};
        }
        return Submission{kErrorIoPending, std::move(r)};
    }

    // Runs libusb's events until `flag` is set or the time is up.
    bool handleEvents(std::atomic<bool>& flag, std::uint32_t timeoutMs)
    {
        using Clock = std::chrono::steady_clock;
        const bool forever = timeoutMs == UINT32_MAX;
        const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
        while (!flag.load()) {
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (!forever && left.count() <= 0) return false;
            if (forever || left > std::chrono::milliseconds(100)) left = std::chrono::milliseconds(100);
            timeval tv{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
            int completed = 0;
            libusb_handle_events_timeout_completed(ctx_, &tv, &completed);
        }
        return true;
    }

    void forget(DriverHandle h, LibusbRequest* r)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(h);
        if (it == handles_.end()) return;
        auto& v = it->second.inFlight;
        v.erase(std::remove(v.begin(), v.end(), r), v.end());
    }

private:
    struct State {
        libusb_device_handle* dh = nullptr;
        std::uint8_t bus = 0, address = 0, alt = 0;
        int speed = 0;
        bool claimed = false;
        libusb_device_descriptor desc{};
        std::vector<LibusbRequest*> inFlight;
    };
    struct Found {
        libusb_device* dev;
        libusb_device_descriptor desc;
    };

    // The present devices of the class, in bus order. The list keeps the
    // devices referenced until the next call.
    std::vector<Found> classDevices()
    {
        std::vector<Found> found;
        if (ctx_ == nullptr) return found;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx_, &list);
        if (n < 0) return found;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list[i], &d) == 0 && isClassDevice(d)) found.push_back({list[i], d});
        }
        std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
            return instanceOf(a.dev) < instanceOf(b.dev);
        });
        std::lock_guard<std::mutex> lock(mutex_);
        if (!board_.empty())
            found.erase(std::remove_if(found.begin(), found.end(), [this](const Found& f) { return !chosen(f.dev); }),
                        found.end());
        if (lastList_ != nullptr) libusb_free_device_list(lastList_, 1);
        lastList_ = list;
        return found;
    }

    // The board ZELBO_USB_BOARD names, by USB path or serial. Once found by
    // its serial it is followed by its path: the bare FX2 and a board
    // between identities carry no serial.
    bool chosen(libusb_device* d)
    {
        const std::string path = usbPathOf(d);
        if (path == board_) return true;
        const std::string serial = serialOf(path);
        if (serial == board_) {
            followed_ = path;
            return true;
        }
        return serial.empty() && path == followed_;
    }

    static std::uint64_t instanceOf(libusb_device* d)
    {
        // The address changes with every enumeration; bus and port path say where.
        std::uint8_t ports[8] = {};
        const int depth = libusb_get_port_numbers(d, ports, sizeof ports);
        std::uint64_t v = std::uint64_t{libusb_get_bus_number(d)} << 56 | std::uint64_t{1} << 48;
        for (int i = 0; i < depth && i < 4; ++i) v |= std::uint64_t{ports[i]} << (40 - 8 * i);
        return v | libusb_get_device_address(d);
    }

    State* state(DriverHandle h)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(h);
        return it == handles_.end() ? nullptr : &it->second;
    }

    void closeState(State& s)
    {
        if (s.claimed) libusb_release_interface(s.dh, 0);
        libusb_close(s.dh);
    }

    const std::string board_; // ZELBO_USB_BOARD: a USB path or serial; empty: any
    std::string followed_;     // the path where the serial was last seen
    libusb_context* ctx_ = nullptr;
    libusb_device** lastList_ = nullptr;
    std::mutex mutex_;
    std::unordered_map<DriverHandle, State> handles_;
    DriverHandle nextHandle_ = 0x100;

    friend class LibusbRequest;
};

bool LibusbRequest::wait(std::uint32_t timeoutMs)
{
    return driver_.handleEvents(completed_, timeoutMs);
}

LibusbRequest::~LibusbRequest()
{
    if (transfer_ != nullptr) {
        if (!completed_.load()) {
            // Never free a transfer the kernel may still write into.
            libusb_cancel_transfer(transfer_);
            driver_.handleEvents(completed_, UINT32_MAX);
        }
        driver_.forget(handle_, this);
        libusb_free_transfer(transfer_);
    }
}

} // namespace

std::unique_ptr<Driver> makeLibusbDriver(std::string board)
{
    return std::make_unique<LibusbDriver>(std::move(board));
}

} // namespace usbbridge
