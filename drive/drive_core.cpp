#include "drive/drive_core.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace zelbo::drive {

namespace {

constexpr const char* kRateTexts[10] = {"1 / 10", "1 / 9", "1 / 8", "1 / 7", "1 / 6",
                                        "1 / 5",  "1 / 4", "1 / 3", "1 / 2", "1 / 1"};


} // namespace

DriveCore::DriveCore(link::CommandPort& port, MessageService& messages)
    : port_(port), messages_(messages)
{
    setChipList({});
    resetState();
}

// ---- mode and supply ------------------------------------------------------

std::string DriveCore::modeLabel() const
{
    switch (mode_) {
    case 0: return "Stepping Clk-In";
    case 1: return "Para-In";
    case 2: return "H-Bridge";
    default: return {};
    }
}

void DriveCore::loadMode(int mode)
{
    if (mode < 0 || mode > 2) return;
    mode_ = mode;
    notify(aspect::kMode);
}

void DriveCore::loadVcc(Vcc vcc)
{
    vcc_ = vcc;
    notify(aspect::kMode);
}

void DriveCore::applyVccAndPins()
{
    port_.queueWrite(reg::kSupply, supplyRegisterValue(vcc_));
    port_.waitWriteDone();
    pinHighLevel_ = drive::pinHighLevel(vcc_);
    sendPins(std::chrono::milliseconds(50));
    port_.waitWriteDone();
    port_.pause(std::chrono::milliseconds(50));
}

void DriveCore::sendPins(std::chrono::milliseconds gap)
{
    for (Pin pin : kPinOrder) {
        sendPin(pin);
        port_.pause(gap);
    }
}

void DriveCore::sendPin(Pin pin)
{
    loadDacChannel(port_, pinChannel(pin), pinHigh(pin) ? pinHighLevel_ : 0);
}

bool DriveCore::changeMode(int requestedMode, Vcc vcc, const ModeChangeHooks& hooks)
{
    // The selector has one entry; an index that names no mode stays on the
    // current one.
    const int m = (requestedMode >= 0 && requestedMode <= 2) ? requestedMode : mode_;

    const bool scopeRan = hooks.scopeRunning && hooks.scopeRunning();
    if (scopeRan && hooks.stopScope) hooks.stopScope();

    if (m != mode_) {
        const MsgAnswer answer =
            messages_.show(kModeChangeWarning, kAppCaption, MsgIcon::Warning, MsgButtons::OkCancel);
        if (answer != MsgAnswer::Ok && answer != MsgAnswer::Yes) {
            notify(aspect::kMode); // the selector goes back to the current mode
            return false;
        }
        reset(hooks);
        clearDacOutputs();
        if (hooks.resetScopeOutputNames) hooks.resetScopeOutputNames();
        if (m == 0) {
            port_.queueWrite(reg::kModeSetup, 1);
            if (hooks.startThermometer) hooks.startThermometer();
        }
    }

    mode_ = m;
    vcc_ = vcc;
    applyVccAndPins();
    fillChipNames(m);
    if (scopeRan && hooks.startScope) hooks.startScope();
    notify(aspect::kAll);
    return true;
}

void DriveCore::clearDacOutputs(link::CommandPort& port) const
{
    for (DacChannel ch : {DacChannel::CwCcw, DacChannel::Ps, DacChannel::Enable, DacChannel::Mode0,
                          DacChannel::Mode1, DacChannel::Mth, DacChannel::Vref})
        loadDacChannel(port, ch, 0);
    port.pause(std::chrono::milliseconds(30));
    port.queueWrite(reg::kModeSetup, 1);
    writeClockRegisters(port, clockCounts(clockFrequency(), effectiveDuty(dutyText_)), clockRunning_);
    port.queueWrite(reg::kSecondRun, 0);
    // The scope front end back to idle: stopped, full record length, every
    // channel's input at its idle set-up.
    port.queueWrite(reg::kScopeControl, 0, link::WriteClass::Scope);
    port.queueWrite(reg::kScopeLengthLow, 255, link::WriteClass::Scope);
    port.queueWrite(reg::kScopeLengthHigh, 15, link::WriteClass::Scope);
    for (int i = 0; i < 4; ++i)
        port.queueWrite(static_cast<std::uint8_t>(reg::kScopeChannelConfig + i), 4, link::WriteClass::Scope);
}

void DriveCore::reset(const ModeChangeHooks& hooks)
{
    if (hooks.clearChartOrigin) hooks.clearChartOrigin();
    resetState();
    notify(aspect::kAll);
}

