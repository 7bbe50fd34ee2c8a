#include "server/scpi_instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "drive/clock.h"
#include "drive/column.h"
#include "drive/pins.h"

namespace zelbo::server {

using namespace std::chrono_literals;

namespace {

// An error a command ends with: its number, and what went wrong.
struct ScpiError {
    int code;
    std::string detail;
};

std::string number(double v)
{
    // SCPI's "not a number" for a figure that does not apply.
    if (!std::isfinite(v)) return "9.91E+37";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// The leading number of a text the window shows ("500 µs", "2.5 kHz", "1.20"),
// with its unit prefix applied.
double textValue(const std::string& text)
{
    double v = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%lf%n", &v, &used) != 1) return NAN;
    std::string rest = text.substr(static_cast<std::size_t>(used));
    while (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
    if (rest.rfind("n", 0) == 0) return v * 1e-9;
    if (rest.rfind("\xC2\xB5", 0) == 0 || rest.rfind("u", 0) == 0) return v * 1e-6;
    if (rest.rfind("m", 0) == 0) return v * 1e-3;
    if (rest.rfind("k", 0) == 0) return v * 1e3;
    if (rest.rfind("M", 0) == 0) return v * 1e6;
    return v;
}

// A value as the window's texts write it: "500 us", "2.5 kHz", "200 mV".
std::string valueText(double v, const char* unit)
{
    char buf[48];
    const double a = std::fabs(v);
    if (std::strcmp(unit, "s") == 0) {
        if (a < 1e-6) std::snprintf(buf, sizeof buf, "%g ns", v * 1e9);
        else if (a < 1e-3) std::snprintf(buf, sizeof buf, "%g us", v * 1e6);
        else if (a < 1) std::snprintf(buf, sizeof buf, "%g ms", v * 1e3);
        else std::snprintf(buf, sizeof buf, "%g s", v);
    } else if (std::strcmp(unit, "Hz") == 0) {
        if (a < 1e3) std::snprintf(buf, sizeof buf, "%g Hz", v);
        else if (a < 1e6) std::snprintf(buf, sizeof buf, "%g kHz", v * 1e-3);
        else std::snprintf(buf, sizeof buf, "%g MHz", v * 1e-6);
    } else {
        if (a < 1) std::snprintf(buf, sizeof buf, "%g m%s", v * 1e3, unit);
        else std::snprintf(buf, sizeof buf, "%g %s", v, unit);
    }
    return buf;
}

std::string statusValue(const engine::Session& s, const std::string& name)
{
    for (const auto& [n, v] : s.status())
        if (n == name) return v;
    return {};
}

constexpr const char* kPinNames[] = {"ps", "enable", "mode0", "mode1", "cw"};
constexpr const char* kModeNames[] = {"full", "half-a", "half-b", "quarter"};
constexpr const char* kModeKeywords[] = {"FULL", "HALFA", "HALFB", "QUARter"};

// A pattern node: "CHANnel#" takes a numeric suffix, "[NEXT]" may be left out.
struct PatternNode {
    std::string keyword;
    bool optional = false;
    bool suffix = false;
};

struct Pattern {
    bool common = false;
    bool query = false;
    std::vector<PatternNode> nodes;
};

Pattern compile(std::string_view text)
{
    Pattern p;
    if (!text.empty() && text.back() == '?') {
        p.query = true;
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '*') {
        p.common = true;
        p.nodes.push_back({std::string(text.substr(1)), false, false});
        return p;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string_view::npos) end = text.size();
        std::string word(text.substr(start, end - start));
        PatternNode n;
        if (!word.empty() && word.front() == '[') {
            n.optional = true;
            word = word.substr(1, word.size() - 2);
        }
        if (!word.empty() && word.back() == '#') {
            n.suffix = true;
            word.pop_back();
        }
        n.keyword = word;
        p.nodes.push_back(std::move(n));
        start = end + 1;
    }
    return p;
}

bool matchFrom(const Pattern& p, std::size_t pi, const std::vector<Node>& path, std::size_t ci, int& suffix)
{
    if (pi == p.nodes.size()) return ci == path.size();
    const PatternNode& pn = p.nodes[pi];
    if (ci < path.size() && keywordMatches(pn.keyword, path[ci].name) && (pn.suffix || path[ci].suffix < 0)) {
        const int saved = suffix;
        if (pn.suffix) suffix = path[ci].suffix < 0 ? 1 : path[ci].suffix;
        if (matchFrom(p, pi + 1, path, ci + 1, suffix)) return true;
        suffix = saved;
    }
    return pn.optional && matchFrom(p, pi + 1, path, ci, suffix);
}

// For the documentation: "SYSTem:ERRor:[NEXT]?" -> "SYSTem:ERRor[:NEXT]?",
// "CHANnel#" -> "CHANnel<n>".
std::string displayPattern(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':' && i + 1 < text.size() && text[i + 1] == '[') {
            const std::size_t close = text.find(']', i);
            out += "[:" + text.substr(i + 2, close - i - 2) + "]";
            i = close;
        } else if (text[i] == '[' && i == 0) {
            const std::size_t close = text.find(']', i);
            out += "[" + text.substr(1, close - 1) + ":]";
            i = close + 1; // the ':' after it
        } else if (text[i] == '#') {
            out += "<n>";
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

struct Ctx {
    ScpiInstrument& in;
    engine::Session& s;
    ClientState& client;
    const Command& cmd;
    int suffix; // the header's numeric suffix (channels 1..4), 1 when left out
    std::string out;

    std::size_t count() const { return cmd.params.size(); }
    void params(std::size_t min, std::size_t max) const
    {
        if (count() < min) throw ScpiError{-109, {}};
        if (count() > max) throw ScpiError{-108, {}};
    }
    const Param& at(std::size_t i) const { return cmd.params.at(i); }

    // A number in `unit`, with MINimum / MAXimum / DEFault where given.
    double num(std::size_t i, const char* unit, double min = NAN, double max = NAN, double def = NAN) const
    {
        const Param& p = at(i);
        if (p.kind == Param::Kind::Chars) {
            if (!std::isnan(min) && keywordMatches("MINimum", p.text)) return min;
            if (!std::isnan(max) && keywordMatches("MAXimum", p.text)) return max;
            if (!std::isnan(def) && keywordMatches("DEFault", p.text)) return def;
            throw ScpiError{-104, "a number is expected"};
        }
        if (p.kind != Param::Kind::Number) throw ScpiError{-104, "a number is expected"};
        const auto scale = suffixScale(p.suffix, unit);
        if (!scale) throw ScpiError{-131, p.suffix};
        return p.number * *scale;
    }
    long long integer(std::size_t i, long long min, long long max) const
    {
        const double v = num(i, "", static_cast<double>(min), static_cast<double>(max));
        if (v != std::floor(v) || v < static_cast<double>(min) || v > static_cast<double>(max))
            throw ScpiError{-222, "a whole number from " + std::to_string(min) + " to " + std::to_string(max)};
        return static_cast<long long>(v);
    }
    bool boolean(std::size_t i) const
    {
        const Param& p = at(i);
        if (p.kind == Param::Kind::Number && p.suffix.empty()) return std::lround(p.number) != 0;
        if (p.kind == Param::Kind::Chars) {
            if (keywordMatches("ON", p.text)) return true;
            if (keywordMatches("OFF", p.text)) return false;
        }
        throw ScpiError{-224, "ON, OFF, 1 or 0"};
    }
    // Character data against a list of keywords; the index matched.
    int choice(std::size_t i, std::initializer_list<const char*> keywords) const
    {
        const Param& p = at(i);
        if (p.kind == Param::Kind::Chars) {
            int k = 0;
            for (const char* kw : keywords) {
                if (keywordMatches(kw, p.text)) return k;
                ++k;
            }
        }
        std::string list;
        for (const char* kw : keywords) list += (list.empty() ? "" : ", ") + std::string(kw);
        throw ScpiError{-224, "one of " + list};
    }
    // Text: a string, or character data as written.
    std::string text(std::size_t i) const
    {
        const Param& p = at(i);
        return p.text;
    }
    int channel() const
    {
        if (suffix < 1 || suffix > scope::kChannels) throw ScpiError{-114, "channels are 1 to 4"};
        return suffix - 1;
    }
    // "CH1", "CHAN1", "CHANnel1" or 1.
    int channelParam(std::size_t i) const
    {
        const Param& p = at(i);
        int n = 0;
        if (p.kind == Param::Kind::Number && p.suffix.empty()) n = static_cast<int>(p.number);
        else if (p.kind == Param::Kind::Chars) {
            Node node;
            std::string t = p.text;
            std::size_t d = t.size();
            while (d > 0 && std::isdigit(static_cast<unsigned char>(t[d - 1]))) --d;
            if (d < t.size() && d > 0 && t.size() - d < 3 &&
                (keywordMatches("CHANnel", t.substr(0, d)) || keywordMatches("CH", t.substr(0, d))))
                n = std::stoi(t.substr(d));
        }
        if (n < 1 || n > scope::kChannels) throw ScpiError{-224, "a channel: CH1 to CH4"};
        return n - 1;
    }
};

using Handler = void (*)(Ctx&);

struct ScpiInstrument::Entry {
    const char* pattern;
    const char* params;
    const char* what;
    bool changes; // changes the board: refused to others while a client holds the lock
    Handler fn;
};

struct Handlers {
    static const std::vector<ScpiInstrument::Entry>& table();
    static void measureFigure(Ctx& x, double scope::Measurement::*field);
    static void needCapture(Ctx& x);
};

void Handlers::measureFigure(Ctx& x, double scope::Measurement::*field)
{
    x.params(0, 1);
    const int ch = x.count() ? x.channelParam(0) : 0;
    const engine::Capture c = x.s.measure(5000ms);
    x.out = number(c.figures[static_cast<std::size_t>(ch)].*field);
}

void Handlers::needCapture(Ctx& x)
{
    if (!x.in.haveCapture_) {
        x.in.capture_ = x.s.capture(5000ms);
        x.in.haveCapture_ = true;
    }
}

const std::vector<ScpiInstrument::Entry>& Handlers::table()
{
    using E = ScpiInstrument::Entry;
    static const std::vector<E> t = {
        // ---- IEEE 488.2 common commands
        {"*IDN?", "", "maker, model, serial number, firmware version", false,
         [](Ctx& x) {
             const Identity& id = x.in.o_.identity;
             x.out = id.maker + "," + id.model + "," + id.serial + "," + id.firmware;
         }},
        {"*RST", "", "the clock stops, a sequence ends, the power goes off; the waveform settings return to CH1, REAL", true,
         [](Ctx& x) {
             if (x.s.sequenceRunning()) x.s.stopSequence();
             x.s.stop();
             if (x.s.poweredOn()) x.s.powerOff();
             x.in.countedRun_ = x.in.countedSequence_ = false;
             x.in.waveSource_ = 0;
             x.in.waveWord_ = false;
         }},
        {"*CLS", "", "clears this client's error queue and event status register", false,
         [](Ctx& x) {
             x.client.errors.clear();
             x.client.esr = 0;
             x.client.opcArmed = false;
         }},
        {"*OPC", "", "sets bit 0 of the event status register once no counted run or sequence is pending", false,
         [](Ctx& x) { x.client.opcArmed = true; }},
        {"*OPC?", "", "1 once no counted run or sequence is pending (the line waits)", false, [](Ctx& x) { x.out = "1"; }},
        {"*WAI", "", "the rest of the line waits until no counted run or sequence is pending", false, [](Ctx&) {}},
        {"*ESR?", "", "event status register (read and cleared)", false,
         [](Ctx& x) {
             x.out = std::to_string(x.client.esr);
             x.client.esr = 0;
         }},
        {"*ESE", "0..255", "event status enable", false,
         [](Ctx& x) {
             x.params(1, 1);
             x.client.ese = static_cast<std::uint8_t>(x.integer(0, 0, 255));
         }},
        {"*ESE?", "", "", false, [](Ctx& x) { x.out = std::to_string(x.client.ese); }},
        {"*STB?", "", "status byte: 4 error queue not empty, 32 event summary, 64 request service", false,
         [](Ctx& x) { x.out = std::to_string(ScpiInstrument::statusByte(x.client)); }},
        {"*SRE", "0..255", "service request enable", false,
         [](Ctx& x) {
             x.params(1, 1);
             x.client.sre = static_cast<std::uint8_t>(x.integer(0, 0, 255) & 0xBF);
         }},
        {"*SRE?", "", "", false, [](Ctx& x) { x.out = std::to_string(x.client.sre); }},
        {"*TST?", "", "0 (the board is checked when it is brought up)", false, [](Ctx& x) { x.out = "0"; }},

        // ---- system
        {"SYSTem:ERRor:[NEXT]?", "", "the oldest error: <number>,\"<text>\"; 0,\"No error\" when none", false,
         [](Ctx& x) {
             if (x.client.errors.empty()) {
                 x.out = "0,\"No error\"";
                 return;
             }
             const auto e = x.client.errors.front();
             x.client.errors.pop_front();
             x.out = std::to_string(e.first) + "," + quoted(e.second);
         }},
        {"SYSTem:ERRor:COUNt?", "", "errors in the queue", false,
         [](Ctx& x) { x.out = std::to_string(x.client.errors.size()); }},
        {"SYSTem:VERSion?", "", "the SCPI version", false, [](Ctx& x) { x.out = "1999.0"; }},
        {"SYSTem:BOARd?", "", "SIM or USB", false,
         [](Ctx& x) { x.out = x.s.board() == "sim" ? "SIM" : "USB"; }},
        {"SYSTem:LOCK:[REQuest]?", "", "1: this client now controls the board (or did), 0: another client does", false,
         [](Ctx& x) {
             if (x.in.lockHolder_ == 0) x.in.lockHolder_ = x.client.id;
             x.out = x.in.lockHolder_ == x.client.id ? "1" : "0";
         }},
        {"SYSTem:LOCK:[REQuest]", "", "as the query, with a -203 error when another client holds the lock", false,
         [](Ctx& x) {
             if (x.in.lockHolder_ == 0) x.in.lockHolder_ = x.client.id;
             if (x.in.lockHolder_ != x.client.id) throw ScpiError{-203, "another client holds the lock"};
         }},
        {"SYSTem:LOCK:RELease", "", "gives the lock up", false,
         [](Ctx& x) {
             if (x.in.lockHolder_ == x.client.id) x.in.lockHolder_ = 0;
         }},
        {"SYSTem:LOCK:OWNer?", "", "SELF, OTHER or NONE", false,
         [](Ctx& x) {
             x.out = x.in.lockHolder_ == 0 ? "NONE" : x.in.lockHolder_ == x.client.id ? "SELF" : "OTHER";
         }},

        // ---- power, supply, pins, references
        {"POWer:[STATe]", "ON|OFF[,NOCLock]", "the power switch's sequence (NOCLock: the clock stays stopped)", true,
         [](Ctx& x) {
             x.params(1, 2);
             const bool on = x.boolean(0);
             if (on) {
                 const bool noClock = x.count() == 2 && x.choice(1, {"NOCLock"}) == 0;
                 x.s.powerOn(!noClock);
             } else {
                 x.s.powerOff();
                 x.in.countedRun_ = x.in.countedSequence_ = false;
             }
         }},
        {"POWer:[STATe]?", "", "1 or 0", false, [](Ctx& x) { x.out = x.s.poweredOn() ? "1" : "0"; }},
        {"SUPPly:[VOLTage]", "3.3|5 [V]", "the supply of the driver IC", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setVdut(x.num(0, "V", 3.3, 5.0));
         }},
        {"SUPPly:[VOLTage]?", "", "3.3 or 5", false,
         [](Ctx& x) { x.out = number(textValue(statusValue(x.s, "vdut"))); }},
        {"PIN", "PS|ENABle|MODE0|MODE1|CW,ON|OFF", "one pin", true,
         [](Ctx& x) {
             x.params(2, 2);
             x.s.setPin(kPinNames[x.choice(0, {"PS", "ENABle", "MODE0", "MODE1", "CW"})], x.boolean(1));
         }},
        {"PIN?", "PS|ENABle|MODE0|MODE1|CW", "1 or 0", false,
         [](Ctx& x) {
             x.params(1, 1);
             const auto pin = drive::pinByName(kPinNames[x.choice(0, {"PS", "ENABle", "MODE0", "MODE1", "CW"})]);
             x.out = pin && x.s.drive().pinHigh(*pin) ? "1" : "0";
         }},
        {"MODE", "FULL|HALFA|HALFB|QUARter", "the excitation mode (pins MODE0, MODE1)", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setMode(kModeNames[x.choice(0, {"FULL", "HALFA", "HALFB", "QUARter"})]);
         }},
        {"MODE?", "", "FULL, HALFA, HALFB or QUAR", false,
         [](Ctx& x) {
             const bool m0 = x.s.drive().pinHigh(drive::Pin::Mode0), m1 = x.s.drive().pinHigh(drive::Pin::Mode1);
             x.out = "FULL";
             for (int k = 0; k < 4; ++k) {
                 const auto p = drive::excitationByName(kModeNames[k]);
                 if (p && p->mode0 == m0 && p->mode1 == m1) {
                     std::string kw;
                     for (char c : std::string(kModeKeywords[k]))
                         if (!(c >= 'a' && c <= 'z')) kw += c;
                     x.out = kw;
                 }
             }
         }},
        {"[SOURce]:VREF", "<V>|MIN|MAX", "VREF, 0 to 3 V, as the DAC makes it (whole mV)", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setVref(x.num(0, "V", 0.0, 3.0));
         }},
        {"[SOURce]:VREF?", "", "VREF applied, V", false, [](Ctx& x) { x.out = number(x.s.vref()); }},
        {"[SOURce]:MTH", "<V>|MIN|MAX", "MTH, 0 to 3.5 V, as the DAC makes it", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setMth(x.num(0, "V", 0.0, 3.5));
         }},
        {"[SOURce]:MTH?", "", "MTH applied, V", false, [](Ctx& x) { x.out = number(x.s.mth()); }},
        {"[SOURce]:RNF", "<ohm>|MIN|MAX", "the sense resistor, 0.01 to 1 ohm", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setRnf(x.num(0, "OHM", 0.01, 1.0));
         }},
        {"[SOURce]:RNF?", "", "ohm", false, [](Ctx& x) { x.out = number(textValue(statusValue(x.s, "rnf"))); }},
        {"CHIP", "\"<name>\"", "the chip of the chip list whose A and B convert Tj", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.selectChip(x.text(0));
         }},
        {"CHIP?", "", "the chip chosen", false, [](Ctx& x) { x.out = quoted(statusValue(x.s, "chip")); }},
        {"CHIP:CATalog?", "", "the chip list's names", false,
         [](Ctx& x) {
             for (const auto& n : x.s.chipNames()) x.out += (x.out.empty() ? "" : ",") + quoted(n);
         }},

        // ---- step clock
        {"CLOCk:FREQuency", "<Hz>|MIN|MAX", "0.01 Hz to 100 kHz, as the generator makes it; a continuous run takes it at once", true,
         [](Ctx& x) {
             x.params(1, 1);
             const double f = x.num(0, "HZ", drive::kClockMinHz, 100e3);
             if (const auto e = drive::rangeError(drive::ColumnId::Clk, f); !e.empty()) throw std::invalid_argument(e);
             if (x.s.running() && !x.in.countedRun_) x.s.run(f);
             x.in.frequency_ = f;
         }},
        {"CLOCk:FREQuency?", "", "the frequency applied (or to be), Hz", false,
         [](Ctx& x) { x.out = number(drive::generatorFrequency(x.in.frequency_)); }},
        {"CLOCk:RUN", "[<steps>]", "continuous, or a counted run of 1 to 10^9 steps (*OPC? waits for its end)", true,
         [](Ctx& x) {
             x.params(0, 1);
             if (x.count() == 0) {
                 x.s.run(x.in.frequency_);
                 x.in.countedRun_ = false;
             } else {
                 const long long n = x.integer(0, 1, engine::Session::kMaxSteps);
                 x.s.run(x.in.frequency_, n);
                 x.in.countedRun_ = true;
             }
         }},
        {"CLOCk:STOP", "", "the clock stops (a counted run too)", true,
         [](Ctx& x) {
             x.s.stop();
             x.in.countedRun_ = false;
         }},
        {"CLOCk:RUNNing?", "", "1 while the clock runs", false, [](Ctx& x) { x.out = x.s.running() ? "1" : "0"; }},
        {"CLOCk:DUTY", "<percent>", "1 to 100 %, whole percent", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setDuty(x.num(0, "PCT", 1, 100));
         }},
        {"CLOCk:DUTY?", "", "percent", false, [](Ctx& x) { x.out = statusValue(x.s, "duty"); }},
        {"CLOCk:SLEVel", "HIGH|LOW", "the level the clock rests at after a counted run", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setStopHigh(x.choice(0, {"HIGH", "LOW"}) == 0);
         }},

        // ---- sequences, calibration, temperature, settings
        {"SEQuence:RUN", "\"<file.csv>\"[,<cycles 0..99>[,<pause ms>]]", "a dynamic sequence from its CSV (below the server's file folder); 0 cycles: endless", true,
         [](Ctx& x) {
             x.params(1, 3);
             engine::SequenceOptions so;
             if (x.count() > 1) so.cycles = static_cast<int>(x.integer(1, 0, 99));
             if (x.count() > 2) so.repeatDelayMs = static_cast<int>(x.integer(2, 0, 60000));
             x.s.runSequenceFile(x.in.clientPath(x.text(0)), so);
             x.in.countedSequence_ = so.cycles != 0;
         }},
        {"SEQuence:STOP", "", "the sequence stops", true,
         [](Ctx& x) {
             x.s.stopSequence();
             x.in.countedSequence_ = false;
         }},
        {"SEQuence:RUNNing?", "", "1 while a sequence plays", false,
         [](Ctx& x) { x.out = x.s.sequenceRunning() ? "1" : "0"; }},
        {"CALibrate", "", "the oscilloscope's offset calibration (seconds; the line waits)", true,
         [](Ctx& x) { x.s.calibrate(); }},
        {"CALibrate:OFFSets?", "", "twelve offsets: voltage CH1..4, current CH1..4, ICC CH1..4", false,
         [](Ctx& x) {
             const auto& o = x.s.calibrationOffsets();
             for (const auto* a : {&o.voltage, &o.current, &o.icc})
                 for (double v : *a) x.out += (x.out.empty() ? "" : ",") + number(v);
         }},
        {"TEMPerature?", "", "junction temperature, degrees Celsius", false,
         [](Ctx& x) { x.out = number(x.s.tj(3000ms)); }},
        {"MMEMory:LOAD:STATe", "\"<file.set>\"", "a settings file (below the server's file folder)", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.loadSettings(x.in.clientPath(x.text(0)));
         }},
        {"MMEMory:STORe:STATe", "\"<file.set>\"", "saves the settings (below the server's file folder)", false,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.saveSettings(x.in.clientPath(x.text(0)));
         }},

        // ---- oscilloscope set-up
        {"TIMebase:SCALe", "<s>|\"<text>\"", "SEC/DIV, 500 ns to 50 ms (AUTO: as the window links it)", true,
         [](Ctx& x) {
             x.params(1, 1);
             const Param& p = x.at(0);
             x.s.setTimeBase(p.kind == Param::Kind::Number ? valueText(x.num(0, "S"), "s") : p.text);
         }},
        {"TIMebase:SCALe?", "", "SEC/DIV, s", false,
         [](Ctx& x) { x.out = number(textValue(statusValue(x.s, "timebase"))); }},
        {"ACQuire:SRATe", "<Hz>|\"<text>\"", "sampling rate, 2.5 kHz to 10 MHz as the window lists them", true,
         [](Ctx& x) {
             x.params(1, 1);
             const Param& p = x.at(0);
             x.s.setSamplingRate(p.kind == Param::Kind::Number ? valueText(x.num(0, "HZ"), "Hz") : p.text);
         }},
        {"ACQuire:SRATe?", "", "Hz", false,
         [](Ctx& x) { x.out = number(textValue(statusValue(x.s, "rate"))); }},
        {"ACQuire:COUNt?", "", "sweeps converted since the server started", false,
         [](Ctx& x) { x.out = std::to_string(x.s.sweepsConverted()); }},
        {"TRIGger:[STATe]", "ON|OFF", "the trigger", true,
         [](Ctx& x) {
             x.params(1, 1);
             auto& sc = x.s.scope();
             const int ch = sc.triggerChannel();
             x.s.setTrigger(x.boolean(0), ch, textValue(statusValue(x.s, "trigger_level")), sc.slopeMinus());
         }},
        {"TRIGger:[STATe]?", "", "1 or 0", false, [](Ctx& x) { x.out = x.s.scope().triggerOn() ? "1" : "0"; }},
        {"TRIGger:SOURce", "CH1..CH4", "the trigger's channel", true,
         [](Ctx& x) {
             x.params(1, 1);
             auto& sc = x.s.scope();
             x.s.setTrigger(sc.triggerOn(), x.channelParam(0), textValue(statusValue(x.s, "trigger_level")),
                            sc.slopeMinus());
         }},
        {"TRIGger:SOURce?", "", "CH1..CH4", false,
         [](Ctx& x) { x.out = "CH" + std::to_string(x.s.scope().triggerChannel() + 1); }},
        {"TRIGger:LEVel", "<V or A>", "in the trigger channel's unit (+-36 V, +-6 A)", true,
         [](Ctx& x) {
             x.params(1, 1);
             auto& sc = x.s.scope();
             const int ch = sc.triggerChannel();
             const char* unit = sc.source(ch) == scope::Source::Voltage ? "V" : "A";
             x.s.setTrigger(sc.triggerOn(), ch, x.num(0, unit), sc.slopeMinus());
         }},
        {"TRIGger:LEVel?", "", "V or A", false,
         [](Ctx& x) { x.out = number(textValue(statusValue(x.s, "trigger_level"))); }},
        {"TRIGger:SLOPe", "POSitive|NEGative", "the trigger's slope", true,
         [](Ctx& x) {
             x.params(1, 1);
             auto& sc = x.s.scope();
             x.s.setTrigger(sc.triggerOn(), sc.triggerChannel(), textValue(statusValue(x.s, "trigger_level")),
                            x.choice(0, {"POSitive", "NEGative"}) == 1);
         }},
        {"TRIGger:SLOPe?", "", "POS or NEG", false,
         [](Ctx& x) { x.out = x.s.scope().slopeMinus() ? "NEG" : "POS"; }},
        {"CHANnel#:[DISPlay]", "ON|OFF", "channel <n> (1..4) shown and acquired", true,
         [](Ctx& x) {
             x.params(1, 1);
             x.s.setChannelOn(x.channel(), x.boolean(0));
         }},
        {"CHANnel#:[DISPlay]?", "", "1 or 0", false,
         [](Ctx& x) { x.out = x.s.scope().channelOn(x.channel()) ? "1" : "0"; }},
        {"CHANnel#:SOURce", "V|I|ICC[,A|B]", "what the channel probes (I: the coil current of output A or B)", true,
         [](Ctx& x) {
             x.params(1, 2);
             static const char* kNames[] = {"V", "I", "ICC"};
             const int src = x.choice(0, {"V", "I", "ICC"});
             const int out = x.count() == 2 ? x.choice(1, {"A", "B"}) : 0;
             x.s.setSource(x.channel(), kNames[src], out);
         }},
        {"CHANnel#:SOURce?", "", "V, I or ICC", false,
         [](Ctx& x) { x.out = statusValue(x.s, "ch" + std::to_string(x.channel() + 1) + "_source"); }},
        {"CHANnel#:OUTPut?", "", "the output probed, as the window names it", false,
         [](Ctx& x) { x.out = quoted(x.s.scope().outputText(x.channel())); }},
        {"CHANnel#:SCALe", "<V or A>|\"<text>\"", "value/div: 100 mV to 50 V, or 100 mA to 10 A", true,
         [](Ctx& x) {
             x.params(1, 1);
             const int ch = x.channel();
             const char* unit = x.s.scope().source(ch) == scope::Source::Voltage ? "V" : "A";
             const Param& p = x.at(0);
             x.s.setScale(ch, p.kind == Param::Kind::Number ? valueText(x.num(0, unit), unit) : p.text);
         }},
        {"CHANnel#:SCALe?", "", "value/div in V or A", false,
         [](Ctx& x) {
             x.out = number(textValue(statusValue(x.s, "ch" + std::to_string(x.channel() + 1) + "_scale")));
         }},

        // ---- measurements (a fresh sweep each)
        {"MEASure:MINimum?", "[CH<n>]", "minimum, V or A", false,
         [](Ctx& x) { measureFigure(x, &scope::Measurement::min); }},
        {"MEASure:MAXimum?", "[CH<n>]", "maximum", false, [](Ctx& x) { measureFigure(x, &scope::Measurement::max); }},
        {"MEASure:VPP?", "[CH<n>]", "peak to peak", false,
         [](Ctx& x) { measureFigure(x, &scope::Measurement::peakToPeak); }},
        {"MEASure:MEAN?", "[CH<n>]", "mean", false, [](Ctx& x) { measureFigure(x, &scope::Measurement::mean); }},
        {"MEASure:RMS?", "[CH<n>]", "RMS", false, [](Ctx& x) { measureFigure(x, &scope::Measurement::rms); }},
        {"MEASure:FREQuency?", "[CH<n>]", "frequency, Hz", false,
         [](Ctx& x) { measureFigure(x, &scope::Measurement::frequencyHz); }},
        {"MEASure:PERiod?", "[CH<n>]", "period, s", false,
         [](Ctx& x) {
             measureFigure(x, &scope::Measurement::periodUs);
             const double us = std::strtod(x.out.c_str(), nullptr);
             if (x.out != "9.91E+37") x.out = number(us * 1e-6);
         }},
        {"MEASure:IPEak?", "[CH<n>]", "peak coil current, A (current channels)", false,
         [](Ctx& x) { measureFigure(x, &scope::Measurement::peakCurrent); }},
        {"MEASure:IPEak:ERRor?", "[CH<n>]", "the peak current's error against Io, %", false,
         [](Ctx& x) { measureFigure(x, &scope::Measurement::peakErrorPercent); }},
        {"MEASure:STEP:ERRor?", "[CH<n>]", "the worst step level's error, % of Io", false,
         [](Ctx& x) { measureFigure(x, &scope::Measurement::stepErrorPercent); }},
        {"MEASure:ALL?", "[CH<n>]", "min, max, p-p, mean, RMS, frequency, period, Ipeak, its error, step error (9.91E+37: none)", false,
         [](Ctx& x) {
             x.params(0, 1);
             const int ch = x.count() ? x.channelParam(0) : 0;
             const auto m = x.s.measure(5000ms).figures[static_cast<std::size_t>(ch)];
             for (double v : {m.min, m.max, m.peakToPeak, m.mean, m.rms, m.frequencyHz, m.periodUs * 1e-6,
                              m.peakCurrent, m.peakErrorPercent, m.stepErrorPercent})
                 x.out += (x.out.empty() ? "" : ",") + number(v);
         }},

        // ---- waveforms
        {"DIGitize", "", "takes a fresh sweep of the four channels for WAVeform:DATA?", false,
         [](Ctx& x) {
             x.in.haveCapture_ = false;
             needCapture(x);
         }},
        {"WAVeform:SOURce", "CH1..CH4", "the channel WAVeform:DATA? sends", false,
         [](Ctx& x) {
             x.params(1, 1);
             x.in.waveSource_ = x.channelParam(0);
         }},
        {"WAVeform:SOURce?", "", "", false, [](Ctx& x) { x.out = "CH" + std::to_string(x.in.waveSource_ + 1); }},
        {"WAVeform:FORMat", "REAL|WORD", "REAL: float32 in V or A; WORD: int16, value = code x YINCrement + YORigin; little-endian", false,
         [](Ctx& x) {
             x.params(1, 1);
             x.in.waveWord_ = x.choice(0, {"REAL", "WORD"}) == 1;
         }},
        {"WAVeform:FORMat?", "", "", false, [](Ctx& x) { x.out = x.in.waveWord_ ? "WORD" : "REAL"; }},
        {"WAVeform:POINts?", "", "samples of the sweep", false,
         [](Ctx& x) {
             needCapture(x);
             x.out = std::to_string(x.in.capture_.ch[static_cast<std::size_t>(x.in.waveSource_)].values.size());
         }},
        {"WAVeform:PREamble?", "", "FORMat,POINts,XINCrement s,XORigin s,YINCrement,YORigin,\"unit\",\"source\",\"output\",sweep number", false,
         [](Ctx& x) {
             needCapture(x);
             const auto& c = x.in.capture_;
             const auto& ch = c.ch[static_cast<std::size_t>(x.in.waveSource_)];
             double peak = 0;
             for (double v : ch.values) peak = std::max(peak, std::fabs(v));
             const double yinc = x.in.waveWord_ ? (peak > 0 ? peak / 32000.0 : 1e-6) : 1.0;
             x.out = std::string(x.in.waveWord_ ? "WORD" : "REAL") + "," + std::to_string(ch.values.size()) + "," +
                     number(c.samplePeriod) + "," + number(c.t.empty() ? 0.0 : c.t.front()) + "," + number(yinc) +
                     ",0," + quoted(ch.unit) + "," + quoted(ch.source) + "," + quoted(ch.output) + "," +
                     std::to_string(c.index);
         }},
        {"WAVeform:DATA?", "", "the sweep DIGitize took (taking one when there is none) as a definite-length block #<n><length><bytes>", false,
         [](Ctx& x) {
             needCapture(x);
             const auto& ch = x.in.capture_.ch[static_cast<std::size_t>(x.in.waveSource_)];
             std::string bytes;
             if (x.in.waveWord_) {
                 double peak = 0;
                 for (double v : ch.values) peak = std::max(peak, std::fabs(v));
                 const double yinc = peak > 0 ? peak / 32000.0 : 1e-6;
                 bytes.reserve(ch.values.size() * 2);
                 for (double v : ch.values) {
                     const auto code = static_cast<std::int16_t>(std::lround(std::clamp(v / yinc, -32767.0, 32767.0)));
                     const auto u = static_cast<std::uint16_t>(code);
                     bytes += static_cast<char>(u & 0xFF);
                     bytes += static_cast<char>(u >> 8);
                 }
             } else {
                 bytes.reserve(ch.values.size() * 4);
                 for (double v : ch.values) {
                     const float f = static_cast<float>(v);
                     std::uint32_t u = 0;
                     std::memcpy(&u, &f, 4);
                     for (int k = 0; k < 4; ++k) bytes += static_cast<char>((u >> (8 * k)) & 0xFF);
                 }
             }
             const std::string len = std::to_string(bytes.size());
             x.out = "#" + std::to_string(len.size()) + len + bytes;
         }},
    };
    return t;
}

