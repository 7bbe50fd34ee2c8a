#include "scope/scope_core.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelbo::scope {

namespace {

constexpr std::array<std::uint32_t, kChannels> kDefaultColours{
    0xFFFF7F00, // orange
    0xFF00CCFF, // cyan
    0xFFFF00FF, // fuchsia
    0xFF662900, // brown
};

int clampIndex(int index, int last) { return std::clamp(index, 0, last); }

int sampleCode(const std::uint8_t* raw, std::size_t i)
{
    const int u = ((raw[2 * i] & 0x03) << 8) | raw[2 * i + 1];
    return (u ^ 0x200) - 0x200; // 10-bit two's complement
}

// value = raw x (scale for positive or negative raw) + add. Both scales have
// the same sign, so the value follows the code monotonically.
inline double codeValue(int r, double scalePos, double scaleNeg, double add)
{
    const double s = r < 0 ? scaleNeg : scalePos;
    return r * s + add;
}

// Samples first..first+count-1 of a sweep into trace points; code(i) is
// sample i's signed converter code (from the capture block, or from the keys
// decodeKeys() made of it).
template <bool WriteTimes, typename Code>
void convertRun(TracePoint* out, std::size_t first, std::size_t count, double period, const double scale[2],
                double add, const Code& code)
{
    for (std::size_t j = 0; j < count; ++j) {
        if constexpr (WriteTimes)
            out[j].first = static_cast<double>(first + j) * period;
        out[j].second = codeValue(code(first + j), scale[0], scale[1], add);
    }
}

// A whole sweep into the trace buffer, whose two contiguous halves keep their
// layout; the times only where they are not already those of this period.
template <typename Code>
void convertSweep(Trace& scratch, bool timesValid, double period, const double scale[2], double add, const Code& code)
{
    auto one = scratch.array_one();
    auto two = scratch.array_two();
    if (timesValid) {
        convertRun<false>(one.first, 0, one.second, period, scale, add, code);
        convertRun<false>(two.first, one.second, two.second, period, scale, add, code);
    } else {
        convertRun<true>(one.first, 0, one.second, period, scale, add, code);
        convertRun<true>(two.first, one.second, two.second, period, scale, add, code);
    }
}

// A block's codes as keys that order like their values (negated for
// negative scales), with their extremes, for measureKeys(). Eight codes to a
// vector register: the high byte's two bits shifted to the top and back down
// arithmetically give the sign, the low byte goes below them.
SweepKeys decodeKeys(const std::uint8_t* raw, std::size_t count, bool negate, std::int16_t* out)
{
    std::size_t whole = 0;
    int lo = 0x7FFF, hi = -0x8000;
#if defined(__SSE2__)
    whole = count - count % 8;
    const __m128i flip = negate ? _mm_set1_epi16(-1) : _mm_setzero_si128();
    __m128i mn = _mm_set1_epi16(0x7FFF), mx = _mm_set1_epi16(-0x8000);
    for (std::size_t i = 0; i < whole; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + 2 * i));
        const __m128i code = _mm_or_si128(_mm_srai_epi16(_mm_slli_epi16(x, 14), 6), _mm_srli_epi16(x, 8));
        const __m128i key = _mm_sub_epi16(_mm_xor_si128(code, flip), flip);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), key);
        mn = _mm_min_epi16(mn, key);
        mx = _mm_max_epi16(mx, key);
    }
    alignas(16) std::int16_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), mn);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8), mx);
    for (int k = 0; k < 8; ++k) {
        lo = std::min<int>(lo, lanes[k]);
        hi = std::max<int>(hi, lanes[8 + k]);
    }
#endif
    for (std::size_t i = whole; i < count; ++i) {
        const int r = sampleCode(raw, i);
        const int key = negate ? -r : r;
        out[i] = static_cast<std::int16_t>(key);
        lo = std::min(lo, key);
        hi = std::max(hi, key);
    }
    return {std::span<const std::int16_t>(out, count), lo, hi, negate};
}

} // namespace

ScopeCore::ScopeCore(link::CommandPort& port) : port_(port)
{
    for (int n = 0; n < kChannels; ++n) {
        auto& st = state_[static_cast<std::size_t>(n)];
        st.output = fixedOutput(n);
        st.direction = fixedDirection(n);
        auto& ch = channels_[static_cast<std::size_t>(n)];
        ch.colour = kDefaultColours[static_cast<std::size_t>(n)];
        applyValuePerDivLocked(n);
    }
    for (auto& s : scratch_)
        s.set_capacity(kSamplesPerSweep);
}

