#include "usbbridge/bridge.h"

#include "usbbridge/firmware.h"
#include "common/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace usbbridge {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kScriptHeader = 32;
// A script is a handful of recorded requests; anything near this size is not one.
constexpr std::size_t kMaxScriptSize = 16u << 20;

void configureVendorOut(ControlEndpoint& c, std::uint8_t request, std::uint16_t value, std::uint16_t index)
{
    c.target = 0;
    c.reqType = 2;
    c.direction = 0;
    c.reqCode = request;
    c.value = value;
    c.index = index;
}

bool instancePresent(Driver& driver, std::uint64_t instance)
{
    const unsigned n = driver.deviceCount();
    for (unsigned i = 0; i < n; ++i) {
        if (driver.deviceInstance(i) == instance) return true;
    }
    return false;
}

} // namespace

Bridge::Bridge(Driver& driver) : dev_(driver) {}

bool Bridge::closeIfOpen()
{
    if (!dev_.isOpen()) return false;
    dev_.close();
    return true;
}

void Bridge::openEach()
{
    for (std::uint8_t i = 0; i < dev_.deviceCount(); ++i) {
        if (dev_.isOpen()) dev_.close();
        dev_.open(i);
    }
}

bool Bridge::present() const
{
    return dev_.isOpen() && dev_.vendorId == kBoardVendorId && dev_.productId == kBoardProductId;
}

int Bridge::bulkWrite(std::uint8_t* buffer, int length, int index)
{
    if (!present()) return 6;
    if (index < 0 || index >= dev_.endpointCount() || dev_.endPoints[static_cast<std::size_t>(index)] == nullptr)
        return 6;
    UsbEndpoint& e = *dev_.endPoints[static_cast<std::size_t>(index)];
    if (e.address & 0x80) return 2;
    if (e.attributes != 2) return 3;
    if (dev_.endpointCount() < 5) return 4;
    int len = length;
    return e.transfer(buffer, len) ? 0 : 1;
}

int Bridge::bulkRead(std::uint8_t* buffer, int length, int index)
{
    if (!present() || index < 0 || index >= dev_.endpointCount() ||
        dev_.endPoints[static_cast<std::size_t>(index)] == nullptr)
        return 6;
    UsbEndpoint& e = *dev_.endPoints[static_cast<std::size_t>(index)];
    if ((e.address & 0x80) == 0) return 3;
    if (dev_.endpointCount() < 5) return 4;
    int len = length;
    return e.transfer(buffer, len) ? 0 : 1;
}

int Bridge::send(int handle, const std::uint8_t* data, int length)
{
    if (length < 0 || (length > 0 && data == nullptr)) return 0;
    std::vector<std::uint8_t> copy(data, data + length);
    if (!present()) return 6;
    std::printf("\nEnpoint count is %i, DevHandle = %i", dev_.endpointCount(), dev_.handle());
    if (handle != dev_.handle()) return 5;
    UsbEndpoint* e = dev_.endpointCount() > 2 ? dev_.endPoints[2] : nullptr;
    if (e == nullptr) return 4;
    if (e->attributes != 2) return 3;
    if (dev_.endpointCount() < 5) return 4;
    int len = length;
    return e->transfer(copy.data(), len) ? 1 : 0;
}

std::uint8_t Bridge::read(int handle)
{
    std::uint8_t local[512];
    int len = sizeof local;
    if (!present() || dev_.endpointCount() < 4) return 6;
    UsbEndpoint& e = *dev_.endPoints[3];
    if (!e.directionIn) return 3;
    if (handle != dev_.handle()) return 5;
    if (dev_.endpointCount() < 5) return 4;
    if (!e.transfer(local, len)) return 1;
    std::memcpy(receive_, local, static_cast<std::size_t>(len));
    return static_cast<std::uint8_t>(len);
}

int Bridge::sendVendorRequest(std::uint8_t direction, std::uint8_t request, std::uint16_t value,
                              std::uint16_t index, std::uint8_t* buffer, int length)
{
    if (!dev_.isOpen()) return 0;
    ControlEndpoint& c = *dev_.controlEndpoint();
    c.target = 0;
    c.reqType = 2;
    c.direction = direction;
    c.reqCode = request;
    c.value = value;
    c.index = index;
    if (length < 0 || (length > 0 && buffer == nullptr)) return 0;
    const bool in = direction == 1;
    // Only a reply is cleared beforehand; outgoing data is sent as given.
    if (in && length > 0) buffer[0] = 0;
    int len = length;
    const bool ok = c.transfer(buffer, len);
    if (length == 0) return 0;
    return in || ok ? buffer[0] : 0;
}

