#pragma once
// A campaign plan: the matrix of settings to visit, what to capture and
// measure at each point, and the limits that decide pass or fail. Read from
// TOML and checked whole before anything touches a board: every key known,
// every value of its type and range, every limit evaluable at every point,
// the matrix within kMaxPoints.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "campaign/formula.h"
#include "campaign/soak.h"

namespace zelbo::campaign {

// One dimension of the matrix. The plan writes them outermost first.
enum class Axis { Temperature, Mode, Vref, Clk, Mth, Direction };
const char* axisName(Axis a);

struct AxisValues {
    Axis axis = Axis::Vref;
    std::vector<double> numbers;     // temperature, vref, clk, mth
    std::vector<std::string> texts;  // mode, direction ("cw" / "ccw")
    std::size_t size() const { return texts.empty() ? numbers.size() : texts.size(); }
};

// What one channel probes during the captures.
struct ChannelSetup {
    bool on = true;
    std::string source = "V"; // "V", "I", "ICC"
    int output = 0;           // I: 0 the A output, 1 the B output
    std::string scale;        // empty: left as it is
};

struct CaptureSpec {
    std::string timeBase;     // empty: left as it is
    std::string rate;         // empty: left as it is
    int sweeps = 1;           // measured sweeps per point, averaged
    double settleSeconds = 0.2; // after the settings, before the first sweep
    bool record = false;      // each point's sweeps beside the database
    std::array<std::optional<ChannelSetup>, 4> channels;
};

// A limit: [min, max], each a formula of the point's variables (a plain
// number is one), or expect ± tolerance (percent of expect plus absolute).
struct Limit {
    std::shared_ptr<const Formula> min, max, expect;
    double tolerancePercent = 0.0;
    double toleranceAbsolute = 0.0;
    bool any() const { return min || max || expect; }
    // The band at a point; a side without a bound is ±infinity, NaN when a
    // formula has no value there.
    std::pair<double, double> band(const std::map<std::string, double>& vars) const;
};

// One figure to keep at each point.
struct MeasureSpec {
    std::string name;
    int channel = 0;          // 0..3
    std::string figure;       // min max p_p mean rms frequency period ipeak ipeak_error step_error
    std::string unit;         // of the figure (from the channel's source)
    Limit limit;
    int line = 0;             // in the plan, for messages
};

// A point of the matrix with its settings as asked.
struct Point {
    std::size_t index = 0;    // in plan order
    std::optional<double> temperature;
    std::string mode = "quarter";
    double vref = 1.0, mth = 0.0, clk = 2000.0;
    bool cw = true;
    // Identifies the point across runs of the same plan.
    std::string key;
    // The variables its limits see.
    std::map<std::string, double> vars;
};

struct Plan {
    std::string title;
    std::string text;         // as read
    std::string hash;         // of the text: a database belongs to one plan
    std::vector<AxisValues> axes; // outermost first
    double rnf = 0.2;
    double vdut = 5.0;
    std::string chip;         // empty: the session's choice
    CaptureSpec capture;
    std::vector<MeasureSpec> measures;
    bool hasTemperatures = false;
    SoakPlan soak;
    bool skipOnSoakTimeout = false; // else measured, and marked "soak timed out"
    std::string chamberPort;

    std::size_t pointCount() const;
    std::vector<Point> points() const;
};

inline constexpr std::size_t kMaxPoints = 10000;
inline constexpr std::size_t kMaxMeasures = 64;
inline constexpr int kMaxSweeps = 100;

struct PlanResult {
    std::optional<Plan> plan;
    std::string error; // "name:line: what"
};

// Reads a plan; `source` names it in messages (a file name).
PlanResult readPlan(std::string_view text, const std::string& source = "plan");
PlanResult readPlanFile(const std::string& path);

// The figures a measurement may keep, with their units for a source.
bool knownFigure(const std::string& figure);

// A stable, short digest of a text (FNV-1a 64, hex).
std::string textHash(std::string_view text);

} // namespace zelbo::campaign
