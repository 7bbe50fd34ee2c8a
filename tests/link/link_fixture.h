#pragma once
// Shared set-up of the link tests: a link on the fake bridge with a fake clock,
// a recording message service and observers, and an image folder.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/common/recording_message_service.h"
#include "engine/link_sequences.h"
#include "link/fpga_link.h"
#include "tests/link/fake_bridge.h"

namespace zelbo::link::test {

class RecordingObserver final : public BringUpObserver {
public:
    void statusText(const std::string& t) override { add("status:" + t); }
    void progressShow() override { add("show"); }
    void progressText(const std::string& t) override { add("text:" + t); }
    void progressStep(int s, int n) override { add("step:" + std::to_string(s) + "/" + std::to_string(n)); }
    void progressHide() override { add("hide"); }
    void downloadProgressControl(bool v) override { add(v ? "control:on" : "control:off"); }
    std::vector<std::string> log() const
    {
        std::lock_guard l(m_);
        return log_;
    }
    void clear()
    {
        std::lock_guard l(m_);
        log_.clear();
    }
    bool has(const std::string& e) const
    {
        for (const auto& x : log())
            if (x == e)
                return true;
        return false;
    }

private:
    void add(std::string e)
    {
        std::lock_guard l(m_);
        log_.push_back(std::move(e));
    }
    mutable std::mutex m_;
    std::vector<std::string> log_;
};

class RecordingWindow final : public LinkObserver {
public:
    void linkStarted() override { ++started; }
    std::atomic<int> started{0};
};

inline std::filesystem::path makeTempFolder(const std::string& tag)
{
    auto dir = std::filesystem::temp_directory_path() /
               ("zelbo-link-" + tag + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeImage(const std::filesystem::path& dir, std::size_t size)
{
    std::ofstream f(dir / "Zelbo3.rbf", std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < size; ++i)
        f.put(static_cast<char>(i * 7));
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeBridge::instance().reset();
        folder = makeTempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        writeImage(folder, 1025);
        options.programFolder = folder;
        options.clock = &clock;
        options.bridgeFactory = [] { return FakeBridge::makeBinding(); };
        options.timings.readerAlive = std::chrono::milliseconds(2000);
        options.timings.hardwareReady = std::chrono::milliseconds(300);
        options.timings.doneWait = std::chrono::milliseconds(2000);
        options.timings.readerJoin = std::chrono::milliseconds(5000);
    }
    void TearDown() override
    {
        link.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    FpgaLink& make()
    {
        link = std::make_unique<FpgaLink>(messages, options);
        link->onRequestClose([this] { ++closeRequests; });
        link->onCommunicationError([this] { ++commErrors; });
        return *link;
    }
    // A started link whose reader is stopped again, so that the buffer can be
    // inspected without a second thread sending it.
    FpgaLink& startedQuiet()
    {
        auto& l = make();
        EXPECT_EQ(start(l), 0);
        EXPECT_TRUE(zelbo::engine::shutdownLink(l));
        FakeBridge::instance().clearLogs();
        return l;
    }
    FakeBridge& fake() { return FakeBridge::instance(); }
    // Link start as the engine runs it, with `clearDac` as the clearing of the
    // DAC outputs.
    int start(FpgaLink& l) { return zelbo::engine::startLink(l, observer, window, clearDac); }

    std::filesystem::path folder;
    FakeClock clock;
    RecordingMessageService messages;
    RecordingObserver observer;
    RecordingWindow window;
    LinkOptions options;
    std::unique_ptr<FpgaLink> link;
    std::function<void(CommandPort&)> clearDac;
    std::atomic<int> closeRequests{0};
    std::atomic<int> commErrors{0};
};

} // namespace zelbo::link::test
