#include "scope/scope_tables.h"

#include "common/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zelbo::scope {

std::string outputText(int channel, int outputIndex)
{
    std::string s = "OUT";
    s += channel < 2 ? '1' : '2';
    s += outputIndex == 0 ? 'A' : 'B';
    return s;
}

std::string channelKey(int channel)
{
    return "CH" + std::to_string(channel + 1);
}

const char* sourceText(Source s)
{
    switch (s) {
    case Source::Voltage: return "Voltage";
    case Source::Current: return "Current";
    case Source::Icc: return "ICC";
    }
    return "Voltage";
}

int triggerCode(double x, double offset, double fullScale)
{
    const double k = x >= 0.0 ? 511.0 : 512.0;
    double c = (x - offset) * k / 2.0 / fullScale;
    if (!std::isfinite(c))
        c = 0.0;
    // 12-bit code around 0x800; truncation towards zero as the board expects.
    c = std::clamp(std::trunc(c), -2048.0, 2047.0);
    return static_cast<int>(c) + 0x800;
}

std::string formatLevel(double value)
{
    if (!std::isfinite(value))
        value = 0.0;
    char buf[512]; // room for every finite double in fixed notation
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    if (res.ec != std::errc())
        return "0.000";
    return std::string(buf, res.ptr);
}

double parseLevel(std::string_view text)
{
    const auto v = readNumber(text, true);
    return v && std::isfinite(*v) ? *v : 0.0;
}

double sliderToLevel(int position, double top, double step)
{
    return top - position * step;
}

int levelToSlider(double level, double top, double step, int maxPosition)
{
    if (!std::isfinite(level))
        level = 0.0;
    const double q = std::trunc(level / step);
    const double pos = std::trunc((top - q * step) / step);
    return static_cast<int>(std::clamp(pos, 0.0, static_cast<double>(maxPosition)));
}

} // namespace zelbo::scope
