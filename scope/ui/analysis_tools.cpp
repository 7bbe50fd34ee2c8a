#include "scope/ui/analysis_tools.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "common/number_text.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"

namespace zelbo::scope {

namespace {

constexpr double kFloorDb = -100.0; // bottom of the dB scale, re 1 unit

QString figure(double v, const std::string& unit)
{
    return QString::fromStdString(formatFigure(v, unit));
}

} // namespace

// ---------------------------------------------------------------- SpectrumView

SpectrumView::SpectrumView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("spectrumView"));
    setMinimumSize(240, 120);
}

void SpectrumView::setSpectrum(const analysis::Spectrum& spectrum, const QString& unit,
                               const analysis::Harmonics& harmonics)
{
    spectrum_ = spectrum;
    unit_ = unit;
    harmonics_ = harmonics;
    update();
}

void SpectrumView::setDb(bool db)
{
    db_ = db;
    update();
}

void SpectrumView::setCursor(std::optional<double> hz)
{
    cursorHz_ = hz;
    update();
}

QRect SpectrumView::plotRect() const
{
    return rect().adjusted(48, 8, -10, -22);
}

QString SpectrumView::cursorText() const
{
    if (!cursorHz_ || spectrum_.amplitude.empty() || !(spectrum_.binHz > 0)) return {};
    const auto bin = static_cast<std::size_t>(
        std::clamp(std::lround(*cursorHz_ / spectrum_.binHz), 0L, long(spectrum_.amplitude.size()) - 1));
    const double a = spectrum_.amplitude[bin];
    const std::string unit = unit_.toStdString();
    return QStringLiteral("f = ") + figure(spectrum_.frequencyOf(bin), "Hz") + QStringLiteral(": ") + figure(a, unit) +
           QStringLiteral(" (") + QString::fromStdString(formatFixed(analysis::toDb(a), 1)) + QStringLiteral(" dB)");
}

double SpectrumView::yOf(double amplitude, double top) const
{
    const QRect r = plotRect();
    double frac;
    if (db_) frac = (std::max(analysis::toDb(amplitude), kFloorDb) - kFloorDb) / (analysis::toDb(top) - kFloorDb);
    else frac = top > 0 ? amplitude / top : 0.0;
    return r.bottom() - std::clamp(frac, 0.0, 1.0) * r.height();
}

