#include "scope/ui/instrument.h"

#include "scope/ui/analysis_tools.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>

#include <algorithm>
#include <cmath>

#include "common/message_service.h"
#include "scope/chart/line_chart.h"
#include "scope/record/sweep_export.h"
#include "scope/scope_core.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/xy_view.h"
#include "widgets/file_places.h"

namespace zelbo::scope {

namespace {

const char* const kColumnTitles[ScopeInstrument::Columns] = {"Min",    "Max",   "Pk-Pk", "Mean",     "RMS",
                                                             "Freq",   "Period", "Ipeak", "Ierr", "Step err"};

// A percentage never wider than "+999.99 %": beyond that it reads as a bound,
// so the column sized for it never cuts it.
QString percent(double v, bool sign)
{
    if (!std::isfinite(v)) return QStringLiteral("---");
    if (std::abs(v) >= 999.995) return v > 0 ? QStringLiteral("> 999 %") : QStringLiteral("< -999 %");
    return QString::asprintf(sign ? "%+.2f %%" : "%.2f %%", v);
}

// Which columns go first when the strip is too narrow for all of them: the
// ones another column already implies (period, peak-to-peak) before those a
// coil-current check needs; Min and Max last.
constexpr ScopeInstrument::Column kElisionOrder[] = {
    ScopeInstrument::Period, ScopeInstrument::PeakToPeak, ScopeInstrument::Rms,       ScopeInstrument::StepError,
    ScopeInstrument::PeakError, ScopeInstrument::Mean,    ScopeInstrument::Peak,      ScopeInstrument::Frequency,
    ScopeInstrument::Max,       ScopeInstrument::Min};
static_assert(std::size(kElisionOrder) == ScopeInstrument::Columns);

// The widest text a column can show in `fm`: every figure is a sign, four
// significant digits around a point, a space, a prefix and a unit, so the
// widest digit in each place and the widest prefix bound it.
int widestFigure(const QFontMetrics& fm, const QStringList& units)
{
    QChar wide = QLatin1Char('0');
    for (char d = '0'; d <= '9'; ++d)
        if (fm.horizontalAdvance(QLatin1Char(d)) > fm.horizontalAdvance(wide)) wide = QLatin1Char(d);
    const QString w(wide);
    int most = fm.horizontalAdvance(QStringLiteral("---"));
    for (const QString& unit : units)
        for (const char* prefix : {"", "G", "M", "k", "m", "\u00b5", "n"})
            for (const QString& digits : {w + w + w + QLatin1Char('.') + w, w + QLatin1Char('.') + w + w + w})
                most = std::max(most, fm.horizontalAdvance(QLatin1Char('-') + digits + QLatin1Char(' ') +
                                                           QString::fromUtf8(prefix) + unit));
    return most;
}

int widestPercent(const QFontMetrics& fm)
{
    int most = fm.horizontalAdvance(QStringLiteral("---"));
    for (char d = '0'; d <= '9'; ++d) {
        const QString w(QLatin1Char{d});
        most = std::max(most, fm.horizontalAdvance(QLatin1Char('+') + w + w + w + QLatin1Char('.') + w + w +
                                                   QStringLiteral(" %")));
    }
    for (const QString& bound : {QStringLiteral("> 999 %"), QStringLiteral("< -999 %")})
        most = std::max(most, fm.horizontalAdvance(bound));
    return most;
}

// The strip and the tool row sit under the chart on a light ground in a
// smaller font, and never widen the chart's column.
void compact(QWidget* w)
{
    w->setAttribute(Qt::WA_StyledBackground);
    w->setStyleSheet(QStringLiteral("QWidget#%1 { background: #f4f6f9; } QLabel, QCheckBox { color: #1d2430; }")
                         .arg(w->objectName()));
    QFont f = w->font();
    f.setPointSizeF(f.pointSizeF() * 0.8);
    w->setFont(f);
    w->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QString sizeText(std::uint64_t bytes)
{
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    return mb >= 1024 ? QString::asprintf("%.2f GB", mb / 1024) : QString::asprintf("%.1f MB", mb);
}

} // namespace

ScopeInstrument::ScopeInstrument(ScopeCore& core, CLineChart& chart, MessageService* messages, QObject* parent)
    : QObject(parent), core_(core), chart_(chart), messages_(messages)
{
    analysis_ = std::make_unique<AnalysisTools>(core, chart);
    // A math channel set up, changed or turned off: its row at once.
    connect(analysis_.get(), &AnalysisTools::mathChanged, this, [this] { updateStrip(); });
    fanOut_.add(&analysis_->math());
    fanOut_.add(&measurer_);
    fanOut_.add(&recorder_);
    core_.setSweepObserver(&fanOut_);
}

ScopeInstrument::~ScopeInstrument()
{
    recorder_.stop();
    core_.setSweepObserver(nullptr);
}

void ScopeInstrument::install(ChartView* view, QWidget* statusBar)
{
    view_ = view;
    QWidget* host = view ? view->parentWidget() : nullptr;
    auto* box = host ? qobject_cast<QBoxLayout*>(host->layout()) : nullptr;
    buildTools(host);
    buildStrip(host);
    xy_ = new XyView(core_, host);
    xy_->hide();
    if (box) {
        const int at = box->indexOf(view);
        box->insertWidget(at + 1, xy_, 1);
        box->addWidget(tools_);
        box->addWidget(strip_);
    }
    if (view) overlay_ = new LevelsOverlay(core_, chart_, [this] { return levelValues(); }, view);
    if (overlay_) overlay_->setVisible(levels_);
    if (auto* bar = qobject_cast<QStatusBar*>(statusBar)) {
        status_ = new QLabel(bar);
        status_->setObjectName(QStringLiteral("recordStatus"));
        bar->addPermanentWidget(status_);
    }
}

void ScopeInstrument::buildTools(QWidget* parent)
{
    tools_ = new QWidget(parent);
    tools_->setObjectName(QStringLiteral("scopeTools"));
    compact(tools_);
    auto* row = new QHBoxLayout(tools_);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(6);
    levelsBox_ = new QCheckBox(tr("Levels"), tools_);
    levelsBox_->setObjectName(QStringLiteral("levelsCheck"));
    levelsBox_->setToolTip(tr("Ideal microstep levels of the excitation mode on the current channels"));
    connect(levelsBox_, &QCheckBox::toggled, this, [this](bool on) { setLevelsShown(on); });
    row->addWidget(levelsBox_);
    xyBox_ = new QCheckBox(tr("XY"), tools_);
    xyBox_->setObjectName(QStringLiteral("xyCheck"));
    connect(xyBox_, &QCheckBox::toggled, this, [this](bool on) { setXyMode(on); });
    row->addWidget(xyBox_);
    xCombo_ = new QComboBox(tools_);
    yCombo_ = new QComboBox(tools_);
    xCombo_->setObjectName(QStringLiteral("xyX"));
    yCombo_->setObjectName(QStringLiteral("xyY"));
    for (int n = 0; n < kChannels; ++n) {
        xCombo_->addItem(QString::fromStdString(channelKey(n)));
        yCombo_->addItem(QString::fromStdString(channelKey(n)));
    }
    xCombo_->setCurrentIndex(1);
    yCombo_->setCurrentIndex(3);
    auto pick = [this] { setXyChannels(xCombo_->currentIndex(), yCombo_->currentIndex()); };
    connect(xCombo_, &QComboBox::currentIndexChanged, this, pick);
    connect(yCombo_, &QComboBox::currentIndexChanged, this, pick);
    // A pair the user chose stays; until then XY takes the current channels.
    connect(xCombo_, &QComboBox::activated, this, [this] { xyChosen_ = true; });
    connect(yCombo_, &QComboBox::activated, this, [this] { xyChosen_ = true; });
    row->addWidget(new QLabel(tr("X"), tools_));
    row->addWidget(xCombo_);
    row->addWidget(new QLabel(tr("Y"), tools_));
    row->addWidget(yCombo_);
    analysis_->install(view_, row);
    row->addStretch(1);
    saveData_ = new QPushButton(tr("Save Data..."), tools_);
    saveData_->setObjectName(QStringLiteral("saveData"));
    connect(saveData_, &QPushButton::clicked, this, [this] { saveData(); });
    row->addWidget(saveData_);
    minutes_ = new QSpinBox(tools_);
    minutes_->setObjectName(QStringLiteral("recordMinutes"));
    minutes_->setRange(0, 24 * 60);
    minutes_->setSuffix(tr(" min"));
    minutes_->setToolTip(tr("Recording duration (0 = until stopped)"));
    minutes_->setSpecialValueText(tr("\u221e min"));
    row->addWidget(minutes_);
    megabytes_ = new QSpinBox(tools_);
    megabytes_->setObjectName(QStringLiteral("recordMegabytes"));
    megabytes_->setRange(0, 1024 * 1024);
    megabytes_->setSingleStep(100);
    megabytes_->setSuffix(tr(" MB"));
    megabytes_->setToolTip(tr("Largest recording file (0 = any size)"));
    megabytes_->setSpecialValueText(tr("\u221e MB"));
    row->addWidget(megabytes_);
    record_ = new QPushButton(tr("Record"), tools_);
    record_->setObjectName(QStringLiteral("record"));
    record_->setCheckable(true);
    connect(record_, &QPushButton::toggled, this, [this](bool on) { toggleRecording(on); });
    row->addWidget(record_);
}

void ScopeInstrument::buildStrip(QWidget* parent)
{
    strip_ = new QWidget(parent);
    strip_->setObjectName(QStringLiteral("measurementStrip"));
    compact(strip_);
    auto* grid = new QGridLayout(strip_);
    grid->setContentsMargins(2, 0, 2, 2);
    grid->setHorizontalSpacing(0); // the gap is part of each column's width (fitStrip)
    grid->setVerticalSpacing(0);
    for (int c = 0; c < Columns; ++c) {
        auto* title = new QLabel(tr(kColumnTitles[c]), strip_);
        title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont f = title->font();
        f.setBold(true);
        title->setFont(f);
        titles_[static_cast<std::size_t>(c)] = title;
        grid->addWidget(title, 0, c + 1);
    }
    for (int n = 0; n < kRows; ++n) {
        const bool math = n >= kChannels;
        const std::string key = math ? analysis::mathKey(n - kChannels) : channelKey(n);
        auto* box = new QCheckBox(QString::fromStdString(key), strip_);
        box->setObjectName(math ? QStringLiteral("measureM%1").arg(n - kChannels + 1)
                                : QStringLiteral("measure%1").arg(n + 1));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, [this, n](bool on) { setMeasurementShown(n, on); });
        rowBox_[static_cast<std::size_t>(n)] = box;
        grid->addWidget(box, n + 1, 0);
        for (int c = 0; c < Columns; ++c) {
            auto* cell = new QLabel(QStringLiteral("---"), strip_);
            cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cells_[static_cast<std::size_t>(n)][static_cast<std::size_t>(c)] = cell;
            grid->addWidget(cell, n + 1, c + 1);
            if (math) cell->hide();
        }
        if (math) box->hide();
    }
    strip_->installEventFilter(this);
    fitStrip();
}

bool ScopeInstrument::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == strip_ && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange ||
                              event->type() == QEvent::Show))
        fitStrip();
    return QObject::eventFilter(watched, event);
}

