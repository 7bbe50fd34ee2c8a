#include "drive/ui/dlg_slider.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>

using zelbo::drive::AdvanceCore;
using zelbo::drive::Limit;

namespace {

void setTextQuiet(QLineEdit* e, const std::string& text)
{
    const QString t = QString::fromStdString(text);
    if (e->text() == t) return;
    const QSignalBlocker block(e);
    e->setText(t);
}

QLineEdit* numberField(QWidget* parent, const char* name, int width)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setAlignment(Qt::AlignRight);
    e->setFixedWidth(width);
    return e;
}

} // namespace

CDlgSlider::CDlgSlider(AdvanceCore& core, int panel, QWidget* parent) : QWidget(parent), core_(core), panel_(panel)
{
    setObjectName(QStringLiteral("slider_%1").arg(panel));
    label_ = new QLabel(QString::fromLatin1(AdvanceCore::panelLabel(panel)), this);
    label_->setObjectName(QStringLiteral("label"));
    label_->setAlignment(Qt::AlignCenter);
    QFont bold = label_->font();
    bold.setBold(true);
    label_->setFont(bold);

    slider_ = new QSlider(Qt::Vertical, this);
    slider_->setObjectName(QStringLiteral("slider"));
    // Position 0 is the top and the largest value, as in the main window.
    slider_->setInvertedAppearance(true);
    slider_->setInvertedControls(true);
    slider_->setMinimumHeight(150);

    max_ = numberField(this, "max", 44);
    step_ = numberField(this, "step", 44);
    min_ = numberField(this, "min", 44);
    value_ = numberField(this, "value", 52);
    auto* unit = new QLabel(tr("V"), this);
    unit->setObjectName(QStringLiteral("unit"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setVerticalSpacing(2);
    grid->addWidget(label_, 0, 0, 1, 2);
    grid->addWidget(slider_, 1, 0, 7, 1, Qt::AlignHCenter);
    grid->addWidget(new QLabel(tr("MAX"), this), 1, 1);
    grid->addWidget(max_, 2, 1);
    grid->addWidget(new QLabel(tr("STEP"), this), 3, 1);
    grid->addWidget(step_, 4, 1);
    grid->addWidget(new QLabel(tr("MIN"), this), 5, 1);
    grid->addWidget(min_, 6, 1);
    grid->setRowStretch(7, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(value_);
    bottom->addWidget(unit);
    grid->addLayout(bottom, 8, 0, 1, 2);

    connect(slider_, &QAbstractSlider::valueChanged, this, [this](int pos) { core_.sliderMoved(panel_, pos); });
    connect(value_, &QLineEdit::editingFinished, this, [this] {
        core_.setValueText(panel_, value_->text().toStdString());
        core_.commitValue(panel_);
    });
    for (Limit which : {Limit::Max, Limit::Step, Limit::Min}) {
        QLineEdit* e = limitEdit(which);
        connect(e, &QLineEdit::editingFinished, this, [this, which, e] {
            core_.setLimitText(panel_, which, e->text().toStdString());
            core_.commitLimit(panel_, which);
        });
    }
    refresh();
}

QLineEdit* CDlgSlider::limitEdit(Limit which) const
{
    switch (which) {
    case Limit::Max: return max_;
    case Limit::Step: return step_;
    case Limit::Min: break;
    }
    return min_;
}

void CDlgSlider::refresh()
{
    const zelbo::drive::Column& c = core_.panel(panel_);
    {
        const QSignalBlocker block(slider_);
        slider_->setRange(0, c.sliderMax());
        slider_->setPageStep(std::max(1, c.sliderMax() / 10));
        slider_->setValue(c.sliderPosition());
    }
    setTextQuiet(value_, c.valueText());
    for (Limit which : {Limit::Max, Limit::Step, Limit::Min}) setTextQuiet(limitEdit(which), c.limitText(which));
}
