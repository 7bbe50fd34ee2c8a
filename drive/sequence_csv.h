#pragma once
// Sequence tables as CSV text: a header line, then one line per row of nine
// comma-terminated cells. Reading accepts LF, CR and CR-LF line ends and lines
// with or without the trailing comma; it survives any bytes.

#include <filesystem>
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
    int badLine = 0;          // that line, counted from 1 (the header); 0 when none
};
// Clears the table, then reads rows from the text (normalising every cell).
CsvLoad loadCsv(std::string_view text, SequenceTable& table);

// Far beyond 255 rows; only the start of a larger file is read.
inline constexpr std::size_t kCsvMaxBytes = 4u << 20;
struct CsvFileLoad : CsvLoad {
    bool opened = false; // false: the file could not be read and the table is untouched
    bool kept = false;   // nothing below the header was a row: incomplete, and the table is untouched
};
CsvFileLoad loadCsvFile(const std::filesystem::path& path, SequenceTable& table);

} // namespace zelbo::drive::sequence
