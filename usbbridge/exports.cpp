// The twenty C exports. One Bridge (and with it the one UsbDevice) lives from
// library load to unload. No exception leaves this file: an error of the
// device layer becomes the export's failure result and a line on the log.

#include "usbbridge/usb_bridge.h"

#include "usbbridge/bridge.h"
#include "usbbridge/firmware.h"
#include "common/log.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>

using usbbridge::Bridge;

namespace {

// Made at load and destroyed at unload, the bridge before its driver: a
// caller that never called USB_Close leaves the device open, and the unload
// closes it through the driver. Plain pointers, so that no static destructor
// (run by exit before the unload hook) can take the driver away first.
usbbridge::Driver* g_driver = nullptr;
Bridge* g_bridge = nullptr;
// The exports are meant to be called one at a time; this lock makes a caller
// that forgets it wait instead of corrupting the one device.
std::recursive_mutex g_lock;
std::uint8_t g_noDevice[512] = {};

template <typename R, typename F>
R guarded(const char* name, R failure, F&& f)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    if (g_bridge == nullptr) return failure;
    try {
        return f(*g_bridge);
    } catch (const std::exception& e) {
        zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: %s: %s", name, e.what());
    } catch (...) {
        zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: %s: unexpected error", name);
    }
    return failure;
}

void copyText(char* out, std::size_t room, const std::string& text)
{
    if (out == nullptr) return;
    std::snprintf(out, room, "%s", text.c_str());
}

// The folder this library was loaded from, with a trailing slash.
std::string libraryFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryFolder), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The version of the image `download` loads: the owner's file beside the
// library if there is one, else the built-in image.
std::optional<std::uint16_t> imageToDownloadVersion()
{
    const std::string path = libraryFolder() + "fx2fw.hex";
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        std::vector<std::uint8_t> table;
        std::string error;
        if (!usbbridge::loadFirmwareFile(path, table, error)) return std::nullopt;
        return usbbridge::imageVersion(table.data(), table.size() / usbbridge::kImageRecordSize);
    }
    return usbbridge::imageVersion(usbbridge::builtinImage(), usbbridge::builtinImageRecords());
}

__attribute__((constructor)) void loadLibrary()
{
    try {
        g_driver = usbbridge::makeSystemDriver().release();
        g_bridge = new Bridge(*g_driver);
        g_bridge->expectedFirmwareVersion = imageToDownloadVersion();
    } catch (const std::exception& e) {
        zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: start-up: %s", e.what());
        g_bridge = nullptr;
    }
}

__attribute__((destructor)) void unloadLibrary()
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    try {
        delete g_bridge;
    } catch (...) {
    }
    g_bridge = nullptr;
    delete g_driver;
    g_driver = nullptr;
}

} // namespace

extern "C" {

int InitializeUSB(void)
{
    return guarded("InitializeUSB", 0, [](Bridge& b) { return b.initializeUsb("CYUSB.spt"); });
}

void USB_Close(int)
{
    guarded("USB_Close", false, [](Bridge& b) { return b.closeIfOpen(); });
}

int USB_BulkWrite(unsigned char* buffer, int length, int endpointIndex)
{
    return guarded("USB_BulkWrite", 1, [&](Bridge& b) { return b.bulkWrite(buffer, length, endpointIndex); });
}

int USB_BulkRead(unsigned char* buffer, int length, int endpointIndex)
{
    return guarded("USB_BulkRead", 1, [&](Bridge& b) { return b.bulkRead(buffer, length, endpointIndex); });
}

unsigned int GetPID(void)
{
    return guarded("GetPID", 0u, [](Bridge& b) { return static_cast<unsigned>(b.device().productId); });
}

unsigned int GetVID(void)
{
    return guarded("GetVID", 0u, [](Bridge& b) { return static_cast<unsigned>(b.device().vendorId); });
}

void GetDLLVersion(char* text)
{
    if (text != nullptr) std::strcpy(text, "UsbBridge.dll v1.1.0");
}

unsigned int GetDriverVersion(void)
{
    return guarded("GetDriverVersion", 0u, [](Bridge& b) { return b.driverVersion(); });
}

void GetDeviceID(char* text)
{
    guarded("GetDeviceID", 0, [&](Bridge& b) {
        copyText(text, 256, b.device().friendlyName);
        return 0;
    });
}

void GetStringDescriptor(char* text)
{
    guarded("GetStringDescriptor", 0, [&](Bridge& b) {
        copyText(text, 256, b.device().deviceName);
        return 0;
    });
}

int USB_Check(const char* manufacturer)
{
    return guarded("USB_Check", 0, [&](Bridge& b) { return b.check(manufacturer); });
}

int USB_Init(const char* manufacturer)
{
    return guarded("USB_Init", 0, [&](Bridge& b) { return b.init(manufacturer); });
}

int download(void)
{
    return guarded("download", 0, [](Bridge& b) {
        // An owner of a real board may put its own firmware beside the library.
        const std::string path = libraryFolder() + "fx2fw.hex";
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) {
            std::vector<std::uint8_t> table;
            std::string error;
            if (!usbbridge::loadFirmwareFile(path, table, error)) {
                zelbo::log::writef(zelbo::log::Level::Error, "UsbBridge: download: %s is not usable: %s", path.c_str(), error.c_str());
                return 0;
            }
            return b.download(table.data(), table.size() / usbbridge::kImageRecordSize);
        }
        return b.download(usbbridge::builtinImage(), usbbridge::builtinImageRecords());
    });
}

int USB_Send(int handle, unsigned char* data, int length)
{
    return guarded("USB_Send", 0, [&](Bridge& b) { return b.send(handle, data, length); });
}

unsigned char USB_Read(int handle)
{
    return guarded("USB_Read", static_cast<unsigned char>(1), [&](Bridge& b) { return b.read(handle); });
}

unsigned char ReadData(int index)
{
    return guarded("ReadData", g_noDevice[0], [&](Bridge& b) { return b.readData(index); });
}

void StringDesc1(char* text)
{
    guarded("StringDesc1", 0, [&](Bridge& b) {
        copyText(text, 64, b.manufacturerText());
        return 0;
    });
}

void StringDesc2(char* text)
{
    guarded("StringDesc2", 0, [&](Bridge& b) {
        copyText(text, 64, b.productText());
        return 0;
    });
}

int SendVendorRequest(unsigned char direction, unsigned char request, unsigned short value, unsigned short index,
                      unsigned char* buffer, int length)
{
    return guarded("SendVendorRequest", 0, [&](Bridge& b) {
        return b.sendVendorRequest(direction, request, value, index, buffer, length);
    });
}

int OpenUSBDevice(void)
{
    return guarded("OpenUSBDevice", 0, [](Bridge& b) { return b.openUsbDevice(); });
}

} // extern "C"
