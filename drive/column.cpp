#include "drive/column.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "common/number_text.h"
#include "drive/clock.h"

namespace zelbo::drive {

namespace {

const ColumnSpec kSpecs[3] = {
    {3.0, 0.01, "3.00", "0.00", "0.01", 300, 6, false},
    {3.5, 0.01, "3.50", "0.00", "0.01", 350, 7, false},
    {100000.0, 10.0, "1000", "0", "10", 100, 10, true},
};

int clampToInt(long long v, int lo, int hi)
{
    return static_cast<int>(std::clamp<long long>(v, lo, hi));
}

} // namespace

const ColumnSpec& columnSpec(ColumnId id) { return kSpecs[static_cast<int>(id)]; }

std::string rangeError(ColumnId id, double v)
{
    static const char* const names[] = {"VREF", "MTH", "CLK"};
    const ColumnSpec& spec = columnSpec(id);
    const bool clock = id == ColumnId::Clk;
    const double lo = clock ? kClockMinHz : 0.0;
    const double hi = spec.absoluteMax;
    if (std::isfinite(v) && v >= lo - 1e-12 && v <= hi + 1e-9) return {};
    const std::string unit = clock ? " Hz" : " V";
    const std::string text = std::isnan(v) ? "nan" : std::isinf(v) ? (v > 0 ? "inf" : "-inf") : exactText(v);
    return std::string(names[static_cast<int>(id)]) + " " + text + unit + " is out of range (" +
           exactText(lo) + " to " + exactText(hi) + unit + ").";
}

Column::Column(ColumnId id) : id_(id), spec_(&columnSpec(id)), name_(columnName(id)) { reset(); }

const std::string& Column::limitText(Limit which) const
{
    switch (which) {
    case Limit::Max: return maxText_;
    case Limit::Step: return stepText_;
    case Limit::Min: break;
    }
    return minText_;
}

void Column::setLimitText(Limit which, std::string text)
{
    switch (which) {
    case Limit::Max: maxText_ = std::move(text); return;
    case Limit::Step: stepText_ = std::move(text); return;
    case Limit::Min: minText_ = std::move(text); return;
    }
}

double Column::max() const { return parseNumberK(maxText_); }
double Column::min() const { return parseNumberK(minText_); }

double Column::step() const
{
    const double s = parseNumberK(stepText_);
    // A zero, negative or infinite step would divide the grid by zero or
    // collapse it; such a text can only come from a settings file that was
    // edited by hand, since the STEP field itself never keeps one.
    if (!(s > 0.0) || !std::isfinite(s)) return spec_->resolution;
    return s;
}

std::string Column::format(double v) const
{
    return spec_->frequency ? formatFrequency(v) : formatVolts(v);
}

void Column::showValue(double v)
{
    std::string text = format(v);
    if (text != valueText_) valueText_ = std::move(text);
}

void Column::setSliderRange(int max)
{
    sliderMax_ = std::max(0, max);
    setSliderPosition(sliderPos_);
}

void Column::setSliderPosition(int pos) { sliderPos_ = std::clamp(pos, 0, sliderMax_); }

const char* columnName(ColumnId id)
{
    switch (id) {
    case ColumnId::Vref: return "VREF";
    case ColumnId::Mth: return "MTH";
    case ColumnId::Clk: return "CLK";
    }
    return "";
}

double Column::commit()
{
    note_.clear();
    const auto read = readNumber(valueText_, true);
    double v = read.value_or(value_);
    const double hi = max();
    const double lo = min();
    const double s = step();
    auto shown = [this](double x) {
        const std::string t = format(x);
        return t + (!spec_->frequency ? " V" : t.back() == 'k' ? "Hz" : " Hz");
    };
    if (!read) {
        note_ = name_ + ": \"" + valueText_.substr(0, 40) + "\" holds no number; kept " +
                shown(value_) + ".";
    } else if (v > hi) {
        note_ = name_ + ": " + valueText_.substr(0, 40) + " is above MAX; limited to " +
                shown(hi) + ".";
    } else if (v < lo) {
        note_ = name_ + ": " + valueText_.substr(0, 40) + " is below MIN; limited to " +
                shown(lo) + ".";
    }
    if (v > hi) v = hi;
    if (v < lo) v = lo;
    const double clamped = v;
    v = std::floor(v / s + 0.5) * s;
    // Rounding to the grid must not carry the value back out of its limits
    // (a MAX that is not a multiple of STEP would otherwise let VREF exceed
    // its absolute maximum). Step back onto the nearest grid point inside.
    // A limit that lies on the grid itself comes back from the rounding off
    // by floating-point noise (35 x 0.01 is a hair above 0.35): that is the
    // limit, not a step beyond it.
    const double noise = s * 1e-6;
    if (v > hi && v - hi <= noise) v = hi;
    if (v < lo && lo - v <= noise) v = lo;
    if (v > hi) v -= s;
    if (v < lo) v += s;
    if (v > hi || v < lo || !std::isfinite(v)) v = clamped;
    if (!std::isfinite(v)) v = 0.0;
    const long long n = truncTolerant((1.0 / s) * (v - lo));
    setSliderPosition(clampToInt(sliderMax_ - std::clamp<long long>(n, 0, INT_MAX), 0, INT_MAX));
    value_ = v;
    showValue(v);
    return v;
}

double Column::fromSlider(int pos)
{
    setSliderPosition(pos);
    const int n = sliderMax_ - sliderPos_;
    double v = step() * n + min();
    if (!std::isfinite(v)) v = 0.0;
    value_ = v;
    showValue(v);
    return v;
}

namespace {
const char* limitName(Limit which)
{
    switch (which) {
    case Limit::Max: return "MAX";
    case Limit::Step: return "STEP";
    case Limit::Min: break;
    }
    return "MIN";
}
} // namespace

void Column::validate(Limit which)
{
    note_.clear();
    std::string* good[3] = {&goodMax_, &goodStep_, &goodMin_};
    std::string& last = *good[static_cast<int>(which)];
    const std::string typed = limitText(which);
    const auto read = readNumber(typed, true);
    if (!read || !std::isfinite(*read)) {
        // Garbage is not 0: the limit stays what it was.
        const double fallback = which == Limit::Max    ? spec_->absoluteMax
                                : which == Limit::Step ? spec_->resolution
                                                       : 0.0;
        const std::string kept = readNumber(last, true) ? last : format(fallback);
        note_ = name_ + " " + limitName(which) + ": \"" + typed.substr(0, 40) + "\" is not a number; kept " + kept +
                ".";
        setLimitText(which, kept);
    }
    double hi = max();
    double lo = min();
    double s = parseNumberK(stepText_);
    const double a = spec_->absoluteMax;
    const double r = spec_->resolution;
    double edited = 0.0;
    switch (which) {
    case Limit::Max:
        if (hi > a || hi < lo) hi = a;
        edited = hi;
        break;
    case Limit::Min:
        if (lo < 0.0 || lo > hi) lo = 0.0;
        edited = lo;
        break;
    case Limit::Step: {
        double g = std::floor(s / r + 0.5) * r;
        if (!std::isfinite(g) || g > hi - lo || g < r) g = r;
        s = g;
        edited = s;
        break;
    }
    }
    const std::string text = format(edited);
    if (note_.empty() && read && format(*read) != text)
        note_ = name_ + " " + limitName(which) + ": " + typed.substr(0, 40) + " is out of range; set to " + text + ".";
    if (text != limitText(which)) setLimitText(which, text);
    goodMax_ = maxText_;
    goodStep_ = stepText_;
    goodMin_ = minText_;

    const double span = (max() - min()) / step();
    const int range = clampToInt(truncTolerant(std::isfinite(span) ? span : 0.0), 0, INT_MAX);
    setSliderRange(range);
    page_ = range / spec_->pageDivisor;
}

void Column::reset()
{
    maxText_ = spec_->resetMax;
    minText_ = spec_->resetMin;
    stepText_ = spec_->resetStep;
    goodMax_ = maxText_;
    goodStep_ = stepText_;
    goodMin_ = minText_;
    sliderMax_ = spec_->resetRange;
    page_ = sliderMax_ / spec_->pageDivisor;
    sliderPos_ = sliderMax_;
    value_ = 0.0;
}

void Column::refreshFromSlider()
{
    const int r = sliderMax_;
    const int pos = sliderPos_;
    switch (id_) {
    case ColumnId::Mth:
    case ColumnId::Vref: {
        const double top = id_ == ColumnId::Mth ? 3.5 : 3.0;
        const double v = r > 0 ? top / r * (r - pos) : 0.0;
        if (id_ == ColumnId::Vref) value_ = v;
        showValue(v);
        return;
    }
    case ColumnId::Clk: {
        // Display only: the clock frequency itself is whatever the reset set.
        std::string text = r == 100 ? formatFixed((100 - pos) * 10.0, 0)
                                    : formatFixed(((r - pos) + 10) * 100.0 / 1000.0, 1) + " k";
        if (text != valueText_) valueText_ = std::move(text);
        return;
    }
    }
}

} // namespace zelbo::drive