void ScopeInstrument::fitStrip()
{
    if (!strip_) return;
    // The fonts the cells and titles are drawn in: an application style
    // sheet can give them another than the strip's own.
    QLabel* sample = cells_[0][0].data();
    QLabel* firstTitle = titles_[0].data();
    if (sample) sample->ensurePolished();
    if (firstTitle) firstTitle->ensurePolished();
    const QFontMetrics fm(sample ? sample->font() : strip_->font());
    QFont bold = firstTitle ? firstTitle->font() : strip_->font();
    bold.setBold(true);
    const QFontMetrics fmBold(bold);
    const int gap = fm.horizontalAdvance(QLatin1Char(' ')) + 4;
    // The channels' units, and the math channels' while they are on.
    QStringList units{QStringLiteral("V"), QStringLiteral("A")};
    for (int n = kChannels; n < kRows; ++n)
        if (rowShown(n)) units << QString::fromStdString(rowUnit(n));
    units.removeDuplicates();
    unitsShown_ = units;
    const int channel = widestFigure(fm, units);
    std::array<int, Columns> width{};
    for (int c = 0; c < Columns; ++c) {
        int value = channel;
        if (c == Frequency) value = widestFigure(fm, {QStringLiteral("Hz")});
        if (c == Period) value = widestFigure(fm, {QStringLiteral("s")});
        if (c == Peak) value = widestFigure(fm, {QStringLiteral("A")});
        if (c == PeakError || c == StepError) value = widestPercent(fm);
        const auto* title = titles_[static_cast<std::size_t>(c)].data();
        const int head = fmBold.horizontalAdvance(title ? title->text() : QString());
        width[static_cast<std::size_t>(c)] = gap + std::max(value, head);
    }
    // The row heads are drawn bold in the channel's colour (a style sheet set
    // with the first figures, after which no resize comes): sized for bold
    // whatever they show now, or the columns after them would be squeezed
    // into each other.
    int rowHead = 0;
    for (const auto& box : rowBox_)
        if (box) {
            const QString t = box->text();
            const int plain = box->fontMetrics().horizontalAdvance(t);
            rowHead = std::max(rowHead, box->sizeHint().width() - plain + std::max(plain, fmBold.horizontalAdvance(t)));
        }
    const QMargins m = strip_->layout() ? strip_->layout()->contentsMargins() : QMargins();
    const int room = strip_->contentsRect().width() - m.left() - m.right() - rowHead;

    std::array<bool, Columns> shown{};
    shown.fill(true);
    int need = 0;
    for (int w : width) need += w;
    for (Column c : kElisionOrder) {
        if (need <= room) break;
        shown[static_cast<std::size_t>(c)] = false;
        need -= width[static_cast<std::size_t>(c)];
    }
    for (int c = 0; c < Columns; ++c) {
        const auto i = static_cast<std::size_t>(c);
        auto place = [&](QLabel* label, bool rowOn) {
            if (!label) return;
            if (label->minimumWidth() != width[i]) label->setMinimumWidth(width[i]);
            if (label->isVisibleTo(strip_) != (shown[i] && rowOn)) label->setVisible(shown[i] && rowOn);
        };
        place(titles_[i].data(), true);
        for (int n = 0; n < kRows; ++n) place(cells_[static_cast<std::size_t>(n)][i].data(), rowShown(n));
    }
    columnShown_ = shown;
}

