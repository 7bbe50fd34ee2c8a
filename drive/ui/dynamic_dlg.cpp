#include "drive/ui/dynamic_dlg.h"
#include "widgets/file_places.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include "common/number_text.h"
#include "drive/sequence_csv.h"
#include "widgets/grid_ctrl.h"

using namespace zelbo;
using namespace zelbo::drive::sequence;

namespace {
constexpr const char* kFilter = "CSV File (*.csv)";
constexpr const char* kFinishQuestion =
    "If you're finished with dynamic mode, motor function will be set using the main window settings. Proceed?";

// "%d" of the field's leading integer, kept within lo..hi.
QString clampedInt(const QString& text, int lo, int hi)
{
    return QString::number(std::clamp(zelbo::parseLeadingInt(text.toStdString()), lo, hi));
}
} // namespace

CDynamicDlg::CDynamicDlg(int number, MessageService& messages, Hooks hooks, QWidget* parent)
    : QDialog(parent), number_(number), messages_(messages), hooks_(std::move(hooks))
{
    setWindowTitle(tr("Dynamic Settings"));
    setObjectName(QStringLiteral("dynamicDlg%1").arg(number));
    auto* box = new QVBoxLayout(this);

    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(tr("&File"));
    new_ = file->addAction(tr("New"), this, &CDynamicDlg::fileNew);
    open_ = file->addAction(tr("Open"), this, &CDynamicDlg::fileOpen);
    save_ = file->addAction(tr("Save"), this, &CDynamicDlg::fileSave);
    box->setMenuBar(bar);

    grid_ = new CGridCtrl(this);
    std::vector<CGridCtrl::Column> cols;
    for (int c = 0; c < kColumns; ++c) {
        CGridCtrl::Column col;
        col.header = QString::fromLatin1(columnHeader(c));
        col.kind = isPinColumn(c) ? CGridCtrl::Choice : CGridCtrl::Number;
        if (isPinColumn(c)) col.choices = {QStringLiteral("HI"), QStringLiteral("LO")};
        col.width = isPinColumn(c) ? 62 : 80;
        cols.push_back(std::move(col));
    }
    grid_->setColumns(std::move(cols));
    grid_->setRowCount(kRows);
    grid_->setMinimumSize(720, 300);
    connect(grid_, &CGridCtrl::cellEdited, this, &CDynamicDlg::cellEdited);
    box->addWidget(grid_, 1);

    auto* params = new QGridLayout;
    counted_ = new QRadioButton(tr("cycle 1-99"), this);
    infinite_ = new QRadioButton(tr(" Infinite cycles"), this);
    counted_->setChecked(true);
    count_ = new QLineEdit(QStringLiteral("1"), this);
    count_->setMaximumWidth(60);
    delay_ = new QLineEdit(QStringLiteral("0"), this);
    delay_->setMaximumWidth(80);
    // Each keeps itself within its range; letters are refused and the last
    // good value comes back.
    auto keepInt = [this](QLineEdit* e, const QString& what, int lo, int hi) {
        const QString typed = e->text();
        const QString last = e->property("lastGood").toString();
        if (!zelbo::readNumber(typed.toStdString(), false)) {
            e->setText(last);
            note_->setText(tr("%1: \"%2\" is not a number; kept %3.").arg(what, typed.left(40), last));
            return;
        }
        e->setText(clampedInt(typed, lo, hi));
        e->setProperty("lastGood", e->text());
    };
    count_->setProperty("lastGood", count_->text());
    delay_->setProperty("lastGood", delay_->text());
    connect(count_, &QLineEdit::editingFinished, this, [this, keepInt] { keepInt(count_, tr("Count"), 1, 99); });
    connect(delay_, &QLineEdit::editingFinished, this,
            [this, keepInt] { keepInt(delay_, tr("Repeat delay"), 0, 60000); });
    params->addWidget(counted_, 0, 0);
    params->addWidget(count_, 0, 1);
    params->addWidget(infinite_, 1, 0);
    params->addWidget(new QLabel(tr("Repeat delay"), this), 0, 2);
    params->addWidget(delay_, 0, 3);
    params->addWidget(new QLabel(tr("ms"), this), 0, 4);
    start_ = new QPushButton(tr("Start"), this);
    start_->setCheckable(true);
    pause_ = new QPushButton(tr("Pause"), this);
    pause_->setEnabled(false);
    params->addWidget(start_, 0, 5);
    params->addWidget(pause_, 1, 5);
    params->setColumnStretch(4, 1);
    box->addLayout(params);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("dynamicNote"));
    box->addWidget(note_);
    connect(start_, &QPushButton::toggled, this, &CDynamicDlg::startToggled);
    connect(pause_, &QPushButton::clicked, this, &CDynamicDlg::pauseClicked);

    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, [this] {
        if (hooks_.requestRow) hooks_.requestRow();
    });
}

