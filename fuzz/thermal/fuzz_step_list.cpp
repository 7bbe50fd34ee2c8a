// Any bytes as a monitor step list: the reader must finish, keep within the
// list's 256 rows, split only at commas and line ends, and what it accepted
// must survive a write and a second read unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "thermal/step_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zelbo::thermal;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const StepListRead read = parseStepList(text);
    if (read.rows.size() > kMaxSteps) std::abort();
    for (const StepRow& r : read.rows)
        for (const std::string* c : {&r.vref, &r.mth, &r.ps, &r.mode0, &r.mode1})
            if (c->find_first_of(",\r\n") != std::string::npos) std::abort();

    // Whole rows up to the first without a VREF are what a write keeps.
    std::vector<StepRow> whole;
    for (const StepRow& r : read.rows) {
        if (r.vref.empty() || r.mth.empty() || r.ps.empty() || r.mode0.empty() || r.mode1.empty()) break;
        whole.push_back(r);
    }
    const StepListRead again = parseStepList(formatStepList(whole));
    if (again.incomplete || again.rows != whole) std::abort();
    return 0;
}
