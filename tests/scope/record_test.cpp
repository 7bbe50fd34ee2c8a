// Recording and data export: the file layout reads back as the traces the
// core converted, the recorder never loses a sweep without saying so, and a
// saved sweep is whole or not written at all.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "scope/record/recording_csv.h"
#include "scope/record/recording_format.h"
#include "scope/record/sweep_export.h"
#include "scope/record/sweep_recorder.h"
#include "scope/scope_core.h"
#include "tests/scope/fakes.h"

using namespace zelbo::scope;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        path = fs::temp_directory_path() / ("zelbo_rec_" + std::to_string(::getpid()) + "_" +
                                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// Turns sweeps through a real core, so frames carry real scales and traces.
class CoreFeed {
public:
    CoreFeed()
    {
        core.setView(&view);
        core.applyDefaults();
        core.setSource(1, Source::Current);
        core.setSource(3, Source::Icc);
        core.setRunning(true);
        for (auto& b : bytes) b.assign(kCaptureBytes, 0);
    }
    void sweep(int seed)
    {
        for (std::size_t n = 0; n < kChannels; ++n)
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
                const unsigned u = static_cast<unsigned>((seed * 37 + int(i) * 13 + int(n) * 101) % 1024);
                bytes[n][2 * i] = static_cast<std::uint8_t>(0xFC | (u >> 8)); // junk in the upper bits
                bytes[n][2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
            }
        CaptureAreas a;
        for (std::size_t n = 0; n < kChannels; ++n) a[n] = bytes[n];
        core.processSweep(a, offsets);
    }
    test::FakePort port;
    test::FakeView view;
    ScopeCore core{port};
    CalibrationOffsets offsets{{0.01, 0.02, 0.03, 0.04}, {0.1, 0.2, 0.3, 0.4}, {0.5, 0.6, 0.7, 0.8}};
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
};

// Remembers each frame's traces, to compare with what is read back.
struct TraceTap : SweepObserver {
    std::vector<std::array<std::vector<double>, kChannels>> sweeps;
    void onSweep(const SweepFrame& f) override
    {
        auto& s = sweeps.emplace_back();
        for (std::size_t n = 0; n < kChannels; ++n)
            if (f.channels & (1u << n))
                for (const auto& p : *f.traces[n]) s[n].push_back(p.second);
    }
};

struct Both : SweepObserver {
    SweepObserver* a;
    SweepObserver* b;
    Both(SweepObserver* x, SweepObserver* y) : a(x), b(y) {}
    void onSweep(const SweepFrame& f) override
    {
        a->onSweep(f);
        b->onSweep(f);
    }
};

// A sink that holds every write until released, like a disk that stalls.
class StallingSink : public RecordSink {
public:
    bool write(const std::uint8_t*, std::size_t size) override
    {
        std::unique_lock lk(m);
        ++writes;
        cv.notify_all();
        cv.wait(lk, [&] { return released || writes == 1; }); // the header goes through
        bytes += size;
        if (written) *written = bytes;
        return !failWrites || writes == 1;
    }
    bool close() override { return true; }
    // One that never stalls.
    static std::unique_ptr<StallingSink> free(std::size_t* written = nullptr)
    {
        auto sink = std::make_unique<StallingSink>();
        sink->released = true;
        sink->written = written;
        return sink;
    }
    void release()
    {
        std::lock_guard lk(m);
        released = true;
        cv.notify_all();
    }
    std::mutex m;
    std::condition_variable cv;
    int writes = 0;
    std::size_t bytes = 0;
    bool released = false;
    bool failWrites = false;
    // Where the byte count is kept for the test once the recorder has
    // dropped the sink.
    std::size_t* written = nullptr;
};

recording::HeaderInfo header(std::uint8_t mask)
{
    recording::HeaderInfo h;
    h.mask = mask;
    for (int n = 0; n < kChannels; ++n)
        // The sources CoreFeed converts with (a recording ends on a new one).
        h.channels[static_cast<std::size_t>(n)] = {channelKey(n), n == 1 ? "coil \"1\"" : "", "V",
                                                   n == 1 ? "Current" : n == 3 ? "ICC" : "Voltage"};
    h.timeBase = "2.5 ms";
    h.samplingRate = "150 kHz";
    h.started = "2026-12-07T12:00:00Z";
    return h;
}

} // namespace

