#include "campaign/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>

#include "common/toml.h"

#include "drive/clock.h"
#include "drive/column.h"
#include "drive/pins.h"

namespace zelbo::campaign {

const char* axisName(Axis a)
{
    switch (a) {
    case Axis::Temperature: return "temperature";
    case Axis::Mode: return "mode";
    case Axis::Vref: return "vref";
    case Axis::Clk: return "clk";
    case Axis::Mth: return "mth";
    case Axis::Direction: return "direction";
    }
    return "?";
}

std::string textHash(std::string_view text)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

namespace {

const char* const kFigures[] = {"min", "max", "p_p", "mean", "rms", "frequency", "period", "ipeak", "ipeak_error",
                                "step_error"};

// A number as the key writes it: enough digits to be the same number again.
std::string keyNumber(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.12g", v);
    return buf;
}

struct Fault {
    int line;
    std::string what;
};

class PlanReader {
public:
    explicit PlanReader(std::string source) : source_(std::move(source)) {}

    PlanResult read(std::string_view text)
    {
        PlanResult r;
        toml::table root;
        if (const int bad = nonAsciiOutsideStrings(text)) {
            r.error = source_ + ":" + std::to_string(bad) +
                      ": a character outside ASCII where only keys, values and blanks may stand "
                      "(other text belongs in a string or a comment)";
            return r;
        }
        try {
            root = toml::parse(text, source_);
        } catch (const toml::parse_error& e) {
            r.error = source_ + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
            return r;
        }
        try {
            Plan p;
            p.text = std::string(text);
            p.hash = textHash(text);
            readRoot(root, p);
            r.plan = std::move(p);
        } catch (const Fault& f) {
            r.error = source_ + ":" + std::to_string(f.line) + ": " + f.what;
        }
        return r;
    }

private:
    [[noreturn]] static void fail(const toml::node& n, const std::string& what)
    {
        throw Fault{static_cast<int>(n.source().begin.line), what};
    }
    [[noreturn]] static void fail(int line, const std::string& what) { throw Fault{line, what}; }
    static int line(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

    // Every key of `t` must be one of `known`.
    static void onlyKeys(const toml::table& t, const std::string& where, std::initializer_list<const char*> known)
    {
        for (auto&& [k, v] : t) {
            const std::string key(k.str());
            if (std::none_of(known.begin(), known.end(), [&](const char* n) { return key == n; })) {
                std::string list;
                for (const char* n : known) list += (list.empty() ? "" : ", ") + std::string(n);
                throw Fault{static_cast<int>(k.source().begin.line ? k.source().begin.line : v.source().begin.line),
                            "unknown key \"" + key + "\" in " + where + " (known: " + list + ")"};
            }
        }
    }
    static const toml::table& table(const toml::node& n, const std::string& what)
    {
        if (!n.is_table()) fail(n, what + " must be a table");
        return *n.as_table();
    }
    static double number(const toml::node& n, const std::string& what)
    {
        if (!n.is_number()) fail(n, what + " must be a number");
        const double v = *n.value<double>();
        if (!std::isfinite(v)) fail(n, what + " must be a finite number");
        return v;
    }
    static double number(const toml::node& n, const std::string& what, double lo, double hi)
    {
        const double v = number(n, what);
        if (v < lo || v > hi) fail(n, what + " must be " + keyNumber(lo) + " to " + keyNumber(hi));
        return v;
    }
    static std::string text(const toml::node& n, const std::string& what)
    {
        if (!n.is_string()) fail(n, what + " must be a text in quotes");
        std::string s = *n.value<std::string>();
        if (s.size() > 200) fail(n, what + " is too long");
        return s;
    }
    static bool boolean(const toml::node& n, const std::string& what)
    {
        if (!n.is_boolean()) fail(n, what + " must be true or false");
        return *n.value<bool>();
    }
    static std::chrono::seconds seconds(const toml::node& n, const std::string& what)
    {
        return std::chrono::seconds(static_cast<long long>(std::llround(number(n, what, 0, 7 * 86400))));
    }

    void readRoot(const toml::table& root, Plan& p)
    {
        onlyKeys(root, "the plan", {"title", "board", "matrix", "capture", "measure", "chamber"});
        if (auto* n = root.get("title")) p.title = text(*n, "title");
        if (auto* n = root.get("board")) readBoard(table(*n, "[board]"), p);
        const toml::node* matrix = root.get("matrix");
        if (!matrix) fail(1, "the plan has no [matrix]");
        readMatrix(table(*matrix, "[matrix]"), p);
        if (auto* n = root.get("capture")) readCapture(table(*n, "[capture]"), p);
        if (auto* n = root.get("chamber")) readChamber(table(*n, "[chamber]"), p);
        else if (p.hasTemperatures) fail(*matrix, "temperatures need a [chamber] section (its port, soak and safe set point)");
        const toml::node* measures = root.get("measure");
        if (!measures) fail(1, "the plan keeps no measurement: add a [[measure]]");
        if (!measures->is_array_of_tables()) fail(*measures, "measure must be a list of tables: [[measure]]");
        const auto& list = *measures->as_array();
        if (list.size() > kMaxMeasures)
            fail(*measures, "at most " + std::to_string(kMaxMeasures) + " measurements per plan");
        for (auto&& m : list) readMeasure(*m.as_table(), p);
        checkLimits(p);
    }

    void readBoard(const toml::table& t, Plan& p)
    {
        onlyKeys(t, "[board]", {"rnf", "vdut", "chip"});
        if (auto* n = t.get("rnf")) p.rnf = number(*n, "rnf", 0.01, 1.0);
        if (auto* n = t.get("vdut")) {
            p.vdut = number(*n, "vdut");
            if (std::fabs(p.vdut - 3.3) > 1e-9 && std::fabs(p.vdut - 5.0) > 1e-9) fail(*n, "vdut must be 3.3 or 5.0");
        }
        if (auto* n = t.get("chip")) p.chip = text(*n, "chip");
    }

    void readMatrix(const toml::table& t, Plan& p)
    {
        onlyKeys(t, "[matrix]", {"temperature", "mode", "vref", "clk", "mth", "direction", "order"});
        struct Found {
            Axis axis;
            const toml::node* node;
        };
        std::vector<Found> found;
        for (Axis a : {Axis::Temperature, Axis::Mode, Axis::Vref, Axis::Clk, Axis::Mth, Axis::Direction})
            if (auto* n = t.get(axisName(a))) found.push_back({a, n});
        if (found.empty()) fail(line(t), "[matrix] names no setting to vary");
        // The nesting: as "order" says, else as the plan writes them, outermost first.
        if (auto* o = t.get("order")) {
            if (!o->is_array()) fail(*o, "order must be a list of the matrix's names");
            std::vector<Found> ordered;
            for (auto&& e : *o->as_array()) {
                const std::string name = text(e, "an entry of order");
                auto it = std::find_if(found.begin(), found.end(), [&](const Found& f) { return name == axisName(f.axis); });
                if (it == found.end()) fail(e, "order names \"" + name + "\", which [matrix] does not list (or lists twice)");
                ordered.push_back(*it);
                found.erase(it);
            }
            if (!found.empty()) fail(*o, std::string("order leaves out \"") + axisName(found.front().axis) + "\"");
            found = std::move(ordered);
        } else {
            std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
                const auto la = a.node->source().begin, lb = b.node->source().begin;
                return la.line != lb.line ? la.line < lb.line : la.column < lb.column;
            });
        }
        std::size_t total = 1;
        for (const auto& f : found) {
            AxisValues v;
            v.axis = f.axis;
            readAxis(*f.node, v);
            total *= v.size(); // each axis has at most 1000 values: no overflow before the check
            if (total > kMaxPoints)
                fail(*f.node, "the matrix has more than " + std::to_string(kMaxPoints) +
                                  " points (the most a plan may have); split it into several plans");
            if (f.axis == Axis::Temperature) p.hasTemperatures = true;
            p.axes.push_back(std::move(v));
        }
    }

