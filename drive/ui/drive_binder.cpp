#include "drive/ui/drive_binder.h"

#include "common/number_text.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>

namespace zelbo::drive {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Rewrites a text only when it differs, without running its change handling.
void setTextQuiet(QWidget* w, const QString& text)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() != text) {
            const QSignalBlocker block(e);
            e->setText(text);
        }
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text() != text) l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (b->text() != text) b->setText(text);
    }
}

void setCheckedQuiet(QWidget* w, bool checked)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        const QSignalBlocker block(b);
        b->setChecked(checked);
    }
}

void setSliderQuiet(QWidget* w, int max, int page, int pos)
{
    if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
        const QSignalBlocker block(s);
        s->setRange(0, max);
        s->setPageStep(page);
        s->setValue(pos);
    }
}

void setIntQuiet(QWidget* w, int value)
{
    if (auto* spin = qobject_cast<QSpinBox*>(w)) {
        const QSignalBlocker block(spin);
        spin->setValue(value);
    } else if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
        const QSignalBlocker block(s);
        s->setValue(value);
    }
}

void setEnabled(QWidget* w, bool enabled)
{
    if (w) w->setEnabled(enabled);
}

void setVisible(QWidget* w, bool visible)
{
    if (w && w->isHidden() == visible) w->setVisible(visible);
}

} // namespace

DriveBinder::DriveBinder(DriveCore& core, Lookup lookup, DriveControlIds ids, QObject* parent)
    : QObject(parent), core_(core), lookup_(std::move(lookup)), ids_(ids)
{
    for (ColumnId c : {ColumnId::Vref, ColumnId::Mth, ColumnId::Clk}) bindColumn(c);
    bindSenseResistor();
    bindClock();
    coreConnection_ = core_.changed.connect([this](unsigned a) { refresh(a); });
    refresh();
}

QWidget* DriveBinder::w(int id) const { return lookup_ && id > 0 ? lookup_(id) : nullptr; }

void DriveBinder::bindColumn(ColumnId col)
{
    const int c = static_cast<int>(col);
    if (auto* slider = qobject_cast<QAbstractSlider*>(w(ids_.slider[c]))) {
        // Position 0 is the top and the largest value.
        if (auto* qs = qobject_cast<QSlider*>(slider); qs && qs->orientation() == Qt::Vertical) {
            qs->setInvertedAppearance(true);
            qs->setInvertedControls(true);
        }
        connect(slider, &QAbstractSlider::valueChanged, this,
                [this, col](int pos) { core_.sliderMoved(col, pos); });
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w(ids_.valueEdit[c]))) {
        connect(edit, &QLineEdit::textEdited, this,
                [this, col](const QString& t) { core_.setValueText(col, t.toStdString()); });
        connect(edit, &QLineEdit::editingFinished, this, [this, col, edit] {
            core_.setValueText(col, edit->text().toStdString());
            core_.commitValue(col);
        });
    }
    const Limit order[3] = {Limit::Max, Limit::Min, Limit::Step};
    for (int k = 0; k < 3; ++k) {
        auto* edit = qobject_cast<QLineEdit*>(w(ids_.limitEdit[c][k]));
        if (!edit) continue;
        const Limit which = order[k];
        connect(edit, &QLineEdit::textEdited, this, [this, col, which](const QString& t) {
            core_.setLimitText(col, which, t.toStdString());
        });
        connect(edit, &QLineEdit::editingFinished, this, [this, col, which, edit] {
            core_.setLimitText(col, which, edit->text().toStdString());
            core_.commitLimit(col, which);
        });
    }
}

