// The main window's controls: every control carries its numeric id as object
// name ("id1069") so that features find it with control(id), and belongs to
// the enable group its role gives it.

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QLabel>
#include <QLineEdit>
#include <QEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/main_window.h"
#include "app/style.h"
#include "app/main_panels.h"
#include "widgets/spin_button.h"

namespace zelbo::app {

namespace {

// Where the oscilloscope chart goes: an empty screen with its graticule.
class ChartPlaceholder : public QWidget {
public:
    explicit ChartPlaceholder(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(480, 320);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x10, 0x14, 0x1a));
        const QRectF area = QRectF(rect()).adjusted(36, 14, -14, -26);
        QPen minor(QColor(0x2b, 0x33, 0x3d));
        minor.setStyle(Qt::DotLine);
        p.setPen(minor);
        for (int i = 1; i < 10; ++i) {
            const qreal x = area.left() + area.width() * i / 10;
            p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        }
        for (int j = 1; j < 8; ++j) {
            const qreal y = area.top() + area.height() * j / 8;
            p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        }
        p.setPen(QPen(QColor(0x4a, 0x55, 0x62), 1));
        p.drawRect(area);
        p.drawLine(QPointF(area.center().x(), area.top()), QPointF(area.center().x(), area.bottom()));
        p.drawLine(QPointF(area.left(), area.center().y()), QPointF(area.right(), area.center().y()));
        p.setPen(QColor(0x6c, 0x78, 0x86));
        p.drawText(area, Qt::AlignCenter, isEnabled() ? QObject::tr("No signal") : QString());
    }
};

QLabel* caption(const QString& text, QWidget* parent, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* l = new QLabel(text, parent);
    l->setAlignment(align);
    return l;
}

QLabel* unit(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName("unit");
    return l;
}

// A panel's title, object name and grid.
QGridLayout* openPanel(QGroupBox* box, const QString& title, const char* objectName)
{
    box->setTitle(title);
    box->setObjectName(QString::fromLatin1(objectName));
    return new QGridLayout(box);
}

void numeric(QLineEdit* e, int width = 64)
{
    e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    e->setFixedWidth(width);
}

// Keeps captions shown exactly while the field they label is.
class FollowVisibility : public QObject {
public:
    FollowVisibility(QWidget* field, QList<QWidget*> followers)
        : QObject(field), followers_(std::move(followers))
    {
        field->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
            const bool shown = !static_cast<QWidget*>(watched)->isHidden();
            for (QWidget* w : followers_) w->setVisible(shown);
        }
        return false;
    }

private:
    QList<QWidget*> followers_;
};

// Channel colours of the traces until the oscilloscope shows its own.
const char* kChannelColour[4] = {"#ff7f00", "#00ccff", "#ff00ff", "#662900"};

// A control enrolled under its id.
template <class W, class... Args> W* make(ControlSite& site, int id, Args&&... args)
{
    W* w = new W(std::forward<Args>(args)...);
    site.enrol(id, w);
    return w;
}

// A number the user does not type: a spin button or a core sets it.
QLineEdit* shownNumber(ControlSite& site, int id, int width, QWidget* parent)
{
    auto* e = make<QLineEdit>(site, id, parent);
    e->setReadOnly(true);
    numeric(e, width);
    return e;
}

// One of the window's three columns: its panels one below the other.
QVBoxLayout* stackOf(QWidget* column)
{
    auto* box = new QVBoxLayout(column);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(6);
    return box;
}

using Window = CTQ5170xHWPDlg;

} // namespace

