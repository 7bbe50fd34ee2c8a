#include "files/chip_list.h"

#include "common/number_text.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <fstream>

#include "common/message_service.h"

namespace zelbo::files {

namespace {

// The pin panel's own excitation names, indexed MODE0 + 2 x MODE1.
constexpr std::array<const char*, 4> kBuiltInExcitation = {"Full Step", "Half Step A", "Half Step B",
                                                           "Quarter Step"};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest prefix of `t` (after leading blanks) that reads as a
// decimal number, and where it starts.
std::pair<std::size_t, std::size_t> decimalPrefix(std::string_view t, bool allowFraction)
{
    std::size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\r' || t[i] == '\n' || t[i] == '\v' ||
                            t[i] == '\f'))
        ++i;
    const std::size_t start = i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    if (allowFraction && i < t.size() && t[i] == '.') {
        std::size_t j = i + 1, frac = 0;
        while (j < t.size() && isDigit(t[j])) ++j, ++frac;
        if (digits + frac > 0) {
            i = j;
            digits += frac;
        }
    }
    if (digits == 0) return {start, 0};
    if (allowFraction && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        std::size_t exp = 0;
        while (j < t.size() && isDigit(t[j])) ++j, ++exp;
        if (exp > 0) i = j;
    }
    return {start, i - start};
}

} // namespace

ChipEntry builtInChip()
{
    ChipEntry e;
    e.mode = 0;
    e.name = "TQ40000PLXV";
    e.a = 672.29;
    e.b = 2.0836;
    return e;
}

double parseLeadingDouble(std::string_view text)
{
    auto [start, len] = decimalPrefix(text, true);
    if (len == 0) return 0.0;
    std::string_view num = text.substr(start, len);
    if (num.front() == '+') num.remove_prefix(1);
    double v = 0.0;
    auto res = std::from_chars(num.data(), num.data() + num.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // A huge exponent: from_chars leaves v untouched. Saturate like strtod
        // would, but stay finite.
        const bool negExp = num.find("e-") != std::string_view::npos || num.find("E-") != std::string_view::npos;
        if (negExp) return 0.0;
        const double big = 1.0e308;
        return num.front() == '-' ? -big : big;
    }
    if (res.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return v;
}

ChipList::ChipList()
{
    const ChipEntry d = builtInChip();
    a_ = d.a;
    b_ = d.b;
}

int ChipList::load(const std::filesystem::path& path, MessageService& messages)
{
    // A folder opens like a file here but reads as nothing: refuse it too.
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    std::ifstream in;
    if (regular) in.open(path, std::ios::binary);
    if (!regular || !in) {
        messages.show(kChipOpenFailed, kChipListCaption, MsgIcon::Error);
        return -1;
    }
    read(in, messages);
    return 0;
}

void ChipList::read(std::istream& in, MessageService& messages)
{
    std::string line;
    std::getline(in, line); // the header, whatever it holds
    entries_.clear();
    loaded_ = true;

    while (std::getline(in, line)) {
        // Files written on other systems end their lines with CR LF; the CR
        // belongs to the line end, not to the last excitation name.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\t') == std::string::npos) break;

        std::vector<std::string_view> fields;
        std::string_view rest(line);
        for (;;) {
            const auto tab = rest.find('\t');
            fields.push_back(rest.substr(0, tab));
            if (tab == std::string_view::npos) break;
            rest.remove_prefix(tab + 1);
        }
        if (fields.size() < 8) break;

        ChipEntry e;
        e.name = std::string(fields[0]);
        e.a = parseLeadingDouble(fields[1]);
        e.b = parseLeadingDouble(fields[2]);
        e.mode = parseLeadingInt(fields[3]);
        for (std::size_t k = 0; k < 4; ++k) e.excitation[k] = std::string(fields[4 + k]);
        if (e.b == 0.0) {
            messages.show(kChipInvalidB, kChipListCaption, MsgIcon::Error);
            break;
        }
        entries_.push_back(std::move(e));
    }
}

std::vector<std::string> ChipList::fillNames(int mode)
{
    if (entries_.empty()) entries_.push_back(builtInChip());
    std::vector<std::string> names;
    for (const auto& e : entries_)
        if (e.mode == mode) names.push_back(e.name);
    return names;
}

const ChipEntry* ChipList::find(const std::string& name) const
{
    for (const auto& e : entries_)
        if (e.name == name) return &e;
    return nullptr;
}

bool ChipList::applySelected(const std::string& name)
{
    selected_ = name;
    const ChipEntry* e = find(name);
    if (!e) return false;
    a_ = e->a;
    b_ = e->b;
    return true;
}

std::string ChipList::excitationText(bool mode0High, bool mode1High) const
{
    const int m0 = mode0High ? 1 : 0;
    const int m1 = mode1High ? 1 : 0;
    if (entries_.size() == 1) return kBuiltInExcitation[static_cast<std::size_t>(m0 + 2 * m1)];
    const ChipEntry* e = find(selected_);
    if (!e) return {};
    return e->excitation[static_cast<std::size_t>(2 * m0 + m1)];
}

std::optional<std::string> ChipList::chipName() const
{
    if (!loaded_) return std::nullopt;
    return selected_;
}

} // namespace zelbo::files
