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
#include "widgets/spin_button.h"

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

QGroupBox* group(const QString& title, QWidget* parent)
{
    auto* g = new QGroupBox(title, parent);
    return g;
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

} // namespace

template <class W, class... Args> W* CTQ5170xHWPDlg::make(int id, Args&&... args)
{
    W* w = new W(std::forward<Args>(args)...);
    w->setObjectName(QStringLiteral("id%1").arg(id));
    controls_.insert(id, w);
    return w;
}

void CTQ5170xHWPDlg::buildControls()
{
    auto* central = new QWidget(this);
    central->setObjectName("client");
    setCentralWidget(central);

    // Left: the drive. Middle: the chart with its channel and time-base
    // controls. Right: trigger, acquisition, pins and thermometer.
    auto* left = new QWidget(central);
    auto* leftBox = new QVBoxLayout(left);
    leftBox->setContentsMargins(0, 0, 0, 0);
    leftBox->setSpacing(6);
    left->setFixedWidth(340);

    auto* middle = new QWidget(central);
    auto* middleBox = new QVBoxLayout(middle);
    middleBox->setContentsMargins(0, 0, 0, 0);
    middleBox->setSpacing(6);

    auto* right = new QWidget(central);
    auto* rightBox = new QVBoxLayout(right);
    rightBox->setContentsMargins(0, 0, 0, 0);
    rightBox->setSpacing(6);
    right->setFixedWidth(262);

    // The chart first: the largest area of the window.
    auto* chartFrame = new QFrame(middle);
    chartFrame->setObjectName("chartFrame");
    chartFrame->setFrameShape(QFrame::StyledPanel);
    auto* chartBox = new QVBoxLayout(chartFrame);
    chartBox->setContentsMargins(1, 1, 1, 1);
    QWidget* chart = make<ChartPlaceholder>(1042, chartFrame);
    chartBox->addWidget(chart);
    middleBox->addWidget(chartFrame, 1);

    auto* scopeRow = new QHBoxLayout;
    scopeRow->setSpacing(6);
    scopeRow->addWidget(makeScopeChannelsPanel(), 1);
    scopeRow->addWidget(makeTimeBasePanel());
    middleBox->addLayout(scopeRow);

    leftBox->addWidget(makePowerPanel());
    leftBox->addWidget(makeReferencesPanel(), 1);
    leftBox->addWidget(makeSweepPanel());
    leftBox->addWidget(makeClockPanel());

    rightBox->addWidget(makeTriggerPanel());
    rightBox->addWidget(makeAcquisitionPanel());
    auto* pins = group(tr("PINS"), right);
    pins->setObjectName("pinsGroup");
    rightBox->addWidget(pins, 1);
    rightBox->addWidget(makeThermometerPanel());

    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(8, 8, 8, 4);
    columns->setSpacing(8);
    columns->addWidget(left);
    columns->addWidget(middle, 1);
    columns->addWidget(right);
}

