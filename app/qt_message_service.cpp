#include "app/qt_message_service.h"

#include <future>
#include <memory>

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

using zelbo::MsgAnswer;
using zelbo::MsgButtons;
using zelbo::MsgIcon;

namespace {

MsgAnswer defaultAnswer(MsgButtons b)
{
    switch (b) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::OkCancel: return MsgAnswer::Cancel;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::YesNoCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::Ok;
}

} // namespace

QtMessageService::QtMessageService(QObject* parent) : QObject(parent) {}

MsgAnswer QtMessageService::show(const zelbo::Message& message)
{
    if (QThread::currentThread() == thread()) return showHere(message);
    // Nobody is left to answer once the application is going down.
    if (QCoreApplication::closingDown() || !QCoreApplication::instance()) return defaultAnswer(message.buttons);
    // The answer comes back through a promise: if the GUI thread drops the
    // call (the service is being destroyed), the broken promise ends the wait.
    auto promise = std::make_shared<std::promise<MsgAnswer>>();
    std::future<MsgAnswer> answer = promise->get_future();
    QMetaObject::invokeMethod(
        this, [this, promise, copy = message] { promise->set_value(showHere(copy)); }, Qt::QueuedConnection);
    try {
        return answer.get();
    } catch (const std::future_error&) {
        return defaultAnswer(message.buttons);
    }
}

MsgAnswer QtMessageService::showHere(const zelbo::Message& message)
{
    QMessageBox box(owner_);
    // A message without a caption gets the one the desktop uses for errors.
    box.setWindowTitle(message.caption.empty() ? QStringLiteral("Error") : QString::fromStdString(message.caption));
    box.setText(QString::fromStdString(message.text));
    switch (message.icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (message.buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgAnswer::Ok;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    default: return defaultAnswer(message.buttons);
    }
}
