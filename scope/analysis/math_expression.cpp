#include "scope/analysis/math_expression.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace zelbo::scope::analysis {

std::string Unit::text() const
{
    if (volt == 0 && amp == 0) return "";
    if (volt == 1 && amp == 0) return "V";
    if (volt == 0 && amp == 1) return "A";
    if (volt == 1 && amp == 1) return "W";
    if (volt == 1 && amp == -1) return "Ω";
    if (volt == -1 && amp == 1) return "S";
    if (volt == 2 && amp == 0) return "V²";
    if (volt == 0 && amp == 2) return "A²";
    std::string s;
    auto part = [&s](const char* name, int power) {
        if (power == 0) return;
        if (!s.empty()) s += "·";
        s += name;
        if (power != 1) s += "^" + std::to_string(power);
    };
    part("V", volt);
    part("A", amp);
    return s;
}

// Recursive descent straight into postfix code, tracking each part's unit.
class Parser {
public:
    Parser(std::string_view text, const std::array<Unit, kChannels>& units, MathExpression& out)
        : s_(text), out_(out), channelUnit_(units)
    {
    }

    bool run(std::string* error)
    {
        Part p;
        const bool ok = expression(p) && atEnd();
        if (!ok) {
            if (error) *error = error_.empty() ? "The expression is not complete." : error_;
            return false;
        }
        if (static_cast<std::size_t>(stackMax_) > MathExpression::kMaxStack) {
            if (error) *error = "The expression is too deeply nested.";
            return false;
        }
        out_.unit_ = p.unit;
        return true;
    }

private:
    // A part's unit, and whether it is made of plain numbers only (which
    // then takes the unit of whatever it is added to).
    struct Part {
        Unit unit;
        bool plain = true;
    };

    bool fail(std::string message)
    {
        if (error_.empty()) error_ = std::move(message) + " (at character " + std::to_string(pos_ + 1) + ")";
        return false;
    }
    void blanks()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    }
    bool atEnd()
    {
        blanks();
        if (pos_ < s_.size()) return fail("Unexpected \"" + std::string(s_.substr(pos_, 1)) + "\"");
        return true;
    }
    // Takes `token` when the text continues with it.
    bool take(std::string_view token)
    {
        blanks();
        if (s_.substr(pos_, token.size()) == token) {
            pos_ += token.size();
            return true;
        }
        return false;
    }
    void emit(MathExpression::Op op, std::uint8_t channel = 0, double value = 0.0, int stackChange = 0)
    {
        out_.program_.push_back({op, channel, value});
        depth_ += stackChange;
        stackMax_ = std::max(stackMax_, depth_);
    }

    bool expression(Part& p)
    {
        if (++nesting_ > kMaxNesting) return fail("The expression is too deeply nested");
        if (!term(p)) return false;
        for (;;) {
            bool minus = false;
            if (take("+")) minus = false;
            else if (take("-") || take("\xE2\x88\x92")) minus = true;
            else break;
            Part q;
            if (!term(q)) return false;
            if (p.plain && !q.plain) p.unit = q.unit;
            else if (!p.plain && !q.plain && !(p.unit == q.unit))
                return fail("Cannot " + std::string(minus ? "subtract " : "add ") + describe(q.unit) +
                            (minus ? " from " : " to ") + describe(p.unit));
            p.plain = p.plain && q.plain;
            emit(minus ? MathExpression::Op::Sub : MathExpression::Op::Add, 0, 0.0, -1);
        }
        --nesting_;
        return true;
    }

    bool term(Part& p)
    {
        if (!unary(p)) return false;
        for (;;) {
            bool divide = false;
            if (take("*") || take("\xC3\x97") || take("x")) divide = false;
            else if (take("/") || take("\xC3\xB7")) divide = true;
            else break;
            Part q;
            if (!unary(q)) return false;
            if (divide && last().op == MathExpression::Op::Push && last().value == 0.0)
                return fail("Division by zero");
            p.unit.volt += divide ? -q.unit.volt : q.unit.volt;
            p.unit.amp += divide ? -q.unit.amp : q.unit.amp;
            if (std::abs(p.unit.volt) > 9 || std::abs(p.unit.amp) > 9) return fail("The unit's powers are too high");
            p.plain = p.plain && q.plain;
            emit(divide ? MathExpression::Op::Div : MathExpression::Op::Mul, 0, 0.0, -1);
        }
        return true;
    }

    bool unary(Part& p)
    {
        if (take("-") || take("\xE2\x88\x92")) {
            if (++unaries_ > 8) return fail("Too many signs");
            if (!unary(p)) return false;
            emit(MathExpression::Op::Neg);
            return true;
        }
        if (take("+")) {
            if (++unaries_ > 8) return fail("Too many signs");
            return unary(p);
        }
        unaries_ = 0;
        return primary(p);
    }

    bool primary(Part& p)
    {
        blanks();
        if (pos_ >= s_.size()) return fail("A channel, number or \"(\" is missing");
        if (take("(")) {
            if (!expression(p)) return false;
            if (!take(")")) return fail("\")\" is missing");
            return true;
        }
        const char c = s_[pos_];
        if ((c == 'C' || c == 'c') && pos_ + 2 < s_.size() && (s_[pos_ + 1] == 'H' || s_[pos_ + 1] == 'h')) {
            const char d = s_[pos_ + 2];
            if (d < '1' || d > '4') return fail("Channels are CH1 to CH4");
            pos_ += 3;
            const auto ch = static_cast<std::uint8_t>(d - '1');
            out_.used_ |= static_cast<std::uint8_t>(1u << ch);
            p.unit = channelUnit_[ch];
            p.plain = false;
            emit(MathExpression::Op::Channel, ch, 0.0, +1);
            return true;
        }
        if ((c >= '0' && c <= '9') || c == '.') return number(p);
        return fail("Unexpected \"" + std::string(s_.substr(pos_, 1)) + "\"");
    }

    bool number(Part& p)
    {
        double v = 0.0;
        const char* begin = s_.data() + pos_;
        const auto res = std::from_chars(begin, s_.data() + s_.size(), v, std::chars_format::general);
        if (res.ec != std::errc() || !std::isfinite(v)) return fail("Not a number");
        pos_ += static_cast<std::size_t>(res.ptr - begin);
        blanks();
        // SI prefix, then unit; a prefix alone scales.
        static const std::pair<std::string_view, double> prefixes[] = {
            {"p", 1e-12}, {"n", 1e-9}, {"u", 1e-6}, {"\xC2\xB5", 1e-6}, {"m", 1e-3}, {"k", 1e3}, {"M", 1e6}};
        static const std::pair<std::string_view, Unit> units[] = {
            {"ohm", {1, -1}}, {"\xCE\xA9", {1, -1}}, {"R", {1, -1}}, {"V", {1, 0}}, {"A", {0, 1}}, {"W", {1, 1}}};
        auto unitAt = [&](std::size_t at, Unit& u) -> std::size_t {
            for (const auto& [name, unit] : units)
                if (s_.substr(at, name.size()) == name) {
                    u = unit;
                    return name.size();
                }
            return 0;
        };
        Unit u;
        bool hasUnit = false;
        if (std::size_t len = unitAt(pos_, u)) {
            pos_ += len;
            hasUnit = true;
        } else {
            for (const auto& [name, factor] : prefixes)
                if (s_.substr(pos_, name.size()) == name) {
                    pos_ += name.size();
                    v *= factor;
                    if (std::size_t l = unitAt(pos_, u)) {
                        pos_ += l;
                        hasUnit = true;
                    }
                    break;
                }
        }
        // A letter straight after is a typing error, not a second factor.
        if (pos_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[pos_])) && s_[pos_] != 'x')
            return fail("Unknown unit");
        p.unit = hasUnit ? u : Unit{};
        p.plain = !hasUnit;
        emit(MathExpression::Op::Push, 0, v, +1);
        return true;
    }

    const MathExpression::Instruction& last() const { return out_.program_.back(); }
    static std::string describe(Unit u)
    {
        const std::string t = u.text();
        return t.empty() ? "a plain number" : t;
    }

    std::string_view s_;
    MathExpression& out_;
    std::array<Unit, kChannels> channelUnit_;
    std::size_t pos_ = 0;
    int nesting_ = 0;
    int unaries_ = 0;
    int depth_ = 0;
    int stackMax_ = 0;
    std::string error_;
};