void DriveCore::resetState()
{
    mode_ = 0;
    // Clock rows.
    manual_ = false;
    if (stepsText_ != "1") stepsText_ = "1";
    stopHigh_ = false;
    clockRunning_ = false;
    secondRunning_ = false;
    // Limits, slider ranges and pages, thumbs at the smallest value. The
    // ranges are restored before the display refresh so that the refresh reads
    // the default ranges (a CLK range other than 0..100 would otherwise show
    // "1.0 k" for a stopped clock).
    for (auto& c : columns_) c.reset();
    vref_ = 0.0;
    dutyPos_ = dutySliderMax() / 2;
    // Sense resistor.
    rnf_ = 0.2;
    rnfText_ = formatFixed(rnf_, 2);
    rateIndex_ = 5;
    rateText_ = kRateTexts[rateIndex_];
    columns_[static_cast<int>(ColumnId::Mth)].refreshFromSlider();
    columns_[static_cast<int>(ColumnId::Vref)].refreshFromSlider();
    columns_[static_cast<int>(ColumnId::Clk)].refreshFromSlider();
    vref_ = column(ColumnId::Vref).value();
    recomputeIo();
    // Pins all Low, first chip.
    pins_.fill(false);
    psIndicator_ = false;
    if (!chipNames_.empty()) selectChip(0);
}

// ---- pins -----------------------------------------------------------------

std::string DriveCore::pinStateText() const
{
    std::string s;
    for (bool high : pins_) s += high ? '1' : '0';
    return s;
}

void DriveCore::setPin(Pin pin, bool high)
{
    pins_[static_cast<int>(pin)] = high;
    handlePinDacRequest(PinDacRequest{static_cast<std::uint8_t>(pinChannel(pin)),
                                      high ? pinHighLevel_ : 0u, true});
}

void DriveCore::handlePinDacRequest(const PinDacRequest& request)
{
    loadDacChannel(port_, request.channel, static_cast<std::uint16_t>(request.code & 0xFFFF));
    if (request.mirror && request.channel == static_cast<std::uint8_t>(DacChannel::Ps))
        psIndicator_ = request.code != 0;
    notify(aspect::kPins);
}

bool DriveCore::loadPinStateText(std::string_view text)
{
    if (text.size() != kPinCount) return false;
    for (int i = 0; i < kPinCount; ++i) pins_[i] = text[i] > '0' && text[i] <= '9';
    psIndicator_ = pins_[0];
    notify(aspect::kPins);
    return true;
}

// ---- chips ----------------------------------------------------------------

void DriveCore::setChipList(std::vector<ChipEntry> chips)
{
    chips_ = std::move(chips);
    if (chips_.empty()) chips_.push_back(defaultChip());
    fillChipNames(mode_);
}

void DriveCore::fillChipNames(int mode)
{
    chipNames_.clear();
    for (const auto& c : chips_)
        if (c.mode == mode) chipNames_.push_back(c.name);
    selectedChip_ = -1;
    if (!chipNames_.empty()) selectChip(0);
    notify(aspect::kChips);
}

std::string DriveCore::selectedChipName() const
{
    if (selectedChip_ < 0 || selectedChip_ >= static_cast<int>(chipNames_.size())) return {};
    return chipNames_[static_cast<std::size_t>(selectedChip_)];
}

void DriveCore::selectChip(int index)
{
    if (index < 0 || index >= static_cast<int>(chipNames_.size())) return;
    selectedChip_ = index;
    const std::string& name = chipNames_[static_cast<std::size_t>(index)];
    auto it = std::find_if(chips_.begin(), chips_.end(),
                           [&](const ChipEntry& c) { return c.name == name; });
    if (it != chips_.end()) {
        chipA_ = it->a;
        chipB_ = it->b;
    }
    notify(aspect::kChips);
}

std::string DriveCore::excitationText() const
{
    const bool m0 = pinHigh(Pin::Mode0);
    const bool m1 = pinHigh(Pin::Mode1);
    if (chips_.size() != 1) {
        const std::string name = selectedChipName();
        auto it = std::find_if(chips_.begin(), chips_.end(),
                               [&](const ChipEntry& c) { return c.name == name; });
        if (it != chips_.end()) return it->excitationNames[(m0 ? 2 : 0) + (m1 ? 1 : 0)];
        // No chip of this mode to name the modes: the built-in names.
    }
    return builtInExcitationName(m0, m1);
}

// ---- columns --------------------------------------------------------------

void DriveCore::setValueText(ColumnId id, std::string text)
{
    columns_[static_cast<int>(id)].setValueText(std::move(text));
}

void DriveCore::setLimitText(ColumnId id, Limit which, std::string text)
{
    columns_[static_cast<int>(id)].setLimitText(which, std::move(text));
}

std::uint16_t DriveCore::referenceCode(double volts)
{
    return static_cast<std::uint16_t>(std::clamp<long long>(truncTolerant(volts * 1000.0), 0, 0xFFFF));
}