void ScopeCore::setView(ScopeView* view)
{
    std::lock_guard lk(mutex_);
    view_ = view;
}

void ScopeCore::setArmRequest(std::function<void()> armRequest)
{
    std::lock_guard lk(mutex_);
    armRequest_ = std::move(armRequest);
}

void ScopeCore::setCalibrationOffsets(const CalibrationOffsets& offsets)
{
    std::lock_guard lk(mutex_);
    offsets_ = offsets;
}

CalibrationOffsets ScopeCore::calibrationOffsets() const
{
    std::lock_guard lk(mutex_);
    return offsets_;
}

void ScopeCore::send(const Writes& writes)
{
    for (const auto& w : writes)
        port_.queueWrite(w.reg, w.value, link::WriteClass::Scope);
}

void ScopeCore::applyDefaults()
{
    setAuto(false);
    setSamplingRate(kDefaultSampleRate);
    setTimeBase(kDefaultTimeBase);
    for (int n = 0; n < kChannels; ++n) {
        setSource(n, Source::Voltage);
        setValuePerDiv(n, kDefaultValuePerDiv);
    }
    setVoltageLevelFromSlider(kVoltSliderMax / 2);
    setCurrentLevelFromSlider(kAmpSliderMax / 2);
    setTriggerOn(false);
    for (int n = 0; n < kChannels; ++n)
        setChannelOn(n, true);
}

// ---- run / channels ---------------------------------------------------------

void ScopeCore::setRunning(bool run)
{
    Writes w;
    std::function<void()> arm;
    {
        std::lock_guard lk(mutex_);
        // Run is stored last: whoever sees it (the reader thread, the
        // window, without the lock) sees the arm awaited or the state
        // stopped with it.
        if (run) {
            if (view_)
                view_->resetScroll();
            if (triggerOn_)
                triggerSetupLocked(true, w);
            arm = armRequest_;
            awaitingArm_.store(static_cast<bool>(arm));
        } else {
            awaitingArm_.store(false);
            w.push_back({reg::kScopeControl, static_cast<std::uint8_t>(control_ & 0xF0)});
            triggerState_.store(static_cast<int>(TriggerState::Stopped));
        }
        running_.store(run);
    }
    send(w);
    if (arm)
        arm();
}

void ScopeCore::setChannelOn(int n, bool on)
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        auto idx = static_cast<std::size_t>(n);
        state_.at(idx).shown = on;
        const std::string key = channelKey(n);
        if (on) {
            if (view_ && !view_->hasTrace(key))
                view_->addTrace(key, &channels_[idx]);
            control_ = static_cast<std::uint8_t>(control_ | (1u << n));
        } else if (view_) {
            view_->removeTrace(key);
        }
        if (view_)
            view_->traceSetChanged();
        if (running_.load())
            w.push_back({reg::kScopeControl, control_});
    }
    send(w);
}

bool ScopeCore::channelOn(int n) const
{
    std::lock_guard lk(mutex_);
    return state_.at(static_cast<std::size_t>(n)).shown;
}

// ---- source, output, scale --------------------------------------------------

void ScopeCore::applyValuePerDivLocked(int n)
{
    auto& st = state_[static_cast<std::size_t>(n)];
    auto& ch = channels_[static_cast<std::size_t>(n)];
    st.valuePerDiv = clampIndex(st.valuePerDiv, scaleCount(st.source) - 1);
    const auto& e = scaleEntry(st.source, st.valuePerDiv);
    ch.valuePerDivText = std::string(e.text);
    ch.valuePerDiv = e.value;
    ch.unit.assign(1, st.source == Source::Voltage ? 'V' : 'A');
}

void ScopeCore::setSource(int n, Source source)
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        auto idx = static_cast<std::size_t>(n);
        auto& st = state_.at(idx);
        const auto cfg = static_cast<std::uint8_t>((st.config & ~(kCfgCurrent | kCfgIcc)) | sourceBits(source) |
                                                   kCfgAlwaysOne);
        if (cfg != st.config) {
            st.config = cfg;
            w.push_back({static_cast<std::uint8_t>(reg::kScopeChannelConfig + n), cfg});
        }
        st.source = source;
        applyValuePerDivLocked(n);
        auto& ch = channels_[idx];
        switch (source) {
        case Source::Voltage:
            st.output = fixedOutput(n);
            st.direction = fixedDirection(n);
            ch.label = scope::outputText(n, st.output);
            break;
        case Source::Current: ch.label = scope::outputText(n, st.output); break;
        case Source::Icc: ch.label = "ICC"; break;
        }
        updateTriggerControlsLocked();
        if (triggerOn_)
            triggerSetupLocked(true, w);
    }
    sendTriggerSetup(w);
}

