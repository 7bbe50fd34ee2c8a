// The main window's drive controls, bound to the core on a small test form
// whose controls carry the main window's ids.
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtTest>

#include "drive/ui/clk_in_dlg.h"
#include "drive/ui/drive_binder.h"
#include "drive/ui/drive_feature.h"
#include "tests/drive/fake_port.h"
#include "widgets/control_ids.h"
#include "widgets/spin_button.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using zelbo::drive::test::FakePort;
using zelbo::drive::test::Writes;

namespace ctl = zelbo::ctl;

namespace {

struct Form {
    QWidget root;
    QGroupBox* clkGroup = nullptr;

    Form()
    {
        grid_ = new QGridLayout(&root);
        for (int id : {ctl::kVrefSlider, ctl::kMthSlider, ctl::kClkSlider, ctl::kDutySlider, ctl::kPsSlider})
            add(id, new QSlider(id == ctl::kPsSlider ? Qt::Horizontal : Qt::Vertical));
        for (int id : {ctl::kMthEdit, ctl::kVrefEdit, ctl::kClkEdit, ctl::kIo, ctl::kRnfEdit, ctl::kRnfRate, ctl::kDutyEdit})
            add(id, new QLineEdit);
        for (int id = ctl::kVrefMax; id <= ctl::kClkStep; ++id) add(id, new QLineEdit);
        add(ctl::kRnfRateSpin, new SpinButton);
        add(ctl::kModeName, new QLabel);
        for (int id : {ctl::kClkStart, ctl::kDutySet, ctl::kSweepStart}) add(id, new QPushButton("Start"));
        add(ctl::kPinTable, new QTableWidget(5, 2));
        add(ctl::kPsLow, new QRadioButton("Low"));
        add(ctl::kPsHigh, new QRadioButton("High"));
        clkGroup = new QGroupBox("CLK");
        add(ctl::kClkGroup, clkGroup);
        auto* inner = new QVBoxLayout(clkGroup);
        for (auto [id, w] : {std::pair<int, QWidget*>{ctl::kContinuous, new QRadioButton("Continuous")},
                             {ctl::kManual, new QRadioButton("Manual")}, {ctl::kStepsLabel, new QLabel("Steps:")},
                             {ctl::kStepsEdit, new QLineEdit}, {ctl::kStopLabel, new QLabel("Stop:")},
                             {ctl::kStopLevel, new QPushButton("L")}}) {
            w->setObjectName(QStringLiteral("id%1").arg(id));
            inner->addWidget(w);
        }
    }
    void add(int id, QWidget* w)
    {
        w->setObjectName(QStringLiteral("id%1").arg(id));
        grid_->addWidget(w, count_ / 6, count_ % 6);
        ++count_;
    }
    QGridLayout* grid_ = nullptr;
    int count_ = 0;
    QWidget* control(int id) const { return root.findChild<QWidget*>(QStringLiteral("id%1").arg(id)); }
    template <class W> W* c(int id) const { return qobject_cast<W*>(control(id)); }
    DriveBinder::Lookup lookup() const
    {
        return [this](int id) { return control(id); };
    }
};

void typeAndCommit(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

class DriveBinderTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheDefaults()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        Form f;
        DriveBinder binder(core, f.lookup());
        QCOMPARE(f.c<QLineEdit>(ctl::kVrefEdit)->text(), QString("0.00"));
        QCOMPARE(f.c<QLineEdit>(ctl::kClkEdit)->text(), QString("0"));
        QCOMPARE(f.c<QLineEdit>(ctl::kVrefMax)->text(), QString("3.00")); // VREF MAX
        QCOMPARE(f.c<QLineEdit>(ctl::kVrefMin)->text(), QString("0.00")); // VREF MIN
        QCOMPARE(f.c<QLineEdit>(ctl::kVrefStep)->text(), QString("0.01")); // VREF STEP
        QCOMPARE(f.c<QSlider>(ctl::kVrefSlider)->maximum(), 300);
        QCOMPARE(f.c<QSlider>(ctl::kVrefSlider)->value(), 300);
        QVERIFY(f.c<QSlider>(ctl::kVrefSlider)->invertedAppearance()); // position 0 at the top
        QCOMPARE(f.c<QLineEdit>(ctl::kRnfRate)->text(), QString("1 / 5"));
        QCOMPARE(f.c<QAbstractSlider>(ctl::kRnfRateSpin)->value(), 5);
        QCOMPARE(f.c<QLabel>(ctl::kModeName)->text(), QString("Stepping Clk-In"));
        QVERIFY(!f.c<QLineEdit>(ctl::kStepsEdit)->isEnabled());
        QCOMPARE(f.c<QPushButton>(ctl::kStopLevel)->text(), QString("L"));
        QVERIFY(f.c<QLineEdit>(ctl::kDutyEdit)->isHidden()); // duty row hidden in Clk-In mode
        QVERIFY(f.c<QSlider>(ctl::kDutySlider)->isHidden());
        QVERIFY(!f.clkGroup->isHidden());
        QVERIFY(port.ops.empty());
    }

