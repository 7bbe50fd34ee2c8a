#include "campaign/formula.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace zelbo::campaign {

struct Formula::Node {
    enum class Kind { Number, Variable, Neg, Add, Sub, Mul, Div, Abs, Min, Max, Sqrt } kind = Kind::Number;
    double value = 0.0;
    std::string name;
    std::vector<std::unique_ptr<Node>> args;
};

namespace {

using Node = Formula::Node;
using Kind = Node::Kind;

class Reader {
public:
    Reader(std::string_view text, const std::set<std::string>& known) : s_(text), known_(known) {}

    std::unique_ptr<Node> all()
    {
        auto n = sum(0);
        if (!n) return nullptr;
        blanks();
        if (i_ < s_.size()) return fail("unexpected \"" + std::string(1, s_[i_]) + "\"");
        return n;
    }
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<Node> fail(const std::string& what)
    {
        if (error_.empty()) error_ = what + " at column " + std::to_string(i_ + 1);
        return nullptr;
    }
    void blanks()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
    }
    bool take(char c)
    {
        blanks();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    static std::unique_ptr<Node> make(Kind k, std::unique_ptr<Node> a, std::unique_ptr<Node> b = nullptr)
    {
        auto n = std::make_unique<Node>();
        n->kind = k;
        n->args.push_back(std::move(a));
        if (b) n->args.push_back(std::move(b));
        return n;
    }
    std::unique_ptr<Node> sum(int depth)
    {
        auto left = product(depth);
        while (left) {
            if (take('+')) {
                auto right = product(depth);
                if (!right) return nullptr;
                left = make(Kind::Add, std::move(left), std::move(right));
            } else if (take('-')) {
                auto right = product(depth);
                if (!right) return nullptr;
                left = make(Kind::Sub, std::move(left), std::move(right));
            } else {
                break;
            }
        }
        return left;
    }
    std::unique_ptr<Node> product(int depth)
    {
        auto left = unary(depth);
        while (left) {
            if (take('*')) {
                auto right = unary(depth);
                if (!right) return nullptr;
                left = make(Kind::Mul, std::move(left), std::move(right));
            } else if (take('/')) {
                auto right = unary(depth);
                if (!right) return nullptr;
                left = make(Kind::Div, std::move(left), std::move(right));
            } else {
                break;
            }
        }
        return left;
    }
    std::unique_ptr<Node> unary(int depth)
    {
        if (depth > Formula::kMaxDepth) return fail("too deeply nested");
        if (take('-')) {
            auto a = unary(depth + 1);
            return a ? make(Kind::Neg, std::move(a)) : nullptr;
        }
        if (take('+')) return unary(depth + 1);
        return atom(depth);
    }
    std::unique_ptr<Node> atom(int depth)
    {
        blanks();
        if (i_ >= s_.size()) return fail("a number or a name is missing");
        const char c = s_[i_];
        if (c == '(') {
            ++i_;
            auto n = sum(depth + 1);
            if (!n) return nullptr;
            if (!take(')')) return fail("\")\" is missing");
            return n;
        }
        if ((c >= '0' && c <= '9') || c == '.') return number();
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') return name(depth);
        return fail("unexpected \"" + std::string(1, c) + "\"");
    }
    std::unique_ptr<Node> number()
    {
        const std::size_t start = i_;
        auto digits = [&] {
            std::size_t n = 0;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_, ++n;
            return n;
        };
        std::size_t n = digits();
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            n += digits();
        }
        if (n == 0) return fail("a number is malformed");
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            if (digits() == 0) return fail("an exponent is malformed");
        }
        auto node = std::make_unique<Node>();
        // from_chars: the same in every locale.
        const auto r = std::from_chars(s_.data() + start, s_.data() + i_, node->value);
        if (r.ec != std::errc() || !std::isfinite(node->value)) return fail("a number is out of range");
        return node;
    }
    std::unique_ptr<Node> name(int depth)
    {
        const std::size_t start = i_;
        while (i_ < s_.size() && ((s_[i_] >= 'a' && s_[i_] <= 'z') || (s_[i_] >= 'A' && s_[i_] <= 'Z') ||
                                  (s_[i_] >= '0' && s_[i_] <= '9') || s_[i_] == '_'))
            ++i_;
        const std::string id(s_.substr(start, i_ - start));
        static const std::pair<const char*, std::pair<Kind, int>> functions[] = {
            {"abs", {Kind::Abs, 1}}, {"sqrt", {Kind::Sqrt, 1}}, {"min", {Kind::Min, 2}}, {"max", {Kind::Max, 2}}};
        for (const auto& [fname, spec] : functions) {
            if (id != fname) continue;
            if (!take('(')) return fail("\"(\" is missing after " + id);
            auto n = std::make_unique<Node>();
            n->kind = spec.first;
            for (int k = 0; k < spec.second; ++k) {
                if (k > 0 && !take(',')) return fail(id + " takes " + std::to_string(spec.second) + " arguments");
                auto a = sum(depth + 1);
                if (!a) return nullptr;
                n->args.push_back(std::move(a));
            }
            if (!take(')')) return fail("\")\" is missing after the arguments of " + id);
            return n;
        }
        if (!known_.count(id)) {
            i_ = start;
            std::string list;
            for (const auto& k : known_) list += (list.empty() ? "" : ", ") + k;
            return fail("unknown name \"" + id + "\" (known: " + list + ")");
        }
        auto n = std::make_unique<Node>();
        n->kind = Kind::Variable;
        n->name = id;
        return n;
    }

    std::string_view s_;
    const std::set<std::string>& known_;
    std::size_t i_ = 0;
    std::string error_;
};

double eval(const Node& n, const std::map<std::string, double>& vars)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    auto a = [&](std::size_t k) { return eval(*n.args[k], vars); };
    switch (n.kind) {
    case Kind::Number: return n.value;
    case Kind::Variable: {
        const auto it = vars.find(n.name);
        return it == vars.end() ? nan : it->second;
    }
    case Kind::Neg: return -a(0);
    case Kind::Add: return a(0) + a(1);
    case Kind::Sub: return a(0) - a(1);
    case Kind::Mul: return a(0) * a(1);
    case Kind::Div: {
        const double d = a(1);
        return d == 0.0 ? nan : a(0) / d;
    }
    case Kind::Abs: return std::fabs(a(0));
    case Kind::Min: return std::fmin(a(0), a(1));
    case Kind::Max: return std::fmax(a(0), a(1));
    case Kind::Sqrt: {
        const double x = a(0);
        return x < 0 ? nan : std::sqrt(x);
    }
    }
    return nan;
}

} // namespace

Formula::~Formula() = default;

std::unique_ptr<Formula> Formula::parse(std::string_view text, const std::set<std::string>& known,
                                        std::string* error)
{
    auto say = [error](const std::string& what) {
        if (error) *error = what;
        return nullptr;
    };
    if (text.size() > kMaxLength) return say("a formula is limited to " + std::to_string(kMaxLength) + " characters");
    Reader r(text, known);
    auto root = r.all();
    if (!root) return say(r.error());
    std::unique_ptr<Formula> f(new Formula);
    f->text_ = std::string(text);
    f->root_ = std::move(root);
    return f;
}

double Formula::evaluate(const std::map<std::string, double>& vars) const
{
    const double v = eval(*root_, vars);
    return std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
}

} // namespace zelbo::campaign
