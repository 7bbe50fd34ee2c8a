// How much slower than a plain build the tests run. Instrumented builds are
// several times slower than the program a user runs, so their test presets
// set ZELBO_TEST_TIME_SCALE, and every bound on how quickly the program must
// respond is multiplied by it; unset (or not a number from 1 to 100), the
// bounds are the program's own.
#pragma once

#include <cstdlib>

namespace zelbo::test {

inline double timeScale()
{
    static const double scale = [] {
        const char* text = std::getenv("ZELBO_TEST_TIME_SCALE");
        if (text == nullptr) return 1.0;
        char* end = nullptr;
        const double v = std::strtod(text, &end);
        return end != text && *end == '\0' && v >= 1.0 && v <= 100.0 ? v : 1.0;
    }();
    return scale;
}

inline int scaledMs(int ms) { return static_cast<int>(ms * timeScale()); }

} // namespace zelbo::test