int Bridge::check(const char* manufacturer)
{
    if (!dev_.isOpen()) return -1;
    if (dev_.deviceCount() == 0) {
        closeIfOpen();
        return 0;
    }
    openEach();
    if (dev_.isOpen() && manufacturer != nullptr && manufacturerText() == manufacturer && firmwareIsCurrent())
        return 1;
    closeIfOpen();
    return 0;
}

bool Bridge::firmwareIsCurrent()
{
    if (!expectedFirmwareVersion || versionReported_) return true;
    ControlEndpoint& c = *dev_.controlEndpoint();
    c.target = 0;
    c.reqType = 2;
    c.direction = 1;
    c.reqCode = kFirmwareVersionRequest;
    c.value = 0;
    c.index = 0;
    std::uint8_t v[2] = {};
    int len = 2;
    const bool answered = c.transfer(v, len) && len == 2;
    const unsigned want = *expectedFirmwareVersion;
    if (answered && static_cast<unsigned>(v[0] << 8 | v[1]) == want) return true;
    versionReported_ = true;
    char running[32] = "firmware without a version";
    if (answered) std::snprintf(running, sizeof running, "firmware %u.%u", v[0], v[1]);
    zelbo::log::writef(zelbo::log::Level::Warning,
                       "UsbBridge: the board runs %s, this library carries %u.%u: downloading it again", running,
                       want >> 8, want & 0xFF);
    return false;
}

int Bridge::init(const char* manufacturer)
{
    if (!dev_.isOpen() || dev_.deviceCount() == 0) {
        closeIfOpen();
        return 0;
    }
    if (manufacturer != nullptr && manufacturerText() == manufacturer) return dev_.handle();
    closeIfOpen();
    return 0;
}

int Bridge::openUsbDevice()
{
    const std::uint8_t n = dev_.deviceCount();
    for (std::uint8_t i = 0; i < n; ++i) {
        dev_.open(i);
        if (dev_.isOpen() && dev_.vendorId == kBoardVendorId && dev_.productId == kBoardProductId) {
            if (dev_.bulkOut) dev_.bulkOut->setTransferSize(1024);
            if (dev_.bulkIn) dev_.bulkIn->setTransferSize(1024);
            for (UsbEndpoint* e : {dev_.bulkOut, dev_.bulkIn, dev_.endPoints[0], dev_.endPoints[1], dev_.endPoints[2]})
                if (e) e->timeoutMs = 1500;
            return 1;
        }
    }
    closeIfOpen();
    return 0;
}

std::uint32_t Bridge::driverVersion()
{
    if (!dev_.isOpen()) return 0;
    std::uint8_t b[4] = {};
    std::uint32_t returned = 0;
    if (!dev_.driver().ioctl(dev_.handle(), req::kDriverVersion, b, 0, 4, returned) || returned == 0) return 0;
    return getU32(b);
}

int Bridge::awaitReturn(std::uint64_t gone)
{
    Driver& driver = dev_.driver();
    const auto deadline = Clock::now() + returnTimeout;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) break;
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(20), deadline - now));
        if (driver.deviceCount() > 0 && !instancePresent(driver, gone)) {
            openEach();
            if (dev_.isOpen()) return 1;
        }
    }
    if (dev_.deviceCount() == 0) {
        closeIfOpen();
        return 0;
    }
    openEach();
    return 1;
}

