// The device-access layer over a scripted driver: descriptors to objects,
// records on the wire, time-outs, transfer modes, hostile descriptors.

#include "tests/usbbridge/fake_driver.h"
#include "usbbridge/usb_device.h"

#include <gtest/gtest.h>

using namespace usbbridge;
using fake::Bytes;

TEST(TransferRecord, FieldsSitAtTheirWireOffsets)
{
    TransferRecord r;
    r.bmRequestType = 0xC0;
    r.bRequest = 0xFD;
    r.wValue = 0x0102;
    r.wIndex = 0xBEEF;
    r.wLength = 6;
    r.timeoutSeconds = 10;
    r.endpointAddress = 0x82;
    r.ntStatus = 0x11223344;
    r.usbdStatus = 0x55667788;
    r.isoPacketOffset = 38;
    r.isoPacketLength = 16;
    r.dataOffset = 54;
    r.dataLength = 1000;
    std::uint8_t b[TransferRecord::kSize];
    r.store(b);
    EXPECT_EQ(b[0], 0xC0);
    EXPECT_EQ(b[1], 0xFD);
    EXPECT_EQ(getU16(b + 4), 0xBEEF);
    EXPECT_EQ(getU32(b + 8), 10u);
    EXPECT_EQ(b[13], 0x82);
    EXPECT_EQ(getU32(b + 14), 0x11223344u);
    EXPECT_EQ(getU32(b + 18), 0x55667788u);
    EXPECT_EQ(getU32(b + 30), 54u);
    EXPECT_EQ(getU32(b + 34), 1000u);
    const TransferRecord back = TransferRecord::load(b);
    EXPECT_EQ(back.wValue, 0x0102);
    EXPECT_EQ(back.isoPacketLength, 16u);
}

TEST(ControlEndpoint, RecordCarriesWholeSecondsRoundedUpBelowOne)
{
    fake::Driver drv;
    UsbDevice dev(drv);
    ASSERT_TRUE(dev.isOpen());
    ControlEndpoint& c = *dev.controlEndpoint();
    for (auto [ms, secs] : {std::pair{1500u, 1u}, {500u, 1u}, {0u, 0u}, {10000u, 10u}, {999u, 1u}, {2999u, 2u}}) {
        c.timeoutMs = ms;
        c.direction = 1;
        c.reqCode = 0xB3;
        std::uint8_t b[1] = {};
        int len = 1;
        EXPECT_TRUE(c.transfer(b, len));
        EXPECT_EQ(drv.controls.back().timeoutSeconds, secs) << ms << " ms";
    }
    // The default time-out of every endpoint is 10 s.
    EXPECT_EQ(dev.endPoints[1]->timeoutMs, 10000u);
}

TEST(UsbDevice, FirmwareEndpointListAndShortcuts)
{
    fake::Driver drv;
    UsbDevice dev(drv);
    ASSERT_TRUE(dev.isOpen());
    EXPECT_EQ(dev.endpointCount(), 5);
    const std::uint8_t want[] = {0x00, 0x82, 0x04, 0x86, 0x88};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dev.endPoints[i]->address, want[i]) << i;
    EXPECT_EQ(dev.endPoints[0], dev.controlEndpoint());
    ASSERT_NE(dev.bulkIn, nullptr);
    ASSERT_NE(dev.bulkOut, nullptr);
    EXPECT_EQ(dev.bulkIn->address, 0x82);
    EXPECT_EQ(dev.bulkOut->address, 0x04);
    EXPECT_EQ(dev.isocIn, nullptr);
    EXPECT_EQ(dev.interruptIn, nullptr);
    EXPECT_EQ(dev.vendorId, 0x04B4);
    EXPECT_EQ(dev.productId, 0x8613);
    EXPECT_EQ(narrow(dev.manufacturer, 63), "CYUSB FX2");
    EXPECT_EQ(narrow(dev.product, 63), "Evaluation board 001");
    EXPECT_EQ(dev.endpointByAddress(0x86), dev.endPoints[3]);
    EXPECT_EQ(dev.endpointByAddress(0x01), nullptr);
    EXPECT_TRUE(dev.highSpeed);
    EXPECT_EQ(dev.friendlyName, "fake friendly");
    EXPECT_TRUE(dev.serialNumber.empty()); // index 0: no string, not the language list

    // After close the list is empty but the identity stays.
    dev.close();
    EXPECT_EQ(dev.endpointCount(), 0);
    EXPECT_EQ(dev.endPoints[1], nullptr);
    EXPECT_EQ(dev.productId, 0x8613);
}

