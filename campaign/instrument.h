#pragma once
// What a campaign needs of the board: the headless session behind a small
// interface, so the runner's decisions (order, resume, verdicts, stopping)
// are tested without one.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "campaign/plan.h"
#include "scope/measure/measurements.h"

namespace zelbo::engine {
class Session;
}

namespace zelbo::campaign {

// A point's settings as the board reads them back.
struct Applied {
    std::string mode;       // "full", "half-a", "half-b", "quarter"
    std::string direction;  // "cw", "ccw"
    double vref = 0, mth = 0, clk = 0, rnf = 0, vdut = 0;
};

class Instrument {
public:
    virtual ~Instrument() = default;
    virtual std::string board() = 0;
    virtual std::string chip() = 0;
    virtual std::string firmware() = 0;
    // Supply, sense resistor, chip and the oscilloscope as the plan sets them.
    virtual void prepare(const Plan& plan) = 0;
    // Power on with the step clock stopped; off.
    virtual void powerOn() = 0;
    virtual void powerOff() = 0;
    // Mode, direction, references; the clock running continuously.
    virtual Applied apply(const Point& point) = 0;
    // The clock stopped between points.
    virtual void idle() = 0;
    // While the chamber soaks: the clock stopped and no current in the coils,
    // so the die comes to the chamber's temperature rather than to that plus
    // the heat of a held step.
    virtual void rest() { idle(); }
    // A fresh sweep's figures per channel.
    virtual std::array<scope::Measurement, 4> measure() = 0;
    virtual std::optional<double> tj() = 0;
    // Records `sweeps` fresh sweeps of the acquired channels into a recording
    // file at `path` (made or truncated), the point's settings as they are;
    // returns how many it holds. Throws when the file cannot be made.
    virtual std::uint64_t record(const std::filesystem::path& path, int sweeps) = 0;
    // Waits (stopped early when the front end is interrupted: Interrupted).
    virtual void pause(std::chrono::milliseconds how) = 0;
};

// The instrument on a headless session (the simulated or a real board).
class SessionInstrument final : public Instrument {
public:
    // `programFolder`: where the session's FPGA image lies (empty: the program's folder).
    explicit SessionInstrument(engine::Session& session, std::filesystem::path programFolder = {})
        : s_(session), programFolder_(std::move(programFolder))
    {
    }
    std::string board() override;
    std::string chip() override;
    std::string firmware() override;
    void prepare(const Plan& plan) override;
    void powerOn() override;
    void powerOff() override;
    Applied apply(const Point& point) override;
    void idle() override;
    void rest() override;
    std::array<scope::Measurement, 4> measure() override;
    std::optional<double> tj() override;
    std::uint64_t record(const std::filesystem::path& path, int sweeps) override;
    void pause(std::chrono::milliseconds how) override;

private:
    engine::Session& s_;
    std::filesystem::path programFolder_;
    std::chrono::milliseconds measureTimeout_{5000};
};

} // namespace zelbo::campaign