Source ScopeCore::source(int n) const
{
    std::lock_guard lk(mutex_);
    return state_.at(static_cast<std::size_t>(n)).source;
}

void ScopeCore::setOutput(int n, int outputIndex)
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        auto idx = static_cast<std::size_t>(n);
        auto& st = state_.at(idx);
        // A voltage channel has its fixed output. ICC keeps the output list's
        // choice (a settings file's "2 - B") without showing it, so that it
        // is saved back as it was and a later switch to a current finds it.
        if (st.source == Source::Voltage)
            return;
        st.output = outputIndex == 1 ? 1 : 0;
        st.direction = st.output == 1 ? -1.0 : 1.0;
        if (st.source == Source::Icc)
            return;
        channels_[idx].label = scope::outputText(n, st.output);
        // The trigger compares the sign-corrected current, so a new direction
        // changes the code of the trigger channel's level.
        if (triggerOn_ && n == (control_ >> 6))
            triggerSetupLocked(true, w);
    }
    sendTriggerSetup(w);
}

int ScopeCore::output(int n) const
{
    std::lock_guard lk(mutex_);
    return state_.at(static_cast<std::size_t>(n)).output;
}

std::string ScopeCore::outputText(int n) const
{
    std::lock_guard lk(mutex_);
    const auto& st = state_.at(static_cast<std::size_t>(n));
    return st.source == Source::Icc ? std::string("ICC") : scope::outputText(n, st.output);
}

double ScopeCore::directionSign(int n) const
{
    std::lock_guard lk(mutex_);
    return state_.at(static_cast<std::size_t>(n)).direction;
}

int ScopeCore::setValuePerDiv(int n, int index)
{
    std::lock_guard lk(mutex_);
    state_.at(static_cast<std::size_t>(n)).valuePerDiv = index;
    applyValuePerDivLocked(n);
    return state_[static_cast<std::size_t>(n)].valuePerDiv;
}

int ScopeCore::valuePerDivIndex(int n) const
{
    std::lock_guard lk(mutex_);
    return state_.at(static_cast<std::size_t>(n)).valuePerDiv;
}

// ---- horizontal -------------------------------------------------------------

int ScopeCore::timeBaseInner(int index, bool link, Writes& out)
{
    if (inTimeBase_)
        return timeBase_;
    inTimeBase_ = true;
    index = clampIndex(index, static_cast<int>(kTimeBases.size()) - 1);
    const auto& e = kTimeBases[static_cast<std::size_t>(index)];
    timeBaseText_ = std::string(e.text);
    timeBaseUs_ = e.usPerDiv;
    if (view_)
        view_->setTimePerDiv(e.usPerDiv, timeBaseText_);
    if (auto_ && link)
        samplingRateInner(kTimeBaseToRate[static_cast<std::size_t>(index)], false, out);
    timeBase_ = std::min(index, kMaxUsableTimeBase);
    inTimeBase_ = false;
    return timeBase_;
}

int ScopeCore::samplingRateInner(int index, bool link, Writes& out)
{
    if (inSampleRate_)
        return sampleRate_;
    inSampleRate_ = true;
    index = clampIndex(index, static_cast<int>(kSampleRates.size()) - 1);
    sampleRate_ = index;
    const auto div = kSampleRates[static_cast<std::size_t>(index)].divider;
    out.push_back({reg::kScopeDividerLow, static_cast<std::uint8_t>(div & 0xFF)});
    out.push_back({reg::kScopeDividerHigh, static_cast<std::uint8_t>(div >> 8)});
    if (auto_ && link)
        timeBaseInner(kRateToTimeBase[static_cast<std::size_t>(index)], false, out);
    inSampleRate_ = false;
    return sampleRate_;
}

int ScopeCore::setTimeBase(int index)
{
    Writes w;
    int result;
    {
        std::lock_guard lk(mutex_);
        result = timeBaseInner(index, true, w);
    }
    send(w);
    return result;
}

int ScopeCore::setSamplingRate(int index)
{
    Writes w;
    int result;
    {
        std::lock_guard lk(mutex_);
        result = samplingRateInner(index, true, w);
    }
    send(w);
    return result;
}

int ScopeCore::timeBaseIndex() const
{
    std::lock_guard lk(mutex_);
    return timeBase_;
}

