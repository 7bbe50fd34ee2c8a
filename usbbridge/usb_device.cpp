#include "usbbridge/usb_device.h"

#include <algorithm>
#include <climits>

namespace usbbridge {

// ---- TransferRecord ------------------------------------------------------------

void TransferRecord::store(std::uint8_t* out) const
{
    out[0] = bmRequestType;
    out[1] = bRequest;
    putU16(out + 2, wValue);
    putU16(out + 4, wIndex);
    putU16(out + 6, wLength);
    putU32(out + 8, timeoutSeconds);
    out[12] = reserved;
    out[13] = endpointAddress;
    putU32(out + 14, ntStatus);
    putU32(out + 18, usbdStatus);
    putU32(out + 22, isoPacketOffset);
    putU32(out + 26, isoPacketLength);
    putU32(out + 30, dataOffset);
    putU32(out + 34, dataLength);
}

TransferRecord TransferRecord::load(const std::uint8_t* in)
{
    TransferRecord r;
    r.bmRequestType = in[0];
    r.bRequest = in[1];
    r.wValue = getU16(in + 2);
    r.wIndex = getU16(in + 4);
    r.wLength = getU16(in + 6);
    r.timeoutSeconds = getU32(in + 8);
    r.reserved = in[12];
    r.endpointAddress = in[13];
    r.ntStatus = getU32(in + 14);
    r.usbdStatus = getU32(in + 18);
    r.isoPacketOffset = getU32(in + 22);
    r.isoPacketLength = getU32(in + 26);
    r.dataOffset = getU32(in + 30);
    r.dataLength = getU32(in + 34);
    return r;
}

// ---- endpoints -------------------------------------------------------------------

UsbEndpoint::UsbEndpoint(Driver& driver, DriverHandle h, const std::uint8_t* d) : handle(h), driver_(driver)
{
    dscLength = d[0];
    dscType = d[1];
    address = d[2];
    attributes = d[3];
    const std::uint16_t w = getU16(d + 4);
    maxPacketSize = static_cast<std::uint16_t>((w & 0x7FF) * (1 + ((w >> 11) & 3)));
    interval = d[6];
    directionIn = (address & 0x80) != 0;
}

bool UsbEndpoint::transfer(std::uint8_t* buffer, int& length)
{
    if (handle == kInvalidHandle || length < 0 || (length > 0 && buffer == nullptr)) return false;
    Request r;
    if (!beginTransfer(buffer, length, r)) return false;

    Submission s = driver_.submit(handle, r.code, r.block.data(), r.block.size(), r.out, r.outLen,
                                  timeoutMs);
    lastError = s.error;
    const bool waited = waitTransfer(s);
    const bool finished = finishTransfer(s, r, buffer, length);
    return waited && finished;
}

bool UsbEndpoint::waitTransfer(Submission& s)
{
    if (s.error == kErrorNone) return true;
    if (s.error != kErrorIoPending || !s.pending) return false;
    if (s.pending->wait(timeoutMs)) return true;
    // Timed out: cancel the request and wait until the driver has let go of
    // our buffers before failing.
    abort();
    s.pending->wait(UINT32_MAX);
    return false;
}

bool UsbEndpoint::finishTransfer(Submission& s, Request& r, std::uint8_t* buffer, int& length)
{
    std::uint32_t reported = 0;
    const bool ok = s.pending && s.pending->result(reported);
    const TransferRecord rec = TransferRecord::load(r.block.data());
    std::uint32_t count = reported > rec.dataOffset ? reported - rec.dataOffset : 0;
    // Never report (or copy) more than the caller's buffer holds.
    count = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(length));
    if (ok && r.copyBack && count > 0) {
        const std::size_t available = r.block.size() > rec.dataOffset ? r.block.size() - rec.dataOffset : 0;
        std::copy_n(r.block.data() + rec.dataOffset, std::min<std::size_t>(count, available), buffer);
    }
    length = static_cast<int>(count);
    bytesTransferred = count;
    usbdStatus = rec.usbdStatus;
    ntStatus = rec.ntStatus;
    return ok && usbdStatus == 0 && ntStatus == 0;
}

