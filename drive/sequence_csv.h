#pragma once
// Sequence tables as CSV text: a header line, then one line per row of nine
// comma-terminated cells. Reading accepts LF, CR and CR-LF line ends and lines
// with or without the trailing comma; it survives any bytes.

#include <string>
#include <string_view>

#include "drive/sequence.h"

namespace zelbo::drive::sequence {

inline constexpr const char* kCsvIncomplete = "Incomplete CSV Settings";

// The header line and every row down to the first empty time cell.
std::string saveCsv(const SequenceTable& table);

struct CsvLoad {
    int rows = 0;             // rows read into the table
    bool incomplete = false;  // a line had the wrong number of fields (rows before it stay)
};
// Clears the table, then reads rows from the text (normalising every cell).
CsvLoad loadCsv(std::string_view text, SequenceTable& table);

} // namespace zelbo::drive::sequence
