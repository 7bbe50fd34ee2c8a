// Any bytes as init.clb: the reader must finish, keep every offset finite,
// and what it read must write out and read back to the same offsets.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scope/calibration_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zelbo::scope;
    CalibrationOffsets o;
    parseCalibration(std::string_view(reinterpret_cast<const char*>(data), size), o);
    for (const auto* line : {&o.voltage, &o.current, &o.icc})
        for (double v : *line)
            if (!std::isfinite(v)) std::abort();
    // Six significant digits: a second round trip is exact.
    CalibrationOffsets once, twice;
    parseCalibration(formatCalibration(o), once);
    parseCalibration(formatCalibration(once), twice);
    if (formatCalibration(once) != formatCalibration(twice)) std::abort();
    return 0;
}