    static void readAxis(const toml::node& n, AxisValues& v)
    {
        const std::string name = axisName(v.axis);
        std::vector<const toml::node*> items;
        if (n.is_array()) {
            for (auto&& e : *n.as_array()) items.push_back(&e);
            if (items.empty()) fail(n, name + " lists no value");
            if (items.size() > 1000) fail(n, name + " lists more than 1000 values");
        } else if (n.is_table()) {
            readRange(*n.as_table(), name, v);
            return;
        } else {
            items.push_back(&n);
        }
        for (const toml::node* e : items) {
            if (v.axis == Axis::Mode || v.axis == Axis::Direction) {
                std::string s = text(*e, name);
                if (v.axis == Axis::Mode && !drive::excitationByName(s))
                    fail(*e, "mode \"" + s + "\" is not one of full, half-a, half-b, quarter");
                if (v.axis == Axis::Direction && s != "cw" && s != "ccw")
                    fail(*e, "direction \"" + s + "\" is not cw or ccw");
                if (std::find(v.texts.begin(), v.texts.end(), s) != v.texts.end())
                    fail(*e, name + " lists \"" + s + "\" twice");
                v.texts.push_back(std::move(s));
            } else {
                const double x = number(*e, name);
                checkValue(*e, v.axis, x);
                if (std::find(v.numbers.begin(), v.numbers.end(), x) != v.numbers.end())
                    fail(*e, name + " lists " + keyNumber(x) + " twice");
                v.numbers.push_back(x);
            }
        }
    }

