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
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

class ClkInDlgTest : public QObject {
    Q_OBJECT

    FakePort port;
    RecordingMessageService messages;

private slots:
    void init() { port.clear(); }

    void radiosAndSlidersLoadThePinChannels()
    {
        DriveCore core(port, messages);
        CClkInDlg dlg(core);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.psLowSelected());
        QCOMPARE(dlg.excitationField()->text(), QString("Full Step"));

        QTest::mouseClick(dlg.highRadio(Pin::Enable), Qt::LeftButton);
        QCOMPARE(port.writes(), (Writes{{36, 2500 & 0xFF}, {37, 2500 >> 8}, {26, 129}}));
        QCOMPARE(dlg.pinSlider(Pin::Enable)->value(), 1); // the slider follows

        port.clear();
        dlg.pinSlider(Pin::Mode0)->setValue(1);
        QCOMPARE(port.writes(), (Writes{{38, 2500 & 0xFF}, {39, 2500 >> 8}, {26, 131}}));
        QVERIFY(dlg.highRadio(Pin::Mode0)->isChecked());
        QCOMPARE(dlg.excitationField()->text(), QString("Half Step A"));

        QTest::mouseClick(dlg.highRadio(Pin::Ps), Qt::LeftButton);
        QVERIFY(!dlg.psLowSelected());
        QTest::mouseClick(dlg.lowRadio(Pin::Ps), Qt::LeftButton);
        QCOMPARE(port.writes().back(), (std::pair<int, int>{26, 135}));
        QVERIFY(!core.psIndicatorHigh());

        // Changes made elsewhere (reset, settings file) are redrawn, not sent.
        port.clear();
        core.loadPinStateText("00001");
        QVERIFY(dlg.highRadio(Pin::CwCcw)->isChecked());
        QVERIFY(dlg.lowRadio(Pin::Enable)->isChecked());
        QCOMPARE(dlg.pinSlider(Pin::Mode0)->value(), 0);
        QVERIFY(port.ops.empty());
    }

    void chipListSelectsTheExcitationNames()
    {
        DriveCore core(port, messages);
        core.setChipList({ChipEntry{0, "C1", 1, 2, {"n0", "n1", "n2", "n3"}},
                          ChipEntry{0, "C2", 3, 4, {"m0", "m1", "m2", "m3"}}});
        CClkInDlg dlg(core);
        QCOMPARE(dlg.chipNameList()->count(), 2);
        QCOMPARE(dlg.excitationField()->text(), QString("n0"));
        dlg.chipNameList()->setCurrentIndex(1);
        emit dlg.chipNameList()->activated(1);
        QCOMPARE(core.selectedChipName(), std::string("C2"));
        QCOMPARE(dlg.excitationField()->text(), QString("m0"));
    }

    void advanceToggleAndPinLock()
    {
        DriveCore core(port, messages);
        CClkInDlg dlg(core);
        QSignalSpy spy(&dlg, &CClkInDlg::advanceToggled);
        dlg.advanceButton()->click();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        dlg.setAdvanceChecked(false); // refused: no second notification
        QVERIFY(!dlg.advanceButton()->isChecked());
        QCOMPARE(spy.count(), 1);
        dlg.setPinControlsEnabled(false);
        QVERIFY(!dlg.highRadio(Pin::Ps)->isEnabled());
        QVERIFY(!dlg.pinSlider(Pin::CwCcw)->isEnabled());
    }
};

QTEST_MAIN(ClkInDlgTest)
#include "clk_in_dlg_test.moc"
