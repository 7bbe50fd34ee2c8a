#include <thread>

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "app/dlg_progress.h"

TEST(Progress, BarFollowsStepOfStepsAndTextIsKeptWhenNoneIsGiven)
{
    CDlgProgress dlg;
    dlg.updateProgress(0, 0, QStringLiteral("Loading Software..."));
    EXPECT_EQ(dlg.position(), 0);
    EXPECT_EQ(dlg.statusText(), "Loading Software...");

    dlg.updateProgress(1, 5, QStringLiteral("Initializing Chart Window..."));
    EXPECT_EQ(dlg.position(), 20);
    dlg.updateProgress(4, 5, std::nullopt);
    EXPECT_EQ(dlg.position(), 80);
    EXPECT_EQ(dlg.statusText(), "Initializing Chart Window...");
    dlg.updateProgress(2, 3, QString());
    EXPECT_EQ(dlg.position(), 66); // floor
    EXPECT_EQ(dlg.statusText(), "Initializing Chart Window...");

    dlg.updateProgress(7, 0, std::nullopt); // no steps: the bar restarts
    EXPECT_EQ(dlg.position(), 0);
    dlg.updateProgress(1, 1, std::nullopt); // complete
    EXPECT_EQ(dlg.position(), 100);
    dlg.updateProgress(9, 4, std::nullopt); // beyond the end stays at the end
    EXPECT_EQ(dlg.position(), 100);
}

TEST(Progress, ReporterFromAnotherThreadArrivesInOrderOnTheGuiThread)
{
    CDlgProgress dlg;
    ProgressReporter reporter(&dlg);
    std::thread worker([&] {
        reporter.show();
        reporter.text(QStringLiteral("Configuring FPGA..."));
        for (int i = 0; i < 10; ++i) reporter.update(i, 10);
        reporter.update(1, 1);
    });
    worker.join();
    // Nothing has happened yet: the calls wait for the GUI thread.
    EXPECT_FALSE(dlg.isVisible());
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.position(), 100);
    EXPECT_EQ(dlg.statusText(), "Configuring FPGA...");
    reporter.hide();
    EXPECT_FALSE(dlg.isVisible()); // on the GUI thread it acts at once
}

TEST(Progress, EscapeAndCloseDoNotDismissIt)
{
    CDlgProgress dlg;
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
    dlg.hide();
}

TEST(Progress, CallsWithoutALiveWindowAreDroppedNotReplayed)
{
    CDlgProgress later;
    const QString before = later.statusText();

    ProgressReporter reporter; // no window yet
    reporter.show();
    reporter.update(1, 2, QStringLiteral("early"));

    // Queued from another thread for a window that goes before the GUI
    // thread gets to it.
    auto* gone = new CDlgProgress;
    reporter.setDialog(gone);
    std::thread([&] {
        reporter.show();
        reporter.update(1, 2, QStringLiteral("late"));
    }).join();
    delete gone;
    reporter.update(1, 2, QStringLiteral("after")); // its pointer is now empty

    reporter.setDialog(&later);
    QCoreApplication::processEvents();
    EXPECT_FALSE(later.isVisible());
    EXPECT_EQ(later.position(), 0);
    EXPECT_EQ(later.statusText(), before);

    reporter.update(1, 2, QStringLiteral("now"));
    EXPECT_EQ(later.statusText(), "now"); // the new window does get what follows
}