void DriveCore::applyReferenceEffects(ColumnId id, double v)
{
    switch (id) {
    case ColumnId::Mth:
        loadDacChannel(port_, DacChannel::Mth, referenceCode(v));
        return;
    case ColumnId::Vref:
        loadDacChannel(port_, DacChannel::Vref, referenceCode(v));
        vref_ = v;
        recomputeIo();
        return;
    case ColumnId::Clk:
        port_.pause(std::chrono::milliseconds(10));
        sendClockRegisters();
        return;
    }
}

void DriveCore::commitValue(ColumnId id)
{
    Column& c = columns_[static_cast<int>(id)];
    const double v = c.commit();
    applyReferenceEffects(id, v);
    notify(aspect::kColumns | (id == ColumnId::Vref ? aspect::kRnf : 0u));
    if (!c.entryNote().empty()) entryNote(c.entryNote());
}

void DriveCore::setExactValue(ColumnId id, double v)
{
    Column& c = columns_[static_cast<int>(id)];
    c.setValue(v);
    // The window's text when it reads back as exactly this value (a settings
    // file then looks as the window writes it), else every digit it takes.
    std::string text = c.format(v);
    c.setValueText(parseNumberK(text) == v ? std::move(text) : exactText(v));
    applyReferenceEffects(id, v);
    notify(aspect::kColumns | (id == ColumnId::Vref ? aspect::kRnf : 0u));
}

void DriveCore::sliderMoved(ColumnId id, int pos)
{
    const double v = columns_[static_cast<int>(id)].fromSlider(pos);
    applyReferenceEffects(id, v);
    port_.waitWriteDone();
    notify(aspect::kColumns | (id == ColumnId::Vref ? aspect::kRnf : 0u));
}

void DriveCore::commitLimit(ColumnId id, Limit which)
{
    Column& c = columns_[static_cast<int>(id)];
    c.validate(which);
    const std::string note = c.entryNote();
    commitValue(id);
    // The value's own note (it was limited by the new MAX or MIN) says more.
    if (!note.empty() && c.entryNote().empty()) entryNote(note);
}

void DriveCore::refreshClockDisplay()
{
    for (auto& c : columns_) c.refreshFromSlider();
    vref_ = column(ColumnId::Vref).value();
    recomputeIo();
    notify(aspect::kColumns | aspect::kRnf);
}

void DriveCore::loadValueText(ColumnId id, std::string text)
{
    Column& c = columns_[static_cast<int>(id)];
    c.setValueText(std::move(text));
    if (id == ColumnId::Vref) {
        vref_ = parseNumberK(c.valueText());
        c.setValue(vref_);
        recomputeIo();
    } else if (id == ColumnId::Clk) {
        c.setValue(parseNumberK(c.valueText()));
    }
    notify(aspect::kColumns | aspect::kRnf);
}

void DriveCore::recommitValues()
{
    for (ColumnId id : {ColumnId::Vref, ColumnId::Mth, ColumnId::Clk}) {
        commitValue(id);
        port_.pause(std::chrono::milliseconds(50));
    }
}

// ---- sense resistor -------------------------------------------------------

void DriveCore::commitRnf()
{
    const auto read = readNumber(rnfText_, true);
    std::string note;
    double r = rnf_;
    if (!read || std::isnan(*read)) {
        note = "RNF: \"" + rnfText_.substr(0, 40) + "\" is not a number; kept " + formatFixed(rnf_, 2) + " ohm.";
    } else {
        r = *read;
        if (r > 1.0) r = 1.0;
        if (r < 0.01) r = 0.01;
        if (r != *read)
            note = "RNF: " + rnfText_.substr(0, 40) + " is outside 0.01 to 1 ohm; limited to " + formatFixed(r, 2) +
                   " ohm.";
    }
    rnf_ = r;
    std::string text = formatFixed(r, 2);
    if (text != rnfText_) rnfText_ = std::move(text);
    recomputeIo();
    notify(aspect::kRnf);
    if (!note.empty()) entryNote(note);
}

void DriveCore::loadRnfText(std::string text)
{
    rnfText_ = std::move(text);
    rnf_ = parseLeadingNumber(rnfText_);
    recomputeIo();
    notify(aspect::kRnf);
}

const char* DriveCore::rateTextOf(int index) { return kRateTexts[std::clamp(index, 0, 9)]; }

void DriveCore::setRateIndex(int index)
{
    rateIndex_ = std::clamp(index, 0, 9);
    rateText_ = kRateTexts[rateIndex_];
    recomputeIo();
    notify(aspect::kRnf);
}

bool DriveCore::loadRateText(std::string text)
{
    rateText_ = std::move(text);
    bool matched = false;
    for (int i = 0; i < 10; ++i)
        if (rateText_ == kRateTexts[i]) {
            rateIndex_ = i;
            matched = true;
        }
    recomputeIo();
    notify(aspect::kRnf);
    return matched;
}