    void typedAndSlidValuesReachTheBoard()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        Form f;
        DriveBinder binder(core, f.lookup());
        f.root.show();

        typeAndCommit(f.c<QLineEdit>(ctl::kVrefEdit), "3.456");
        QCOMPARE(f.c<QLineEdit>(ctl::kVrefEdit)->text(), QString("3.00"));
        QCOMPARE(port.writes(), (Writes{{23, 0xB8}, {24, 0x0B}, {26, 133}}));
        QCOMPARE(f.c<QSlider>(ctl::kVrefSlider)->value(), 0);
        QCOMPARE(f.c<QLineEdit>(ctl::kIo)->text(), QString("3000 m"));

        port.clear();
        f.c<QSlider>(ctl::kMthSlider)->setValue(350 - 123);
        QCOMPARE(f.c<QLineEdit>(ctl::kMthEdit)->text(), QString("1.23"));
        QCOMPARE(port.writes(), (Writes{{21, 1230 & 0xFF}, {22, 1230 >> 8}, {26, 134}}));

        // A new STEP re-ranges the slider and re-commits the value.
        port.clear();
        typeAndCommit(f.c<QLineEdit>(ctl::kVrefStep), "0.1");
        QCOMPARE(f.c<QLineEdit>(ctl::kVrefStep)->text(), QString("0.10"));
        QCOMPARE(f.c<QSlider>(ctl::kVrefSlider)->maximum(), 30);
        QCOMPARE(f.c<QSlider>(ctl::kVrefSlider)->pageStep(), 5);
        QCOMPARE(port.writes().size(), 3u);

        typeAndCommit(f.c<QLineEdit>(ctl::kClkMax), "5k"); // CLK MAX
        QCOMPARE(f.c<QLineEdit>(ctl::kClkMax)->text(), QString("5.00 k"));
        port.clear();
        typeAndCommit(f.c<QLineEdit>(ctl::kClkEdit), "2k");
        QCOMPARE(f.c<QLineEdit>(ctl::kClkEdit)->text(), QString("2.00 k"));
        QCOMPARE(port.writes().back(), (std::pair<int, int>{144, 6}));