namespace {

const std::vector<std::pair<Pattern, const ScpiInstrument::Entry*>>& compiled()
{
    static const auto c = [] {
        std::vector<std::pair<Pattern, const ScpiInstrument::Entry*>> v;
        for (const auto& e : Handlers::table()) v.emplace_back(compile(e.pattern), &e);
        return v;
    }();
    return c;
}

const ScpiInstrument::Entry* find(const Command& cmd, const std::vector<Node>& path, int& suffix)
{
    for (const auto& [p, e] : compiled()) {
        if (p.common != cmd.common || p.query != cmd.query) continue;
        suffix = -1;
        if (matchFrom(p, 0, path, 0, suffix)) return e;
    }
    return nullptr;
}

} // namespace

ScpiInstrument::ScpiInstrument(engine::Session& session, Options options) : s_(session), o_(std::move(options))
{
    if (o_.identity.firmware.empty()) o_.identity.firmware = "0";
    const double f = s_.clock();
    if (f > 0) frequency_ = f;
}

void ScpiInstrument::pushError(ClientState& client, int code, const std::string& detail)
{
    std::string text = errorText(code);
    if (!detail.empty()) text += ";" + detail.substr(0, 200);
    if (code <= -100 && code > -200) client.esr |= 0x20;      // command error
    else if (code <= -200 && code > -300) client.esr |= 0x10; // execution error
    else if (code <= -300 && code > -400) client.esr |= 0x08; // device-specific error
    else if (code <= -400) client.esr |= 0x04;                // query error
    if (client.errors.size() >= kErrorQueueLength) {
        client.errors.back() = {-350, errorText(-350)};
        return;
    }
    if (client.errors.size() == kErrorQueueLength - 1) {
        client.errors.emplace_back(-350, errorText(-350));
        return;
    }
    client.errors.emplace_back(code, std::move(text));
}

