// The FPGA link on the scripted fake bridge: frames and buffers, record
// actions, link start, shutdown traffic and the failure paths.
#include <gtest/gtest.h>

#include <thread>

#include "engine/answers.h"
#include "tests/link/link_fixture.h"

namespace zelbo::link::test {
namespace {

using namespace std::chrono_literals;

template <class Pred> bool eventually(Pred p, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (p())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return p();
}

// ---- frames and buffers --------------------------------------------------------

TEST_F(LinkTest, EightyFiveWritesFillOneTransferAndTheNextFlushesFirst)
{
    auto& l = startedQuiet();
    for (int i = 0; i < 85; ++i)
        l.queueWriteQuiet(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i + 1));
    EXPECT_EQ(l.pendingLength(), 510u);
    EXPECT_TRUE(fake().commandTransfers().empty());

    l.queueWriteQuiet(0x55, 0x66);
    EXPECT_EQ(l.pendingLength(), 6u);
    auto sent = fake().commandTransfers();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 510u);
    EXPECT_EQ((std::vector<std::uint8_t>(sent[0].begin(), sent[0].begin() + 12)),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 2}));

    EXPECT_EQ(l.flushCommands(), 0);
    EXPECT_EQ(l.pendingLength(), 0u);
    EXPECT_EQ(fake().writes().back(), (RegWrite{0, 0x55, 0x66}));
    EXPECT_TRUE(l.writeDone().isSet());
    EXPECT_EQ(l.flushCommands(), 0); // nothing to send
    EXPECT_EQ(fake().commandTransfers().size(), 2u);
}

TEST_F(LinkTest, ReadRequestThatWouldReach512IsDropped)
{
    auto& l = startedQuiet();
    for (int i = 0; i < 82; ++i)
        l.queueWriteQuiet(1, 2);
    for (int i = 0; i < 3; ++i)
        l.queueRead(0x64);
    EXPECT_EQ(l.pendingLength(), 507u);
    l.queueRead(0x65);
    EXPECT_EQ(l.pendingLength(), 507u);
    ASSERT_EQ(l.flushCommands(), 0);
    EXPECT_EQ(fake().readRequests(), (std::vector<std::uint8_t>{0x64, 0x64, 0x64}));
}

TEST_F(LinkTest, WritesAreGatedByLinkStateAndScopeCapability)
{
    auto& l = make();
    l.queueWrite(0x10, 1); // before Hardware Ready: dropped
    l.queueRead(0x64);     // reads are not gated
    EXPECT_EQ(l.pendingLength(), 5u);
    EXPECT_EQ(l.flushCommands(), 1); // no board yet: nothing sent, no error raised
    EXPECT_EQ(l.pendingLength(), 5u);
    EXPECT_TRUE(messages.shown().empty());

    fake().edit([](FakeScript& s) { s.scopeCapable = false; });
    int cleared = 0;
    clearDac = ([&](CommandPort& port) {
        ++cleared;
        port.queueWrite(0x70, 0, WriteClass::Scope);
        port.queueWrite(0x40, 0x12);
    });
    ASSERT_EQ(start(l), 0);
    ASSERT_TRUE(l.waitWriteDone(2000ms));
    EXPECT_EQ(cleared, 1);
    EXPECT_FALSE(l.scopeCommandsAllowed());
    l.queueWrite(0x71, 5, WriteClass::Scope);
    l.queueWrite(0x41, 5);
    ASSERT_TRUE(eventually([&] { return l.pendingLength() == 0 && l.writeDone().isSet(); }));
    for (const auto& w : fake().writes())
        EXPECT_EQ(w.cls, 0) << "scope-class write got through: reg " << int(w.reg);
    EXPECT_EQ(fake().writes().back(), (RegWrite{0, 0x41, 5}));
    EXPECT_EQ(fake().readRequests(), (std::vector<std::uint8_t>{0x64}));
}

