// The exports' rules and the firmware loaders over a scripted driver.

#include "tests/usbbridge/fake_driver.h"
#include "usbbridge/bridge.h"
#include "usbbridge/firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace usbbridge;
using fake::Bytes;

namespace {

struct BridgeTest : ::testing::Test {
    fake::Driver drv;
    std::unique_ptr<Bridge> bridge;
    void SetUp() override { start(); }
    void start()
    {
        bridge = std::make_unique<Bridge>(drv);
        bridge->returnTimeout = std::chrono::milliseconds(300);
        bridge->pauseTime = std::chrono::milliseconds(1);
    }
};

} // namespace

TEST_F(BridgeTest, BulkExportsCheckTheEndpointBeforeTransferring)
{
    std::uint8_t buf[512] = {};
    EXPECT_EQ(bridge->bulkWrite(buf, 512, 1), 2); // 0x82 is IN
    EXPECT_EQ(bridge->bulkWrite(buf, 512, 0), 3); // endpoint 0 is not bulk
    EXPECT_EQ(bridge->bulkWrite(buf, 512, 2), 0); // 0x04 OUT
    EXPECT_EQ(drv.bulks.back().endpoint, 0x04);
    EXPECT_EQ(drv.bulks.back().data.size(), 512u);
    EXPECT_EQ(bridge->bulkRead(buf, 512, 5), 6);  // index not below the count
    EXPECT_EQ(bridge->bulkRead(buf, 512, 2), 3);  // 0x04 is OUT
    EXPECT_EQ(bridge->bulkRead(buf, 512, 1), 0);
    // Indexes outside the list are "not present" for both directions, never a wild read.
    for (int bad : {-1, 5, 16, 1000, INT32_MIN}) {
        EXPECT_EQ(bridge->bulkWrite(buf, 512, bad), 6) << bad;
        EXPECT_EQ(bridge->bulkRead(buf, 512, bad), 6) << bad;
    }
    drv.bulkFails = true;
    EXPECT_EQ(bridge->bulkWrite(buf, 512, 2), 1);
    EXPECT_EQ(bridge->bulkRead(buf, 512, 1), 1);
}

TEST_F(BridgeTest, FewerThanFiveEndpointsIsReportedAfterTheKindChecks)
{
    drv.id.configs[0] = fake::configDescriptor({{0x82, 2, 512}, {0x04, 2, 512}, {0x86, 2, 512}});
    start();
    std::uint8_t buf[64] = {};
    EXPECT_EQ(bridge->bulkWrite(buf, 64, 2), 4);
    EXPECT_EQ(bridge->bulkWrite(buf, 64, 1), 2);
    EXPECT_EQ(bridge->bulkRead(buf, 64, 3), 4);
    EXPECT_EQ(bridge->read(bridge->device().handle()), 4);
    EXPECT_EQ(bridge->send(bridge->device().handle(), buf, 4), 4);
}

