// Sequence CSV reading on any bytes: no crash, no read past the input, every
// stored cell in its normalised form, and what was read saves and reads back
// to the same table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "drive/sequence.h"
#include "drive/sequence_csv.h"

using namespace zelbo::drive::sequence;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SequenceTable table;
    const CsvLoad r = loadCsv(std::string_view(reinterpret_cast<const char*>(data), size), table);
    if (r.rows < 0 || r.rows > kRows) std::abort();
    for (int row = 0; row < kRows; ++row)
        for (int c = 0; c < kColumns; ++c)
            if (normaliseCell(c, table.cell(row, c)) != table.cell(row, c)) std::abort();
    SequenceTable back;
    (void)loadCsv(saveCsv(table), back);
    for (int row = 0; row < table.usedRows(); ++row)
        for (int c = 0; c < kColumns; ++c)
            if (back.cell(row, c) != table.cell(row, c)) std::abort();
    (void)validate(table);
    (void)patternRecords(buildRows(table, 0));
    return 0;
}