PowerPanel::PowerPanel(ControlSite& site)
{
    auto* box = this;
    auto* grid = openPanel(this, tr("POWER"), "powerGroup");
    grid->setHorizontalSpacing(8);

    switchLabel = make<QLabel>(site, ctl::kSwitchLabel, tr("Switch:"), box);
    power = make<QPushButton>(site, ctl::kPower, tr("ON"), box);
    power->setCheckable(true);
    power->setMinimumSize(96, 40);
    power->setAutoDefault(false);

    modeLabel = make<QLabel>(site, ctl::kModeLabel, tr("Mode:"), box);
    modeName = make<QLabel>(site, ctl::kModeName, tr("Stepping Clk-In"), box);
    modeName->setFrameShape(QFrame::StyledPanel);
    modeName->setFrameShadow(QFrame::Sunken);
    modeName->setMinimumWidth(120);
    modeName->setContentsMargins(4, 2, 4, 2);
    change = make<QPushButton>(site, ctl::kModeChange, tr("Change"), box);
    change->setAutoDefault(false);

    grid->addWidget(switchLabel, 0, 0);
    grid->addWidget(power, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(modeLabel, 1, 0);
    grid->addWidget(modeName, 1, 1);
    grid->addWidget(change, 1, 2);
    grid->setColumnStretch(1, 1);

    site.addGroupMember(Window::GroupMode, ctl::kModeName);
    site.addGroupMember(Window::GroupMode, ctl::kModeChange);
}

ReferencesPanel::ReferencesPanel(ControlSite& site)
{
    auto* box = this;
    auto* grid = openPanel(this, tr("REFERENCES"), "referencesGroup");
    grid->setVerticalSpacing(4);

    struct Column {
        const char* title;
        int slider;
        int edit;
    };
    const Column cols[] = {{"VREF [V]", ctl::kVrefSlider, ctl::kVrefEdit},
                           {"MTH [V]", ctl::kMthSlider, ctl::kMthEdit},
                           {"CLK [Hz]", ctl::kClkSlider, ctl::kClkEdit}};
    for (int c = 0; c < 3; ++c) {
        const Column& col = cols[c];
        auto* title = caption(tr(col.title), box, Qt::AlignCenter);
        title->setObjectName("columnTitle");
        QSlider* s = slider[c] = make<QSlider>(site, col.slider, Qt::Vertical, box);
        s->setMinimumHeight(60); // grows with the window; short enough for a 768-line screen
        s->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        s->setTickPosition(QSlider::TicksBothSides);
        QLineEdit* e = edit[c] = make<QLineEdit>(site, col.edit, box);
        numeric(e, 78);
        grid->addWidget(title, 0, c, Qt::AlignHCenter);
        grid->addWidget(s, 1, c, Qt::AlignHCenter);
        grid->setRowStretch(1, 1);
        grid->addWidget(e, 2, c, Qt::AlignHCenter);
        site.addGroupMember(Window::GroupReferences, col.slider);
        site.addGroupMember(Window::GroupReferences, col.edit);
    }

    auto* sub = new QGridLayout;
    sub->setHorizontalSpacing(6);
    io = shownNumber(site, ctl::kIo, 78, box);
    sub->addWidget(caption(tr("Io:"), box), 0, 0);
    sub->addWidget(io, 0, 1);
    sub->addWidget(unit(tr("A"), box), 0, 2);
    site.addGroupMember(Window::GroupReferences, ctl::kIo);

    rnf = make<QLineEdit>(site, ctl::kRnfEdit, box);
    numeric(rnf, 78);
    sub->addWidget(caption(tr("RNF Value:"), box), 1, 0);
    sub->addWidget(rnf, 1, 1);
    sub->addWidget(unit(tr("Ω"), box), 1, 2);

    rate = shownNumber(site, ctl::kRnfRate, 78, box);
    rateSpin = make<SpinButton>(site, ctl::kRnfRateSpin, box);
    sub->addWidget(caption(tr("RNF Exchange Rate:"), box), 2, 0);
    sub->addWidget(rate, 2, 1);
    sub->addWidget(rateSpin, 2, 2);
    sub->setColumnStretch(3, 1);
    grid->addLayout(sub, 3, 0, 1, 3);
    site.addGroupMembers(Window::GroupSenseResistor, {ctl::kRnfRate, ctl::kRnfEdit, ctl::kRnfRateSpin});
    // The duty slider (CLK panel) and the PS indicator slider (pins) go with
    // the references.
    site.addGroupMember(Window::GroupReferences, ctl::kDutySlider);
    site.addGroupMember(Window::GroupReferences, ctl::kPsSlider);
}

SweepPanel::SweepPanel(ControlSite& site)
{
    auto* grid = openPanel(this, tr("SWEEP"), "sweepGroup");
    grid->setVerticalSpacing(4);
    const char* colTitle[] = {"VREF", "MTH", "CLK"};
    const char* rowTitle[] = {"MAX", "MIN", "STEP"};
    for (int c = 0; c < 3; ++c) grid->addWidget(caption(tr(colTitle[c]), this, Qt::AlignCenter), 0, c + 1);
    for (int r = 0; r < 3; ++r) {
        grid->addWidget(caption(tr(rowTitle[r]), this), r + 1, 0);
        for (int c = 0; c < 3; ++c) {
            const int id = ctl::sweepLimit(c, static_cast<ctl::LimitRow>(r));
            QLineEdit* e = limit[c][r] = make<QLineEdit>(site, id, this);
            numeric(e, 78);
            grid->addWidget(e, r + 1, c + 1, Qt::AlignHCenter);
            site.addGroupMember(Window::GroupReferences, id);
        }
    }
    auto* buttons = new QHBoxLayout;
    down = make<QPushButton>(site, ctl::kSweepDown, tr("<"), this);
    start = make<QPushButton>(site, ctl::kSweepStart, tr("Start"), this);
    up = make<QPushButton>(site, ctl::kSweepUp, tr(">"), this);
    site.addGroupMembers(Window::GroupSweep, {ctl::kSweepDown, ctl::kSweepStart, ctl::kSweepUp});
    start->setCheckable(true);
    for (auto* b : {down, start, up}) b->setAutoDefault(false);
    down->setFixedWidth(36);
    up->setFixedWidth(36);
    buttons->addWidget(down);
    buttons->addWidget(start, 1);
    buttons->addWidget(up);
    grid->addLayout(buttons, 4, 0, 1, 4);
}

ClockPanel::ClockPanel(ControlSite& site)
{
    setTitle(tr("CLK"));
    site.enrol(ctl::kClkGroup, this);
    auto* grid = new QGridLayout(this);
    grid->setVerticalSpacing(4);

    continuous = make<QRadioButton>(site, ctl::kContinuous, tr("Continuous"), this);
    manual = make<QRadioButton>(site, ctl::kManual, tr("Manual"), this);
    continuous->setChecked(true);
    stepsLabel = make<QLabel>(site, ctl::kStepsLabel, tr("Steps:"), this);
    steps = make<QLineEdit>(site, ctl::kStepsEdit, this);
    numeric(steps, 70);
    stopLabel = make<QLabel>(site, ctl::kStopLabel, tr("Stop:"), this);
    stopLevel = make<QPushButton>(site, ctl::kStopLevel, tr("H"), this);
    stopLevel->setCheckable(true);
    stopLevel->setFixedWidth(32);
    stopLevel->setAutoDefault(false);
    start = make<QPushButton>(site, ctl::kClkStart, tr("Start"), this);
    start->setCheckable(true);
    start->setAutoDefault(false);
    start->setMinimumWidth(72);

    auto* dutyCaption = caption(tr("Duty"), this);
    duty = make<QLineEdit>(site, ctl::kDutyEdit, this);
    numeric(duty, 56);
    dutySet = make<QPushButton>(site, ctl::kDutySet, tr("Set"), this);
    dutySet->setAutoDefault(false);
    dutySlider = make<QSlider>(site, ctl::kDutySlider, Qt::Horizontal, this);
    dutySlider->hide();

    grid->addWidget(continuous, 0, 0, 1, 2);
    grid->addWidget(manual, 0, 2, 1, 2);
    grid->addWidget(start, 0, 4);
    grid->addWidget(stepsLabel, 1, 0);
    grid->addWidget(steps, 1, 1);
    grid->addWidget(stopLabel, 1, 2, Qt::AlignRight);
    grid->addWidget(stopLevel, 1, 3);
    grid->addWidget(dutyCaption, 2, 0);
    auto* dutyRow = new QHBoxLayout;
    dutyRow->addWidget(duty);
    QWidget* percent = unit(tr("%"), this);
    dutyRow->addWidget(percent);
    // Clk-In mode hides the duty field; its caption and unit go with it.
    new FollowVisibility(duty, {dutyCaption, percent});
    dutyRow->addStretch(1);
    grid->addLayout(dutyRow, 2, 1, 1, 3);
    grid->addWidget(dutySet, 2, 4);
    grid->addWidget(dutySlider, 3, 0, 1, 5);
    grid->setColumnStretch(1, 1);

    site.addGroupMembers(Window::GroupClockInput,
        {ctl::kClkStart, ctl::kClkGroup, ctl::kContinuous, ctl::kManual, ctl::kDutyEdit});
}

ChannelsPanel::ChannelsPanel(ControlSite& site)
{
    auto* grid = openPanel(this, tr("CHANNELS"), "channelsGroup");
    grid->setVerticalSpacing(3);
    grid->setHorizontalSpacing(6);
    grid->addWidget(caption(tr("SOURCE"), this), 0, 2);
    grid->addWidget(caption(tr("OUTPUT"), this), 0, 3);
    grid->addWidget(caption(tr("VALUE/DIV"), this), 0, 4, 1, 2);
    for (int ch = 0; ch < 4; ++ch) {
        const auto n = static_cast<std::size_t>(ch);
        QPushButton* t = toggle[n] = make<QPushButton>(site, ctl::channelToggle(ch), QStringLiteral(" CH%1").arg(ch + 1), this);
        t->setCheckable(true);
        t->setChecked(true);
        t->setAutoDefault(false);
        t->setMinimumWidth(64);
        t->setIcon(colourSwatch(QColor(QString::fromLatin1(kChannelColour[ch]))));
        popup[n] = make<QToolButton>(site, ctl::channelPopup(ch), this);
        popup[n]->setText(tr(">"));
        source[n] = make<QComboBox>(site, ctl::channelSource(ch), this);
        source[n]->addItems({tr("Voltage"), tr("Current"), tr("ICC")});
        output[n] = make<QComboBox>(site, ctl::channelOutput(ch), this);
        const QString out = ch < 2 ? QStringLiteral("OUT1") : QStringLiteral("OUT2");
        output[n]->addItems({out + 'A', out + 'B'});
        output[n]->setCurrentIndex(ch % 2);
        valuePerDiv[n] = shownNumber(site, ctl::valuePerDiv(ch), 76, this);
        valuePerDivSpin[n] = make<SpinButton>(site, ctl::valuePerDivSpin(ch), this);

        grid->addWidget(t, ch + 1, 0);
        grid->addWidget(popup[n], ch + 1, 1);
        grid->addWidget(source[n], ch + 1, 2);
        grid->addWidget(output[n], ch + 1, 3);
        grid->addWidget(valuePerDiv[n], ch + 1, 4);
        grid->addWidget(valuePerDivSpin[n], ch + 1, 5);

        site.addGroupMembers(Window::GroupScopeChannels,
            {ctl::channelToggle(ch), ctl::channelPopup(ch), ctl::channelOutput(ch)});
        site.addGroupMembers(Window::GroupScopeSettings,
            {ctl::channelSource(ch), ctl::valuePerDiv(ch), ctl::valuePerDivSpin(ch)});
    }
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);
}