std::string ScopeCore::timeBaseText() const
{
    std::lock_guard lk(mutex_);
    return timeBaseText_;
}

double ScopeCore::timeBaseUs() const
{
    std::lock_guard lk(mutex_);
    return timeBaseUs_;
}

int ScopeCore::samplingRateIndex() const
{
    std::lock_guard lk(mutex_);
    return sampleRate_;
}

std::string ScopeCore::samplingRateText() const
{
    std::lock_guard lk(mutex_);
    return std::string(kSampleRates[static_cast<std::size_t>(sampleRate_)].text);
}

double ScopeCore::samplePeriodUs() const
{
    std::lock_guard lk(mutex_);
    return kSampleRates[static_cast<std::size_t>(sampleRate_)].periodUs;
}

void ScopeCore::setAuto(bool on)
{
    std::lock_guard lk(mutex_);
    auto_ = on;
}

bool ScopeCore::autoLink() const
{
    std::lock_guard lk(mutex_);
    return auto_;
}

// ---- trigger ----------------------------------------------------------------

void ScopeCore::updateTriggerControlsLocked()
{
    if (view_)
        view_->setSlopeIndicator(1);
}

TriggerControls ScopeCore::triggerControls() const
{
    std::lock_guard lk(mutex_);
    TriggerControls c;
    c.buttonCaption = triggerOn_ ? "OFF" : "ON";
    const auto src = state_[static_cast<std::size_t>(control_ >> 6)].source;
    c.voltageLevelEnabled = triggerOn_ && src == Source::Voltage;
    c.currentLevelEnabled = triggerOn_ && src != Source::Voltage;
    return c;
}

void ScopeCore::triggerSetupLocked(bool armed, Writes& out)
{
    for (auto& ch : channels_)
        ch.triggerFlag = 0;
    const int t = control_ >> 6;
    for (int n = 0; n < kChannels; ++n) {
        auto& cfg = state_[static_cast<std::size_t>(n)].config;
        cfg = static_cast<std::uint8_t>(armed ? (cfg | kCfgArmed) : (cfg & ~kCfgArmed));
        out.push_back({static_cast<std::uint8_t>(reg::kScopeChannelConfig + n), cfg});
    }
    if (!armed)
        return;

    const auto tt = static_cast<std::size_t>(t);
    const auto& st = state_[tt];
    const bool currentType = (st.config & kCfgCurrent) != 0;
    channels_[tt].triggerLevel = parseLevel(currentType ? currentLevel_ : voltageLevel_);
    channels_[tt].triggerFlag = 1;
    const int code = triggerLevelCodeLocked();
    out.push_back({reg::kScopeTriggerLow, static_cast<std::uint8_t>(code & 0xFF)});
    out.push_back({reg::kScopeTriggerHigh,
                   static_cast<std::uint8_t>(((code >> 8) & 0x7F) | (slopeMinus_ ? 0x80 : 0x00))});
    if (view_)
        view_->setSlopeIndicator(slopeMinus_ ? 1 : 0);
}

int ScopeCore::triggerLevelCodeLocked() const
{
    const auto tt = static_cast<std::size_t>(control_ >> 6);
    const auto& st = state_[tt];
    const bool currentType = (st.config & kCfgCurrent) != 0;
    const double level = parseLevel(currentType ? currentLevel_ : voltageLevel_);
    switch (st.source) {
    case Source::Voltage: return triggerCode(level, offsets_.voltage[tt], kVoltFullScale);
    case Source::Current: return triggerCode(level * -st.direction, offsets_.current[tt], kAmpFullScale);
    case Source::Icc: return triggerCode(level, offsets_.icc[tt], kAmpFullScale);
    }
    return 0x800;
}

void ScopeCore::applyTriggerSetup(bool armed)
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        triggerSetupLocked(armed, w);
    }
    sendTriggerSetup(w);
}

void ScopeCore::setTriggerOn(bool on)
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        triggerOn_ = on;
        updateTriggerControlsLocked();
        triggerSetupLocked(on, w);
        if (running_.load())
            w.push_back({reg::kScopeControl, control_});
    }
    sendTriggerSetup(w);
}

void ScopeCore::sendTriggerSetup(const Writes& w)
{
    // The board searches for the trigger anew from here: the state shown and
    // Auto's time-out start again with it (a trigger switched on while
    // sweeping freely is waited for, or forced, from now).
    std::function<void(TimePoint)> request;
    TimePoint at{};
    {
        std::lock_guard lk(mutex_);
        if (running_.load() && !parked_ && !w.empty()) {
            forced_ = false;
            startTriggerCycleLocked(std::chrono::steady_clock::now());
            requestTimerLocked(request, at);
        }
    }
    send(w);
    if (request)
        request(at);
}