std::uint8_t ScpiInstrument::statusByte(const ClientState& client)
{
    std::uint8_t stb = 0;
    if (!client.errors.empty()) stb |= 0x04;
    if (client.esr & client.ese) stb |= 0x20;
    if (stb & client.sre) stb |= 0x40;
    return stb;
}

std::filesystem::path ScpiInstrument::clientPath(const std::string& name) const
{
    // Only below the file folder: no absolute path, no way up.
    const std::filesystem::path p(name);
    if (name.empty() || p.is_absolute() || name.find('\0') != std::string::npos)
        throw ScpiError{-256, "give a file name below the server's file folder"};
    for (const auto& part : p)
        if (part == "..") throw ScpiError{-256, "give a file name below the server's file folder"};
    return o_.fileRoot / p;
}

bool ScpiInstrument::execute(ClientState& client, std::string_view line)
{
    client.line = parseLine(line);
    client.next = 0;
    client.response.clear();
    client.anyQuery = false;
    return resume(client);
}

bool ScpiInstrument::resume(ClientState& client)
{
    while (client.next < client.line.size()) {
        const Command& cmd = client.line[client.next];
        if (cmd.error != 0) {
            pushError(client, cmd.error, cmd.header.empty() ? std::string() : cmd.header);
            client.next = client.line.size();
            break;
        }
        // *OPC? and *WAI hold the line until the board has done.
        if (cmd.common && ((cmd.path[0].name == "OPC" && cmd.query) || cmd.path[0].name == "WAI") && busy()) {
            poll();
            if (busy()) return false;
        }
        run(client, cmd);
        ++client.next;
    }
    client.line.clear();
    client.next = 0;
    settleOpc(client);
    return true;
}

