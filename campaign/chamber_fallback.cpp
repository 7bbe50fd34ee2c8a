// Stand-ins for a build without chamber support: no chamber can be opened,
// so a plan with temperatures is refused before the board is touched.
#include "campaign/chamber.h"
#include "campaign/soak.h"

namespace zelbo::campaign {

std::unique_ptr<Chamber> openCaloraChamber(const std::string&, std::string* error)
{
    if (error) *error = "chamber support not built";
    return nullptr;
}

SoakResult settle(Chamber& chamber, double, const SoakPlan& plan, const SoakHooks& hooks)
{
    if (hooks.log) hooks.log("chamber support not built: the campaign ends");
    chamber.setSetpoint(plan.safeSetpoint);
    return SoakResult::ChamberLost;
}

} // namespace zelbo::campaign