TEST_F(LinkTest, BlockFramesTravelAloneWithTheirHeader)
{
    auto& l = startedQuiet();
    std::vector<std::uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    l.queueBlock(5, 0x1234, data.data(), data.size());
    EXPECT_EQ(l.blockLength(), 309u);
    l.queueBlock(5, 0, data.data(), 0);   // nothing to send: ignored
    l.queueBlock(5, 0, data.data(), 504); // too long for one frame: ignored
    EXPECT_EQ(l.blockLength(), 309u);
    EXPECT_FALSE(l.blockWriteDone().isSet());

    // The reader sends it.
    link.reset();
    make();
    ASSERT_EQ(start(*link), 0);
    ASSERT_TRUE(eventually([&] { return link->pendingLength() == 0 && link->writeDone().isSet(); }));
    fake().clearLogs();
    link->queueBlock(5, 0x1234, data.data(), data.size());
    ASSERT_TRUE(link->blockWriteDone().wait(2000ms));
    auto blocks = fake().blockFrames();
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks[0].size(), 309u);
    EXPECT_EQ((std::vector<std::uint8_t>(blocks[0].begin(), blocks[0].begin() + 9)),
              (std::vector<std::uint8_t>{0, 0, 0, 3, 5, 0x12, 0x34, 0x01, 0x2B}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), blocks[0].begin() + 9));
    EXPECT_TRUE(fake().commandTransfers().empty());
}

// ---- record actions ---------------------------------------------------------------

// Register answers reach the link's one answer handler in order; the
// engine's decoder makes the features' readings of them.
TEST_F(LinkTest, RegisterAnswersReachTheirHandlers)
{
    auto& l = make();
    std::atomic<int> index{0}, raw{-1}, runEnded{0};
    std::atomic<int> answers{0};
    engine::Answers decoded(l);
    decoded.onDynamicIndex([&](std::int16_t i) { index = i; });
    decoded.onTemperature([&](std::uint16_t r) { raw = r; });
    decoded.onClockRunEnded([&] { ++runEnded; });
    l.onReadAnswer([&](std::uint8_t reg, std::uint8_t value) {
        ++answers;
        decoded.take(reg, value);
    });
    fake().edit([](FakeScript& s) {
        s.registers = {{0xC6, 0xFE}, {0xC7, 0xFF}, {0x64, 0x34}, {0x65, 0xF2}, {0x90, 0x02}};
    });
    ASSERT_EQ(start(l), 0);

    // 0xC6 answers queue the read of 0xC7; together they give a signed index.
    l.queueRead(0xC6);
    ASSERT_TRUE(eventually([&] { return index.load() != 0; }));
    EXPECT_EQ(index.load(), -2);
    EXPECT_EQ(fake().readRequests(), (std::vector<std::uint8_t>{0xC6, 0xC7}));

    // The temperature pair: the high nibble of 0x65 with the low byte of the
    // 0x64 answer that directly follows it.
    decoded.temperatureEvent().reset();
    l.queueRead(0x65);
    l.queueRead(0x64);
    ASSERT_TRUE(decoded.temperatureEvent().wait(2000ms));
    EXPECT_EQ(raw.load(), 0x234);

    l.queueRead(0x90); // bit 0 clear: the counted run has ended
    ASSERT_TRUE(eventually([&] { return runEnded.load() == 1; }));
    EXPECT_EQ(answers.load(), 5);
}

