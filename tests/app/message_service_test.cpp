#include <atomic>
#include <thread>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/qt_message_service.h"

using namespace zelbo;

namespace {

// Answers the next message box with `button` once it is up; records what it saw.
struct Answerer {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool onGuiThread = false;
    void arm(QMessageBox::StandardButton button)
    {
        QTimer::singleShot(0, [this, button] { poll(button); });
    }
    void poll(QMessageBox::StandardButton button)
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(5, [this, button] { poll(button); });
            return;
        }
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        onGuiThread = box->thread() == QApplication::instance()->thread();
        box->button(button)->click();
    }
};

} // namespace

TEST(QtMessageService, ShowsCaptionTextIconAndReturnsTheAnswer)
{
    QtMessageService service;
    Answerer a;
    a.arm(QMessageBox::Cancel);
    EXPECT_EQ(service.show("Closing software. Continue?", kAppCaption, MsgIcon::Question, MsgButtons::OkCancel),
              MsgAnswer::Cancel);
    EXPECT_EQ(a.title, kAppCaption);
    EXPECT_EQ(a.text, "Closing software. Continue?");
    EXPECT_EQ(a.icon, QMessageBox::Question);
}

TEST(QtMessageService, AnotherThreadBlocksUntilTheGuiThreadHasTheAnswer)
{
    QtMessageService service;
    Answerer a;
    a.arm(QMessageBox::Yes);
    MsgAnswer answer = MsgAnswer::Ok;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = service.show("Read thread unresponsive. Please restart system.", "", MsgIcon::Error,
                              MsgButtons::YesNo);
        done = true;
    });
    // The worker waits while this thread runs the box.
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(answer, MsgAnswer::Yes);
    EXPECT_TRUE(a.onGuiThread);
    EXPECT_EQ(a.title, "Error"); // no caption: the desktop's default one
    EXPECT_EQ(a.icon, QMessageBox::Critical);
}
