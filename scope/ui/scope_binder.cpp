#include "scope/ui/scope_binder.h"

#include "common/number_text.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/save_waveform.h"

namespace zelbo::scope {

namespace {

void setIndexRange(QWidget* w, int lo, int hi)
{
    const QSignalBlocker b(w);
    if (auto* s = qobject_cast<QAbstractSlider*>(w))
        s->setRange(lo, hi);
    else if (auto* sp = qobject_cast<QSpinBox*>(w))
        sp->setRange(lo, hi);
}

void setIndex(QWidget* w, int v)
{
    const QSignalBlocker b(w);
    if (auto* s = qobject_cast<QAbstractSlider*>(w))
        s->setValue(v);
    else if (auto* sp = qobject_cast<QSpinBox*>(w))
        sp->setValue(v);
}

template <typename F>
void connectIndex(QObject* ctx, QWidget* w, F f)
{
    if (auto* s = qobject_cast<QAbstractSlider*>(w))
        QObject::connect(s, &QAbstractSlider::valueChanged, ctx, f);
    else if (auto* sp = qobject_cast<QSpinBox*>(w))
        QObject::connect(sp, &QSpinBox::valueChanged, ctx, f);
}

void setText(QWidget* w, const QString& t)
{
    // Rewritten only when different, so the caret of an edit being typed in stays put.
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() != t) {
            const QSignalBlocker b(e);
            e->setText(t);
        }
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text() != t)
            l->setText(t);
    }
}

QString text(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    return {};
}

void setChecked(QWidget* w, bool on)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        const QSignalBlocker bl(b);
        b->setCheckable(true);
        b->setChecked(on);
    }
}

void setCaption(QWidget* w, const QString& t)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(t);
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

} // namespace

// The trigger's mode and state in the window's language (the core's own
// texts are the command line's and the settings file's).
QString ScopeBinder::shownText(TriggerMode mode)
{
    switch (mode) {
    case TriggerMode::Auto: return tr("Auto");
    case TriggerMode::Normal: return tr("Normal");
    case TriggerMode::Single: return tr("Single");
    }
    return QString::fromUtf8(triggerModeText(mode));
}

QString ScopeBinder::shownText(TriggerState state)
{
    switch (state) {
    case TriggerState::Stopped: return tr("Stop", "trigger state");
    case TriggerState::Waiting: return tr("Wait", "trigger state");
    case TriggerState::Armed: return tr("Armed", "trigger state");
    case TriggerState::Triggered: return tr("Trig'd", "trigger state");
    case TriggerState::Auto: return tr("Auto", "trigger state");
    case TriggerState::FreeRun: return tr("Run", "trigger state");
    }
    return QString::fromUtf8(triggerStateText(state));
}

ScopeBinder::ScopeBinder(ScopeCore& core, CLineChart& chart, Lookup lookup, QWidget* dialogParent,
                         const ScopeControlIds& ids, QObject* parent)
    : QObject(parent), core_(core), chart_(chart), lookup_(std::move(lookup)), ids_(ids)
{
    for (int n = 0; n < 4; ++n) {
        auto* d = new CChannelDlg(n, dialogParent);
        dialogs_[static_cast<std::size_t>(n)] = d;
        connect(d, &CChannelDlg::settingsChanged, this, &ScopeBinder::onDialogSettings);
        // Closed by its own title bar: the button shows ">" again.
        connect(d, &QDialog::finished, this, [this, n] { hideDialog(n); });
    }
    levelTimer_.setSingleShot(true);
    connect(&levelTimer_, &QTimer::timeout, this, [this] { core_.applyTriggerSetup(core_.triggerOn()); });
}

ScopeBinder::~ScopeBinder() = default;

QWidget* ScopeBinder::w(int id) const
{
    return id > 0 && lookup_ ? lookup_(id) : nullptr;
}

