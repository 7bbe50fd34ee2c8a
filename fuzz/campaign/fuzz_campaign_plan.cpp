// The campaign plan reader on any bytes: a plan or a message with a line,
// never both, never neither; what it accepts is within its stated bounds.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "campaign/plan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto r = zelbo::campaign::readPlan(text, "f");
    if (r.plan.has_value() == !r.error.empty()) std::abort();
    if (!r.plan) {
        if (r.error.rfind("f:", 0) != 0) std::abort();
        return 0;
    }
    const auto& p = *r.plan;
    if (p.pointCount() == 0 || p.pointCount() > zelbo::campaign::kMaxPoints) std::abort();
    if (p.measures.empty() || p.measures.size() > zelbo::campaign::kMaxMeasures) std::abort();
    if (p.capture.sweeps < 1 || p.capture.sweeps > zelbo::campaign::kMaxSweeps) std::abort();
    // Every limit has a value at every point (the reader checked it).
    for (const auto& pt : p.points())
        for (const auto& m : p.measures) {
            const auto [lo, hi] = m.limit.band(pt.vars);
            if (std::isnan(lo) || std::isnan(hi) || lo > hi) std::abort();
        }
    return 0;
}