TEST_F(BridgeTest, ReadFillsTheReceiveBufferAndReturnsTheCountModulo256)
{
    const int h = bridge->device().handle();
    Bytes block(512);
    for (int i = 0; i < 512; ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    drv.inData.push_back(block);
    EXPECT_EQ(bridge->read(h), 0); // 512 bytes
    EXPECT_EQ(drv.bulks.back().endpoint, 0x86);
    EXPECT_EQ(bridge->readData(300), block[44]); // only the low 8 bits count
    EXPECT_EQ(bridge->readData(44), block[44]);
    drv.inData.push_back(Bytes{9, 8, 7});
    EXPECT_EQ(bridge->read(h), 3);
    EXPECT_EQ(bridge->readData(0), 9);
    EXPECT_EQ(bridge->read(h + 1), 5);
    drv.bulkFails = true;
    EXPECT_EQ(bridge->read(h), 1);
}

TEST_F(BridgeTest, SendCopiesTheDataToEndpointTwo)
{
    const int h = bridge->device().handle();
    std::uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(bridge->send(h, data, 3), 1);
    EXPECT_EQ(bridge->send(h + 1, data, 3), 5);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Enpoint count is 5, DevHandle = " + std::to_string(h)), std::string::npos);
    EXPECT_EQ(drv.bulks.back().endpoint, 0x04);
    EXPECT_EQ(drv.bulks.back().data, (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(bridge->send(h, nullptr, 3), 0);
    EXPECT_EQ(bridge->send(h, data, -2), 0);
}

TEST_F(BridgeTest, VendorRequestReturnsTheFirstReplyByte)
{
    std::uint8_t buf[6] = {0x55, 0x55};
    EXPECT_EQ(bridge->sendVendorRequest(1, 0xB4, 8, 0xBEEF, buf, 2), 1);
    EXPECT_EQ(buf[1], 0xB4);
    const auto& call = drv.controls.back();
    EXPECT_EQ(call.bmRequestType, 0xC0);
    EXPECT_EQ(call.wIndex, 0xBEEF);
    EXPECT_EQ(call.wValue, 8);
    // A stalled request reads as 0: the byte was cleared before the transfer.
    buf[0] = 0x77;
    EXPECT_EQ(bridge->sendVendorRequest(1, 0xB6, 0, 0xBEEF, buf, 1), 0);
    // Outgoing data goes out as the caller wrote it.
    std::uint8_t out[2] = {0x42, 0x43};
    EXPECT_EQ(bridge->sendVendorRequest(0, 0xB0, 0, 0, out, 2), 0x42);
    EXPECT_EQ(drv.controls.back().data, (Bytes{0x42, 0x43}));
    EXPECT_EQ(drv.controls.back().bmRequestType, 0x40);
    EXPECT_EQ(bridge->sendVendorRequest(1, 0xB3, 0, 0, nullptr, 4), 0);
    bridge->closeIfOpen();
    buf[0] = 0x99;
    EXPECT_EQ(bridge->sendVendorRequest(1, 0xB4, 0, 0, buf, 2), 0);
}

TEST_F(BridgeTest, ManufacturerCheckComparesAtMostSixtyThreeCharacters)
{
    const std::string seventy(70, 'M');
    drv.id.strings[1] = fake::stringDescriptor(std::u16string(70, u'M'));
    start();
    EXPECT_EQ(bridge->check(seventy.c_str()), 0); // the full text does not match...
    bridge->device().open(0);
    EXPECT_EQ(bridge->check(seventy.substr(0, 63).c_str()), 1); // ...its first 63 characters do
    EXPECT_NE(bridge->init(seventy.substr(0, 63).c_str()), 0);
    EXPECT_EQ(bridge->init(seventy.substr(0, 62).c_str()), 0);
    EXPECT_FALSE(bridge->device().isOpen());
    EXPECT_EQ(bridge->check("CYUSB FX2"), -1); // nothing open any more
    EXPECT_EQ(bridge->init("CYUSB FX2"), 0);
}

TEST_F(BridgeTest, CheckNeverMatchesADeviceItCouldNotOpen)
{
    ASSERT_EQ(bridge->check("CYUSB FX2"), 1);
    drv.openFails = true; // the strings of the device seen before are still in memory
    EXPECT_EQ(bridge->check("CYUSB FX2"), 0);
    EXPECT_EQ(bridge->check(nullptr), -1);
}

TEST_F(BridgeTest, OpenUsbDeviceSetsSizesAndTimeouts)
{
    EXPECT_EQ(bridge->openUsbDevice(), 1);
    UsbDevice& d = bridge->device();
    EXPECT_EQ(d.bulkOut->timeoutMs, 1500u);
    EXPECT_EQ(d.bulkIn->timeoutMs, 1500u);
    EXPECT_EQ(d.endPoints[0]->timeoutMs, 1500u);
    EXPECT_EQ(d.endPoints[3]->timeoutMs, 10000u);
    ASSERT_EQ(drv.transferSizes.size(), 2u);
    EXPECT_EQ(drv.transferSizes[0], (std::pair<std::uint8_t, std::uint32_t>{0x04, 1024}));
    EXPECT_EQ(drv.transferSizes[1], (std::pair<std::uint8_t, std::uint32_t>{0x82, 1024}));
    drv.id.device = fake::deviceDescriptor(0x1234, 0x5678);
    EXPECT_EQ(bridge->openUsbDevice(), 0);
    EXPECT_FALSE(d.isOpen());
}

// ---- firmware download ---------------------------------------------------------

namespace {
std::vector<fake::ControlCall> loads(const fake::Driver& d)
{
    std::vector<fake::ControlCall> v;
    for (const auto& c : d.controls)
        if (c.bRequest == 0xA0) v.push_back(c);
    return v;
}
} // namespace

TEST_F(BridgeTest, DownloadHoldsLoadsReleasesAndReopensTheNewDevice)
{
    drv.id = fake::bareFx2();
    drv.afterCycle = fake::boardFirmware();
    start();
    EXPECT_EQ(bridge->check("CYUSB FX2"), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(bridge->download(builtinImage(), builtinImageRecords()), 1);
    // The board came back at once; the loader did not sit out the full wait.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
    const auto l = loads(drv);
    ASSERT_EQ(l.size(), builtinImageRecords() + 1); // hold, the data records, release
    EXPECT_EQ(l.front().wValue, 0xE600);
    EXPECT_EQ(l.front().data, Bytes{1});
    EXPECT_EQ(l.back().wValue, 0xE600);
    EXPECT_EQ(l.back().data, Bytes{0});
    EXPECT_EQ(l.front().bmRequestType, 0x40);
    for (std::size_t i = 1; i + 1 < l.size(); ++i) {
        const ImageRecordView r = imageRecord(builtinImage(), i - 1);
        EXPECT_EQ(l[i].wValue, r.address);
        EXPECT_EQ(l[i].wIndex, 0);
        EXPECT_EQ(l[i].data, Bytes(r.data, r.data + r.length));
    }
    EXPECT_EQ(drv.cycles, 1);
    EXPECT_EQ(bridge->check("CYUSB FX2"), 1);
}

TEST_F(BridgeTest, DownloadOfAnEmptyImageAndOfAnEmptyRecord)
{
    std::vector<std::uint8_t> table;
    std::string error;
    ASSERT_TRUE(parseIntelHex(":00000001FF\n", table, error));
    EXPECT_EQ(bridge->download(table.data(), 1), 1);
    EXPECT_EQ(loads(drv).size(), 2u);
    EXPECT_EQ(drv.cycles, 1);

    drv.controls.clear();
    ASSERT_TRUE(parseIntelHex(":00123400BA\n:00000001FF\n", table, error)) << error;
    EXPECT_EQ(bridge->download(table.data(), 2), 1);
    const auto l = loads(drv);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[1].wValue, 0x1234);
    EXPECT_EQ(l[1].wLength, 0);
}

TEST_F(BridgeTest, DownloadRefusesAForeignDeviceAndLeavesItHeld)
{
    drv.id.device = fake::deviceDescriptor(0x04B4, 0x4711);
    start();
    EXPECT_EQ(bridge->download(builtinImage(), builtinImageRecords()), 0);
    const auto l = loads(drv);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].data, Bytes{1});
    EXPECT_EQ(drv.cycles, 0);

    drv.id.device = fake::deviceDescriptor(0x04B4, 0x1002); // the loader identity is accepted
    EXPECT_EQ(bridge->download(builtinImage(), builtinImageRecords()), 1);
}

TEST_F(BridgeTest, DownloadWithoutADeviceOrWhenTheBoardStaysAway)
{
    drv.present = false;
    start();
    drv.controls.clear();
    EXPECT_EQ(bridge->download(builtinImage(), builtinImageRecords()), 0);
    EXPECT_TRUE(drv.controls.empty());

    drv.present = true;
    start();
    drv.controls.clear();
    // The board drops off the bus on the release write and never comes back:
    // 0 after the wait, and nothing left open.
    bridge->returnTimeout = std::chrono::milliseconds(100);
    std::vector<std::uint8_t> table;
    std::string error;
    ASSERT_TRUE(parseIntelHex(":00000001FF\n", table, error));
    auto* d = &drv;
    drv.vendor = [d](const fake::ControlCall& c) -> std::optional<Bytes> {
        if (c.bRequest == 0xA0 && c.data == Bytes{0}) d->present = false;
        return Bytes{};
    };
    EXPECT_EQ(bridge->download(table.data(), 1), 0);
    EXPECT_FALSE(bridge->device().isOpen());
}

// ---- Intel HEX ------------------------------------------------------------------

TEST(IntelHex, SplitsLongRecordsAndRejectsWhatIsNotHex)
{
    std::vector<std::uint8_t> t;
    std::string e;
    // 20 data bytes at 0x0100 become a 16-byte and a 4-byte record.
    std::string line = ":14010000";
    unsigned sum = 0x14 + 0x01;
    for (int i = 0; i < 20; ++i) {
        char b[3];
        std::snprintf(b, sizeof b, "%02X", i);
        line += b;
        sum += static_cast<unsigned>(i);
    }
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    line += cs;
    ASSERT_TRUE(parseIntelHex(line + "\r\n:00000001FF\r\n", t, e)) << e;
    ASSERT_EQ(t.size(), 3 * kImageRecordSize);
    EXPECT_EQ(imageRecord(t.data(), 0).length, 16);
    EXPECT_EQ(imageRecord(t.data(), 0).address, 0x0100);
    EXPECT_EQ(imageRecord(t.data(), 1).length, 4);
    EXPECT_EQ(imageRecord(t.data(), 1).address, 0x0110);
    EXPECT_EQ(imageRecord(t.data(), 1).data[3], 19);
    EXPECT_EQ(imageRecord(t.data(), 2).type, 1);

    for (const char* bad : {":0200000080FE81\n:00000001FF\n", // checksum
                            ":0200000080FE80\n",              // no end record
                            ":02FFFF0080FE82\n:00000001FF\n", // past 64 KiB
                            ":0300000080FE80\n:00000001FF\n", // length field lies
                            "0200000080FE80\n:00000001FF\n",  // no colon
                            ":00000001FF\n:0200000080FE80\n", // data after the end
                            ":02000000G0FE80\n:00000001FF\n"}) {
        EXPECT_FALSE(parseIntelHex(bad, t, e)) << bad;
        EXPECT_FALSE(e.empty());
    }
}

TEST(BuiltinImage, EndsWithTheEndRecordAndHoldsOnlyShortRecords)
{
    const std::size_t n = builtinImageRecords();
    ASSERT_GE(n, 2u);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        EXPECT_EQ(imageRecord(builtinImage(), i).type, 0);
        EXPECT_LE(imageRecord(builtinImage(), i).length, 16);
    }
    EXPECT_EQ(imageRecord(builtinImage(), n - 1).type, 1);

    // The firmware presents what the host checks for: 04b4:8613 and the
    // manufacturer string "CYUSB FX2".
    std::vector<std::uint8_t> ram(0x10000, 0);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const ImageRecordView r = imageRecord(builtinImage(), i);
        std::copy_n(r.data, r.length, ram.begin() + r.address);
    }
    const Bytes device = fake::deviceDescriptor(0x04B4, 0x8613);
    const Bytes maker = fake::stringDescriptor(u"CYUSB FX2");
    EXPECT_NE(std::search(ram.begin(), ram.end(), device.begin(), device.end()), ram.end());
    EXPECT_NE(std::search(ram.begin(), ram.end(), maker.begin(), maker.end()), ram.end());
}

