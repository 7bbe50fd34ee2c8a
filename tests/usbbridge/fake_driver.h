#pragma once
// A scripted driver backend for the layer's unit tests: one device whose
// descriptors, strings and endpoint behaviour the test sets, and a record of
// every request the layer made.

#include "usbbridge/driver.h"

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fake {

using Bytes = std::vector<std::uint8_t>;

inline Bytes stringDescriptor(const std::u16string& s)
{
    Bytes d{static_cast<std::uint8_t>(2 + 2 * s.size()), 3};
    for (char16_t c : s) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return d;
}

inline Bytes deviceDescriptor(std::uint16_t vid, std::uint16_t pid, std::uint8_t iManufacturer = 1,
                              std::uint8_t iProduct = 2, std::uint8_t configs = 1)
{
    return Bytes{18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, static_cast<std::uint8_t>(vid), static_cast<std::uint8_t>(vid >> 8),
                 static_cast<std::uint8_t>(pid), static_cast<std::uint8_t>(pid >> 8), 0, 0, iManufacturer, iProduct, 0, configs};
}

// One configuration, one interface, the given endpoints (address, attributes, packet size).
inline Bytes configDescriptor(const std::vector<std::tuple<std::uint8_t, std::uint8_t, std::uint16_t>>& eps)
{
    Bytes d{9, 2, 0, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, static_cast<std::uint8_t>(eps.size()), 0xFF, 0, 0, 0};
    for (auto [a, attr, mps] : eps) {
        Bytes e{7, 5, a, attr, static_cast<std::uint8_t>(mps), static_cast<std::uint8_t>(mps >> 8), 0};
        d.insert(d.end(), e.begin(), e.end());
    }
    d[2] = static_cast<std::uint8_t>(d.size());
    d[3] = static_cast<std::uint8_t>(d.size() >> 8);
    return d;
}

// What the board looks like with its firmware running.
struct Identity {
    Bytes device;
    std::vector<Bytes> configs;
    std::map<std::uint16_t, Bytes> strings; // wValue low byte (index) -> descriptor; 0 = languages
};

inline Identity boardFirmware()
{
    Identity id;
    id.device = deviceDescriptor(0x04B4, 0x8613);
    id.configs.push_back(configDescriptor({{0x82, 2, 512}, {0x04, 2, 512}, {0x86, 2, 512}, {0x88, 2, 512}}));
    id.strings[0] = Bytes{4, 3, 0x09, 0x04};
    id.strings[1] = stringDescriptor(u"CYUSB FX2");
    id.strings[2] = stringDescriptor(u"Evaluation board 001");
    return id;
}

inline Identity bareFx2()
{
    Identity id;
    id.device = deviceDescriptor(0x04B4, 0x8613, 0, 0);
    id.configs.push_back(configDescriptor({{0x01, 2, 512}, {0x81, 2, 512}, {0x02, 2, 512}, {0x04, 2, 512},
                                           {0x86, 2, 512}, {0x88, 2, 512}}));
    return id;
}

struct ControlCall {
    std::uint8_t bmRequestType, bRequest;
    std::uint16_t wValue, wIndex, wLength;
    std::uint32_t timeoutSeconds;
    Bytes data; // OUT data
    bool overlapped;
};

struct BulkCall {
    std::uint32_t code;
    std::uint8_t endpoint;
    Bytes data; // OUT data
    std::uint8_t* out;
    usbbridge::TransferRecord record;
};

class Driver final : public usbbridge::Driver {
public:
    Identity id = boardFirmware();
    std::optional<Identity> afterCycle; // becomes `id` on a port cycle
    bool present = true;
    bool openFails = false;
    bool closeFails = false;
    std::uint32_t driverVersion = usbbridge::kOurDriverVersion;
    std::uint64_t instance = 1;
    std::uint8_t alt = 0;

    // Vendor requests: return the reply (IN) or nullopt to stall.
    std::function<std::optional<Bytes>(const ControlCall&)> vendor = [](const ControlCall& c) -> std::optional<Bytes> {
        if (c.bRequest == 0xB6) return std::nullopt;
        return Bytes{0x01, c.bRequest};
    };
    std::deque<Bytes> inData;   // what the next bulk IN transfers deliver
    int timeoutNext = 0;        // the next n overlapped transfers time out
    bool bulkFails = false;

    std::vector<ControlCall> controls;
    std::vector<BulkCall> bulks;
    std::vector<std::uint8_t> aborts;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> transferSizes;
    int cycles = 0;
    int opens = 0;

    unsigned deviceCount() override { return present ? 1 : 0; }
    std::uint64_t deviceInstance(unsigned n) override { return present && n == 0 ? instance : 0; }
    usbbridge::DriverHandle open(unsigned n, std::string& path) override
    {
        if (!present || n != 0 || openFails) return usbbridge::kInvalidHandle;
        ++opens;
        path = "fake:0";
        return 0x200 + opens;
    }
    bool close(usbbridge::DriverHandle) override { return !closeFails; }

    bool ioctl(usbbridge::DriverHandle, std::uint32_t code, std::uint8_t* buf, std::size_t inLen, std::size_t outLen,
               std::uint32_t& returned) override
    {
        using namespace usbbridge;
        returned = 0;
        switch (code) {
        case req::kDriverVersion: putU32(buf, driverVersion); returned = 4; return true;
        case req::kStackVersion: putU32(buf, 0x00010000); returned = 4; return true;
        case req::kBusSpeed: putU32(buf, 2); returned = 4; return true;
        case req::kGetAltSetting: buf[0] = alt; returned = 1; return true;
        case req::kSetAltSetting: alt = buf[0]; return true;
        case req::kUsbAddress: buf[0] = 7; returned = 1; return true;
        case req::kDeviceName:
        case req::kFriendlyName: {
            const char* t = code == req::kDeviceName ? "fake device" : "fake friendly";
            std::strcpy(reinterpret_cast<char*>(buf), t);
            returned = static_cast<std::uint32_t>(std::strlen(t) + 1);
            return outLen >= 32;
        }
        case req::kSetTransferSize: transferSizes.emplace_back(buf[0], getU32(buf + 1)); return true;
        case req::kAbortPipe: aborts.push_back(buf[0]); return true;
        case req::kCyclePort:
            ++cycles;
            ++instance;
            if (afterCycle) {
                id = *afterCycle;
                afterCycle.reset();
            }
            return true;
        case req::kControl: {
            std::uint32_t bytes = 0;
            const bool ok = control(buf, inLen, bytes, false);
            returned = bytes;
            return ok;
        }
        default: return false;
        }
    }

    usbbridge::Submission submit(usbbridge::DriverHandle, std::uint32_t code, std::uint8_t* in, std::size_t inLen,
                                 std::uint8_t* out, std::size_t outLen, std::uint32_t) override
    {
        using namespace usbbridge;
        if (timeoutNext > 0) {
            --timeoutNext;
            return Submission{kErrorIoPending, std::make_unique<usbbridge::CompletedRequest>(false, 0, true)};
        }
        std::uint32_t bytes = 0;
        bool ok = false;
        if (code == req::kControl) {
            ok = control(in, inLen, bytes, true);
        } else {
            const TransferRecord rec = TransferRecord::load(in);
            BulkCall call{code, rec.endpointAddress, {}, out, rec};
            std::uint8_t* data = code == req::kDirectXfer ? out : in + rec.dataOffset;
            const std::size_t len = code == req::kDirectXfer ? outLen : rec.dataLength;
            const std::uint32_t header = code == req::kDirectXfer ? 0 : rec.dataOffset;
            ok = !bulkFails;
            if (rec.endpointAddress & 0x80) {
                Bytes d = inData.empty() ? Bytes(len, 0xEE) : inData.front();
                if (!inData.empty()) inData.pop_front();
                const std::size_t n = std::min(len, d.size());
                std::copy_n(d.begin(), n, data);
                bytes = header + static_cast<std::uint32_t>(n);
            } else {
                call.data.assign(data, data + len);
                bytes = header + static_cast<std::uint32_t>(len);
            }
            bulks.push_back(call);
            if (!ok) putU32(in + 18, kUsbdError);
        }
        return Submission{kErrorNone, std::make_unique<usbbridge::CompletedRequest>(ok, bytes, false)};
    }

private:
    bool control(std::uint8_t* block, std::size_t length, std::uint32_t& bytes, bool overlapped)
    {
        using namespace usbbridge;
        const TransferRecord rec = TransferRecord::load(block);
        std::uint8_t* data = block + TransferRecord::kSize;
        ControlCall call{rec.bmRequestType, rec.bRequest, rec.wValue, rec.wIndex, rec.wLength, rec.timeoutSeconds, {},
                         overlapped};
        if (!(rec.bmRequestType & 0x80)) call.data.assign(data, data + rec.wLength);
        controls.push_back(call);
        std::optional<Bytes> reply;
        if ((rec.bmRequestType & 0x60) == 0 && rec.bRequest == 6) {
            const std::uint8_t type = rec.wValue >> 8, index = rec.wValue & 0xFF;
            if (type == 1) reply = id.device;
            else if (type == 2 && index < id.configs.size()) reply = id.configs[index];
            else if (type == 3 && id.strings.count(index)) reply = id.strings[index];
        } else if ((rec.bmRequestType & 0x60) == 0x40) {
            reply = vendor(call);
            if (reply && !(rec.bmRequestType & 0x80)) reply = Bytes(rec.wLength, 0);
        }
        if (!reply) {
            putU32(block + 18, kUsbdStall);
            bytes = 0;
            return false;
        }
        const std::size_t n = std::min<std::size_t>({reply->size(), rec.wLength, length - TransferRecord::kSize});
        if (rec.bmRequestType & 0x80) std::copy_n(reply->begin(), n, data);
        bytes = static_cast<std::uint32_t>(TransferRecord::kSize + n);
        return true;
    }
};

} // namespace fake