QWidget* CTQ5170xHWPDlg::makePowerPanel()
{
    auto* box = group(tr("POWER"), nullptr);
    box->setObjectName("powerGroup");
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(8);

    auto* sw = make<QLabel>(1109, tr("Switch:"), box);
    power_ = make<QPushButton>(1025, tr("ON"), box);
    power_->setCheckable(true);
    power_->setMinimumSize(96, 40);
    power_->setAutoDefault(false);
    connect(power_, &QPushButton::clicked, this, &CTQ5170xHWPDlg::powerButtonClicked);

    auto* modeLabel = make<QLabel>(1074, tr("Mode:"), box);
    auto* modeName = make<QLabel>(1028, tr("Stepping Clk-In"), box);
    modeName->setFrameShape(QFrame::StyledPanel);
    modeName->setFrameShadow(QFrame::Sunken);
    modeName->setMinimumWidth(120);
    modeName->setContentsMargins(4, 2, 4, 2);
    auto* change = make<QPushButton>(1043, tr("Change"), box);
    change->setAutoDefault(false);
    connect(change, &QPushButton::clicked, this, [this] { changeMode(); });

    grid->addWidget(sw, 0, 0);
    grid->addWidget(power_, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(modeLabel, 1, 0);
    grid->addWidget(modeName, 1, 1);
    grid->addWidget(change, 1, 2);
    grid->setColumnStretch(1, 1);

    addGroupMember(GroupMode, 1028);
    addGroupMember(GroupMode, 1043);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeReferencesPanel()
{
    auto* box = group(tr("REFERENCES"), nullptr);
    box->setObjectName("referencesGroup");
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(4);

    struct Column {
        const char* title;
        int slider;
        int edit;
    };
    const Column cols[] = {{"VREF [V]", 1005, 1069}, {"MTH [V]", 1006, 1068}, {"CLK [Hz]", 1007, 1070}};
    for (int c = 0; c < 3; ++c) {
        const Column& col = cols[c];
        auto* title = caption(tr(col.title), box, Qt::AlignCenter);
        title->setObjectName("columnTitle");
        auto* slider = make<QSlider>(col.slider, Qt::Vertical, box);
        slider->setMinimumHeight(60); // grows with the window; short enough for a 768-line screen
        slider->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        slider->setTickPosition(QSlider::TicksBothSides);
        auto* edit = make<QLineEdit>(col.edit, box);
        numeric(edit, 78);
        grid->addWidget(title, 0, c, Qt::AlignHCenter);
        grid->addWidget(slider, 1, c, Qt::AlignHCenter);
        grid->setRowStretch(1, 1);
        grid->addWidget(edit, 2, c, Qt::AlignHCenter);
        addGroupMember(GroupReferences, col.slider);
        addGroupMember(GroupReferences, col.edit);
    }

    auto* sub = new QGridLayout;
    sub->setHorizontalSpacing(6);
    auto* io = make<QLineEdit>(1071, box);
    io->setReadOnly(true);
    numeric(io, 78);
    sub->addWidget(caption(tr("Io:"), box), 0, 0);
    sub->addWidget(io, 0, 1);
    sub->addWidget(unit(tr("A"), box), 0, 2);
    addGroupMember(GroupReferences, 1071);

    auto* rnf = make<QLineEdit>(1097, box);
    numeric(rnf, 78);
    sub->addWidget(caption(tr("RNF Value:"), box), 1, 0);
    sub->addWidget(rnf, 1, 1);
    sub->addWidget(unit(tr("Ω"), box), 1, 2);

    auto* rate = make<QLineEdit>(1096, box);
    rate->setReadOnly(true);
    numeric(rate, 78);
    auto* rateSpin = make<SpinButton>(1090, box);
    sub->addWidget(caption(tr("RNF Exchange Rate:"), box), 2, 0);
    sub->addWidget(rate, 2, 1);
    sub->addWidget(rateSpin, 2, 2);
    sub->setColumnStretch(3, 1);
    grid->addLayout(sub, 3, 0, 1, 3);
    for (int id : {1096, 1097, 1090}) addGroupMember(GroupSenseResistor, id);
    addGroupMember(GroupReferences, 1008); // duty slider (CLK group)
    addGroupMember(GroupReferences, 1009); // PS indicator slider (pin table)
    return box;
}

QWidget* CTQ5170xHWPDlg::makeSweepPanel()
{
    auto* box = group(tr("SWEEP"), nullptr);
    box->setObjectName("sweepGroup");
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(4);
    const char* colTitle[] = {"VREF", "MTH", "CLK"};
    const char* rowTitle[] = {"MAX", "MIN", "STEP"};
    for (int c = 0; c < 3; ++c) grid->addWidget(caption(tr(colTitle[c]), box, Qt::AlignCenter), 0, c + 1);
    for (int r = 0; r < 3; ++r) {
        grid->addWidget(caption(tr(rowTitle[r]), box), r + 1, 0);
        for (int c = 0; c < 3; ++c) {
            const int id = 1159 + c * 3 + r;
            auto* e = make<QLineEdit>(id, box);
            numeric(e, 78);
            grid->addWidget(e, r + 1, c + 1, Qt::AlignHCenter);
            addGroupMember(GroupReferences, id);
        }
    }
    auto* buttons = new QHBoxLayout;
    auto* prev = make<QPushButton>(1143, tr("<"), box);
    auto* start = make<QPushButton>(1104, tr("Start"), box);
    auto* next = make<QPushButton>(1144, tr(">"), box);
    for (int id : {1143, 1104, 1144}) addGroupMember(GroupSweep, id);
    start->setCheckable(true);
    for (auto* b : {prev, start, next}) b->setAutoDefault(false);
    prev->setFixedWidth(36);
    next->setFixedWidth(36);
    buttons->addWidget(prev);
    buttons->addWidget(start, 1);
    buttons->addWidget(next);
    grid->addLayout(buttons, 4, 0, 1, 4);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeClockPanel()
{
    auto* box = make<QGroupBox>(1126, tr("CLK"), nullptr);
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(4);

    auto* cont = make<QRadioButton>(1127, tr("Continuous"), box);
    auto* manual = make<QRadioButton>(1128, tr("Manual"), box);
    cont->setChecked(true);
    auto* steps = make<QLabel>(1129, tr("Steps:"), box);
    auto* stepsEdit = make<QLineEdit>(1130, box);
    numeric(stepsEdit, 70);
    auto* stop = make<QLabel>(1131, tr("Stop:"), box);
    auto* level = make<QPushButton>(1132, tr("H"), box);
    level->setCheckable(true);
    level->setFixedWidth(32);
    level->setAutoDefault(false);
    auto* start = make<QPushButton>(1045, tr("Start"), box);
    start->setCheckable(true);
    start->setAutoDefault(false);
    start->setMinimumWidth(72);

    auto* duty = caption(tr("Duty"), box);
    auto* dutyEdit = make<QLineEdit>(1152, box);
    numeric(dutyEdit, 56);
    auto* set = make<QPushButton>(1046, tr("Set"), box);
    set->setAutoDefault(false);
    // The duty slider; Clk-In mode sets the duty in the field only.
    auto* dutySlider = make<QSlider>(1008, Qt::Horizontal, box);
    dutySlider->hide();

    grid->addWidget(cont, 0, 0, 1, 2);
    grid->addWidget(manual, 0, 2, 1, 2);
    grid->addWidget(start, 0, 4);
    grid->addWidget(steps, 1, 0);
    grid->addWidget(stepsEdit, 1, 1);
    grid->addWidget(stop, 1, 2, Qt::AlignRight);
    grid->addWidget(level, 1, 3);
    grid->addWidget(duty, 2, 0);
    auto* dutyRow = new QHBoxLayout;
    dutyRow->addWidget(dutyEdit);
    QWidget* percent = unit(tr("%"), box);
    dutyRow->addWidget(percent);
    // Clk-In mode hides the duty field; its caption and unit go with it.
    new FollowVisibility(dutyEdit, {duty, percent});
    dutyRow->addStretch(1);
    grid->addLayout(dutyRow, 2, 1, 1, 3);
    grid->addWidget(set, 2, 4);
    grid->addWidget(dutySlider, 3, 0, 1, 5);
    grid->setColumnStretch(1, 1);

    for (int id : {1045, 1126, 1127, 1128, 1152}) addGroupMember(GroupClockInput, id);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeScopeChannelsPanel()
{
    auto* box = group(tr("CHANNELS"), nullptr);
    box->setObjectName("channelsGroup");
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(3);
    grid->setHorizontalSpacing(6);
    grid->addWidget(caption(tr("SOURCE"), box), 0, 2);
    grid->addWidget(caption(tr("OUTPUT"), box), 0, 3);
    grid->addWidget(caption(tr("VALUE/DIV"), box), 0, 4, 1, 2);
    for (int ch = 0; ch < 4; ++ch) {
        auto* toggle = make<QPushButton>(1014 + ch, QStringLiteral(" CH%1").arg(ch + 1), box);
        toggle->setCheckable(true);
        toggle->setChecked(true);
        toggle->setAutoDefault(false);
        toggle->setMinimumWidth(64);
        toggle->setIcon(colourSwatch(QColor(QString::fromLatin1(kChannelColour[ch]))));
        auto* popup = make<QToolButton>(1018 + ch, box);
        popup->setText(tr(">"));
        auto* source = make<QComboBox>(1168 + ch, box);
        source->addItems({tr("Voltage"), tr("Current"), tr("ICC")});
        auto* output = make<QComboBox>(1172 + ch, box);
        const QString out = ch < 2 ? QStringLiteral("OUT1") : QStringLiteral("OUT2");
        output->addItems({out + 'A', out + 'B'});
        output->setCurrentIndex(ch % 2);
        auto* scale = make<QLineEdit>(1080 + ch, box);
        scale->setReadOnly(true);
        numeric(scale, 76);
        auto* spin = make<SpinButton>(1085 + ch, box);

        grid->addWidget(toggle, ch + 1, 0);
        grid->addWidget(popup, ch + 1, 1);
        grid->addWidget(source, ch + 1, 2);
        grid->addWidget(output, ch + 1, 3);
        grid->addWidget(scale, ch + 1, 4);
        grid->addWidget(spin, ch + 1, 5);

        for (int id : {1014 + ch, 1018 + ch, 1172 + ch}) addGroupMember(GroupScopeChannels, id);
        for (int id : {1168 + ch, 1080 + ch, 1085 + ch}) addGroupMember(GroupScopeSettings, id);
    }
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeTimeBasePanel()
{
    auto* box = group(tr("TIME BASE"), nullptr);
    box->setObjectName("timeBaseGroup");
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(4);

    auto* secEdit = make<QLineEdit>(1084, box);
    secEdit->setReadOnly(true);
    numeric(secEdit, 80);
    auto* secSpin = make<SpinButton>(1089, box);
    grid->addWidget(caption(tr("SEC/DIV"), box), 0, 0);
    grid->addWidget(secEdit, 0, 1);
    grid->addWidget(secSpin, 0, 2);

    grid->addWidget(caption(tr("SAMPLING RATE"), box), 1, 0, 1, 3);
    auto* rate = make<QSlider>(1013, Qt::Horizontal, box);
    rate->setRange(0, 15);
    rate->setTickPosition(QSlider::TicksBelow);
    rate->setPageStep(1);
    grid->addWidget(rate, 2, 0, 1, 3);

    auto* autoLink = make<QCheckBox>(1190, tr("Auto"), box);
    grid->addWidget(autoLink, 3, 0, 1, 3);
    grid->setRowStretch(4, 1);

    for (int id : {1084, 1089}) addGroupMember(GroupScopeSettings, id);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeTriggerPanel()
{
    auto* box = group(tr("TRIGGER"), nullptr);
    box->setObjectName("triggerGroup");
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(4);

    auto* on = make<QPushButton>(1024, tr("ON"), box);
    on->setCheckable(true);
    on->setAutoDefault(false);
    auto* slope = make<QPushButton>(1027, tr("+"), box);
    slope->setFixedWidth(32);
    slope->setAutoDefault(false);
    grid->addWidget(on, 0, 0, 1, 3);
    grid->addWidget(slope, 0, 3);

    auto* chans = new QHBoxLayout;
    for (int ch = 0; ch < 4; ++ch) {
        auto* r = make<QRadioButton>(1105 + ch, QStringLiteral("CH%1").arg(ch + 1), box);
        if (ch == 0) r->setChecked(true);
        chans->addWidget(r);
    }
    grid->addLayout(chans, 1, 0, 1, 4);

    // The level: a slider and a field for a voltage source, another pair for
    // a current source; only the pair of the trigger channel's source is live.
    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(10);
    struct Pair {
        int slider, edit;
        const char* unitText;
    };
    const Pair pairs[] = {{1072, 1073, "V"}, {1092, 1091, "A"}};
    for (int i = 0; i < 2; ++i) {
        auto* slider = make<QSlider>(pairs[i].slider, Qt::Vertical, box);
        slider->setMinimumHeight(70);
        auto* edit = make<QLineEdit>(pairs[i].edit, box);
        numeric(edit, 70);
        slider->setEnabled(false);
        edit->setEnabled(false);
        levels->addWidget(caption(tr("Level [%1]").arg(tr(pairs[i].unitText)), box, Qt::AlignCenter), 0, i);
        levels->addWidget(slider, 1, i, Qt::AlignHCenter);
        levels->addWidget(edit, 2, i, Qt::AlignHCenter);
    }
    // Mode and state as on a bench scope, and the holdoff after each sweep:
    // a third column beside the two levels, so the panel grows no taller.
    auto* mode = make<QComboBox>(1240, box);
    mode->setAccessibleName(tr("Trigger mode"));
    mode->setToolTip(tr("Trigger mode"));
    auto* state = make<QLabel>(1241, tr("Stop"), box);
    state->setAlignment(Qt::AlignCenter);
    state->setFrameShape(QFrame::Panel);
    state->setFrameShadow(QFrame::Sunken);
    state->setAccessibleName(tr("Trigger state"));
    state->setToolTip(tr("Trigger state"));
    state->setMinimumWidth(state->fontMetrics().horizontalAdvance(QStringLiteral("Trig'd")) + 12);
    auto* holdoff = make<QDoubleSpinBox>(1242, box);
    holdoff->setAccessibleName(tr("Holdoff"));
    holdoff->setToolTip(tr("Time after each sweep before the trigger is armed again"));
    levels->addWidget(mode, 0, 2);
    levels->addWidget(state, 1, 2, Qt::AlignVCenter);
    levels->addWidget(holdoff, 2, 2);
    grid->addLayout(levels, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    for (int id : {1024, 1091, 1092, 1240, 1242}) addGroupMember(GroupScopeSettings, id);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeAcquisitionPanel()
{
    auto* box = group(tr("ACQUISITION"), nullptr);
    box->setObjectName("acquisitionGroup");
    auto* grid = new QGridLayout(box);
    auto* run = make<QPushButton>(1026, tr("Run"), box);
    run->setCheckable(true);
    run->setMinimumHeight(32);
    auto* calibrate = make<QPushButton>(1156, tr("CALIBRATE"), box);
    auto* save = make<QPushButton>(1023, tr("Save Picture"), box);
    for (auto* b : {run, calibrate, save}) b->setAutoDefault(false);
    grid->addWidget(run, 0, 0, 1, 2);
    grid->addWidget(calibrate, 1, 0);
    grid->addWidget(save, 1, 1);
    for (int id : {1026, 1156, 1023}) addGroupMember(GroupScopeSettings, id);
    return box;
}

QWidget* CTQ5170xHWPDlg::makeThermometerPanel()
{
    auto* box = make<QGroupBox>(1234, tr("THERMOMETER"), nullptr);
    auto* v = new QVBoxLayout(box);
    auto* gauge = make<QLabel>(1032, tr("--.- °C"), box);
    gauge->setAccessibleName(tr("THERMOMETER"));
    gauge->setAlignment(Qt::AlignCenter);
    gauge->setMinimumHeight(56);
    gauge->setObjectName("id1032");
    v->addWidget(gauge);
    return box;
}

void CTQ5170xHWPDlg::buildPinTable()
{
    auto* pins = centralWidget()->findChild<QGroupBox*>("pinsGroup");
    auto* v = new QVBoxLayout(pins);
    auto* table = make<QTableWidget>(1051, 5, 2, pins);
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
    auto* open = new QPushButton(tr("Set Pins..."), pins);
    open->setObjectName("pinPanelButton");
    open->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, &CTQ5170xHWPDlg::showPinPanel);
    v->addWidget(open);

    // The PS indicator's Low/High pair, kept out of sight.
    auto* low = make<QRadioButton>(1176, tr("Low"), pins);
    auto* high = make<QRadioButton>(1177, tr("High"), pins);
    auto* psSlider = make<QSlider>(1009, Qt::Horizontal, pins);
    psSlider->setRange(0, 1);
    low->setChecked(true);
    low->hide();
    high->hide();
    psSlider->hide();
}
