#include "scope/analysis/math_file.h"

#include "common/toml.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "common/atomic_file.h"

namespace zelbo::scope::analysis {

namespace {
constexpr std::size_t kMaxFileBytes = 64 * 1024;
constexpr std::size_t kMaxLabel = 7;
} // namespace

std::string mathKey(int index)
{
    return "M" + std::to_string(index + 1);
}

std::filesystem::path mathPathFor(const std::filesystem::path& settingsPath)
{
    std::filesystem::path p = settingsPath;
    p.replace_extension(".zmath");
    return p;
}

std::string formatMathFile(const MathSetups& setups)
{
    toml::table root;
    for (int i = 0; i < kMathChannels; ++i) {
        const MathChannelSetup& m = setups[static_cast<std::size_t>(i)];
        toml::table t;
        t.insert("on", m.on);
        t.insert("expression", m.expression);
        t.insert("value_per_div", m.valuePerDiv);
        t.insert("position", static_cast<std::int64_t>(m.position));
        t.insert("label", m.label);
        root.insert(mathKey(i), std::move(t));
    }
    std::ostringstream out;
    out << "# Math channels\n" << root << "\n";
    return out.str();
}

MathSetups parseMathFile(std::string_view text, std::vector<std::string>* notes)
{
    MathSetups setups{};
    auto note = [notes](std::string s) {
        if (notes) notes->push_back(std::move(s));
    };
    if (text.size() > kMaxFileBytes) {
        note("The math channel file is larger than 64 KiB and was not read.");
        return setups;
    }
    if (const int bad = nonAsciiOutsideStrings(text)) {
        note("The math channel file is not valid (line " + std::to_string(bad) +
             "): a character outside ASCII outside a string or a comment.");
        return setups;
    }
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error& e) {
        std::ostringstream s;
        s << "The math channel file is not valid (line " << e.source().begin.line << "): " << e.description();
        note(s.str());
        return setups;
    }
    for (int i = 0; i < kMathChannels; ++i) {
        const std::string key = mathKey(i);
        const toml::table* t = root[key].as_table();
        if (!t) continue;
        MathChannelSetup& m = setups[static_cast<std::size_t>(i)];
        auto bad = [&](const char* field) { note(key + "." + field + " is not usable; the default is kept."); };
        if (auto n = (*t)["on"]; n) {
            if (auto v = n.value<bool>()) m.on = *v;
            else bad("on");
        }
        if (auto n = (*t)["expression"]; n) {
            if (auto v = n.value<std::string>(); v && v->size() <= 1000) m.expression = *v;
            else bad("expression");
        }
        if (auto n = (*t)["value_per_div"]; n) {
            if (auto v = n.value<double>(); v && std::isfinite(*v) && *v > 0.0 && *v < 1e12) m.valuePerDiv = *v;
            else bad("value_per_div");
        }
        if (auto n = (*t)["position"]; n) {
            if (auto v = n.value<std::int64_t>(); v && *v >= -10 && *v <= 10) m.position = static_cast<int>(*v);
            else bad("position");
        }
        if (auto n = (*t)["label"]; n) {
            if (auto v = n.value<std::string>(); v && v->size() <= kMaxLabel) m.label = *v;
            else bad("label");
        }
    }
    return setups;
}

bool writeMathFile(const std::filesystem::path& path, const MathSetups& setups, std::string* error)
{
    return files::writeFileAtomically(path, formatMathFile(setups), error);
}

bool readMathFile(const std::filesystem::path& path, MathSetups& setups, std::vector<std::string>* notes,
                  std::string* error)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        setups = MathSetups{};
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "Cannot open " + path.string() + ".";
        return false;
    }
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes) break;
    }
    if (in.bad()) {
        if (error) *error = "Cannot read " + path.string() + ".";
        return false;
    }
    setups = parseMathFile(text, notes);
    return true;
}

} // namespace zelbo::scope::analysis
