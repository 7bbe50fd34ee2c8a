#pragma once
// Keeps the four channel pop-ups with the main window: when the window moves
// the visible ones move with it (beside their ">" buttons), when the window is
// activated they are hidden, and a left click on the window anywhere but on a
// ">" button hides the highest-numbered one once a pop-up has been shown
// (the pop-ups ask for that auto-close when they open).
//
// It watches events only; what is hidden or moved is the binder's business.

#include <QObject>
#include <QPointer>

class QWidget;

namespace zelbo::scope {

class ScopeBinder;

class ChannelPopupFollower : public QObject {
    Q_OBJECT
public:
    // Lives as a child of the binder, so it goes with it.
    ChannelPopupFollower(QWidget& window, ScopeBinder& binder);
    ~ChannelPopupFollower() override;

    bool autoClose() const { return autoClose_; }
    void setAutoClose(bool on) { autoClose_ = on; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isPopupButton(const QWidget* w) const;
    bool isChannelDialog(const QObject* o) const;

    QPointer<QWidget> window_;
    ScopeBinder& binder_;
    bool autoClose_ = false;
    bool clicked_ = false;
    quint64 lastClickTime_ = 0;
};

} // namespace zelbo::scope
