// The twenty exports of libUsbBridge.so against the simulated board, as the
// program uses them. The library was loaded with ZELBO_BOARD=sim; the test
// steers the very board instance the library talks to.

#include "board/sim_board_test.h"
#include "usbbridge/usb_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

using namespace std::chrono_literals;

struct SimExports : ::testing::Test {
    simboard::Control board;
    void SetUp() override
    {
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(50ms);
    }
    void TearDown() override { board.reset(); }

    // The program's bring-up: check, download when needed, check, init.
    int bringUp()
    {
        if (USB_Check("CYUSB FX2") != 1) {
            download();
            if (USB_Check("CYUSB FX2") != 1) return 0;
        }
        return USB_Init("CYUSB FX2");
    }
};

TEST_F(SimExports, BringUpOfAFreshlyPoweredBoard)
{
    // The handle opened at load belongs to the board before reset(): the
    // check finds the bare FX2 (no manufacturer string) instead.
    EXPECT_EQ(USB_Check("CYUSB FX2"), 0);
    EXPECT_EQ(USB_Check("CYUSB FX2"), -1); // nothing open after a failed check
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(download(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2500ms); // polled, not slept
    EXPECT_TRUE(board.firmwareRunning());
    EXPECT_EQ(USB_Check("CYUSB FX2"), 1);
    const int handle = USB_Init("CYUSB FX2");
    EXPECT_NE(handle, 0);
    EXPECT_EQ(GetVID(), 0x04B4u);
    EXPECT_EQ(GetPID(), 0x8613u);
    char text[256] = {};
    StringDesc1(text);
    EXPECT_STREQ(text, "CYUSB FX2");
    StringDesc2(text);
    EXPECT_EQ(std::strlen(text), 20u);
    GetDLLVersion(text);
    EXPECT_STREQ(text, "UsbBridge.dll v1.1.0");
    EXPECT_NE(GetDriverVersion(), 0u);
    GetDeviceID(text);
    EXPECT_GT(std::strlen(text), 0u);
    GetStringDescriptor(text);
    EXPECT_GT(std::strlen(text), 0u);
    USB_Close(handle);
    EXPECT_EQ(USB_Check("CYUSB FX2"), -1);
}

TEST_F(SimExports, VendorRequestsAndBulkTransfersReachTheBoard)
{
    ASSERT_NE(bringUp(), 0);
    unsigned char b[6] = {};
    EXPECT_EQ(SendVendorRequest(1, 0xB4, 8, 0xBEEF, b, 2), 1);
    EXPECT_EQ(b[1], 8);
    EXPECT_EQ(SendVendorRequest(1, 0xB9, 0, 0xBEEF, b, 1), 1);
    // An unknown request stalls and reads as 0.
    b[0] = 0x5A;
    EXPECT_EQ(SendVendorRequest(1, 0xB6, 0, 0xBEEF, b, 1), 0);
    // 0xB5 with value 2 leaves port A alone and returns it.
    const unsigned char portA = board.portA();
    EXPECT_EQ(SendVendorRequest(1, 0xB5, 2, 0xBEEF, b, 1), portA);
    // Status: EP2 empty, EP4 empty.
    std::memset(b, 0, sizeof b);
    SendVendorRequest(1, 0xFD, 1, 0xBEEF, b, 6);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1] & 0x05, 0x05);

    unsigned char block[512] = {};
    EXPECT_EQ(USB_BulkWrite(block, 512, 1), 2); // 0x82 is IN
    EXPECT_EQ(USB_BulkWrite(block, 512, 0), 3); // endpoint 0 is not bulk
    EXPECT_EQ(USB_BulkRead(block, 512, 5), 6);  // past the five endpoints
    EXPECT_EQ(USB_BulkRead(block, 512, 2), 3);  // 0x04 is OUT
    EXPECT_EQ(USB_BulkWrite(block, 512, 2), 0);

    std::vector<std::uint8_t> response(512);
    for (std::size_t i = 0; i < response.size(); ++i) response[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    board.queueResponseBlock(response);
    EXPECT_EQ(USB_BulkRead(block, 512, 1), 0);
    EXPECT_EQ(0, std::memcmp(block, response.data(), 512));
}