void ScopeBinder::bind()
{
    for (int n = 0; n < 4; ++n) {
        const auto i = static_cast<std::size_t>(n);
        if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.channelToggle[i]))) {
            b->setCheckable(true);
            connect(b, &QAbstractButton::toggled, this, [this, n](bool on) { onChannelToggle(n, on); });
        }
        if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.popupButton[i]))) {
            b->setText(QStringLiteral(">"));
            connect(b, &QAbstractButton::clicked, this, [this, n] { onPopup(n); });
        }
        if (auto* c = qobject_cast<QComboBox*>(w(ids_.sourceCombo[i]))) {
            const QSignalBlocker bl(c);
            c->clear();
            c->addItems({tr("Voltage"), tr("Current"), tr("ICC")});
            connect(c, &QComboBox::currentIndexChanged, this, [this, n](int idx) { onSource(n, idx); });
        }
        if (auto* c = qobject_cast<QComboBox*>(w(ids_.outputCombo[i]))) {
            const QSignalBlocker bl(c);
            c->clear();
            c->addItems({qs(outputText(n, 0)), qs(outputText(n, 1))});
            connect(c, &QComboBox::currentIndexChanged, this, [this, n](int idx) { onOutput(n, idx); });
        }
        connectIndex(this, w(ids_.valuePerDivSpin[i]), [this, n](int idx) { onValuePerDiv(n, idx); });
        if (auto* e = qobject_cast<QLineEdit*>(w(ids_.valuePerDivText[i])))
            e->setReadOnly(true);
    }

    setIndexRange(w(ids_.timeBaseSpin), 0, static_cast<int>(kTimeBases.size()) - 1);
    connectIndex(this, w(ids_.timeBaseSpin), [this](int idx) { onTimeBase(idx); });
    if (auto* e = qobject_cast<QLineEdit*>(w(ids_.timeBaseText)))
        e->setReadOnly(true);
    setIndexRange(w(ids_.samplingRate), 0, static_cast<int>(kSampleRates.size()) - 1);
    connectIndex(this, w(ids_.samplingRate), [this](int idx) { onSamplingRate(idx); });

    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.triggerButton))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::toggled, this, &ScopeBinder::onTrigger);
    }
    for (int t = 0; t < 4; ++t) {
        if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.triggerRadio[static_cast<std::size_t>(t)]))) {
            b->setCheckable(true);
            b->setAutoExclusive(true);
            connect(b, &QAbstractButton::toggled, this, [this, t](bool on) {
                if (on)
                    onTriggerRadio(t);
            });
        }
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.slopeButton))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::toggled, this, &ScopeBinder::onSlope);
    }
    auto levelSlider = [this](int id, int max) {
        QWidget* s = w(id);
        setIndexRange(s, 0, max);
        if (auto* sl = qobject_cast<QSlider*>(s); sl && sl->orientation() == Qt::Vertical) {
            // Position 0 is the highest level: keep it at the top.
            sl->setInvertedAppearance(true);
            sl->setInvertedControls(true);
        }
        return s;
    };
    connectIndex(this, levelSlider(ids_.voltageLevelSlider, kVoltSliderMax), [this](int p) { onVoltageSlider(p); });
    connectIndex(this, levelSlider(ids_.currentLevelSlider, kAmpSliderMax), [this](int p) { onCurrentSlider(p); });
    if (auto* e = qobject_cast<QLineEdit*>(w(ids_.voltageLevelEdit)))
        connect(e, &QLineEdit::editingFinished, this, &ScopeBinder::onVoltageEdit);
    if (auto* e = qobject_cast<QLineEdit*>(w(ids_.currentLevelEdit)))
        connect(e, &QLineEdit::editingFinished, this, &ScopeBinder::onCurrentEdit);

    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.runButton))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::toggled, this, &ScopeBinder::onRun);
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.autoCheck))) {
        b->setCheckable(true);
        connect(b, &QAbstractButton::toggled, this, &ScopeBinder::onAuto);
    }
    if (auto* c = qobject_cast<QComboBox*>(w(ids_.triggerMode))) {
        const QSignalBlocker bl(c);
        c->clear();
        for (int m = 0; m < kTriggerModes; ++m)
            c->addItem(shownText(static_cast<TriggerMode>(m)));
        connect(c, &QComboBox::currentIndexChanged, this, [this](int idx) {
            if (idx >= 0 && idx < kTriggerModes)
                core_.setTriggerMode(static_cast<TriggerMode>(idx));
        });
    }
    if (auto* sb = qobject_cast<QDoubleSpinBox*>(w(ids_.holdoff))) {
        const QSignalBlocker bl(sb);
        sb->setRange(0.0, kMaxHoldoffMs);
        sb->setDecimals(1);
        sb->setSuffix(QStringLiteral(" ms"));
        connect(sb, &QDoubleSpinBox::valueChanged, this, [this](double ms) { core_.setHoldoffMs(ms); });
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.calibrateButton)))
        connect(b, &QAbstractButton::clicked, this, &ScopeBinder::calibrateRequested);
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.saveButton)))
        connect(b, &QAbstractButton::clicked, this, &ScopeBinder::saveWaveform);

    refreshFromCore();
}