std::string ScpiInstrument::takeResponse(ClientState& client)
{
    if (!client.anyQuery) return {};
    std::string r = std::move(client.response);
    client.response.clear();
    client.anyQuery = false;
    return r + "\n";
}

void ScpiInstrument::run(ClientState& client, const Command& cmd)
{
    int suffix = -1;
    const Entry* e = find(cmd, cmd.path, suffix);
    if (!e && cmd.borrowed > 0) {
        // Not below the path of the command before: from the root.
        const std::vector<Node> own(cmd.path.begin() + static_cast<std::ptrdiff_t>(cmd.borrowed), cmd.path.end());
        e = find(cmd, own, suffix);
    }
    if (!e) {
        pushError(client, -113, cmd.header);
        return;
    }
    if (e->changes && lockHolder_ != 0 && lockHolder_ != client.id) {
        pushError(client, -203, "another client holds the lock (SYSTem:LOCK)");
        return;
    }
    Ctx x{*this, s_, client, cmd, suffix < 0 ? 1 : suffix, {}};
    try {
        e->fn(x);
        if (e->changes) {
            controller_ = client.id;
            haveCapture_ = false; // the settings of the sweep have changed
        }
        if (cmd.query) {
            if (client.anyQuery) client.response += ";";
            client.response += x.out;
            client.anyQuery = true;
        }
    } catch (const ScpiError& err) {
        pushError(client, err.code, err.detail);
    } catch (const engine::Interrupted& err) {
        pushError(client, -410, err.what());
    } catch (const std::invalid_argument& err) {
        pushError(client, -222, err.what());
    } catch (const engine::SessionError& err) {
        // The instrument's refusals, as the window words them; a board that is
        // gone is a hardware error.
        pushError(client, s_.isOpen() ? -221 : -240, err.what());
    } catch (const std::exception& err) {
        pushError(client, -200, err.what());
    }
}