void UsbEndpoint::setTransferSize(int bytes)
{
    std::uint64_t size = bytes > 0 ? static_cast<std::uint64_t>(bytes) : 0;
    if (maxPacketSize > 0) size = (size + maxPacketSize - 1) / maxPacketSize * maxPacketSize;
    std::uint8_t buf[5];
    buf[0] = address;
    putU32(buf + 1, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX)));
    std::uint32_t returned = 0;
    driver_.ioctl(handle, req::kSetTransferSize, buf, sizeof buf, sizeof buf, returned);
}

bool UsbEndpoint::abort()
{
    std::uint8_t a = address;
    std::uint32_t returned = 0;
    return driver_.ioctl(handle, req::kAbortPipe, &a, 1, 1, returned);
}

namespace {
const std::uint8_t* endpointZeroDescriptor(std::uint8_t packetSize)
{
    thread_local std::uint8_t d[7];
    d[0] = 7;
    d[1] = 5;
    d[2] = 0;
    d[3] = 0;
    putU16(d + 4, packetSize);
    d[6] = 0;
    return d;
}
} // namespace

ControlEndpoint::ControlEndpoint(Driver& driver, DriverHandle h, std::uint8_t packetSize)
    : UsbEndpoint(driver, h, endpointZeroDescriptor(packetSize))
{
    mode = Mode::Buffered;
}

ControlEndpoint::ControlEndpoint(Driver& driver, DriverHandle h, const std::uint8_t* descriptor)
    : UsbEndpoint(driver, h, descriptor)
{
    mode = Mode::Buffered;
}

std::uint32_t ControlEndpoint::recordTimeout(std::uint32_t ms)
{
    if (ms > 0 && ms < 1000) return 1;
    return ms / 1000;
}

bool ControlEndpoint::beginTransfer(std::uint8_t* buffer, int length, Request& r)
{
    if (length > 0xFFFF) return false; // wLength is 16 bits
    TransferRecord rec;
    rec.bmRequestType = static_cast<std::uint8_t>((direction & 1) << 7 | (reqType & 3) << 5 | (target & 0x1F));
    rec.bRequest = reqCode;
    rec.wValue = value;
    rec.wIndex = index;
    rec.wLength = static_cast<std::uint16_t>(length);
    rec.timeoutSeconds = recordTimeout(timeoutMs);
    rec.endpointAddress = 0;
    rec.dataOffset = TransferRecord::kSize;
    rec.dataLength = static_cast<std::uint32_t>(length);
    r.code = req::kControl;
    r.block.resize(TransferRecord::kSize + static_cast<std::size_t>(length));
    rec.store(r.block.data());
    if (length > 0) std::copy_n(buffer, length, r.block.data() + TransferRecord::kSize);
    r.out = r.block.data();
    r.outLen = r.block.size();
    r.copyBack = direction == 1;
    return true;
}

bool BulkEndpoint::beginTransfer(std::uint8_t* buffer, int length, Request& r)
{
    TransferRecord rec;
    rec.endpointAddress = address;
    if (mode == Mode::Buffered) {
        rec.dataOffset = TransferRecord::kSize;
        rec.dataLength = static_cast<std::uint32_t>(length);
        r.code = req::kBufferedXfer;
        r.block.resize(TransferRecord::kSize + static_cast<std::size_t>(length));
        rec.store(r.block.data());
        if (length > 0) std::copy_n(buffer, length, r.block.data() + TransferRecord::kSize);
        r.out = r.block.data();
        r.outLen = r.block.size();
        r.copyBack = directionIn;
    } else {
        r.code = req::kDirectXfer;
        r.block.resize(TransferRecord::kSize);
        rec.store(r.block.data());
        r.out = buffer;
        r.outLen = static_cast<std::size_t>(length);
    }
    return true;
}

