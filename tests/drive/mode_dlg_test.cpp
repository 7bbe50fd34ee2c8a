// "Configure Zelbo" over the drive core.
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include "drive/ui/mode_dlg.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

class ModeDlgTest : public QObject {
    Q_OBJECT

private slots:
    void okAppliesSupplyAndPinsAndCloses()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        CModeDlg dlg(core, messages);
        QCOMPARE(dlg.windowTitle(), QString("Configure Zelbo"));
        QVERIFY(dlg.radio50()->isChecked());
        QVERIFY(dlg.modeSelector()->isHidden());

        QVERIFY(dlg.showCentred());
        QSignalSpy done(&dlg, &CModeDlg::modeChangeFinished);
        QTest::mouseClick(dlg.radio33(), Qt::LeftButton);
        QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(done.count(), 1);
        QVERIFY(done.at(0).at(0).toBool());
        QVERIFY(messages.shown().empty());
        QCOMPARE(core.pinHighLevel(), std::uint16_t(1650));
        QCOMPARE(port.writes().front(), (std::pair<int, int>{1, 0xE1}));
    }

    void cancelledWarningLeavesEverythingAlone()
    {
        FakePort port;
        RecordingMessageService messages;
        DriveCore core(port, messages);
        core.loadMode(1);
        core.setPin(Pin::Mode1, true);
        CModeDlg dlg(core, messages);
        dlg.show();
        port.clear();
        messages.queueAnswer(MsgAnswer::Cancel);
        QTest::mouseClick(dlg.radio33(), Qt::LeftButton);
        QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
        QCOMPARE(messages.texts(), (std::vector<std::string>{"Warning: Changing modes will reset settings."}));
        QVERIFY(port.ops.empty());
        QCOMPARE(core.mode(), 1);
        QCOMPARE(core.vcc(), Vcc::V5_0);
        QCOMPARE(core.pinStateText(), std::string("00010"));
        dlg.show(); // the radios show the supply in force again
        QVERIFY(dlg.radio50()->isChecked());
    }
};

QTEST_MAIN(ModeDlgTest)
#include "mode_dlg_test.moc"
