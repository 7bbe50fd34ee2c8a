// Any bytes as a monitor step list: the reader must finish, keep within the
// list's 256 rows, split only at commas and line ends, and what it accepted
// (empty cells included) must survive a write and a second read unchanged.
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

    // Every row up to the first without a VREF, empty cells and all, is what
    // a write keeps, and it reads back the same.
    std::vector<StepRow> kept;
    for (const StepRow& r : read.rows) {
        if (r.vref.empty()) break;
        kept.push_back(r);
    }
    const StepListRead again = parseStepList(formatStepList(kept));
    if (again.incomplete || again.rows != kept) std::abort();
    return 0;
}
