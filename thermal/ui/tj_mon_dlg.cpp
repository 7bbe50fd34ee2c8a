#include "thermal/ui/tj_mon_dlg.h"
#include "common/log.h"

#include <QCloseEvent>

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdio>

#include "common/message_service.h"
#include "thermal/step_list.h"
#include "thermal/ui/tj_fin_dlg.h"
#include "thermal/workbook.h"
#include "common/number_text.h"
#include "widgets/file_places.h"
#include "widgets/grid_ctrl.h"

using namespace zelbo;
using namespace zelbo::thermal;

namespace {

// "1 / 10" .. "1 / 1" for positions 0..9.
class DivideSpin : public QSpinBox {
public:
    explicit DivideSpin(QWidget* parent) : QSpinBox(parent) { setRange(0, kDivideSteps - 1); }

protected:
    QString textFromValue(int value) const override { return QString::fromStdString(divideText(value)); }
    int valueFromText(const QString& text) const override
    {
        const int slash = text.indexOf('/');
        const int d = text.mid(slash + 1).trimmed().toInt();
        return d >= 1 && d <= kDivideSteps ? kDivideSteps - d : value();
    }
    QValidator::State validate(QString& text, int&) const override
    {
        return text.contains('/') ? QValidator::Acceptable : QValidator::Intermediate;
    }
};

QString defaultChooser(QWidget* parent, bool save, const QString& title, const QString& filter,
                       const QString& suggested)
{
    // `suggested` is the proposed path of a save, the folder of an open.
    if (save) return QFileDialog::getSaveFileName(parent, title, suggested, filter);
    return QFileDialog::getOpenFileName(parent, title, suggested, filter);
}

const QString kStepListFilter = QStringLiteral("CSV File (*.csv)");

} // namespace

CTJMonDlg::CTJMonDlg(MessageService& messages, TemperatureLog& log, std::function<std::string()> chipName,
                     QWidget* parent)
    : CSingletonDlg(messages, parent), log_(log), chipName_(std::move(chipName))
{
    setObjectName(QStringLiteral("CTJMonDlg"));
    setWindowTitle(tr("Temperature Monitor"));
    setModal(false);
    chooser_ = [this](bool save, const QString& title, const QString& filter, const QString& suggested) {
        return defaultChooser(this, save, title, filter, suggested);
    };

    grid_ = new CGridCtrl(this);
    grid_->setObjectName(QStringLiteral("stepGrid"));
    const QStringList levels{QStringLiteral("HI"), QStringLiteral("LO")};
    // VREF and MTH go into the main window's fields: the same number entry;
    // a pin cell is HI or LO. Anything else is refused and said.
    const auto number = [](const QString& t) {
        return t.trimmed().isEmpty() || zelbo::readNumber(t.toStdString(), true).has_value();
    };
    const auto level = [](const QString& t) {
        const QString u = t.trimmed().toUpper();
        return u.isEmpty() || u == QLatin1String("HI") || u == QLatin1String("LO");
    };
    std::vector<CGridCtrl::Column> columns(5);
    columns[0].header = tr("VREF [V]");
    columns[1].header = tr("MTH [V]");
    columns[2].header = QStringLiteral("PS");
    columns[3].header = QStringLiteral("MODE0");
    columns[4].header = QStringLiteral("MODE1");
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const bool pin = c >= 2;
        columns[c].kind = pin ? CGridCtrl::Choice : CGridCtrl::Number;
        if (pin) columns[c].choices = levels;
        columns[c].accepts = pin ? std::function<bool(const QString&)>(level) : number;
    }
    grid_->setColumns(std::move(columns));
    connect(grid_, &CGridCtrl::cellEdited, this, [this] { note_->clear(); });
    connect(grid_, &CGridCtrl::cellRefused, this, [this](int row, int column, const QString& text) {
        note_->setText(tr("Row %1, %2: \"%3\" was not taken; the cell keeps \"%4\".")
                           .arg(row + 1)
                           .arg(grid_->horizontalHeaderItem(column) ? grid_->horizontalHeaderItem(column)->text()
                                                                    : QString(),
                                text.left(40), grid_->cellText(row, column)));
    });
    grid_->setRowCount(static_cast<int>(kMaxSteps));

    time_ = new QLineEdit(QStringLiteral("1"), this);
    time_->setObjectName(QStringLiteral("timeEdit"));
    rnf_ = new QLineEdit(QStringLiteral("0.20"), this);
    rnf_->setObjectName(QStringLiteral("rnfEdit"));
    divide_ = new DivideSpin(this);
    divide_->setObjectName(QStringLiteral("divideSpin"));
    divide_->setValue(5); // 1 / 5, the driver's usual ratio
    start_ = new QPushButton(tr("Start"), this);
    start_->setObjectName(QStringLiteral("startButton"));
    start_->setCheckable(true);
    start_->setAutoDefault(false);
    saveChart_ = new QPushButton(tr("Save Chart"), this);
    saveChart_->setObjectName(QStringLiteral("saveChartButton"));
    saveChart_->setAutoDefault(false);
    elapsed_ = new QLabel(QStringLiteral("00:00:00"), this);
    elapsed_->setObjectName(QStringLiteral("elapsedLabel"));
    elapsed_->hide();
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("stepNote"));

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(tr("Time (min)"), this), 0, 0);
    fields->addWidget(time_, 0, 1);
    fields->addWidget(new QLabel(tr("RNF Resistor"), this), 1, 0);
    fields->addWidget(rnf_, 1, 1);
    fields->addWidget(new QLabel(QStringLiteral("\u03a9"), this), 1, 2);
    fields->addWidget(new QLabel(tr("VREF Divide"), this), 2, 0);
    fields->addWidget(divide_, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(saveChart_);
    buttons->addStretch(1);
    buttons->addWidget(elapsed_);
    auto* v = new QVBoxLayout(this);
    buildMenu();
    v->addWidget(grid_, 1);
    v->addLayout(fields);
    v->addLayout(buttons);
    v->addWidget(note_);
    resize(520, 520);

    connect(rnf_, &QLineEdit::editingFinished, this, &CTJMonDlg::rnfEdited);
    connect(start_, &QPushButton::clicked, this, &CTJMonDlg::startClicked);
    connect(saveChart_, &QPushButton::clicked, this, &CTJMonDlg::exportLog);
    connect(&elapsedTimer_, &QTimer::timeout, this, &CTJMonDlg::showElapsed);

    timer_ = std::make_unique<StepTimer>([this] {
        QMetaObject::invokeMethod(this, [this] { stepDue(); }, Qt::QueuedConnection);
    });
}

