#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "campaign/instrument.h"
#include "drive/pins.h"
#include "engine/session.h"
#include "link/bring_up.h"
#include "scope/scope_core.h"

namespace zelbo::campaign {

using namespace std::chrono_literals;

std::string SessionInstrument::board() { return s_.board(); }

std::string SessionInstrument::chip()
{
    for (const auto& [name, value] : s_.status())
        if (name == "chip") return value;
    return {};
}

// The FPGA image the board was configured with, by name, size and digest.
std::string SessionInstrument::firmware()
{
    const auto path = (programFolder_.empty() ? link::LinkOptions{}.programFolder : programFolder_) / link::kFpgaImageName;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string(link::kFpgaImageName) + " (not found)";
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return std::string(link::kFpgaImageName) + " " + std::to_string(bytes.size()) + " bytes fnv1a-64 " +
           textHash(bytes);
}

void SessionInstrument::prepare(const Plan& plan)
{
    if (s_.poweredOn()) s_.powerOff();
    if (!plan.chip.empty()) s_.selectChip(plan.chip);
    s_.setVdut(plan.vdut);
    s_.setRnf(plan.rnf);
    s_.setPin("enable", true);
    const auto& c = plan.capture;
    for (int k = 0; k < 4; ++k) {
        const auto& ch = c.channels[static_cast<std::size_t>(k)];
        if (!ch) continue;
        s_.setChannelOn(k, ch->on);
        if (!ch->on) continue;
        s_.setSource(k, ch->source, ch->output);
        if (!ch->scale.empty()) s_.setScale(k, ch->scale);
    }
    if (!c.timeBase.empty()) s_.setTimeBase(c.timeBase);
    if (!c.rate.empty()) s_.setSamplingRate(c.rate);
    // A sweep takes ten divisions; a generous bound over it for the trigger.
    measureTimeout_ = 5000ms;
}

void SessionInstrument::powerOn() { s_.powerOn(false); }

void SessionInstrument::powerOff()
{
    if (s_.isOpen() && s_.poweredOn()) s_.powerOff();
}

Applied SessionInstrument::apply(const Point& p)
{
    if (s_.running()) s_.stop();
    s_.setPin("enable", true);
    s_.setMode(p.mode);
    s_.setPin("cw", p.cw);
    s_.setVref(p.vref);
    s_.setMth(p.mth);
    s_.run(p.clk);
    Applied a;
    // Read back: the drive's state, not what was asked.
    const auto& d = s_.drive();
    for (const char* name : {"full", "half-a", "half-b", "quarter"}) {
        const auto e = drive::excitationByName(name);
        if (e && e->mode0 == d.pinHigh(drive::Pin::Mode0) && e->mode1 == d.pinHigh(drive::Pin::Mode1)) {
            a.mode = name;
            break;
        }
    }
    a.direction = d.pinHigh(drive::Pin::CwCcw) ? "cw" : "ccw";
    a.vref = s_.vref();
    a.mth = s_.mth();
    a.clk = s_.running() ? s_.clock() : 0.0;
    a.rnf = d.rnfValue();
    a.vdut = d.vcc() == drive::Vcc::V3_3 ? 3.3 : 5.0;
    return a;
}

void SessionInstrument::idle()
{
    if (s_.running()) s_.stop();
}

void SessionInstrument::rest()
{
    idle();
    s_.setPin("enable", false);
}

std::array<scope::Measurement, 4> SessionInstrument::measure()
{
    const auto c = s_.measure(measureTimeout_);
    return c.figures;
}

std::optional<double> SessionInstrument::tj()
{
    try {
        return s_.tj(3000ms);
    } catch (const engine::Interrupted&) {
        throw;
    } catch (const engine::SessionError&) {
        return std::nullopt;
    }
}

std::uint64_t SessionInstrument::record(const std::filesystem::path& path, int sweeps)
{
    // The session ends the recording once it holds `sweeps` sweeps; the
    // time is a bound over as many.
    const double seconds = 1.0 + static_cast<double>(sweeps) * static_cast<double>(measureTimeout_.count()) / 1000.0;
    return s_.record(path, std::min(seconds, 86400.0), 0, static_cast<std::uint64_t>(std::max(sweeps, 1))).sweeps;
}

void SessionInstrument::pause(std::chrono::milliseconds how)
{
    // The session's own bounded wait polls the interruption; sleep in short
    // slices and let a Tj read (cheap) notice a pending interruption.
    const auto end = std::chrono::steady_clock::now() + how;
    while (std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(50ms, end - std::chrono::steady_clock::now()));
}

} // namespace zelbo::campaign
