// The pin panel over the drive core.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include "drive/ui/clk_in_dlg.h"
#include "tests/drive/fake_port.h"

using namespace zelbo;
using namespace zelbo::drive;
using zelbo::drive::test::FakePort;

class ClkInDlgTest : public QObject {
    Q_OBJECT

    using Writes = std::vector<std::pair<int, int>>;

private slots:
    void radiosLoadThePinChannel()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        CClkInDlg dlg(core);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.lowRadio(Pin::Enable)->isChecked());
        QVERIFY(dlg.psLowSelected());

        QTest::mouseClick(dlg.highRadio(Pin::Enable), Qt::LeftButton);
        QCOMPARE(port.writes(), (Writes{{36, 2500 & 0xFF}, {37, 2500 >> 8}, {26, 129}}));
        QCOMPARE(core.pinStateText(), std::string("01000"));
        QCOMPARE(dlg.pinSlider(Pin::Enable)->value(), 1); // the slider follows

        port.clear();
        QTest::mouseClick(dlg.highRadio(Pin::Ps), Qt::LeftButton);
        QVERIFY(!dlg.psLowSelected());
        QVERIFY(core.psIndicatorHigh());
        QTest::mouseClick(dlg.lowRadio(Pin::Ps), Qt::LeftButton);
        QCOMPARE(port.writes().back(), (std::pair<int, int>{26, 135}));
        QCOMPARE(port.writes()[3], (std::pair<int, int>{34, 0}));
        QVERIFY(!core.psIndicatorHigh());
    }

    void slidersSetPinsAndTheExcitationTextFollows()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        CClkInDlg dlg(core);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.excitationField()->text(), QString("Full Step"));
        QVERIFY(dlg.excitationField()->isReadOnly());

        dlg.pinSlider(Pin::Mode0)->setValue(1);
        QCOMPARE(port.writes(), (Writes{{38, 2500 & 0xFF}, {39, 2500 >> 8}, {26, 131}}));
        QVERIFY(dlg.highRadio(Pin::Mode0)->isChecked());
        QCOMPARE(dlg.excitationField()->text(), QString("Half Step A"));
        QTest::mouseClick(dlg.highRadio(Pin::Mode1), Qt::LeftButton);
        QCOMPARE(dlg.excitationField()->text(), QString("Quarter Step"));

        // Changes made elsewhere (a reset, a loaded settings file) are redrawn
        // without sending anything.
        port.clear();
        core.loadPinStateText("00001");
        QVERIFY(dlg.highRadio(Pin::CwCcw)->isChecked());
        QVERIFY(dlg.lowRadio(Pin::Mode0)->isChecked());
        QCOMPARE(dlg.pinSlider(Pin::Mode1)->value(), 0);
        QCOMPARE(dlg.excitationField()->text(), QString("Full Step"));
        QVERIFY(port.ops.empty());
    }

    void chipListAndSelection()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        CClkInDlg dlg(core);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.chipNameList()->count(), 1);
        QCOMPARE(dlg.chipNameList()->currentText(), QString("TQ40000PLXV"));

        core.setChipList({ChipEntry{0, "C1", 1, 2, {"n0", "n1", "n2", "n3"}},
                          ChipEntry{1, "Other", 1, 2, {"o0", "o1", "o2", "o3"}},
                          ChipEntry{0, "C2", 3, 4, {"m0", "m1", "m2", "m3"}}});
        QCOMPARE(dlg.chipNameList()->count(), 2);
        QCOMPARE(dlg.excitationField()->text(), QString("n0"));
        QTest::mouseClick(dlg.highRadio(Pin::Mode0), Qt::LeftButton);
        QCOMPARE(dlg.excitationField()->text(), QString("n2"));
        dlg.chipNameList()->setCurrentIndex(1);
        emit dlg.chipNameList()->activated(1);
        QCOMPARE(core.selectedChipName(), std::string("C2"));
        QCOMPARE(dlg.excitationField()->text(), QString("m2"));
        QCOMPARE(core.chipA(), 3.0);
    }

    void advanceToggleAndPinLock()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        CClkInDlg dlg(core);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QSignalSpy spy(&dlg, &CClkInDlg::advanceToggled);
        QCOMPARE(dlg.advanceButton()->text(), QString("Advance"));
        QVERIFY(dlg.advanceButton()->isCheckable());
        QTest::mouseClick(dlg.advanceButton(), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        dlg.setAdvanceChecked(false); // refused
        QVERIFY(!dlg.advanceButton()->isChecked());
        QCOMPARE(spy.count(), 1);

        dlg.setPinControlsEnabled(false);
        QVERIFY(!dlg.highRadio(Pin::Ps)->isEnabled());
        QVERIFY(!dlg.pinSlider(Pin::CwCcw)->isEnabled());
        dlg.setPinControlsEnabled(true);
        QVERIFY(dlg.lowRadio(Pin::Mode1)->isEnabled());
    }
};

QTEST_MAIN(ClkInDlgTest)
#include "clk_in_dlg_test.moc"
