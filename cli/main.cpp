// zelbo-cli: the evaluation board from the shell. One invocation brings the
// board up once, runs its commands in order and shuts the board down.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/campaign_command.h"
#include "cli/script.h"
#include "common/json_text.h"
#include "common/log.h"
#include "common/number_text.h"
#include "engine/attached_boards.h"
#include "engine/session.h"
#include "common/atomic_file.h"
#include "scope/record/recording_csv.h"

namespace {

using namespace std::chrono_literals;
using zelbo::cli::Step;

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kNoBoard = 3 };

// SIGINT / SIGTERM: the handler only notes the signal; the session's waits
// poll it, and the board is powered off and shut down before the exit.
volatile std::sig_atomic_t g_signal = 0;

extern "C" void noteSignal(int sig) { g_signal = sig; }

void catchSignals()
{
    struct sigaction sa {};
    sa.sa_handler = noteSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

void throwIfSignalled()
{
    if (g_signal != 0) throw zelbo::engine::Interrupted("Interrupted.");
}

using zelbo::jsonString;

// A value for JSON: as many digits as it takes to read it back.
std::string number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

void writeCsv(const zelbo::engine::Capture& c, const std::string& path)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out) throw zelbo::engine::SessionError("Cannot write \"" + path + "\".");
        out << "t [s]";
        for (std::size_t k = 0; k < c.ch.size(); ++k)
            out << ",CH" << k + 1 << " " << c.ch[k].output << " [" << c.ch[k].unit << "]";
        // The math channels that are on follow, with their unit.
        for (std::size_t m = 0; m < c.math.size(); ++m)
            if (c.math[m] && c.math[m]->error.empty()) out << ",M" << m + 1 << " [" << c.math[m]->unit << "]";
        out << '\n';
        char buf[64];
        for (std::size_t i = 0; i < c.t.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%.9g", c.t[i]);
            out << buf;
            for (const auto& ch : c.ch) {
                std::snprintf(buf, sizeof buf, ",%.6g", i < ch.values.size() ? ch.values[i] : 0.0);
                out << buf;
            }
            for (const auto& m : c.math) {
                if (!m || !m->error.empty()) continue;
                std::snprintf(buf, sizeof buf, ",%.6g", i < m->values.size() ? m->values[i] : std::nan(""));
                out << buf;
            }
            out << '\n';
        }
        out.flush();
        if (!out) throw zelbo::engine::SessionError("Cannot write \"" + path + "\".");
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw zelbo::engine::SessionError("Cannot write \"" + path + "\".");
    }
}

// A recording as CSV (no board needed); the JSON members of the result.
std::string convertRecording(const Step& step)
{
    const auto r = zelbo::scope::recording::convertToCsv(step.name, step.target);
    if (!r.ok) throw zelbo::engine::SessionError(r.error);
    return ",\"file\":" + jsonString(step.target) + ",\"sweeps\":" + std::to_string(r.sweeps);
}

// The boards on the bus, one line each (USB path, serial or "-", USB id,
// device node); nothing is opened. The JSON members of the result.
std::string listBoards(bool json)
{
    std::string j = ",\"boards\":[";
    const auto boards = zelbo::engine::attachedBoards();
    for (std::size_t i = 0; i < boards.size(); ++i) {
        const auto& b = boards[i];
        j += (i == 0 ? "{\"path\":" : ",{\"path\":") + jsonString(b.path) + ",\"serial\":" + jsonString(b.serial) +
             ",\"id\":" + jsonString(b.id) + ",\"node\":" + jsonString(b.node) + "}";
        if (!json) std::cout << b.path << "  " << (b.serial.empty() ? "-" : b.serial) << "  " << b.id << "  " << b.node << "\n";
    }
    if (!json && boards.empty()) std::cerr << "zelbo-cli: no board is attached\n";
    return j + "]";
}