TEST(Recording, FileReadsBackAsTheConvertedTraces)
{
    TempDir dir;
    const std::string path = (dir.path / "run.zrec").string();
    CoreFeed feed;
    SweepRecorder rec(8);
    TraceTap tap;
    Both both(&rec, &tap);
    feed.core.setSweepObserver(&both);
    std::string error;
    ASSERT_TRUE(rec.start(openFileSink(path, &error), header(0x0B), {}, &error)) << error;
    for (int s = 0; s < 5; ++s) {
        feed.sweep(s);
        // Wait for the writer rather than overrunning the small queue.
        ASSERT_TRUE([&] {
            for (int i = 0; i < 2000; ++i) {
                if (rec.status().bytesWritten >= recording::recordBytes(0x0B) * (s + 1)) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return false;
        }());
    }
    const RecordStatus st = rec.stop();
    EXPECT_EQ(st.reason, RecordStop::User);
    EXPECT_EQ(st.sweeps, 5u);
    EXPECT_EQ(st.firstSweep, 1u);
    EXPECT_EQ(st.lastSweep, 5u);
    EXPECT_EQ(fs::file_size(path), st.bytesWritten);

    recording::Header h;
    std::vector<recording::Sweep> back;
    ASSERT_TRUE(recording::readFile(path, h, [&](const recording::Sweep& s) {
        back.push_back(s);
        return true;
    }, &error)) << error;
    EXPECT_EQ(h.mask, 0x0B);
    EXPECT_NE(h.json.find("\"label\":\"coil \\\"1\\\"\""), std::string::npos) << h.json;
    EXPECT_EQ(h.json.find("CH3"), std::string::npos); // not recorded
    ASSERT_EQ(back.size(), 5u);
    for (std::size_t s = 0; s < back.size(); ++s) {
        EXPECT_EQ(back[s].index, s + 1);
        EXPECT_DOUBLE_EQ(back[s].periodUs, 6.25);
        for (std::size_t n : {0u, 1u, 3u}) {
            ASSERT_EQ(back[s].values[n].size(), kSamplesPerSweep);
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i)
                ASSERT_DOUBLE_EQ(back[s].values[n][i], tap.sweeps[s][n][i]) << "sweep " << s << " ch " << n;
        }
        EXPECT_TRUE(back[s].values[2].empty());
    }
}