void SpectrumView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0xF0, 0xF8, 0xFF));
    const QRect r = plotRect();
    p.fillRect(r, Qt::white);
    p.setPen(QColor(0x69, 0x69, 0x69));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    QFont f = font();
    f.setPixelSize(11);
    p.setFont(f);
    if (spectrum_.amplitude.size() < 2) {
        p.drawText(r, Qt::AlignCenter, tr("No sweep"));
        return;
    }
    const double fMax = spectrum_.frequencyOf(spectrum_.amplitude.size() - 1);
    // Top of the scale: the largest bin rounded up to a decade (dB: to 20 dB).
    double peak = 0;
    for (std::size_t k = 1; k < spectrum_.amplitude.size(); ++k) peak = std::max(peak, spectrum_.amplitude[k]);
    peak = std::max(peak, 1e-6);
    const double top = db_ ? std::pow(10.0, std::ceil(analysis::toDb(peak) / 20.0)) : peak * 1.1;
    // Grid: ten frequency divisions, dB every 20 or linear quarters.
    p.setPen(QColor(0xD0, 0xD0, 0xD0));
    for (int i = 1; i < 10; ++i) {
        const int x = r.left() + r.width() * i / 10;
        p.drawLine(x, r.top(), x, r.bottom());
    }
    const int rows = db_ ? int(std::lround((analysis::toDb(top) - kFloorDb) / 20.0)) : 4;
    for (int i = 1; i < rows; ++i) {
        const int y = r.top() + r.height() * i / rows;
        p.drawLine(r.left(), y, r.right(), y);
    }
    p.setPen(QColor(0x19, 0x19, 0x70));
    const std::string unit = unit_.toStdString();
    for (int i = 0; i <= rows; i += std::max(1, rows / 4)) {
        const int y = r.top() + r.height() * i / rows;
        const QString t = db_ ? QString::number(std::lround(analysis::toDb(top) - 20.0 * i))
                              : figure(top * (1.0 - double(i) / rows), unit);
        p.drawText(QRect(0, y - 8, r.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter, t);
    }
    for (int i = 0; i <= 10; i += 2) {
        const int x = r.left() + r.width() * i / 10;
        p.drawText(QRect(x - 40, r.bottom() + 3, 80, 16), Qt::AlignCenter, figure(fMax * i / 10.0, "Hz"));
    }
    p.drawText(QRect(2, r.top(), r.left(), 14), Qt::AlignLeft,
               db_ ? QStringLiteral("dB%1").arg(unit_) : unit_);
    // The spectrum: one vertical span per pixel column (its largest bin).
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0x1E, 0x5A, 0xC8));
    const double perPixel = double(spectrum_.amplitude.size()) / r.width();
    QPolygonF line;
    for (int x = 0; x < r.width(); ++x) {
        const auto from = static_cast<std::size_t>(x * perPixel);
        const auto to = std::min(spectrum_.amplitude.size(), static_cast<std::size_t>((x + 1) * perPixel) + 1);
        double a = 0;
        for (std::size_t k = from; k < to; ++k) a = std::max(a, spectrum_.amplitude[k]);
        line << QPointF(r.left() + x, yOf(a, top));
    }
    p.drawPolyline(line);
    // The harmonics counted: small markers with their number.
    if (harmonics_.valid) {
        p.setPen(QColor(0xC8, 0x32, 0x1E));
        for (std::size_t h = 0; h < harmonics_.amplitude.size() && h < 40; ++h) {
            const double hz = harmonics_.fundamentalHz * double(h + 1);
            const double x = r.left() + hz / fMax * r.width();
            const double y = yOf(harmonics_.amplitude[h], top);
            p.drawLine(QPointF(x - 3, y - 3), QPointF(x + 3, y + 3));
            p.drawLine(QPointF(x - 3, y + 3), QPointF(x + 3, y - 3));
            if (h == 0 || (h + 1) % 2 == 1) p.drawText(QPointF(x + 3, y - 4), QString::number(h + 1));
        }
    }
    if (cursorHz_) {
        const double x = r.left() + *cursorHz_ / fMax * r.width();
        p.setPen(QPen(QColor(0xFF, 0, 0), 1));
        p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        const QString t = cursorText();
        const int w = p.fontMetrics().horizontalAdvance(t) + 8;
        QRect box(int(x) + 4, r.top() + 4, w, 16);
        if (box.right() > r.right()) box.moveRight(int(x) - 4);
        p.fillRect(box, QColor(255, 255, 255, 220));
        p.drawText(box, Qt::AlignCenter, t);
    }
}

void SpectrumView::mousePressEvent(QMouseEvent* e)
{
    const QRect r = plotRect();
    if (e->button() == Qt::RightButton) {
        setCursor(std::nullopt);
        return;
    }
    if (spectrum_.amplitude.size() < 2 || !r.contains(e->position().toPoint())) return;
    const double fMax = spectrum_.frequencyOf(spectrum_.amplitude.size() - 1);
    setCursor((e->position().x() - r.left()) / r.width() * fMax);
}

// ---------------------------------------------------------------- SpectrumPanel

