// The channel pop-ups on the program's window: they move with it, go when it
// is activated, and close on a click beside them.
#include <QApplication>
#include <QAbstractButton>
#include <QStatusBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "app/program_features.h"
#include "scope/ui/scope_binder.h"
#include "tests/common/recording_message_service.h"

namespace {

struct Popups : ::testing::Test {
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    std::unique_ptr<CTQ5170xHWPDlg> w;

    void SetUp() override
    {
        MainWindowSetup s;
        s.messages = &messages;
        s.progress = ProgressReporter(&progress);
        s.dataFolder = data.path().toStdString();
        s.defaultChipList = "#Chipname\tA\tB\tMode\nC1\t600\t2\t0\ta\tb\tc\td\n";
        s.startLinkWhenShown = false;
        w = std::make_unique<CTQ5170xHWPDlg>(s);
        w->resize(1280, 800);
        w->move(40, 40);
        w->show();
        w->enableGroups(0x01, true);
        QApplication::processEvents();
    }
    void TearDown() override
    {
        messages.queueAnswer(zelbo::MsgAnswer::Ok);
        w->close();
        w.reset();
    }
    QAbstractButton* button(int n) { return w->control<QAbstractButton>(ctl::channelPopup(0) + n); }
    QWidget* popup(int n) { return w->features()->scopeBinder().channelDialog(n); }
    // Beside the button, pulled back onto the screen where it would leave it.
    QPoint besideButton(int n)
    {
        QPoint at = button(n)->mapToGlobal(QPoint(button(n)->width() + 7, 0));
        const QRect room = button(n)->screen()->availableGeometry();
        const QSize size = popup(n)->frameGeometry().size().expandedTo(popup(n)->sizeHint());
        at.setX(std::min(at.x(), room.right() + 1 - size.width()));
        at.setY(std::min(at.y(), room.bottom() + 1 - size.height()));
        return at;
    }
};

} // namespace

TEST_F(Popups, VisibleOnesMoveWithTheWindowAndActivationHidesThem)
{
    button(1)->click();
    ASSERT_TRUE(popup(1)->isVisible());
    const QPoint hiddenAt = popup(2)->pos();

    w->move(w->pos() + QPoint(60, 25));
    ASSERT_TRUE(QTest::qWaitFor([&] { return popup(1)->pos() == besideButton(1); }, 5000))
        << "pop-up stayed at " << popup(1)->pos().x() << "," << popup(1)->pos().y();
    EXPECT_TRUE(popup(1)->isVisible());
    EXPECT_EQ(popup(2)->pos(), hiddenAt); // hidden ones are left alone

    button(3)->click();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(w.get(), &activate);
    for (int n = 0; n < 4; ++n) {
        EXPECT_FALSE(popup(n)->isVisible()) << n;
        EXPECT_EQ(button(n)->text(), ">") << n;
    }
}

// The offscreen screen is smaller than the window: every pop-up still opens
// whole on it.
TEST_F(Popups, EveryPopupOpensOnTheScreen)
{
    const QRect room = w->screen()->availableGeometry();
    for (int n = 0; n < 4; ++n) {
        button(n)->click();
        ASSERT_TRUE(popup(n)->isVisible()) << n;
        EXPECT_TRUE(room.contains(popup(n)->frameGeometry())) << n << ": " << popup(n)->x() << "," << popup(n)->y() << " " << popup(n)->frameGeometry().width() << "x" << popup(n)->frameGeometry().height() << " in " << room.width() << "x" << room.height();
        button(n)->click();
    }
}

TEST_F(Popups, AClickBesideThemClosesTheTopOneOnly)
{
    QWidget* elsewhere = w->statusBar(); // a plain spot of the window
    // Before any pop-up has been open, clicks are the window's own business.
    QTest::mouseClick(elsewhere, Qt::LeftButton);

    button(0)->click();
    button(2)->click();
    ASSERT_TRUE(popup(0)->isVisible() && popup(2)->isVisible());

    QTest::mouseClick(popup(2), Qt::LeftButton); // inside a pop-up: stays
    EXPECT_TRUE(popup(2)->isVisible());
    QTest::mouseClick(elsewhere, Qt::RightButton); // not the left button
    EXPECT_TRUE(popup(2)->isVisible());

    QTest::mouseClick(elsewhere, Qt::LeftButton);
    EXPECT_FALSE(popup(2)->isVisible());
    EXPECT_EQ(button(2)->text(), ">");
    EXPECT_TRUE(popup(0)->isVisible()) << "one click, one pop-up";

    // A click on a ">" button is that button's toggle, not a click beside.
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_FALSE(popup(0)->isVisible());
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_TRUE(popup(0)->isVisible());
    EXPECT_EQ(button(0)->text(), "<");

    QTest::mouseClick(w->centralWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(popup(0)->isVisible());
}
