// Board bring-up on the scripted fake bridge: the happy paths and every row of
// the failure table.
#include <gtest/gtest.h>

#include "tests/link/link_fixture.h"

namespace zelbo::link::test {
namespace {

using namespace std::chrono_literals;

class BringUpTest : public LinkTest {
protected:
    int run()
    {
        auto& l = make();
        BringUp b(l, observer, messages);
        return b.bringUp();
    }
    std::vector<std::uint8_t> requests() const
    {
        std::vector<std::uint8_t> r;
        for (const auto& v : FakeBridge::instance().vendorCalls())
            r.push_back(v.request);
        return r;
    }
};

TEST_F(BringUpTest, ConfiguresTheFpgaFromTheImageInChunks)
{
    EXPECT_EQ(run(), kBringUpReady);
    // 1025 bytes: 512, 512 and 1, then the three closing bytes.
    EXPECT_EQ(fake().imageChunks(), (std::vector<std::size_t>{512, 512, 1, 3}));
    EXPECT_EQ(fake().downloads(), 0);
    EXPECT_EQ(link->deviceHandle(), 7);
    EXPECT_EQ(requests(), (std::vector<std::uint8_t>{0xBA, 0xB1, 0xB9, 0xBA,             //
                                                     0xB4, 0xBA, 0xB4, 0xBA, 0xB4, 0xBA, // chunks
                                                     0xB4, 0xBA, 0xBA, 0xB0}));
    EXPECT_EQ(observer.log(),
              (std::vector<std::string>{"status:Initializing...", "show", "text:Configuring Device...",
                                        "text:Configuring FPGA...", "step:0/3", "step:1/3",
                                        "step:2/3", "step:1/1", "status:Ready...", "hide"}));
    EXPECT_EQ(clock.pauses(), (std::vector<std::chrono::milliseconds>{300ms}));
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(BringUpTest, DownloadsFirmwareWhenTheBoardIsBare)
{
    fake().edit([](FakeScript& s) { s.checkBeforeDownload = 0; });
    writeImage(folder, 1024);
    EXPECT_EQ(run(), kBringUpReady);
    EXPECT_EQ(fake().downloads(), 1);
    EXPECT_EQ(fake().imageChunks(), (std::vector<std::size_t>{512, 512, 3}));
    auto log = observer.log();
    const std::vector<std::string> head = {"status:Initializing...", "show",
                                           "text:Configuring Device...", "text:Downloading Firmware...",
                                           "control:on", "status:Downloading firmware...",
                                           "status:Firmware ready", "step:1/1", "control:off"};
    ASSERT_GE(log.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + head.size()), head);
}

TEST_F(BringUpTest, AlreadyConfiguredBoardSkipsTheImage)
{
    fake().edit([](FakeScript& s) { s.alreadyConfigured = true; });
    EXPECT_EQ(run(), kBringUpReady);
    EXPECT_TRUE(fake().imageChunks().empty());
    EXPECT_EQ(requests(), (std::vector<std::uint8_t>{0xBA, 0xBA}));

    link.reset();
    fake().reset();
    fake().edit([](FakeScript& s) {
        s.alreadyConfigured = true;
        s.skippedStatus = {0, 0};
    });
    observer.clear();
    EXPECT_EQ(run(), kBringUpSkippedNotReady);
    EXPECT_FALSE(observer.has("hide")); // nothing more is shown
}

TEST_F(BringUpTest, EmptyImageSendsOnlyTheClosingBytes)
{
    writeImage(folder, 0);
    EXPECT_EQ(run(), kBringUpReady);
    EXPECT_EQ(fake().imageChunks(), (std::vector<std::size_t>{3}));
}

TEST_F(BringUpTest, FailedChunkStopsTheImageButNotTheClosingBytes)
{
    fake().edit([](FakeScript& s) { s.failImageChunk = 1; });
    run();
    EXPECT_EQ(fake().imageChunks(), (std::vector<std::size_t>{512, 512, 3}));
}

TEST_F(BringUpTest, SlowBoardIsPolledUntilReady)
{
    fake().edit([](FakeScript& s) { s.busyPolls = 50; });
    EXPECT_EQ(run(), kBringUpReady);
}

} // namespace
} // namespace zelbo::link::test