TEST_F(LinkTest, DiodeCodeIsOnlyTakenFromOnePairOfAnswers)
{
    auto& l = make();
    std::atomic<int> conversions{0}, raw{-1}, answers{0};
    engine::Answers decoded(l);
    decoded.onTemperature([&](std::uint16_t r) {
        raw = r;
        ++conversions;
    });
    l.onReadAnswer([&](std::uint8_t reg, std::uint8_t value) {
        decoded.take(reg, value);
        ++answers;
    });
    fake().edit([](FakeScript& s) { s.registers = {{0x64, 0x01}, {0x65, 0x03}, {0x90, 0x00}}; });
    ASSERT_EQ(start(l), 0);

    // A low byte alone, a high nibble alone, and a high nibble whose low byte
    // does not follow it: none of them is a reading.
    l.queueRead(0x64);
    l.queueRead(0x65);
    l.queueRead(0x90);
    l.queueRead(0x64);
    ASSERT_TRUE(eventually([&] { return answers.load() == 4; }));
    EXPECT_EQ(conversions.load(), 0);

    // The stale nibble does not join a later low byte either.
    l.queueRead(0x65);
    l.queueRead(0x64);
    ASSERT_TRUE(eventually([&] { return conversions.load() == 1; }));
    EXPECT_EQ(raw.load(), 0x301);
    EXPECT_EQ(answers.load(), 6);
}

TEST_F(LinkTest, UploadsFillTheCaptureAreasAndSweepsRunOnTheReader)
{
    auto& l = make();
    std::atomic<int> sweeps{0}, patternStops{0};
    std::thread::id sweepThread;
    l.onSweep([&] {
        sweepThread = std::this_thread::get_id();
        ++sweeps;
    });
    l.onPatternStopped([&] { ++patternStops; });
    ASSERT_EQ(start(l), 0);

    std::vector<std::uint8_t> samples(256);
    for (int chunk = 0; chunk < 33; ++chunk) {
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::uint8_t>(chunk + i);
        BlockBuilder bb;
        bb.upload(2, samples.data(), samples.size());
        if (chunk == 32)
            bb.record(code::InfoSweepFin).record(code::PattStop);
        fake().pushBlock(bb.b);
    }
    ASSERT_TRUE(eventually([&] { return sweeps.load() == 1 && patternStops.load() == 1; }));
    EXPECT_NE(sweepThread, std::this_thread::get_id());
    // 32 chunks fill the area and wrap; the 33rd overwrote the first chunk.
    auto snap = std::make_unique<FpgaLink::CaptureSnapshot>();
    l.copyCaptures(*snap);
    const auto& area = (*snap)[2];
    EXPECT_EQ(area[0], 32);
    EXPECT_EQ(area[256], 1);
    EXPECT_EQ(area[8191], static_cast<std::uint8_t>(31 + 255));
    EXPECT_EQ(std::count((*snap)[0].begin(), (*snap)[0].end(), 0), static_cast<long>(kCaptureBytes));

    // The next chunk of a channel lands at its write index: a channel whose
    // index was not reset goes on after the 33rd chunk, a reset one starts over.
    auto pushChunk = [&](int channel, std::uint8_t fill) {
        std::vector<std::uint8_t> c(256, fill);
        BlockBuilder bb;
        bb.upload(channel, c.data(), c.size());
        bb.record(code::InfoScrRead, 0x01, 0x01); // a mark to wait for
        fake().pushBlock(bb.b);
    };
    std::atomic<int> marks{0};
    l.onReadAnswer([&](std::uint8_t, std::uint8_t) { ++marks; });
    l.resetCaptureIndices(0x01); // other channels keep their place
    pushChunk(2, 0xAA);
    ASSERT_TRUE(eventually([&] { return marks.load() == 1; }));
    l.copyCaptures(*snap);
    EXPECT_EQ((*snap)[2][255], static_cast<std::uint8_t>(32 + 255));
    EXPECT_EQ((*snap)[2][256], 0xAA);
    l.resetCaptureIndices(0x04);
    pushChunk(2, 0xBB);
    ASSERT_TRUE(eventually([&] { return marks.load() == 2; }));
    l.copyCaptures(*snap);
    EXPECT_EQ((*snap)[2][0], 0xBB);
    EXPECT_EQ((*snap)[2][256], 0xAA);

    l.clearCaptures();
    l.copyCaptures(*snap);
    EXPECT_EQ(std::count((*snap)[2].begin(), (*snap)[2].end(), 0), static_cast<long>(kCaptureBytes));
    pushChunk(2, 0xCC);
    ASSERT_TRUE(eventually([&] { return marks.load() == 3; }));
    l.copyCaptures(*snap);
    EXPECT_EQ((*snap)[2][0], 0xCC);
}

