#pragma once
// Run-time binding of the USB bridge library (libUsbBridge.so). The program
// never links the library: it loads it by name, the program's own folder
// first and then the loader's normal search path, and keeps a table of
// pointers to its twenty exports. Callers use the pointers directly.
//
// A table can also be filled by hand (CCyUSB::Unbound): the link's tests drive
// the whole link against a scripted fake bridge that way.

#include <filesystem>
#include <string>

#include "usbbridge/usb_bridge.h"

namespace zelbo::link {

// The folder of the running executable (the folder of /proc/self/exe), with
// a trailing separator dropped. Empty when it cannot be read.
std::filesystem::path programFolder();

// The library's file name.
inline constexpr const char* kBridgeLibraryName = "libUsbBridge.so.1";

// The manufacturer string of the board firmware.
inline constexpr const char* kBoardManufacturer = "CYUSB FX2";

class DynamicDLL {
public:
    DynamicDLL() = default;
    virtual ~DynamicDLL();
    DynamicDLL(const DynamicDLL&) = delete;
    DynamicDLL& operator=(const DynamicDLL&) = delete;

    // Binds (true) or clears (false) the library's entry points. The base has
    // none: it does nothing and returns 0.
    virtual int resolve(bool load);

    // The loader's handle of the library; null when none is loaded.
    void* module() const { return module_; }

protected:
    // Loads `name` from `folder` first, then by plain name; true when loaded.
    bool load(const std::filesystem::path& folder, const std::string& name);
    // Releases the library (when one is held).
    void unload();

    void* module_ = nullptr;
    std::string loadError_;
};

class CCyUSB : public DynamicDLL {
public:
    struct Unbound {};

    // Loads the library and resolves the twenty exports. When loading fails the
    // module stays null and every pointer is null.
    explicit CCyUSB(const std::filesystem::path& folder = programFolder(),
                    const std::string& libraryName = kBridgeLibraryName);
    // No library: every pointer is null, for the caller to fill (test fakes).
    explicit CCyUSB(Unbound);
    ~CCyUSB() override;

    int resolve(bool load) override;

    // True when the library was loaded (or the table was built by hand) and
    // every export the program calls is present. A library lacking one of
    // them counts as a library that failed to load.
    bool usable() const;
    // Why loading failed (the loader's text), or the first missing export.
    std::string failure() const;

    // The twenty entry points, in the library's order, typed as it declares them.
    decltype(&::InitializeUSB) InitializeUSB = nullptr;
    decltype(&::USB_Close) USB_Close = nullptr;
    decltype(&::USB_BulkWrite) USB_BulkWrite = nullptr;
    decltype(&::USB_BulkRead) USB_BulkRead = nullptr;
    decltype(&::GetPID) GetPID = nullptr;
    decltype(&::GetVID) GetVID = nullptr;
    decltype(&::GetDLLVersion) GetDLLVersion = nullptr;
    decltype(&::GetDriverVersion) GetDriverVersion = nullptr;
    decltype(&::GetDeviceID) GetDeviceID = nullptr;
    decltype(&::GetStringDescriptor) GetStringDescriptor = nullptr;
    decltype(&::USB_Check) USB_Check = nullptr;
    decltype(&::USB_Init) USB_Init = nullptr;
    decltype(&::download) download = nullptr;
    decltype(&::USB_Send) USB_Send = nullptr;
    decltype(&::USB_Read) USB_Read = nullptr;
    decltype(&::ReadData) ReadData = nullptr;
    decltype(&::StringDesc1) StringDesc1 = nullptr;
    decltype(&::StringDesc2) StringDesc2 = nullptr;
    decltype(&::SendVendorRequest) SendVendorRequest = nullptr;
    decltype(&::OpenUSBDevice) OpenUSBDevice = nullptr;

private:
    bool handMade_ = false;
};

} // namespace zelbo::link
