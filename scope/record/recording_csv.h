#pragma once
// A recording as CSV, for a spreadsheet or a script without a reader of its
// own: one row per sample of every sweep,
//
//   sweep,t [s],CH1 [V],CH3 coil A [A]
//
// the sweep's index, the time from its first sample, then one column per
// recorded channel (its label after the key when it has one, its unit in
// brackets). A channel the sweep did not convert is left empty. The text is
// streamed (a recording of hours does not fit in memory) into a temporary
// file beside the target, which is renamed over it only when every byte is
// written: a file that is not a recording, a damaged record or a full disk
// leaves any earlier file whole.

#include <cstdint>
#include <filesystem>
#include <string>

namespace zelbo::scope::recording {

struct CsvResult {
    bool ok = false;
    std::uint64_t sweeps = 0;
    std::string error; // the user's words when !ok
};

CsvResult convertToCsv(const std::filesystem::path& recording, const std::filesystem::path& csv);

} // namespace zelbo::scope::recording
