#pragma once
// The monitor's step list as a CSV file: one line per row, the five cells
// (VREF, MTH, PS, MODE0, MODE1) each followed by a comma.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "thermal/monitor.h"

namespace zelbo::thermal {

// From the first row up to the first row without a VREF (at most 256 rows);
// empty cells are written empty ("1.00,,HI,LO,,").
std::string formatStepList(const std::vector<StepRow>& rows);

struct StepListRead {
    std::vector<StepRow> rows; // the lines accepted before any bad one
    bool incomplete = false;   // a line had neither 5 fields nor 6 with an empty sixth
    int badLine = 0;           // that line, counted from 1 (0 when none)
};

// Lines end with LF, CR or CR LF. An empty line is a row of empty cells (the
// form older files gave a partly filled row). Reading stops at the first bad
// line and after 256 rows.
StepListRead parseStepList(std::string_view text);

// A step list is a few kilobytes; only the first MiB of a larger file is read.
// False when the file cannot be read or is not a plain file.
bool readStepListFile(const std::filesystem::path& path, StepListRead& read);

} // namespace zelbo::thermal