void ScopeBinder::refreshFromCore()
{
    for (int n = 0; n < 4; ++n)
        showChannel(n);
    showHorizontal();
    showTrigger();
    showTriggerMode();
    setChecked(w(ids_.runButton), core_.running());
    setCaption(w(ids_.runButton), core_.running() ? QStringLiteral("Stop") : QStringLiteral("Run"));
    changed();
}

void ScopeBinder::showChannel(int n)
{
    const auto i = static_cast<std::size_t>(n);
    const ScopeChannel& ch = core_.channel(n);
    setChecked(w(ids_.channelToggle[i]), core_.channelOn(n));
    if (auto* c = qobject_cast<QComboBox*>(w(ids_.sourceCombo[i]))) {
        const QSignalBlocker bl(c);
        c->setCurrentIndex(static_cast<int>(core_.source(n)));
    }
    if (auto* c = qobject_cast<QComboBox*>(w(ids_.outputCombo[i]))) {
        const QSignalBlocker bl(c);
        c->setCurrentIndex(core_.output(n));
        c->setEnabled(core_.outputSelectable(n));
    }
    setIndexRange(w(ids_.valuePerDivSpin[i]), 0, core_.valuePerDivMax(n));
    setIndex(w(ids_.valuePerDivSpin[i]), core_.valuePerDivIndex(n));
    setText(w(ids_.valuePerDivText[i]), qs(ch.valuePerDivText));
    auto* d = dialogs_[i];
    d->setLabel(qs(ch.label));
    d->setColour(ch.colour);
    d->setPosition(ch.verticalPosition);
    d->setSource(static_cast<int>(core_.source(n)));
}

void ScopeBinder::showHorizontal()
{
    setIndex(w(ids_.timeBaseSpin), core_.timeBaseIndex());
    setText(w(ids_.timeBaseText), qs(core_.timeBaseText()));
    setIndex(w(ids_.samplingRate), core_.samplingRateIndex());
    const QString rate = qs(core_.samplingRateText());
    setText(w(ids_.samplingRateText), rate);
    if (QWidget* s = w(ids_.samplingRate))
        s->setToolTip(rate);
    chart_.setSampleRateText(core_.samplingRateText());
    setChecked(w(ids_.autoCheck), core_.autoLink());
    if (QWidget* f = w(ids_.autoFrame))
        f->setVisible(core_.autoLink());
}

void ScopeBinder::showTrigger()
{
    const TriggerControls tc = core_.triggerControls();
    setChecked(w(ids_.triggerButton), core_.triggerOn());
    setCaption(w(ids_.triggerButton), qs(tc.buttonCaption));
    for (int t = 0; t < 4; ++t)
        setChecked(w(ids_.triggerRadio[static_cast<std::size_t>(t)]), t == core_.triggerChannel());
    setChecked(w(ids_.slopeButton), core_.slopeMinus());
    setCaption(w(ids_.slopeButton), qs(core_.slopeCaption()));
    for (int id : {ids_.voltageLevelSlider, ids_.voltageLevelEdit})
        if (QWidget* c = w(id))
            c->setEnabled(tc.voltageLevelEnabled);
    for (int id : {ids_.currentLevelSlider, ids_.currentLevelEdit})
        if (QWidget* c = w(id))
            c->setEnabled(tc.currentLevelEnabled);
    setIndex(w(ids_.voltageLevelSlider), core_.voltageSlider());
    setIndex(w(ids_.currentLevelSlider), core_.currentSlider());
    setText(w(ids_.voltageLevelEdit), qs(core_.voltageLevelText()));
    setText(w(ids_.currentLevelEdit), qs(core_.currentLevelText()));
}

void ScopeBinder::changed()
{
    if (view_)
        view_->update();
    emit chartChanged();
}

// ---- handlers -----------------------------------------------------------------

void ScopeBinder::onChannelToggle(int n, bool on)
{
    core_.setChannelOn(n, on);
    changed();
}

void ScopeBinder::onSource(int n, int index)
{
    if (index < 0 || index > 2)
        return;
    core_.setSource(n, static_cast<Source>(index));
    showChannel(n);
    showTrigger();
    changed();
}

void ScopeBinder::onOutput(int n, int index)
{
    core_.setOutput(n, index);
    dialogs_[static_cast<std::size_t>(n)]->setLabel(qs(core_.channel(n).label));
    changed();
}

void ScopeBinder::onValuePerDiv(int n, int index)
{
    const int shown = core_.setValuePerDiv(n, index);
    const auto i = static_cast<std::size_t>(n);
    setIndex(w(ids_.valuePerDivSpin[i]), shown);
    setText(w(ids_.valuePerDivText[i]), qs(core_.channel(n).valuePerDivText));
    changed();
}