CTJMonDlg::~CTJMonDlg()
{
    timer_.reset(); // no expiry after this
}

void CTJMonDlg::buildMenu()
{
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(tr("&File"));
    menuActions_ << file->addAction(tr("&New"), this, &CTJMonDlg::newList);
    menuActions_ << file->addAction(tr("&Open..."), this, &CTJMonDlg::openList);
    menuActions_ << file->addAction(tr("&Save..."), this, &CTJMonDlg::saveList);
    layout()->setMenuBar(bar);
}

std::vector<StepRow> CTJMonDlg::rows() const
{
    std::vector<StepRow> out;
    for (int r = 0; r < grid_->rowCount(); ++r) {
        auto cell = [&](int c) { return grid_->cellText(r, c).trimmed().toStdString(); };
        out.push_back(StepRow{cell(0), cell(1), cell(2), cell(3), cell(4)});
    }
    return out;
}

void CTJMonDlg::setRows(const std::vector<StepRow>& rows)
{
    grid_->clearCells();
    int r = 0;
    for (const StepRow& row : rows) {
        if (r >= grid_->rowCount()) break;
        int c = 0;
        for (const std::string* cell : {&row.vref, &row.mth, &row.ps, &row.mode0, &row.mode1})
            grid_->setCellText(r, c++, QString::fromStdString(*cell));
        ++r;
    }
}

void CTJMonDlg::rnfEdited()
{
    const QString typed = rnf_->text();
    if (!typed.trimmed().isEmpty() && !zelbo::readNumber(typed.toStdString(), true)) {
        // Letters are no resistance: the last value stays.
        rnf_->setText(lastRnf_);
        note_->setText(tr("RNF: \"%1\" is not a number; kept %2 \u03a9.").arg(typed.left(40), lastRnf_));
        return;
    }
    if (typed.trimmed().isEmpty()) return; // "Please indicate RNF Register value." at Start
    const QString text = QString::fromStdString(rnfFieldText(rnf_->text().toStdString()));
    if (rnf_->text() != text) rnf_->setText(text);
    lastRnf_ = text;
}

// ---- the run ------------------------------------------------------------------

void CTJMonDlg::startClicked(bool checked)
{
    if (!checked) {
        stopRun();
        return;
    }
    for (QAction* a : menuActions_) a->setEnabled(false);
    clock_.start();
    elapsed_->setText(QStringLiteral("00:00:00"));
    elapsed_->show();
    // The checks see the fields as the user left them: an empty RNF is
    // reported, not taken as the smallest resistor.
    const auto error = run_.start(rows(), time_->text().trimmed().toStdString(),
                                  rnf_->text().trimmed().toStdString(), divide_->value());
    if (error != MonitorRun::StartError::None) {
        messages().show(MonitorRun::errorText(error), "Error", MsgIcon::Warning);
        endRunControls();
        return;
    }
    if (startGate_ && !startGate_()) {
        run_.stop();
        endRunControls();
        return;
    }
    rnfEdited(); // shows the resistance the run uses
    // Only a run that starts replaces the previous log: a slip on Start does
    // not lose a log that has not been saved yet.
    log_.clear();
    start_->setText(tr("Stop"));
    elapsedTimer_.start(1000);
    grid_->setReadOnly(true);
    timer_->arm(std::chrono::seconds(1));
}