int Bridge::download(const std::uint8_t* image, std::size_t records)
{
    if (dev_.deviceCount() == 0) return 0;
    openEach();
    if (!dev_.isOpen()) return 0;

    ControlEndpoint& c = *dev_.controlEndpoint();
    std::uint8_t one = 1;
    int len = 1;
    configureVendorOut(c, 0xA0, 0xE600, 0);
    c.transfer(&one, len);

    if (dev_.productId != kBoardProductId &&
        !(dev_.vendorId == kBoardVendorId && dev_.productId == kLoaderProductId))
        return 0;

    for (std::size_t i = 0; i < records; ++i) {
        const ImageRecordView r = imageRecord(image, i);
        if (r.type == 1) break;
        std::uint8_t data[kImageRecordData];
        const int n = std::min<int>(r.length, static_cast<int>(kImageRecordData));
        std::memcpy(data, r.data, static_cast<std::size_t>(n));
        configureVendorOut(c, 0xA0, r.address, 0);
        len = n;
        c.transfer(data, len);
    }

    std::uint8_t zero = 0;
    len = 1;
    configureVendorOut(c, 0xA0, 0xE600, 0);
    c.transfer(&zero, len);

    const std::uint64_t before = dev_.openInstance();
    dev_.cyclePort();
    return awaitReturn(before);
}

bool parseScript(const std::uint8_t* data, std::size_t size, std::vector<ScriptRecord>& records,
                 std::uint8_t& configIndex, std::uint8_t& altSetting, std::string& error)
{
    records.clear();
    if (size < kScriptHeader) {
        error = "shorter than one record header (" + std::to_string(size) + " bytes)";
        return false;
    }
    configIndex = data[11];
    altSetting = data[13];
    std::size_t off = 0;
    while (size - off >= kScriptHeader) {
        const std::uint8_t* h = data + off;
        ScriptRecord r{};
        r.tag = h[10];
        r.endpoint = h[14];
        r.request = h[16];
        r.value = getU16(h + 18);
        r.index = getU16(h + 20);
        r.dataOffset = off + kScriptHeader;
        if (r.tag != 0xFF) {
            if (r.endpoint != 0) {
                error = "record at offset " + std::to_string(off) + " is for endpoint " +
                        std::to_string(r.endpoint) + "; only endpoint 0 can be replayed";
                return false;
            }
            const std::uint32_t n = getU32(h + 28);
            if (n > size - off - kScriptHeader) {
                error = "data of the record at offset " + std::to_string(off) + " runs past the end of the file";
                return false;
            }
            r.dataLength = n;
        }
        records.push_back(r);
        off += kScriptHeader + r.dataLength;
    }
    return true;
}

bool loadScriptFile(const std::string& path, std::vector<std::uint8_t>& file, std::vector<ScriptRecord>& records,
                    std::uint8_t& configIndex, std::uint8_t& altSetting, std::string& error)
{
    std::string bytes;
    if (!readRegularFile(path, bytes, kMaxScriptSize, error)) return false;
    file.assign(bytes.begin(), bytes.end());
    return parseScript(file.data(), file.size(), records, configIndex, altSetting, error);
}

int Bridge::initializeUsb(const std::string& scriptPath)
{
    if (dev_.deviceCount() == 0) return 0;
    openEach();
    if (!dev_.isOpen()) return 0;
    if (dev_.productId == kBoardProductId || dev_.vendorId == kBoardVendorId) return 1;

    std::vector<std::uint8_t> file;
    std::vector<ScriptRecord> records;
    std::uint8_t cfg = 0, alt = 0;
    std::string error;
    if (!loadScriptFile(scriptPath, file, records, cfg, alt, error)) {
        zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: InitializeUSB: \"%s\" rejected: %s",
                           scriptPath.c_str(), error.c_str());
        return 0;
    }

    if (cfg != dev_.configIndex) dev_.selectConfiguration(cfg);
    if (alt != dev_.currentAltSetting()) dev_.selectAltSetting(alt);

    for (const ScriptRecord& r : records) {
        if (r.tag == 0xFF) {
            if (pauseTime.count() > 0) std::this_thread::sleep_for(pauseTime);
            continue;
        }
        UsbEndpoint* e = dev_.endpointByAddress(r.endpoint);
        auto* c = dynamic_cast<ControlEndpoint*>(e);
        if (c == nullptr) return 0; // endpoint 0 is always there while a device is open
        configureVendorOut(*c, r.request, r.value, r.index);
        if (r.tag == 0) {
            std::vector<std::uint8_t> block(file.begin() + static_cast<std::ptrdiff_t>(r.dataOffset),
                                            file.begin() + static_cast<std::ptrdiff_t>(r.dataOffset + r.dataLength));
            int len = static_cast<int>(block.size());
            c->transfer(block.data(), len);
        }
    }
    return awaitReturn(dev_.openInstance());
}

} // namespace usbbridge