bool IsocEndpoint::beginTransfer(std::uint8_t* buffer, int length, Request& r)
{
    if (maxPacketSize == 0 || length <= 0) return false;
    const std::size_t packets = (static_cast<std::size_t>(length) + maxPacketSize - 1) / maxPacketSize;
    const std::size_t table = 8 * packets;
    TransferRecord rec;
    rec.endpointAddress = address;
    rec.isoPacketOffset = TransferRecord::kSize;
    rec.isoPacketLength = static_cast<std::uint32_t>(table);
    if (mode == Mode::Buffered) {
        rec.dataOffset = static_cast<std::uint32_t>(TransferRecord::kSize + table);
        rec.dataLength = static_cast<std::uint32_t>(length);
        r.code = req::kBufferedXfer;
        r.block.assign(TransferRecord::kSize + table + static_cast<std::size_t>(length), 0);
        rec.store(r.block.data());
        std::copy_n(buffer, length, r.block.data() + rec.dataOffset);
        r.out = r.block.data();
        r.outLen = r.block.size();
        r.copyBack = directionIn;
    } else {
        r.code = req::kDirectXfer;
        r.block.assign(TransferRecord::kSize + table, 0);
        rec.store(r.block.data());
        r.out = buffer;
        r.outLen = static_cast<std::size_t>(length);
    }
    return true;
}

// ---- configuration -----------------------------------------------------------------

namespace {
std::unique_ptr<UsbEndpoint> makeEndpoint(Driver& driver, DriverHandle h, const std::uint8_t* d)
{
    switch (d[3] & 3) {
    case 0: return std::make_unique<ControlEndpoint>(driver, h, d);
    case 1: return std::make_unique<IsocEndpoint>(driver, h, d);
    default: return std::make_unique<BulkEndpoint>(driver, h, d);
    }
}
} // namespace

UsbConfiguration::UsbConfiguration(Driver& driver, DriverHandle h, const std::uint8_t* data, std::size_t length)
{
    if (length >= 9) {
        dscLength = data[0];
        dscType = data[1];
        totalLength = getU16(data + 2);
        numInterfaces = data[4];
        value = data[5];
        stringIndex = data[6];
        attributes = data[7];
        maxPower = data[8];
    }
    const std::size_t end = std::min<std::size_t>(length, totalLength);
    std::size_t pos = 0;
    UsbInterface* iface = nullptr;
    while (pos + 2 <= end) {
        const std::size_t len = data[pos];
        if (len < 2 || pos + len > end) break; // a zero length would never advance; a long one lies
        const std::uint8_t type = data[pos + 1];
        if (type == 4 && len >= 9) {
            if (interfaces.size() >= kMaxInterfaces) break;
            auto i = std::make_unique<UsbInterface>();
            const std::uint8_t* d = data + pos;
            i->dscLength = d[0];
            i->dscType = d[1];
            i->number = d[2];
            i->altSetting = d[3];
            i->numEndpoints = d[4];
            i->ifClass = d[5];
            i->ifSubClass = d[6];
            i->ifProtocol = d[7];
            i->stringIndex = d[8];
            iface = i.get();
            interfaces.push_back(std::move(i));
        } else if (type == 5 && len >= 7 && iface != nullptr && iface->endpointObjects < 15) {
            ++iface->endpointObjects;
            iface->endpoints[iface->endpointObjects] = makeEndpoint(driver, h, data + pos);
        }
        pos += len;
    }
    for (auto& i : interfaces) {
        i->altSettingCount = static_cast<std::uint8_t>(
            std::count_if(interfaces.begin(), interfaces.end(), [&](const auto& o) { return o->number == i->number; }));
    }
}

// ---- device ---------------------------------------------------------------------------