void ScopeInstrument::setDrive(double ioAmps, Excitation excitation, double stepClockHz)
{
    ioAmps_ = ioAmps;
    excitation_ = excitation;
    stepClockHz_ = stepClockHz > 0 && std::isfinite(stepClockHz) ? stepClockHz : 0.0;
    measurer_.setDrive(ioAmps, excitation);
    analysis_->setElectricalHz(stepClockHz_ > 0 ? analysis::electricalHz(stepClockHz_, excitation) : 0.0);
}

void ScopeInstrument::setMeasurementShown(int n, bool shown)
{
    measure_.at(static_cast<std::size_t>(n)) = shown;
    if (auto* b = rowBox_[static_cast<std::size_t>(n)].data(); b && b->isChecked() != shown) b->setChecked(shown);
    updateStrip();
}

void ScopeInstrument::setLevelsShown(bool shown)
{
    levels_ = shown;
    if (levelsBox_ && levelsBox_->isChecked() != shown) levelsBox_->setChecked(shown);
    if (overlay_) {
        overlay_->setVisible(shown);
        overlay_->update();
    }
}

void ScopeInstrument::setXyMode(bool on)
{
    xyMode_ = on;
    if (on && !xyChosen_) {
        // The two coil currents draw the drive's ring; two voltages would
        // draw an L.
        std::vector<int> currents;
        for (int n = 0; n < kChannels; ++n)
            if (core_.source(n) == Source::Current) currents.push_back(n);
        if (currents.size() >= 2) setXyChannels(currents[0], currents[1]);
    }
    if (xyBox_ && xyBox_->isChecked() != on) xyBox_->setChecked(on);
    if (view_) view_->setVisible(!on);
    if (xy_) {
        xy_->setVisible(on);
        xy_->update();
    }
}