SpectrumPanel::SpectrumPanel(std::function<const ScopeChannel*(int)> channel, QWidget* parent)
    : QWidget(parent), channel_(std::move(channel))
{
    setObjectName(QStringLiteral("spectrumPanel"));
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    channelCombo_ = new QComboBox(this);
    channelCombo_->setObjectName(QStringLiteral("spectrumChannel"));
    for (int n = 0; n < kChannels; ++n) channelCombo_->addItem(QString::fromStdString(channelKey(n)));
    for (int m = 0; m < analysis::kMathChannels; ++m) channelCombo_->addItem(QString::fromStdString(analysis::mathKey(m)));
    channelCombo_->setCurrentIndex(2);
    windowCombo_ = new QComboBox(this);
    windowCombo_->setObjectName(QStringLiteral("spectrumWindow"));
    for (auto w : {analysis::Window::Hann, analysis::Window::FlatTop, analysis::Window::Rectangular})
        windowCombo_->addItem(QString::fromStdString(analysis::windowName(w)), int(w));
    dbBox_ = new QCheckBox(tr("dB"), this);
    dbBox_->setObjectName(QStringLiteral("spectrumDb"));
    dbBox_->setChecked(true);
    top->addWidget(new QLabel(tr("Channel"), this));
    top->addWidget(channelCombo_);
    top->addWidget(new QLabel(tr("Window"), this));
    top->addWidget(windowCombo_);
    top->addWidget(dbBox_);
    top->addStretch(1);
    view_ = new SpectrumView(this);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("spectrumSummary"));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setMinimumWidth(150);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* body = new QHBoxLayout;
    body->addWidget(view_, 1);
    body->addWidget(summary_);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(4, 2, 4, 2);
    v->addLayout(top);
    v->addLayout(body, 1);
    connect(dbBox_, &QCheckBox::toggled, view_, &SpectrumView::setDb);
    connect(channelCombo_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(windowCombo_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
}

void SpectrumPanel::setChannel(int index)
{
    channelCombo_->setCurrentIndex(index);
}

void SpectrumPanel::setWindow(analysis::Window w)
{
    windowCombo_->setCurrentIndex(windowCombo_->findData(int(w)));
}

void SpectrumPanel::refresh()
{
    const int index = channelCombo_->currentIndex();
    const ScopeChannel* ch = channel_ ? channel_(index) : nullptr;
    values_.clear();
    double periodS = 0.0;
    QString unit;
    if (ch) {
        std::lock_guard lock(ch->traceMutex);
        values_.reserve(ch->trace.size());
        for (const auto& pt : ch->trace) values_.push_back(pt.second);
        if (ch->trace.size() > 1)
            periodS = (ch->trace.back().first - ch->trace.front().first) / double(ch->trace.size() - 1) * 1e-6;
        unit = QString::fromStdString(ch->unit);
    }
    const auto w = static_cast<analysis::Window>(windowCombo_->currentData().toInt());
    analyser_.compute(values_, periodS, w, spectrum_);
    // The electrical frequency applies to the coil currents only.
    const bool current = coil_ ? coil_(index) : index < kChannels && unit == QLatin1String("A");
    usedHz_ = current ? expectedHz_ : 0.0;
    harmonics_ = analysis::analyseHarmonics(spectrum_, usedHz_);
    view_->setSpectrum(spectrum_, unit, harmonics_);
    summary_->setText(summaryText());
}

QString SpectrumPanel::summaryText() const
{
    if (spectrum_.amplitude.empty()) return tr("No sweep on this channel.");
    if (!harmonics_.valid) return QString::fromStdString(harmonics_.reason);
    QString t = tr("Fundamental %1\n").arg(figure(harmonics_.fundamentalHz, "Hz"));
    if (usedHz_ > 0) t += tr("electrical frequency %1\n").arg(figure(usedHz_, "Hz"));
    t += tr("THD %1 % (%2 dB)\n")
             .arg(QString::fromStdString(formatFixed(harmonics_.thdPercent(), 2)),
                  QString::fromStdString(formatFixed(harmonics_.thdDb(), 1)));
    t += tr("over %1 harmonics\n").arg(harmonics_.harmonicsCounted());
    // The strongest few harmonics, in dBc.
    std::vector<int> order;
    for (int h = 2; h <= harmonics_.harmonicsCounted() + 1; ++h) order.push_back(h);
    std::sort(order.begin(), order.end(), [this](int a, int b) { return harmonics_.levelDbc(a) > harmonics_.levelDbc(b); });
    order.resize(std::min<std::size_t>(order.size(), 5));
    std::sort(order.begin(), order.end());
    for (int h : order)
        t += QStringLiteral("H%1  %2 dBc\n").arg(h).arg(QString::fromStdString(formatFixed(harmonics_.levelDbc(h), 1)));
    return t.trimmed();
}

// ---------------------------------------------------------------- MathDialog

MathDialog::MathDialog(analysis::MathChannelSet& set, std::function<std::array<Source, kChannels>()> sources,
                       QWidget* parent)
    : QDialog(parent), set_(set), sources_(std::move(sources))
{
    setObjectName(QStringLiteral("mathDialog"));
    setWindowTitle(tr("Math Channels"));
    auto* grid = new QGridLayout;
    const QStringList heads = {QString(), tr("Expression"), tr("Unit"), tr("Value/div"), tr("Position"), tr("Label")};
    for (int c = 0; c < heads.size(); ++c) grid->addWidget(new QLabel(heads[c], this), 0, c);
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        Row& r = rows_[static_cast<std::size_t>(m)];
        r.on = new QCheckBox(QString::fromStdString(analysis::mathKey(m)), this);
        r.expression = new QLineEdit(this);
        r.expression->setMinimumWidth(220);
        r.expression->setMaxLength(int(analysis::kMaxExpressionLength));
        r.expression->setPlaceholderText(m == 0 ? QStringLiteral("CH1 * CH3") : QStringLiteral("CH2 / 0.2 ohm"));
        r.unit = new QLabel(this);
        r.unit->setMinimumWidth(40);
        r.perDiv = new QLineEdit(QStringLiteral("1"), this);
        r.perDiv->setMaximumWidth(70);
        r.position = new QSpinBox(this);
        r.position->setRange(-10, 10);
        r.label = new QLineEdit(this);
        r.label->setMaxLength(7);
        r.label->setMaximumWidth(70);
        grid->addWidget(r.on, m + 1, 0);
        grid->addWidget(r.expression, m + 1, 1);
        grid->addWidget(r.unit, m + 1, 2);
        grid->addWidget(r.perDiv, m + 1, 3);
        grid->addWidget(r.position, m + 1, 4);
        grid->addWidget(r.label, m + 1, 5);
        connect(r.expression, &QLineEdit::textChanged, this, [this, m] { updateUnit(m); });
    }
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("mathMessage"));
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: #B00000"));
    auto* help = new QLabel(tr("CH1..CH4, numbers with units (V, A, W, ohm; m, k prefixes), + - * / and brackets.\n"
                               "V x A gives W, V / ohm gives A; a plain number scales or offsets."),
                            this);
    help->setStyleSheet(QStringLiteral("color: #505050"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (apply()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { apply(); });
    auto* v = new QVBoxLayout(this);
    v->addLayout(grid);
    v->addWidget(help);
    v->addWidget(message_);
    v->addWidget(buttons);
    load();
}

void MathDialog::load()
{
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        const auto& s = set_.setup(m);
        Row& r = rows_[static_cast<std::size_t>(m)];
        r.on->setChecked(s.on);
        r.expression->setText(QString::fromStdString(s.expression));
        r.perDiv->setText(QString::number(s.valuePerDiv, 'g', 6));
        r.position->setValue(s.position);
        r.label->setText(QString::fromStdString(s.label));
        updateUnit(m);
    }
    message_->clear();
}

