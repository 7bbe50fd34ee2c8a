#include "widgets/spin_button.h"

#include <algorithm>

#include <QEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

SpinButton::SpinButton(QWidget* parent) : QWidget(parent)
{
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    for (auto* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(18, 12);
        box->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName("up");
    down_->setObjectName("down");
    connect(up_, &QToolButton::clicked, this, &SpinButton::stepUp);
    connect(down_, &QToolButton::clicked, this, &SpinButton::stepDown);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateButtons();
}

void SpinButton::setRange(int minimum, int maximum)
{
    min_ = std::min(minimum, maximum);
    max_ = std::max(minimum, maximum);
    setValue(value_);
    updateButtons();
}

void SpinButton::setValue(int value)
{
    const int v = std::clamp(value, min_, max_);
    if (v == value_) {
        updateButtons();
        return;
    }
    value_ = v;
    updateButtons();
    emit valueChanged(value_);
}

void SpinButton::wheelEvent(QWheelEvent* event)
{
    if (!isEnabled()) return;
    const int dy = event->angleDelta().y();
    if (dy > 0) stepUp();
    else if (dy < 0) stepDown();
    event->accept();
}

void SpinButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) updateButtons();
    QWidget::changeEvent(event);
}

void SpinButton::updateButtons()
{
    up_->setEnabled(isEnabled() && value_ < max_);
    down_->setEnabled(isEnabled() && value_ > min_);
}
