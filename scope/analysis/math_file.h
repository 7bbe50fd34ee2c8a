#pragma once
// The math channels' settings, kept in a file of their own beside a
// settings file ("name.set" -> "name.zmath"), so the settings file's format
// stays exactly as other programs read it. TOML, one table per channel:
//
//   [M1]
//   on = true
//   expression = "CH1 * CH3"
//   value_per_div = 5.0
//   position = 0
//   label = "P1"
//
// The reader takes any bytes: what it cannot use keeps its default and is
// noted; an expression is kept as text and checked when it is applied.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelbo::scope::analysis {

inline constexpr int kMathChannels = 2;

struct MathChannelSetup {
    bool on = false;
    std::string expression;
    double valuePerDiv = 1.0; // in the result's unit, > 0
    int position = 0;         // zero line offset in half divisions, -10..+10
    std::string label;        // at most 7 characters; "M1"/"M2" shown when empty
    bool operator==(const MathChannelSetup&) const = default;
};
using MathSetups = std::array<MathChannelSetup, kMathChannels>;

// "M1", "M2".
std::string mathKey(int index);

std::filesystem::path mathPathFor(const std::filesystem::path& settingsPath);

std::string formatMathFile(const MathSetups& setups);
// Defaults for whatever is missing or unusable; each problem goes to `notes`.
MathSetups parseMathFile(std::string_view text, std::vector<std::string>* notes = nullptr);

// Atomic: the old file stays when the new one cannot be written.
bool writeMathFile(const std::filesystem::path& path, const MathSetups& setups, std::string* error = nullptr);
// A missing file gives the defaults (math channels off) and true; a file
// that cannot be read gives false with `error`, and `setups` untouched.
bool readMathFile(const std::filesystem::path& path, MathSetups& setups, std::vector<std::string>* notes = nullptr,
                  std::string* error = nullptr);

} // namespace zelbo::scope::analysis
