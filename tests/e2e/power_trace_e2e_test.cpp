// The board traffic of the power button, recorded once from the window and
// kept here: whatever carries the power sequences (window or engine), the
// board must see exactly this, event for event.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/program_fixture.h"

namespace e2e {
namespace {

// One board event as text: "W reg=value/class", "D channel=code", "V request=value",
// "B target@start+count".
std::string describe(const LogEvent& e)
{
    std::ostringstream s;
    switch (e.kind) {
    case LogEvent::Kind::RegisterWrite:
        s << "W " << int(e.code) << '=' << e.value << '/' << int(e.writeClass);
        break;
    case LogEvent::Kind::DacLoad: s << "D " << int(e.code) << '=' << e.value; break;
    case LogEvent::Kind::VendorRequest: s << "V " << int(e.code) << '=' << e.value; break;
    case LogEvent::Kind::BlockWrite: s << "B " << int(e.code) << '@' << e.value << '+' << e.count; break;
    }
    return s.str();
}

using Trace = std::vector<std::string>;

// The oscilloscope's arm runs on the link's reader as soon as "Run" asks for
// it, so its scope-class writes may fall anywhere among the sequence's later
// ones. Everything else keeps its exact order; the scope writes are compared
// as a whole, each one as often as recorded.
struct Split {
    Trace ordered;
    Trace scope; // sorted
    bool operator==(const Split&) const = default;
};

Split split(const Trace& t)
{
    Split s;
    for (const auto& e : t) {
        if (e.size() > 2 && e.compare(e.size() - 2, 2, "/1") == 0) s.scope.push_back(e);
        else s.ordered.push_back(e);
    }
    std::sort(s.scope.begin(), s.scope.end());
    return s;
}

std::string listing(const Trace& t)
{
    std::string out;
    for (const auto& line : t) out += "        \"" + line + "\",\n";
    return out;
}

// With the program's own pauses: the trace is the one a real board sees, at
// its real pace.
class PowerTrace : public Program {
protected:
    PowerTrace() { fullPauses = true; }
    Trace trace() const
    {
        Trace t;
        for (const LogEvent& e : board.log()) t.push_back(describe(e));
        return t;
    }
    // The trace up to and including the first occurrence of `last`.
    Trace traceUntil(const std::string& last) const
    {
        Trace t;
        for (const LogEvent& e : board.log()) {
            t.push_back(describe(e));
            if (t.back() == last) return t;
        }
        return {};
    }
};

// From the click to the clock start, on the pin panel's defaults.
const Trace kPowerOn = {
        "W 44=2/0",
        "W 26=131/0",
        "D 131=2500",
        "W 44=11/0",
        "W 2=0/0",
        "W 1=227/0",
        "W 34=0/0",
        "W 35=0/0",
        "W 26=135/0",
        "D 135=0",
        "W 36=196/0",
        "W 37=9/0",
        "W 26=129/0",
        "D 129=2500",
        "W 38=196/0",
        "W 39=9/0",
        "W 26=131/0",
        "D 131=2500",
        "W 40=196/0",
        "W 41=9/0",
        "W 26=128/0",
        "D 128=2500",
        "W 32=196/0",
        "W 33=9/0",
        "W 26=130/0",
        "D 130=2500",
        "W 120=20/1",
        "W 121=4/1",
        "W 122=20/1",
        "W 123=4/1",
        "W 112=15/1",
        "W 34=0/0",
        "W 35=0/0",
        "W 26=135/0",
        "D 135=0",
        "W 144=0/0",
        "W 120=20/1",
        "W 121=4/1",
        "W 122=20/1",
        "W 123=4/1",
        "W 114=246/1",
        "W 115=0/1",
        "W 116=255/1",
        "W 117=15/1",
        "W 112=15/1",
        "W 153=0/0",
        "W 144=1/0",
};

// From the click until the board is quiet again.
const Trace kPowerOff = {
        "W 44=2/0",
        "W 26=131/0",
        "D 131=2500",
        "W 44=11/0",
        "W 2=0/0",
        "W 144=0/0",
        "W 144=0/0",
        "W 1=224/0",
        "W 112=0/1",
        "W 34=0/0",
        "W 35=0/0",
        "W 26=135/0",
        "D 135=0",
};

TEST_F(PowerTrace, PowerOnAndOffReachTheBoardExactlyAsRecorded)
{
    openReady();
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    QTest::qWait(200);
    board.clearLog();

    clickPower();
    const std::string clockStart = "W 144=1/0";
    ASSERT_TRUE(waitUntil([&] { return !traceUntil(clockStart).empty(); }, 5000));
    const Trace on = traceUntil(clockStart);
    EXPECT_EQ(split(on).ordered, split(kPowerOn).ordered) << "recorded:\n" << listing(on);
    EXPECT_EQ(split(on).scope, split(kPowerOn).scope) << "recorded:\n" << listing(on);

    waitLockout();
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    QTest::qWait(200);
    board.clearLog();
    clickPower();
    ASSERT_TRUE(waitUntil([&] { return !traceUntil("W 26=135/0").empty(); }, 5000));
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    QTest::qWait(300);
    const Trace off = trace();
    EXPECT_EQ(off, kPowerOff) << "recorded:\n" << listing(off);
}

} // namespace
} // namespace e2e
