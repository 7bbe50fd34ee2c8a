#pragma once
// The program's message service: QMessageBox, always on the GUI thread. A call
// from another thread is handed to the GUI thread and blocks until the user
// has answered.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "common/message_service.h"

class QtMessageService final : public QObject, public zelbo::MessageService {
    Q_OBJECT
public:
    // Create on the GUI thread.
    explicit QtMessageService(QObject* parent = nullptr);

    using zelbo::MessageService::show;
    zelbo::MsgAnswer show(const zelbo::Message& message) override;

    // The window that owns the boxes (none: they stand alone).
    void setOwner(QWidget* owner) { owner_ = owner; }

private:
    zelbo::MsgAnswer showHere(const zelbo::Message& message);
    QPointer<QWidget> owner_;
};
