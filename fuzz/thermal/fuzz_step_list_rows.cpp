// Any grid as the monitor holds it, written as a step list and read back:
// the rows up to the first without a VREF come back cell for cell, whatever
// cells are empty, and the reader never reports a line of its own file as
// incomplete. The input is split into cells at NUL bytes and into rows at
// 0x01; commas and line ends, which a cell cannot hold, are dropped.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "thermal/step_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zelbo::thermal;
    std::vector<StepRow> rows(1);
    std::size_t cell = 0;
    auto cellOf = [](StepRow& r, std::size_t c) -> std::string& {
        switch (c) {
        case 0: return r.vref;
        case 1: return r.mth;
        case 2: return r.ps;
        case 3: return r.mode0;
        default: return r.mode1;
        }
    };
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            if (++cell == 5) {
                rows.emplace_back();
                cell = 0;
            }
        } else if (c == '\x01') {
            rows.emplace_back();
            cell = 0;
        } else if (c != ',' && c != '\r' && c != '\n') {
            cellOf(rows.back(), cell) += c;
        }
    }

    std::vector<StepRow> kept;
    for (const StepRow& r : rows) {
        if (r.vref.empty() || kept.size() == kMaxSteps) break;
        kept.push_back(r);
    }
    const StepListRead back = parseStepList(formatStepList(rows));
    if (back.incomplete || back.rows != kept) std::abort();
    return 0;
}
