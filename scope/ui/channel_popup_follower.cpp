#include "scope/ui/channel_popup_follower.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

#include "scope/ui/chart_view.h"
#include "scope/ui/scope_binder.h"

namespace zelbo::scope {

ChannelPopupFollower::ChannelPopupFollower(QWidget& window, ScopeBinder& binder)
    : QObject(&binder), window_(&window), binder_(binder)
{
    window.installEventFilter(this);
    for (int n = 0; n < 4; ++n)
        if (CChannelDlg* d = binder_.channelDialog(n)) d->installEventFilter(this);
    // Clicks land on whatever child is under the mouse, so they are seen
    // application-wide and kept to those on the main window.
    if (qApp) qApp->installEventFilter(this);
}

ChannelPopupFollower::~ChannelPopupFollower()
{
    if (qApp) qApp->removeEventFilter(this);
}

bool ChannelPopupFollower::isPopupButton(const QWidget* w) const
{
    for (; w; w = w->parentWidget())
        for (int id : binder_.ids().popupButton)
            if (w->objectName() == QStringLiteral("id%1").arg(id) && qobject_cast<const QAbstractButton*>(w))
                return true;
    return false;
}

bool ChannelPopupFollower::isChannelDialog(const QObject* o) const
{
    for (int n = 0; n < 4; ++n)
        if (o == binder_.channelDialog(n)) return true;
    return false;
}

bool ChannelPopupFollower::eventFilter(QObject* watched, QEvent* event)
{
    if (!window_) return false;
    switch (event->type()) {
    case QEvent::Move:
        if (watched == window_) binder_.placeChannelDialogs();
        break;
    case QEvent::WindowActivate:
        // Activated by a press on a ">" button, the button's own toggle decides.
        if (watched == window_ && !isPopupButton(QApplication::widgetAt(QCursor::pos())))
            binder_.hideChannelDialogs();
        break;
    case QEvent::Show:
        if (isChannelDialog(watched)) autoClose_ = true;
        break;
    case QEvent::MouseButtonRelease: {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* me = static_cast<QMouseEvent*>(event);
        if (!autoClose_ || !w || me->button() != Qt::LeftButton || w->window() != window_) break;
        // A release nobody takes climbs to the parents as a copy with the
        // same time stamp: one click, one pop-up.
        if (clicked_ && me->timestamp() == lastClickTime_) break;
        clicked_ = true;
        lastClickTime_ = me->timestamp();
        if (!isPopupButton(w)) binder_.hideTopChannelDialog();
        break;
    }
    default: break;
    }
    return false;
}

} // namespace zelbo::scope