void CDynamicDlg::refreshGrid()
{
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            const QString text = QString::fromStdString(table_.cell(r, c));
            if (grid_->cellText(r, c) != text) grid_->setCellText(r, c, text);
        }
}

QString CDynamicDlg::noteText() const { return note_->text(); }

void CDynamicDlg::cellEdited(int row, int column, const QString& text)
{
    if (!cellReadable(column, text.toStdString())) {
        // Refused: the cell shows what it held, and the note says why.
        note_->setText(tr("Row %1, %2: \"%3\" is not a number; kept \"%4\".")
                           .arg(row + 1)
                           .arg(QString::fromLatin1(columnHeader(column)), text.left(40),
                                QString::fromStdString(table_.cell(row, column))));
        grid_->setCellText(row, column, QString::fromStdString(table_.cell(row, column)));
        return;
    }
    note_->clear();
    table_.setCell(row, column, text.toStdString());
    grid_->setCellText(row, column, QString::fromStdString(table_.cell(row, column)));
}

void CDynamicDlg::error(const char* text, const char* caption)
{
    messages_.show(tr(text).toStdString(), tr(caption).toStdString(),
                   std::string_view(caption) == "Warning" ? MsgIcon::Warning : MsgIcon::Error);
}

// ---- run ---------------------------------------------------------------------

void CDynamicDlg::setStartCheckedQuietly(bool checked)
{
    const QSignalBlocker block(start_);
    start_->setChecked(checked);
    start_->setText(checked ? tr("Stop") : tr("Start"));
}

void CDynamicDlg::startToggled(bool on)
{
    if (!on) {
        if (running_) stopRun(false);
        else start_->setText(tr("Start"));
        return;
    }
    const int busy = hooks_.runningWindow ? hooks_.runningWindow() : -1;
    if (busy == number_) {
        messages_.show(tr("Dynamic sequence is currently running.").toStdString(), tr("Error").toStdString(),
                       MsgIcon::Warning);
        setStartCheckedQuietly(true);
        return;
    }
    if (busy >= 0) {
        messages_.show(tr("Dynamic Settings Window #%1 is currently running.\nOnly one window can be active at any time.")
                           .arg(busy)
                           .toStdString(),
                       tr("Error").toStdString(), MsgIcon::Warning);
        setStartCheckedQuietly(false);
        return;
    }
    int badRow = -1;
    const Validation v = validate(table_, &badRow);
    if (v != Validation::Ok) {
        // The message's text is fixed; the row it is about goes beside it.
        if (badRow >= 0)
            note_->setText(tr("Row %1: %2").arg(badRow + 1).arg(tr(validationMessage(v))));
        messages_.show(tr(validationMessage(v)).toStdString(), tr("Error").toStdString(), MsgIcon::Warning);
        setStartCheckedQuietly(false);
        return;
    }
    startRun();
}

void CDynamicDlg::startRun()
{
    start_->setText(tr("Stop"));
    StartRecord rec;
    rec.kind = StartRecord::Start;
    rec.rows = buildRows(table_, number_);
    rec.cycles = counted_->isChecked() ? clampedInt(count_->text(), 1, 99).toStdString() : "0";
    rec.repeatDelay = clampedInt(delay_->text(), 0, 60000).toStdString();
    rec.rowCount = std::to_string(rec.rows.size());
    if (hooks_.post) hooks_.post(rec);
    clearHighlight();
    setRunning(true);
    waitingForEnd_ = true;
    pauseState_ = kPauseStateRunning;
    pause_->setText(tr("Pause"));
    poll_.start();
}

void CDynamicDlg::stopRun(bool finished)
{
    start_->setText(tr("Start"));
    poll_.stop();
    waitingForEnd_ = false;
    clearHighlight();
    setRunning(false);
    if (hooks_.sleep) hooks_.sleep(std::chrono::milliseconds(500));
    StartRecord rec;
    rec.kind = StartRecord::Stop;
    rec.finished = finished;
    if (hooks_.post) hooks_.post(rec);
}

void CDynamicDlg::setRunning(bool running)
{
    running_ = running;
    pause_->setEnabled(running);
    grid_->setReadOnly(running);
    for (QAction* a : {new_, open_, save_}) a->setEnabled(!running);
    counted_->setEnabled(!running);
    infinite_->setEnabled(!running);
    count_->setEnabled(!running);
    delay_->setEnabled(!running);
}

void CDynamicDlg::pauseClicked()
{
    if (hooks_.sendPauseState) hooks_.sendPauseState(pauseState_);
    if (pauseState_ == kPauseStateRunning) {
        pauseState_ = kPauseStatePaused;
        pause_->setText(tr("Continue"));
    } else {
        pauseState_ = kPauseStateRunning;
        pause_->setText(tr("Pause"));
    }
}

