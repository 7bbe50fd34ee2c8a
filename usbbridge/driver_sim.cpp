// The simulated-board backend: driver requests answered by the board model in
// board/, in the calling thread. A handle belongs to one enumeration of the
// board: once it has dropped off the bus (port cycle, vanished) the handle's
// requests fail, as they do on a real bus.
//
// The board is loaded at run time, only when it is asked for, so that the
// library has no link-time dependency on it and a real-board installation
// does not need it. A process that has the board loaded already (a test that
// links it to steer it) gets that very instance back from the loader.

#include "usbbridge/driver.h"

#include "board/sim_board.h" // the plain types only (Setup, Result, Transfer)
#include "board/sim_board_usb.h"
#include "common/log.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>

namespace usbbridge {

namespace {

using simboard::Result;

// The board's USB surface through its C table, with the members the backend
// calls spelled as on the board itself.
class Board {
public:
    explicit Board(const SimBoardUsbApi& api) : api_(api) {}
    bool present() const { return api_.present() != 0; }
    std::uint32_t enumerationCount() const { return api_.enumerationCount(); }
    std::uint8_t deviceAddress() const { return api_.deviceAddress(); }
    simboard::Transfer control(const simboard::Setup& s, std::uint8_t* data, unsigned timeoutMs)
    {
        simboard::Transfer t;
        t.result = result(api_.control(s.bmRequestType, s.bRequest, s.wValue, s.wIndex, s.wLength, data, timeoutMs,
                                       &t.length));
        return t;
    }
    simboard::Transfer bulkOut(std::uint8_t ep, const std::uint8_t* data, std::size_t length, unsigned timeoutMs)
    {
        simboard::Transfer t;
        t.result = result(api_.bulkOut(ep, data, length, timeoutMs, &t.length));
        return t;
    }
    simboard::Transfer bulkIn(std::uint8_t ep, std::uint8_t* data, std::size_t length, unsigned timeoutMs)
    {
        simboard::Transfer t;
        t.result = result(api_.bulkIn(ep, data, length, timeoutMs, &t.length));
        return t;
    }
    void abortEndpoint(std::uint8_t ep) { api_.abortEndpoint(ep); }
    void cyclePort() { api_.cyclePort(); }

private:
    static Result result(int r)
    {
        return r >= static_cast<int>(Result::Ok) && r <= static_cast<int>(Result::NoDevice) ? static_cast<Result>(r)
                                                                                              : Result::Error;
    }
    const SimBoardUsbApi& api_;
};

// This library's own folder, where an installation keeps the board beside it.
std::string ownFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string self = info.dli_fname;
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? std::string{} : self.substr(0, slash + 1);
}

// The board library: the copy already in the process, else the one beside
// this library, else wherever the loader finds it. It stays loaded for the
// life of the process (the board runs threads of its own).
const SimBoardUsbApi* loadBoard()
{
    void* lib = ::dlopen(kSimBoardLibrary, RTLD_NOW | RTLD_NOLOAD);
    std::string why;
    auto note = [&why] {
        if (const char* e = ::dlerror()) why += std::string(why.empty() ? "" : "; ") + e;
    };
    if (lib == nullptr) {
        const std::string folder = ownFolder();
        if (!folder.empty()) {
            lib = ::dlopen((folder + kSimBoardLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
            if (lib == nullptr) note();
        }
    }
    if (lib == nullptr) {
        lib = ::dlopen(kSimBoardLibrary, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) note();
    }
    if (lib == nullptr) {
        zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: the simulated board was asked for (ZELBO_BOARD=sim) but %s could not be "
                                     "loaded: %s", kSimBoardLibrary, why.c_str());
        return nullptr;
    }
    using Entry = const SimBoardUsbApi* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(lib, kSimBoardUsbEntry));
    const SimBoardUsbApi* api = entry != nullptr ? entry() : nullptr;
    if (api == nullptr || api->abiVersion != kSimBoardUsbAbi) {
        zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: %s does not offer the expected board interface", kSimBoardLibrary);
        return nullptr;
    }
    return api;
}

void storeStatus(std::uint8_t* record, Result r)
{
    std::uint32_t usbd = 0, nt = 0;
    switch (r) {
    case Result::Ok: break;
    case Result::Stall: usbd = kUsbdStall; nt = kNtUnsuccessful; break;
    case Result::Timeout: usbd = kUsbdCanceled; nt = kNtCancelled; break;
    case Result::Error: usbd = kUsbdError; nt = kNtUnsuccessful; break;
    case Result::NoDevice: usbd = kUsbdDeviceGone; nt = kNtNoSuchDevice; break;
    }
    putU32(record + 14, nt);
    putU32(record + 18, usbd);
}

class SimDriver final : public Driver {
public:
    explicit SimDriver(const SimBoardUsbApi& api) : board_(api) {}

    unsigned deviceCount() override { return board_.present() ? 1u : 0u; }

    std::uint64_t deviceInstance(unsigned n) override
    {
        if (n != 0 || !board_.present()) return 0;
        return std::uint64_t{board_.enumerationCount()} + 1;
    }

    DriverHandle open(unsigned n, std::string& path) override
    {
        const std::uint64_t inst = deviceInstance(n);
        if (inst == 0) return kInvalidHandle;
        std::lock_guard<std::mutex> lock(mutex_);
        const DriverHandle h = nextHandle_++;
        handles_[h] = State{inst, 0};
        char buf[64];
        std::snprintf(buf, sizeof buf, "sim:usb/001/%03u", board_.deviceAddress());
        path = buf;
        return h;
    }