TEST_F(SimExports, FailuresOfTheBusBecomeFailureResults)
{
    ASSERT_NE(bringUp(), 0);
    unsigned char block[512] = {};
    board.timeoutBulkWrites(1);
    EXPECT_EQ(USB_BulkWrite(block, 512, 2), 1); // timed out, aborted
    EXPECT_EQ(USB_BulkWrite(block, 512, 2), 0); // and the endpoint works again
    board.failBulkReads(1);
    EXPECT_EQ(USB_BulkRead(block, 512, 1), 1);
    board.stallRequest(0xBA, 1);
    unsigned char b[2] = {0x33, 0x33};
    EXPECT_EQ(SendVendorRequest(1, 0xBA, 0, 0xBEEF, b, 2), 0);

    // The board vanishes: transfers fail, the check closes the handle.
    board.setPresent(false);
    EXPECT_EQ(USB_BulkWrite(block, 512, 2), 1);
    EXPECT_EQ(SendVendorRequest(1, 0xB4, 8, 0xBEEF, b, 2), 0);
    EXPECT_EQ(USB_Check("CYUSB FX2"), 0);
    EXPECT_EQ(USB_Check("CYUSB FX2"), -1);
    EXPECT_EQ(USB_Init("CYUSB FX2"), 0);
    EXPECT_EQ(USB_BulkWrite(block, 512, 2), 6);
    EXPECT_EQ(USB_BulkRead(block, 512, 1), 6);
    EXPECT_EQ(USB_Read(0), 6);
    EXPECT_EQ(USB_Send(0, block, 4), 6);
    EXPECT_EQ(SendVendorRequest(1, 0xB4, 8, 0xBEEF, b, 2), 0);
    EXPECT_EQ(download(), 0);
    EXPECT_EQ(OpenUSBDevice(), 0);

    // Plugged in again it comes up bare and takes the firmware once more.
    board.setPresent(true);
    EXPECT_EQ(download(), 1);
    EXPECT_EQ(USB_Check("CYUSB FX2"), 1);
}

TEST_F(SimExports, AFirmwareThatDoesNotTakeLeavesABareBoard)
{
    board.setDownloadTakes(false);
    EXPECT_EQ(USB_Check("CYUSB FX2"), 0);
    EXPECT_EQ(download(), 1); // a device came back...
    EXPECT_EQ(USB_Check("CYUSB FX2"), 0); // ...but not the board
    EXPECT_FALSE(board.firmwareRunning());
}

TEST_F(SimExports, AnotherFirmwareIsReportedOnceAndReplaced)
{
    // A board left running firmware that does not answer the version request.
    board.startFirmware();
    board.stallRequest(0xBC);
    ASSERT_EQ(OpenUSBDevice(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(USB_Check("CYUSB FX2"), 0) << "taken as the board's current firmware";
    const std::string first = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(first.find("firmware without a version, this library carries 2.0: downloading it again"),
              std::string::npos)
        << first;
    const auto loads = simboard::Board::instance().enumerationCount();
    EXPECT_EQ(download(), 1);
    EXPECT_NE(simboard::Board::instance().enumerationCount(), loads);
    // Reported once: the board is taken as it is now, whatever it answers.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(USB_Check("CYUSB FX2"), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SimExports, OpenUsbDeviceFindsTheRunningBoard)
{
    board.startFirmware();
    EXPECT_EQ(OpenUSBDevice(), 1);
    EXPECT_EQ(InitializeUSB(), 1); // the board identifies itself: no script needed
    unsigned char b[2] = {};
    EXPECT_EQ(SendVendorRequest(1, 0xB4, 0x19, 0xBEEF, b, 2), 1);
    EXPECT_EQ(b[1], 0x19);
}

} // namespace
