#pragma once
// Math channels: an expression over the four channels and constants, with
// the unit of its result derived from theirs.
//
//   CH1 - CH2          difference of two voltages, V
//   CH1 * CH3          a voltage times a current: power, W
//   CH2 / 0.2 ohm      a voltage across a resistor: current, A
//   (CH3 + CH4) * 0.5  a plain number scales and offsets, keeping the unit
//
// Grammar: sums and differences of products and quotients of factors; a
// factor is CH1..CH4, a number with an optional SI prefix (p n u µ m k M)
// and unit (V, A, W, ohm, Ω, R), a bracketed expression or a signed factor.
// "x" and "×" multiply, "÷" divides. Terms added or subtracted must carry the
// same unit; a plain number takes the unit of what it is added to. Anything
// else is refused with a message: there are no names, calls or assignments,
// and the text's length and nesting are bounded, so any bytes parse in
// bounded time and stack.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scope/scope_tables.h"

namespace zelbo::scope::analysis {

// A unit as powers of volts and amperes: V = (1, 0), A = (0, 1), W = (1, 1),
// ohm = (1, -1).
struct Unit {
    int volt = 0;
    int amp = 0;
    bool operator==(const Unit&) const = default;
    // "V", "A", "W", "Ω", "S", "V²", "" for a plain number, else "V^a·A^b".
    std::string text() const;
};

// V for a voltage channel, A for a current or ICC.
Unit unitOf(Source source);

inline constexpr std::size_t kMaxExpressionLength = 200;
inline constexpr int kMaxNesting = 16;

class MathExpression {
public:
    // The compiled expression, or nothing with `error` set. `units`: what
    // each channel carries now (unitOf its source).
    static std::optional<MathExpression> parse(std::string_view text, const std::array<Unit, kChannels>& units,
                                               std::string* error = nullptr);

    const std::string& text() const { return text_; }
    Unit unit() const { return unit_; }
    // Bit n: channel n is read.
    std::uint8_t channelsUsed() const { return used_; }

    // The value for one sample of each channel. A result that is not a finite
    // number (a division by a channel at 0) is NaN.
    double evaluate(const std::array<double, kChannels>& channels) const;
    // Sample by sample over the channels' spans; `out` gets min(length of
    // every channel used, out.size()) values; returns that count. No
    // allocation.
    std::size_t evaluate(const std::array<std::span<const double>, kChannels>& channels, std::span<double> out) const;

private:
    enum class Op : std::uint8_t { Push, Channel, Add, Sub, Mul, Div, Neg };
    struct Instruction {
        Op op;
        std::uint8_t channel = 0;
        double value = 0.0;
    };
    friend class Parser;
    static constexpr std::size_t kMaxStack = 2 * kMaxNesting + 4;

    std::string text_;
    std::vector<Instruction> program_; // postfix
    Unit unit_;
    std::uint8_t used_ = 0;
};

} // namespace zelbo::scope::analysis
