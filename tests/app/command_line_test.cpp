// The command line, read before any window exists; and the way to the demo.
#include <QAction>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "common/build_info.h"
#include "common/message_service.h"
#include "tests/common/recording_message_service.h"

namespace {

using zelbo::app::CommandLine;
using zelbo::app::parseCommandLine;

TEST(CommandLine, HelpAndVersionWinAndTheRestIsCheckedInOrder)
{
    EXPECT_EQ(parseCommandLine({"zelbo"}).action, CommandLine::Action::Run);
    EXPECT_FALSE(parseCommandLine({"zelbo"}).demo);
    EXPECT_EQ(parseCommandLine({"zelbo", "--demo", "--help"}).action, CommandLine::Action::PrintHelp);
    EXPECT_EQ(parseCommandLine({"zelbo", "--version", "--bogus"}).action, CommandLine::Action::PrintVersion);

    const CommandLine demo = parseCommandLine({"zelbo", "--demo"});
    EXPECT_EQ(demo.action, CommandLine::Action::Run);
    EXPECT_TRUE(demo.demo);

    // Qt's own options go through, with the value of those that take one.
    const CommandLine qt = parseCommandLine({"zelbo", "-platform", "offscreen", "-reverse", "--demo"});
    EXPECT_EQ(qt.action, CommandLine::Action::Run);
    EXPECT_TRUE(qt.demo);

    const CommandLine unknown = parseCommandLine({"zelbo", "--demo", "--simulate"});
    EXPECT_EQ(unknown.action, CommandLine::Action::Fail);
    EXPECT_NE(unknown.error.find("--simulate"), std::string::npos);
    EXPECT_EQ(parseCommandLine({"zelbo", "settings.set"}).action, CommandLine::Action::Fail);
    // A trailing Qt option without its value is left for Qt to refuse.
    EXPECT_EQ(parseCommandLine({"zelbo", "-style"}).action, CommandLine::Action::Run);

    const CommandLine logged = parseCommandLine({"zelbo", "--log-level", "debug", "--demo"});
    EXPECT_EQ(logged.action, CommandLine::Action::Run);
    EXPECT_EQ(logged.logLevel, "debug");
    EXPECT_TRUE(logged.demo);
    for (const auto& bad : {std::vector<std::string>{"zelbo", "--log-level"},
                            std::vector<std::string>{"zelbo", "--log-level", "loud"}}) {
        const CommandLine refused = parseCommandLine(bad);
        EXPECT_EQ(refused.action, CommandLine::Action::Fail);
        EXPECT_NE(refused.error.find("--log-level"), std::string::npos);
    }
}

TEST(CommandLine, TextsCarryTheBuildVersionAndTheDemo)
{
    EXPECT_EQ(zelbo::app::versionText(), std::string("zelbo ") + zelbo::build::kVersion);
    const std::string help = zelbo::app::helpText("zelbo");
    for (const char* o : {"--demo", "--log-level", "--version", "--help", "60-zelbo-usbbridge.rules"})
        EXPECT_NE(help.find(o), std::string::npos) << o;
}

// File > Restart in Demo Mode starts the copy and closes without the closing
// question; a copy that cannot be started leaves the window as it was.
TEST(DemoRestart, StartsTheCopyAndClosesWithoutAsking)
{
    ::unsetenv(zelbo::app::kBoardVariable);
    for (const bool starts : {false, true}) {
        SCOPED_TRACE(starts ? "copy starts" : "copy fails");
        zelbo::RecordingMessageService messages;
        CDlgProgress progress;
        QTemporaryDir data;
        int copies = 0;
        MainWindowSetup s;
        s.messages = &messages;
        s.progress = ProgressReporter(&progress);
        s.dataFolder = data.path().toStdString();
        s.defaultChipList = "#Chipname\tA\tB\tMode\nC1\t600\t2\t0\ta\tb\tc\td\n";
        s.startLinkWhenShown = false;
        s.startDemoCopy = [&] {
            ++copies;
            return starts;
        };
        CTQ5170xHWPDlg w(std::move(s));
        w.show();
        auto* demo = w.findChild<QAction*>("cmdDemo");
        ASSERT_NE(demo, nullptr);
        EXPECT_TRUE(demo->isVisible());
        demo->trigger();
        EXPECT_EQ(copies, 1);
        if (starts) {
            EXPECT_TRUE(messages.shown().empty()); // no "Closing software. Continue?"
            EXPECT_FALSE(w.isVisible());
        } else {
            EXPECT_EQ(messages.texts(), (std::vector<std::string>{"The demo could not be started."}));
            EXPECT_TRUE(w.isVisible());
            messages.queueAnswer(zelbo::MsgAnswer::Ok);
            w.close();
        }
    }
}

} // namespace
