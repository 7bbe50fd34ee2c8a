#include "usbbridge/driver.h"

#include <cstdlib>
#include <cstring>

namespace usbbridge {

namespace {

// A backend that finds nothing: what a build without the simulated board
// offers when the simulated board is asked for.
class NoDevices final : public Driver {
public:
    unsigned deviceCount() override { return 0; }
    std::uint64_t deviceInstance(unsigned) override { return 0; }
    DriverHandle open(unsigned, std::string&) override { return kInvalidHandle; }
    bool close(DriverHandle) override { return false; }
    bool ioctl(DriverHandle, std::uint32_t, std::uint8_t*, std::size_t, std::size_t, std::uint32_t& returned) override
    {
        returned = 0;
        return false;
    }
    Submission submit(DriverHandle, std::uint32_t, std::uint8_t*, std::size_t, std::uint8_t*, std::size_t,
                      std::uint32_t) override
    {
        return Submission{kErrorNotReady, nullptr};
    }
};

} // namespace

std::unique_ptr<Driver> makeSystemDriver()
{
    const char* board = std::getenv("ZELBO_BOARD");
    if (board != nullptr && std::strcmp(board, "sim") == 0) {
        if (auto sim = makeSimDriver()) return sim;
        return std::make_unique<NoDevices>();
    }
    const char* chosen = std::getenv("ZELBO_USB_BOARD");
    return makeLibusbDriver(chosen != nullptr ? chosen : "");
}

} // namespace usbbridge
