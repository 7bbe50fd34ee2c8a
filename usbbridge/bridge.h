#pragma once
// What the twenty exports do, as a class over one UsbDevice, so that the same
// logic runs in the library (one Bridge per process) and in unit tests (over a
// scripted driver). Methods may throw UsbError; the exports turn that into
// their failure results.

#include "usbbridge/usb_device.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace usbbridge {

constexpr std::uint16_t kBoardVendorId = 0x04B4;
constexpr std::uint16_t kBoardProductId = 0x8613;
constexpr std::uint16_t kLoaderProductId = 0x1002;

class Bridge {
public:
    explicit Bridge(Driver& driver);

    UsbDevice& device() { return dev_; }

    bool closeIfOpen();
    void openEach();
    bool present() const;

    int bulkWrite(std::uint8_t* buffer, int length, int index);
    int bulkRead(std::uint8_t* buffer, int length, int index);
    int send(int handle, const std::uint8_t* data, int length);
    std::uint8_t read(int handle);
    std::uint8_t readData(int index) const { return receive_[static_cast<unsigned>(index) & 0xFF]; }
    int sendVendorRequest(std::uint8_t direction, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                          std::uint8_t* buffer, int length);
    int check(const char* manufacturer);
    int init(const char* manufacturer);
    int openUsbDevice();
    std::uint32_t driverVersion();
    std::string manufacturerText() const { return narrow(dev_.manufacturer, 63); }
    std::string productText() const { return narrow(dev_.product, 63); }

    // Firmware loading. `image` is a record table as in firmware.h.
    int download(const std::uint8_t* image, std::size_t records);
    int initializeUsb(const std::string& scriptPath);

    // How long the loaders wait at most for the board to come back, and the
    // length of a pause record of the script.
    std::chrono::milliseconds returnTimeout{3000};
    std::chrono::milliseconds pauseTime{100};

    // The version of the image `download` would load (none: not checked).
    // A board that runs another version, or firmware without the version
    // request, fails `check` once, with a line on stderr, so that the
    // caller downloads the image again; after that it is taken as it is.
    std::optional<std::uint16_t> expectedFirmwareVersion;

private:
    // Waits until the device opened before (instance `gone`) has left the bus
    // and a device is open again, or the time-out has passed; then makes the
    // final count-and-open step. Returns the loader's result.
    int awaitReturn(std::uint64_t gone);
    bool firmwareIsCurrent();

    UsbDevice dev_;
    std::uint8_t receive_[512] = {};
    bool versionReported_ = false;
};

// Checks a "CYUSB.spt" script: the walk the replay will make, without sending
// anything. False with a reason when it is shorter than one header, addresses
// an endpoint other than 0, or has data running past its end.
struct ScriptRecord {
    std::uint8_t tag;
    std::uint8_t endpoint;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    std::size_t dataOffset;
    std::size_t dataLength;
};
bool parseScript(const std::uint8_t* data, std::size_t size, std::vector<ScriptRecord>& records,
                 std::uint8_t& configIndex, std::uint8_t& altSetting, std::string& error);
// Reads and checks the script file at `path` (at most 16 MiB, a regular
// file): its bytes and records, or false with a reason.
bool loadScriptFile(const std::string& path, std::vector<std::uint8_t>& file, std::vector<ScriptRecord>& records,
                    std::uint8_t& configIndex, std::uint8_t& altSetting, std::string& error);

} // namespace usbbridge
