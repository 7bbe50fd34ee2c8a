// Fuzzes the descriptor parsing of UsbDevice::open: a fake device answers
// GET_DESCRIPTOR with whatever the input says. Layout of the input: one byte of
// flags, then length-prefixed blocks (one length byte each) for the device
// descriptor, two configuration descriptors, string descriptor 0 and strings
// 1 to 3.

#include "tests/usbbridge/fake_driver.h"
#include "usbbridge/usb_device.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    std::size_t pos = 1;
    auto next = [&]() {
        fake::Bytes b;
        if (pos >= size) return b;
        const std::size_t n = std::min<std::size_t>(data[pos], size - pos - 1);
        b.assign(data + pos + 1, data + pos + 1 + n);
        pos += 1 + n;
        return b;
    };
    fake::Driver drv;
    drv.id.device = next();
    drv.id.configs = {next(), next()};
    drv.id.strings.clear();
    for (std::uint16_t i = 0; i < 4; ++i) drv.id.strings[i] = next();
    drv.driverVersion = (flags & 1) ? 0x01000000 : usbbridge::kOurDriverVersion;
    drv.alt = static_cast<std::uint8_t>(flags >> 4);

    usbbridge::UsbDevice dev(drv);
    const int n = dev.endpointCount();
    for (int i = 0; i < n; ++i) {
        usbbridge::UsbEndpoint* e = dev.endPoints[static_cast<std::size_t>(i)];
        if (e == nullptr) __builtin_trap(); // every listed entry must exist
        std::uint8_t buf[64] = {};
        int len = (flags & 2) ? static_cast<int>(sizeof buf) : 0;
        e->transfer(buf, len);
        if (len < 0 || len > static_cast<int>(sizeof buf)) __builtin_trap();
    }
    dev.selectAltSetting(static_cast<std::uint8_t>(flags & 0x0F));
    dev.selectConfiguration(static_cast<std::uint8_t>(flags >> 2));
    (void)usbbridge::narrow(dev.manufacturer, 63);
    (void)dev.endpointByAddress(0x82);
    return 0;
}
