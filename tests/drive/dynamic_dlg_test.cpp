// "Dynamic Settings" without a board: edits normalised through the grid, the
// refusals before a start, the file commands and their messages, and the
// row tracking of a run.
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "drive/ui/dynamic_dlg.h"
#include "widgets/grid_ctrl.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive::sequence;

namespace {
struct Harness {
    RecordingMessageService messages;
    int running = -1;
    std::vector<StartRecord> posted;
    std::vector<int> pauses;
    int applied = 0, simple = 0;
    CDynamicDlg dlg;
    Harness()
        : dlg(1, messages, CDynamicDlg::Hooks{
                               [this] { return running; },
                               [this](const StartRecord& r) { posted.push_back(r); },
                               [this](int s) { pauses.push_back(s); },
                               [] {},
                               [this] { ++simple; },
                               [this](int i) { applied = i == -1 ? applied + 1 : applied; },
                               [](std::chrono::milliseconds) {}})
    {
    }
    QString lastMessage() const { return QString::fromStdString(messages.shown().back().text); }
};
} // namespace

class DynamicDlgTest : public QObject {
    Q_OBJECT

private slots:
    void refusalsLeaveStartUnchecked()
    {
        Harness h;
        QCOMPARE(h.dlg.windowTitle(), QString("Dynamic Settings"));
        h.dlg.startButton()->click();
        QCOMPARE(h.lastMessage(), QString("Dynamic sequence is empty."));
        QVERIFY(!h.dlg.startButton()->isChecked());
        h.dlg.table().setCell(0, kTime, "100");
        h.dlg.table().setCell(1, kTime, "50");
        h.dlg.startButton()->click();
        QCOMPARE(h.lastMessage(), QString("Time should be increasing."));
        h.running = 2;
        h.dlg.startButton()->click();
        QCOMPARE(h.lastMessage(),
                 QString("Dynamic Settings Window #2 is currently running.\nOnly one window can be active at any time."));
        QVERIFY(!h.dlg.startButton()->isChecked());
        QVERIFY(h.posted.empty());
    }

    // Typed cells: prefixes and commas read as meant; text that is no
    // number (or no pin level) is refused, the cell keeps its value and the
    // note names the row and column.
    void typedCellsAreReadOrRefused()
    {
        Harness h;
        emit h.dlg.grid()->cellEdited(0, kVref, QStringLiteral("500m"));
        QCOMPARE(QString::fromStdString(h.dlg.table().cell(0, kVref)), QString("0.50"));
        emit h.dlg.grid()->cellEdited(0, kMth, QStringLiteral("0,25"));
        QCOMPARE(QString::fromStdString(h.dlg.table().cell(0, kMth)), QString("0.25"));
        QVERIFY(h.dlg.noteText().isEmpty());
        emit h.dlg.grid()->cellEdited(0, kVref, QStringLiteral("abc"));
        QCOMPARE(QString::fromStdString(h.dlg.table().cell(0, kVref)), QString("0.50"));
        QCOMPARE(h.dlg.grid()->cellText(0, kVref), QString("0.50"));
        QCOMPARE(h.dlg.noteText(), QString("Row 1, VREF [V]: \"abc\" is not a number; kept \"0.50\"."));
        emit h.dlg.grid()->cellEdited(2, kPs, QStringLiteral("yes"));
        QVERIFY(h.dlg.table().cell(2, kPs).empty());
        QVERIFY(h.dlg.noteText().startsWith("Row 3, "));
        emit h.dlg.grid()->cellEdited(2, kPs, QStringLiteral("hi"));
        QCOMPARE(QString::fromStdString(h.dlg.table().cell(2, kPs)), QString("HI"));
        QVERIFY(h.dlg.noteText().isEmpty());
    }