bool ScopeCore::triggerOn() const
{
    std::lock_guard lk(mutex_);
    return triggerOn_;
}

void ScopeCore::setTriggerChannel(int t)
{
    t = std::clamp(t, 0, kChannels - 1);
    std::uint8_t control;
    {
        std::lock_guard lk(mutex_);
        control_ = static_cast<std::uint8_t>((control_ & 0x3F) | (t << 6));
        control = control_;
        updateTriggerControlsLocked();
    }
    if (running_.load()) {
        port_.queueWrite(reg::kScopeControl, control, link::WriteClass::Scope);
        port_.waitWriteDone(std::chrono::milliseconds(5000));
    }
    // Arm only when the trigger is switched on: picking a channel must not
    // start triggered acquisition behind an "ON" (= off) trigger button.
    Writes w;
    {
        std::lock_guard lk(mutex_);
        triggerSetupLocked(triggerOn_, w);
    }
    sendTriggerSetup(w);
}

int ScopeCore::triggerChannel() const
{
    std::lock_guard lk(mutex_);
    return control_ >> 6;
}

void ScopeCore::setSlopeMinus(bool minus)
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        slopeMinus_ = minus;
        triggerSetupLocked(triggerOn_, w);
    }
    sendTriggerSetup(w);
}

bool ScopeCore::slopeMinus() const
{
    std::lock_guard lk(mutex_);
    return slopeMinus_;
}

std::string ScopeCore::setVoltageLevelFromSlider(int position)
{
    std::lock_guard lk(mutex_);
    voltageSlider_ = std::clamp(position, 0, kVoltSliderMax);
    voltageLevel_ = formatLevel(sliderToLevel(voltageSlider_, kVoltLevelTop, kVoltSliderStep));
    return voltageLevel_;
}

std::string ScopeCore::setCurrentLevelFromSlider(int position)
{
    std::lock_guard lk(mutex_);
    currentSlider_ = std::clamp(position, 0, kAmpSliderMax);
    currentLevel_ = formatLevel(sliderToLevel(currentSlider_, kAmpLevelTop, kAmpSliderStep));
    return currentLevel_;
}

int ScopeCore::setVoltageLevelText(std::string_view text)
{
    Writes w;
    int pos;
    {
        std::lock_guard lk(mutex_);
        const double level = parseLevel(text);
        voltageLevel_ = formatLevel(level);
        voltageSlider_ = pos = levelToSlider(level, kVoltLevelTop, kVoltSliderStep, kVoltSliderMax);
        triggerSetupLocked(triggerOn_, w);
    }
    sendTriggerSetup(w);
    return pos;
}

int ScopeCore::setCurrentLevelText(std::string_view text)
{
    Writes w;
    int pos;
    {
        std::lock_guard lk(mutex_);
        const double level = parseLevel(text);
        currentLevel_ = formatLevel(level);
        currentSlider_ = pos = levelToSlider(level, kAmpLevelTop, kAmpSliderStep, kAmpSliderMax);
        triggerSetupLocked(triggerOn_, w);
    }
    sendTriggerSetup(w);
    return pos;
}

std::string ScopeCore::voltageLevelText() const
{
    std::lock_guard lk(mutex_);
    return voltageLevel_;
}

std::string ScopeCore::currentLevelText() const
{
    std::lock_guard lk(mutex_);
    return currentLevel_;
}

int ScopeCore::voltageSlider() const
{
    std::lock_guard lk(mutex_);
    return voltageSlider_;
}

int ScopeCore::currentSlider() const
{
    std::lock_guard lk(mutex_);
    return currentSlider_;
}

std::uint8_t ScopeCore::controlValue() const
{
    std::lock_guard lk(mutex_);
    return control_;
}

std::uint8_t ScopeCore::configByte(int n) const
{
    std::lock_guard lk(mutex_);
    return state_.at(static_cast<std::size_t>(n)).config;
}

// ---- trigger modes ------------------------------------------------------------

const char* triggerModeText(TriggerMode mode)
{
    switch (mode) {
    case TriggerMode::Auto: return "Auto";
    case TriggerMode::Normal: return "Normal";
    case TriggerMode::Single: return "Single";
    }
    return "Auto";
}