TEST(Recording, ConvertsToCsvReadsFromARecordOnAndKeepsAnEarlierCsvWhenItCannot)
{
    TempDir dir;
    const std::string path = (dir.path / "run.zrec").string();
    CoreFeed feed;
    SweepRecorder rec(8);
    feed.core.setSweepObserver(&rec);
    std::string error;
    auto h0 = header(0x06);
    h0.channels[2].label = "coil, B";
    h0.channels[2].unit = "A";
    h0.math.push_back({"M1", "P \"coil\"", "W", "CH2 * CH3"});
    ASSERT_TRUE(rec.start(openFileSink(path, &error), h0, {}, &error)) << error;
    for (int s = 0; s < 3; ++s) {
        feed.sweep(s);
        for (int i = 0; i < 2000 && rec.status().bytesWritten < recording::recordBytes(0x06) * (s + 1); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(rec.stop().sweeps, 3u);

    // The header's JSON gives the titles; the mask which channels.
    recording::Header h;
    std::vector<recording::Sweep> back;
    ASSERT_TRUE(recording::readFile(path, h, [&](const recording::Sweep& s) { return back.push_back(s), true; },
                                    &error, 1));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].index, 2u); // from the second record on
    const recording::HeaderInfo info = recording::headerInfo(h);
    EXPECT_EQ(info.channels[1].label, "coil \"1\"");
    EXPECT_EQ(info.channels[2].unit, "A");
    EXPECT_EQ(info.timeBase, "2.5 ms");
    EXPECT_EQ(info.started, "2026-12-07T12:00:00Z");
    // A math channel is named in the header by its expression, beside the
    // records, which stay as they are.
    ASSERT_EQ(info.math.size(), 1u);
    EXPECT_EQ(info.math[0].key, "M1");
    EXPECT_EQ(info.math[0].label, "P \"coil\"");
    EXPECT_EQ(info.math[0].unit, "W");
    EXPECT_EQ(info.math[0].expression, "CH2 * CH3");
    EXPECT_EQ(h.recordBytes, recording::recordBytes(0x06));

    const fs::path csv = dir.path / "run.csv";
    const auto r = recording::convertToCsv(path, csv);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.sweeps, 3u);
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "sweep,t [s],\"CH2 coil \"\"1\"\" [V]\",\"CH3 coil, B [A]\"");
    std::size_t rows = 0;
    while (std::getline(in, line)) {
        if (rows == kSamplesPerSweep + 1) {
            // Sweep 2, sample 1: its time and both values as %.6g.
            char expect[96];
            std::snprintf(expect, sizeof expect, "2,%.9g,%.6g,%.6g", 6.25e-6, back[0].values[1][1], back[0].values[2][1]);
            EXPECT_EQ(line, expect);
        }
        ++rows;
    }
    EXPECT_EQ(rows, 3 * kSamplesPerSweep);

    // Not a recording: the earlier CSV stays whole, no temporary is left.
    const auto before = fs::file_size(csv);
    const auto bad = recording::convertToCsv(csv, csv);
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.error.find("not a recording"), std::string::npos) << bad.error;
    EXPECT_EQ(fs::file_size(csv), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator{}), 2);

    // A JSON text that does not parse still gives every channel its key.
    recording::Header broken = h;
    broken.json = "{\"channels\":[{\"unit\":7},";
    const auto fallback = recording::headerInfo(broken);
    EXPECT_EQ(fallback.channels[1].key, "CH2");
    EXPECT_EQ(fallback.channels[1].unit, "");
    EXPECT_TRUE(fallback.math.empty());
    // Math entries without an expression, or not objects, are left out; a
    // flood of them is bounded.
    std::string many = "{\"math\":[7,{\"key\":\"M1\"}";
    for (int i = 0; i < 50; ++i) many += ",{\"expression\":\"CH1\"}";
    broken.json = many + "]}";
    EXPECT_EQ(recording::headerInfo(broken).math.size(), recording::kMaxMathInfo);
}

TEST(Recording, TruncatedOrForeignFilesAreRejectedOrCutAtTheLastWholeRecord)
{
    auto head = recording::encodeHeader(header(0x01));
    ASSERT_TRUE(recording::parseHeader(head));
    EXPECT_EQ(head.size() % 8, 4u); // 28-byte preamble + JSON padded to 8
    auto bad = head;
    bad[0] = 'X';
    EXPECT_FALSE(recording::parseHeader(bad));
    bad = head;
    bad[16] ^= 0x01; // samples per sweep no longer matches the record size
    EXPECT_FALSE(recording::parseHeader(bad));
    EXPECT_FALSE(recording::parseHeader(std::span(head).first(20)));

    TempDir dir;
    const std::string path = (dir.path / "cut.zrec").string();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        std::vector<char> rec(recording::recordBytes(0x01), 0);
        rec[0] = 1;
        rec[16] = 1; // present
        out.write(rec.data(), static_cast<std::streamsize>(rec.size()));
        out.write(rec.data(), 100); // cut short mid-record
    }
    recording::Header h;
    int count = 0;
    ASSERT_TRUE(recording::readFile(path, h, [&](const recording::Sweep&) { return ++count, true; }));
    EXPECT_EQ(count, 1);
    std::string error;
    EXPECT_FALSE(recording::readFile((dir.path / "none").string(), h, [](const recording::Sweep&) { return true; },
                                     &error));
    EXPECT_FALSE(error.empty());
}

TEST(Recording, StalledDiskStopsTheRecordingWithEverySweepSoFarKept)
{
    CoreFeed feed;
    SweepRecorder rec(4);
    feed.core.setSweepObserver(&rec);
    auto sink = std::make_unique<StallingSink>();
    StallingSink* s = sink.get();
    std::size_t written = 0;
    s->written = &written;
    std::string error;
    ASSERT_TRUE(rec.start(std::move(sink), header(0x0F), {}, &error));
    // The reader never waits on the disk: ten sweeps go by at once.
    for (int i = 0; i < 10; ++i) feed.sweep(i);
    RecordStatus st = rec.status();
    EXPECT_FALSE(st.active);
    EXPECT_EQ(st.reason, RecordStop::Overrun);
    EXPECT_EQ(st.sweeps, 4u); // the pool's worth, all queued for the file
    EXPECT_EQ(st.lastSweep, 4u);
    s->release();
    st = rec.stop(); // (the sink is gone after this)
    EXPECT_EQ(st.reason, RecordStop::Overrun); // the user's stop does not hide why it ended
    EXPECT_EQ(written, recording::encodeHeader(header(0x0F)).size() + 4 * recording::recordBytes(0x0F));
    EXPECT_NE(SweepRecorder::stopMessage(st.reason).find("could not keep up"), std::string::npos);
}