void ScpiInstrument::poll()
{
    try {
        if (countedRun_ && s_.waitRun(0ms)) countedRun_ = false;
        if (countedSequence_ && (!s_.sequenceRunning() || s_.waitSequence(0ms))) countedSequence_ = false;
    } catch (const std::exception& err) {
        countedRun_ = countedSequence_ = false;
        if (o_.log) o_.log(std::string("board: ") + err.what());
    }
}

void ScpiInstrument::settleOpc(ClientState& client)
{
    if (client.opcArmed && !busy()) {
        client.esr |= 0x01;
        client.opcArmed = false;
    }
}

void ScpiInstrument::clientGone(ClientState& client)
{
    const bool held = lockHolder_ == client.id;
    if (held) lockHolder_ = 0;
    if (controller_ != client.id) return;
    controller_ = 0;
    if (o_.onDisconnect == DisconnectPolicy::Keep) {
        if (o_.log) o_.log("controlling client " + std::to_string(client.id) + " gone: board kept as it is");
        return;
    }
    try {
        if (s_.sequenceRunning()) s_.stopSequence();
        s_.stop();
        countedRun_ = countedSequence_ = false;
        if (o_.onDisconnect == DisconnectPolicy::Off && s_.poweredOn()) s_.powerOff();
        if (o_.log)
            o_.log("controlling client " + std::to_string(client.id) + " gone: clock stopped" +
                   (o_.onDisconnect == DisconnectPolicy::Off ? ", power off" : ""));
    } catch (const std::exception& err) {
        if (o_.log) o_.log(std::string("after client gone: ") + err.what());
    }
}

void ScpiInstrument::shutdown()
{
    try {
        if (s_.sequenceRunning()) s_.stopSequence();
        s_.stop();
        if (s_.poweredOn()) s_.powerOff();
    } catch (const std::exception& err) {
        if (o_.log) o_.log(std::string("shutdown: ") + err.what());
    }
    countedRun_ = countedSequence_ = false;
}

std::string ScpiInstrument::treeMarkdown()
{
    std::string md = "| Command | Parameters | Does | Locked |\n|---|---|---|---|\n";
    for (const auto& e : Handlers::table()) {
        std::string params = e.params;
        std::string what = e.what;
        for (auto* s : {&params, &what}) {
            std::string esc;
            for (char c : *s) {
                if (c == '|') esc += "\\|";
                else esc += c;
            }
            *s = esc;
        }
        md += "| `" + displayPattern(e.pattern) + "` | " + (params.empty() ? "" : "`" + params + "`") + " | " + what +
              " | " + (e.changes ? "yes" : "") + " |\n";
    }
    return md;
}

} // namespace zelbo::server