void MathDialog::updateUnit(int m)
{
    Row& r = rows_[static_cast<std::size_t>(m)];
    std::array<analysis::Unit, kChannels> units{};
    const auto src = sources_ ? sources_() : std::array<Source, kChannels>{};
    for (std::size_t k = 0; k < units.size(); ++k) units[k] = analysis::unitOf(src[k]);
    const auto e = analysis::MathExpression::parse(r.expression->text().toStdString(), units);
    r.unit->setText(e ? QString::fromStdString(e->unit().text().empty() ? "(none)" : e->unit().text())
                      : QStringLiteral("?"));
}

bool MathDialog::apply()
{
    QStringList problems;
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        Row& r = rows_[static_cast<std::size_t>(m)];
        analysis::MathChannelSetup s;
        s.on = r.on->isChecked();
        s.expression = r.expression->text().toStdString();
        const auto perDiv = readNumber(r.perDiv->text().toStdString(), true);
        if (!perDiv || !(*perDiv > 0) || !std::isfinite(*perDiv)) {
            problems << tr("%1: value/div must be a number above 0.").arg(QString::fromStdString(analysis::mathKey(m)));
            continue;
        }
        s.valuePerDiv = *perDiv;
        s.position = r.position->value();
        s.label = r.label->text().toStdString();
        std::string error;
        if (!set_.apply(m, s, sources_ ? sources_() : std::array<Source, kChannels>{}, &error))
            problems << QString::fromStdString(analysis::mathKey(m) + ": " + error);
    }
    message_->setText(problems.join(QLatin1Char('\n')));
    emit applied();
    return problems.isEmpty();
}