void DriveBinder::bindSenseResistor()
{
    if (auto* edit = qobject_cast<QLineEdit*>(w(ids_.rnfEdit))) {
        connect(edit, &QLineEdit::textEdited, this,
                [this](const QString& t) { core_.setRnfText(t.toStdString()); });
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
            core_.setRnfText(edit->text().toStdString());
            core_.commitRnf();
        });
    }
    if (auto* rate = qobject_cast<QLineEdit*>(w(ids_.rateField))) rate->setReadOnly(true);
    QWidget* spin = w(ids_.rateSpin);
    auto onRate = [this](int index) { core_.setRateIndex(index); };
    if (auto* box = qobject_cast<QSpinBox*>(spin)) {
        box->setRange(0, 9);
        connect(box, &QSpinBox::valueChanged, this, onRate);
    } else if (auto* s = qobject_cast<QAbstractSlider*>(spin)) {
        s->setRange(0, 9);
        connect(s, &QAbstractSlider::valueChanged, this, onRate);
    }
}

void DriveBinder::bindClock()
{
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.continuous)))
        connect(b, &QAbstractButton::clicked, this, [this] { core_.setManual(false); });
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.manual)))
        connect(b, &QAbstractButton::clicked, this, [this] { core_.setManual(true); });
    if (auto* edit = qobject_cast<QLineEdit*>(w(ids_.stepsEdit))) {
        connect(edit, &QLineEdit::textEdited, this, [this, edit](const QString& t) {
            const QString shown = qs(core_.editSteps(t.toStdString()));
            if (edit->text() != shown) {
                const QSignalBlocker block(edit);
                edit->setText(shown);
            }
            edit->setCursorPosition(static_cast<int>(edit->text().size()));
        });
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.stopToggle))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::clicked, this, [this](bool on) { core_.setStopHigh(on); });
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.clkStart))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::clicked, this, [this](bool on) { core_.setClockRunning(on); });
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.secondStart))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::clicked, this, [this](bool on) { core_.setSecondRunning(on); });
    }
    auto* duty = qobject_cast<QLineEdit*>(w(ids_.duty));
    if (duty) {
        duty->setMaxLength(5);
        connect(duty, &QLineEdit::textEdited, this,
                [this](const QString& t) { core_.setDutyText(t.toStdString()); });
        connect(duty, &QLineEdit::editingFinished, this, [this, duty] {
            core_.setDutyText(duty->text().toStdString());
            core_.commitDuty();
        });
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.dutySet))) {
        connect(b, &QAbstractButton::clicked, this, [this, duty] {
            if (duty) core_.setDutyText(duty->text().toStdString());
            // Text without a number is refused there, not sent as 50 %.
            if (!zelbo::readNumber(core_.dutyText(), false)) core_.commitDuty();
            else core_.sendClockRegisters();
        });
    }
}

void DriveBinder::refresh(unsigned aspects)
{
    if (aspects & aspect::kColumns) refreshColumns();
    if (aspects & aspect::kRnf) refreshSenseResistor();
    if (aspects & aspect::kClock) refreshClock();
    if (aspects & aspect::kMode) refreshMode();
    if (aspects & aspect::kPins) refreshPins();
}

void DriveBinder::refreshColumns()
{
    const Limit order[3] = {Limit::Max, Limit::Min, Limit::Step};
    for (ColumnId col : {ColumnId::Vref, ColumnId::Mth, ColumnId::Clk}) {
        const int c = static_cast<int>(col);
        const Column& column = core_.column(col);
        setSliderQuiet(w(ids_.slider[c]), column.sliderMax(), column.pageStep(), column.sliderPosition());
        setTextQuiet(w(ids_.valueEdit[c]), qs(column.valueText()));
        for (int k = 0; k < 3; ++k) setTextQuiet(w(ids_.limitEdit[c][k]), qs(column.limitText(order[k])));
    }
}

void DriveBinder::refreshSenseResistor()
{
    setTextQuiet(w(ids_.rnfEdit), qs(core_.rnfText()));
    setTextQuiet(w(ids_.rateField), qs(core_.rateText()));
    setIntQuiet(w(ids_.rateSpin), core_.rateIndex());
    setTextQuiet(w(ids_.io), qs(core_.ioText()));
}