Unit unitOf(Source source)
{
    return source == Source::Voltage ? Unit{1, 0} : Unit{0, 1};
}

std::optional<MathExpression> MathExpression::parse(std::string_view text, const std::array<Unit, kChannels>& units,
                                                    std::string* error)
{
    // Blanks at either end do not count; the text kept is the trimmed one.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) {
        if (error) *error = "The expression is empty.";
        return std::nullopt;
    }
    if (text.size() > kMaxExpressionLength) {
        if (error) *error = "The expression is longer than " + std::to_string(kMaxExpressionLength) + " characters.";
        return std::nullopt;
    }
    MathExpression e;
    e.text_ = std::string(text);
    Parser parser(e.text_, units, e);
    if (!parser.run(error)) return std::nullopt;
    return e;
}

double MathExpression::evaluate(const std::array<double, kChannels>& channels) const
{
    double stack[kMaxStack];
    std::size_t top = 0;
    for (const Instruction& i : program_) {
        switch (i.op) {
        case Op::Push: stack[top++] = i.value; break;
        case Op::Channel: stack[top++] = channels[i.channel]; break;
        case Op::Neg: stack[top - 1] = -stack[top - 1]; break;
        case Op::Add: --top; stack[top - 1] += stack[top]; break;
        case Op::Sub: --top; stack[top - 1] -= stack[top]; break;
        case Op::Mul: --top; stack[top - 1] *= stack[top]; break;
        case Op::Div: --top; stack[top - 1] /= stack[top]; break;
        }
    }
    const double v = top ? stack[0] : 0.0;
    return std::isfinite(v) ? v : std::nan("");
}

std::size_t MathExpression::evaluate(const std::array<std::span<const double>, kChannels>& channels,
                                     std::span<double> out) const
{
    std::size_t n = out.size();
    for (int k = 0; k < kChannels; ++k)
        if (used_ & (1u << k)) n = std::min(n, channels[static_cast<std::size_t>(k)].size());
    std::array<double, kChannels> x{};
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < kChannels; ++k)
            if (used_ & (1u << k)) x[static_cast<std::size_t>(k)] = channels[static_cast<std::size_t>(k)][i];
        out[i] = evaluate(x);
    }
    return n;
}

} // namespace zelbo::scope::analysis
