#include "board/usb_descriptors.h"

#include <cstring>
#include <tuple>

namespace simboard::usb {
namespace {

std::vector<std::uint8_t> deviceDescriptor(std::uint16_t bcdDevice, std::uint8_t iManufacturer,
                                           std::uint8_t iProduct)
{
    return {18, kDevice,
            0x00, 0x02,                   // USB 2.0
            0xFF, 0xFF, 0xFF,             // vendor-specific class, subclass, protocol
            64,                           // endpoint-0 packet size
            kVendorId & 0xFF, kVendorId >> 8,
            kProductId & 0xFF, kProductId >> 8,
            static_cast<std::uint8_t>(bcdDevice & 0xFF), static_cast<std::uint8_t>(bcdDevice >> 8),
            iManufacturer, iProduct, 0,   // no serial number
            1};                           // one configuration
}

std::vector<std::uint8_t> stringDescriptor(const char* text)
{
    const std::size_t n = std::strlen(text);
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * n), kString};
    for (std::size_t i = 0; i < n; ++i) {
        d.push_back(static_cast<std::uint8_t>(text[i]));
        d.push_back(0);
    }
    return d;
}

void setTotalLength(std::vector<std::uint8_t>& c)
{
    c[2] = static_cast<std::uint8_t>(c.size() & 0xFF);
    c[3] = static_cast<std::uint8_t>(c.size() >> 8);
}

DescriptorSet makeBare()
{
    DescriptorSet s;
    s.device = deviceDescriptor(0xA001, 0, 0);
    // One bus-powered configuration with the chip's default interface.
    s.configuration = {9, kConfiguration, 0, 0, 1, 1, 0, 0x80, 50,
                       9, kInterface, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    setTotalLength(s.configuration);
    return s;
}

DescriptorSet makeFirmware()
{
    DescriptorSet s;
    s.device = deviceDescriptor(0x0000, 1, 2);
    // The board runs at high speed: 512-byte bulk packets; at full speed 64.
    for (auto [c, type, packet] : {std::tuple{&s.configuration, kConfiguration, 512},
                                   std::tuple{&s.otherSpeed, kOtherSpeedConfiguration, 64}}) {
        *c = {9, type, 0, 0, 1, 1, 0, 0x80, 50, // value 1, bus-powered, 100 mA
              9, kInterface, 0, 0, 4, 0xFF, 0x00, 0x00, 0};
        for (std::uint8_t ep : {0x82, 0x04, 0x86, 0x88}) {
            const std::uint8_t e[7] = {7, kEndpoint, ep, 0x02, static_cast<std::uint8_t>(packet & 0xFF),
                                       static_cast<std::uint8_t>(packet >> 8), 0}; // bulk
            c->insert(c->end(), e, e + 7);
        }
        setTotalLength(*c);
    }
    s.qualifier = {10, kDeviceQualifier, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, 1, 0};
    s.strings.push_back({4, kString, kLanguage & 0xFF, kLanguage >> 8});
    s.strings.push_back(stringDescriptor(kManufacturer));
    s.strings.push_back(stringDescriptor(kProduct));
    return s;
}

} // namespace

const DescriptorSet& bareDescriptors()
{
    static const DescriptorSet s = makeBare();
    return s;
}

const DescriptorSet& firmwareDescriptors()
{
    static const DescriptorSet s = makeFirmware();
    return s;
}

std::span<const std::uint8_t> find(const DescriptorSet& set, std::uint16_t wValue)
{
    const std::uint8_t type = static_cast<std::uint8_t>(wValue >> 8);
    const std::uint8_t index = static_cast<std::uint8_t>(wValue & 0xFF);
    switch (type) {
    case kDevice:
        return index == 0 ? std::span<const std::uint8_t>(set.device) : std::span<const std::uint8_t>();
    case kConfiguration:
        return index == 0 ? std::span<const std::uint8_t>(set.configuration)
                          : std::span<const std::uint8_t>();
    case kDeviceQualifier:
        return index == 0 ? std::span<const std::uint8_t>(set.qualifier) : std::span<const std::uint8_t>();
    case kOtherSpeedConfiguration:
        return index == 0 ? std::span<const std::uint8_t>(set.otherSpeed) : std::span<const std::uint8_t>();
    case kString:
        if (index < set.strings.size()) return set.strings[index];
        return {};
    default:
        return {};
    }
}

} // namespace simboard::usb