void DriveBinder::refreshClock()
{
    setCheckedQuiet(w(ids_.continuous), !core_.manual());
    setCheckedQuiet(w(ids_.manual), core_.manual());
    // Inside the CLK group's own enabling: a group switched off keeps its
    // members off, whatever the clock says.
    QWidget* box = w(ids_.clkGroup);
    const bool group = !box || !box->testAttribute(Qt::WA_ForceDisabled);
    setEnabled(w(ids_.continuous), group && core_.runModeEnabled());
    setEnabled(w(ids_.manual), group && core_.runModeEnabled());
    setEnabled(w(ids_.stepsEdit), group && core_.stepsEnabled());
    setEnabled(w(ids_.stopToggle), group && core_.stepsEnabled());
    setEnabled(w(ids_.stepsLabel), group && core_.stepsLabelsEnabled());
    setEnabled(w(ids_.stopLabel), group && core_.stepsLabelsEnabled());
    setTextQuiet(w(ids_.stepsEdit), qs(core_.stepsText()));
    setCheckedQuiet(w(ids_.stopToggle), core_.stopHigh());
    setTextQuiet(w(ids_.stopToggle), QString::fromLatin1(core_.stopLevelCaption()));
    setCheckedQuiet(w(ids_.clkStart), core_.clockRunning());
    setTextQuiet(w(ids_.clkStart), tr(core_.clockRunCaption()));
    setCheckedQuiet(w(ids_.secondStart), core_.secondRunning());
    setTextQuiet(w(ids_.secondStart), tr(core_.secondRunCaption()));
    setTextQuiet(w(ids_.duty), qs(core_.dutyText()));
    setSliderQuiet(w(ids_.dutySlider), core_.dutySliderMax(), core_.dutyPageStep(),
                   core_.dutySliderPosition());
}

void DriveBinder::refreshMode()
{
    setTextQuiet(w(ids_.modeName), qs(core_.modeLabel()));
    // Only Clk-In mode says what is shown; the other modes leave the layout
    // as it is.
    if (!core_.clkInControlsVisible()) return;
    for (int id : {ids_.slider[2], ids_.valueEdit[2], ids_.limitEdit[2][0], ids_.limitEdit[2][1],
                   ids_.limitEdit[2][2], ids_.clkGroup, ids_.clkStart, ids_.secondStart})
        setVisible(w(id), true);
    setVisible(w(ids_.duty), false);
    setVisible(w(ids_.dutySlider), false);
}

void DriveBinder::refreshPins()
{
    const bool high = core_.psIndicatorHigh();
    setCheckedQuiet(w(ids_.psLow), !high);
    setCheckedQuiet(w(ids_.psHigh), high);
    if (auto* s = qobject_cast<QAbstractSlider*>(w(ids_.psSlider))) {
        const QSignalBlocker block(s);
        s->setRange(0, 1);
        s->setValue(high ? 1 : 0);
    }
    // The pin table's level column shows the pin panel's state.
    if (auto* table = qobject_cast<QTableWidget*>(w(ids_.pinTable));
        table && table->rowCount() >= kPinCount && table->columnCount() >= 2) {
        for (int r = 0; r < kPinCount; ++r) {
            const QString level = core_.pinHigh(kPinOrder[static_cast<std::size_t>(r)]) ? tr("High") : tr("Low");
            if (QTableWidgetItem* item = table->item(r, 1)) {
                if (item->text() != level) item->setText(level);
            } else {
                table->setItem(r, 1, new QTableWidgetItem(level));
            }
        }
    }
}

void DriveBinder::startClock() { core_.setClockRunning(true); }

void DriveBinder::stopClock() { core_.setClockRunning(false); }

void DriveBinder::clockControlRead(std::uint8_t value) { core_.onClockControlRead(value); }

void DriveBinder::secondRunEnded() { core_.secondRunEnded(); }

} // namespace zelbo::drive
