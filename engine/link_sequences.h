#pragma once
// The register traffic of link start and shutdown: what the board is told
// when the link opens and before it closes. The link carries it; the engine
// (and the tests that drive a bare link) run it from here.

#include <functional>

#include "common/command_port.h"
#include "link/fpga_link.h"

namespace zelbo::engine {

// Link start: opens the link, then (once it is up) clears the DAC outputs
// through `clearDacOutputs` (with its scope front-end reset), pulses the
// second run, clears the pattern memory's first bytes and the start
// parameters, calls the window's linkStarted(), marks the board ready and
// asks for the scope capability. 0 started; otherwise the link's open()
// result, and nothing is written.
int startLink(link::FpgaLink& link, link::BringUpObserver& progress, link::LinkObserver& window,
              const std::function<void(CommandPort&)>& clearDacOutputs = {});

// Shutdown: while the link is up, port A's host bit cleared, the PS pin
// dropped and the shutdown key written, each batch sent before the next;
// then the reader stops. Every wait is bounded; false when the reader did
// not end in time.
bool shutdownLink(link::FpgaLink& link);

} // namespace zelbo::engine