const char* triggerStateText(TriggerState state)
{
    switch (state) {
    case TriggerState::Stopped: return "Stop";
    case TriggerState::Waiting: return "Wait";
    case TriggerState::Armed: return "Armed";
    case TriggerState::Triggered: return "Trig'd";
    case TriggerState::Auto: return "Auto";
    case TriggerState::FreeRun: return "Run";
    }
    return "Stop";
}

void ScopeCore::setTimerRequest(std::function<void(TimePoint)> request)
{
    std::lock_guard lk(mutex_);
    timerRequest_ = std::move(request);
}

void ScopeCore::setTriggerMode(TriggerMode mode)
{
    std::lock_guard lk(mutex_);
    // Takes effect with the next sweep; a Single's sweep already taken stays
    // the last one until Run.
    triggerMode_ = mode;
}

TriggerMode ScopeCore::triggerMode() const
{
    std::lock_guard lk(mutex_);
    return triggerMode_;
}

double ScopeCore::setHoldoffMs(double ms)
{
    std::lock_guard lk(mutex_);
    holdoffMs_ = std::isfinite(ms) ? std::clamp(ms, 0.0, kMaxHoldoffMs) : 0.0;
    return holdoffMs_;
}

double ScopeCore::holdoffMs() const
{
    std::lock_guard lk(mutex_);
    return holdoffMs_;
}

std::chrono::steady_clock::duration ScopeCore::autoTimeoutLocked(double periodUs) const
{
    // A sweep's own duration and 100 ms more: a trigger that comes at all
    // comes within it.
    return std::chrono::milliseconds(100) +
           std::chrono::microseconds(static_cast<std::int64_t>(periodUs * double(kSamplesPerSweep)));
}

void ScopeCore::realTriggerWritesLocked(Writes& out) const
{
    for (int n = 0; n < kChannels; ++n)
        out.push_back({static_cast<std::uint8_t>(reg::kScopeChannelConfig + n), state_[static_cast<std::size_t>(n)].config});
    if (!(state_[static_cast<std::size_t>(control_ >> 6)].config & kCfgArmed))
        return;
    const int code = triggerLevelCodeLocked();
    out.push_back({reg::kScopeTriggerLow, static_cast<std::uint8_t>(code & 0xFF)});
    out.push_back({reg::kScopeTriggerHigh, static_cast<std::uint8_t>(((code >> 8) & 0x7F) | (slopeMinus_ ? 0x80 : 0x00))});
}

void ScopeCore::parkWritesLocked(Writes& out) const
{
    // Rising through 0xFFF: samples reach 0x800 + 511 at most.
    for (int n = 0; n < kChannels; ++n)
        out.push_back({static_cast<std::uint8_t>(reg::kScopeChannelConfig + n),
                       static_cast<std::uint8_t>(state_[static_cast<std::size_t>(n)].config | kCfgArmed)});
    out.push_back({reg::kScopeTriggerLow, 0xFF});
    out.push_back({reg::kScopeTriggerHigh, 0x0F});
}

void ScopeCore::forceWritesLocked(Writes& out) const
{
    for (int n = 0; n < kChannels; ++n)
        out.push_back({static_cast<std::uint8_t>(reg::kScopeChannelConfig + n),
                       static_cast<std::uint8_t>(state_[static_cast<std::size_t>(n)].config & ~kCfgArmed)});
}

void ScopeCore::startTriggerCycleLocked(TimePoint now)
{
    const bool armed = (state_[static_cast<std::size_t>(control_ >> 6)].config & kCfgArmed) != 0;
    triggerState_.store(static_cast<int>(armed ? TriggerState::Armed : TriggerState::FreeRun));
    autoAt_ = now + autoTimeoutLocked(kSampleRates[static_cast<std::size_t>(sampleRate_)].periodUs);
}

void ScopeCore::requestTimerLocked(std::function<void(TimePoint)>& request, TimePoint& at) const
{
    if (!running_.load() || !timerRequest_)
        return;
    const bool armed = (state_[static_cast<std::size_t>(control_ >> 6)].config & kCfgArmed) != 0;
    if (parked_) {
        at = rearmAt_;
    } else if (armed) {
        at = autoAt_; // Auto gives up waiting, Normal shows it waits
    } else {
        return;
    }
    request = timerRequest_;
}

void ScopeCore::sweepUploading()
{
    Writes w;
    {
        std::lock_guard lk(mutex_);
        if (!running_.load())
            return;
        if (triggerMode_ == TriggerMode::Single || holdoffMs_ > 0.0) {
            parkWritesLocked(w);
            parked_ = true;
        } else if (forced_) {
            realTriggerWritesLocked(w); // the forced sweep is under way: armed again for the next
        }
    }
    send(w);
}

