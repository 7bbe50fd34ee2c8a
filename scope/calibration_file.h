#pragma once
// "init.clb": the twelve calibration offsets between runs of the program.
// Three lines (voltage, current, ICC offsets), each four numbers CH1 first in
// the stream's default form (six significant digits), every number followed
// by one space.

#include <filesystem>
#include <string>
#include <string_view>

#include "scope/scope_channel.h"

namespace zelbo::scope {

std::string formatCalibration(const CalibrationOffsets& offsets);

// Whether two sets of offsets are the same twelve numbers.
bool sameOffsets(const CalibrationOffsets& a, const CalibrationOffsets& b);

// Reads up to three lines (ending with LF, CR or CR LF) into `offsets`. Line k, field i (fields are
// separated by blanks) sets that offset; a missing field, or one that is not
// wholly a finite number, leaves the offset as it was. Any bytes are accepted.
void parseCalibration(std::string_view bytes, CalibrationOffsets& offsets);

// False when the file cannot be read or is not a plain file (the offsets are
// then untouched). Only the first MiB of a larger file is read.
bool readCalibrationFile(const std::filesystem::path& path, CalibrationOffsets& offsets);
// Atomically; false with `error` set when it cannot be written (the folder
// is not created here). The old file stays on failure.
bool writeCalibrationFile(const std::filesystem::path& path, const CalibrationOffsets& offsets,
                          std::string* error = nullptr);

} // namespace zelbo::scope
