#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/app.h"
#include "app/single_instance.h"
#include "tests/common/recording_message_service.h"

using zelbo::app::SingleInstance;

TEST(SingleInstance, SecondCopyGivesUpAfterTenAttemptsHalfASecondApartWithItsMessage)
{
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    ASSERT_TRUE(first.acquire());

    SingleInstance second(dir.path());
    zelbo::RecordingMessageService messages;
    std::vector<int> sleeps;
    EXPECT_FALSE(CTQ5170xHWPApp::enforceSingleInstance(second, messages, [&](int ms) { sleeps.push_back(ms); }));
    EXPECT_EQ(second.attemptsMade(), 10);
    EXPECT_EQ(sleeps, std::vector<int>(9, 500));
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Zelbo Evaluation Software is already running.");
    EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Error);
}

TEST(SingleInstance, ProceedsWhenTheOldCopyEndsDuringTheRetries)
{
    QTemporaryDir dir;
    auto first = std::make_unique<SingleInstance>(dir.path());
    ASSERT_TRUE(first->acquire());

    SingleInstance second(dir.path());
    zelbo::RecordingMessageService messages;
    int sleeps = 0;
    EXPECT_TRUE(CTQ5170xHWPApp::enforceSingleInstance(second, messages, [&](int) {
        if (++sleeps == 4) first.reset(); // the old copy exits
    }));
    EXPECT_EQ(second.attemptsMade(), 5);
    EXPECT_TRUE(messages.shown().empty());
}

TEST(SingleInstance, LockLeftByADeadProcessDoesNotBlock)
{
    QTemporaryDir dir;
    SingleInstance probe(dir.path());
    {
        // A lock file naming a process that does not exist.
        QFile f(probe.lockPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("999999\nzelbo\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    }
    EXPECT_TRUE(probe.acquire(1, 0, [](int) {}));
}