        typeAndCommit(f.c<QLineEdit>(ctl::kVrefEdit), "1");
        f.c<QAbstractSlider>(ctl::kRnfRateSpin)->setValue(9);
        QCOMPARE(f.c<QLineEdit>(ctl::kRnfRate)->text(), QString("1 / 1"));
        QCOMPARE(f.c<QLineEdit>(ctl::kIo)->text(), QString("5000 m"));
        // Letters are no resistance: the last value stays.
        typeAndCommit(f.c<QLineEdit>(ctl::kRnfEdit), "x");
        QCOMPARE(f.c<QLineEdit>(ctl::kRnfEdit)->text(), QString("0.20"));
    }

    void countedRunEndsOnTheReadBack()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        Form f;
        DriveBinder binder(core, f.lookup());
        f.root.show();

        QTest::mouseClick(f.c<QRadioButton>(ctl::kManual), Qt::LeftButton);
        QVERIFY(f.c<QLineEdit>(ctl::kStepsEdit)->isEnabled());
        QVERIFY(f.c<QPushButton>(ctl::kStopLevel)->isEnabled());
        auto* steps = f.c<QLineEdit>(ctl::kStepsEdit);
        typeAndCommit(steps, "300");
        QCOMPARE(steps->text(), QString("255"));
        QCOMPARE(steps->cursorPosition(), 3);
        // Letters keep the count there was.
        typeAndCommit(steps, "q");
        QCOMPARE(steps->text(), QString("255"));
        typeAndCommit(steps, "10");
        QCOMPARE(steps->text(), QString("10"));
        QTest::mouseClick(f.c<QPushButton>(ctl::kStopLevel), Qt::LeftButton);
        QCOMPARE(f.c<QPushButton>(ctl::kStopLevel)->text(), QString("H"));

        port.clear();
        QTest::mouseClick(f.c<QPushButton>(ctl::kClkStart), Qt::LeftButton);
        QCOMPARE(port.writes(), (Writes{{144, 0}, {153, 10}, {144, 0x81}}));
        QCOMPARE(f.c<QPushButton>(ctl::kClkStart)->text(), QString("Stop"));
        QVERIFY(!f.c<QRadioButton>(ctl::kContinuous)->isEnabled());
        QVERIFY(!steps->isEnabled());

        binder.clockControlRead(0x81); // still running
        QVERIFY(f.c<QPushButton>(ctl::kClkStart)->isChecked());
        binder.clockControlRead(0x00);
        QVERIFY(!f.c<QPushButton>(ctl::kClkStart)->isChecked());
        QCOMPARE(f.c<QPushButton>(ctl::kClkStart)->text(), QString("Start"));
        QVERIFY(f.c<QRadioButton>(ctl::kManual)->isEnabled());
        QVERIFY(steps->isEnabled());

        port.clear();
        QTest::mouseClick(f.c<QPushButton>(ctl::kSweepStart), Qt::LeftButton);
        QCOMPARE(f.c<QPushButton>(ctl::kSweepStart)->text(), QString("Stop"));
        binder.secondRunEnded();
        QCOMPARE(f.c<QPushButton>(ctl::kSweepStart)->text(), QString("Start"));
        QCOMPARE(port.writes(), (Writes{{160, 1}}));
    }

    void psIndicatorMirrorsThePinPanel()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        Form f;
        DriveBinder binder(core, f.lookup());
        CClkInDlg panel(core);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(f.c<QRadioButton>(ctl::kPsLow)->isChecked());
        QTest::mouseClick(panel.highRadio(Pin::Ps), Qt::LeftButton);
        QVERIFY(f.c<QRadioButton>(ctl::kPsHigh)->isChecked());
        QCOMPARE(f.c<QSlider>(ctl::kPsSlider)->value(), 1);
        QTest::mouseClick(panel.highRadio(Pin::Mode1), Qt::LeftButton);
        auto* table = f.c<QTableWidget>(ctl::kPinTable);
        QCOMPARE(table->item(0, 1)->text(), QString("High"));
        QCOMPARE(table->item(2, 1)->text(), QString("Low"));
        QCOMPARE(table->item(3, 1)->text(), QString("High"));
        core.handlePinDacRequest({135, 0, false}); // advance mode: no mirror
        QVERIFY(f.c<QRadioButton>(ctl::kPsHigh)->isChecked());
    }


    void featureWiresTheWindowCalls()
    {
        FakePort port;
        RecordingMessageService messages;
        auto* f = new Form;
        auto* feature = new DriveFeature(port, messages, f->lookup(), &f->root);
        bool originCleared = false;
        ModeChangeHooks hooks;
        hooks.clearChartOrigin = [&] { originCleared = true; };
        feature->setModeChangeHooks(hooks);
        feature->setDefaults();
        QVERIFY(originCleared);
        QVERIFY(feature->psLowSelected());
        feature->startClock();
        QCOMPARE(f->c<QPushButton>(ctl::kClkStart)->text(), QString("Stop"));
        feature->clockControlRead(0);
        QCOMPARE(f->c<QPushButton>(ctl::kClkStart)->text(), QString("Start"));
        feature->showModeDialog();
        QVERIFY(feature->modeDialogVisible());
        delete f; // the window goes first, taking the dialogs and the feature with it
    }
};

QTEST_MAIN(DriveBinderTest)
#include "drive_binder_test.moc"