// The steps that need no board: conversions and the list of boards.
bool boardless(const Step& step)
{
    return step.kind == Step::Kind::Convert || step.kind == Step::Kind::List;
}
std::string runBoardless(const Step& step, bool json)
{
    return step.kind == Step::Kind::List ? listBoards(json) : convertRecording(step);
}

// Runs one step; returns the result's JSON members (without braces).
std::string runStep(zelbo::engine::Session& s, const Step& step, bool json)
{
    std::ostringstream j;
    switch (step.kind) {
    case Step::Kind::PowerOn: s.powerOn(step.high); break;
    case Step::Kind::SetDuty: j << ",\"applied\":" << s.setDuty(step.value); break;
    case Step::Kind::SetStopLevel: s.setStopHigh(step.high); break;
    case Step::Kind::SetChip: j << ",\"applied\":" << jsonString(s.selectChip(step.name)); break;
    case Step::Kind::PowerOff: s.powerOff(); break;
    case Step::Kind::SetVref: j << ",\"applied\":" << number(s.setVref(step.value)); break;
    case Step::Kind::SetMth: j << ",\"applied\":" << number(s.setMth(step.value)); break;
    case Step::Kind::SetRnf: s.setRnf(step.value); break;
    case Step::Kind::SetVdut: s.setVdut(step.value); break;
    case Step::Kind::SetPin: s.setPin(step.name, step.high); break;
    case Step::Kind::SetMode: s.setMode(step.name); break;
    case Step::Kind::SetSource: s.setSource(step.channel, step.name, step.output); break;
    case Step::Kind::SetTimeBase: j << ",\"applied\":" << jsonString(s.setTimeBase(step.name)); break;
    case Step::Kind::SetRate: j << ",\"applied\":" << jsonString(s.setSamplingRate(step.name)); break;
    case Step::Kind::SetChannel: s.setChannelOn(step.channel, step.high); break;
    case Step::Kind::SetScale: j << ",\"applied\":" << jsonString(s.setScale(step.channel, step.name)); break;
    case Step::Kind::SetTrigger:
        if (step.high) j << ",\"applied\":" << number(s.setTrigger(true, step.channel, step.value, step.falling));
        else s.setTrigger(false, s.scope().triggerChannel(), 0.0, s.scope().slopeMinus());
        break;
    case Step::Kind::SetTriggerMode: j << ",\"applied\":" << jsonString(s.setTriggerMode(step.name)); break;
    case Step::Kind::SetHoldoff: j << ",\"applied\":" << number(s.setHoldoff(step.value)); break;
    case Step::Kind::Get:
    case Step::Kind::Status: {
        bool found = false;
        for (const auto& [name, value] : s.status()) {
            if (step.kind == Step::Kind::Get && name != step.name) continue;
            found = true;
            j << "," << jsonString(name) << ":" << jsonString(value);
            if (!json) std::cout << (step.kind == Step::Kind::Status ? name + " " : std::string()) << value << "\n";
        }
        if (!found) throw std::invalid_argument("Unknown setting \"" + step.name + "\": \"status\" lists them.");
        break;
    }
    case Step::Kind::Run:
        j << ",\"applied\":" << number(s.run(step.value, step.steps));
        if (step.steps) {
            // 1.5 times the run's length, with room for the chaining.
            const auto budget = std::chrono::milliseconds(static_cast<long long>(
                std::min(2000 + 1500.0 * static_cast<double>(*step.steps) / std::max(step.value, 0.01) +
                             50.0 * static_cast<double>(*step.steps / 255),
                         8.64e9)));
            if (!s.waitRun(budget)) throw zelbo::engine::SessionError("The counted run did not end in time.");
        }
        break;
    case Step::Kind::Stop: s.stop(); break;
    case Step::Kind::SetOutput: j << ",\"applied\":" << jsonString(s.setOutput(step.channel, step.output)); break;
    case Step::Kind::Record: {
        const auto st = s.record(step.name, step.value,
                                 static_cast<std::uint64_t>(step.maxMegabytes * 1024.0 * 1024.0));
        j << ",\"file\":" << jsonString(step.name) << ",\"sweeps\":" << st.sweeps << ",\"bytes\":" << st.bytesWritten
          << ",\"first\":" << st.firstSweep << ",\"last\":" << st.lastSweep;
        if (!json) std::cout << st.sweeps << " sweeps, " << st.bytesWritten << " bytes in " << step.name << "\n";
        break;
    }
    case Step::Kind::Convert:
    case Step::Kind::List:
        j << runBoardless(step, json);
        break;
    case Step::Kind::Capture: {
        const auto c = s.capture(5000ms);
        writeCsv(c, step.name);
        j << ",\"file\":" << jsonString(step.name) << ",\"samples\":" << c.t.size() << ",\"channels\":" << c.ch.size();
        std::cout.flush();
        break;
    }
    case Step::Kind::Load: s.loadSettings(step.name); break;
    case Step::Kind::Save: s.saveSettings(step.name); break;
    case Step::Kind::Calibrate: {
        s.calibrate();
        const auto& o = s.calibrationOffsets();
        auto list = [&j](const char* name, const std::array<double, 4>& v) {
            char buf[32];
            j << ",\"" << name << "\":[";
            for (std::size_t k = 0; k < v.size(); ++k) {
                std::snprintf(buf, sizeof buf, "%.6g", v[k]);
                j << (k ? "," : "") << buf;
            }
            j << "]";
        };
        list("voltage", o.voltage);
        list("current", o.current);
        list("icc", o.icc);
        break;
    }
    case Step::Kind::Sequence: {
        zelbo::engine::SequenceOptions so;
        so.cycles = step.cycles;
        so.repeatDelayMs = step.delayMs;
        s.runSequenceFile(step.name, so);
        if (step.cycles != 0) {
            const auto budget = s.sequenceLength() * 3 / 2 + std::chrono::seconds(10);
            if (!s.waitSequence(budget)) throw zelbo::engine::SessionError("The sequence did not end in time.");
        }
        j << ",\"file\":" << jsonString(step.name) << ",\"cycles\":" << step.cycles;
        break;
    }
    case Step::Kind::Measure: {
        const auto c = s.measure(5000ms);
        auto figure = [](double v) { return std::isfinite(v) ? number(v) : std::string("null"); };
        j << ",\"index\":" << c.index << ",\"channels\":[";
        for (std::size_t k = 0; k < c.ch.size(); ++k) {
            const auto& m = c.figures[k];
            j << (k ? "," : "") << "{\"channel\":" << k + 1 << ",\"source\":" << jsonString(c.ch[k].source)
              << ",\"output\":" << jsonString(c.ch[k].output) << ",\"unit\":" << jsonString(c.ch[k].unit)
              << ",\"samples\":" << m.samples << ",\"min\":" << figure(m.min) << ",\"max\":" << figure(m.max)
              << ",\"p_p\":" << figure(m.peakToPeak) << ",\"mean\":" << figure(m.mean)
              << ",\"rms\":" << figure(m.rms) << ",\"frequency\":" << figure(m.frequencyHz)
              << ",\"period\":" << figure(m.periodUs * 1e-6) << ",\"ipeak\":" << figure(m.peakCurrent)
              << ",\"ipeak_error\":" << figure(m.peakErrorPercent)
              << ",\"step_error\":" << figure(m.stepErrorPercent) << "}";
            if (!json) {
                std::cout << "CH" << k + 1 << " " << c.ch[k].output << ": min "
                          << zelbo::scope::formatFigure(m.min, c.ch[k].unit) << ", max "
                          << zelbo::scope::formatFigure(m.max, c.ch[k].unit) << ", mean "
                          << zelbo::scope::formatFigure(m.mean, c.ch[k].unit) << ", rms "
                          << zelbo::scope::formatFigure(m.rms, c.ch[k].unit) << ", f "
                          << zelbo::scope::formatFigure(m.frequencyHz, "Hz");
                if (std::isfinite(m.peakCurrent))
                    std::cout << ", Ipeak " << zelbo::scope::formatFigure(m.peakCurrent, "A") << " ("
                              << zelbo::formatFixed(m.peakErrorPercent, 1) << " %)";
                std::cout << "\n";
            }
        }
        j << "]";
        j << ",\"math\":[";
        bool firstMath = true;
        for (std::size_t m = 0; m < c.math.size(); ++m) {
            if (!c.math[m]) continue;
            const auto& mt = *c.math[m];
            const auto& f = mt.figures;
            j << (firstMath ? "" : ",") << "{\"channel\":\"M" << m + 1 << "\",\"expression\":" << jsonString(mt.expression)
              << ",\"unit\":" << jsonString(mt.unit) << ",\"error\":" << jsonString(mt.error)
              << ",\"samples\":" << f.samples << ",\"min\":" << figure(f.min) << ",\"max\":" << figure(f.max)
              << ",\"p_p\":" << figure(f.peakToPeak) << ",\"mean\":" << figure(f.mean)
              << ",\"rms\":" << figure(f.rms) << ",\"frequency\":" << figure(f.frequencyHz) << "}";
            firstMath = false;
            if (!json) {
                std::cout << "M" << m + 1 << " " << mt.expression << ": ";
                if (!mt.error.empty()) std::cout << mt.error << "\n";
                else
                    std::cout << "min " << zelbo::scope::formatFigure(f.min, mt.unit) << ", max "
                              << zelbo::scope::formatFigure(f.max, mt.unit) << ", mean "
                              << zelbo::scope::formatFigure(f.mean, mt.unit) << ", rms "
                              << zelbo::scope::formatFigure(f.rms, mt.unit) << "\n";
            }
        }
        j << "]";
        break;
    }
    case Step::Kind::SetMath: {
        const std::string unit = s.setMath(step.channel, step.name);
        j << ",\"math\":\"M" << step.channel + 1 << "\",\"expression\":" << jsonString(step.name)
          << ",\"unit\":" << jsonString(unit);
        break;
    }
    case Step::Kind::Spectrum: {
        const auto r = s.spectrum(step.name, step.window, 5000ms, step.harmonics);
        const auto& h = r.harmonics;
        auto figure = [](double v) { return std::isfinite(v) ? number(v) : std::string("null"); };
        j << ",\"channel\":" << jsonString(r.channel) << ",\"unit\":" << jsonString(r.unit)
          << ",\"window\":" << jsonString(zelbo::scope::analysis::windowName(r.window))
          << ",\"index\":" << r.index << ",\"bins\":" << r.amplitude.size()
          << ",\"bin_hz\":" << figure(r.frequency.size() > 1 ? r.frequency[1] : 0.0)
          << ",\"expected_hz\":" << figure(r.expectedHz) << ",\"valid\":" << (h.valid ? "true" : "false")
          << ",\"reason\":" << jsonString(h.reason);
        if (h.valid) {
            j << ",\"fundamental_hz\":" << figure(h.fundamentalHz) << ",\"fundamental\":" << figure(h.amplitude[0])
              << ",\"thd\":" << figure(h.thd) << ",\"thd_db\":" << figure(h.thdDb()) << ",\"harmonics_dbc\":[";
            for (int n = 2; n <= h.harmonicsCounted() + 1; ++n) j << (n > 2 ? "," : "") << figure(h.levelDbc(n));
            j << "]";
        }
        if (!step.file.empty()) {
            std::ostringstream csv;
            csv << "Frequency (Hz)," << r.channel << " (" << r.unit << ")\n";
            char buf[64];
            for (std::size_t i = 0; i < r.amplitude.size(); ++i) {
                std::snprintf(buf, sizeof buf, "%.9g,%.6g\n", r.frequency[i], r.amplitude[i]);
                csv << buf;
            }
            std::string error;
            if (!zelbo::files::writeFileAtomically(step.file, csv.str(), &error))
                throw zelbo::engine::SessionError("Cannot write \"" + step.file + "\": " + error);
            j << ",\"file\":" << jsonString(step.file);
        }
        if (!json) {
            if (!h.valid) std::cout << r.channel << ": " << h.reason << "\n";
            else {
                std::cout << r.channel << " (" << zelbo::scope::analysis::windowName(r.window) << "): fundamental "
                          << zelbo::scope::formatFigure(h.fundamentalHz, "Hz") << ", "
                          << zelbo::scope::formatFigure(h.amplitude[0], r.unit) << "; THD "
                          << zelbo::formatFixed(h.thdPercent(), 2) << " % (" << zelbo::formatFixed(h.thdDb(), 2)
                          << " dB) over " << h.harmonicsCounted() << " harmonics\n  dBc:";
                for (int n = 2; n <= std::min(h.harmonicsCounted() + 1, 9); ++n)
                    std::cout << " H" << n << " " << zelbo::formatFixed(h.levelDbc(n), 1);
                std::cout << "\n";
            }
        }
        break;
    }
    case Step::Kind::Temp: {
        const double t = s.tj(3000ms);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", t);
        j << ",\"tj\":" << buf;
        break;
    }
    case Step::Kind::Sleep: {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(step.value));
        while (std::chrono::steady_clock::now() < end) {
            throwIfSignalled();
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                50ms, end - std::chrono::steady_clock::now()));
        }
        break;
    }
    }
    return j.str();
}

} // namespace

