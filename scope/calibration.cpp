#include "scope/calibration.h"

#include "scope/scope_tables.h"

namespace zelbo::scope {

namespace {

using namespace std::chrono_literals;

double sampleValue(const std::span<const std::uint8_t>& area, std::size_t i, double fullScale)
{
    const std::size_t at = 2 * i;
    if (at + 1 >= area.size()) return scaleRaw(0, fullScale);
    return scaleRaw(decodeSample(area[at], area[at + 1]), fullScale);
}

} // namespace

Calibration::Calibration(link::CommandPort& port, MessageService& messages, CalibrationHooks hooks)
    : port_(port), messages_(messages), hooks_(std::move(hooks))
{
}

std::array<double, kChannels> Calibration::measureVoltage(const CaptureAreas& areas)
{
    std::array<double, kChannels> out{};
    double m = 0.0;
    for (std::size_t n = 0; n < kChannels; ++n) {
        for (std::size_t i = 0; i < kSamplesPerSweep; ++i) m = (m + sampleValue(areas[n], i, kVoltFullScale)) * 0.5;
        out[n] = m;
    }
    return out;
}

std::array<double, kChannels> Calibration::measureMean(const CaptureAreas& areas)
{
    std::array<double, kChannels> out{};
    for (std::size_t n = 0; n < kChannels; ++n) {
        double sum = 0.0;
        for (std::size_t i = 0; i < kSamplesPerSweep; ++i) sum += sampleValue(areas[n], i, kAmpFullScale);
        out[n] = sum * 0.000244140625; // / 4096
    }
    return out;
}

void Calibration::writeSources(std::uint8_t config)
{
    for (int n = 0; n < kChannels; ++n)
        port_.queueWrite(static_cast<std::uint8_t>(reg::kScopeChannelConfig + n), config, link::WriteClass::Scope);
    port_.queueWrite(reg::kScopeDividerLow, 0x00, link::WriteClass::Scope);
    port_.queueWrite(reg::kScopeDividerHigh, 0x00, link::WriteClass::Scope);
}

bool Calibration::start()
{
    if (calibrating()) return false;
    if (hooks_.dropPins) hooks_.dropPins();
    port_.pause(500ms);
    if (hooks_.purgeInput) hooks_.purgeInput();
    if (hooks_.scopeRunning && hooks_.scopeRunning()) {
        // The pins went to 0 V above: they go back before the refusal, or
        // the board would keep the driver off while the window shows it on.
        if (hooks_.reapplyPins) hooks_.reapplyPins();
        messages_.show(kCalibrationRefused, kAppCaption, MsgIcon::Information);
        return false;
    }
    if (hooks_.disableControls) hooks_.disableControls();

    {
        std::lock_guard lk(mutex_);
        result_.reset();
        measured_ = offsets_;
        step_.store(1);
        stepStarted_ = Clock::now();
    }
    if (hooks_.clearCaptures) hooks_.clearCaptures();
    writeSources(kCalVoltageConfig);
    port_.waitWriteDone(5000ms);
    port_.queueWrite(reg::kScopeControl, 0x0F, link::WriteClass::Scope);
    port_.waitWriteDone(5000ms);
    std::lock_guard lk(mutex_);
    stepStarted_ = Clock::now(); // the step's sweeps start now
    return true;
}

void Calibration::runStep(const CaptureAreas& areas)
{
    std::lock_guard lk(mutex_);
    const int s = step_.load();
    if (s == 0) return; // timed out meanwhile

    // On the reader thread: send what is queued ourselves instead of waiting
    // for the reader to do it.
    port_.queueWrite(reg::kScopeControl, 0x00, link::WriteClass::Scope);
    port_.flushCommands();
    switch (s) {
    case 1: {
        const auto m = measureVoltage(areas);
        for (std::size_t n = 0; n < kChannels; ++n) measured_.voltage[n] = -m[n];
        break;
    }
    case 2: {
        const auto m = measureMean(areas);
        for (std::size_t n = 0; n < kChannels; ++n) measured_.current[n] = -m[n];
        break;
    }
    default: {
        const auto m = measureMean(areas);
        for (std::size_t n = 0; n < kChannels; ++n) measured_.icc[n] = -m[n];
        step_.store(0);
        result_ = measured_;
        if (hooks_.finishLater) hooks_.finishLater();
        return;
    }
    }
    writeSources(s == 1 ? kCalCurrentConfig : kCalIccConfig);
    port_.flushCommands();
    if (hooks_.clearCaptures) hooks_.clearCaptures();
    step_.store(s + 1);
    port_.queueWrite(reg::kScopeControl, 0x0F, link::WriteClass::Scope);
    port_.flushCommands();
    stepStarted_ = Clock::now();
}

bool Calibration::poll(Clock::time_point now)
{
    if (!calibrating()) return false;
    {
        std::lock_guard lk(mutex_);
        if (step_.load() == 0 || now - stepStarted_ <= kStepTimeout) return false;
        step_.store(0);
        result_.reset();
    }
    port_.queueWrite(reg::kScopeControl, 0x00, link::WriteClass::Scope);
    if (hooks_.restoreControls) hooks_.restoreControls();
    messages_.show(kCalibrationTimedOut, kCalibrationCaption, MsgIcon::Warning);
    if (hooks_.reapplyPins) hooks_.reapplyPins();
    return true;
}

bool Calibration::abort(bool toBoard)
{
    {
        std::lock_guard lk(mutex_);
        if (step_.load() == 0 && !result_) return false;
        step_.store(0);
        result_.reset();
    }
    if (toBoard) port_.queueWrite(reg::kScopeControl, 0x00, link::WriteClass::Scope);
    if (hooks_.restoreControls) hooks_.restoreControls();
    return true;
}

void Calibration::finish()
{
    std::optional<CalibrationOffsets> result;
    {
        std::lock_guard lk(mutex_);
        result.swap(result_);
    }
    if (!result) return;
    offsets_ = *result;
    if (hooks_.offsetsChanged) hooks_.offsetsChanged(offsets_);
    if (hooks_.restoreControls) hooks_.restoreControls();
    messages_.show(kCalibrationCompleted, kCalibrationCaption, MsgIcon::Information);
    if (hooks_.reapplyPins) hooks_.reapplyPins();
}

} // namespace zelbo::scope