void ScopeBinder::onTimeBase(int index)
{
    core_.setTimeBase(index);
    showHorizontal();
    changed();
}

void ScopeBinder::onSamplingRate(int index)
{
    core_.setSamplingRate(index);
    showHorizontal();
    changed();
}

void ScopeBinder::onAuto(bool on)
{
    core_.setAuto(on);
    if (QWidget* f = w(ids_.autoFrame))
        f->setVisible(on);
}

void ScopeBinder::onTrigger(bool on)
{
    core_.setTriggerOn(on);
    showTrigger();
    changed();
}

void ScopeBinder::onTriggerRadio(int t)
{
    core_.setTriggerChannel(t);
    showTrigger();
    changed();
}

void ScopeBinder::onSlope(bool minus)
{
    core_.setSlopeMinus(minus);
    setCaption(w(ids_.slopeButton), qs(core_.slopeCaption()));
    changed();
}

void ScopeBinder::onVoltageSlider(int pos)
{
    setText(w(ids_.voltageLevelEdit), qs(core_.setVoltageLevelFromSlider(pos)));
    levelTimer_.start(10);
}

void ScopeBinder::onCurrentSlider(int pos)
{
    setText(w(ids_.currentLevelEdit), qs(core_.setCurrentLevelFromSlider(pos)));
    levelTimer_.start(10);
}

void ScopeBinder::onVoltageEdit()
{
    const QString typed = text(w(ids_.voltageLevelEdit));
    if (!readNumber(typed.toStdString(), true)) {
        setText(w(ids_.voltageLevelEdit), qs(core_.voltageLevelText()));
        emit entryNote(tr("Trigger level: \"%1\" is not a number; kept %2 V.")
                           .arg(typed.left(40), qs(core_.voltageLevelText())));
        return;
    }
    const int pos = core_.setVoltageLevelText(text(w(ids_.voltageLevelEdit)).toStdString());
    setText(w(ids_.voltageLevelEdit), qs(core_.voltageLevelText()));
    setIndex(w(ids_.voltageLevelSlider), pos);
    changed();
}

void ScopeBinder::onCurrentEdit()
{
    const QString typed = text(w(ids_.currentLevelEdit));
    if (!readNumber(typed.toStdString(), true)) {
        setText(w(ids_.currentLevelEdit), qs(core_.currentLevelText()));
        emit entryNote(tr("Trigger level: \"%1\" is not a number; kept %2 A.")
                           .arg(typed.left(40), qs(core_.currentLevelText())));
        return;
    }
    const int pos = core_.setCurrentLevelText(text(w(ids_.currentLevelEdit)).toStdString());
    setText(w(ids_.currentLevelEdit), qs(core_.currentLevelText()));
    setIndex(w(ids_.currentLevelSlider), pos);
    changed();
}

void ScopeBinder::onRun(bool run)
{
    core_.setRunning(run);
    setCaption(w(ids_.runButton), run ? QStringLiteral("Stop") : QStringLiteral("Run"));
    changed();
}

void ScopeBinder::placeDialog(int n)
{
    auto* d = dialogs_[static_cast<std::size_t>(n)];
    auto* b = qobject_cast<QAbstractButton*>(w(ids_.popupButton[static_cast<std::size_t>(n)]));
    if (!b) return;
    // Beside its button, but kept inside the screen the button is on.
    QPoint at = b->mapToGlobal(QPoint(b->width() + 7, 0));
    if (const QScreen* screen = b->screen()) {
        const QRect room = screen->availableGeometry();
        const QSize size = d->frameGeometry().size().expandedTo(d->sizeHint());
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() + 1 - size.width())));
        at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() + 1 - size.height())));
    }
    d->move(at);
}

void ScopeBinder::hideDialog(int n)
{
    dialogs_[static_cast<std::size_t>(n)]->hide();
    auto* b = qobject_cast<QAbstractButton*>(w(ids_.popupButton[static_cast<std::size_t>(n)]));
    if (b && b->text().contains(QLatin1Char('<')))
        b->setText(QStringLiteral(">"));
}

void ScopeBinder::onPopup(int n)
{
    auto* d = dialogs_[static_cast<std::size_t>(n)];
    if (d->isVisible()) {
        hideDialog(n);
        return;
    }
    d->show();
    placeDialog(n); // once shown, its size is known
    d->raise();
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.popupButton[static_cast<std::size_t>(n)])))
        b->setText(QStringLiteral("<"));
}

void ScopeBinder::placeChannelDialogs()
{
    for (int n = 0; n < 4; ++n)
        if (dialogs_[static_cast<std::size_t>(n)]->isVisible())
            placeDialog(n);
}