    bool close(DriverHandle h) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return handles_.erase(h) == 1;
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
        case req::kBusSpeed:
            if (outLen < 4) return false;
            putU32(buf, code == req::kDriverVersion ? kOurDriverVersion : code == req::kStackVersion ? 0x00010000u : 2u);
            returned = 4;
            return true;
        case req::kGetAltSetting:
            if (outLen < 1) return false;
            buf[0] = s->alt;
            returned = 1;
            return true;
        case req::kSetAltSetting: {
            if (inLen < 1 || !alive(*s)) return false;
            simboard::Setup setup{0x01, 11, buf[0], 0, 0};
            if (board_.control(setup, nullptr, 1000).result != Result::Ok) return false;
            s->alt = buf[0];
            return true;
        }
        case req::kUsbAddress:
            if (outLen < 1 || !alive(*s)) return false;
            buf[0] = board_.deviceAddress();
            returned = 1;
            return true;
        case req::kControl: {
            if (inLen < TransferRecord::kSize || !alive(*s)) return false;
            const Outcome o = control(buf, inLen, 5000);
            returned = o.bytes;
            return o.result == Result::Ok;
        }
        case req::kCyclePort:
            if (!alive(*s)) return false;
            board_.cyclePort();
            return true;
        case req::kSetTransferSize:
            return inLen >= 5;
        case req::kDeviceName:
        case req::kFriendlyName: {
            if (!alive(*s)) return false;
            char text[128];
            if (code == req::kDeviceName)
                std::snprintf(text, sizeof text, "/sim/bus/usb/001/%03u", board_.deviceAddress());
            else
                std::snprintf(text, sizeof text, "Simulated evaluation board (bus 1, address %u)",
                              board_.deviceAddress());
            const std::size_t n = std::min(outLen, std::strlen(text) + 1);
            std::memcpy(buf, text, n);
            returned = static_cast<std::uint32_t>(n);
            return n > 0;
        }
        case req::kAbortPipe:
            if (inLen < 1) return false;
            board_.abortEndpoint(buf[0]);
            return true;
        default:
            return false;
        }
    }

    Submission submit(DriverHandle h, std::uint32_t code, std::uint8_t* in, std::size_t inLen, std::uint8_t* out,
                      std::size_t outLen, std::uint32_t waitHintMs) override
    {
        State* s = state(h);
        if (s == nullptr || inLen < TransferRecord::kSize) return Submission{kErrorInvalidParameter, nullptr};
        if (!alive(*s)) {
            storeStatus(in, Result::NoDevice);
            return Submission{kErrorNoDevice, std::make_unique<CompletedRequest>(false, 0, false)};
        }
        Outcome o;
        if (code == req::kControl) {
            o = control(in, inLen, waitHintMs);
        } else if (code == req::kBufferedXfer || code == req::kDirectXfer) {
            const TransferRecord rec = TransferRecord::load(in);
            if (rec.isoPacketLength != 0) return Submission{kErrorInvalidParameter, nullptr}; // no isochronous endpoints
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
            const simboard::Transfer t = (rec.endpointAddress & 0x80)
                                             ? board_.bulkIn(rec.endpointAddress, data, length, waitHintMs)
                                             : board_.bulkOut(rec.endpointAddress, data, length, waitHintMs);
            storeStatus(in, t.result);
            o.result = t.result;
            o.bytes = t.result == Result::Ok ? header + static_cast<std::uint32_t>(std::min(t.length, length)) : 0;
        } else {
            return Submission{kErrorInvalidParameter, nullptr};
        }
        if (o.result == Result::NoDevice)
            return Submission{kErrorNoDevice, std::make_unique<CompletedRequest>(false, 0, false)};
        const bool timedOut = o.result == Result::Timeout;
        return Submission{timedOut ? kErrorIoPending : kErrorNone,
                          std::make_unique<CompletedRequest>(o.result == Result::Ok, o.bytes, timedOut)};
    }

private:
    struct State {
        std::uint64_t instance;
        std::uint8_t alt;
    };
    struct Outcome {
        Result result = Result::Error;
        std::uint32_t bytes = 0;
    };

    State* state(DriverHandle h)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(h);
        return it == handles_.end() ? nullptr : &it->second;
    }

    bool alive(const State& s) { return deviceInstance(0) == s.instance; }

    // A control request from a record with its data behind it.
    Outcome control(std::uint8_t* block, std::size_t length, std::uint32_t timeoutMs)
    {
        const TransferRecord rec = TransferRecord::load(block);
        Outcome o;
        if (rec.dataOffset != TransferRecord::kSize || rec.wLength > length - TransferRecord::kSize) {
            storeStatus(block, Result::Error);
            return o;
        }
        simboard::Setup setup{rec.bmRequestType, rec.bRequest, rec.wValue, rec.wIndex, rec.wLength};
        const simboard::Transfer t = board_.control(setup, block + TransferRecord::kSize, timeoutMs);
        storeStatus(block, t.result);
        o.result = t.result;
        if (t.result == Result::Ok)
            o.bytes = static_cast<std::uint32_t>(TransferRecord::kSize + std::min<std::size_t>(t.length, rec.wLength));
        return o;
    }

    Board board_;
    std::mutex mutex_;
    std::unordered_map<DriverHandle, State> handles_;
    DriverHandle nextHandle_ = 0x100;
};

} // namespace

std::unique_ptr<Driver> makeSimDriver()
{
    const SimBoardUsbApi* api = loadBoard();
    if (api == nullptr) return nullptr;
    return std::make_unique<SimDriver>(*api);
}

} // namespace usbbridge