void CTJMonDlg::stepDue()
{
    if (!run_.running()) return; // stopped while the expiry was on its way
    const MonitorRun::Step step = run_.nextStep();
    if (step.final) {
        endRunControls();
        emit stepReady(true, step.record);
        return;
    }
    timer_->arm(step.next);
    emit stepReady(false, step.record);
}

void CTJMonDlg::stopRun()
{
    timer_->cancel();
    const bool wasRunning = run_.running();
    run_.stop();
    endRunControls();
    if (wasRunning) emit stepReady(true, std::nullopt);
}

void CTJMonDlg::closeEvent(QCloseEvent* event)
{
    if (run_.running()) stopRun();
    CSingletonDlg::closeEvent(event);
}

void CTJMonDlg::endRunControls()
{
    for (QAction* a : menuActions_) a->setEnabled(true);
    elapsedTimer_.stop();
    elapsed_->hide();
    start_->setChecked(false);
    start_->setText(tr("Start"));
    grid_->setReadOnly(false);
}

void CTJMonDlg::showElapsed()
{
    elapsed_->setText(QString::fromStdString(elapsedText(static_cast<std::uint64_t>(clock_.elapsed() / 1000))));
}

void CTJMonDlg::finishRun()
{
    log_.finish();
    if (!finish_) {
        finish_ = new CTjFinDlg(this);
        connect(finish_, &QDialog::accepted, this, &CTJMonDlg::exportLog);
    }
    finish_->open();
}

// ---- export ---------------------------------------------------------------------

void CTJMonDlg::exportLog()
{
    QString path = chooser_(true, tr("Save"), tr("Excel Workbook (*.xlsx)"),
                            ui::proposedPath(ui::filekind::kTemperatureLog, QStringLiteral("xlsx")));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".xlsx");
    ui::rememberFolder(ui::filekind::kTemperatureLog, path);
    const std::string chip = chipName_ ? chipName_() : std::string();
    std::string error;
    WorkbookFailure failure = WorkbookFailure::None;
    if (writeWorkbook(path.toStdString(), chip, log_.rows(), &error, &failure)) {
        note_->setText(tr("Temperature log saved to %1").arg(path));
        return;
    }
    if (failure == WorkbookFailure::Folder) {
        // The folder cannot take a file: a CSV beside it would fail the same
        // way, so the real reason comes first and alone.
        messages().show("Failed to create " + path.toStdString() + ": " + error + ". Data can't be saved.", "Error",
                        MsgIcon::Warning);
        return;
    }

    zelbo::log::warning("zelbo: workbook not written: " + error);
    messages().show("The workbook could not be written (" + error + "). Data will be saved in a CSV file",
                    "TQ5170x Evaluation Software");
    const std::string csv = csvPathFor(path.toStdString());
    if (!writeLogCsv(csv, chip, log_.rows(), &error)) {
        messages().show("Failed to create " + csv + ": " + error + ". Data can't be saved.", "Error",
                        MsgIcon::Warning);
        return;
    }
    note_->setText(tr("Temperature log saved to %1").arg(QString::fromStdString(csv)));
}

// ---- step-list files -----------------------------------------------------------

void CTJMonDlg::newList()
{
    grid_->clearCells();
}

void CTJMonDlg::openList()
{
    const QString path = chooser_(false, tr("Open"), kStepListFilter, ui::lastFolder(ui::filekind::kStepList));
    if (path.isEmpty()) return;
    ui::rememberFolder(ui::filekind::kStepList, path);
    StepListRead read;
    if (!readStepListFile(path.toStdString(), read)) {
        note_->setText(tr("Cannot open %1: %2").arg(path, ui::readFailure(path)));
        messages().show("Unable to open .csv file", "Error", MsgIcon::Warning);
        return;
    }
    // A file of which not one line was a row leaves the list as it was.
    if (!read.rows.empty() || !read.incomplete) {
        grid_->clearCells();
        setRows(read.rows);
    }
    if (read.incomplete) {
        // The message's text is fixed; the line it is about goes beside it.
        note_->setText(tr("Line %1 of %2 does not hold a whole step.").arg(read.badLine).arg(path));
        messages().show("Incomplete CSV Settings", "Warning", MsgIcon::Warning);
    }
}

void CTJMonDlg::saveList()
{
    QString path =
        chooser_(true, tr("Save"), kStepListFilter, ui::proposedPath(ui::filekind::kStepList, QStringLiteral("csv")));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
    ui::rememberFolder(ui::filekind::kStepList, path);
    std::string error;
    if (!writeFileAtomically(path.toStdString(), formatStepList(rows()), &error)) {
        note_->setText(tr("Not saved: %1").arg(QString::fromStdString(error)));
        messages().show("Failed to create .csv file. Settings can't be saved.", "Error", MsgIcon::Warning);
        return;
    }
    note_->setText(tr("Steps saved to %1").arg(path));
}