// ---------------------------------------------------------------- LevelCursorDialog

LevelCursorDialog::LevelCursorDialog(CLineChart& chart, std::function<std::vector<std::string>()> keys, QWidget* parent)
    : QDialog(parent), chart_(chart), keys_(std::move(keys))
{
    setObjectName(QStringLiteral("levelCursorDialog"));
    setWindowTitle(tr("Amplitude Cursors"));
    channel_ = new QComboBox(this);
    on_ = new QCheckBox(tr("Show"), this);
    a_ = new QDoubleSpinBox(this);
    b_ = new QDoubleSpinBox(this);
    for (auto* s : {a_.data(), b_.data()}) {
        s->setRange(-1e6, 1e6);
        s->setDecimals(3);
        s->setSingleStep(0.1);
    }
    delta_ = new QLabel(this);
    delta_->setObjectName(QStringLiteral("levelDelta"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Channel"), this), 0, 0);
    grid->addWidget(channel_, 0, 1);
    grid->addWidget(on_, 0, 2);
    grid->addWidget(new QLabel(tr("Level a"), this), 1, 0);
    grid->addWidget(a_, 1, 1);
    grid->addWidget(new QLabel(tr("Level b"), this), 2, 0);
    grid->addWidget(b_, 2, 1);
    grid->addWidget(delta_, 3, 0, 1, 3);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::hide);
    grid->addWidget(close, 4, 0, 1, 3);
    reload();
    connect(channel_, &QComboBox::currentIndexChanged, this, [this] {
        const LevelCursors c = chart_.levelCursors(channel_->currentText().toStdString());
        const QSignalBlocker b1(on_), b2(a_), b3(b_);
        on_->setChecked(c.on);
        if (c.on) {
            a_->setValue(c.a);
            b_->setValue(c.b);
        }
        delta_->setText(deltaText());
    });
    connect(on_, &QCheckBox::toggled, this, [this] { push(); });
    connect(a_, &QDoubleSpinBox::valueChanged, this, [this] { push(); });
    connect(b_, &QDoubleSpinBox::valueChanged, this, [this] { push(); });
}

void LevelCursorDialog::reload()
{
    const QString was = channel_->currentText();
    const QSignalBlocker block(channel_);
    channel_->clear();
    for (const auto& k : keys_ ? keys_() : std::vector<std::string>{}) channel_->addItem(QString::fromStdString(k));
    const int at = channel_->findText(was);
    channel_->setCurrentIndex(at >= 0 ? at : 0);
}

void LevelCursorDialog::setLevels(const std::string& key, bool on, double a, double b)
{
    const int at = channel_->findText(QString::fromStdString(key));
    if (at < 0) return;
    channel_->setCurrentIndex(at);
    const QSignalBlocker b1(on_), b2(a_), b3(b_);
    on_->setChecked(on);
    a_->setValue(a);
    b_->setValue(b);
    push();
}

QString LevelCursorDialog::deltaText() const
{
    return chart_.levelDeltaText(channel_->currentText().toStdString());
}

void LevelCursorDialog::push()
{
    chart_.setLevelCursors(channel_->currentText().toStdString(), {on_->isChecked(), a_->value(), b_->value()});
    delta_->setText(deltaText());
    emit changed();
}

// ---------------------------------------------------------------- AnalysisTools

AnalysisTools::AnalysisTools(ScopeCore& core, CLineChart& chart, QObject* parent)
    : QObject(parent), core_(core), chart_(chart)
{
}

AnalysisTools::~AnalysisTools()
{
    for (int m = 0; m < analysis::kMathChannels; ++m) chart_.removeTrace(math_.key(m));
}

std::array<Source, kChannels> AnalysisTools::sources() const
{
    std::array<Source, kChannels> s{};
    for (int k = 0; k < kChannels; ++k) s[static_cast<std::size_t>(k)] = core_.source(k);
    return s;
}

void AnalysisTools::install(QWidget* view, QHBoxLayout* toolRow)
{
    view_ = view;
    QWidget* parent = toolRow ? toolRow->parentWidget() : view;
    if (toolRow) {
        // One narrow button with a menu, so the tool row still fits 1366 pixels.
        auto* button = new QToolButton(parent);
        button->setObjectName(QStringLiteral("analysisButton"));
        button->setText(tr("Analysis"));
        button->setPopupMode(QToolButton::InstantPopup);
        button->setToolTip(tr("Spectrum, math channels and amplitude cursors"));
        auto* menu = new QMenu(button);
        spectrumAction_ = menu->addAction(tr("Spectrum"));
        spectrumAction_->setObjectName(QStringLiteral("spectrumAction"));
        spectrumAction_->setCheckable(true);
        connect(spectrumAction_, &QAction::toggled, this, [this](bool on) { setSpectrumShown(on); });
        QAction* math = menu->addAction(tr("Math Channels..."));
        connect(math, &QAction::triggered, this, [this] {
            mathDialog()->load();
            mathDialog()->show();
            mathDialog()->raise();
        });
        QAction* cursors = menu->addAction(tr("Amplitude Cursors..."));
        connect(cursors, &QAction::triggered, this, [this] {
            cursorDialog()->reload();
            cursorDialog()->show();
            cursorDialog()->raise();
        });
        button->setMenu(menu);
        toolRow->addWidget(button);
    }
    auto* main = view ? qobject_cast<QMainWindow*>(view->window()) : nullptr;
    // The math channels' figures go to the status bar, beside the recording's.
    figures_ = new QLabel(main ? static_cast<QWidget*>(main->statusBar()) : parent);
    figures_->setObjectName(QStringLiteral("mathFigures"));
    figures_->hide();
    if (main) main->statusBar()->addWidget(figures_);

    panel_ = new SpectrumPanel([this](int i) -> const ScopeChannel* {
        if (i < kChannels) return &core_.channel(i);
        const int m = i - kChannels;
        return math_.on(m) ? &math_.channel(m) : nullptr;
    });
    panel_->setCoilCurrent([this](int i) { return i < kChannels && core_.source(i) == Source::Current; });
    panel_->setExpectedHz(electricalHz_);
    dock_ = new QDockWidget(tr("Spectrum"));
    dock_->setObjectName(QStringLiteral("spectrumDock"));
    dock_->setWidget(panel_);
    // Floating over the window at first (a screen of 768 lines has no room
    // below the chart); it docks at the bottom or right when dragged there.
    if (main) {
        dock_->setParent(main);
        main->addDockWidget(Qt::BottomDockWidgetArea, dock_);
    } else {
        dock_->setParent(view ? view->window() : nullptr);
    }
    dock_->setFloating(true);
    dock_->hide();
    connect(dock_, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (spectrumAction_ && dock_ && !dock_->isHidden() != spectrumAction_->isChecked()) {
            const QSignalBlocker b(spectrumAction_);
            spectrumAction_->setChecked(!dock_->isHidden());
        }
        if (shown && panel_) panel_->refresh();
    });
}

