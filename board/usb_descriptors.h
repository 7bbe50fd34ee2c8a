#pragma once
// USB descriptors the FX2 presents: the bare chip after power-up and the
// board's firmware once it runs.

#include <cstdint>
#include <span>
#include <vector>

namespace simboard::usb {

constexpr std::uint16_t kVendorId = 0x04B4;
constexpr std::uint16_t kProductId = 0x8613;
constexpr char kManufacturer[] = "CYUSB FX2";
constexpr char kProduct[] = "TQ5170x EVB USB-FPGA"; // 20 characters
constexpr std::uint16_t kLanguage = 0x0409;

enum DescriptorType : std::uint8_t {
    kDevice = 1,
    kConfiguration = 2,
    kString = 3,
    kInterface = 4,
    kEndpoint = 5,
    kDeviceQualifier = 6,
    kOtherSpeedConfiguration = 7,
};

struct DescriptorSet {
    std::vector<std::uint8_t> device;
    std::vector<std::uint8_t> configuration; // with interface and endpoints
    // A high-speed device also describes itself at the other speed (USB 2.0
    // 9.6.2, 9.6.4): empty for the bare chip in this model.
    std::vector<std::uint8_t> qualifier;
    std::vector<std::uint8_t> otherSpeed; // the configuration at full speed, type 7
    std::vector<std::vector<std::uint8_t>> strings; // by index; empty: none
};

const DescriptorSet& bareDescriptors();
const DescriptorSet& firmwareDescriptors();

// The descriptor GET_DESCRIPTOR(wValue, wIndex) asks for, or an empty span
// when there is none (the request stalls).
std::span<const std::uint8_t> find(const DescriptorSet& set, std::uint16_t wValue);

} // namespace simboard::usb
