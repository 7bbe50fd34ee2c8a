// Test-only: what the simulated board's driver model did, and unplugging it.
#include <pybind11/pybind11.h>

#include "board/sim_board_test.h"

PYBIND11_MODULE(_simcontrol, m)
{
    m.def("steps", [] { return simboard::Control().dut().steps; }, "Net steps the driver model has taken.");
    m.def("amplitude", [] { return simboard::Control().dut().amplitudeAmps; }, "Full-scale coil current, A.");
    m.def("zero_offsets", [] {
        for (int n = 0; n < 4; ++n) simboard::Control().setScopeInputOffsets(n, 0.0, 0.0, 0.0);
    }, "The front end's zero offsets all 0 (what a calibration takes out).");
    m.def("set_offsets", [](double volts, double amps, double iccAmps) {
        for (int n = 0; n < 4; ++n) simboard::Control().setScopeInputOffsets(n, volts, amps, iccAmps);
    }, pybind11::arg("volts"), pybind11::arg("amps"), pybind11::arg("icc_amps"),
       "The same front-end zero offsets on all four channels.");
    m.def("default_offsets", [] {
        for (int n = 0; n < 4; ++n) {
            const auto& c = simboard::kDefaultScopeInputOffsetCodes[static_cast<std::size_t>(n)];
            simboard::Control().setScopeInputOffsets(n, c[0] * 0.070, c[1] * 0.012, c[2] * 0.012);
        }
    }, "The front end's offsets as after a reset.");
    m.def("sequence_rows", [] { return simboard::Control().sequenceRowsApplied(); },
          "Pattern-sequencer records the board has applied.");
    m.def("set_present", [](bool present) { simboard::Control().setPresent(present); }, pybind11::arg("present"));
    m.def("dac_code", [](int channel) { return simboard::Control().dacCode(static_cast<std::uint8_t>(channel)); },
          pybind11::arg("channel"), "The code a DAC channel (128..135) holds.");
    m.def("supply_mv", [] { return simboard::Control().supplyMillivolts(); }, "The DUT supply: 0, 3300 or 5000.");
    m.def("sweeps_acquired", [] { return simboard::Control().scope().sweepsAcquired; },
          "Sweeps the scope front end has taken since the FPGA was configured.");
    m.def("clock_running", [] { return simboard::Control().clockGenerator().running; });
    m.def("register_value", [](int reg) { return simboard::Control().registerValue(static_cast<std::uint8_t>(reg)); },
          pybind11::arg("reg"));
}