TimeBasePanel::TimeBasePanel(ControlSite& site)
{
    auto* grid = openPanel(this, tr("TIME BASE"), "timeBaseGroup");
    grid->setVerticalSpacing(4);

    secPerDiv = shownNumber(site, ctl::kSecPerDiv, 80, this);
    secPerDivSpin = make<SpinButton>(site, ctl::kSecPerDivSpin, this);
    grid->addWidget(caption(tr("SEC/DIV"), this), 0, 0);
    grid->addWidget(secPerDiv, 0, 1);
    grid->addWidget(secPerDivSpin, 0, 2);

    grid->addWidget(caption(tr("SAMPLING RATE"), this), 1, 0, 1, 3);
    samplingRate = make<QSlider>(site, ctl::kSamplingRate, Qt::Horizontal, this);
    samplingRate->setRange(0, 15);
    samplingRate->setTickPosition(QSlider::TicksBelow);
    samplingRate->setPageStep(1);
    grid->addWidget(samplingRate, 2, 0, 1, 3);

    autoRate = make<QCheckBox>(site, ctl::kAutoRate, tr("Auto"), this);
    grid->addWidget(autoRate, 3, 0, 1, 3);
    grid->setRowStretch(4, 1);

    site.addGroupMembers(Window::GroupScopeSettings, {ctl::kSecPerDiv, ctl::kSecPerDivSpin});
}