TEST(ImageVersion, ReadFromTheMarkWhereverTheRecordsSplitIt)
{
    EXPECT_EQ(imageVersion(builtinImage(), builtinImageRecords()), std::optional<std::uint16_t>(0x0200));
    std::vector<std::uint8_t> table;
    std::string error;
    // "ZV" 3.1 split over two records at 0x110E and 0x1112.
    ASSERT_TRUE(parseIntelHex(":04110E0000005A562D\n:021112000301D7\n:00000001FF\n", table, error)) << error;
    EXPECT_EQ(imageVersion(table.data(), table.size() / kImageRecordSize), std::optional<std::uint16_t>(0x0301));
    // A mark cut short, or none at all: nothing to check against.
    ASSERT_TRUE(parseIntelHex(":04110E0000005A562D\n:0111120003D9\n:00000001FF\n", table, error)) << error;
    EXPECT_EQ(imageVersion(table.data(), table.size() / kImageRecordSize), std::nullopt);
    ASSERT_TRUE(parseIntelHex(":041110004142020056\n:00000001FF\n", table, error)) << error;
    EXPECT_EQ(imageVersion(table.data(), table.size() / kImageRecordSize), std::nullopt);
}

// ---- script replay ------------------------------------------------------------------

namespace {

Bytes header(std::uint8_t tag, std::uint8_t endpoint, std::uint8_t request, std::uint16_t value, std::uint32_t length)
{
    Bytes h(32, 0);
    h[10] = tag;
    h[14] = endpoint;
    h[16] = request;
    h[18] = static_cast<std::uint8_t>(value);
    h[19] = static_cast<std::uint8_t>(value >> 8);
    putU32(h.data() + 28, length);
    return h;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(ScriptParse, BoundsWhatTheFileLeavesOpen)
{
    std::vector<ScriptRecord> recs;
    std::uint8_t cfg = 9, alt = 9;
    std::string e;
    const Bytes good = concat({header(0, 0, 0xA0, 0xE600, 1), Bytes{1}, header(0xFF, 0, 0, 0, 0),
                               header(7, 0, 0xA0, 0x100, 2), Bytes{5, 6}, header(0, 0, 0xA0, 0xE600, 1), Bytes{0},
                               Bytes(31, 0xEE)}); // a tail shorter than a header is ignored
    ASSERT_TRUE(parseScript(good.data(), good.size(), recs, cfg, alt, e)) << e;
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[1].tag, 0xFF);
    EXPECT_EQ(recs[1].dataLength, 0u);    // a pause consumes exactly its header
    EXPECT_EQ(recs[2].dataOffset, 32u + 1 + 32 + 32);
    EXPECT_EQ(recs[3].value, 0xE600);
    EXPECT_EQ(cfg, 0);

    const Bytes shortFile(31, 0);
    EXPECT_FALSE(parseScript(shortFile.data(), shortFile.size(), recs, cfg, alt, e));
    const Bytes otherEndpoint = concat({header(0, 0x04, 0, 0, 4), Bytes{1, 2, 3, 4}});
    EXPECT_FALSE(parseScript(otherEndpoint.data(), otherEndpoint.size(), recs, cfg, alt, e));
    EXPECT_NE(e.find("endpoint"), std::string::npos);
    const Bytes pastEnd = concat({header(0, 0, 0xA0, 0, 0xFFFFFFF0), Bytes{1, 2}});
    EXPECT_FALSE(parseScript(pastEnd.data(), pastEnd.size(), recs, cfg, alt, e));
    EXPECT_NE(e.find("past the end"), std::string::npos);
}

TEST_F(BridgeTest, InitializeUsbReplaysTheScriptForAForeignDevice)
{
    drv.id.device = fake::deviceDescriptor(0x1234, 0x0001, 0, 0);
    start();
    const auto dir = std::filesystem::temp_directory_path() / ("zelbo_spt_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "CYUSB.spt").string();
    const Bytes script = concat({header(0, 0, 0xA0, 0xE600, 1), Bytes{1}, header(0xFF, 0, 0, 0, 0),
                                 header(3, 0, 0xA0, 0x0200, 2), Bytes{7, 7}, header(0, 0, 0xA0, 0x0000, 3),
                                 Bytes{0x80, 0xFE, 0x00}, header(0, 0, 0xA0, 0xE600, 1), Bytes{0}});
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(script.data()),
                                                static_cast<std::streamsize>(script.size()));
    drv.afterCycle.reset();
    EXPECT_EQ(bridge->initializeUsb(path), 1);
    const auto l = loads(drv);
    ASSERT_EQ(l.size(), 3u); // the record with tag 3 is skipped
    EXPECT_EQ(l[0].data, Bytes{1});
    EXPECT_EQ(l[1].wValue, 0x0000);
    EXPECT_EQ(l[1].data, (Bytes{0x80, 0xFE, 0x00}));
    EXPECT_EQ(l[2].data, Bytes{0});

    // A rejected script sends nothing.
    drv.controls.clear();
    const Bytes bad = concat({header(0, 0, 0xA0, 0xE600, 1), Bytes{1}, header(0, 0x82, 0, 0, 0)});
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    EXPECT_EQ(bridge->initializeUsb(path), 0);
    EXPECT_TRUE(loads(drv).empty());

    // A missing script fails at once instead of waiting for a key.
    EXPECT_EQ(bridge->initializeUsb((dir / "missing.spt").string()), 0);
    std::filesystem::remove_all(dir);
}

TEST_F(BridgeTest, InitializeUsbLeavesTheBoardAlone)
{
    EXPECT_EQ(bridge->initializeUsb("/nonexistent/CYUSB.spt"), 1); // the board identifies itself
    drv.present = false;
    EXPECT_EQ(bridge->initializeUsb("/nonexistent/CYUSB.spt"), 0);
}
