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
#include "widgets/spin_button.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using zelbo::drive::test::FakePort;
using zelbo::drive::test::Writes;

namespace {

struct Form {
    QWidget root;
    QGroupBox* clkGroup = nullptr;

    Form()
    {
        grid_ = new QGridLayout(&root);
        for (int id : {1005, 1006, 1007, 1008, 1009}) add(id, new QSlider(id == 1009 ? Qt::Horizontal : Qt::Vertical));
        for (int id : {1068, 1069, 1070, 1071, 1097, 1096, 1152}) add(id, new QLineEdit);
        for (int id = 1159; id <= 1167; ++id) add(id, new QLineEdit);
        add(1090, new SpinButton);
        add(1028, new QLabel);
        for (int id : {1045, 1046, 1104}) add(id, new QPushButton("Start"));
        add(1051, new QTableWidget(5, 2));
        add(1176, new QRadioButton("Low"));
        add(1177, new QRadioButton("High"));
        clkGroup = new QGroupBox("CLK");
        add(1126, clkGroup);
        auto* inner = new QVBoxLayout(clkGroup);
        for (auto [id, w] : {std::pair<int, QWidget*>{1127, new QRadioButton("Continuous")},
                             {1128, new QRadioButton("Manual")}, {1129, new QLabel("Steps:")},
                             {1130, new QLineEdit}, {1131, new QLabel("Stop:")}, {1132, new QPushButton("L")}}) {
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
        QCOMPARE(f.c<QLineEdit>(1069)->text(), QString("0.00"));
        QCOMPARE(f.c<QLineEdit>(1070)->text(), QString("0"));
        QCOMPARE(f.c<QLineEdit>(1159)->text(), QString("3.00")); // VREF MAX
        QCOMPARE(f.c<QLineEdit>(1160)->text(), QString("0.00")); // VREF MIN
        QCOMPARE(f.c<QLineEdit>(1161)->text(), QString("0.01")); // VREF STEP
        QCOMPARE(f.c<QSlider>(1005)->maximum(), 300);
        QCOMPARE(f.c<QSlider>(1005)->value(), 300);
        QVERIFY(f.c<QSlider>(1005)->invertedAppearance()); // position 0 at the top
        QCOMPARE(f.c<QLineEdit>(1096)->text(), QString("1 / 5"));
        QCOMPARE(f.c<QAbstractSlider>(1090)->value(), 5);
        QCOMPARE(f.c<QLabel>(1028)->text(), QString("Stepping Clk-In"));
        QVERIFY(!f.c<QLineEdit>(1130)->isEnabled());
        QCOMPARE(f.c<QPushButton>(1132)->text(), QString("L"));
        QVERIFY(f.c<QLineEdit>(1152)->isHidden()); // duty row hidden in Clk-In mode
        QVERIFY(f.c<QSlider>(1008)->isHidden());
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

        typeAndCommit(f.c<QLineEdit>(1069), "3.456");
        QCOMPARE(f.c<QLineEdit>(1069)->text(), QString("3.00"));
        QCOMPARE(port.writes(), (Writes{{23, 0xB8}, {24, 0x0B}, {26, 133}}));
        QCOMPARE(f.c<QSlider>(1005)->value(), 0);
        QCOMPARE(f.c<QLineEdit>(1071)->text(), QString("3000 m"));

        port.clear();
        f.c<QSlider>(1006)->setValue(350 - 123);
        QCOMPARE(f.c<QLineEdit>(1068)->text(), QString("1.23"));
        QCOMPARE(port.writes(), (Writes{{21, 1230 & 0xFF}, {22, 1230 >> 8}, {26, 134}}));

        // A new STEP re-ranges the slider and re-commits the value.
        port.clear();
        typeAndCommit(f.c<QLineEdit>(1161), "0.1");
        QCOMPARE(f.c<QLineEdit>(1161)->text(), QString("0.10"));
        QCOMPARE(f.c<QSlider>(1005)->maximum(), 30);
        QCOMPARE(f.c<QSlider>(1005)->pageStep(), 5);
        QCOMPARE(port.writes().size(), 3u);

        typeAndCommit(f.c<QLineEdit>(1165), "5k"); // CLK MAX
        QCOMPARE(f.c<QLineEdit>(1165)->text(), QString("5.00 k"));
        port.clear();
        typeAndCommit(f.c<QLineEdit>(1070), "2k");
        QCOMPARE(f.c<QLineEdit>(1070)->text(), QString("2.00 k"));
        QCOMPARE(port.writes().back(), (std::pair<int, int>{144, 6}));

        typeAndCommit(f.c<QLineEdit>(1069), "1");
        f.c<QAbstractSlider>(1090)->setValue(9);
        QCOMPARE(f.c<QLineEdit>(1096)->text(), QString("1 / 1"));
        QCOMPARE(f.c<QLineEdit>(1071)->text(), QString("5000 m"));
        // Letters are no resistance: the last value stays.
        typeAndCommit(f.c<QLineEdit>(1097), "x");
        QCOMPARE(f.c<QLineEdit>(1097)->text(), QString("0.20"));
    }

    void countedRunEndsOnTheReadBack()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        Form f;
        DriveBinder binder(core, f.lookup());
        f.root.show();

        QTest::mouseClick(f.c<QRadioButton>(1128), Qt::LeftButton);
        QVERIFY(f.c<QLineEdit>(1130)->isEnabled());
        QVERIFY(f.c<QPushButton>(1132)->isEnabled());
        auto* steps = f.c<QLineEdit>(1130);
        typeAndCommit(steps, "300");
        QCOMPARE(steps->text(), QString("255"));
        QCOMPARE(steps->cursorPosition(), 3);
        // Letters keep the count there was.
        typeAndCommit(steps, "q");
        QCOMPARE(steps->text(), QString("255"));
        typeAndCommit(steps, "10");
        QCOMPARE(steps->text(), QString("10"));
        QTest::mouseClick(f.c<QPushButton>(1132), Qt::LeftButton);
        QCOMPARE(f.c<QPushButton>(1132)->text(), QString("H"));

        port.clear();
        QTest::mouseClick(f.c<QPushButton>(1045), Qt::LeftButton);
        QCOMPARE(port.writes(), (Writes{{144, 0}, {153, 10}, {144, 0x81}}));
        QCOMPARE(f.c<QPushButton>(1045)->text(), QString("Stop"));
        QVERIFY(!f.c<QRadioButton>(1127)->isEnabled());
        QVERIFY(!steps->isEnabled());

        binder.clockControlRead(0x81); // still running
        QVERIFY(f.c<QPushButton>(1045)->isChecked());
        binder.clockControlRead(0x00);
        QVERIFY(!f.c<QPushButton>(1045)->isChecked());
        QCOMPARE(f.c<QPushButton>(1045)->text(), QString("Start"));
        QVERIFY(f.c<QRadioButton>(1128)->isEnabled());
        QVERIFY(steps->isEnabled());

        port.clear();
        QTest::mouseClick(f.c<QPushButton>(1104), Qt::LeftButton);
        QCOMPARE(f.c<QPushButton>(1104)->text(), QString("Stop"));
        binder.secondRunEnded();
        QCOMPARE(f.c<QPushButton>(1104)->text(), QString("Start"));
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
        QVERIFY(f.c<QRadioButton>(1176)->isChecked());
        QTest::mouseClick(panel.highRadio(Pin::Ps), Qt::LeftButton);
        QVERIFY(f.c<QRadioButton>(1177)->isChecked());
        QCOMPARE(f.c<QSlider>(1009)->value(), 1);
        QTest::mouseClick(panel.highRadio(Pin::Mode1), Qt::LeftButton);
        auto* table = f.c<QTableWidget>(1051);
        QCOMPARE(table->item(0, 1)->text(), QString("High"));
        QCOMPARE(table->item(2, 1)->text(), QString("Low"));
        QCOMPARE(table->item(3, 1)->text(), QString("High"));
        core.handlePinDacRequest({135, 0, false}); // advance mode: no mirror
        QVERIFY(f.c<QRadioButton>(1177)->isChecked());
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
        QCOMPARE(f->c<QPushButton>(1045)->text(), QString("Stop"));
        feature->clockControlRead(0);
        QCOMPARE(f->c<QPushButton>(1045)->text(), QString("Start"));
        feature->showModeDialog();
        QVERIFY(feature->modeDialogVisible());
        delete f; // the window goes first, taking the dialogs and the feature with it
    }
};

QTEST_MAIN(DriveBinderTest)
#include "drive_binder_test.moc"
