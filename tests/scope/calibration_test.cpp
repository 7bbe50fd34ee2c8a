// Offset calibration: the register traffic of its three steps, the offsets it
// measures, the refusal while "Run" is on, the step time-out, and init.clb.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "scope/calibration.h"
#include "scope/calibration_file.h"
#include "tests/scope/fakes.h"

namespace zelbo::scope {
namespace {

namespace fs = std::filesystem;
using test::FakePort;
using test::RegWrite;
constexpr auto S = link::WriteClass::Scope;

class Messages final : public MessageService {
public:
    MsgAnswer show(const Message& m) override
    {
        shown.push_back(m);
        return MsgAnswer::Ok;
    }
    std::vector<Message> shown;
};

// Four capture blocks, each holding one raw code in every sample.
struct Areas {
    std::array<std::array<std::uint8_t, kCaptureBytes>, kChannels> bytes{};
    explicit Areas(std::array<int, kChannels> codes)
    {
        for (std::size_t n = 0; n < kChannels; ++n)
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i) set(n, i, codes[n]);
    }
    void set(std::size_t n, std::size_t i, int code)
    {
        const auto u = static_cast<std::uint16_t>(code);
        bytes[n][2 * i] = static_cast<std::uint8_t>((u >> 8) & 0x03);
        bytes[n][2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
    }
    CaptureAreas spans() const
    {
        CaptureAreas a;
        for (std::size_t n = 0; n < kChannels; ++n) a[n] = bytes[n];
        return a;
    }
};

struct Bench {
    FakePort port;
    Messages messages;
    bool running = false;
    int pinsDropped = 0, restored = 0, pinsReapplied = 0, finishRequests = 0, disabled = 0;
    std::optional<CalibrationOffsets> published;
    Calibration cal{port, messages, hooks()};

