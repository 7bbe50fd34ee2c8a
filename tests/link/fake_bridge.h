#pragma once
// A scripted stand-in for the bridge library: a table of plain functions that
// act like a healthy board (firmware running, FPGA configurable, Hardware
// Ready after port A bit 7 is set, register reads answered) unless a test
// changes the script. Everything it receives is logged.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "link/clock.h"
#include "link/cyusb.h"

namespace zelbo::link::test {

struct VendorCall {
    std::uint8_t request;
    std::uint16_t value;
    int length;
};

struct RegWrite {
    std::uint8_t cls, reg, value;
    bool operator==(const RegWrite&) const = default;
};

using Block = std::array<std::uint8_t, 512>;

struct FakeScript {
    // Firmware and device
    int checkBeforeDownload = 1;
    int checkAfterDownload = 1;
    int handle = 7;
    // FPGA configuration (request 0xBA answers {byte0, byte1})
    bool alreadyConfigured = false;             // first 0xBA: byte 1 non-zero
    std::array<std::uint8_t, 2> skippedStatus{1, 0}; // second 0xBA when already configured
    bool resetAck = true;                       // 0xB9 answers 1
    int busyPolls = 0;                          // 0xBA polls answering {0,1} after the reset; <0: for ever
    bool configureOk = true;                    // final 0xBA answers {1,1}
    int closingWriteResult = 0;                 // bulk write of the closing bytes
    int failImageChunk = -1;                    // index of the image chunk whose write fails
    // Running link
    bool acceptsCommands = true;
    bool hardwareReady = true;
    bool scopeCapable = true;
    int bulkWriteResult = 0;    // for command and block writes
    int bulkReadResult = 0;
    bool vanished = false;      // every transfer fails, status reads zero
    std::map<std::uint8_t, std::uint8_t> registers; // answers to read requests
};

class FakeBridge {
public:
    static FakeBridge& instance();

    // Resets script and logs.
    void reset();
    // A binding whose twenty pointers lead here.
    static std::unique_ptr<CCyUSB> makeBinding();

    // Script (take the lock through edit()).
    template <class F> void edit(F&& f)
    {
        std::lock_guard lock(mutex_);
        f(script_);
    }
    void pushBlock(const Block& b);

    // Logs.
    std::vector<VendorCall> vendorCalls() const;
    std::vector<RegWrite> writes() const;
    std::vector<std::uint8_t> readRequests() const;
    std::vector<std::vector<std::uint8_t>> blockFrames() const;
    std::vector<std::vector<std::uint8_t>> commandTransfers() const;
    std::vector<std::size_t> imageChunks() const; // lengths, in order; closing bytes included
    int downloads() const;
    int statusRequests() const;
    int closes() const;
    void clearLogs();

    // C entry points
    static int InitializeUSB();
    static void USB_Close(int);
    static int USB_BulkWrite(unsigned char* buffer, int length, int ep);
    static int USB_BulkRead(unsigned char* buffer, int length, int ep);
    static unsigned GetPID();
    static unsigned GetVID();
    static void GetDLLVersion(char* t);
    static unsigned GetDriverVersion();
    static void GetDeviceID(char* t);
    static void GetStringDescriptor(char* t);
    static int USB_Check(const char* m);
    static int USB_Init(const char* m);
    static int download();
    static int USB_Send(int, unsigned char*, int);
    static unsigned char USB_Read(int);
    static unsigned char ReadData(int);
    static void StringDesc1(char* t);
    static void StringDesc2(char* t);
    static int SendVendorRequest(unsigned char dir, unsigned char req, unsigned short value,
                                 unsigned short index, unsigned char* buf, int len);
    static int OpenUSBDevice();

private:
    int vendor(unsigned char req, unsigned short value, unsigned char* buf, int len);
    int bulkWrite(const unsigned char* buffer, int length);
    void parseCommands(const unsigned char* b, int n);

    mutable std::mutex mutex_;
    FakeScript script_;
    std::deque<Block> outgoing_;
    std::vector<VendorCall> vendor_;
    std::vector<RegWrite> writes_;
    std::vector<std::uint8_t> reads_;
    std::vector<std::vector<std::uint8_t>> blocks_;
    std::vector<std::vector<std::uint8_t>> transfers_;
    std::vector<std::size_t> image_;
    bool announced_ = false;
    std::uint16_t announceCode_ = 0;
    bool downloaded_ = false;
    bool configured_ = false;
    bool resetDone_ = false;
    bool skipSeen_ = false;
    int busyLeft_ = 0;
    int downloads_ = 0;
    int status_ = 0;
    int closes_ = 0;
};

// A clock that records pauses and returns at once; its time moves only by them.
class FakeClock final : public Clock {
public:
    void sleep(std::chrono::milliseconds ms) override
    {
        std::lock_guard lock(m_);
        pauses_.push_back(ms);
        t_ += ms;
    }
    TimePoint now() override
    {
        std::lock_guard lock(m_);
        return TimePoint{} + t_;
    }
    std::vector<std::chrono::milliseconds> pauses() const
    {
        std::lock_guard lock(m_);
        return pauses_;
    }

private:
    mutable std::mutex m_;
    std::chrono::milliseconds t_{0};
    std::vector<std::chrono::milliseconds> pauses_;
};

// Builders for response blocks.
struct BlockBuilder {
    Block b{};
    std::size_t off = 0;
    BlockBuilder& record(std::uint8_t code, std::uint8_t p4 = 0, std::uint8_t p5 = 0)
    {
        b[off + 1] = code;
        b[off + 4] = p4;
        b[off + 5] = p5;
        off += 6;
        return *this;
    }
    BlockBuilder& upload(int ch, const std::uint8_t* data, std::size_t n)
    {
        b[off + 1] = static_cast<std::uint8_t>(0x50 + ch);
        b[off + 4] = static_cast<std::uint8_t>(n >> 8);
        b[off + 5] = static_cast<std::uint8_t>(n & 0xFF);
        for (std::size_t i = 0; i < n && off + 6 + i < b.size(); ++i)
            b[off + 6 + i] = data[i];
        off += 6 + n;
        return *this;
    }
};

} // namespace zelbo::link::test