std::string narrow(const std::u16string& text, std::size_t maxBytes)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = '?'; // unpaired surrogate
        }
        char enc[4];
        std::size_t n;
        if (c < 0x80) {
            enc[0] = static_cast<char>(c);
            n = 1;
        } else if (c < 0x800) {
            enc[0] = static_cast<char>(0xC0 | (c >> 6));
            enc[1] = static_cast<char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            enc[0] = static_cast<char>(0xE0 | (c >> 12));
            enc[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            enc[2] = static_cast<char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            enc[0] = static_cast<char>(0xF0 | (c >> 18));
            enc[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            enc[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            enc[3] = static_cast<char>(0x80 | (c & 0x3F));
            n = 4;
        }
        if (c == 0) break; // the text ends at a NUL, as the C string it becomes
        if (out.size() + n > maxBytes) break;
        out.append(enc, n);
    }
    return out;
}

UsbDevice::UsbDevice(Driver& driver) : driver_(driver)
{
    open(0);
}

UsbDevice::~UsbDevice()
{
    try {
        close();
    } catch (const UsbError&) {
        // Nothing to tell anyone at this point; the state is released anyway.
    }
}

std::uint8_t UsbDevice::deviceCount()
{
    devices = static_cast<std::uint8_t>(std::min(driver_.deviceCount(), 255u));
    return devices;
}

bool UsbDevice::ioctl(std::uint32_t code, std::uint8_t* buf, std::size_t inLen, std::size_t outLen)
{
    lastReturned = 0;
    if (handle_ == kInvalidHandle) return false;
    return driver_.ioctl(handle_, code, buf, inLen, outLen, lastReturned);
}

std::size_t UsbDevice::readDescriptor(std::uint16_t wValue, std::uint16_t wIndex, std::uint8_t* out,
                                      std::uint16_t wLength)
{
    std::vector<std::uint8_t> buf(TransferRecord::kSize + wLength, 0);
    TransferRecord rec;
    rec.bmRequestType = 0x80;
    rec.bRequest = 6;
    rec.wValue = wValue;
    rec.wIndex = wIndex;
    rec.wLength = wLength;
    rec.timeoutSeconds = 5;
    rec.dataOffset = TransferRecord::kSize;
    rec.dataLength = wLength;
    rec.store(buf.data());
    const bool ok = ioctl(req::kControl, buf.data(), buf.size(), buf.size());
    const TransferRecord back = TransferRecord::load(buf.data());
    usbdStatus = back.usbdStatus;
    ntStatus = back.ntStatus;
    if (!ok || lastReturned <= TransferRecord::kSize) return 0;
    const std::size_t n = std::min<std::size_t>(lastReturned - TransferRecord::kSize, wLength);
    std::copy_n(buf.data() + TransferRecord::kSize, n, out);
    return n;
}

bool UsbDevice::readString(std::uint8_t index, std::u16string& field)
{
    // Index 0 means "no such string"; descriptor 0 is the language list.
    if (index == 0) return false;
    std::uint8_t head[2] = {0, 0};
    if (readDescriptor(static_cast<std::uint16_t>(0x0300 | index), languageId, head, 2) < 2) return false;
    const std::uint16_t want = head[0];
    if (want <= 2) return false;
    std::uint8_t full[256] = {};
    const std::size_t got = readDescriptor(static_cast<std::uint16_t>(0x0300 | index), languageId, full, want);
    if (got < 2 || full[1] != 3) return false;
    // Believe the descriptor's own length only as far as bytes arrived.
    const std::size_t bytes = std::min<std::size_t>(std::min<std::size_t>(full[0], got), want);
    if (bytes <= 2) return false;
    field.clear();
    const std::size_t units = std::min<std::size_t>((bytes - 2) / 2, 255);
    for (std::size_t i = 0; i < units; ++i) field.push_back(static_cast<char16_t>(getU16(full + 2 + 2 * i)));
    return true;
}

void UsbDevice::readName(std::uint32_t code, std::string& field)
{
    std::uint8_t buf[256] = {};
    field.clear();
    if (!ioctl(code, buf, 0, sizeof buf) || lastReturned == 0) return;
    const std::size_t n = std::min<std::size_t>(lastReturned, 255);
    std::size_t len = 0;
    while (len < n && buf[len] != 0) ++len;
    field.assign(reinterpret_cast<const char*>(buf), len);
}

bool UsbDevice::open(std::uint8_t n)
{
    if (isOpen()) close();

    if (deviceCount() == 0 || n >= devices) {
        deviceNumber = 0;
        return false;
    }
    std::string path;
    const DriverHandle h = driver_.open(n, path);
    if (h == kInvalidHandle) {
        deviceNumber = 0;
        return false;
    }
    handle_ = h;
    instance_ = driver_.deviceInstance(n);
    interfacePath = path.substr(0, 255);
    deviceNumber = n;

    // Device descriptor.
    deviceDescriptor.fill(0);
    readDescriptor(0x0100, 0, deviceDescriptor.data(), 18);
    const auto& dd = deviceDescriptor;
    bcdUSB = getU16(&dd[2]);
    devClass = dd[4];
    devSubClass = dd[5];
    devProtocol = dd[6];
    maxPacketSize0 = dd[7];
    vendorId = getU16(&dd[8]);
    productId = getU16(&dd[10]);
    bcdDevice = getU16(&dd[12]);
    numConfigurations = dd[17];

    // String language: the first listed, or 0x0409 when it is among them.
    languageId = 0;
    std::uint8_t head[2] = {0, 0};
    if (readDescriptor(0x0300, 0, head, 2) == 2 && head[0] > 2) {
        std::uint8_t langs[256] = {};
        const std::size_t got = readDescriptor(0x0300, 0, langs, head[0]);
        const std::size_t bytes = std::min<std::size_t>(got, langs[0]);
        for (std::size_t off = 2; off + 2 <= bytes; off += 2) {
            const std::uint16_t id = getU16(langs + off);
            if (off == 2) languageId = id;
            if (id == 0x0409) {
                languageId = id;
                break;
            }
        }
    }

    manufacturer.clear();
    product.clear();
    serialNumber.clear();
    readString(dd[14], manufacturer);
    readString(dd[15], product);
    readString(dd[16], serialNumber);

    std::uint8_t b1 = 0;
    usbAddress = ioctl(req::kUsbAddress, &b1, 0, 1) && lastReturned > 0 ? b1 : 0;
    readName(req::kDeviceName, deviceName);
    readName(req::kFriendlyName, friendlyName);
    std::uint8_t b4[4] = {};
    driverVersion = ioctl(req::kDriverVersion, b4, 0, 4) && lastReturned >= 4 ? getU32(b4) : 0;
    std::fill_n(b4, 4, 0);
    stackVersion = ioctl(req::kStackVersion, b4, 0, 4) && lastReturned >= 4 ? getU32(b4) : 0;
    std::fill_n(b4, 4, 0);
    highSpeed = ioctl(req::kBusSpeed, b4, 0, 4) && lastReturned >= 4 && getU32(b4) == 2;

    // Configurations: at most two are kept.
    const int configs = std::min<int>(numConfigurations, 2);
    for (int i = 0; i < configs; ++i) {
        std::uint8_t first[9] = {};
        if (readDescriptor(static_cast<std::uint16_t>(0x0200 | i), 0, first, 9) < 4) continue;
        const std::uint16_t total = getU16(first + 2);
        if (total < 9) continue;
        std::vector<std::uint8_t> full(total, 0);
        const std::size_t got = readDescriptor(static_cast<std::uint16_t>(0x0200 | i), 0, full.data(), total);
        full.resize(got);
        configurations[i] = std::make_unique<UsbConfiguration>(driver_, handle_, full.data(), full.size());
        configDescriptors[i] = std::move(full);
    }

    control_ = std::make_unique<ControlEndpoint>(driver_, handle_, maxPacketSize0);

    if (configurations[0] && !configurations[0]->interfaces.empty()) {
        selectConfiguration(0);
        return true;
    }
    return false;
}

void UsbDevice::close()
{
    const DriverHandle h = handle_;
    handle_ = kInvalidHandle;
    instance_ = 0;
    current_ = nullptr;
    deviceDescriptor.fill(0);
    endPoints.fill(nullptr);
    isocIn = isocOut = bulkIn = bulkOut = interruptIn = interruptOut = nullptr;
    control_.reset();
    for (auto& c : configurations) c.reset();
    for (auto& c : configDescriptors) c.clear();
    devices = 0;
    numConfigurations = 0;
    numInterfaces = 0;
    altSettingCount = 0;
    if (h != kInvalidHandle && !driver_.close(h)) throw UsbError("Failed to close handle to driver.");
}

std::uint8_t UsbDevice::endpointCount() const
{
    if (handle_ == kInvalidHandle || current_ == nullptr) return 0;
    return static_cast<std::uint8_t>(current_->endpointObjects + 1);
}

UsbEndpoint* UsbDevice::endpointByAddress(std::uint8_t addr)
{
    if (addr == 0) return control_.get();
    const std::uint8_t n = endpointCount();
    for (std::uint8_t i = 0; i < n; ++i) {
        if (endPoints[i] == nullptr) throw UsbError("Failed to find endpoint.");
        if (endPoints[i]->address == addr) return endPoints[i];
    }
    return nullptr;
}

std::uint8_t UsbDevice::currentAltSetting()
{
    std::uint8_t alt = 0;
    if (!ioctl(req::kGetAltSetting, &alt, 0, 1) || lastReturned == 0) return 0xFF;
    return alt;
}

void UsbDevice::selectConfiguration(std::uint8_t n)
{
    configIndex = 0;
    for (int i = 0; i < 2; ++i) {
        if (configurations[i] && n != 0 && n == configurations[i]->stringIndex) configIndex = n;
    }
    // Only two configurations are kept; an index beyond them falls back to the first.
    if (configIndex > 1 || !configurations[configIndex]) configIndex = 0;
    UsbConfiguration* c = configurations[configIndex].get();
    current_ = nullptr;
    if (c == nullptr) {
        rebuildEndpointList();
        return;
    }
    configValue = c->value;
    configAttributes = c->attributes;
    maxPower = c->maxPower;
    numInterfaces = c->numInterfaces;
    altSettingCount = c->interfaces.empty() ? 0 : c->interfaces.front()->altSettingCount;

    const std::uint8_t alt = currentAltSetting();
    UsbInterface* pick = nullptr;
    for (auto& i : c->interfaces) {
        if (i->altSetting == alt) {
            pick = i.get();
            break;
        }
    }
    if (pick == nullptr && !c->interfaces.empty()) pick = c->interfaces.front().get();
    makeCurrent(pick);
}

bool UsbDevice::selectAltSetting(std::uint8_t alt)
{
    if (currentAltSetting() == alt) return true;
    UsbConfiguration* c = configurations[configIndex].get();
    if (c == nullptr) return false;
    UsbInterface* pick = nullptr;
    for (auto& i : c->interfaces) {
        if (i->altSetting == alt) {
            pick = i.get();
            break;
        }
    }
    if (pick == nullptr) return false;
    std::uint8_t a = alt;
    const bool ok = ioctl(req::kSetAltSetting, &a, 1, 1);
    makeCurrent(pick);
    return ok;
}

void UsbDevice::makeCurrent(UsbInterface* iface)
{
    current_ = iface;
    if (iface != nullptr) {
        interfaceNumber = iface->number;
        altSetting = iface->altSetting;
        ifClass = iface->ifClass;
        ifSubClass = iface->ifSubClass;
        ifProtocol = iface->ifProtocol;
    }
    rebuildEndpointList();
}

void UsbDevice::rebuildEndpointList()
{
    endPoints.fill(nullptr);
    isocIn = isocOut = bulkIn = bulkOut = interruptIn = interruptOut = nullptr;
    if (current_ == nullptr) return;
    for (std::size_t i = 1; i < current_->endpoints.size(); ++i) endPoints[i] = current_->endpoints[i].get();
    endPoints[0] = control_.get();
    const std::uint8_t n = endpointCount();
    for (std::uint8_t i = 1; i < n; ++i) {
        UsbEndpoint* e = endPoints[i];
        if (e == nullptr) continue;
        UsbEndpoint** slot = nullptr;
        if (e->isIsoc()) slot = e->directionIn ? &isocIn : &isocOut;
        else if (e->isBulk()) slot = e->directionIn ? &bulkIn : &bulkOut;
        else if (e->isInterrupt()) slot = e->directionIn ? &interruptIn : &interruptOut;
        if (slot != nullptr && *slot == nullptr) *slot = e;
        if (driverVersion < kDirectModeDriverVersion) e->mode = UsbEndpoint::Mode::Buffered;
    }
}

bool UsbDevice::cyclePort()
{
    return ioctl(req::kCyclePort, nullptr, 0, 0);
}

} // namespace usbbridge