void ScopeCore::onTimer(TimePoint now)
{
    Writes w;
    std::function<void(TimePoint)> request;
    TimePoint at{};
    {
        std::lock_guard lk(mutex_);
        if (!running_.load())
            return;
        const bool armed = (state_[static_cast<std::size_t>(control_ >> 6)].config & kCfgArmed) != 0;
        if (parked_) {
            if (now >= rearmAt_) {
                // Holdoff over: the trigger as set, which restarts the board's search.
                realTriggerWritesLocked(w);
                parked_ = false;
                startTriggerCycleLocked(now);
            }
        } else if (armed && now >= autoAt_) {
            if (triggerMode_ == TriggerMode::Auto && !forced_) {
                // No trigger in time: the board sweeps at once, armed again
                // when that sweep's upload begins.
                forceWritesLocked(w);
                forced_ = true;
            } else if (!forced_) {
                triggerState_.store(static_cast<int>(TriggerState::Armed));
            }
            autoAt_ = now + autoTimeoutLocked(kSampleRates[static_cast<std::size_t>(sampleRate_)].periodUs);
        }
        requestTimerLocked(request, at);
    }
    send(w);
    if (request)
        request(at);
}

// ---- reader thread ----------------------------------------------------------

void ScopeCore::arm()
{
    Writes w;
    std::function<void(TimePoint)> request;
    TimePoint at{};
    {
        std::lock_guard lk(mutex_);
        // Run went off before the arm came (switched off again, or a Single
        // ended by a sweep from before): the board stays stopped, as shown.
        if (!running_.load())
            return;
        awaitingArm_.store(false);
        for (int n = 0; n < kChannels; ++n)
            w.push_back({static_cast<std::uint8_t>(reg::kScopeChannelConfig + n), state_[static_cast<std::size_t>(n)].config});
        const auto div = kSampleRates[static_cast<std::size_t>(sampleRate_)].divider;
        w.push_back({reg::kScopeDividerLow, static_cast<std::uint8_t>(div & 0xFF)});
        w.push_back({reg::kScopeDividerHigh, static_cast<std::uint8_t>(div >> 8)});
        w.push_back({reg::kScopeLengthLow, 0xFF});
        w.push_back({reg::kScopeLengthHigh, 0x0F});
        w.push_back({reg::kScopeControl, control_});
        parked_ = false;
        forced_ = false;
        singleTaken_ = false;
        startTriggerCycleLocked(std::chrono::steady_clock::now());
        requestTimerLocked(request, at);
    }
    send(w);
    if (request)
        request(at);
}

