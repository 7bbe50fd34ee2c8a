#pragma once
// The program's data folder: $XDG_DATA_HOME (default ~/.local/share) +
// "Velmar/TQ5170x". It holds the settings file, the chip list and the
// oscilloscope calibration. On first run it is created and seeded with the
// default chip list that ships inside the program.

#include <filesystem>
#include <string>
#include <string_view>

namespace zelbo::files {

inline constexpr const char* kChipFileName = "TQ5170x.chip";
inline constexpr const char* kSettingsFileName = "TQ5170x.set";
inline constexpr const char* kCalibrationFileName = "init.clb";

// The folder, from the environment (a relative XDG_DATA_HOME is ignored, as
// the base-directory rules ask). Nothing is created.
std::filesystem::path dataFolder();

// Creates the folder if needed and, when no chip list exists there yet, writes
// `defaultChipList` as "TQ5170x.chip" (through a temporary file, so that a
// crash never leaves a half-written list). An existing file is never touched.
// Returns false with `error` set when the folder or the file cannot be made;
// the caller goes on and the chip-list loader reports the missing file.
bool ensureDataFolder(const std::filesystem::path& folder, std::string_view defaultChipList,
                      std::string* error = nullptr);

} // namespace zelbo::files
