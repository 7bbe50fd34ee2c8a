// The board as a USB driver layer sees it: enumeration, firmware download,
// descriptors and the firmware's vendor requests.

#include "board_fixture.h"

namespace boardtest {
namespace {

std::string text(const std::vector<std::uint8_t>& stringDescriptor)
{
    std::string s;
    for (std::size_t i = 2; i + 1 < stringDescriptor.size(); i += 2) s += static_cast<char>(stringDescriptor[i]);
    return s;
}

using Bytes = std::vector<std::uint8_t>;

TEST_F(BoardTest, PowersUpAsABareFx2)
{
    EXPECT_TRUE(board.present());
    const auto dev = descriptor(0x0100);
    ASSERT_EQ(dev.result, Result::Ok);
    ASSERT_EQ(dev.bytes.size(), 18u);
    EXPECT_EQ(dev.bytes[1], 1);
    EXPECT_EQ(dev.bytes[8] | dev.bytes[9] << 8, 0x04B4);
    EXPECT_EQ(dev.bytes[10] | dev.bytes[11] << 8, 0x8613);
    EXPECT_EQ(dev.bytes[14], 0) << "no manufacturer string";
    EXPECT_EQ(dev.bytes[15], 0) << "no product string";
    EXPECT_EQ(dev.bytes[17], 1);

    const auto cfg = descriptor(0x0200);
    ASSERT_EQ(cfg.result, Result::Ok);
    ASSERT_EQ(cfg.bytes.size(), std::size_t(cfg.bytes[2] | cfg.bytes[3] << 8));
    EXPECT_EQ(cfg.bytes[4], 1) << "one interface";

    EXPECT_EQ(descriptor(0x0300).result, Result::Stall) << "no strings at all";
    EXPECT_EQ(vendor(0xFD, 1, 6).result, Result::Stall) << "no firmware runs";
    EXPECT_EQ(bulkOut({1, 2, 3}), Result::Error) << "the bare chip has no bulk endpoints";
    EXPECT_FALSE(ctl.firmwareRunning());
    EXPECT_TRUE(ctl.cpuHeldInReset());
}

TEST_F(BoardTest, DownloadAndPortCycleRunTheFirmware)
{
    const auto count = board.enumerationCount();
    const auto address = board.deviceAddress();
    downloadFirmware();
    EXPECT_NE(board.enumerationCount(), count);
    EXPECT_NE(board.deviceAddress(), address);
    EXPECT_TRUE(ctl.firmwareRunning());
    EXPECT_EQ(ctl.fx2Memory(0x10, 4), Bytes(4, 0x5A));
    // The loader can read RAM back with the same request.
    EXPECT_EQ(in(0xC0, 0xA0, 0x20, 0, 3).bytes, Bytes(3, 0x5A));

    EXPECT_EQ(descriptor(0x0100).bytes,
              (Bytes{18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, 0xB4, 0x04, 0x13, 0x86, 0, 0, 1, 2, 0, 1}));

    const auto cfg = descriptor(0x0200).bytes;
    ASSERT_EQ(cfg.size(), 46u);
    EXPECT_EQ(cfg[2] | cfg[3] << 8, 46);
    EXPECT_EQ(cfg[4], 1);    // interfaces
    EXPECT_EQ(cfg[5], 1);    // configuration value
    EXPECT_EQ(cfg[7], 0x80); // bus-powered
    EXPECT_EQ(cfg[8], 50);   // 100 mA
    EXPECT_EQ(cfg[9 + 4], 4) << "four endpoints";
    EXPECT_EQ(cfg[9 + 5], 0xFF);
    const std::uint8_t order[4] = {0x82, 0x04, 0x86, 0x88};
    for (int i = 0; i < 4; ++i) {
        const std::size_t e = 18 + 7 * std::size_t(i);
        EXPECT_EQ(cfg[e + 1], 5);
        EXPECT_EQ(cfg[e + 2], order[i]);
        EXPECT_EQ(cfg[e + 3], 2) << "bulk";
        EXPECT_EQ(cfg[e + 4] | cfg[e + 5] << 8, 512);
    }

    EXPECT_EQ(descriptor(0x0300).bytes, (Bytes{4, 3, 0x09, 0x04}));
    EXPECT_EQ(text(descriptor(0x0301, 255, 0x0409).bytes), "CYUSB FX2");
    EXPECT_EQ(text(descriptor(0x0302, 255, 0x0409).bytes).size(), 20u);
    EXPECT_EQ(descriptor(0x0303).result, Result::Stall);
    EXPECT_EQ(descriptor(0x0201).result, Result::Stall) << "one configuration only";
}

TEST_F(BoardTest, DescriptorsAreCutToTheRequestedLength)
{
    downloadFirmware();
    EXPECT_EQ(descriptor(0x0100, 8).bytes.size(), 8u);
    const auto head = descriptor(0x0200, 9).bytes;
    ASSERT_EQ(head.size(), 9u);
    EXPECT_EQ(head[2] | head[3] << 8, 46) << "the total length tells the host how much to ask for";
    const auto len = descriptor(0x0301, 2).bytes;
    ASSERT_EQ(len.size(), 2u);
    EXPECT_EQ(len[0], 2 + 2 * 9);
    EXPECT_EQ(len[1], 3);
}

TEST_F(BoardTest, FirmwareRunsOnlyAfterACompleteLoadAndRelease)
{
    // Cycling alone leaves the chip bare.
    board.cyclePort();
    EXPECT_FALSE(ctl.firmwareRunning());

    // Released without an image.
    ctl.reset();
    ctl.setBusTiming(false);
    ramWrite(0xE600, {1});
    ramWrite(0xE600, {0});
    board.cyclePort();
    EXPECT_FALSE(ctl.firmwareRunning());

    // Loaded but still held in reset.
    ctl.reset();
    ctl.setBusTiming(false);
    ramWrite(0xE600, {1});
    ramWrite(0, {1, 2, 3});
    board.cyclePort();
    EXPECT_FALSE(ctl.firmwareRunning());
    EXPECT_EQ(descriptor(0x0100).bytes.at(14), 0);

    // A download that does not take.
    ctl.reset();
    ctl.setBusTiming(false);
    ctl.setDownloadTakes(false);
    downloadFirmware();
    EXPECT_FALSE(ctl.firmwareRunning());

    // The loader holding the running firmware's 8051 silences its requests.
    ctl.reset();
    ctl.setBusTiming(false);
    downloadFirmware();
    ASSERT_EQ(vendor(0xBB).result, Result::Ok);
    ramWrite(0xE600, {1});
    EXPECT_EQ(vendor(0xBB).result, Result::Stall);
    ramWrite(0xE600, {0});
    EXPECT_EQ(vendor(0xBB).result, Result::Ok) << "the program in RAM starts again";
}

TEST_F(BoardTest, VendorRequestsAnswerAsTheFirmwareTableSays)
{
    downloadFirmware();
    EXPECT_EQ(vendor(0x20, 0, 2).bytes, (Bytes{0, 0}));
    for (std::uint8_t ack : {0xB0, 0xB1, 0xB9, 0xBB}) EXPECT_EQ(vendor(ack).bytes, Bytes{1}) << int(ack);
    vendor(0xB0); // back to the command path

    EXPECT_EQ(vendor(0xB2).bytes, Bytes{1});
    EXPECT_TRUE(ctl.portA() & 0x10);
    EXPECT_EQ(vendor(0xB3).bytes, Bytes{1}) << "scope commands supported";
    EXPECT_EQ(vendor(0xB4, 0x1219, 2).bytes, (Bytes{1, 0x19}));
    EXPECT_EQ(vendor(0xB7, 0x1234).bytes, Bytes{0x34});

    const std::uint8_t a0 = ctl.portA();
    EXPECT_EQ(vendor(0xB5, 0).bytes, Bytes{std::uint8_t(a0 | 0x80)});
    EXPECT_EQ(vendor(0xB5, 2).bytes, Bytes{std::uint8_t(a0 | 0x80)}) << "value 2 changes nothing";
    EXPECT_EQ(vendor(0xB5, 1).bytes, Bytes{std::uint8_t(a0 & 0x7F)});

    EXPECT_EQ(vendor(0xBA, 0, 2).bytes, (Bytes{1, 0})) << "nSTATUS high, CONF_DONE low";

    const auto idle = vendor(0xFD, 1, 6).bytes;
    ASSERT_EQ(idle.size(), 6u);
    EXPECT_EQ(idle[0], 0);
    EXPECT_EQ(idle[1] & 0x07, 0x05) << "EP2 empty, EP4 empty";

    EXPECT_EQ(vendor(0xB6).result, Result::Stall);
    EXPECT_EQ(vendor(0x00).result, Result::Stall);
    EXPECT_EQ(vendor(0xFD, 1, 2).bytes.size(), 2u) << "replies are cut to wLength";

    EXPECT_EQ(vendor(0xD0, 0, 0).result, Result::Ok);
    EXPECT_TRUE(ctl.nakAll());
    EXPECT_EQ(bulkOut({0, 0, 0, 0, 1, 2}, 10), Result::Timeout) << "NAK-all holds the FIFOs";
    EXPECT_EQ(vendor(0xD1, 0, 0).result, Result::Ok);
    EXPECT_FALSE(ctl.nakAll());

    ctl.setScopeCapable(false);
    EXPECT_EQ(vendor(0xB3).bytes, Bytes{0});
}

TEST_F(BoardTest, StandardRequestsBeyondDescriptors)
{
    downloadFirmware();
    EXPECT_EQ(board.control(UsbSetup{0x00, 9, 1, 0, 0}, nullptr, 100).result, Result::Ok);
    EXPECT_EQ(in(0x80, 8, 0, 0, 1).bytes, Bytes{1});
    EXPECT_EQ(board.control(UsbSetup{0x00, 9, 7, 0, 0}, nullptr, 100).result, Result::Stall);
    EXPECT_EQ(board.control(UsbSetup{0x01, 11, 0, 0, 0}, nullptr, 100).result, Result::Ok);
    EXPECT_EQ(board.control(UsbSetup{0x01, 11, 1, 0, 0}, nullptr, 100).result, Result::Stall);
    EXPECT_EQ(in(0xA0, 0, 0, 0, 1).result, Result::Stall) << "class requests";
}

} // namespace
} // namespace boardtest