void ScopeInstrument::setXyChannels(int x, int y)
{
    if (xy_) xy_->setChannels(x, y);
    if (xCombo_ && xCombo_->currentIndex() != x) xCombo_->setCurrentIndex(x);
    if (yCombo_ && yCombo_->currentIndex() != y) yCombo_->setCurrentIndex(y);
}

std::vector<double> ScopeInstrument::levelValues() const
{
    std::vector<double> out;
    if (!(ioAmps_ > 0)) return out;
    for (double l : idealStepLevels(excitation_)) {
        out.push_back(l * ioAmps_);
        if (l > 0) out.push_back(-l * ioAmps_);
    }
    return out;
}

void ScopeInstrument::refresh()
{
    // Nothing new to show while no sweep comes in and the view stays (as the
    // chart: ScopeBinder::chartRefresh), so an idle program does no work
    // here. The tick after a sweep counts too: the math channels follow it.
    const std::uint64_t sweeps = core_.sweepsConverted();
    const std::array<double, 3> shownPart{chart_.zoomed() ? 1.0 : 0.0, chart_.xStart(), chart_.xEnd()};
    if (sweeps != refreshedSweeps_ || shownPart != refreshedPart_) quietTicks_ = 0;
    refreshedSweeps_ = sweeps;
    refreshedPart_ = shownPart;
    const bool fresh = quietTicks_ < 2;
    if (fresh) {
        ++quietTicks_;
        updateStrip();
        if (xy_ && xyMode_) xy_->update();
        if (overlay_ && levels_) overlay_->update();
    }
    analysis_->refresh(fresh);
    if (recording_) {
        const RecordStatus st = recorder_.poll();
        if (status_) status_->setText(recordingStatusText());
        if (!st.active) finishRecording(recorder_.stop(), false);
    }
}

