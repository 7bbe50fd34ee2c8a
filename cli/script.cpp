#include "cli/script.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "drive/clock.h"
#include "drive/column.h"
#include "drive/pins.h"
#include "scope/analysis/math_expression.h"
#include "scope/analysis/frequency_analysis.h"
#include "scope/scope_tables.h"

namespace zelbo::cli {

std::string Command::text() const
{
    std::string s;
    for (const auto& w : words) {
        if (!s.empty()) s += ' ';
        s += w;
    }
    return s;
}

ParseResult parseScript(std::string_view text)
{
    ParseResult r;
    if (text.size() > kMaxScriptBytes) {
        r.error = "script too long (over 1 MiB)";
        return r;
    }
    Command current;
    std::string word;
    bool inWord = false, quoted = false;
    int line = 1;
    auto endWord = [&] {
        if (inWord) current.words.push_back(std::move(word));
        word.clear();
        inWord = false;
    };
    auto endCommand = [&] {
        endWord();
        if (!current.words.empty()) r.commands.push_back(std::move(current));
        current = Command{};
        current.line = line;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') {
            r.error = "line " + std::to_string(line) + ": NUL byte in the script";
            return r;
        }
        if (quoted) {
            if (c == '"') quoted = false;
            else if (c == '\n') {
                r.error = "line " + std::to_string(line) + ": unterminated quote";
                return r;
            } else word += c;
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == '#') {
            while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
        } else if (c == '\n' || c == ';') {
            endCommand();
            if (c == '\n') current.line = ++line;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            endWord();
        } else {
            word += c;
            inWord = true;
        }
        if (word.size() > kMaxWordBytes) {
            r.error = "line " + std::to_string(line) + ": word too long";
            return r;
        }
    }
    if (quoted) {
        r.error = "line " + std::to_string(line) + ": unterminated quote";
        return r;
    }
    endCommand();
    return r;
}