TriggerPanel::TriggerPanel(ControlSite& site)
{
    auto* grid = openPanel(this, tr("TRIGGER"), "triggerGroup");
    grid->setVerticalSpacing(4);

    on = make<QPushButton>(site, ctl::kTriggerOn, tr("ON"), this);
    on->setCheckable(true);
    on->setAutoDefault(false);
    slope = make<QPushButton>(site, ctl::kTriggerSlope, tr("+"), this);
    slope->setFixedWidth(32);
    slope->setAutoDefault(false);
    grid->addWidget(on, 0, 0, 1, 3);
    grid->addWidget(slope, 0, 3);

    auto* chans = new QHBoxLayout;
    for (int ch = 0; ch < 4; ++ch) {
        QRadioButton* r = channel[static_cast<std::size_t>(ch)] =
            make<QRadioButton>(site, ctl::triggerChannel(ch), QStringLiteral("CH%1").arg(ch + 1), this);
        if (ch == 0) r->setChecked(true);
        chans->addWidget(r);
    }
    grid->addLayout(chans, 1, 0, 1, 4);

    // The level: a slider and a field for a voltage source, another pair for
    // a current source; only the pair of the trigger channel's source is live.
    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(10);
    voltageLevelSlider = make<QSlider>(site, ctl::kVoltageLevelSlider, Qt::Vertical, this);
    voltageLevel = make<QLineEdit>(site, ctl::kVoltageLevelEdit, this);
    currentLevelSlider = make<QSlider>(site, ctl::kCurrentLevelSlider, Qt::Vertical, this);
    currentLevel = make<QLineEdit>(site, ctl::kCurrentLevelEdit, this);
    struct Pair {
        QSlider* slider;
        QLineEdit* edit;
        const char* unitText;
    };
    const Pair pairs[] = {{voltageLevelSlider, voltageLevel, "V"}, {currentLevelSlider, currentLevel, "A"}};
    for (int i = 0; i < 2; ++i) {
        const Pair& p = pairs[i];
        p.slider->setMinimumHeight(70);
        numeric(p.edit, 70);
        p.slider->setEnabled(false);
        p.edit->setEnabled(false);
        levels->addWidget(caption(tr("Level [%1]").arg(tr(p.unitText)), this, Qt::AlignCenter), 0, i);
        levels->addWidget(p.slider, 1, i, Qt::AlignHCenter);
        levels->addWidget(p.edit, 2, i, Qt::AlignHCenter);
    }
    // Mode and state as on a bench scope, and the holdoff after each sweep:
    // a third column beside the two levels, so the panel grows no taller.
    mode = make<QComboBox>(site, ctl::kTriggerMode, this);
    mode->setAccessibleName(tr("Trigger mode"));
    mode->setToolTip(tr("Trigger mode"));
    state = make<QLabel>(site, ctl::kTriggerState, tr("Stop"), this);
    state->setAlignment(Qt::AlignCenter);
    state->setFrameShape(QFrame::Panel);
    state->setFrameShadow(QFrame::Sunken);
    state->setAccessibleName(tr("Trigger state"));
    state->setToolTip(tr("Trigger state"));
    state->setMinimumWidth(state->fontMetrics().horizontalAdvance(QStringLiteral("Trig'd")) + 12);
    holdoff = make<QDoubleSpinBox>(site, ctl::kHoldoff, this);
    holdoff->setAccessibleName(tr("Holdoff"));
    holdoff->setToolTip(tr("Time after each sweep before the trigger is armed again"));
    levels->addWidget(mode, 0, 2);
    levels->addWidget(state, 1, 2, Qt::AlignVCenter);
    levels->addWidget(holdoff, 2, 2);
    grid->addLayout(levels, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    site.addGroupMembers(Window::GroupScopeSettings,
        {ctl::kTriggerOn, ctl::kCurrentLevelEdit, ctl::kCurrentLevelSlider, ctl::kTriggerMode, ctl::kHoldoff});
}

AcquisitionPanel::AcquisitionPanel(ControlSite& site)
{
    auto* grid = openPanel(this, tr("ACQUISITION"), "acquisitionGroup");
    run = make<QPushButton>(site, ctl::kRun, tr("Run"), this);
    run->setCheckable(true);
    run->setMinimumHeight(32);
    calibrate = make<QPushButton>(site, ctl::kCalibrate, tr("CALIBRATE"), this);
    savePicture = make<QPushButton>(site, ctl::kSavePicture, tr("Save Picture"), this);
    for (auto* b : {run, calibrate, savePicture}) b->setAutoDefault(false);
    grid->addWidget(run, 0, 0, 1, 2);
    grid->addWidget(calibrate, 1, 0);
    grid->addWidget(savePicture, 1, 1);
    site.addGroupMembers(Window::GroupScopeSettings, {ctl::kRun, ctl::kCalibrate, ctl::kSavePicture});
}

ThermometerPanel::ThermometerPanel(ControlSite& site)
{
    setTitle(tr("THERMOMETER"));
    site.enrol(ctl::kThermometerGroup, this);
    auto* v = new QVBoxLayout(this);
    // A placeholder until the thermometer's own gauge takes its place.
    auto* gauge = make<QLabel>(site, ctl::kThermometer, tr("--.- °C"), this);
    gauge->setAccessibleName(tr("THERMOMETER"));
    gauge->setAlignment(Qt::AlignCenter);
    gauge->setMinimumHeight(56);
    v->addWidget(gauge);
}

PinsPanel::PinsPanel()
{
    setTitle(tr("PINS"));
    setObjectName("pinsGroup");
}

void PinsPanel::fill(ControlSite& site)
{
    auto* v = new QVBoxLayout(this);
    table = make<QTableWidget>(site, ctl::kPinTable, 5, 2, this);
    table->setAccessibleName(QStringLiteral("TABLE"));
    table->setHorizontalHeaderLabels({tr("Pin"), tr("Level")});
    const char* names[] = {"PS", "ENABLE", "MODE0", "MODE1", "CW/CCW"};
    for (int r = 0; r < 5; ++r) {
        auto* name = new QTableWidgetItem(QString::fromLatin1(names[r]));
        name->setFlags(Qt::ItemIsEnabled);
        auto* level = new QTableWidgetItem(tr("Low"));
        level->setFlags(Qt::ItemIsEnabled);
        level->setTextAlignment(Qt::AlignCenter);
        table->setItem(r, 0, name);
        table->setItem(r, 1, level);
    }
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus);
    table->setMinimumHeight(140);
    v->addWidget(table);
    // The pin panel: the radios, sliders, chip name and excitation mode.
    setPins = new QPushButton(tr("Set Pins..."), this);
    setPins->setObjectName("pinPanelButton");
    setPins->setAutoDefault(false);
    v->addWidget(setPins);

    // The PS indicator's Low/High pair, kept out of sight.
    psLow = make<QRadioButton>(site, ctl::kPsLow, tr("Low"), this);
    psHigh = make<QRadioButton>(site, ctl::kPsHigh, tr("High"), this);
    psSlider = make<QSlider>(site, ctl::kPsSlider, Qt::Horizontal, this);
    psSlider->setRange(0, 1);
    psLow->setChecked(true);
    psLow->hide();
    psHigh->hide();
    psSlider->hide();
}

} // namespace zelbo::app

