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

// The value lines' separators and comments, in file order.
constexpr std::array<const char*, kSettingsValueLines> kComments{{
    "\t :: Mode (0: Clk-In, 1: Para-In, 2: H-Bridge)",
    "\t :: VCC",
    "\t :: VREF",
    "\t :: RNF Value",
    "\t :: RNF Exchange Rate",
    "\t :: MTH",
    "\t:: Sampling Rate",
    "\t :: Trigger State (0: Off, 1: On)",
    "\t :: Trigger Level (Voltage)",
    "\t :: Trigger Level (Current)",
    "\t :: Triggered Channel",
    "\t :: Clk-In Frequency",
    "\t :: Clk-In Mode (0: Continuous, 1: Manual)",
    "\t :: Clk-In Steps",
    "\t :: Stop@ (0: L, 1: H)",
    "\t :: [PS][Enable][Mode0][Mode1][CW/CCW] (0: L, 1: H)",
    "\t :: CH1 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
    "\t :: CH2 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
    "\t :: CH3 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
    "\t :: CH4 Source (0: Voltage, 1: Current, 2: ICC; A:OUTxA, B: OUTxB)",
    "\t\t:: Sec/Div",
    "\t\t:: CH1 Value/Div",
    "\t\t:: CH2 Value/Div",
    "\t\t:: CH3 Value/Div",
    "\t\t:: CH4 Value/Div",
    "\t\t:: Max VREF Value",
    "\t\t:: Step VREF Value",
    "\t\t:: Min VREF Value",
    "\t\t:: Max MTH Value",
    "\t\t:: Step MTH Value",
    "\t\t:: Min MTH Value",
    "\t\t:: Max CLK Value",
    "\t\t:: Step CLK Value",
    "\t\t:: Min CLK Value",
}};

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

std::string formatSettings(const SettingsValues& v)
{
    std::array<std::string, kSettingsValueLines> values;
    std::size_t i = 0;
    values[i++] = std::to_string(v.mode);
    values[i++] = v.vcc33 ? "3.3" : "5.0";
    values[i++] = v.vref;
    values[i++] = v.rnf;
    values[i++] = v.rnfRate;
    values[i++] = v.mth;
    values[i++] = v.samplingRate;
    values[i++] = std::to_string(v.triggerOn);
    values[i++] = v.voltageLevel;
    values[i++] = v.currentLevel;
    values[i++] = std::to_string(v.triggerChannel);
    values[i++] = v.clk;
    values[i++] = std::to_string(v.clockManual);
    values[i++] = v.steps;
    values[i++] = std::to_string(v.stopHigh);
    values[i++] = v.pins;
    for (const ChannelSetting& c : v.channels)
        values[i++] = std::to_string(c.source) + " - " + (c.outputB ? "B" : "A");
    values[i++] = v.timeBase;
    for (const std::string& t : v.valuePerDiv) values[i++] = t;
    for (const auto& column : v.sweep)
        for (const std::string& t : column) values[i++] = t;

    std::string out = kSettingsHeader;
    for (std::size_t n = 0; n < values.size(); ++n) {
        out += valueForFile(values[n]);
        out += kComments[n];
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

bool writeSettingsFile(const std::filesystem::path& path, const SettingsValues& v, std::string* error)
{
    return writeFileAtomically(path, formatSettings(v), error);
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

SettingsValues defaultSettings()
{
    SettingsValues v;
    v.mode = 0;
    v.vcc33 = false;
    v.vref = "1.00";
    v.rnf = "0.20";
    v.rnfRate = "1 / 5";
    v.mth = "0.50";
    v.samplingRate = "150 kHz";
    v.triggerOn = 0;
    v.voltageLevel = "0.000";
    v.currentLevel = "0.000";
    v.triggerChannel = 1;
    v.clk = "2.00 k";
    v.clockManual = 0;
    v.steps = "1";
    v.stopHigh = 0;
    v.pins = "01111"; // ENABLE, MODE0, MODE1 (quarter step), CW; PS follows the power button
    // The two winding currents on CH1 and CH3, the chopped B outputs on CH2 and CH4.
    v.channels = {{{1, false}, {0, true}, {1, false}, {0, true}}};
    v.timeBase = "2.5 ms";
    v.valuePerDiv = {"500 mA", "10 V", "500 mA", "10 V"};
    v.sweep = {{{"3.00", "0.01", "0.00"}, {"3.50", "0.01", "0.00"}, {"5.00 k", "10", "0"}}};
    return v;
}

} // namespace zelbo::files