    // { from = a, to = b, step = s }: a, a+s, ... up to b.
    static void readRange(const toml::table& t, const std::string& name, AxisValues& v)
    {
        if (v.axis == Axis::Mode || v.axis == Axis::Direction) fail(t, name + " must be a list of texts");
        onlyKeys(t, name, {"from", "to", "step"});
        const toml::node* f = t.get("from");
        const toml::node* to = t.get("to");
        const toml::node* s = t.get("step");
        if (!f || !to || !s) fail(t, name + " as a range needs from, to and step");
        const double a = number(*f, name + ".from"), b = number(*to, name + ".to"), st = number(*s, name + ".step");
        if (!(st > 0)) fail(*s, name + ".step must be above 0");
        if (b < a) fail(*to, name + ".to must not be below from");
        const double count = std::floor((b - a) / st + 1e-9) + 1;
        if (count > 1000) fail(t, name + " spans more than 1000 values");
        for (int k = 0; k < static_cast<int>(count); ++k) {
            const double x = a + k * st;
            checkValue(t, v.axis, x);
            v.numbers.push_back(x);
        }
    }

    static void checkValue(const toml::node& n, Axis a, double x)
    {
        std::string why;
        switch (a) {
        case Axis::Vref: why = drive::rangeError(drive::ColumnId::Vref, x); break;
        case Axis::Mth: why = drive::rangeError(drive::ColumnId::Mth, x); break;
        case Axis::Clk: why = drive::rangeError(drive::ColumnId::Clk, x); break;
        case Axis::Temperature:
            if (x < -80 || x > 200) why = "temperature " + keyNumber(x) + " °C is out of range (-80 to 200 °C)";
            break;
        default: break;
        }
        if (!why.empty()) fail(n, why);
    }

    void readCapture(const toml::table& t, Plan& p)
    {
        onlyKeys(t, "[capture]", {"timebase", "rate", "sweeps", "settle", "record", "ch1", "ch2", "ch3", "ch4"});
        auto& c = p.capture;
        if (auto* n = t.get("timebase")) c.timeBase = text(*n, "timebase");
        if (auto* n = t.get("rate")) c.rate = text(*n, "rate");
        if (auto* n = t.get("sweeps")) {
            if (!n->is_integer()) fail(*n, "sweeps must be a whole number");
            c.sweeps = static_cast<int>(number(*n, "sweeps", 1, kMaxSweeps));
        }
        if (auto* n = t.get("settle")) c.settleSeconds = number(*n, "settle (seconds)", 0, 60);
        if (auto* n = t.get("record")) c.record = boolean(*n, "record");
        for (int k = 0; k < 4; ++k) {
            const std::string name = "ch" + std::to_string(k + 1);
            const toml::node* n = t.get(name);
            if (!n) continue;
            ChannelSetup ch;
            if (n->is_string()) {
                const std::string s = text(*n, name);
                if (s == "off") ch.on = false;
                else parseSource(*n, name, s, ch);
            } else {
                const auto& ct = table(*n, name);
                onlyKeys(ct, name, {"source", "scale", "on"});
                if (auto* s = ct.get("source")) parseSource(*s, name, text(*s, name + ".source"), ch);
                if (auto* s = ct.get("scale")) ch.scale = text(*s, name + ".scale");
                if (auto* s = ct.get("on")) ch.on = boolean(*s, name + ".on");
            }
            c.channels[static_cast<std::size_t>(k)] = ch;
        }
    }

    // "V", "ICC", "I A" / "I B" (the coil current of output A or B).
    static void parseSource(const toml::node& n, const std::string& name, const std::string& s, ChannelSetup& ch)
    {
        if (s == "V" || s == "ICC") {
            ch.source = s;
        } else if (s == "I A" || s == "I" || s == "IA") {
            ch.source = "I";
            ch.output = 0;
        } else if (s == "I B" || s == "IB") {
            ch.source = "I";
            ch.output = 1;
        } else {
            fail(n, name + " probes \"" + s + "\": use \"V\", \"I A\", \"I B\", \"ICC\" or \"off\"");
        }
    }

