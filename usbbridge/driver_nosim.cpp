// Built instead of driver_sim.cpp when the simulated board is not part of the build.
#include "usbbridge/driver.h"

namespace usbbridge {

std::unique_ptr<Driver> makeSimDriver()
{
    return nullptr;
}

} // namespace usbbridge
