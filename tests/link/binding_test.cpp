// The run-time binding of the bridge library, with small stand-in libraries
// placed in their own folders.
#include <gtest/gtest.h>

#include "link/cyusb.h"

namespace zelbo::link::test {
namespace {

const std::filesystem::path kStubs = std::filesystem::path(ZELBO_LINK_STUB_DIR);

TEST(Binding, ProgramFolderIsTheExecutablesFolder)
{
    const auto folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(std::filesystem::exists(folder / "test_link_binding"));
}

TEST(Binding, LoadsFromTheGivenFolderFirstAndResolvesEveryName)
{
    CCyUSB usb(kStubs / "complete", "libUsbBridge.so");
    ASSERT_NE(usb.module(), nullptr) << usb.failure();
    EXPECT_TRUE(usb.usable());
    ASSERT_NE(usb.USB_Init, nullptr);
    EXPECT_EQ(usb.USB_Init("CYUSB FX2"), 42); // the stub, not any other copy
    unsigned char reply[2] = {};
    EXPECT_EQ(usb.SendVendorRequest(1, 0xBA, 0, 0xBEEF, reply, 2), 0xBA);
    const void* all[] = {
        reinterpret_cast<const void*>(usb.InitializeUSB), reinterpret_cast<const void*>(usb.USB_Close),
        reinterpret_cast<const void*>(usb.USB_BulkWrite), reinterpret_cast<const void*>(usb.USB_BulkRead),
        reinterpret_cast<const void*>(usb.GetPID), reinterpret_cast<const void*>(usb.GetVID),
        reinterpret_cast<const void*>(usb.GetDLLVersion), reinterpret_cast<const void*>(usb.GetDriverVersion),
        reinterpret_cast<const void*>(usb.GetDeviceID), reinterpret_cast<const void*>(usb.GetStringDescriptor),
        reinterpret_cast<const void*>(usb.USB_Check), reinterpret_cast<const void*>(usb.USB_Init),
        reinterpret_cast<const void*>(usb.download), reinterpret_cast<const void*>(usb.USB_Send),
        reinterpret_cast<const void*>(usb.USB_Read), reinterpret_cast<const void*>(usb.ReadData),
        reinterpret_cast<const void*>(usb.StringDesc1), reinterpret_cast<const void*>(usb.StringDesc2),
        reinterpret_cast<const void*>(usb.SendVendorRequest), reinterpret_cast<const void*>(usb.OpenUSBDevice)};
    for (const void* p : all)
        EXPECT_NE(p, nullptr);

    EXPECT_EQ(usb.resolve(false), 1);
    EXPECT_EQ(usb.USB_Init, nullptr);
    EXPECT_FALSE(usb.usable());
    EXPECT_EQ(usb.resolve(true), 1);
    EXPECT_TRUE(usb.usable());
}

TEST(Binding, MissingExportsAndLibraries)
{
    // Lacking an export the program does not call: usable, that pointer null.
    CCyUSB noOpen(kStubs / "no-open", "libUsbBridge.so");
    ASSERT_NE(noOpen.module(), nullptr);
    EXPECT_EQ(noOpen.OpenUSBDevice, nullptr);
    EXPECT_NE(noOpen.USB_Check, nullptr);
    EXPECT_TRUE(noOpen.usable());

    // Lacking one it calls: loaded, but refused.
    CCyUSB noRead(kStubs / "no-bulkread", "libUsbBridge.so");
    ASSERT_NE(noRead.module(), nullptr);
    EXPECT_FALSE(noRead.usable());
    EXPECT_NE(noRead.failure().find("USB_BulkRead"), std::string::npos);

    // Not there at all: nothing loaded, every pointer null.
    CCyUSB none(kStubs / "nowhere", "libZelboNoSuchBridge.so");
    EXPECT_EQ(none.module(), nullptr);
    EXPECT_EQ(none.USB_Check, nullptr);
    EXPECT_FALSE(none.usable());
    EXPECT_FALSE(none.failure().empty());

    DynamicDLL base;
    EXPECT_EQ(base.resolve(true), 0);
}

} // namespace
} // namespace zelbo::link::test