// ---- the window's side -------------------------------------------------------

void CTQ5170xHWPDlg::buildControls()
{
    using namespace zelbo::app;
    auto* central = new QWidget(this);
    central->setObjectName("client");
    setCentralWidget(central);

    // Left: the drive. Middle: the chart with its channel and time-base
    // controls. Right: trigger, acquisition, pins and thermometer.
    auto* left = new QWidget(central);
    QVBoxLayout* leftBox = stackOf(left);
    left->setFixedWidth(340);
    auto* middle = new QWidget(central);
    QVBoxLayout* middleBox = stackOf(middle);
    auto* right = new QWidget(central);
    QVBoxLayout* rightBox = stackOf(right);
    right->setFixedWidth(262);

    // The chart first: the largest area of the window.
    auto* chartFrame = new QFrame(middle);
    chartFrame->setObjectName("chartFrame");
    chartFrame->setFrameShape(QFrame::StyledPanel);
    auto* chartBox = new QVBoxLayout(chartFrame);
    chartBox->setContentsMargins(1, 1, 1, 1);
    ControlSite& site = *this;
    QWidget* chart = make<ChartPlaceholder>(site, ctl::kChart, chartFrame);
    chartBox->addWidget(chart);
    middleBox->addWidget(chartFrame, 1);

    auto* scopeRow = new QHBoxLayout;
    scopeRow->setSpacing(6);
    scopeRow->addWidget(panels_.channels = new ChannelsPanel(site), 1);
    scopeRow->addWidget(panels_.timeBase = new TimeBasePanel(site));
    middleBox->addLayout(scopeRow);

    leftBox->addWidget(panels_.power = new PowerPanel(site));
    leftBox->addWidget(panels_.references = new ReferencesPanel(site), 1);
    leftBox->addWidget(panels_.sweep = new SweepPanel(site));
    leftBox->addWidget(panels_.clock = new ClockPanel(site));

    rightBox->addWidget(panels_.trigger = new TriggerPanel(site));
    rightBox->addWidget(panels_.acquisition = new AcquisitionPanel(site));
    rightBox->addWidget(panels_.pins = new PinsPanel, 1);
    rightBox->addWidget(panels_.thermometer = new ThermometerPanel(site));

    power_ = panels_.power->power;
    connect(power_, &QPushButton::clicked, this, &CTQ5170xHWPDlg::powerButtonClicked);
    connect(panels_.power->change, &QPushButton::clicked, this, [this] { changeMode(); });

    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(8, 8, 8, 4);
    columns->setSpacing(8);
    columns->addWidget(left);
    columns->addWidget(middle, 1);
    columns->addWidget(right);
}


void CTQ5170xHWPDlg::enrol(int id, QWidget* control)
{
    control->setObjectName(QStringLiteral("id%1").arg(id));
    controls_.insert(id, control);
}

void CTQ5170xHWPDlg::buildPinTable()
{
    panels_.pins->fill(*this);
    connect(panels_.pins->setPins, &QPushButton::clicked, this, &CTQ5170xHWPDlg::showPinPanel);
}
