#include "drive/ui/sweep_binder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>

namespace zelbo::drive {

SweepBinder::SweepBinder(DriveCore& drive, Lookup lookup, SweepControlIds ids, QObject* parent)
    : QObject(parent), core_(std::make_unique<SweepCore>(drive))
{
    auto find = [&](int id) { return lookup ? lookup(id) : nullptr; };
    if (auto* b = qobject_cast<QAbstractButton*>(find(ids.down)))
        connect(b, &QAbstractButton::clicked, this, [this] { core_->stepDown(); });
    if (auto* b = qobject_cast<QAbstractButton*>(find(ids.up)))
        connect(b, &QAbstractButton::clicked, this, [this] { core_->stepUp(); });
    start_ = qobject_cast<QAbstractButton*>(find(ids.start));
    if (start_) {
        // The drive binder has already written the run toggle (register 160)
        // when this runs.
        connect(start_, &QAbstractButton::clicked, this, [this](bool on) {
            if (on) core_->start();
            else core_->stop();
        });
        // The column and pace controls go in a row of their own below the
        // buttons of the SWEEP group.
        QWidget* box = start_->parentWidget();
        if (auto* grid = box ? qobject_cast<QGridLayout*>(box->layout()) : nullptr) {
            column_ = new QComboBox(box);
            column_->setObjectName(QStringLiteral("sweepColumn"));
            column_->addItems({tr("VREF"), tr("MTH"), tr("CLK")});
            column_->setToolTip(tr("The column that \"<\", \">\" and \"Start\" step"));
            pace_ = new QSpinBox(box);
            pace_->setObjectName(QStringLiteral("sweepPace"));
            pace_->setRange(SweepCore::kMinPaceMs, SweepCore::kMaxPaceMs);
            pace_->setSingleStep(100);
            pace_->setSuffix(tr(" ms"));
            pace_->setToolTip(tr("Time per step of a sweep"));
            auto* row = new QHBoxLayout;
            row->addWidget(column_, 1);
            row->addWidget(new QLabel(tr("every"), box));
            row->addWidget(pace_, 1);
            grid->addLayout(row, grid->rowCount(), 0, 1, grid->columnCount());
            connect(column_, &QComboBox::activated, this,
                    [this](int i) { core_->setColumn(static_cast<ColumnId>(std::clamp(i, 0, 2))); });
            connect(pace_, &QSpinBox::valueChanged, this, [this](int ms) { core_->setPaceMs(ms); });
        }
    }
    connect(&timer_, &QTimer::timeout, this, [this] { core_->tick(); });
    connection_ = core_->changed.connect([this] { refresh(); });
    refresh();
}

SweepBinder::~SweepBinder() = default;

void SweepBinder::refresh()
{
    if (column_) {
        const QSignalBlocker block(column_);
        column_->setCurrentIndex(static_cast<int>(core_->column()));
    }
    if (pace_ && pace_->value() != core_->paceMs()) {
        const QSignalBlocker block(pace_);
        pace_->setValue(core_->paceMs());
    }
    timer_.setInterval(core_->paceMs());
    if (core_->running() && !timer_.isActive()) timer_.start();
    if (!core_->running()) timer_.stop();
}

} // namespace zelbo::drive