MathDialog* AnalysisTools::mathDialog()
{
    if (!mathDialog_) {
        mathDialog_ = new MathDialog(math_, [this] { return sources(); }, view_ ? view_->window() : nullptr);
        connect(mathDialog_, &MathDialog::applied, this, [this] { syncTraces(); });
    }
    return mathDialog_;
}

LevelCursorDialog* AnalysisTools::cursorDialog()
{
    if (!cursorDialog_) {
        cursorDialog_ = new LevelCursorDialog(
            chart_,
            [this] {
                std::vector<std::string> keys;
                for (const auto& [k, ch] : chart_.traces()) keys.push_back(k);
                return keys;
            },
            view_ ? view_->window() : nullptr);
        connect(cursorDialog_, &LevelCursorDialog::changed, this, [this] {
            if (view_) view_->update();
        });
    }
    return cursorDialog_;
}

void AnalysisTools::applySetups(const analysis::MathSetups& setups)
{
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        std::string error;
        if (!math_.apply(m, setups[static_cast<std::size_t>(m)], sources(), &error)) {
            // Kept as text, off, so the user sees and mends it in the dialog.
            auto off = setups[static_cast<std::size_t>(m)];
            off.on = false;
            off.expression.clear();
            math_.apply(m, off, sources());
        }
    }
    syncTraces();
    if (mathDialog_) mathDialog_->load();
}