    void runTracksRowsAndEndsOnTheMarker()
    {
        Harness h;
        h.dlg.table().setCell(0, kTime, "0");
        h.dlg.table().setCell(1, kTime, "10");
        h.dlg.table().setCell(1, kClk, "2.5k");
        h.dlg.countField()->setText("150");   // brought into 1..99
        h.dlg.startButton()->click();
        QVERIFY(h.dlg.running());
        QCOMPARE(h.posted.size(), std::size_t(1));
        QCOMPARE(h.posted[0].cycles, std::string("99"));
        QCOMPARE(h.posted[0].rowCount, std::string("2"));
        QCOMPARE(h.posted[0].rows[1].clk, std::string("2500"));
        QVERIFY(h.dlg.grid()->isReadOnly());
        QVERIFY(!h.dlg.openAction()->isEnabled());

        h.running = 1;
        h.dlg.startButton()->click();   // the toggle off is a stop
        QVERIFY(!h.dlg.running());
        QCOMPARE(h.posted.back().kind, StartRecord::Stop);
        QVERIFY(!h.posted.back().finished);

        h.dlg.startButton()->click();
        QCOMPARE(h.lastMessage(), QString("Dynamic sequence is currently running."));
        QVERIFY(h.dlg.startButton()->isChecked());
        h.running = -1;
        h.dlg.startButton()->setChecked(false);
        h.dlg.startButton()->click();
        QVERIFY(h.dlg.running());
        // The board counts its rows from 1: row 2 is the grid's second row,
        // in the system colour 0xFF9933 (0x00BBGGRR: light blue) on white.
        h.dlg.currentRowReceived(2);
        QCOMPARE(h.dlg.highlightedRow(), 1);
        QCOMPARE(h.dlg.grid()->rowColours(1).first, QColor(0x33, 0x99, 0xFF));
        QCOMPARE(h.dlg.grid()->rowColours(1).second, QColor(Qt::white));
        h.dlg.currentRowReceived(1);
        QCOMPARE(h.dlg.highlightedRow(), 0);
        QVERIFY(!h.dlg.grid()->rowColours(1).first.isValid());
        h.dlg.currentRowReceived(0); // none played yet
        QCOMPARE(h.dlg.highlightedRow(), -1);
        QVERIFY(!h.dlg.grid()->rowColours(0).first.isValid());
        h.dlg.pauseButton()->click();
        QCOMPARE(h.pauses, std::vector<int>{192});
        QCOMPARE(h.dlg.pauseButton()->text(), QString("Continue"));
        h.dlg.currentRowReceived(-1);
        QVERIFY(!h.dlg.running());
        QVERIFY(!h.dlg.startButton()->isChecked());
        QVERIFY(h.posted.back().finished);
        QCOMPARE(h.dlg.highlightedRow(), -1);
    }

    void filesRoundTripAndReportFailures()
    {
        QTemporaryDir dir;
        Harness h;
        h.dlg.table().setCell(0, kTime, "0");
        h.dlg.table().setCell(0, kVref, "1.5");
        h.dlg.refreshGrid();
        QCOMPARE(h.dlg.grid()->cellText(0, kVref), QString("1.50"));
        const QString path = dir.filePath("seq.csv");
        QVERIFY(h.dlg.saveFile(path));
        h.dlg.newAction()->trigger();
        QCOMPARE(h.dlg.grid()->cellText(0, kVref), QString(""));
        QVERIFY(h.dlg.loadFile(path));
        QCOMPARE(h.dlg.grid()->cellText(0, kVref), QString("1.50"));

        QVERIFY(!h.dlg.loadFile(dir.filePath("missing.csv")));
        QCOMPARE(h.lastMessage(), QString("Unable to open .csv file"));
        QCOMPARE(h.dlg.table().cell(0, kVref), std::string("1.50")); // a failed open keeps the table
        QVERIFY(!h.dlg.saveFile(dir.filePath("no/such/folder/x.csv")));
        QCOMPARE(h.lastMessage(), QString("Failed to create .csv file. Settings can't be saved."));

        QFile bad(dir.filePath("bad.csv"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("h,\n0,1,1,1,HI,HI,HI,HI,HI,\n1,1,1,HI\n");
        bad.close();
        QVERIFY(!h.dlg.loadFile(bad.fileName()));
        QCOMPARE(h.lastMessage(), QString("Incomplete CSV Settings"));
        QCOMPARE(QString::fromStdString(h.messages.shown().back().caption), QString("Warning"));
        QCOMPARE(h.dlg.table().usedRows(), 1);
    }

    void finishingAsksAndHandsBackOnYes()
    {
        Harness h;
        h.dlg.show();
        h.messages.queueAnswer(MsgAnswer::No);
        QVERIFY(!h.dlg.finish());
        QVERIFY(h.dlg.isVisible());
        QCOMPARE(h.simple, 0);
        QVERIFY(h.dlg.finish());
        QVERIFY(!h.dlg.isVisible());
        QCOMPARE(h.simple, 1);
        QCOMPARE(h.applied, 1);
        QCOMPARE(h.posted.back().kind, StartRecord::Stop);
    }
};

QTEST_MAIN(DynamicDlgTest)
#include "dynamic_dlg_test.moc"