bool ScopeInstrument::rowShown(int n) const
{
    if (n < kChannels) return true;
    return analysis_->math().on(n - kChannels);
}

const ScopeChannel* ScopeInstrument::rowChannel(int n) const
{
    if (n < kChannels) return &core_.channel(n);
    return &analysis_->math().channel(n - kChannels);
}

std::string ScopeInstrument::rowUnit(int n) const { return rowChannel(n)->unit; }

void ScopeInstrument::updateStrip()
{
    const auto latest = measurer_.latest();
    const bool zoomed = chart_.zoomed();
    // A math channel turned on or off, or its unit changed: rows and widths.
    bool refit = false;
    for (int n = kChannels; n < kRows; ++n) {
        auto* b = rowBox_[static_cast<std::size_t>(n)].data();
        if (b && b->isVisibleTo(strip_) != rowShown(n)) refit = true;
        if (rowShown(n) && !unitsShown_.contains(QString::fromStdString(rowUnit(n)))) refit = true;
    }
    if (refit && strip_) {
        for (int n = kChannels; n < kRows; ++n)
            if (auto* b = rowBox_[static_cast<std::size_t>(n)].data()) b->setVisible(rowShown(n));
        fitStrip();
    }
    for (int n = 0; n < kRows; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const bool math = n >= kChannels;
        Measurement m;
        const bool on = math ? rowShown(n) : core_.channelOn(n);
        if (measure_[i] && on) {
            if (zoomed) {
                // The visible part only: measured here, from the trace on screen.
                const ScopeChannel& c = *rowChannel(n);
                const MeasureSetup setup = math ? MeasureSetup{} : measurer_.setupFor(core_.source(n));
                std::lock_guard lk(c.traceMutex);
                const TraceWindow w = traceWindow(c.trace, chart_.xStart(), chart_.xEnd());
                m = measure(w.first, w.second, setup);
            } else {
                m = math ? analysis_->math().latest(n - kChannels) : latest.channels[i];
            }
        }
        shown_[i] = m;
        if (!strip_ || !rowShown(n)) continue;
        for (int col = 0; col < Columns; ++col)
            if (auto* cell = cells_[i][static_cast<std::size_t>(col)].data()) {
                const QString t = figureText(n, col);
                if (cell->text() != t) cell->setText(t);
            }
        if (auto* b = rowBox_[i].data()) {
            const QColor colour = QColor::fromRgba(rowChannel(n)->colour);
            const QString style = QStringLiteral("QCheckBox { color: %1; font-weight: bold; }").arg(colour.name());
            if (b->styleSheet() != style) b->setStyleSheet(style);
        }
    }
}