void AnalysisTools::syncTraces()
{
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        const std::string key = math_.key(m);
        if (math_.on(m) && !chart_.hasTrace(key)) chart_.addTrace(key, &math_.channel(m));
        else if (!math_.on(m) && chart_.hasTrace(key)) chart_.removeTrace(key);
    }
    chart_.traceSetChanged();
    if (cursorDialog_) cursorDialog_->reload();
    if (view_) view_->update();
    emit mathChanged();
}

void AnalysisTools::setSpectrumShown(bool shown)
{
    if (!dock_) return;
    if (shown && dock_->isFloating() && !placed_) {
        // First time: over the lower part of the chart, 60 % of the window wide.
        placed_ = true;
        const QRect w = view_ ? view_->window()->geometry() : QRect(0, 0, 1024, 768);
        const QSize size(std::max(560, w.width() * 6 / 10), std::max(260, w.height() * 4 / 10));
        dock_->setGeometry(QRect(QPoint(w.left() + (w.width() - size.width()) / 2, w.bottom() - size.height() - 60), size));
    }
    dock_->setVisible(shown);
    if (spectrumAction_ && spectrumAction_->isChecked() != shown) spectrumAction_->setChecked(shown);
}

void AnalysisTools::setElectricalHz(double hz)
{
    electricalHz_ = hz;
    if (panel_) panel_->setExpectedHz(hz);
}

void AnalysisTools::refresh(bool fresh)
{
    // The panel's own choices redraw it at once; a new expected frequency
    // (the clock or the mode changed) shows with the next refresh.
    const bool newHz = panel_ && panel_->expectedHz() != shownHz_;
    if (dock_ && dock_->isVisible() && panel_ && (fresh || newHz)) {
        panel_->refresh();
        shownHz_ = panel_->expectedHz();
    }
    if (!fresh) return;
    if (cursorDialog_ && cursorDialog_->isVisible()) cursorDialog_->reload();
    if (!figures_) return;
    QStringList parts;
    for (int m = 0; m < analysis::kMathChannels; ++m) {
        if (!math_.on(m)) continue;
        const Measurement f = math_.latest(m);
        const std::string unit = math_.channel(m).unit;
        parts << QStringLiteral("%1: mean %2, rms %3, max %4")
                     .arg(QString::fromStdString(math_.key(m)), figure(f.mean, unit), figure(f.rms, unit),
                          figure(f.max, unit));
    }
    figures_->setText(parts.join(QStringLiteral("   ")));
    figures_->setVisible(!parts.isEmpty());
}

} // namespace zelbo::scope
