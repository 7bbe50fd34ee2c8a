#include "widgets/spin_button.h"

#include <QEvent>
#include <QToolButton>
#include <QVBoxLayout>

SpinButton::SpinButton(QWidget* parent) : QAbstractSlider(parent)
{
    setOrientation(Qt::Vertical);
    setRange(0, 100);
    setSingleStep(1);
    setPageStep(1);
    setFocusPolicy(Qt::NoFocus);

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

QSize SpinButton::sizeHint() const { return {18, 24}; }

void SpinButton::sliderChange(SliderChange change)
{
    QAbstractSlider::sliderChange(change);
    updateButtons();
}

void SpinButton::changeEvent(QEvent* event)
{
    QAbstractSlider::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) updateButtons();
}

void SpinButton::updateButtons()
{
    if (!up_ || !down_) return;
    up_->setEnabled(isEnabled() && value() < maximum());
    down_->setEnabled(isEnabled() && value() > minimum());
}