    void readChamber(const toml::table& t, Plan& p)
    {
        onlyKeys(t, "[chamber]", {"port", "window", "tj_band", "tj_stable", "max_soak", "fixed_soak", "safe_setpoint",
                                  "silence_limit", "on_soak_timeout"});
        auto& s = p.soak;
        if (auto* n = t.get("port")) p.chamberPort = text(*n, "port");
        if (auto* n = t.get("window")) s.window = number(*n, "window (°C)", 0.01, 50);
        if (auto* n = t.get("tj_band")) s.tjBand = number(*n, "tj_band (°C)", 0.01, 50);
        if (auto* n = t.get("tj_stable")) s.tjStableFor = seconds(*n, "tj_stable (seconds)");
        if (auto* n = t.get("max_soak")) s.maxSoak = seconds(*n, "max_soak (seconds)");
        if (auto* n = t.get("fixed_soak")) s.fixedSoak = seconds(*n, "fixed_soak (seconds)");
        if (auto* n = t.get("safe_setpoint")) s.safeSetpoint = number(*n, "safe_setpoint (°C)", -80, 200);
        if (auto* n = t.get("silence_limit")) s.chamberSilenceLimit = seconds(*n, "silence_limit (seconds)");
        if (auto* n = t.get("on_soak_timeout")) {
            const std::string v = text(*n, "on_soak_timeout");
            if (v != "measure" && v != "skip") fail(*n, "on_soak_timeout must be \"measure\" or \"skip\"");
            p.skipOnSoakTimeout = v == "skip";
        }
    }

    std::set<std::string> variables(const Plan& p) const
    {
        std::set<std::string> v = {"vref", "mth", "clk", "rnf", "vdut", "cw"};
        if (p.hasTemperatures) v.insert("temperature");
        return v;
    }

    std::shared_ptr<const Formula> formula(const toml::node& n, const std::string& what, const Plan& p) const
    {
        std::string src;
        if (n.is_number()) src = keyNumber(number(n, what));
        else if (n.is_string()) src = text(n, what);
        else fail(n, what + " must be a number or a formula in quotes");
        std::string error;
        auto f = Formula::parse(src, variables(p), &error);
        if (!f) fail(n, what + " \"" + src + "\": " + error);
        return std::shared_ptr<const Formula>(std::move(f));
    }

    void readMeasure(const toml::table& t, Plan& p)
    {
        onlyKeys(t, "[[measure]]", {"name", "channel", "figure", "min", "max", "expect", "tolerance",
                                    "tolerance_abs"});
        MeasureSpec m;
        m.line = line(t);
        const toml::node* ch = t.get("channel");
        const toml::node* fig = t.get("figure");
        if (!ch || !fig) fail(m.line, "a [[measure]] needs channel (1 to 4) and figure");
        if (!ch->is_integer()) fail(*ch, "channel must be 1 to 4");
        m.channel = static_cast<int>(number(*ch, "channel", 1, 4)) - 1;
        m.figure = text(*fig, "figure");
        if (!knownFigure(m.figure)) {
            std::string list;
            for (const char* f : kFigures) list += (list.empty() ? "" : ", ") + std::string(f);
            fail(*fig, "figure \"" + m.figure + "\" is not one of " + list);
        }
        const auto& setup = p.capture.channels[static_cast<std::size_t>(m.channel)];
        const std::string source = setup ? setup->source : "V";
        if (setup && !setup->on) fail(*ch, "channel " + std::to_string(m.channel + 1) + " is off in [capture]");
        const bool current = m.figure == "ipeak" || m.figure == "ipeak_error" || m.figure == "step_error";
        if (current && source != "I")
            fail(*fig, m.figure + " needs a coil current: set ch" + std::to_string(m.channel + 1) +
                           " = \"I A\" or \"I B\" in [capture]");
        if (m.figure == "frequency") m.unit = "Hz";
        else if (m.figure == "period") m.unit = "s";
        else if (m.figure == "ipeak_error" || m.figure == "step_error") m.unit = "%";
        else m.unit = source == "V" ? "V" : "A";
        m.name = t.get("name") ? text(*t.get("name"), "name")
                               : m.figure + " CH" + std::to_string(m.channel + 1);
        for (const auto& other : p.measures)
            if (other.name == m.name) fail(m.line, "two measurements are named \"" + m.name + "\"");
        if (auto* n = t.get("min")) m.limit.min = formula(*n, "min", p);
        if (auto* n = t.get("max")) m.limit.max = formula(*n, "max", p);
        if (auto* n = t.get("expect")) m.limit.expect = formula(*n, "expect", p);
        if (auto* n = t.get("tolerance")) {
            // A percentage: 5 or "5 %".
            if (n->is_string()) {
                std::string s = text(*n, "tolerance");
                while (!s.empty() && (s.back() == '%' || s.back() == ' ')) s.pop_back();
                char* end = nullptr;
                const double v = std::strtod(s.c_str(), &end);
                if (s.empty() || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1000)
                    fail(*n, "tolerance must be a percentage, 0 to 1000 (5 or \"5 %\")");
                m.limit.tolerancePercent = v;
            } else {
                m.limit.tolerancePercent = number(*n, "tolerance (%)", 0, 1000);
            }
        }
        if (auto* n = t.get("tolerance_abs")) m.limit.toleranceAbsolute = number(*n, "tolerance_abs", 0, 1e9);
        if (m.limit.expect && (m.limit.min || m.limit.max))
            fail(m.line, "a limit is either expect with a tolerance, or min and max, not both");
        if ((t.get("tolerance") || t.get("tolerance_abs")) && !m.limit.expect)
            fail(m.line, "a tolerance needs expect");
        p.measures.push_back(std::move(m));
    }