TEST(UsbEndpoint, SetTransferSizeRoundsUpToWholePackets)
{
    fake::Driver drv;
    UsbDevice dev(drv);
    dev.bulkOut->setTransferSize(1000);
    dev.bulkOut->setTransferSize(1024);
    dev.bulkIn->setTransferSize(1);
    ASSERT_EQ(drv.transferSizes.size(), 3u);
    EXPECT_EQ(drv.transferSizes[0], (std::pair<std::uint8_t, std::uint32_t>{0x04, 1024}));
    EXPECT_EQ(drv.transferSizes[1].second, 1024u);
    EXPECT_EQ(drv.transferSizes[2], (std::pair<std::uint8_t, std::uint32_t>{0x82, 512}));
}

TEST(UsbDevice, LanguageChoiceFromStringDescriptorZero)
{
    struct Case {
        Bytes langs;
        std::uint16_t want;
    };
    const Case cases[] = {
        {{6, 3, 0x07, 0x04, 0x09, 0x04}, 0x0409}, // German and US English: English
        {{4, 3, 0x07, 0x04}, 0x0407},             // only German
        {{2, 3}, 0},                              // none listed
        {{8, 3, 0x07, 0x04}, 0x0407},             // claims two more languages than it sends
    };
    for (const Case& c : cases) {
        fake::Driver drv;
        drv.id.strings[0] = c.langs;
        UsbDevice dev(drv);
        EXPECT_EQ(dev.languageId, c.want);
        // The strings were asked for in the chosen language.
        bool asked = false;
        for (const auto& call : drv.controls)
            if (call.wValue == 0x0301) asked = asked || call.wIndex == c.want;
        EXPECT_TRUE(asked);
    }
}

TEST(UsbEndpoint, DirectModeDeliversIntoTheCallersBufferBufferedModeCopies)
{
    for (std::uint32_t version : {kOurDriverVersion, 0x01050400u}) {
        fake::Driver drv;
        drv.driverVersion = version;
        UsbDevice dev(drv);
        const bool direct = version >= kDirectModeDriverVersion;
        EXPECT_EQ(dev.bulkIn->mode, direct ? UsbEndpoint::Mode::Direct : UsbEndpoint::Mode::Buffered);
        drv.inData.push_back(Bytes{1, 2, 3, 4, 5});
        std::uint8_t buf[16] = {};
        int len = sizeof buf;
        ASSERT_TRUE(dev.bulkIn->transfer(buf, len));
        EXPECT_EQ(len, 5);
        EXPECT_EQ(buf[0], 1);
        EXPECT_EQ(buf[4], 5);
        EXPECT_EQ(buf[5], 0);
        const fake::BulkCall& call = drv.bulks.back();
        EXPECT_EQ(call.code, direct ? req::kDirectXfer : req::kBufferedXfer);
        // Only direct mode hands the caller's own buffer to the driver.
        EXPECT_EQ(call.out == buf, direct);
        EXPECT_EQ(dev.bulkIn->bytesTransferred, 5u);
    }
}

TEST(UsbEndpoint, TimeOutAbortsTheEndpointAndFails)
{
    fake::Driver drv;
    UsbDevice dev(drv);
    drv.timeoutNext = 1;
    std::uint8_t buf[512];
    int len = sizeof buf;
    EXPECT_FALSE(dev.bulkIn->transfer(buf, len));
    EXPECT_EQ(len, 0);
    ASSERT_EQ(drv.aborts.size(), 1u);
    EXPECT_EQ(drv.aborts[0], 0x82);
    // The next transfer works again.
    len = sizeof buf;
    EXPECT_TRUE(dev.bulkIn->transfer(buf, len));
}