TEST(Recording, LimitsAndFailedWritesEndTheRecordingAndSaySo)
{
    CoreFeed feed;
    {
        SweepRecorder rec(16);
        feed.core.setSweepObserver(&rec);
        auto sink = std::make_unique<StallingSink>();
        sink->released = true;
        const std::uint64_t head = recording::encodeHeader(header(0x01)).size();
        RecordLimits lim;
        lim.maxBytes = head + 3 * recording::recordBytes(0x01) + 10;
        ASSERT_TRUE(rec.start(std::move(sink), header(0x01), lim, nullptr));
        for (int i = 0; i < 6; ++i) feed.sweep(i);
        const RecordStatus st = rec.stop();
        EXPECT_EQ(st.reason, RecordStop::Size);
        EXPECT_EQ(st.sweeps, 3u);
        EXPECT_LE(st.bytesWritten, lim.maxBytes);
    }
    {
        SweepRecorder rec(16);
        feed.core.setSweepObserver(&rec);
        RecordLimits lim;
        lim.maxSeconds = 0.05;
        auto sink = std::make_unique<StallingSink>();
        sink->released = true;
        ASSERT_TRUE(rec.start(std::move(sink), header(0x01), lim, nullptr));
        // No sweep arrives: the window's timer still ends it.
        RecordStatus st;
        for (int i = 0; i < 5000 && (st = rec.poll()).active; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(st.reason, RecordStop::Duration);
    }
    {
        SweepRecorder rec(16);
        feed.core.setSweepObserver(&rec);
        auto sink = std::make_unique<StallingSink>();
        sink->released = true;
        sink->failWrites = true;
        ASSERT_TRUE(rec.start(std::move(sink), header(0x01), {}, nullptr));
        feed.sweep(0);
        RecordStatus st;
        for (int i = 0; i < 5000 && (st = rec.status()).active; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        st = rec.stop();
        EXPECT_EQ(st.reason, RecordStop::WriteError);
        EXPECT_EQ(st.bytesWritten, recording::encodeHeader(header(0x01)).size());
        // And a recorder can start again after any ending.
        auto again = std::make_unique<StallingSink>();
        again->released = true;
        EXPECT_TRUE(rec.start(std::move(again), header(0x01), {}, nullptr));
        EXPECT_EQ(rec.stop().reason, RecordStop::User);
    }
    std::string error;
    EXPECT_FALSE(openFileSink("/nonexistent-dir/x.zrec", &error));
    EXPECT_FALSE(error.empty());
}

// The header gives each channel's source and unit once: a recorded channel
// that changes what it measures ends the recording (with every sweep before
// it kept and the reason said), a channel not recorded does not.
TEST(Recording, ARecordedChannelsNewSourceEndsTheRecording)
{
    CoreFeed feed;
    SweepRecorder rec(16);
    feed.core.setSweepObserver(&rec);
    std::size_t written = 0;
    ASSERT_TRUE(rec.start(StallingSink::free(&written), header(0x03), {}, nullptr));
    feed.sweep(0);
    feed.core.setSource(2, Source::Current); // not recorded
    feed.sweep(1);
    EXPECT_TRUE(rec.status().active);
    feed.core.setSource(1, Source::Voltage); // the coil current's channel now a voltage
    feed.sweep(2);
    feed.sweep(3);
    const RecordStatus st = rec.stop();
    EXPECT_EQ(st.reason, RecordStop::SourceChanged);
    EXPECT_EQ(st.sweeps, 2u);
    EXPECT_EQ(written, recording::encodeHeader(header(0x03)).size() + 2 * recording::recordBytes(0x03));
    EXPECT_NE(SweepRecorder::stopMessage(st.reason).find("source changed"), std::string::npos);
}

TEST(Recording, AStopWhileASweepIsBeingTakenStillWritesEverySweepItCounts)
{
    // The reader may be encoding a sweep the moment the user stops; that
    // sweep is counted, so it must reach the file too. Stops are scattered
    // over a running feed until they land inside an encoding often enough.
    CoreFeed feed;
    const std::uint64_t head = recording::encodeHeader(header(0x0F)).size();
    const std::uint64_t rec1 = recording::recordBytes(0x0F);
    for (int round = 0; round < 200; ++round) {
        SweepRecorder rec(256);
        feed.core.setSweepObserver(&rec);
        auto sink = std::make_unique<StallingSink>();
        sink->released = true;
        std::size_t written = 0;
        sink->written = &written;
        ASSERT_TRUE(rec.start(std::move(sink), header(0x0F), {}, nullptr));
        std::atomic<bool> go{true};
        std::thread reader([&] {
            for (int i = 0; go.load() && i < 200; ++i) feed.sweep(i);
        });
        std::this_thread::sleep_for(std::chrono::microseconds(50 + 37 * (round % 20)));
        const RecordStatus st = rec.stop();
        go.store(false);
        reader.join();
        ASSERT_EQ(written, head + st.sweeps * rec1) << "round " << round << ": " << st.sweeps << " sweeps counted";
        feed.core.setSweepObserver(nullptr);
    }
}

TEST(Export, CsvHasTimeInTheTimeBaseUnitAndValuesThatReadBackExactly)
{
    ExportSweep s;
    s.timeBase = "2.5 ms";
    s.samplePeriodUs = 6.25;
    s.channels.push_back({"CH1", "", "V", "Voltage", "OUT1A", "20 V", {{0, 0.1}, {6.25, -1.0 / 3}}, ""});
    s.channels.push_back({"CH2", "coil,1", "A", "Current", "OUT1B", "1 A", {{0, 0.7071067811865476}, {6.25, 2}}, ""});
    s.channels.push_back({"M1", "", "W", "math", "", "1 W", {{0, 0.0707}, {6.25, -2.0 / 3}}, "CH1 * CH2"});
    const std::string csv = sweepCsv(s);
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "Time (ms),CH1 (V),\"CH2 coil,1 (A)\",M1 (W)");
    std::getline(in, line);
    EXPECT_EQ(line, "0,0.1,0.7071067811865476,0.0707");
    std::getline(in, line);
    const auto comma = line.find(',');
    EXPECT_EQ(line.substr(0, comma), "0.00625");
    EXPECT_EQ(std::stod(line.substr(comma + 1, line.find(',', comma + 1) - comma - 1)), -1.0 / 3);

    EXPECT_EQ(timeUnitOf("500 ns").first, "ns");
    EXPECT_EQ(timeUnitOf("1 µs").first, "µs");
    EXPECT_DOUBLE_EQ(timeUnitOf("1 s").second, 1e6);

    const std::string json = sweepJson(s);
    EXPECT_NE(json.find("\"timeUnit\": \"ms\""), std::string::npos);
    EXPECT_NE(json.find("\"samples\": [0.7071067811865476,2]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"label\": \"coil,1\""), std::string::npos);
    EXPECT_NE(json.find("\"expression\": \"CH1 * CH2\""), std::string::npos) << json;
    EXPECT_EQ(json.find("\"expression\""), json.rfind("\"expression\"")) << "channels carry none";
}

TEST(Export, SaveReplacesTheFileWholeAndAFailedOneSaysSo)
{
    TempDir dir;
    const std::string path = (dir.path / "sweep.csv").string();
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, "first\n", &error)) << error;
    ASSERT_TRUE(writeFileAtomically(path, "second\n", &error)) << error;
    std::ifstream in(path);
    std::string got;
    std::getline(in, got);
    EXPECT_EQ(got, "second");
    // Nothing but the file is left in the folder.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path)) ++entries;
    EXPECT_EQ(entries, 1);
    // A folder in the file's place: the save fails, says so, and the folder stays.
    const std::string blocked = (dir.path / "blocked.csv").string();
    fs::create_directories(blocked);
    EXPECT_FALSE(writeFileAtomically(blocked, "third\n", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(blocked));
    entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path)) ++entries;
    EXPECT_EQ(entries, 2);
}
