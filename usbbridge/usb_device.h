#pragma once
// The device-access layer: one USB device with its descriptors, its
// configurations, interfaces and endpoints as objects, and transfers as
// requests to the driver layer (driver.h). Everything here is internal to
// libUsbBridge.so; the library keeps exactly one UsbDevice per process.
//
// Descriptors come from the device and are untrusted: every length is checked
// against the bytes actually received.
//
// The layer has no lock; its callers serialise their use of one UsbDevice.

#include "usbbridge/driver.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace usbbridge {

// An error of the layer, carrying its text ("Failed to close handle to
// driver.", "Failed to find endpoint.").
class UsbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class UsbEndpoint {
public:
    enum class Mode { Direct, Buffered };

    // `descriptor` points at an endpoint descriptor of at least 7 bytes.
    UsbEndpoint(Driver& driver, DriverHandle handle, const std::uint8_t* descriptor);
    virtual ~UsbEndpoint() = default;
    UsbEndpoint(const UsbEndpoint&) = delete;
    UsbEndpoint& operator=(const UsbEndpoint&) = delete;

    // Sends `length` bytes or receives up to `length` bytes; `length` is set to
    // the bytes transferred. Blocks until done or the time-out has passed (the
    // request is then aborted and the transfer fails).
    bool transfer(std::uint8_t* buffer, int& length);
    // Asks the driver to use transfers of `bytes` rounded up to whole packets.
    void setTransferSize(int bytes);
    bool abort();

    bool isControl() const { return (attributes & 3) == 0; }
    bool isIsoc() const { return (attributes & 3) == 1; }
    bool isBulk() const { return (attributes & 3) == 2; }
    bool isInterrupt() const { return (attributes & 3) == 3; }

    // Copy of the endpoint descriptor.
    std::uint8_t dscLength = 0;
    std::uint8_t dscType = 0;
    std::uint8_t address = 0;
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0;
    std::uint8_t interval = 0;

    std::uint32_t timeoutMs = 10000;
    std::uint32_t usbdStatus = 0;
    std::uint32_t ntStatus = 0;
    std::uint32_t bytesTransferred = 0;
    std::uint32_t lastError = 0;
    bool directionIn = false;
    Mode mode = Mode::Direct;
    DriverHandle handle = kInvalidHandle;

protected:
    struct Request {
        std::uint32_t code = 0;
        std::vector<std::uint8_t> block; // record (+ table) (+ data)
        std::uint8_t* out = nullptr;     // output buffer given to the driver
        std::size_t outLen = 0;
        bool copyBack = false;           // IN data sits behind the record
    };
    // Builds the driver request for a transfer; false when there is none.
    virtual bool beginTransfer(std::uint8_t* buffer, int length, Request& r) = 0;
    Driver& driver_;

private:
    bool waitTransfer(Submission& s);
    bool finishTransfer(Submission& s, Request& r, std::uint8_t* buffer, int& length);
};

class ControlEndpoint : public UsbEndpoint {
public:
    // The device's own endpoint 0, with the device's endpoint-0 packet size.
    ControlEndpoint(Driver& driver, DriverHandle handle, std::uint8_t packetSize);
    // A control endpoint described by an endpoint descriptor.
    ControlEndpoint(Driver& driver, DriverHandle handle, const std::uint8_t* descriptor);

    std::uint8_t target = 0;    // 0 device, 1 interface, 2 endpoint, 3 other
    std::uint8_t reqType = 2;   // 0 standard, 1 class, 2 vendor
    std::uint8_t direction = 0; // 0 host-to-device, 1 device-to-host
    std::uint8_t reqCode = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;

    // Seconds the record carries for this endpoint's time-out.
    static std::uint32_t recordTimeout(std::uint32_t timeoutMs);

protected:
    bool beginTransfer(std::uint8_t* buffer, int length, Request& r) override;
};

class BulkEndpoint : public UsbEndpoint {
public:
    using UsbEndpoint::UsbEndpoint;

protected:
    bool beginTransfer(std::uint8_t* buffer, int length, Request& r) override;
};

class IsocEndpoint : public UsbEndpoint {
public:
    using UsbEndpoint::UsbEndpoint;

protected:
    bool beginTransfer(std::uint8_t* buffer, int length, Request& r) override;
};

class UsbInterface {
public:
    // Fields of the interface descriptor.
    std::uint8_t dscLength = 0, dscType = 0, number = 0, altSetting = 0, numEndpoints = 0;
    std::uint8_t ifClass = 0, ifSubClass = 0, ifProtocol = 0, stringIndex = 0;
    std::uint8_t altSettingCount = 0;
    // Entry 0 is reserved for endpoint 0; then one per endpoint descriptor.
    std::array<std::unique_ptr<UsbEndpoint>, 16> endpoints;
    // Endpoint objects actually built (not counting entry 0).
    std::uint8_t endpointObjects = 0;
};

