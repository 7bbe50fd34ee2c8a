#include "tests/common/recording_message_service.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zelbo;

// The recording fake is what every window and link test answers dialogs with:
// queued answers must be used in order, then the default (first button).
TEST(RecordingMessageService, AnswersFromQueueThenDefaultsToFirstButton)
{
    RecordingMessageService svc;
    svc.queueAnswer(MsgAnswer::No);
    EXPECT_EQ(svc.show("close?", kAppCaption, MsgIcon::Question, MsgButtons::YesNo), MsgAnswer::No);
    EXPECT_EQ(svc.show("close?", kAppCaption, MsgIcon::Question, MsgButtons::YesNo), MsgAnswer::Yes);
    EXPECT_EQ(svc.show("fine", kAppCaption, MsgIcon::None, MsgButtons::OkCancel), MsgAnswer::Ok);
    ASSERT_EQ(svc.shown().size(), 3u);
    EXPECT_EQ(svc.shown()[0].caption, "Zelbo Evaluation Software");
}

TEST(RecordingMessageService, SafeFromSeveralThreads)
{
    RecordingMessageService svc;
    std::thread a([&] { for (int i = 0; i < 200; ++i) svc.show("a"); });
    std::thread b([&] { for (int i = 0; i < 200; ++i) svc.show("b"); });
    a.join();
    b.join();
    EXPECT_EQ(svc.texts().size(), 400u);
}