TEST(UsbEndpoint, FailedTransferKeepsStatusAndRefusesBadArguments)
{
    fake::Driver drv;
    UsbDevice dev(drv);
    drv.bulkFails = true;
    std::uint8_t buf[4] = {1, 2, 3, 4};
    int len = 4;
    EXPECT_FALSE(dev.bulkOut->transfer(buf, len));
    EXPECT_NE(dev.bulkOut->usbdStatus, 0u);
    len = -1;
    EXPECT_FALSE(dev.bulkOut->transfer(buf, len));
    len = 4;
    EXPECT_FALSE(dev.bulkOut->transfer(nullptr, len));
    // A control transfer longer than wLength can say is refused, not truncated.
    int huge = 0x10000;
    Bytes big(0x10000);
    EXPECT_FALSE(dev.controlEndpoint()->transfer(big.data(), huge));
}

TEST(UsbDevice, CloseFailureIsRaisedAfterReleasingEverything)
{
    fake::Driver drv;
    UsbDevice dev(drv);
    drv.closeFails = true;
    try {
        dev.close();
        FAIL() << "no error";
    } catch (const UsbError& e) {
        EXPECT_STREQ(e.what(), "Failed to close handle to driver.");
    }
    EXPECT_FALSE(dev.isOpen());
    EXPECT_EQ(dev.endpointCount(), 0);
    drv.closeFails = false;
}

TEST(UsbDevice, NoDeviceLeavesEverythingClosed)
{
    fake::Driver drv;
    drv.present = false;
    UsbDevice dev(drv);
    EXPECT_FALSE(dev.isOpen());
    EXPECT_EQ(dev.endpointCount(), 0);
    EXPECT_EQ(dev.vendorId, 0);
    std::uint8_t b = 0;
    int len = 1;
    EXPECT_FALSE(dev.controlEndpoint() != nullptr && dev.controlEndpoint()->transfer(&b, len));
}

TEST(UsbDevice, LyingDescriptorsAreReadOnlyAsFarAsTheyArrived)
{
    // Each case is a device whose descriptors misstate their lengths; under
    // the sanitizers a read past any buffer fails the test.
    std::vector<fake::Identity> ids;
    {
        auto id = fake::boardFirmware();
        id.configs[0][2] = 0xFF; // total length far beyond what is sent
        id.configs[0][3] = 0x0F;
        ids.push_back(id);
    }
    {
        auto id = fake::boardFirmware();
        id.configs[0][25] = 0;   // the second endpoint descriptor has length 0
        ids.push_back(id);
    }
    {
        auto id = fake::boardFirmware();
        id.configs[0][13] = 15;  // the interface claims 15 endpoints but has 4
        ids.push_back(id);
    }
    {
        auto id = fake::boardFirmware();
        id.configs[0][18] = 200; // an endpoint descriptor running past the end
        ids.push_back(id);
    }
    {
        auto id = fake::boardFirmware();
        id.strings[1] = Bytes{0xFE, 3, 'C', 0}; // string claims 254 bytes
        id.device[17] = 9;                       // nine configurations, one answered
        ids.push_back(id);
    }
    {
        auto id = fake::boardFirmware();
        id.device.resize(5); // truncated device descriptor
        ids.push_back(id);
    }
    {
        auto id = fake::boardFirmware();
        Bytes many{9, 2, 0, 0, 9, 1, 0, 0x80, 50};
        for (int i = 0; i < 10; ++i) many.insert(many.end(), {9, 4, 0, static_cast<std::uint8_t>(i), 0, 0xFF, 0, 0, 0});
        many[2] = static_cast<std::uint8_t>(many.size());
        id.configs[0] = many; // ten alternate settings, no endpoints
        ids.push_back(id);
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        fake::Driver drv;
        drv.id = ids[i];
        UsbDevice dev(drv);
        EXPECT_TRUE(dev.isOpen()) << i;
        const int n = dev.endpointCount();
        EXPECT_LE(n, 16) << i;
        for (int e = 0; e < n; ++e) EXPECT_NE(dev.endPoints[e], nullptr) << i << " entry " << e;
    }
    {
        fake::Driver drv;
        drv.id = ids[2];
        UsbDevice dev(drv);
        EXPECT_EQ(dev.endpointCount(), 5); // the endpoints that exist, not the claim
    }
    {
        fake::Driver drv;
        drv.id = ids[1];
        UsbDevice dev(drv);
        EXPECT_EQ(dev.endpointCount(), 2); // the walk stops at the empty descriptor
    }
    {
        fake::Driver drv;
        drv.id = ids[6];
        UsbDevice dev(drv);
        ASSERT_TRUE(dev.configurations[0]);
        EXPECT_EQ(dev.configurations[0]->interfaces.size(), 8u);
        EXPECT_EQ(dev.altSettingCount, 8);
    }
}

