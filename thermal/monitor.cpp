#include "thermal/monitor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "common/number_text.h"
#include "thermal/thermometer.h"

namespace zelbo::thermal {

using zelbo::formatFixed;
using zelbo::parseNumberK;

int pinFlag(std::string_view cell)
{
    if (cell.size() != 2) return 1;
    const bool lo = std::toupper(static_cast<unsigned char>(cell[0])) == 'L' &&
                    std::toupper(static_cast<unsigned char>(cell[1])) == 'O';
    return lo ? 0 : 1;
}

int divisorOfIndex(int index)
{
    return kDivideSteps - std::clamp(index, 0, kDivideSteps - 1);
}

std::string divideText(int index)
{
    return "1 / " + std::to_string(divisorOfIndex(index));
}

double clampRnf(double ohms)
{
    if (std::isnan(ohms)) return kMinRnf;
    return std::clamp(ohms, kMinRnf, kMaxRnf);
}

std::string rnfFieldText(std::string_view entered)
{
    return formatFixed(clampRnf(parseNumberK(entered)), 2);
}

std::string elapsedText(std::uint64_t seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                  static_cast<unsigned>((seconds / 60) % 60), static_cast<unsigned>(seconds % 60));
    return buf;
}

double ioMilliamps(double vrefVolts, double rnfOhms, int divisor)
{
    // The record's values come from clamped fields; a zero here would only
    // come from a caller's slip, and must not become an infinite current.
    const double rnf = clampRnf(rnfOhms);
    const int d = std::clamp(divisor, 1, kDivideSteps);
    return vrefVolts / rnf / d * 1000.0;
}

std::string minutesText(double minutes)
{
    if (!std::isfinite(minutes)) minutes = 0.0;
    std::string t = formatFixed(minutes, 4);
    if (t.find('.') != std::string::npos) {
        while (t.back() == '0') t.pop_back();
        if (t.back() == '.') t.pop_back();
    }
    if (t == "-0") t = "0";
    return t;
}

StepRecord makeStepRecord(const StepRow& row, double rnfOhms, int divisor, double minutes)
{
    StepRecord r;
    r.kind = 0;
    r.vrefText = row.vref;
    r.mthText = row.mth;
    r.ps = pinFlag(row.ps);
    r.mode0 = pinFlag(row.mode0);
    r.mode1 = pinFlag(row.mode1);
    r.rnf = clampRnf(rnfOhms);
    r.divisor = std::clamp(divisor, 1, kDivideSteps);
    r.minutes = minutes;
    return r;
}

// ---- log --------------------------------------------------------------------

void TemperatureLog::logStep(double vrefVolts, const StepRecord& record, double tj, double vf)
{
    LogRow row;
    // Each step lasts the same minutes: the row's index times them is the
    // time it ended at (after the start-up second).
    row.time = minutesText(static_cast<double>(rows_.size()) * record.minutes);
    row.io = formatFixed(ioMilliamps(vrefVolts, record.rnf, record.divisor), 0);
    row.temp = formatFixed(tj, 2);
    row.vf = formatFixed(vf, 0);
    rows_.push_back(std::move(row));
}

void TemperatureLog::logStep(double vrefVolts, const StepRecord& record, const Thermometer& thermometer)
{
    const std::optional<Reading> r = thermometer.last();
    logStep(vrefVolts, record, r ? r->tjCelsius : 0.0, r ? r->vfMillivolts : 0.0);
}

void TemperatureLog::finish()
{
    if (rows_.empty()) return;
    rows_.erase(rows_.begin());
    std::stable_sort(rows_.begin(), rows_.end(), [](const LogRow& x, const LogRow& y) {
        return zelbo::parseLeadingNumber(x.io) < zelbo::parseLeadingNumber(y.io);
    });
}

// ---- run --------------------------------------------------------------------

const char* MonitorRun::errorText(StartError e)
{
    switch (e) {
    case StartError::NoTime: return "Please indicate Time value.";
    case StartError::NoRnf: return "Please indicate RNF Register value.";
    case StartError::EmptyList: return "Dynamic sequence is empty.";
    case StartError::None: break;
    }
    return "";
}

MonitorRun::StartError MonitorRun::start(std::vector<StepRow> rows, std::string_view timeText,
                                         std::string_view rnfText, int divideIndex)
{
    // A field that holds no number is as good as an empty one.
    if (!readNumber(timeText, true)) return StartError::NoTime;
    if (!readNumber(rnfText, true)) return StartError::NoRnf;
    // The list ends at the first row without a VREF.
    auto end = std::find_if(rows.begin(), rows.end(), [](const StepRow& r) { return r.vref.empty(); });
    rows.erase(end, rows.end());
    if (rows.size() > kMaxSteps) rows.resize(kMaxSteps);
    if (rows.empty()) return StartError::EmptyList;

    rows_ = std::move(rows);
    next_ = 0;
    rnf_ = clampRnf(parseNumberK(rnfText));
    divisor_ = divisorOfIndex(divideIndex);
    // A negative time steps at once rather than never.
    const double minutes = std::max(0.0, parseNumberK(timeText));
    minutes_ = std::isfinite(minutes) ? minutes : 0.0;
    const double ms = std::min(minutes * secondsPerMinute_ * 1000.0, 1e12);
    interval_ = std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(ms)));
    last_.reset();
    running_ = true;
    return StartError::None;
}

MonitorRun::Step MonitorRun::nextStep()
{
    Step s;
    if (!running_ || next_ >= rows_.size()) {
        s.final = true;
        if (last_) s.record = *last_;
        else s.record = makeStepRecord(StepRow{}, rnf_, divisor_, minutes_);
        running_ = false;
        return s;
    }
    s.record = makeStepRecord(rows_[next_], rnf_, divisor_, minutes_);
    s.next = interval_;
    last_ = s.record;
    ++next_;
    return s;
}

void MonitorRun::stop()
{
    running_ = false;
}

} // namespace zelbo::thermal
