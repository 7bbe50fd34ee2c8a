#pragma once
// The junction thermometer: the die's diode forward voltage, digitised by the
// board as a 12-bit code, turned into a junction temperature with the
// selected chip's two coefficients (Vf = A - B x Tj).
//
// Readings are converted on the link's reader thread and read by the GUI
// thread (the gauge, the monitor's log): every member is thread-safe.

#include <cstdint>
#include <mutex>
#include <optional>

#include "common/fpga_registers.h"

namespace zelbo::thermal {

// The junction temperature the driver ICs are rated for; above it the gauge
// shows an alarm.
inline constexpr double kRatedTjMaxCelsius = 150.0;

// Forward voltage in millivolts: 0.25641 mV per code.
double diodeMillivolts(std::uint16_t code);
// Tj = (A - Vf) / B in degrees; nullopt when B is 0 or the result is not a
// number (a chip list with a broken row).
std::optional<double> junctionCelsius(double vfMillivolts, double a, double b);

// The diode code from the board's answers. It is asked for as its high
// nibble (reg::kDiodeCodeHigh) then its low byte (reg::kDiodeCodeLow), and
// answers keep request order: a code is whole only when the low byte's
// answer directly follows the high nibble's. Joining a fresh nibble with a
// low byte from an earlier reading would be off by 256 codes whenever the
// code crosses a multiple of 256. Fed every register answer in arrival order
// from one thread at a time.
class DiodeCodeAnswers {
public:
    // The whole code when this answer completes one.
    std::optional<std::uint16_t> take(std::uint8_t reg, std::uint8_t value);

private:
    std::uint8_t high_ = 0;     // the last high-nibble answer
    bool highPending_ = false;  // it still waits for its low byte
};

struct Reading {
    std::uint16_t code = 0;
    double vfMillivolts = 0.0;
    double tjCelsius = 0.0;
};

class Thermometer {
public:
    void setCoefficients(double a, double b);
    // Converts a whole 12-bit code (higher bits are ignored) and keeps it as
    // the last reading. With coefficients that give no temperature, the
    // voltage is kept and the previous temperature stays.
    Reading convert(std::uint16_t code);
    // nullopt until the first reading.
    std::optional<Reading> last() const;
    // The values the monitor logs (0 until the first reading).
    double tj() const;
    double vf() const;

private:
    mutable std::mutex mutex_;
    double a_ = 0.0;
    double b_ = 1.0;
    std::optional<Reading> last_;
};

} // namespace zelbo::thermal
