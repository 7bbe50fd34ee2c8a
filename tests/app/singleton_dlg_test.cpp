#include <gtest/gtest.h>

#include "tests/common/recording_message_service.h"
#include "widgets/singleton_dlg.h"

TEST(SingletonDlg, OnlyOneListedDialogIsShownAtATime)
{
    zelbo::RecordingMessageService messages;
    {
        CSingletonDlg a(messages), b(messages);
        a.setWindowTitle("Dynamic Settings");
        b.setWindowTitle("Tj Monitor");
        EXPECT_EQ(CSingletonDlg::instances().size(), 2u);

        EXPECT_TRUE(a.showSingleton());
        EXPECT_FALSE(b.showSingleton());
        EXPECT_FALSE(b.isVisible());
        ASSERT_EQ(messages.shown().size(), 1u);
        EXPECT_EQ(messages.shown()[0].text, "Cannot continue. Another dialog is open.");
        EXPECT_EQ(messages.shown()[0].caption, "Tj Monitor");
        EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Information);

        a.hide();
        EXPECT_TRUE(b.showSingleton());
        b.hide();
    }
    // Destroyed dialogs leave the list.
    EXPECT_TRUE(CSingletonDlg::instances().empty());
}
