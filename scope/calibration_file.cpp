#include "scope/calibration_file.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <locale>
#include <sstream>

#include "common/file_bytes.h"
#include "common/atomic_file.h"

namespace zelbo::scope {

std::string formatCalibration(const CalibrationOffsets& offsets)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    for (const auto* line : {&offsets.voltage, &offsets.current, &offsets.icc}) {
        for (double v : *line) out << v << ' ';
        out << '\n';
    }
    return out.str();
}

bool sameOffsets(const CalibrationOffsets& a, const CalibrationOffsets& b)
{
    return a.voltage == b.voltage && a.current == b.current && a.icc == b.icc;
}

void parseCalibration(std::string_view bytes, CalibrationOffsets& offsets)
{
    std::array<std::array<double, kChannels>*, 3> lines{&offsets.voltage, &offsets.current, &offsets.icc};
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    for (auto* line : lines) {
        if (bytes.empty()) return;
        // Lines end with LF, CR or CR LF.
        const std::size_t end = bytes.find_first_of("\r\n");
        std::string_view text = bytes.substr(0, end);
        const bool crlf = end != std::string_view::npos && bytes[end] == '\r' && end + 1 < bytes.size() &&
                          bytes[end + 1] == '\n';
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + (crlf ? 2 : 1));
        for (std::size_t i = 0; i < kChannels; ++i) {
            while (!text.empty() && blank(text.front())) text.remove_prefix(1);
            if (text.empty()) break;
            std::size_t len = 0;
            while (len < text.size() && !blank(text[len])) ++len;
            const std::string_view field = text.substr(0, len);
            text.remove_prefix(len);
            double v = 0.0;
            const char* first = field.data();
            if (!field.empty() && field.front() == '+') ++first;
            const auto [ptr, ec] = std::from_chars(first, field.data() + field.size(), v);
            // The whole field must be the number: a damaged file must not
            // pass its noise on as an offset.
            const bool whole = ptr == field.data() + field.size();
            if (ec == std::errc() && ptr != first && whole && std::isfinite(v)) (*line)[i] = v;
        }
    }
}

bool readCalibrationFile(const std::filesystem::path& path, CalibrationOffsets& offsets)
{
    // Three short lines; the start of a larger file is all that is ever used.
    const FileBytes file = readFileBytes(path, 1u << 20);
    if (!file.ok) return false;
    parseCalibration(file.bytes, offsets);
    return true;
}

bool writeCalibrationFile(const std::filesystem::path& path, const CalibrationOffsets& offsets, std::string* error)
{
    return files::writeFileAtomically(path, formatCalibration(offsets), error);
}

} // namespace zelbo::scope
