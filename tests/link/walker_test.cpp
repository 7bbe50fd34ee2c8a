// The response-block walker on its own, and the Event class.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "link/event.h"
#include "link/response_block.h"
#include "tests/link/fake_bridge.h"

namespace zelbo::link::test {
namespace {

struct Recorder final : ResponseSink {
    std::vector<std::string> log;
    std::vector<std::vector<std::uint8_t>> uploads;
    void hardwareReady() override { log.push_back("ready"); }
    void patternStopped() override { log.push_back("pattstop"); }
    void sweepFinished() override { log.push_back("sweep"); }
    void registerRead(std::uint8_t r, std::uint8_t v) override
    {
        log.push_back("read " + std::to_string(r) + "=" + std::to_string(v));
    }
    void upload(int ch, const std::uint8_t* d, std::size_t n) override
    {
        log.push_back("upload " + std::to_string(ch) + " " + std::to_string(n));
        uploads.emplace_back(d, d + n);
    }
};

int walk(const Block& b, Recorder& r)
{
    std::uint8_t raw[kBlockSize];
    std::copy(b.begin(), b.end(), raw);
    return walkResponseBlock(raw, r);
}

TEST(Walker, ZeroBlockDoesNothing)
{
    Recorder r;
    EXPECT_EQ(walk(Block{}, r), 0);
    EXPECT_TRUE(r.log.empty());
}

TEST(Walker, UploadThenSweepFinishedAtOffset262)
{
    std::vector<std::uint8_t> samples(256);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint8_t>(255 - i);
    BlockBuilder bb;
    bb.upload(2, samples.data(), samples.size());
    ASSERT_EQ(bb.off, 262u);
    bb.record(code::InfoSweepFin);
    Recorder r;
    EXPECT_EQ(walk(bb.b, r), 2);
    EXPECT_EQ(r.log, (std::vector<std::string>{"upload 2 256", "sweep"}));
    EXPECT_EQ(r.uploads[0], samples);
}

TEST(Walker, RecognisedCodesContinueAndTerminatorsEnd)
{
    // Every six-byte code of the table is passed over; the actions come in order.
    BlockBuilder bb;
    for (std::uint8_t c : {0x02, 0x03, 0x04, 0x06, 0x07, 0x08, 0xE0, 0xE5, 0xE9})
        bb.record(c);
    bb.record(code::HardwareReady).record(code::PattStop).record(code::InfoScrRead, 0x65, 0x0A);
    bb.record(0x41).record(code::HardwareReady); // INFO_BUFFER_READ ends the block
    Recorder r;
    walk(bb.b, r);
    EXPECT_EQ(r.log, (std::vector<std::string>{"ready", "pattstop", "read 101=10"}));

    for (std::uint8_t stop : {0x00, 0x0A, 0x3F, 0x54, 0xEA, 0xFF}) {
        BlockBuilder b2;
        b2.record(code::HardwareReady).record(stop).record(code::PattStop);
        Recorder r2;
        walk(b2.b, r2);
        EXPECT_EQ(r2.log, (std::vector<std::string>{"ready"})) << int(stop);
    }
}

TEST(Walker, UploadsElsewhereUseTheirOwnPayloadAndNeverReadPastTheBlock)
{
    // An upload that does not open the block is taken from its own payload.
    std::vector<std::uint8_t> samples(256, 0x5A);
    BlockBuilder bb;
    bb.record(code::PattStart).upload(1, samples.data(), 256);
    Recorder r;
    walk(bb.b, r);
    ASSERT_EQ(r.uploads.size(), 1u);
    EXPECT_EQ(r.uploads[0], samples);

    // One that declares more than fits gets what the block holds, then the walk ends.
    BlockBuilder tail;
    for (int i = 0; i < 50; ++i)
        tail.record(code::InfoFlush); // offset 300
    tail.b[tail.off + 1] = 0x53;
    tail.b[tail.off + 4] = 0x01; // L = 256: crosses 512
    tail.b[tail.off + 5] = 0x00;
    Recorder r2;
    walk(tail.b, r2);
    EXPECT_EQ(r2.log, (std::vector<std::string>{"upload 3 206"}));

    // A record at 510 has no payload in the block: a read answer there is not acted on.
    Block b3{};
    for (std::size_t off = 0; off + 6 <= 510; off += 6)
        b3[off + 1] = code::InfoFlush;
    b3[511] = code::InfoScrRead;
    Recorder r3;
    walk(b3, r3);
    EXPECT_TRUE(r3.log.empty());
}

TEST(Event, ManualAndAutoReset)
{
    Event manual(Event::Reset::Manual);
    EXPECT_FALSE(manual.tryWait());
    manual.set();
    EXPECT_TRUE(manual.tryWait());
    EXPECT_TRUE(manual.wait(std::chrono::milliseconds(1))); // stays set
    manual.reset();
    EXPECT_FALSE(manual.isSet());

    Event autoEv(Event::Reset::Auto, true, "trigger");
    EXPECT_EQ(autoEv.label(), "trigger");
    EXPECT_TRUE(autoEv.isSet());
    EXPECT_TRUE(autoEv.tryWait()); // consumed
    EXPECT_FALSE(autoEv.tryWait());

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(autoEv.wait(std::chrono::milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(25));

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        autoEv.set();
    });
    EXPECT_TRUE(autoEv.wait(std::chrono::milliseconds(5000)));
    setter.join();
    EXPECT_FALSE(autoEv.isSet());
}

} // namespace
} // namespace zelbo::link::test
