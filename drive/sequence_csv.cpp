#include "drive/sequence_csv.h"

#include <vector>

#include "common/file_bytes.h"

namespace zelbo::drive::sequence {

std::string saveCsv(const SequenceTable& table)
{
    std::string out;
    for (int c = 0; c < kColumns; ++c) out.append(columnHeader(c)).push_back(',');
    out.push_back('\n');
    const int rows = table.usedRows();
    for (int r = 0; r < rows; ++r) {
        // A row with an empty cell keeps that cell empty: an empty line would
        // end the reading there and lose every row below it.
        for (int c = 0; c < kColumns; ++c) out.append(table.cell(r, c)).push_back(',');
        out.push_back('\n');
    }
    return out;
}

namespace {

// The next line of the text and where the one after it starts.
std::string_view nextLine(std::string_view text, std::size_t& pos)
{
    const std::size_t start = pos;
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        pos = text.size();
        return text.substr(start);
    }
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    return text.substr(start, end - start);
}

} // namespace

CsvLoad loadCsv(std::string_view text, SequenceTable& table)
{
    table.clear();
    CsvLoad result;
    std::size_t pos = 0;
    (void)nextLine(text, pos); // header
    std::vector<std::string_view> fields;
    while (pos < text.size() && result.rows < kRows) {
        const std::string_view line = nextLine(text, pos);
        if (line.find(',') == std::string_view::npos) break;
        fields.clear();
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = line.find(',', from);
            if (comma == std::string_view::npos) {
                fields.push_back(line.substr(from));
                break;
            }
            fields.push_back(line.substr(from, comma - from));
            from = comma + 1;
        }
        const bool ok = fields.size() == kColumns || (fields.size() == kColumns + 1 && fields.back().empty());
        if (!ok) {
            result.incomplete = true;
            result.badLine = result.rows + 2; // below the header and the rows read
            break;
        }
        for (int c = 0; c < kColumns; ++c) table.setCell(result.rows, c, fields[static_cast<std::size_t>(c)]);
        ++result.rows;
    }
    return result;
}

CsvFileLoad loadCsvFile(const std::filesystem::path& path, SequenceTable& table)
{
    CsvFileLoad r;
    const FileBytes file = readFileBytes(path, kCsvMaxBytes);
    if (!file.ok) return r;
    r.opened = true;
    SequenceTable read;
    static_cast<CsvLoad&>(r) = loadCsv(file.bytes, read);
    // Text below the header that gave no row at all is not a sequence: say
    // so and keep the table, rather than empty it without a word.
    const std::string_view text = file.bytes;
    const std::size_t body = text.find_first_of("\r\n");
    const bool content = body != std::string_view::npos &&
                         text.find_first_not_of(" \t\r\n", body) != std::string_view::npos;
    if (r.rows == 0 && content) {
        if (r.badLine == 0) r.badLine = 2;
        r.incomplete = true;
        r.kept = true;
        return r;
    }
    table = std::move(read);
    return r;
}

} // namespace zelbo::drive::sequence