void ScopeBinder::hideChannelDialogs()
{
    for (int n = 0; n < 4; ++n)
        if (dialogs_[static_cast<std::size_t>(n)]->isVisible())
            hideDialog(n);
}

void ScopeBinder::hideTopChannelDialog()
{
    int top = 0;
    for (int n = 0; n < 4; ++n)
        if (dialogs_[static_cast<std::size_t>(n)]->isVisible())
            top = n;
    hideDialog(top);
}

void ScopeBinder::onDialogSettings(int n, const ChannelSettings& s)
{
    const auto i = static_cast<std::size_t>(n);
    ScopeChannel& ch = core_.channel(n);
    ch.colour = s.colour | 0xFF000000u;
    ch.verticalPosition = std::clamp(s.position, -10, 10);
    if (s.source != static_cast<int>(core_.source(n)) && s.source >= 0 && s.source <= 2) {
        // The dialog's source radios and the SOURCE combo are one setting.
        if (auto* c = qobject_cast<QComboBox*>(w(ids_.sourceCombo[i])))
            c->setCurrentIndex(s.source); // runs onSource
        else
            onSource(n, s.source);
    } else {
        ch.label = s.label.left(7).toStdString();
    }
    changed();
}

void ScopeBinder::setDefaults()
{
    core_.applyDefaults();
    refreshFromCore();
}

void ScopeBinder::startScope()
{
    setChecked(w(ids_.runButton), true);
    setCaption(w(ids_.runButton), QStringLiteral("Stop"));
    if (!core_.running())
        core_.setRunning(true);
    changed();
}

void ScopeBinder::stopScope()
{
    setChecked(w(ids_.runButton), false);
    setCaption(w(ids_.runButton), QStringLiteral("Run"));
    if (core_.running())
        core_.setRunning(false);
    changed();
}

void ScopeBinder::applyTriggerState()
{
    core_.setTriggerOn(core_.triggerOn());
    showTrigger();
}

void ScopeBinder::reapplySourceChoices()
{
    for (int n = 0; n < 4; ++n) {
        core_.setSource(n, core_.source(n));
        showChannel(n);
    }
    showTrigger();
}

void ScopeBinder::chartRefresh()
{
    // The picture changes by itself only when a sweep comes in; every control
    // and mouse action that changes it repaints at once. So while nothing is
    // acquired (stopped, powered off, waiting for a trigger) the periodic
    // repaint is left out and an idle program costs next to nothing. The
    // tick after a sweep repaints once more: the math channels are computed
    // just after the sweep is counted.
    const std::uint64_t sweeps = core_.sweepsConverted();
    if (sweeps != paintedSweeps_) quietTicks_ = 0;
    paintedSweeps_ = sweeps;
    if (quietTicks_ < 2) {
        ++quietTicks_;
        if (view_)
            view_->update();
    }
    // A Single sweep stops the acquisition on the reader thread: Run follows.
    if (auto* b = qobject_cast<QAbstractButton*>(w(ids_.runButton)); b && b->isChecked() && !core_.running()) {
        setChecked(b, false);
        setCaption(b, QStringLiteral("Run"));
    }
    if (auto* l = qobject_cast<QLabel*>(w(ids_.triggerState)))
        l->setText(shownText(core_.triggerState()));
}

void ScopeBinder::showTriggerMode()
{
    if (auto* c = qobject_cast<QComboBox*>(w(ids_.triggerMode))) {
        const QSignalBlocker bl(c);
        c->setCurrentIndex(static_cast<int>(core_.triggerMode()));
    }
    if (auto* sb = qobject_cast<QDoubleSpinBox*>(w(ids_.holdoff))) {
        const QSignalBlocker bl(sb);
        sb->setValue(core_.holdoffMs());
    }
    if (auto* l = qobject_cast<QLabel*>(w(ids_.triggerState)))
        l->setText(shownText(core_.triggerState()));
}

void ScopeBinder::saveWaveform()
{
    QWidget* parent = dialogs_[0] ? dialogs_[0]->parentWidget() : nullptr;
    const QString path = askWaveformPath(parent);
    if (!path.isEmpty())
        saveWaveformTo(path);
}

bool ScopeBinder::saveWaveformTo(const QString& path)
{
    QString reason;
    const bool ok = exportWaveform(chart_, path, messages_, &reason);
    emit entryNote(ok ? tr("Picture saved to %1").arg(path) : tr("Picture not saved: %1").arg(reason));
    return ok;
}

} // namespace zelbo::scope