void CDynamicDlg::clearHighlight()
{
    if (highlighted_ >= 0) grid_->clearRowColours(highlighted_);
    highlighted_ = -1;
}

void CDynamicDlg::currentRowReceived(std::int16_t index)
{
    if (!running_) return;
    if (isEndMarker(index)) {
        if (start_->isChecked() && waitingForEnd_) {
            setStartCheckedQuietly(false);
            stopRun(true);
        }
        return;
    }
    // The board counts the rows it plays from 1 (0: none yet); the grid's
    // rows are counted from 0 below its header.
    const int row = index - 1;
    if (row == highlighted_) return;
    clearHighlight();
    if (row < 0 || row >= kRows) return;
    grid_->setRowColours(row, QColor::fromRgb(kHighlight), Qt::white);
    grid_->ensureRowVisible(row);
    highlighted_ = row;
}

// ---- finishing ---------------------------------------------------------------

bool CDynamicDlg::finish()
{
    const bool wasChecked = start_->isChecked();
    setStartCheckedQuietly(false);
    // A running sequence holds still while the user decides; a paused one
    // stays paused (pressing Pause would resume it).
    const bool pausable = pause_->isEnabled() && pauseState_ == kPauseStateRunning;
    if (pausable) pause_->click();
    const MsgAnswer a = messages_.show(tr(kFinishQuestion).toStdString(), kAppCaption, MsgIcon::Question,
                                       MsgButtons::YesNo);
    if (a != MsgAnswer::Yes) {
        if (pausable) pause_->click();
        // The run goes on: Start must still offer to stop it.
        setStartCheckedQuietly(wasChecked && running_);
        return false;
    }
    if (running_) {
        stopRun(false);
    } else {
        StartRecord rec;
        rec.kind = StartRecord::Stop;
        if (hooks_.post) hooks_.post(rec);
    }
    if (hooks_.simpleSettings) hooks_.simpleSettings();
    if (hooks_.applyRow) hooks_.applyRow(-1);
    hide();
    return true;
}

void CDynamicDlg::abandon()
{
    setStartCheckedQuietly(false);
    start_->setText(tr("Start"));
    poll_.stop();
    waitingForEnd_ = false;
    clearHighlight();
    setRunning(false);
    if (pauseState_ != kPauseStateRunning) {
        pauseState_ = kPauseStateRunning;
        pause_->setText(tr("Pause"));
    }
    hide();
}

void CDynamicDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();   // the window is hidden, never destroyed
    finish();
}

void CDynamicDlg::reject() { finish(); }

// ---- files -------------------------------------------------------------------

QString CDynamicDlg::askOpenPath()
{
    QFileDialog dlg(this, tr("Open"), QString(), tr(kFilter));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    zelbo::ui::prepareDialog(dlg, zelbo::ui::filekind::kSequence);
    dlg.exec();
    return zelbo::ui::accepted(dlg, zelbo::ui::filekind::kSequence);
}

QString CDynamicDlg::askSavePath()
{
    QFileDialog dlg(this, tr("Save"), QString(), tr(kFilter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("csv"));
    zelbo::ui::prepareDialog(dlg, zelbo::ui::filekind::kSequence, QStringLiteral("csv"));
    dlg.exec();
    return zelbo::ui::accepted(dlg, zelbo::ui::filekind::kSequence);
}

void CDynamicDlg::fileNew()
{
    table_.clear();
    refreshGrid();
}

void CDynamicDlg::fileOpen()
{
    const QString path = askOpenPath();
    if (!path.isEmpty()) loadFile(path);
}

void CDynamicDlg::fileSave()
{
    const QString path = askSavePath();
    if (!path.isEmpty()) saveFile(path);
}

bool CDynamicDlg::loadFile(const QString& path)
{
    const CsvFileLoad r = loadCsvFile(path.toStdString(), table_);
    if (!r.opened) {
        note_->setText(tr("Cannot open %1: %2").arg(path, zelbo::ui::readFailure(path)));
        error("Unable to open .csv file");
        return false;
    }
    refreshGrid();
    if (r.incomplete) {
        note_->setText(tr("Line %1 of %2 does not hold a whole row.").arg(r.badLine).arg(path));
        error(kCsvIncomplete, "Warning");
    } else {
        note_->setText(tr("Opened %1").arg(path));
    }
    return !r.incomplete;
}

bool CDynamicDlg::saveFile(const QString& path)
{
    // Written whole or not at all: the old file stays until the new one is complete.
    QSaveFile f(path);
    const std::string text = saveCsv(table_);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text) ||
        f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) || !f.commit()) {
        note_->setText(tr("Not saved: %1: %2").arg(path, f.errorString()));
        error("Failed to create .csv file. Settings can't be saved.");
        return false;
    }
    note_->setText(tr("Saved to %1").arg(path));
    return true;
}