class UsbConfiguration {
public:
    static constexpr int kMaxInterfaces = 8;

    // Builds the objects from a configuration descriptor of `length` received
    // bytes. Truncated or inconsistent descriptors end the walk; nothing is
    // read past `length`.
    UsbConfiguration(Driver& driver, DriverHandle handle, const std::uint8_t* data, std::size_t length);

    std::uint8_t dscLength = 0, dscType = 0;
    std::uint16_t totalLength = 0;
    std::uint8_t numInterfaces = 0, value = 0, stringIndex = 0, attributes = 0, maxPower = 0;
    std::vector<std::unique_ptr<UsbInterface>> interfaces;
};

class UsbDevice {
public:
    explicit UsbDevice(Driver& driver);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    std::uint8_t deviceCount();
    bool open(std::uint8_t n);
    // Throws UsbError("Failed to close handle to driver.") when the driver
    // refuses; the device is closed and its state released in either case.
    void close();
    bool isOpen() const { return handle_ != kInvalidHandle; }
    std::uint8_t endpointCount() const;
    // Throws UsbError("Failed to find endpoint.") on a hole in the list.
    UsbEndpoint* endpointByAddress(std::uint8_t address);
    void selectConfiguration(std::uint8_t n);
    std::uint8_t currentAltSetting();
    bool selectAltSetting(std::uint8_t alt);
    bool cyclePort();

    // The instance of the open device (see Driver::deviceInstance).
    std::uint64_t openInstance() const { return instance_; }
    Driver& driver() { return driver_; }
    DriverHandle handle() const { return handle_; }

    // Endpoint list of the current alternate setting: entry 0 the control
    // endpoint, then the interface's endpoints.
    std::array<UsbEndpoint*, 16> endPoints{};
    ControlEndpoint* controlEndpoint() { return control_.get(); }
    UsbEndpoint* isocIn = nullptr;
    UsbEndpoint* isocOut = nullptr;
    UsbEndpoint* bulkIn = nullptr;
    UsbEndpoint* bulkOut = nullptr;
    UsbEndpoint* interruptIn = nullptr;
    UsbEndpoint* interruptOut = nullptr;

    std::uint16_t languageId = 0;
    std::uint32_t usbdStatus = 0, ntStatus = 0;
    std::uint32_t driverVersion = 0, stackVersion = 0;
    std::string deviceName, friendlyName, interfacePath; // at most 255 characters each
    std::u16string manufacturer, product, serialNumber;  // at most 255 code units each
    std::uint16_t bcdUSB = 0, vendorId = 0, productId = 0, bcdDevice = 0;
    std::uint8_t usbAddress = 0, devClass = 0, devSubClass = 0, devProtocol = 0, maxPacketSize0 = 0;
    std::uint8_t numConfigurations = 0;
    std::uint8_t configValue = 0, configAttributes = 0, maxPower = 0, numInterfaces = 0, altSettingCount = 0;
    std::uint8_t ifClass = 0, ifSubClass = 0, ifProtocol = 0;
    bool highSpeed = false;
    std::uint32_t lastReturned = 0;
    std::array<std::uint8_t, 18> deviceDescriptor{};
    std::array<std::vector<std::uint8_t>, 2> configDescriptors;
    std::array<std::unique_ptr<UsbConfiguration>, 2> configurations;
    std::uint8_t devices = 0, deviceNumber = 0, configIndex = 0, interfaceNumber = 0, altSetting = 0;

private:
    // Synchronous control request for a descriptor; returns the data bytes received.
    std::size_t readDescriptor(std::uint16_t wValue, std::uint16_t wIndex, std::uint8_t* out, std::uint16_t wLength);
    bool readString(std::uint8_t index, std::u16string& field);
    bool ioctl(std::uint32_t code, std::uint8_t* buf, std::size_t inLen, std::size_t outLen);
    void readName(std::uint32_t code, std::string& field);
    void makeCurrent(UsbInterface* iface);
    void rebuildEndpointList();

    Driver& driver_;
    DriverHandle handle_ = kInvalidHandle;
    std::uint64_t instance_ = 0;
    std::unique_ptr<ControlEndpoint> control_;
    UsbInterface* current_ = nullptr;
};

// UTF-16 text from the device converted to the process's narrow encoding
// (UTF-8), cut to at most `maxBytes` bytes without splitting a character.
std::string narrow(const std::u16string& text, std::size_t maxBytes);

} // namespace usbbridge
