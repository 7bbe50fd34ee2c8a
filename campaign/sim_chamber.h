#pragma once
// Where the simulated board's chamber answers. The simulated board serves a
// chamber when the environment variable ZELBO_SIM_CHAMBER names a path at the
// moment the board is created, and makes that path a link to its controller's
// pseudo-terminal; the host only agrees on the path with it.

#include <string>

namespace zelbo::campaign {

// The port to give openCaloraChamber for a campaign on the simulated board:
// ZELBO_SIM_CHAMBER when it is already set, otherwise a path of this process
// in the user's runtime folder ($XDG_RUNTIME_DIR, else /tmp), which is then
// set and removed again when the program ends. Call it before the session
// opens the simulated board.
std::string prepareSimulatedChamber();

} // namespace zelbo::campaign
