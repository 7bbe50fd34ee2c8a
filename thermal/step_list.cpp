#include "thermal/step_list.h"

#include "common/file_bytes.h"

namespace zelbo::thermal {

std::string formatStepList(const std::vector<StepRow>& rows)
{
    // A row with an empty cell is written with that cell empty: it runs (an
    // empty pin cell is HI), so it must come back as it was.
    std::string out;
    std::size_t n = 0;
    for (const StepRow& r : rows) {
        if (r.vref.empty() || n == kMaxSteps) break;
        ++n;
        for (const std::string* cell : {&r.vref, &r.mth, &r.ps, &r.mode0, &r.mode1}) {
            out += *cell;
            out += ',';
        }
        out += '\n';
    }
    return out;
}

namespace {

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = line.find(',');
        fields.push_back(line.substr(0, comma));
        if (comma == std::string_view::npos) break;
        line.remove_prefix(comma + 1);
        if (fields.size() > 6) break; // too many already
    }
    return fields;
}

} // namespace

StepListRead parseStepList(std::string_view text)
{
    StepListRead out;
    std::size_t pos = 0;
    while (pos < text.size() && out.rows.size() < kMaxSteps) {
        std::size_t end = text.find_first_of("\r\n", pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (end == std::string_view::npos) {
            pos = text.size();
        } else {
            pos = end + 1;
            if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
        }
        // An empty line is an empty row: what older files hold for a row
        // that had an empty cell. The rows after it keep their places.
        if (line.empty()) {
            out.rows.emplace_back();
            continue;
        }
        const auto f = splitFields(line);
        const bool ok = f.size() == 5 || (f.size() == 6 && f[5].empty());
        if (!ok) {
            out.incomplete = true;
            out.badLine = static_cast<int>(out.rows.size()) + 1;
            break;
        }
        out.rows.push_back(StepRow{std::string(f[0]), std::string(f[1]), std::string(f[2]),
                                   std::string(f[3]), std::string(f[4])});
    }
    return out;
}

bool readStepListFile(const std::filesystem::path& path, StepListRead& read)
{
    const FileBytes file = readFileBytes(path, 1u << 20);
    if (!file.ok) return false;
    read = parseStepList(file.bytes);
    return true;
}

} // namespace zelbo::thermal