std::uint8_t ScopeCore::processSweep(const CaptureAreas& areas, const CalibrationOffsets& offsets)
{
    if (!running_.load() || awaitingArm_.load())
        return 0x01; // only CH1's counter, as the board's upload order starts there

    std::uint8_t control;
    std::array<Source, kChannels> sources;
    std::array<double, kChannels> directions;
    double period;
    {
        std::lock_guard lk(mutex_);
        control = control_;
        for (std::size_t n = 0; n < kChannels; ++n) {
            sources[n] = state_[n].source;
            directions[n] = state_[n].direction;
        }
        period = kSampleRates[static_cast<std::size_t>(sampleRate_)].periodUs;
    }

    // Measuring alongside the conversion, when the observer will measure.
    MeasureDrive drive;
    const bool measure = observer_ && observer_->measureWhileConverting(drive);
    bool allMeasured = measure;

    std::uint8_t done = 0;
    for (std::size_t n = 0; n < kChannels; ++n) {
        if (!(control & (1u << n)))
            continue;
        // value = raw * scale(sign of raw) + add, with the direction folded in.
        double full = kAmpFullScale, sign = 1.0, add = 0.0;
        switch (sources[n]) {
        case Source::Voltage:
            full = kVoltFullScale;
            add = offsets.voltage[n];
            break;
        case Source::Current:
            sign = -directions[n];
            add = sign * offsets.current[n];
            break;
        case Source::Icc: add = offsets.icc[n]; break;
        }
        const double scale[2] = {sign * 2.0 / 511.0 * full, sign * 2.0 / 512.0 * full};
        frame_.scales[n] = {scale[0], scale[1], add};

        Trace& scratch = scratch_[n];
        if (scratch.size() != kSamplesPerSweep) {
            scratch.clear();
            scratch.resize(kSamplesPerSweep); // within capacity: no allocation
            scratchPeriod_[n] = 0.0;
        }
        const bool timesValid = scratchPeriod_[n] == period;
        const std::uint8_t* raw = areas[n].data();
        if (areas[n].size() < kCaptureBytes) {
            // A short block reads as zeros beyond its end.
            std::fill(shortBlock_[n].begin(), shortBlock_[n].end(), std::uint8_t{0});
            if (!areas[n].empty())
                std::copy(areas[n].begin(), areas[n].end(), shortBlock_[n].begin());
            raw = shortBlock_[n].data();
        }
        frame_.raw[n] = std::span<const std::uint8_t>(raw, kCaptureBytes);
        // The buffer is only ever overwritten in place, so its two contiguous
        // halves keep their layout and sample i stays where it was.
        bool measuredHere = false;
        if (measure) {
            // The figures from the codes, which measure as the values do;
            // the conversion then reads the codes already taken apart.
            const bool negated = scale[0] < 0.0;
            const SweepKeys keys = decodeKeys(raw, kSamplesPerSweep, negated, keys_.data());
            frame_.measurements[n] = measureKeys(keys, period, frame_.scales[n],
                                                 MeasureSetup{sources[n], drive.ioAmps, drive.excitation},
                                                 &keyLimits_[n]);
            measuredHere = frame_.measurements[n].samples > 0;
            const std::int16_t* k = keys_.data();
            if (negated)
                convertSweep(scratch, timesValid, period, scale, add, [k](std::size_t i) { return -k[i]; });
            else
                convertSweep(scratch, timesValid, period, scale, add, [k](std::size_t i) { return int{k[i]}; });
        } else {
            convertSweep(scratch, timesValid, period, scale, add, [raw](std::size_t i) { return sampleCode(raw, i); });
        }
        allMeasured = allMeasured && measuredHere;

        {
            std::lock_guard lk(channels_[n].traceMutex);
            channels_[n].trace.swap(scratch);
        }
        scratchPeriod_[n] = tracePeriod_[n];
        tracePeriod_[n] = period;
        done = static_cast<std::uint8_t>(done | (1u << n));
    }
    const std::uint64_t index = sweeps_.fetch_add(1) + 1;

    // Where the trigger goes from here.
    {
        Writes w;
        std::function<void(TimePoint)> request;
        TimePoint at{};
        {
            std::lock_guard lk(mutex_);
            const auto now = std::chrono::steady_clock::now();
            const bool armed = (state_[static_cast<std::size_t>(control_ >> 6)].config & kCfgArmed) != 0;
            TriggerState next = !armed ? TriggerState::FreeRun : forced_ ? TriggerState::Auto : TriggerState::Triggered;
            forced_ = false;
            if (!running_.load()) {
                // Run went off while this sweep was converted: the stop's
                // state stands, or the window would show Run on a stopped
                // board.
                next = TriggerState::Stopped;
            } else if (awaitingArm_.load()) {
                // Run went off and on again while this sweep, from before,
                // was converted: the new Run's arm decides what comes next.
                next = static_cast<TriggerState>(triggerState_.load());
            } else if (triggerMode_ == TriggerMode::Single) {
                // One sweep, then stop: no later sweep reaches the traces.
                singleTaken_ = true;
                w.push_back({reg::kScopeControl, static_cast<std::uint8_t>(control_ & 0xF0)});
                next = TriggerState::Stopped;
                triggerState_.store(static_cast<int>(next)); // before Run goes off, as in setRunning()
                running_.store(false);
            } else if (parked_) {
                rearmAt_ = now + std::chrono::microseconds(static_cast<std::int64_t>(holdoffMs_ * 1000.0));
                next = TriggerState::Waiting;
            } else {
                autoAt_ = now + autoTimeoutLocked(period);
            }
            triggerState_.store(static_cast<int>(next));
            requestTimerLocked(request, at);
        }
        send(w);
        if (request)
            request(at);
    }

    if (observer_) {
        frame_.index = index;
        frame_.channels = done;
        frame_.periodUs = period;
        frame_.sources = sources;
        frame_.measured = allMeasured;
        for (std::size_t n = 0; n < kChannels; ++n) {
            frame_.traces[n] = &channels_[n].trace;
            if (!(done & (1u << n))) frame_.raw[n] = {}; // not this sweep's: may be gone
        }
        observer_->onSweep(frame_);
    }
    return done;
}

} // namespace zelbo::scope