void DriveCore::recomputeIo()
{
    // The RNF value is kept within 0.01..1.00 by its commit; a value restored
    // from elsewhere is held to the same floor so that Io stays a number.
    const double rnf = std::isfinite(rnf_) && rnf_ >= 0.01 ? rnf_ : 0.01;
    io_ = vref_ / rnf / rateDivisor() * 1000.0;
    ioText_ = formatFixed(io_, 0) + " m";
}

// ---- step clock -----------------------------------------------------------

void DriveCore::setManual(bool manual)
{
    manual_ = manual;
    notify(aspect::kClock);
}

const std::string& DriveCore::editSteps(std::string text)
{
    // Letters typed into the count keep the count it had; an emptied field
    // reads 1, as it always has.
    const std::size_t first = text.find_first_not_of(" \t");
    if (first != std::string::npos && !readNumber(text, false)) {
        entryNote("Steps: \"" + text.substr(0, 40) + "\" is not a number; kept " + stepsText_ + ".");
        notify(aspect::kClock);
        return stepsText_;
    }
    const int v = clampSteps(parseLeadingInt(text));
    std::string shown = std::to_string(v);
    stepsText_ = shown != text ? std::move(shown) : std::move(text);
    notify(aspect::kClock);
    return stepsText_;
}

void DriveCore::setStopHigh(bool high)
{
    stopHigh_ = high;
    notify(aspect::kClock);
}

void DriveCore::setClockRunning(bool run)
{
    port_.queueWrite(reg::kClockControl, 0);
    port_.waitWriteDone();
    clockRunning_ = run;
    if (run) {
        // The steps field keeps itself within 1..255 while edited; a text
        // restored from a settings file is held to the same rule here rather
        // than sending only its low byte.
        const int steps = manual_ ? clampSteps(parseLeadingInt(stepsText_)) : 0;
        port_.queueWrite(reg::kClockStepCount, static_cast<std::uint8_t>(steps));
        port_.queueWrite(reg::kClockControl, stopHigh_ ? clockreg::kRunStopHigh : clockreg::kRun);
    } else {
        port_.queueWrite(reg::kClockControl, 0);
    }
    port_.waitWriteDone();
    notify(aspect::kClock);
}

void DriveCore::setSecondRunning(bool run)
{
    secondRunning_ = run;
    port_.queueWrite(reg::kSecondRun, run ? 1 : 0);
    notify(aspect::kClock);
}

void DriveCore::secondRunEnded()
{
    secondRunning_ = false;
    notify(aspect::kClock);
}

void DriveCore::setDutyText(std::string text)
{
    if (readNumber(dutyText_, false)) dutyGood_ = dutyText_;
    dutyText_ = std::move(text);
}

void DriveCore::commitDuty()
{
    const auto read = readNumber(dutyText_, false);
    std::string note;
    double duty = 0.0;
    if (!read || !std::isfinite(*read)) {
        // The last duty that was a number, not 0.
        duty = std::clamp(readNumber(dutyGood_, false).value_or(50.0), 0.0, 100.0);
        note = "Duty: \"" + dutyText_.substr(0, 40) + "\" is not a number; kept " + formatFixed(duty, 2) + " %.";
    } else {
        duty = std::clamp(*read, 0.0, 100.0);
        if (duty != *read)
            note = "Duty: " + dutyText_.substr(0, 40) + " is outside 0 to 100 %; limited to " + formatFixed(duty, 2) +
                   " %.";
    }
    const int range = dutySliderMax();
    const long long offset = truncTolerant(duty / 100.0 * range);
    dutyPos_ = static_cast<int>(std::clamp<long long>(range - offset, 0, range));
    std::string text = formatFixed(duty, 2);
    if (text != dutyText_) dutyText_ = std::move(text);
    sendClockRegisters();
    notify(aspect::kClock);
    if (!note.empty()) entryNote(note);
}

void DriveCore::sendClockRegisters()
{
    writeClockRegisters(port_, clockCounts(clockFrequency(), effectiveDuty(dutyText_)), clockRunning_);
}

bool DriveCore::requestClockState()
{
    if (!manual_) return false;
    port_.queueRead(reg::kClockControl);
    return true;
}

bool DriveCore::onClockControlRead(std::uint8_t value)
{
    if (value & 0x01) return false;
    const bool wasRunning = clockRunning_;
    clockRunning_ = false;
    notify(aspect::kClock);
    return wasRunning;
}

void DriveCore::loadRunMode(int value)
{
    if (value != 0 && value != 1) return;
    setManual(value == 1);
}

void DriveCore::loadStepsText(std::string text)
{
    stepsText_ = std::move(text);
    notify(aspect::kClock);
}

void DriveCore::loadStopLevel(int value) { setStopHigh(value != 0); }

} // namespace zelbo::drive
