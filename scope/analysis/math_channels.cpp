#include "scope/analysis/math_channels.h"

#include <cmath>

namespace zelbo::scope::analysis {

namespace {
const std::uint32_t kColours[kMathChannels] = {0xFF8B008B, 0xFF008080}; // dark magenta, teal
}

MathChannelSet::MathChannelSet()
{
    for (std::size_t m = 0; m < channels_.size(); ++m) {
        channels_[m].colour = kColours[m];
        channels_[m].unit.clear();
        scratch_[m].set_capacity(kSamplesPerSweep);
    }
}

std::shared_ptr<const MathExpression> MathChannelSet::program(int index) const
{
    std::lock_guard lock(mutex_);
    return programs_.at(static_cast<std::size_t>(index));
}

bool MathChannelSet::apply(int index, const MathChannelSetup& setup, const std::array<Source, kChannels>& sources,
                           std::string* error)
{
    if (index < 0 || index >= kMathChannels) {
        if (error) *error = "There are two math channels.";
        return false;
    }
    const auto m = static_cast<std::size_t>(index);
    std::shared_ptr<const MathExpression> compiled;
    MathChannelSetup s = setup;
    if (s.expression.find_first_not_of(" \t") == std::string::npos) {
        s.on = false;
        s.expression.clear();
    } else {
        std::array<Unit, kChannels> units{};
        for (std::size_t k = 0; k < units.size(); ++k) units[k] = unitOf(sources[k]);
        auto e = MathExpression::parse(s.expression, units, error);
        if (!e) return false;
        s.expression = e->text();
        compiled = std::make_shared<const MathExpression>(std::move(*e));
    }
    if (!(s.valuePerDiv > 0.0) || !std::isfinite(s.valuePerDiv)) s.valuePerDiv = 1.0;
    setups_[m] = s;
    ScopeChannel& ch = channels_[m];
    ch.unit = compiled ? compiled->unit().text() : std::string();
    ch.label = s.label.substr(0, 7);
    // value/div is kept in hundredths of the unit, as for the real channels.
    ch.valuePerDiv = s.valuePerDiv * 100.0;
    ch.valuePerDivText = formatFigure(s.valuePerDiv, ch.unit);
    ch.verticalPosition = s.position;
    {
        std::lock_guard lock(mutex_);
        programs_[m] = s.on ? compiled : nullptr;
        latest_[m] = Measurement{};
    }
    return true;
}

void MathChannelSet::onSweep(const SweepFrame& frame)
{
    for (std::size_t m = 0; m < channels_.size(); ++m) {
        std::shared_ptr<const MathExpression> e;
        {
            std::lock_guard lock(mutex_);
            e = programs_[m];
        }
        if (!e) continue;
        // Every channel it reads must have been converted in this sweep.
        const std::uint8_t used = e->channelsUsed();
        if ((frame.channels & used) != used) continue;
        std::size_t n = kSamplesPerSweep;
        const Trace* timeBase = nullptr;
        for (std::size_t k = 0; k < kChannels; ++k)
            if (used & (1u << k)) {
                n = std::min(n, frame.traces[k] ? frame.traces[k]->size() : 0);
                if (!timeBase) timeBase = frame.traces[k];
            }
        Trace& out = scratch_[m];
        out.clear();
        std::array<double, kChannels> x{};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < kChannels; ++k)
                if (used & (1u << k)) x[k] = (*frame.traces[k])[i].second;
            const double t = timeBase ? (*timeBase)[i].first : static_cast<double>(i) * frame.periodUs;
            out.push_back({t, e->evaluate(x)});
        }
        const auto one = out.array_one(), two = out.array_two();
        const Measurement figures =
            measure(std::span<const TracePoint>(one.first, one.second), std::span<const TracePoint>(two.first, two.second),
                    MeasureSetup{});
        {
            std::lock_guard lock(channels_[m].traceMutex);
            channels_[m].trace.swap(out);
        }
        std::lock_guard lock(mutex_);
        latest_[m] = figures;
    }
}

Measurement MathChannelSet::latest(int index) const
{
    std::lock_guard lock(mutex_);
    return latest_.at(static_cast<std::size_t>(index));
}

} // namespace zelbo::scope::analysis
