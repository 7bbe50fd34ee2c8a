#include "tests/link/fake_bridge.h"

#include <cstring>

namespace zelbo::link::test {

FakeBridge& FakeBridge::instance()
{
    static FakeBridge fake;
    return fake;
}

void FakeBridge::reset()
{
    std::lock_guard lock(mutex_);
    script_ = FakeScript{};
    outgoing_.clear();
    vendor_.clear();
    writes_.clear();
    reads_.clear();
    blocks_.clear();
    transfers_.clear();
    image_.clear();
    announced_ = false;
    announceCode_ = 0;
    downloaded_ = configured_ = resetDone_ = skipSeen_ = false;
    busyLeft_ = 0;
    downloads_ = status_ = closes_ = 0;
}

void FakeBridge::clearLogs()
{
    std::lock_guard lock(mutex_);
    vendor_.clear();
    writes_.clear();
    reads_.clear();
    blocks_.clear();
    transfers_.clear();
    image_.clear();
    status_ = 0;
}

std::unique_ptr<CCyUSB> FakeBridge::makeBinding()
{
    auto b = std::make_unique<CCyUSB>(CCyUSB::Unbound{});
    b->InitializeUSB = &FakeBridge::InitializeUSB;
    b->USB_Close = &FakeBridge::USB_Close;
    b->USB_BulkWrite = &FakeBridge::USB_BulkWrite;
    b->USB_BulkRead = &FakeBridge::USB_BulkRead;
    b->GetPID = &FakeBridge::GetPID;
    b->GetVID = &FakeBridge::GetVID;
    b->GetDLLVersion = &FakeBridge::GetDLLVersion;
    b->GetDriverVersion = &FakeBridge::GetDriverVersion;
    b->GetDeviceID = &FakeBridge::GetDeviceID;
    b->GetStringDescriptor = &FakeBridge::GetStringDescriptor;
    b->USB_Check = &FakeBridge::USB_Check;
    b->USB_Init = &FakeBridge::USB_Init;
    b->download = &FakeBridge::download;
    b->USB_Send = &FakeBridge::USB_Send;
    b->USB_Read = &FakeBridge::USB_Read;
    b->ReadData = &FakeBridge::ReadData;
    b->StringDesc1 = &FakeBridge::StringDesc1;
    b->StringDesc2 = &FakeBridge::StringDesc2;
    b->SendVendorRequest = &FakeBridge::SendVendorRequest;
    b->OpenUSBDevice = &FakeBridge::OpenUSBDevice;
    return b;
}

void FakeBridge::pushBlock(const Block& b)
{
    std::lock_guard lock(mutex_);
    outgoing_.push_back(b);
}

#define FAKE_LOG_GETTER(type, name, member)                                                        \
    type FakeBridge::name() const                                                                  \
    {                                                                                              \
        std::lock_guard lock(mutex_);                                                              \
        return member;                                                                             \
    }
FAKE_LOG_GETTER(std::vector<VendorCall>, vendorCalls, vendor_)
FAKE_LOG_GETTER(std::vector<RegWrite>, writes, writes_)
FAKE_LOG_GETTER(std::vector<std::uint8_t>, readRequests, reads_)
FAKE_LOG_GETTER(std::vector<std::vector<std::uint8_t>>, blockFrames, blocks_)
FAKE_LOG_GETTER(std::vector<std::vector<std::uint8_t>>, commandTransfers, transfers_)
FAKE_LOG_GETTER(std::vector<std::size_t>, imageChunks, image_)
FAKE_LOG_GETTER(int, downloads, downloads_)
FAKE_LOG_GETTER(int, statusRequests, status_)
FAKE_LOG_GETTER(int, closes, closes_)
#undef FAKE_LOG_GETTER

int FakeBridge::InitializeUSB() { return 1; }
void FakeBridge::USB_Close(int)
{
    auto& f = instance();
    std::lock_guard lock(f.mutex_);
    ++f.closes_;
}
unsigned FakeBridge::GetPID() { return 0x8613; }
unsigned FakeBridge::GetVID() { return 0x04B4; }
void FakeBridge::GetDLLVersion(char* t) { std::strcpy(t, "fake"); }
unsigned FakeBridge::GetDriverVersion() { return 0; }
void FakeBridge::GetDeviceID(char* t) { t[0] = 0; }
void FakeBridge::GetStringDescriptor(char* t) { t[0] = 0; }
int FakeBridge::USB_Send(int, unsigned char*, int) { return 0; }
unsigned char FakeBridge::USB_Read(int) { return 1; }
unsigned char FakeBridge::ReadData(int) { return 0; }
void FakeBridge::StringDesc1(char* t) { std::strcpy(t, "CYUSB FX2"); }
void FakeBridge::StringDesc2(char* t) { t[0] = 0; }
int FakeBridge::OpenUSBDevice() { return 1; }

int FakeBridge::USB_Check(const char*)
{
    auto& f = instance();
    std::lock_guard lock(f.mutex_);
    return f.downloaded_ ? f.script_.checkAfterDownload : f.script_.checkBeforeDownload;
}

int FakeBridge::USB_Init(const char*)
{
    auto& f = instance();
    std::lock_guard lock(f.mutex_);
    return f.script_.handle;
}

int FakeBridge::download()
{
    auto& f = instance();
    std::lock_guard lock(f.mutex_);
    f.downloaded_ = true;
    ++f.downloads_;
    return 1;
}

int FakeBridge::SendVendorRequest(unsigned char dir, unsigned char req, unsigned short value,
                                  unsigned short index, unsigned char* buf, int len)
{
    if (dir != 1 || index != 0xBEEF || len < 0)
        return 0;
    return instance().vendor(req, value, buf, len);
}

int FakeBridge::vendor(unsigned char req, unsigned short value, unsigned char* buf, int len)
{
    std::lock_guard lock(mutex_);
    if (req == 0xFD)
        ++status_;
    else
        vendor_.push_back({req, value, len});
    if (len > 0)
        buf[0] = 0;
    if (script_.vanished)
        return 0;
    // With the firmware missing the device is closed: nothing answers.
    if (script_.checkBeforeDownload != 1 && script_.checkAfterDownload != 1)
        return 0;
    std::uint8_t reply[8] = {};
    switch (req) {
    case 0xFD: {
        const bool waiting = !outgoing_.empty();
        reply[0] = waiting ? 1 : 0;
        reply[1] = static_cast<std::uint8_t>(0x01 | (waiting ? 0x02 : 0) |
                                             (script_.acceptsCommands ? 0x04 : 0));
        break;
    }
    case 0xBA:
        if (script_.alreadyConfigured) {
            const bool first = !skipSeen_;
            skipSeen_ = true;
            reply[0] = first ? 0 : script_.skippedStatus[0];
            reply[1] = first ? 1 : script_.skippedStatus[1];
        } else if (configured_) {
            reply[0] = reply[1] = 1;
        } else if (resetDone_ && busyLeft_ != 0) {
            reply[1] = 1; // still busy
            if (busyLeft_ > 0)
                --busyLeft_;
        }
        break;
    case 0xB9:
        reply[0] = script_.resetAck ? 1 : 0;
        if (script_.resetAck) {
            resetDone_ = true;
            busyLeft_ = script_.busyPolls;
        }
        break;
    case 0xB4:
        announced_ = true;
        announceCode_ = value;
        reply[0] = 1;
        break;
    case 0xB5:
        reply[0] = 1;
        if (value == 0 && script_.hardwareReady) {
            Block b{};
            b[1] = 0x01;
            outgoing_.push_back(b);
        }
        break;
    case 0xB3: reply[0] = script_.scopeCapable ? 1 : 0; break;
    default: reply[0] = 1; break;
    }
    std::memcpy(buf, reply, static_cast<std::size_t>(std::min(len, 8)));
    return buf[0];
}

int FakeBridge::USB_BulkWrite(unsigned char* buffer, int length, int ep)
{
    if (ep != 2)
        return 2;
    return instance().bulkWrite(buffer, length);
}

int FakeBridge::bulkWrite(const unsigned char* b, int n)
{
    std::lock_guard lock(mutex_);
    if (script_.vanished)
        return 6;
    if (announced_) {
        announced_ = false;
        image_.push_back(static_cast<std::size_t>(n));
        if (announceCode_ == 0x19) {
            if (script_.closingWriteResult == 0 && script_.configureOk)
                configured_ = true;
            return script_.closingWriteResult;
        }
        if (script_.failImageChunk >= 0 &&
            static_cast<int>(image_.size()) - 1 == script_.failImageChunk)
            return 1;
        return 0;
    }
    if (script_.bulkWriteResult != 0)
        return script_.bulkWriteResult;
    if (n >= 9 && b[3] == 0x03) {
        blocks_.emplace_back(b, b + n);
        return 0;
    }
    transfers_.emplace_back(b, b + n);
    parseCommands(b, n);
    return 0;
}

void FakeBridge::parseCommands(const unsigned char* b, int n)
{
    Block answer{};
    std::size_t aoff = 0;
    int i = 0;
    while (i < n) {
        if (i + 5 <= n && b[i + 3] == 0x80) {
            const std::uint8_t reg = b[i + 4];
            reads_.push_back(reg);
            if (aoff + 6 > answer.size()) {
                outgoing_.push_back(answer);
                answer = {};
                aoff = 0;
            }
            answer[aoff + 1] = 0x40;
            answer[aoff + 4] = reg;
            auto it = script_.registers.find(reg);
            answer[aoff + 5] = it == script_.registers.end() ? 0 : it->second;
            aoff += 6;
            i += 5;
        } else if (i + 6 <= n && b[i + 3] == 0x00) {
            writes_.push_back({b[i], b[i + 4], b[i + 5]});
            i += 6;
        } else {
            break; // malformed: the rest is ignored
        }
    }
    if (aoff)
        outgoing_.push_back(answer);
}

int FakeBridge::USB_BulkRead(unsigned char* buffer, int length, int ep)
{
    if (ep != 1)
        return 3;
    auto& f = instance();
    std::lock_guard lock(f.mutex_);
    if (f.script_.vanished)
        return 6;
    if (f.script_.bulkReadResult != 0)
        return f.script_.bulkReadResult;
    std::memset(buffer, 0, static_cast<std::size_t>(length));
    if (!f.outgoing_.empty()) {
        std::memcpy(buffer, f.outgoing_.front().data(),
                    std::min<std::size_t>(static_cast<std::size_t>(length), 512));
        f.outgoing_.pop_front();
    }
    return 0;
}

} // namespace zelbo::link::test
