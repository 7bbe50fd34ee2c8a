// Test-only: what the simulated board's driver model did, and unplugging it.
#include <pybind11/pybind11.h>

#include "board/sim_board_test.h"

#include <stdexcept>
#include <string>

PYBIND11_MODULE(_simcontrol, m)
{
    m.def("steps", [] { return simboard::Control().dut().steps; }, "Net steps the driver model has taken.");
    m.def("amplitude", [] { return simboard::Control().dut().amplitudeAmps; }, "Full-scale coil current, A.");
    m.def("probe_noise", [](bool on) { simboard::Control().setProbeNoise(on); }, pybind11::arg("on"),
          "The front end's noise on (as after a reset) or off (every sweep of a set-up alike).");
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
    m.def("start_chamber", [](const std::string& link) { return simboard::Control().startChamber(link); },
          pybind11::arg("link") = std::string(),
          "Starts the chamber's controller; its port (and `link` made a link to it).");
    m.def("chamber_model", [](double rampPerMinute, double lagSeconds) {
        simboard::Control().setChamberModel(rampPerMinute, lagSeconds);
    }, pybind11::arg("ramp_per_minute"), pybind11::arg("lag_seconds"), "The chamber's ramp rate and air lag.");
    m.def("chamber_fault", [](const std::string& name) {
        simboard::ChamberFault f;
        if (name == "none") f = simboard::ChamberFault::None;
        else if (name == "no_answer") f = simboard::ChamberFault::NoAnswer;
        else if (name == "garbled") f = simboard::ChamberFault::Garbled;
        else if (name == "stuck") f = simboard::ChamberFault::StuckReading;
        else throw std::invalid_argument("chamber fault: none, no_answer, garbled or stuck");
        simboard::Control().setChamberFault(f);
    }, pybind11::arg("fault"), "A fault of the chamber's controller: none, no_answer, garbled, stuck.");
    m.def("chamber", [] {
        const simboard::ChamberState s = simboard::Control().chamber();
        pybind11::dict d;
        d["started"] = s.started;
        d["port"] = s.port;
        d["setpoint"] = s.setpointCelsius;
        d["air"] = s.airCelsius;
        d["shown"] = s.shownCelsius;
        d["running"] = s.running;
        d["requests"] = s.requests;
        d["answered"] = s.answered;
        return d;
    }, "The chamber as it runs: set point, true air, what its controller shows, request counts.");
}