TEST_F(LinkTest, EveryFourthSweepWhileCalibratingRunsOneStep)
{
    auto& l = make();
    std::atomic<bool> calibrating{true};
    std::atomic<int> steps{0}, sweeps{0};
    l.onCalibration([&] { return calibrating.load(); }, [&] { ++steps; });
    l.onSweep([&] { ++sweeps; });
    ASSERT_EQ(start(l), 0);

    BlockBuilder three;
    three.record(code::InfoSweepFin).record(code::InfoSweepFin).record(code::InfoSweepFin);
    fake().pushBlock(three.b);
    BlockBuilder mark;
    mark.record(code::InfoScrRead, 0x01, 0x01);
    std::atomic<int> marks{0};
    l.onReadAnswer([&](std::uint8_t, std::uint8_t) { ++marks; });
    fake().pushBlock(mark.b);
    ASSERT_TRUE(eventually([&] { return marks.load() == 1; }));
    EXPECT_EQ(steps.load(), 0);

    BlockBuilder fourth;
    fourth.record(code::InfoSweepFin);
    fake().pushBlock(fourth.b);
    ASSERT_TRUE(eventually([&] { return steps.load() == 1; }));
    calibrating = false;
    fake().pushBlock(fourth.b);
    ASSERT_TRUE(eventually([&] { return sweeps.load() == 1; }));
    EXPECT_EQ(steps.load(), 1);
}

// ---- link start and shutdown --------------------------------------------------------

TEST_F(LinkTest, StartWritesTheInitialRegistersInOrderAndShutdownSendsItsTraffic)
{
    auto& l = make();
    clearDac = ([](CommandPort& p) {
        p.queueWrite(0x70, 0, WriteClass::Scope); // dropped: capability not known yet
        p.queueWrite(0x30, 0);
    });
    ASSERT_EQ(start(l), 0);
    EXPECT_TRUE(l.active());
    EXPECT_TRUE(l.scopeCommandsAllowed());
    EXPECT_EQ(window.started.load(), 1);
    ASSERT_TRUE(eventually([&] { return l.pendingLength() == 0 && l.writeDone().isSet(); }));

    std::vector<RegWrite> expected = {{0, 0x30, 0}, {0, 0xA0, 0}, {0, 0xA1, 2}};
    for (std::uint8_t r = 0xA2; r <= 0xA7; ++r)
        expected.push_back({0, r, 0});
    expected.insert(expected.end(), {{0, 0xA0, 1}, {0, 0xA0, 0}, {0, 0xB0, 0}, {0, 0xF0, 1}});
    EXPECT_EQ(fake().writes(), expected);
    auto blocks = fake().blockFrames();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0], (std::vector<std::uint8_t>{0, 0, 0, 3, 0, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(clock.pauses().back(), 10ms);

    // Vendor requests of the start: port A bit 7 set, then the capability query.
    std::vector<std::uint8_t> requests;
    for (const auto& v : fake().vendorCalls())
        requests.push_back(v.request);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests.back(), 0xB3);
    EXPECT_EQ(requests[requests.size() - 2], 0xB5);

    fake().clearLogs();
    ASSERT_TRUE(zelbo::engine::shutdownLink(l));
    EXPECT_FALSE(l.readerRunning());
    EXPECT_EQ(fake().writes(), (std::vector<RegWrite>{{0, 0x22, 0}, {0, 0x23, 0}, {0, 0x1A, 0x88},
                                                      {0, 0xFF, 0xEA}, {0, 0xFF, 0x15},
                                                      {0, 0xFF, 0xAE}, {0, 0xFF, 0xFF}}));
    auto calls = fake().vendorCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].request, 0xB5);
    EXPECT_EQ(calls[0].value, 1);
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_EQ(closeRequests.load(), 0);

    l.releaseBridge();
    EXPECT_EQ(fake().closes(), 1);
}