TEST(UsbDevice, AlternateSettingsSwitchTheEndpointList)
{
    fake::Driver drv;
    Bytes c{9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    c.insert(c.end(), {9, 4, 0, 0, 1, 0xFF, 0, 0, 0, 7, 5, 0x82, 2, 0, 2, 0});
    c.insert(c.end(), {9, 4, 0, 1, 2, 0xFF, 0, 0, 0, 7, 5, 0x81, 3, 64, 0, 1, 7, 5, 0x01, 1, 0, 4, 1});
    c[2] = static_cast<std::uint8_t>(c.size());
    drv.id.configs[0] = c;
    UsbDevice dev(drv);
    EXPECT_EQ(dev.endpointCount(), 2);
    EXPECT_EQ(dev.altSettingCount, 2);
    EXPECT_TRUE(dev.selectAltSetting(1));
    EXPECT_EQ(dev.currentAltSetting(), 1);
    EXPECT_EQ(dev.endpointCount(), 3);
    ASSERT_NE(dev.interruptIn, nullptr);
    EXPECT_EQ(dev.interruptIn->address, 0x81);
    ASSERT_NE(dev.isocOut, nullptr);
    EXPECT_EQ(dev.isocOut->maxPacketSize, 1024);
    EXPECT_FALSE(dev.selectAltSetting(5));

    // An isochronous transfer carries a packet table of 8 bytes per packet
    // behind the record, and in buffered mode the data behind the table.
    Bytes data(2500, 0x11);
    int len = static_cast<int>(data.size());
    EXPECT_TRUE(dev.isocOut->transfer(data.data(), len));
    const TransferRecord direct = drv.bulks.back().record;
    EXPECT_EQ(drv.bulks.back().code, req::kDirectXfer);
    EXPECT_EQ(direct.isoPacketOffset, 38u);
    EXPECT_EQ(direct.isoPacketLength, 8u * 3); // 2500 bytes in 1024-byte packets
    EXPECT_EQ(direct.dataOffset, 0u);
    dev.isocOut->mode = UsbEndpoint::Mode::Buffered;
    len = static_cast<int>(data.size());
    EXPECT_TRUE(dev.isocOut->transfer(data.data(), len));
    EXPECT_EQ(drv.bulks.back().code, req::kBufferedXfer);
    EXPECT_EQ(drv.bulks.back().record.dataOffset, 38u + 24u);
    EXPECT_EQ(drv.bulks.back().data, data);
    len = 0;
    const std::size_t before = drv.bulks.size();
    EXPECT_FALSE(dev.isocOut->transfer(data.data(), len)); // no packet: fails without a request
    EXPECT_EQ(drv.bulks.size(), before);
}

TEST(Narrow, CutsAtSixtyThreeBytesWithoutSplittingCharacters)
{
    std::u16string s(70, u'x');
    EXPECT_EQ(narrow(s, 63), std::string(63, 'x'));
    std::u16string umlauts(40, u'\u00e4'); // two bytes each in UTF-8
    EXPECT_EQ(narrow(umlauts, 63).size(), 62u);
    EXPECT_EQ(narrow(std::u16string(u"ab\0cd", 5), 63), "ab");
}
