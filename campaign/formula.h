#pragma once
// A small arithmetic language for limits: numbers, the point's variables,
// + - * / and parentheses, unary minus, and abs(), min(), max(), sqrt().
// Anything else is refused when the formula is read, so a limit that could
// not be evaluated never reaches a campaign.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace zelbo::campaign {

class Formula {
public:
    // Reads `text`; on a fault returns null with `error` saying what and
    // where (a column from 1). `known` lists the variables it may use.
    static std::unique_ptr<Formula> parse(std::string_view text, const std::set<std::string>& known,
                                          std::string* error);
    ~Formula();
    Formula(const Formula&) = delete;
    Formula& operator=(const Formula&) = delete;

    // NaN when a variable is missing or the arithmetic has no finite result
    // (a division by zero, the root of a negative number).
    double evaluate(const std::map<std::string, double>& vars) const;
    const std::string& text() const { return text_; }

    static constexpr std::size_t kMaxLength = 256;
    static constexpr int kMaxDepth = 32;

    struct Node;

private:
    Formula() = default;
    std::string text_;
    std::unique_ptr<Node> root_;
};

} // namespace zelbo::campaign