    CalibrationHooks hooks()
    {
        CalibrationHooks h;
        h.dropPins = [this] { ++pinsDropped; };
        h.scopeRunning = [this] { return running; };
        h.disableControls = [this] { ++disabled; };
        h.finishLater = [this] { ++finishRequests; };
        h.restoreControls = [this] { ++restored; };
        h.reapplyPins = [this] { ++pinsReapplied; };
        h.offsetsChanged = [this](const CalibrationOffsets& o) { published = o; };
        return h;
    }
};

std::vector<RegWrite> stepWrites(std::uint8_t config)
{
    return {{0x78, config, S}, {0x79, config, S}, {0x7A, config, S}, {0x7B, config, S}, {0x72, 0, S}, {0x73, 0, S}};
}

TEST(Calibration, ThreeStepsMeasureTheNegatedRestLevels)
{
    Bench b;
    CalibrationOffsets old;
    old.voltage = {9, 9, 9, 9};
    b.cal.setOffsets(old);
    ASSERT_TRUE(b.cal.start());
    EXPECT_EQ(b.pinsDropped, 1);
    EXPECT_EQ(b.disabled, 1);
    EXPECT_EQ(b.cal.step(), 1);
    auto expected = stepWrites(0x04);
    expected.push_back({0x70, 0x0F, S});
    EXPECT_EQ(b.port.take(), expected);
    EXPECT_FALSE(b.cal.start()) << "one calibration at a time";

    b.cal.runStep(Areas({2, -1, 1, -2}).spans());
    EXPECT_EQ(b.cal.step(), 2);
    expected = {{0x70, 0x00, S}};
    for (const auto& w : stepWrites(0x14)) expected.push_back(w);
    expected.push_back({0x70, 0x0F, S});
    EXPECT_EQ(b.port.take(), expected);

    b.cal.runStep(Areas({3, -2, 2, -4}).spans());
    EXPECT_EQ(b.cal.step(), 3);
    EXPECT_EQ(b.port.take().at(1), (RegWrite{0x78, 0x1C, S}));

    b.cal.runStep(Areas({-2, 3, -3, 2}).spans());
    EXPECT_EQ(b.cal.step(), 0);
    EXPECT_EQ(b.port.take(), (std::vector<RegWrite>{{0x70, 0x00, S}}));
    EXPECT_EQ(b.finishRequests, 1);
    // Until finish() runs on the GUI thread the old offsets are in use.
    EXPECT_EQ(b.cal.offsets().voltage[0], 9);

    b.cal.finish();
    const CalibrationOffsets& o = b.cal.offsets();
    const std::array<int, 4> v{2, -1, 1, -2}, c{3, -2, 2, -4}, icc{-2, 3, -3, 2};
    for (std::size_t n = 0; n < kChannels; ++n) {
        // Each offset cancels its channel's rest level exactly.
        EXPECT_NEAR(o.voltage[n] + scaleRaw(v[n], kVoltFullScale), 0.0, 1e-12) << n;
        EXPECT_NEAR(o.current[n] + scaleRaw(c[n], kAmpFullScale), 0.0, 1e-12) << n;
        EXPECT_NEAR(o.icc[n] + scaleRaw(icc[n], kAmpFullScale), 0.0, 1e-12) << n;
    }
    ASSERT_TRUE(b.published.has_value());
    EXPECT_EQ(b.published->current, o.current);
    EXPECT_EQ(b.restored, 1);
    EXPECT_EQ(b.pinsReapplied, 1);
    ASSERT_EQ(b.messages.shown.size(), 1u);
    EXPECT_EQ(b.messages.shown[0].text, "Oscilloscope calibration completed.\n");
    EXPECT_EQ(b.messages.shown[0].caption, "Oscilloscope Calibration");
    b.cal.finish();
    EXPECT_EQ(b.messages.shown.size(), 1u) << "once";
}

TEST(Calibration, VoltageFollowsTheLastSamplesCurrentsTheMean)
{
    Areas a({0, 0, 0, 0});
    // Channel 1: 10 everywhere except the last 64 samples at 0.
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i) a.set(0, i, i < kSamplesPerSweep - 64 ? 10 : 0);
    // Channel 2: half 0, half 100 (mean 50).
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i) a.set(1, i, i < kSamplesPerSweep / 2 ? 0 : 100);
    const auto v = Calibration::measureVoltage(a.spans());
    const auto m = Calibration::measureMean(a.spans());
    EXPECT_NEAR(v[0], 0.0, 1e-9);
    EXPECT_NEAR(m[0], scaleRaw(10, kAmpFullScale) * (4096.0 - 64) / 4096.0, 1e-9);
    EXPECT_NEAR(v[1], scaleRaw(100, kVoltFullScale), 1e-9);
    EXPECT_NEAR(m[1], scaleRaw(100, kAmpFullScale) / 2, 1e-9);
}

TEST(Calibration, RefusedWhileRunningChangesNothing)
{
    Bench b;
    b.running = true;
    CalibrationOffsets old;
    old.icc = {1, 2, 3, 4};
    b.cal.setOffsets(old);
    EXPECT_FALSE(b.cal.start());
    EXPECT_EQ(b.cal.step(), 0);
    EXPECT_TRUE(b.port.take().empty()) << "no scope register written";
    EXPECT_EQ(b.disabled, 0);
    EXPECT_EQ(b.cal.offsets().icc, old.icc);
    ASSERT_EQ(b.messages.shown.size(), 1u);
    EXPECT_NE(b.messages.shown[0].text.find("Run/Stop"), std::string::npos);
}