QString ScopeInstrument::figureText(int n, int column) const
{
    const Measurement& m = shown_.at(static_cast<std::size_t>(n));
    if (m.samples == 0) return QStringLiteral("---");
    const std::string unit = rowUnit(n);
    auto fig = [&](double v, const std::string& u) { return QString::fromStdString(formatFigure(v, u)); };
    switch (column) {
    case Min: return fig(m.min, unit);
    case Max: return fig(m.max, unit);
    case PeakToPeak: return fig(m.peakToPeak, unit);
    case Mean: return fig(m.mean, unit);
    case Rms: return fig(m.rms, unit);
    case Frequency: return fig(m.frequencyHz, "Hz");
    case Period: return fig(m.periodUs * 1e-6, "s");
    case Peak: return fig(m.peakCurrent, "A");
    case PeakError: return percent(m.peakErrorPercent, true);
    case StepError: return percent(m.stepErrorPercent, false);
    }
    return {};
}

// ---------------------------------------------------------------- files

void ScopeInstrument::saveData()
{
    if (!hasSweep()) {
        refuseEmptySave();
        return;
    }
    QFileDialog dialog(qobject_cast<QWidget*>(view_.data()), tr("Save Data"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("CSV (*.csv)"), QStringLiteral("JSON (*.json)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    ui::prepareDialog(dialog, ui::filekind::kData, QStringLiteral("csv"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        dialog.setDefaultSuffix(f.startsWith(QStringLiteral("JSON")) ? QStringLiteral("json") : QStringLiteral("csv"));
    });
    dialog.exec();
    const QString path = ui::accepted(dialog, ui::filekind::kData);
    if (!path.isEmpty()) saveDataTo(path);
}

bool ScopeInstrument::hasSweep() const { return measurer_.latest().sweep != 0; }

void ScopeInstrument::refuseEmptySave()
{
    // A file of headers alone would pass for data.
    const QString text = tr("No sweep has been acquired yet, so there is no data to save. Press \"Run\" first.");
    emit note(text);
    if (messages_) messages_->show(text.toStdString(), kAppCaption, MsgIcon::Information);
}

bool ScopeInstrument::saveDataTo(const QString& path)
{
    if (!hasSweep()) {
        refuseEmptySave();
        return false;
    }
    ExportSweep s;
    s.timeBase = core_.timeBaseText();
    s.samplingRate = core_.samplingRateText();
    s.samplePeriodUs = core_.samplePeriodUs();
    s.trigger = core_.triggerOn() ? channelKey(core_.triggerChannel()) + " " + core_.slopeCaption() + " " +
                                        (core_.source(core_.triggerChannel()) == Source::Voltage
                                             ? core_.voltageLevelText() + " V"
                                             : core_.currentLevelText() + " A")
                                  : "off";
    for (int n = 0; n < kChannels; ++n) {
        if (!core_.channelOn(n)) continue;
        const ScopeChannel& c = core_.channel(n);
        ExportChannel e;
        e.key = channelKey(n);
        e.label = c.label;
        e.unit = c.unit;
        e.source = sourceText(core_.source(n));
        e.output = core_.outputText(n);
        e.valuePerDiv = c.valuePerDivText;
        {
            std::lock_guard lk(c.traceMutex);
            e.points.assign(c.trace.begin(), c.trace.end());
        }
        s.channels.push_back(std::move(e));
    }
    // The math channels that are on, after the channels they are made of.
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        auto& math = analysis_->math();
        if (!math.on(m)) continue;
        const ScopeChannel& c = math.channel(m);
        ExportChannel e;
        e.key = math.key(m);
        e.label = c.label;
        e.unit = c.unit;
        e.source = "math";
        e.expression = math.setup(m).expression;
        e.valuePerDiv = c.valuePerDivText;
        {
            std::lock_guard lk(c.traceMutex);
            e.points.assign(c.trace.begin(), c.trace.end());
        }
        if (!e.points.empty()) s.channels.push_back(std::move(e));
    }
    const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    std::string error;
    const bool ok = writeFileAtomically(path.toStdString(), json ? sweepJson(s) : sweepCsv(s), &error);
    if (!ok && messages_)
        messages_->show("The data could not be saved to \"" + path.toStdString() + "\": " + error + ".", kAppCaption,
                        MsgIcon::Warning);
    emit note(ok ? tr("Data saved to %1").arg(path) : tr("Data not saved: %1").arg(QString::fromStdString(error)));
    return ok;
}

