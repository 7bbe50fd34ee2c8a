#include "scope/record/sweep_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "scope/record/recording_format.h"

namespace zelbo::scope {

std::pair<std::string, double> timeUnitOf(const std::string& timeBase)
{
    auto ends = [&](const std::string& s) {
        return timeBase.size() >= s.size() && timeBase.compare(timeBase.size() - s.size(), s.size(), s) == 0;
    };
    if (ends("ns")) return {"ns", 1e-3};
    if (ends("µs") || ends("us")) return {"µs", 1.0};
    if (ends("ms")) return {"ms", 1e3};
    if (ends("s")) return {"s", 1e6};
    return {"µs", 1.0};
}

std::string formatNumber(double v)
{
    if (!std::isfinite(v)) return "";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

namespace {

std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::size_t longest(const ExportSweep& sweep)
{
    std::size_t n = 0;
    for (const auto& c : sweep.channels) n = std::max(n, c.points.size());
    return n;
}

} // namespace

std::string sweepCsv(const ExportSweep& sweep)
{
    const auto [unit, usPerUnit] = timeUnitOf(sweep.timeBase);
    std::string out = csvField("Time (" + unit + ")");
    for (const auto& c : sweep.channels) {
        const std::string name = c.label.empty() ? c.key : c.key + " " + c.label;
        out += "," + csvField(name + " (" + c.unit + ")");
    }
    out += "\n";
    const std::size_t rows = longest(sweep);
    for (std::size_t i = 0; i < rows; ++i) {
        // The time of the first channel that has this row (all share the period).
        double t = static_cast<double>(i) * sweep.samplePeriodUs;
        for (const auto& c : sweep.channels)
            if (i < c.points.size()) {
                t = c.points[i].first;
                break;
            }
        out += formatNumber(t / usPerUnit);
        for (const auto& c : sweep.channels) {
            out += ",";
            if (i < c.points.size()) out += formatNumber(c.points[i].second);
        }
        out += "\n";
    }
    return out;
}

std::string sweepJson(const ExportSweep& sweep)
{
    using recording::jsonString;
    const auto [unit, usPerUnit] = timeUnitOf(sweep.timeBase);
    auto num = [](double v) {
        const std::string s = formatNumber(v);
        return s.empty() ? std::string("null") : s;
    };
    std::string out = "{\n";
    out += "  \"timeBase\": " + jsonString(sweep.timeBase) + ",\n";
    out += "  \"samplingRate\": " + jsonString(sweep.samplingRate) + ",\n";
    out += "  \"samplePeriodUs\": " + num(sweep.samplePeriodUs) + ",\n";
    out += "  \"trigger\": " + jsonString(sweep.trigger) + ",\n";
    out += "  \"timeUnit\": " + jsonString(unit) + ",\n";
    out += "  \"time\": [";
    const std::size_t rows = longest(sweep);
    for (std::size_t i = 0; i < rows; ++i) {
        double t = static_cast<double>(i) * sweep.samplePeriodUs;
        for (const auto& c : sweep.channels)
            if (i < c.points.size()) {
                t = c.points[i].first;
                break;
            }
        out += (i ? "," : "") + num(t / usPerUnit);
    }
    out += "],\n  \"channels\": [";
    for (std::size_t k = 0; k < sweep.channels.size(); ++k) {
        const auto& c = sweep.channels[k];
        out += k ? ",\n    {" : "\n    {";
        out += "\"key\": " + jsonString(c.key) + ", \"label\": " + jsonString(c.label) +
               ", \"unit\": " + jsonString(c.unit) + ", \"source\": " + jsonString(c.source) +
               ", \"output\": " + jsonString(c.output) + ", \"valuePerDiv\": " + jsonString(c.valuePerDiv);
        if (!c.expression.empty()) out += ", \"expression\": " + jsonString(c.expression);
        out += ", \"samples\": [";
        for (std::size_t i = 0; i < c.points.size(); ++i) out += (i ? "," : "") + num(c.points[i].second);
        out += "]}";
    }
    out += "\n  ]\n}\n";
    return out;
}

} // namespace zelbo::scope