std::optional<double> parseNumber(std::string_view text)
{
    if (text.empty() || text.size() > 64) return std::nullopt;
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> parseFrequency(std::string_view text)
{
    std::string s(text.substr(0, std::min<std::size_t>(text.size(), 64)));
    if (s.size() != text.size()) return std::nullopt;
    double scale = 1.0;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.size() >= 2 && (s.ends_with("Hz") || s.ends_with("hz"))) s.resize(s.size() - 2);
    if (!s.empty() && (s.back() == 'k' || s.back() == 'K')) {
        scale = 1e3;
        s.pop_back();
    } else if (!s.empty() && s.back() == 'M') {
        scale = 1e6;
        s.pop_back();
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    const auto v = parseNumber(s);
    if (!v || *v <= 0) return std::nullopt;
    return *v * scale;
}

namespace {

CheckResult bad(const Command& c, const std::string& why)
{
    return {std::nullopt, "line " + std::to_string(c.line) + ": \"" + c.text() + "\": " + why};
}

CheckResult ok(Step s) { return {std::move(s), {}}; }

} // namespace

CheckResult checkCommand(const Command& c)
{
    const auto& w = c.words;
    const std::size_t n = w.size();
    if (n == 0) return bad(c, "empty command");
    const std::string& verb = w[0];
    Step s;
    if (verb == "power") {
        if ((n == 2 || (n == 3 && w[2] == "--no-clock")) && w[1] == "on") {
            s.kind = Step::Kind::PowerOn;
            s.high = n == 2;
        } else if (n == 2 && w[1] == "off") {
            s.kind = Step::Kind::PowerOff;
        } else {
            return bad(c, "use \"power on [--no-clock]\" or \"power off\"");
        }
        return ok(s);
    }
    if (verb == "set") {
        if (n < 3) return bad(c, "use \"set vref|mth|rnf|vdut VALUE\", \"set pin NAME 0|1\" or \"set mode NAME\"");
        const std::string& what = w[1];
        if (what == "pin") {
            if (n != 4 || (w[3] != "0" && w[3] != "1")) return bad(c, "use \"set pin NAME 0|1\"");
            if (!drive::pinByName(w[2])) return bad(c, "unknown pin \"" + w[2] + "\" (ps, enable, mode0, mode1, cw)");
            s.kind = Step::Kind::SetPin;
            s.name = w[2];
            s.high = w[3] == "1";
            return ok(s);
        }
        // The oscilloscope's texts may hold a blank ("2.5 ms"): the rest of the words.
        auto rest = [&w, n](std::size_t from) {
            std::string t;
            for (std::size_t i = from; i < n; ++i) t += (i > from ? " " : "") + w[i];
            return t;
        };
        auto channelWord = [](const std::string& t) { return t.size() == 1 && t[0] >= '1' && t[0] <= '4'; };
        if (what == "timebase" || what == "rate") {
            s.kind = what == "timebase" ? Step::Kind::SetTimeBase : Step::Kind::SetRate;
            s.name = rest(2);
            const int i = what == "timebase" ? scope::indexOfText(scope::kTimeBases, s.name)
                                             : scope::indexOfText(scope::kSampleRates, s.name);
            if (i < 0 || (what == "timebase" && i > scope::kMaxUsableTimeBase))
                return bad(c, what == "timebase" ? "the time base is 500 ns to 50 ms as the window lists it"
                                                 : "the sampling rate is 2.5 kHz to 10 MHz as the window lists it");
            return ok(s);
        }
        if (what == "chip") {
            s.kind = Step::Kind::SetChip;
            s.name = rest(2); // a name with blanks as the list writes it
            return ok(s);
        }
        if (what == "stoplevel") {
            if (n != 3 || (w[2] != "L" && w[2] != "H")) return bad(c, "use \"set stoplevel L|H\"");
            s.kind = Step::Kind::SetStopLevel;
            s.high = w[2] == "H";
            return ok(s);
        }
        if (what == "channel") {
            if (n != 4 || !channelWord(w[2]) || (w[3] != "on" && w[3] != "off"))
                return bad(c, "use \"set channel 1..4 on|off\"");
            s.kind = Step::Kind::SetChannel;
            s.channel = w[2][0] - '1';
            s.high = w[3] == "on";
            return ok(s);
        }
        if (what == "scale") {
            s.kind = Step::Kind::SetScale;
            s.name = n >= 4 ? rest(3) : std::string();
            if (n < 4 || !channelWord(w[2]) ||
                (scope::indexOfText(scope::kVoltScales, s.name) < 0 && scope::indexOfText(scope::kCurrentScales, s.name) < 0))
                return bad(c, "use \"set scale 1..4 VALUE/DIV\" (100 mV .. 50 V, 100 mA .. 10 A)");
            s.channel = w[2][0] - '1';
            return ok(s);
        }
        if (what == "trigger") {
            s.kind = Step::Kind::SetTrigger;
            if (n == 3 && w[2] == "off") return ok(s);
            const char* use = "use \"set trigger off\" or \"set trigger 1..4 LEVEL [+|-]\" (LEVEL in V or A)";
            if (n < 4 || n > 5 || !channelWord(w[2])) return bad(c, use);
            const auto level = parseNumber(w[3]);
            if (!level || std::fabs(*level) > scope::kVoltLevelTop) return bad(c, use);
            if (n == 5 && w[4] != "+" && w[4] != "-") return bad(c, use);
            s.high = true;
            s.channel = w[2][0] - '1';
            s.value = *level;
            s.falling = n == 5 && w[4] == "-";
            return ok(s);
        }
        if (what == "triggermode") {
            if (n != 3 || (w[2] != "auto" && w[2] != "normal" && w[2] != "single"))
                return bad(c, "use \"set triggermode auto|normal|single\"");
            s.kind = Step::Kind::SetTriggerMode;
            s.name = w[2];
            return ok(s);
        }
        if (what == "holdoff") {
            const auto ms = n == 3 ? parseNumber(w[2]) : std::nullopt;
            if (!ms || !(*ms >= 0 && *ms <= scope::kMaxHoldoffMs)) return bad(c, "use \"set holdoff MS\" (0 .. 10000)");
            s.kind = Step::Kind::SetHoldoff;
            s.value = *ms;
            return ok(s);
        }
        if (what == "source") {
            // set source 1..4 V|I|ICC [A|B]
            const char* use = "use \"set source 1..4 V|I|ICC [A|B]\"";
            if (n < 4 || n > 5 || w[2].size() != 1 || w[2][0] < '1' || w[2][0] > '4') return bad(c, use);
            if (w[3] != "V" && w[3] != "I" && w[3] != "ICC") return bad(c, use);
            if (n == 5 && w[4] != "A" && w[4] != "B") return bad(c, use);
            s.kind = Step::Kind::SetSource;
            s.channel = w[2][0] - '1';
            s.name = w[3];
            s.output = n == 5 && w[4] == "B" ? 1 : 0;
            return ok(s);
        }
        if (what == "output") {
            if (n != 4 || !channelWord(w[2]) || (w[3] != "A" && w[3] != "B"))
                return bad(c, "use \"set output 1..4 A|B\" (the coil-current output a channel probes)");
            s.kind = Step::Kind::SetOutput;
            s.channel = w[2][0] - '1';
            s.output = w[3] == "B" ? 1 : 0;
            return ok(s);
        }
        if (what == "math") {
            // set math 1|2 EXPRESSION...|off; the words after the number are
            // the expression, so it needs no quotes.
            const char* use = "use \"set math 1|2 EXPRESSION\" or \"set math 1|2 off\"";
            if (n < 4 || (w[2] != "1" && w[2] != "2")) return bad(c, use);
            s.kind = Step::Kind::SetMath;
            s.channel = w[2][0] - '1';
            if (n == 4 && w[3] == "off") return ok(s);
            for (std::size_t i = 3; i < n; ++i) s.name += (i > 3 ? " " : "") + w[i];
            // The channels' units are known only when it runs: refused here
            // only when no choice of V and A for them would take it.
            std::string error;
            for (unsigned units = 0; units < 16; ++units) {
                std::array<scope::analysis::Unit, scope::kChannels> u{};
                for (unsigned k = 0; k < u.size(); ++k)
                    u[k] = (units >> k) & 1 ? scope::analysis::Unit{0, 1} : scope::analysis::Unit{1, 0};
                std::string e;
                if (scope::analysis::MathExpression::parse(s.name, u, &e)) return ok(s);
                if (units == 0) error = e;
            }
            return bad(c, error);
        }
        if (what == "mode") {
            if (n != 3 || !drive::excitationByName(w[2])) return bad(c, "use \"set mode full|half-a|half-b|quarter\"");
            s.kind = Step::Kind::SetMode;
            s.name = w[2];
            return ok(s);
        }
        if (n != 3) return bad(c, "one value expected");
        const auto v = parseNumber(w[2]);
        if (!v) return bad(c, "\"" + w[2] + "\" is not a number");
        s.value = *v;
        std::string range;
        if (what == "vref") {
            s.kind = Step::Kind::SetVref;
            range = drive::rangeError(drive::ColumnId::Vref, s.value);
        } else if (what == "mth") {
            s.kind = Step::Kind::SetMth;
            range = drive::rangeError(drive::ColumnId::Mth, s.value);
        } else if (what == "rnf") {
            s.kind = Step::Kind::SetRnf;
            if (s.value < 0.01 - 1e-9 || s.value > 1.0 + 1e-9) range = "RNF is 0.01 to 1 ohm";
        } else if (what == "duty") {
            s.kind = Step::Kind::SetDuty;
            if (s.value < 1.0 || s.value > 100.0) range = "the duty is 1 to 100 %";
        } else if (what == "vdut") {
            s.kind = Step::Kind::SetVdut;
            if (std::fabs(s.value - 3.3) > 1e-6 && std::fabs(s.value - 5.0) > 1e-6) range = "VDUT is 3.3 or 5.0 V";
        } else {
            return bad(c, "unknown setting \"" + what + "\"");
        }
        if (!range.empty()) return bad(c, range);
        return ok(s);
    }
    if (verb == "run") {
        s.kind = Step::Kind::Run;
        bool haveFreq = false;
        for (std::size_t i = 1; i < n; ++i) {
            if ((w[i] == "--freq" || w[i] == "--steps") && i + 1 >= n) return bad(c, w[i] + " needs a value");
            if (w[i] == "--freq") {
                const auto f = parseFrequency(w[++i]);
                if (!f) return bad(c, "\"" + w[i] + "\" is not a frequency");
                if (std::string why = drive::rangeError(drive::ColumnId::Clk, *f); !why.empty()) return bad(c, why);
                s.value = *f;
                haveFreq = true;
            } else if (w[i] == "--steps") {
                const auto v = parseNumber(w[++i]);
                if (!v || *v != std::floor(*v) || *v < 1 || *v > static_cast<double>(drive::kMaxCountedSteps))
                    return bad(c, "steps must be a whole number 1 to " + std::to_string(drive::kMaxCountedSteps));
                s.steps = static_cast<long long>(*v);
            } else {
                return bad(c, "unknown option \"" + w[i] + "\"");
            }
        }
        if (!haveFreq) return bad(c, "use \"run --freq F [--steps N]\"");
        return ok(s);
    }
    if (verb == "stop" || verb == "calibrate" || verb == "temp" || verb == "measure") {
        if (n != 1) return bad(c, "takes no arguments");
        s.kind = verb == "stop"        ? Step::Kind::Stop
                 : verb == "temp"      ? Step::Kind::Temp
                 : verb == "calibrate" ? Step::Kind::Calibrate
                                       : Step::Kind::Measure;
        return ok(s);
    }
    if (verb == "spectrum") {
        // spectrum CH1..CH4|M1|M2 [--window W] [--harmonics N] [--out FILE.csv]
        const char* use = "use \"spectrum CH1..CH4|M1|M2 [--window hann|flat-top|rectangular] [--harmonics 2..1000]"
                          " [--out FILE.csv]\"";
        if (n < 2) return bad(c, use);
        std::string ch;
        for (char x : w[1]) ch += static_cast<char>(std::toupper(static_cast<unsigned char>(x)));
        if (ch != "CH1" && ch != "CH2" && ch != "CH3" && ch != "CH4" && ch != "M1" && ch != "M2") return bad(c, use);
        s.kind = Step::Kind::Spectrum;
        s.name = ch;
        for (std::size_t i = 2; i < n; ++i) {
            if (i + 1 >= n) return bad(c, use);
            if (w[i] == "--window") {
                if (!scope::analysis::windowFromName(w[++i])) return bad(c, "the window is hann, flat-top or rectangular");
                s.window = w[i];
            } else if (w[i] == "--harmonics") {
                const auto v = parseNumber(w[++i]);
                if (!v || *v != std::floor(*v) || *v < 2 || *v > 1000)
                    return bad(c, "harmonics must be a whole number 2 to 1000");
                s.harmonics = static_cast<int>(*v);
            } else if (w[i] == "--out") {
                s.file = w[++i];
            } else {
                return bad(c, use);
            }
        }
        return ok(s);
    }
    if (verb == "capture") {
        if (n != 3 || w[1] != "--out") return bad(c, "use \"capture --out FILE.csv\"");
        s.kind = Step::Kind::Capture;
        s.name = w[2];
        return ok(s);
    }
    if (verb == "load" || verb == "save") {
        if (n != 2) return bad(c, "use \"" + verb + " FILE.set\"");
        s.kind = verb == "load" ? Step::Kind::Load : Step::Kind::Save;
        s.name = w[1];
        return ok(s);
    }
    if (verb == "sequence") {
        s.kind = Step::Kind::Sequence;
        auto whole = [](const std::string& t, int lo, int hi) -> std::optional<int> {
            const auto v = parseNumber(t);
            if (!v || *v != std::floor(*v) || *v < lo || *v > hi) return std::nullopt;
            return static_cast<int>(*v);
        };
        for (std::size_t i = 1; i < n; ++i) {
            if ((w[i] == "--cycles" || w[i] == "--delay") && i + 1 >= n) return bad(c, w[i] + " needs a value");
            if (w[i] == "--cycles") {
                const auto v = whole(w[++i], 1, 99);
                if (!v) return bad(c, "cycles must be a whole number 1 to 99");
                s.cycles = *v;
            } else if (w[i] == "--endless") {
                s.cycles = 0;
            } else if (w[i] == "--delay") {
                const auto v = whole(w[++i], 0, 60000);
                if (!v) return bad(c, "the delay must be a whole number of milliseconds 0 to 60000");
                s.delayMs = *v;
            } else if (w[i].size() > 1 && w[i][0] == '-' && w[i][1] == '-') {
                return bad(c, "unknown option \"" + w[i] + "\"");
            } else if (s.name.empty()) {
                s.name = w[i];
            } else {
                return bad(c, "one file expected");
            }
        }
        if (s.name.empty()) return bad(c, "use \"sequence FILE.csv [--cycles N | --endless] [--delay MS]\"");
        return ok(s);
    }
    if (verb == "record") {
        // record FILE.zrec --seconds S [--max-mb M]
        s.kind = Step::Kind::Record;
        bool haveSeconds = false;
        for (std::size_t i = 1; i < n; ++i) {
            if ((w[i] == "--seconds" || w[i] == "--max-mb") && i + 1 >= n) return bad(c, w[i] + " needs a value");
            if (w[i] == "--seconds") {
                const auto v = parseNumber(w[++i]);
                if (!v || *v < 0.1 || *v > 86400) return bad(c, "a recording lasts 0.1 to 86400 seconds");
                s.value = *v;
                haveSeconds = true;
            } else if (w[i] == "--max-mb") {
                const auto v = parseNumber(w[++i]);
                if (!v || *v < 0 || *v > 1e7) return bad(c, "--max-mb is 0 (any size) to 10000000 MB");
                s.maxMegabytes = *v;
            } else if (w[i].size() > 1 && w[i][0] == '-' && w[i][1] == '-') {
                return bad(c, "unknown option \"" + w[i] + "\"");
            } else if (s.name.empty()) {
                s.name = w[i];
            } else {
                return bad(c, "one file expected");
            }
        }
        if (s.name.empty() || !haveSeconds) return bad(c, "use \"record FILE.zrec --seconds S [--max-mb M]\"");
        return ok(s);
    }
    if (verb == "convert") {
        if (n != 3) return bad(c, "use \"convert IN.zrec OUT.csv\"");
        s.kind = Step::Kind::Convert;
        s.name = w[1];
        s.target = w[2];
        return ok(s);
    }
    if (verb == "list") {
        if (n != 1) return bad(c, "takes no arguments");
        s.kind = Step::Kind::List;
        return ok(s);
    }
    if (verb == "get") {
        if (n != 2) return bad(c, "use \"get NAME\" (a name \"status\" lists)");
        s.kind = Step::Kind::Get;
        s.name = w[1];
        return ok(s);
    }
    if (verb == "status") {
        if (n != 1) return bad(c, "takes no arguments");
        s.kind = Step::Kind::Status;
        return ok(s);
    }
    if (verb == "sleep") {
        const auto v = n == 2 ? parseNumber(w[1]) : std::nullopt;
        if (!v || *v < 0 || *v > 86400) return bad(c, "use \"sleep SECONDS\" (0 to 86400)");
        s.kind = Step::Kind::Sleep;
        s.value = *v;
        return ok(s);
    }
    return bad(c, "unknown command \"" + verb + "\"");
}

const char* usageText()
{
    return "Usage: zelbo-cli [--board sim|usb|usb:SERIAL] [--json] [--log-level LEVEL] [-c COMMAND]... [-f FILE | -] [COMMAND...]\n"
           "Brings the evaluation board up once and runs the commands in order.\n"
           "Commands are separated by ';' or newlines; '#' starts a comment.\n"
           "\n"
           "  power on [--no-clock] | power off  (--no-clock: the step clock stays stopped)\n"
           "  set vref VOLTS | set mth VOLTS | set rnf OHMS | set vdut 3.3|5.0\n"
           "  set pin ps|enable|mode0|mode1|cw 0|1\n"
           "  set mode full|half-a|half-b|quarter\n"
           "  set duty PERCENT (1..100) | set stoplevel L|H  (the clock's duty; its level after a counted run)\n"
           "  set chip NAME              (from the data folder's chip list; its A and B convert Tj)\n"
           "  set source 1..4 V|I|ICC [A|B]  (what a channel probes; I: the coil current of output A or B)\n"
           "  set timebase TEXT | set rate TEXT  (SEC/DIV 500 ns .. 50 ms, sampling 2.5 kHz .. 10 MHz)\n"
           "  set channel 1..4 on|off | set scale 1..4 VALUE/DIV\n"
           "  set output 1..4 A|B        (the output a coil-current channel probes)\n"
           "  set trigger off | set trigger 1..4 LEVEL [+|-]  (LEVEL in the channel's V or A)\n"
           "  set triggermode auto|normal|single | set holdoff MS  (single: one sweep, then stop)\n"
           "  set math 1|2 EXPRESSION | set math 1|2 off  (a math channel over CH1..CH4 and constants:\n"
           "                             CH1 * CH3 in W, CH2 / 0.2 ohm in A, (CH1 - CH2) * 0.5 in V)\n"
           "  get NAME | status          (settings read back; status lists every NAME)\n"
           "  run --freq F [--steps N]   (F as 2k, 500, 1.5k, 0.01 Hz to 100 kHz as the generator makes it;\n"
           "                             N steps, waits for the end)\n"
           "  stop\n"
           "  capture --out FILE.csv     (one sweep of the four channels)\n"
           "  record FILE.zrec --seconds S [--max-mb M]\n"
           "                             (every sweep of the shown channels for S seconds, as the window records)\n"
           "  convert IN.zrec OUT.csv    (a recording as CSV, one row per sample; needs no board)\n"
           "  list                       (the boards attached: USB path, serial, id, node; needs no board)\n"
           "  load FILE.set | save FILE.set\n"
           "  sequence FILE.csv [--cycles N | --endless] [--delay MS]\n"
           "                             (a dynamic sequence, N 1..99 cycles, waits for the end;\n"
           "                             endless runs until the next command or the end)\n"
           "  calibrate                  (oscilloscope offsets; saved to init.clb)\n"
           "  measure                    (the measurement strip's figures of a fresh sweep, per channel\n"
           "                             and math channel)\n"
           "  spectrum CH1..CH4|M1|M2 [--window hann|flat-top|rectangular] [--harmonics N] [--out FILE.csv]\n"
           "                             (THD and harmonics of a fresh sweep; a coil current's fundamental is\n"
           "                             the step clock over the mode's steps per cycle; --out: the bins)\n"
           "  temp | sleep SECONDS\n"
           "\n"
           "Campaigns (alone on the line, after the options):\n"
           "  campaign PLAN.toml [--db OUT.sqlite] [--resume] [--chamber-port PORT]\n"
           "                             (a characterisation plan, each point committed to the database;\n"
           "                             --resume continues at the first point not in it; Ctrl-C stops\n"
           "                             after the point under way, a second one at once)\n"
           "  report RESULTS.sqlite [-o REPORT.html]  (one self-contained HTML file)\n"
           "\n"
           "Options:\n"
           "  --board sim|usb  the simulated board or a real one (default usb)\n"
           "  --board usb:SERIAL  the real board with this serial number or USB path (see \"list\")\n"
           "  --json           one JSON object per command on standard output\n"
           "  --log-level LEVEL  what goes to standard error besides the commands' own\n"
           "                   messages: error, warning (default), info or debug (or ZELBO_LOG)\n"
           "  -c COMMAND       a command (repeatable)\n"
           "  -f FILE          commands from FILE; '-' reads standard input\n"
           "  --help           this text\n"
           "\n"
           "Exit codes: 0 done, 1 a command failed, 2 usage error, 3 no board.\n";
}

} // namespace zelbo::cli
