// The advance-mode window and the pin panel's toggle over the cores.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

#include "drive/ui/advance_feature.h"
#include "drive/ui/mode_dlg.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

class AdvanceDlgTest : public QObject {
    Q_OBJECT

    FakePort port;
    RecordingMessageService messages;

private slots:
    void init()
    {
        port.clear();
        messages.clear();
    }

    void anotherOpenWindowRefusesAndTheToggleGoesOff()
    {
        DriveCore core(port, messages);
        QWidget owner;
        CClkInDlg pins(core, &owner);
        AdvanceFeature feature(port, messages, core, pins, &owner);
        CModeDlg mode(core, messages, &owner);
        mode.show();
        port.clear();
        pins.advanceButton()->click();
        QVERIFY(!pins.advanceButton()->isChecked());
        QVERIFY(!feature.window().isVisible());
        QVERIFY(!feature.core().active());
        QCOMPARE(messages.texts().back(), std::string("Cannot continue. Another dialog is open."));
        QVERIFY(port.ops.empty());
        mode.hide();

        pins.advanceButton()->click();
        QVERIFY(pins.advanceButton()->isChecked());
        QVERIFY(feature.window().isVisible());
        QVERIFY(!pins.highRadio(Pin::Ps)->isEnabled());
        QVERIFY(!pins.pinSlider(Pin::CwCcw)->isEnabled());

        // Escape closes the window and leaves advance mode.
        QTest::keyClick(&feature.window(), Qt::Key_Escape);
        QVERIFY(!feature.window().isVisible());
        QVERIFY(!pins.advanceButton()->isChecked());
        QVERIFY(pins.highRadio(Pin::Ps)->isEnabled());
        QVERIFY(!feature.core().active());
    }

    void panelFieldsAndSliderStayInStep()
    {
        DriveCore core(port, messages);
        QWidget owner;
        CClkInDlg pins(core, &owner);
        AdvanceFeature feature(port, messages, core, pins, &owner);
        QVERIFY(feature.setActive(true));
        CDlgSlider* mode1 = feature.window().panel(3);
        QCOMPARE(mode1->slider()->maximum(), 500);

        QLineEdit* step = mode1->limitEdit(Limit::Step);
        step->setText("0.25");
        emit step->editingFinished();
        QCOMPARE(mode1->slider()->maximum(), 20);
        port.clear();
        mode1->slider()->setValue(10); // ten notches of 0.25 V below the top
        QCOMPARE(mode1->valueEdit()->text(), QString("2.50"));
        QCOMPARE(port.writes(), (Writes{{40, 1250 & 0xFF}, {41, 1250 >> 8}, {26, 128}}));

        mode1->valueEdit()->setText("4.1");
        emit mode1->valueEdit()->editingFinished();
        QCOMPARE(mode1->valueEdit()->text(), QString("4.00"));
        QCOMPARE(mode1->slider()->value(), 4);

        // The sweep panel and "Trigger" follow the CLK radios.
        CDlgAdvanceMode& w = feature.window();
        QVERIFY(!w.panel(AdvanceCore::kSweepPanel)->isEnabled());
        w.sweepRadio()->click();
        QVERIFY(w.panel(AdvanceCore::kSweepPanel)->isEnabled());
        QVERIFY(!w.triggerButton()->isEnabled());
        w.singleStepRadio()->click();
        QVERIFY(!w.panel(AdvanceCore::kSweepPanel)->isEnabled());
        QVERIFY(w.triggerButton()->isEnabled());
    }
};

QTEST_MAIN(AdvanceDlgTest)
#include "advance_dlg_test.moc"
