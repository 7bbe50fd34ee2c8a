#include "drive/advance.h"

#include <algorithm>

#include "common/number_text.h"

namespace zelbo::drive {

namespace {

// Volts with a hundredth-volt resolution; MAX follows the supply ("5" or
// "3.3"), which is also the most a MAX field accepts.
const ColumnSpec kPanelSpec{5.0, 0.01, "5", "0", "0.01", 500, 10, false};

constexpr std::uint8_t kChannels[AdvanceCore::kPanels] = {135, 129, 131, 128, 130, 132};
constexpr const char* kLabels[AdvanceCore::kPanels] = {"PS", "ENABLE", "MODE0", "MODE1", "CW/CCW", "SWEEP"};

// Puts v, clamped into the panel's MIN..MAX, into the panel as it stands
// (no grid rounding: an opening value such as "3.30" must stay 3.3 V), with
// the slider on the notch below it.
void place(Column& p, double v)
{
    v = std::clamp(v, p.min(), std::max(p.min(), p.max()));
    const long long n = truncTolerant((v - p.min()) / p.step());
    p.fromSlider(static_cast<int>(std::clamp<long long>(p.sliderMax() - n, 0, p.sliderMax())));
    p.setValue(v);
    p.showValue(v);
}

} // namespace

AdvanceCore::AdvanceCore(link::CommandPort& port, MessageService& messages, DriveCore& drive)
    : port_(port), messages_(messages), drive_(drive),
      panels_{Column(ColumnId::Vref, kPanelSpec), Column(ColumnId::Vref, kPanelSpec),
              Column(ColumnId::Vref, kPanelSpec), Column(ColumnId::Vref, kPanelSpec),
              Column(ColumnId::Vref, kPanelSpec), Column(ColumnId::Vref, kPanelSpec)}
{
    for (int k = 0; k < kPanels; ++k) {
        panels_[static_cast<std::size_t>(k)].setName(kLabels[k]);
        panels_[static_cast<std::size_t>(k)].showValue(0.0);
    }
}

std::uint8_t AdvanceCore::panelChannel(int panel) { return kChannels[index(panel)]; }
const char* AdvanceCore::panelLabel(int panel) { return kLabels[index(panel)]; }

std::uint16_t AdvanceCore::dacCode(double volts)
{
    return static_cast<std::uint16_t>(std::clamp<long long>(truncTolerant(volts * 0.5 * 1000.0), 0, 0xFFFF));
}

// ---- panels -------------------------------------------------------------------

void AdvanceCore::setValueText(int k, std::string text) { panels_[index(k)].setValueText(std::move(text)); }

void AdvanceCore::setLimitText(int k, Limit which, std::string text)
{
    panels_[index(k)].setLimitText(which, std::move(text));
}

void AdvanceCore::sendPanel(int k)
{
    // Only advance mode drives the pins this way; outside it the panels just
    // keep their values for the next opening.
    if (!active_) return;
    Column& p = panels_[index(k)];
    // Never above the supply, whatever the limits say: the window then shows
    // what the pin gets.
    const double cap = parseNumberK(supplyMaxText());
    if (p.value() > cap) place(p, cap);
    const std::uint16_t code = dacCode(std::min(p.value(), cap));
    trace_ = std::to_string(code) + " (" + p.valueText() + ")\n";
    drive_.handlePinDacRequest(PinDacRequest{panelChannel(k), code, false});
}

void AdvanceCore::commitValue(int k)
{
    Column& p = panels_[index(k)];
    p.commit();
    sendPanel(k);
    changed();
    if (!p.entryNote().empty()) entryNote(p.entryNote());
}

void AdvanceCore::sliderMoved(int k, int pos)
{
    panels_[index(k)].fromSlider(pos);
    sendPanel(k);
    changed();
}

void AdvanceCore::commitLimit(int k, Limit which)
{
    Column& p = panels_[index(k)];
    // A pin is never driven above the supply: MAX is held to it.
    const double cap = parseNumberK(supplyMaxText());
    if (which == Limit::Max) {
        const double hi = p.max();
        if (!(hi <= cap)) p.setLimitText(Limit::Max, supplyMaxText());
    }
    p.validate(which);
    const std::string note = p.entryNote();
    // The column's own correction of a MAX below MIN is its absolute top,
    // which may be above the supply: the supply is the top here.
    if (!(p.max() <= cap)) {
        p.setLimitText(Limit::Max, supplyMaxText());
        if (p.min() > p.max()) p.validate(Limit::Min);
        p.validate(Limit::Step);
    }
    commitValue(k);
    if (!note.empty() && p.entryNote().empty()) entryNote(note);
}

// ---- supply -------------------------------------------------------------------

std::string AdvanceCore::supplyMaxText() const { return vdut_ == Vcc::V5_0 ? "5" : "3.3"; }

void AdvanceCore::applyMaxForSupply()
{
    for (auto& p : panels_) {
        p.setLimitText(Limit::Max, supplyMaxText());
        // A MIN above the new MAX would hold the value above the supply: it
        // comes down to 0.
        if (p.min() > p.max()) p.validate(Limit::Min);
        // Re-range the slider for the new MAX (the STEP check rewrites only a
        // STEP that no longer fits).
        p.validate(Limit::Step);
        place(p, p.value());
    }
}

void AdvanceCore::setVdut(Vcc vcc)
{
    vdut_ = vcc;
    port_.queueWrite(reg::kSupply, static_cast<std::uint8_t>(0xE1 | (vcc == Vcc::V5_0 ? 2 : 0)));
    std::array<double, kPanels> before{};
    for (int k = 0; k < kPanels; ++k) before[static_cast<std::size_t>(k)] = panels_[static_cast<std::size_t>(k)].value();
    applyMaxForSupply();
    for (int k = 0; k < kPanels; ++k)
        if (panels_[static_cast<std::size_t>(k)].value() != before[static_cast<std::size_t>(k)]) sendPanel(k);
    changed();
}

// ---- clock --------------------------------------------------------------------

void AdvanceCore::clockRequest(ClockKind kind, int level)
{
    if (!active_) return;
    if (kind == ClockKind::Sweep) {
        port_.queueWrite(reg::kClockLevel, level > 0 ? kSweepOn : 0);
        port_.waitWriteDone();
        return;
    }
    port_.queueWrite(reg::kClockControl, 0);
    port_.waitWriteDone();
    port_.queueWrite(reg::kClockStepCount, kind == ClockKind::OneStep ? 1 : 0);
    port_.queueWrite(reg::kClockControl, 1);
    port_.waitWriteDone();
}

void AdvanceCore::setClockMode(ClockMode mode)
{
    clockMode_ = mode;
    switch (mode) {
    case ClockMode::Sweep:
        clockRequest(ClockKind::Sweep, 1);
        sendPanel(kSweepPanel);
        break;
    case ClockMode::Continuous:
        clockRequest(ClockKind::Sweep, 0);
        clockRequest(ClockKind::Continuous, 0);
        break;
    case ClockMode::SingleStep:
        clockRequest(ClockKind::Sweep, 0);
        clockRequest(ClockKind::OneStep, 0);
        break;
    }
    changed();
}

void AdvanceCore::trigger()
{
    if (!triggerEnabled()) return;
    clockRequest(ClockKind::OneStep, 0);
}

// ---- opening and leaving ------------------------------------------------------

bool AdvanceCore::confirmOpen()
{
    const MsgAnswer a = messages_.show(kAdvanceOpenQuestion, kAppCaption, MsgIcon::Warning, MsgButtons::OkCancel);
    return a == MsgAnswer::Ok || a == MsgAnswer::Yes;
}

void AdvanceCore::activate()
{
    const bool reopening = opened_;
    active_ = true;
    if (!opened_) {
        opened_ = true;
        vdut_ = drive_.vcc();
        applyMaxForSupply();
        const double high = vdut_ == Vcc::V5_0 ? 5.0 : 3.3;
        for (int k = 0; k < kPinCount; ++k) {
            place(panels_[static_cast<std::size_t>(k)],
                  drive_.pinHigh(kPinOrder[static_cast<std::size_t>(k)]) ? high : 0.0);
            sendPanel(k);
        }
    } else {
        // Leaving gave the board back to the main window: load what the
        // window still shows.
        port_.queueWrite(reg::kSupply, static_cast<std::uint8_t>(0xE1 | (vdut_ == Vcc::V5_0 ? 2 : 0)));
        port_.waitWriteDone();
        for (int k = 0; k < kPinCount; ++k) sendPanel(k);
    }
    port_.waitWriteDone();
    if (reopening) setClockMode(clockMode_);
    changed();
}

void AdvanceCore::leave()
{
    if (!active_) return;
    clockRequest(ClockKind::Sweep, 0);
    clockRequest(ClockKind::Continuous, 0);
    // The main window's clock as its CLK toggle says, then its references.
    drive_.setClockRunning(drive_.clockRunning());
    drive_.recommitValues();
    active_ = false;
    drive_.applyVccAndPins();
    changed();
}

} // namespace zelbo::drive
