#include "files/settings_file.h"

#include <charconv>
#include <climits>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/file_bytes.h"
#include "common/atomic_file.h"

namespace zelbo::files {

namespace {

std::string_view trimEnd(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

constexpr char kMicroCp1252 = '\xB5';
constexpr std::string_view kMicroUtf8 = "\xC2\xB5";

// Length of the well-formed UTF-8 sequence starting at `s[i]`, 0 when there
// is none.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + n > s.size()) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

} // namespace

std::string valueFromFile(std::string_view bytes)
{
    // Files saved on Windows carry the time base's micro sign as the code
    // page's single byte; the tables here hold it in UTF-8. Every other byte
    // that is not UTF-8 stays as it is.
    std::string out;
    out.reserve(bytes.size() + 2);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = utf8Length(bytes, i);
        if (n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
            continue;
        }
        if (bytes[i] == kMicroCp1252) out += kMicroUtf8;
        else out += bytes[i];
        ++i;
    }
    return out;
}

std::string valueForFile(std::string_view text)
{
    // The other way round: the micro sign as the Windows code page writes it,
    // so that a file saved here loads there.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, kMicroUtf8.size()) == kMicroUtf8) {
            out += kMicroCp1252;
            ++i;
            continue;
        }
        const char c = text[i];
        // A value never carries a line break or a tab of its own: either
        // would shift every later line when the file is read back.
        out += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    }
    return out;
}

std::string formatSettings(const SettingsValues& v, const SettingsTable& table)
{
    std::string out = kSettingsHeader;
    for (const SettingsRow& row : table) {
        out += valueForFile(v[row.line]);
        out += row.comment;
        out += '\n';
    }
    return out;
}

std::vector<SettingsLine> parseSettings(std::string_view bytes)
{
    std::vector<SettingsLine> lines;
    bool header = true;
    while (!bytes.empty()) {
        // A lone CR ends a line too (old Mac files); the LF of a CR LF then
        // gives a blank line, which is skipped.
        const std::size_t end = bytes.find_first_of("\r\n");
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (header) {
            if (line.find("----") != std::string_view::npos) header = false;
            continue;
        }
        line = trimEnd(line);
        if (line.empty()) continue;
        const std::size_t tab = line.find('\t');
        SettingsLine l;
        l.value = valueFromFile(trimEnd(line.substr(0, tab)));
        if (tab != std::string_view::npos) l.comment = std::string(line.substr(tab + 1));
        lines.push_back(std::move(l));
    }
    return lines;
}

bool writeSettingsFile(const std::filesystem::path& path, const SettingsValues& v, std::string* error,
                       const SettingsTable& table)
{
    return writeFileAtomically(path, formatSettings(v, table), error);
}

bool readSettingsFile(const std::filesystem::path& path, std::vector<SettingsLine>& lines)
{
    lines.clear();
    // A settings file is a few kilobytes; anything past the cap is not one.
    const FileBytes file = readFileBytes(path, kSettingsMaxBytes);
    if (!file.ok || file.cut) return false;
    lines = parseSettings(file.bytes);
    return true;
}

SettingsValues defaultSettings(const SettingsTable& table)
{
    SettingsValues v;
    for (const SettingsRow& row : table) v[row.line] = row.firstRun;
    return v;
}

} // namespace zelbo::files