TEST_F(LinkTest, NoHardwareReadyLeavesTheLinkInactive)
{
    fake().edit([](FakeScript& s) { s.hardwareReady = false; });
    auto& l = make();
    EXPECT_EQ(start(l), -1);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kNoHardwareReadyText}));
    EXPECT_FALSE(l.active());
    EXPECT_EQ(window.started.load(), 0);
    l.queueWrite(0x10, 1);
    EXPECT_EQ(l.pendingLength(), 0u);
    EXPECT_TRUE(zelbo::engine::shutdownLink(l)); // no traffic, the reader stops
    EXPECT_TRUE(fake().writes().empty());
}

TEST_F(LinkTest, FailedBringUpStartsNothing)
{
    fake().edit([](FakeScript& s) { s.resetAck = false; });
    auto& l = make();
    EXPECT_EQ(start(l), kConfigureResetFailed);
    EXPECT_FALSE(l.readerRunning());
    EXPECT_FALSE(l.active());
    EXPECT_TRUE(fake().writes().empty());
    EXPECT_TRUE(zelbo::engine::shutdownLink(l));
}

// ---- failures ------------------------------------------------------------------------

TEST_F(LinkTest, CommunicationErrorDuringShutdownShowsNoMessage)
{
    // The window is closing and may be waiting for the reader: the reader must
    // not sit in a message box then.
    auto& l = make();
    ASSERT_EQ(start(l), 0);
    ASSERT_TRUE(eventually([&] { return l.pendingLength() == 0 && l.writeDone().isSet(); }));
    fake().edit([](FakeScript& s) { s.acceptsCommands = false; });
    EXPECT_TRUE(zelbo::engine::shutdownLink(l));
    EXPECT_FALSE(l.readerRunning());
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_EQ(commErrors.load(), 1);
    EXPECT_FALSE(l.active());
}

TEST_F(LinkTest, FlushFromAnotherThreadSharesTheWireWithTheReader)
{
    // The reader walks blocks while another thread keeps flushing its own
    // writes: every write arrives once and in order, and the sanitizer
    // builds see the two threads share the receive path.
    auto& l = make();
    std::atomic<int> answers{0};
    l.onReadAnswer([&](std::uint8_t, std::uint8_t) { ++answers; });
    ASSERT_EQ(start(l), 0);
    ASSERT_TRUE(eventually([&] { return l.pendingLength() == 0 && l.writeDone().isSet(); }));
    fake().clearLogs();

    std::thread gui([&] {
        for (int i = 0; i < 200; ++i) {
            l.queueWriteQuiet(0x20, static_cast<std::uint8_t>(i));
            l.queueRead(0x64);
            if (i % 10 == 9)
                l.flushCommands();
        }
        l.flushCommands();
    });
    for (int i = 0; i < 200; ++i)
        l.queueWrite(0x21, static_cast<std::uint8_t>(i));
    gui.join();
    ASSERT_TRUE(l.waitWriteDone(2000ms));
    ASSERT_TRUE(eventually([&] { return answers.load() == 200; }));

    int last20 = -1, last21 = -1;
    int n20 = 0, n21 = 0;
    for (const auto& w : fake().writes()) {
        if (w.reg == 0x20) {
            EXPECT_EQ(w.value, last20 + 1);
            last20 = w.value;
            ++n20;
        } else if (w.reg == 0x21) {
            EXPECT_EQ(w.value, last21 + 1);
            last21 = w.value;
            ++n21;
        }
    }
    EXPECT_EQ(n20, 200);
    EXPECT_EQ(n21, 200);
    EXPECT_TRUE(zelbo::engine::shutdownLink(l));
}

} // namespace
} // namespace zelbo::link::test