int main(int argc, char** argv)
{
    bool json = false;
    std::string board; // empty: ZELBO_BOARD decides
    std::string usbBoard; // --board usb:SERIAL (or usb:PATH)
    std::string script;
    auto add = [&script](const std::string& text) {
        script += text;
        script += '\n';
    };
    // Loose arguments are command text, joined by blanks up to the next
    // option, so that commands run in the order written.
    std::vector<std::string> loose;
    auto flushLoose = [&] {
        std::string line;
        for (const auto& w : loose) {
            line += w;
            line += ' ';
        }
        if (!line.empty()) add(line);
        loose.clear();
    };
    bool anyLoose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* opt) -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "zelbo-cli: " << opt << " needs a value\n";
                std::exit(kUsage);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << zelbo::cli::usageText();
            return kOk;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--log-level") {
            if (!zelbo::log::useOption(value("--log-level"))) {
                std::cerr << "zelbo-cli: --log-level takes error, warning, info or debug\n";
                return kUsage;
            }
        } else if (a == "--board") {
            board = value("--board");
            if (board.rfind("usb:", 0) == 0 && board.size() > 4) {
                usbBoard = board.substr(4);
                board = "usb";
            }
            if (board != "sim" && board != "usb") {
                std::cerr << "zelbo-cli: --board takes sim, usb or usb:SERIAL (a serial number or USB path)\n";
                return kUsage;
            }
        } else if (!anyLoose && (a == "campaign" || a == "report")) {
            // The campaign commands take the rest of the line.
            const std::vector<std::string> rest(argv + i + 1, argv + argc);
            if (a == "report") return zelbo::cli::reportCommand(rest, "/proc/self/exe");
            std::optional<bool> sim;
            if (!board.empty()) sim = board == "sim";
            // The campaign's session takes the board the environment names.
            if (!usbBoard.empty()) ::setenv("ZELBO_USB_BOARD", usbBoard.c_str(), 1);
            return zelbo::cli::campaignCommand(rest, sim, json);
        } else if (a == "-c") {
            flushLoose();
            add(value("-c"));
        } else if (a == "-f" || a == "-") {
            flushLoose();
            const std::string file = a == "-" ? "-" : value("-f");
            std::string text;
            if (file == "-") {
                text.assign(std::istreambuf_iterator<char>(std::cin), {});
            } else {
                std::ifstream in(file, std::ios::binary);
                if (!in) {
                    std::cerr << "zelbo-cli: cannot read \"" << file << "\"\n";
                    return kUsage;
                }
                text.assign(std::istreambuf_iterator<char>(in), {});
            }
            add(text);
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-' && !anyLoose) {
            std::cerr << "zelbo-cli: unknown option " << a << "\n";
            return kUsage;
        } else {
            loose.push_back(a);
            anyLoose = true;
        }
    }
    // ';' separates commands inside loose text (quote a file name with
    // blanks inside it).
    flushLoose();

    const auto parsed = zelbo::cli::parseScript(script);
    if (!parsed.error.empty()) {
        std::cerr << "zelbo-cli: " << parsed.error << "\n";
        return kUsage;
    }
    if (parsed.commands.empty()) {
        std::cerr << "zelbo-cli: no commands (see --help)\n";
        return kUsage;
    }
    std::vector<std::pair<zelbo::cli::Command, Step>> steps;
    for (const auto& c : parsed.commands) {
        auto r = zelbo::cli::checkCommand(c);
        if (!r.step) {
            std::cerr << "zelbo-cli: " << r.error << "\n";
            return kUsage;
        }
        steps.emplace_back(c, *r.step);
    }

    // Conversions and the list of boards alone need no board.
    if (std::all_of(steps.begin(), steps.end(), [](const auto& p) { return boardless(p.second); })) {
        for (const auto& [command, step] : steps) {
            try {
                const std::string extra = runBoardless(step, json);
                if (json) std::cout << "{\"command\":" << jsonString(command.text()) << ",\"ok\":true" << extra << "}\n";
            } catch (const std::exception& e) {
                std::cerr << "zelbo-cli: " << command.text() << ": " << e.what() << "\n";
                if (json) std::cout << "{\"command\":" << jsonString(command.text()) << ",\"ok\":false,\"error\":"
                                    << jsonString(e.what()) << "}\n";
                return kFailed;
            }
        }
        return kOk;
    }

    catchSignals();
    std::unique_ptr<zelbo::engine::Session> session;
    try {
        zelbo::engine::SessionOptions options;
        if (!board.empty()) options.sim = board == "sim";
        options.usbBoard = usbBoard;
        options.interrupted = [] { return g_signal != 0; };
        session = std::make_unique<zelbo::engine::Session>(options);
    } catch (const std::exception& e) {
        std::cerr << "zelbo-cli: " << e.what() << "\n";
        if (json) std::cout << "{\"command\":\"open\",\"ok\":false,\"error\":" << jsonString(e.what()) << "}\n";
        return kNoBoard;
    }
    // A signal ends the run after the board is powered off and shut down.
    auto endOnSignal = [&]() -> int {
        const int sig = g_signal;
        std::cerr << "zelbo-cli: " << (sig == SIGTERM ? "terminated" : "interrupted")
                  << ": the board is powered off and shut down\n";
        try {
            session->close();
        } catch (...) {
        }
        return 128 + sig;
    };
    for (const auto& [command, step] : steps) {
        if (g_signal != 0) return endOnSignal();
        try {
            const std::string extra = runStep(*session, step, json);
            if (json) std::cout << "{\"command\":" << jsonString(command.text()) << ",\"ok\":true" << extra << "}\n";
            else if (step.kind == Step::Kind::Temp) std::cout << extra.substr(extra.find(':') + 1) << "\n";
            std::cout.flush();
        } catch (const std::exception& e) {
            if (g_signal != 0) return endOnSignal();
            std::cerr << "zelbo-cli: " << command.text() << ": " << e.what() << "\n";
            if (json) std::cout << "{\"command\":" << jsonString(command.text()) << ",\"ok\":false,\"error\":"
                                << jsonString(e.what()) << "}\n";
            try {
                session->close();
            } catch (...) {
            }
            return kFailed;
        }
    }
    if (g_signal != 0) return endOnSignal();
    try {
        session->close();
    } catch (const std::exception& e) {
        std::cerr << "zelbo-cli: " << e.what() << "\n";
        return kFailed;
    }
    return kOk;
}