void ScopeInstrument::toggleRecording(bool on)
{
    if (on == recording_) return;
    if (!on) {
        stopRecording();
        return;
    }
    QFileDialog dialog(qobject_cast<QWidget*>(view_.data()), tr("Record"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(tr("Oscilloscope recording (*.zrec)"));
    dialog.setDefaultSuffix(QStringLiteral("zrec"));
    ui::prepareDialog(dialog, ui::filekind::kRecording, QStringLiteral("zrec"));
    dialog.exec();
    const QString chosen = ui::accepted(dialog, ui::filekind::kRecording);
    if (chosen.isEmpty() || !startRecordingTo(chosen, minutes_ ? minutes_->value() * 60.0 : 0,
                                     megabytes_ ? std::uint64_t(megabytes_->value()) * 1024 * 1024 : 0)) {
        if (record_) {
            const QSignalBlocker b(record_);
            record_->setChecked(false);
        }
    }
}

bool ScopeInstrument::startRecordingTo(const QString& path, double maxSeconds, std::uint64_t maxBytes)
{
    if (recording_) return false;
    recording::HeaderInfo h =
        recordingHeader(core_, QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString());
    // The math channels go into the header as expressions (see recording_format.h).
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        auto& math = analysis_->math();
        if (math.on(m))
            h.math.push_back({math.key(m), math.channel(m).label, math.channel(m).unit, math.setup(m).expression});
    }
    std::string error;
    auto sink = h.mask ? openFileSink(path.toStdString(), &error) : nullptr;
    if (!h.mask) error = "no channel is shown";
    if (!sink || !recorder_.start(std::move(sink), h, RecordLimits{maxSeconds, maxBytes}, &error)) {
        if (messages_)
            messages_->show("The recording could not be started in \"" + path.toStdString() + "\": " + error + ".",
                            kAppCaption, MsgIcon::Warning);
        return false;
    }
    recording_ = true;
    recordPath_ = path;
    if (record_) {
        const QSignalBlocker b(record_);
        record_->setChecked(true);
        record_->setText(tr("Stop Rec"));
    }
    if (status_) status_->setText(recordingStatusText());
    return true;
}

void ScopeInstrument::stopRecording()
{
    if (!recording_) return;
    finishRecording(recorder_.stop(), true);
}

void ScopeInstrument::finishRecording(const RecordStatus& st, bool byUser)
{
    recording_ = false;
    if (record_) {
        const QSignalBlocker b(record_);
        record_->setChecked(false);
        record_->setText(tr("Record"));
    }
    const QString summary = tr("%1 sweeps, %2 in %3").arg(st.sweeps).arg(sizeText(st.bytesWritten)).arg(recordPath_);
    if (status_) status_->setText(tr("Recorded %1").arg(summary));
    const std::string why = SweepRecorder::stopMessage(st.reason);
    const QString message = QString::fromStdString(why) + QStringLiteral(" ") + summary + QStringLiteral(".");
    emit recordingFinished(message);
    // A stop the user asked for needs no message box; anything else does.
    if (!(byUser && st.reason == RecordStop::User) && messages_)
        messages_->show(message.toStdString(), kAppCaption,
                        st.reason == RecordStop::Duration || st.reason == RecordStop::Size ? MsgIcon::Information
                                                                                          : MsgIcon::Warning);
}

QString ScopeInstrument::recordingStatusText() const
{
    if (!recording_) return {};
    const RecordStatus st = recorder_.status();
    const int secs = static_cast<int>(st.elapsedSeconds);
    return tr("REC %1:%2:%3  %4 sweeps  %5")
        .arg(secs / 3600)
        .arg(secs / 60 % 60, 2, 10, QChar('0'))
        .arg(secs % 60, 2, 10, QChar('0'))
        .arg(st.sweeps)
        .arg(sizeText(st.bytesWritten));
}

QAbstractButton* ScopeInstrument::recordButton() const
{
    return record_.data();
}

QAbstractButton* ScopeInstrument::saveDataButton() const
{
    return saveData_.data();
}

} // namespace zelbo::scope