TEST(Calibration, AStalledBoardEndsItWithTheOldOffsetsAndControlsBack)
{
    Bench b;
    CalibrationOffsets old;
    old.voltage = {0.1, 0.2, 0.3, 0.4};
    b.cal.setOffsets(old);
    ASSERT_TRUE(b.cal.start());
    b.cal.runStep(Areas({5, 5, 5, 5}).spans()); // step 1 done, then the board stops sweeping
    b.port.take();
    const auto now = Calibration::Clock::now();
    EXPECT_FALSE(b.cal.poll(now + std::chrono::seconds(1)));
    EXPECT_TRUE(b.cal.calibrating());
    EXPECT_TRUE(b.cal.poll(now + Calibration::kStepTimeout + std::chrono::seconds(1)));
    EXPECT_FALSE(b.cal.calibrating());
    EXPECT_EQ(b.port.take(), (std::vector<RegWrite>{{0x70, 0x00, S}})) << "acquisition stopped";
    EXPECT_EQ(b.restored, 1);
    EXPECT_EQ(b.pinsReapplied, 1);
    ASSERT_EQ(b.messages.shown.size(), 1u);
    EXPECT_EQ(b.messages.shown[0].text, kCalibrationTimedOut);
    // A late sweep changes nothing; the old offsets stay.
    b.cal.runStep(Areas({7, 7, 7, 7}).spans());
    b.cal.finish();
    EXPECT_EQ(b.cal.offsets().voltage, old.voltage);
    EXPECT_FALSE(b.published.has_value());
    EXPECT_TRUE(b.port.take().empty());
    // And a new calibration can start.
    EXPECT_TRUE(b.cal.start());
}

TEST(CalibrationFile, FormatAndTolerantReading)
{
    CalibrationOffsets o;
    o.voltage = {0.0704501, -0.140900, 1e-5, -2.5};
    o.current = {0.012, 0, 0, 0};
    o.icc = {-0.0243542, 0.0365, 0, 123456789};
    EXPECT_EQ(formatCalibration(o), "0.0704501 -0.1409 1e-05 -2.5 \n0.012 0 0 0 \n-0.0243542 0.0365 0 1.23457e+08 \n");

    // Four numbers, four zeros, one number: the other ICC offsets stay.
    CalibrationOffsets r;
    r.icc = {7, 7, 7, 7};
    parseCalibration("0.1 0.2 0.3 0.4 \r\n0 0 0 0 \n-0.5\n", r);
    EXPECT_EQ(r.voltage, (std::array<double, 4>{0.1, 0.2, 0.3, 0.4}));
    EXPECT_EQ(r.current, (std::array<double, 4>{0, 0, 0, 0}));
    EXPECT_EQ(r.icc, (std::array<double, 4>{-0.5, 7, 7, 7}));

    // Fields that are no finite number leave their offset alone.
    CalibrationOffsets j;
    j.voltage = {1, 1, 1, 1};
    parseCalibration("junk nan inf   +0.25 9 9\n", j);
    EXPECT_EQ(j.voltage, (std::array<double, 4>{1, 1, 1, 0.25}));

    // Noise that merely starts like a number is no offset; old Mac line
    // ends still give three lines.
    CalibrationOffsets d;
    d.voltage = {1, 1, 1, 1};
    parseCalibration("7\x93\x01 0.2V 1e 0.4\r0.5\r-0.5\r", d);
    EXPECT_EQ(d.voltage, (std::array<double, 4>{1, 1, 1, 0.4}));
    EXPECT_EQ(d.current[0], 0.5);
    EXPECT_EQ(d.icc[0], -0.5);
}

TEST(CalibrationFile, WriteIsAtomicAndReportsFailure)
{
    const fs::path dir = fs::temp_directory_path() / ("zelbo_clb_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    CalibrationOffsets o;
    o.current = {0.5, -0.25, 0.125, 0};
    ASSERT_TRUE(writeCalibrationFile(dir / "init.clb", o));
    CalibrationOffsets back;
    ASSERT_TRUE(readCalibrationFile(dir / "init.clb", back));
    EXPECT_EQ(back.current, o.current);

    std::string error;
    EXPECT_FALSE(writeCalibrationFile(dir / "gone" / "init.clb", o, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(readCalibrationFile(dir / "gone" / "init.clb", back));
    // A folder in the file's place is refused and keeps the offsets.
    fs::create_directories(dir / "folder" / "init.clb");
    back.current = {9, 9, 9, 9};
    EXPECT_FALSE(readCalibrationFile(dir / "folder" / "init.clb", back));
    EXPECT_EQ(back.current[0], 9);
    fs::remove_all(dir);
}

} // namespace
} // namespace zelbo::scope