    // Every limit must have a value, and a band that is not empty, at every point.
    void checkLimits(const Plan& p) const
    {
        const auto points = p.points();
        for (const auto& m : p.measures) {
            for (const auto& pt : points) {
                const auto [lo, hi] = m.limit.band(pt.vars);
                if (std::isnan(lo) || std::isnan(hi))
                    fail(m.line, "the limit of \"" + m.name + "\" has no value at the point " + pt.key +
                                     " (a division by zero or the root of a negative number)");
                if (lo > hi)
                    fail(m.line, "the limit of \"" + m.name + "\" is empty (min above max) at the point " + pt.key);
            }
        }
    }

    std::string source_;
};

} // namespace

bool knownFigure(const std::string& figure)
{
    return std::any_of(std::begin(kFigures), std::end(kFigures), [&](const char* f) { return figure == f; });
}

std::pair<double, double> Limit::band(const std::map<std::string, double>& vars) const
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    if (expect) {
        const double e = expect->evaluate(vars);
        const double tol = std::fabs(e) * tolerancePercent / 100.0 + toleranceAbsolute;
        return {e - tol, e + tol};
    }
    return {min ? min->evaluate(vars) : -inf, max ? max->evaluate(vars) : inf};
}

std::size_t Plan::pointCount() const
{
    std::size_t n = 1;
    for (const auto& a : axes) n *= a.size();
    return n;
}

std::vector<Point> Plan::points() const
{
    std::vector<Point> out;
    const std::size_t total = pointCount();
    out.reserve(total);
    std::vector<std::size_t> at(axes.size(), 0);
    for (std::size_t i = 0; i < total; ++i) {
        Point pt;
        pt.index = i;
        for (std::size_t a = 0; a < axes.size(); ++a) {
            const auto& ax = axes[a];
            const std::size_t k = at[a];
            switch (ax.axis) {
            case Axis::Temperature: pt.temperature = ax.numbers[k]; break;
            case Axis::Mode: pt.mode = ax.texts[k]; break;
            case Axis::Vref: pt.vref = ax.numbers[k]; break;
            case Axis::Clk: pt.clk = ax.numbers[k]; break;
            case Axis::Mth: pt.mth = ax.numbers[k]; break;
            case Axis::Direction: pt.cw = ax.texts[k] == "cw"; break;
            }
        }
        // The key: every setting the point is made of, in one fixed order.
        pt.key = (pt.temperature ? "T=" + keyNumber(*pt.temperature) + " " : std::string()) + "mode=" + pt.mode +
                 " vref=" + keyNumber(pt.vref) + " clk=" + keyNumber(pt.clk) + " mth=" + keyNumber(pt.mth) +
                 " dir=" + (pt.cw ? "cw" : "ccw");
        pt.vars = {{"vref", pt.vref}, {"mth", pt.mth}, {"clk", pt.clk},
                   {"rnf", rnf},      {"vdut", vdut},  {"cw", pt.cw ? 1.0 : 0.0}};
        if (pt.temperature) pt.vars["temperature"] = *pt.temperature;
        out.push_back(std::move(pt));
        // The innermost axis moves fastest.
        for (std::size_t a = axes.size(); a-- > 0;) {
            if (++at[a] < axes[a].size()) break;
            at[a] = 0;
        }
    }
    return out;
}

PlanResult readPlan(std::string_view text, const std::string& source)
{
    if (text.size() > 1 << 20) return {std::nullopt, source + ":1: the plan is larger than 1 MiB"};
    return PlanReader(source).read(text);
}

PlanResult readPlanFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {std::nullopt, "cannot read \"" + path + "\""};
    std::string text((std::istreambuf_iterator<char>(in)), {});
    return readPlan(text, path);
}

} // namespace zelbo::campaign
