// The oscilloscope's windows on the offscreen platform: the binder against a
// small form named by control ids, the chart view, the channel dialog, the
// colour picker and the thermometer gauge.

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "tests/common/recording_message_service.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/channel_dlg.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/instrument.h"
#include "scope/ui/save_waveform.h"
#include "scope/ui/scope_binder.h"
#include "tests/scope/fakes.h"
#include "widgets/colour_picker.h"
#include "widgets/control_ids.h"
#include "widgets/meter_wnd.h"

using namespace zelbo::scope;
namespace ctl = zelbo::ctl;

namespace {

// One application for the whole run, torn down after the last test and
// before the process's static objects go away.
QApplication* gApp = nullptr;

QApplication& app()
{
    static int argc = 1;
    static char arg0[] = "scope_test";
    static char* argv[] = {arg0, nullptr};
    if (!gApp)
        gApp = new QApplication(argc, argv);
    return *gApp;
}

class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete gApp;
        gApp = nullptr;
    }
};
[[maybe_unused]] auto* const gAppEnvironment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

// The oscilloscope part of a main window: every control named "id<NNNN>".
class Form : public QWidget {
public:
    Form()
    {
        for (int id = ctl::kChannelToggle; id <= ctl::channelToggle(3); ++id)
            add<QCheckBox>(id);
        for (int id = ctl::kChannelPopup; id <= ctl::channelPopup(3); ++id)
            add<QPushButton>(id);
        for (int id = ctl::kChannelSource; id <= ctl::channelOutput(3); ++id)
            add<QComboBox>(id);
        for (int id = ctl::kValuePerDiv; id <= ctl::kSecPerDiv; ++id)
            add<QLineEdit>(id);
        for (int id = ctl::kValuePerDivSpin; id <= ctl::kSecPerDivSpin; ++id)
            add<QSpinBox>(id);
        add<QSlider>(ctl::kSamplingRate)->setOrientation(Qt::Horizontal);
        add<QPushButton>(ctl::kTriggerOn);
        for (int id = ctl::kTriggerChannel; id <= ctl::triggerChannel(3); ++id)
            add<QRadioButton>(id);
        add<QSlider>(ctl::kVoltageLevelSlider)->setOrientation(Qt::Vertical);
        add<QLineEdit>(ctl::kVoltageLevelEdit);
        add<QLineEdit>(ctl::kCurrentLevelEdit);
        add<QSlider>(ctl::kCurrentLevelSlider)->setOrientation(Qt::Vertical);
        for (int id : {ctl::kTriggerSlope, ctl::kRun, ctl::kCalibrate, ctl::kSavePicture})
            add<QPushButton>(id);
        add<QCheckBox>(ctl::kAutoRate);
    }
    template <typename T>
    T* add(int id)
    {
        auto* w = new T(this);
        w->setObjectName(QStringLiteral("id%1").arg(id));
        return w;
    }
    QWidget* control(int id) const { return findChild<QWidget*>(QStringLiteral("id%1").arg(id)); }
    template <typename T>
    T* get(int id) const { return qobject_cast<T*>(control(id)); }
};

class BinderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        chart.configureForScope();
        core.setView(&chart);
        core.setArmRequest([this] { ++arms; });
        core.applyDefaults();
        binder = std::make_unique<ScopeBinder>(core, chart, [this](int id) { return form.control(id); }, &form);
        binder->setMessageService(&messages);
        binder->bind();
        port.take();
    }
    bool appReady_ = (app(), true); // before any widget member
    test::FakePort port;
    ScopeCore core{port};
    CLineChart chart;
    Form form;
    zelbo::RecordingMessageService messages;
    std::unique_ptr<ScopeBinder> binder;
    int arms = 0;
};

} // namespace

TEST_F(BinderTest, ShowsTheStartUpStateAndFillsTheCombos)
{
    for (int id = ctl::kChannelToggle; id <= ctl::channelToggle(3); ++id)
        EXPECT_TRUE(form.get<QCheckBox>(id)->isChecked()) << id;
    EXPECT_EQ(form.get<QComboBox>(ctl::kChannelSource)->count(), 3);
    EXPECT_EQ(form.get<QComboBox>(ctl::kChannelSource)->itemText(2), "ICC");
    EXPECT_EQ(form.get<QComboBox>(ctl::channelOutput(2))->itemText(0), "OUT2A");
    EXPECT_EQ(form.get<QComboBox>(ctl::channelOutput(1))->currentIndex(), 1);
    EXPECT_FALSE(form.get<QComboBox>(ctl::kChannelOutput)->isEnabled());
    EXPECT_EQ(form.get<QLineEdit>(ctl::kValuePerDiv)->text(), "20 V");
    EXPECT_EQ(form.get<QLineEdit>(ctl::kSecPerDiv)->text(), "2.5 ms");
    EXPECT_EQ(form.get<QSpinBox>(ctl::kSecPerDivSpin)->value(), 11);
    EXPECT_EQ(form.get<QSlider>(ctl::kSamplingRate)->value(), 6);
    EXPECT_EQ(form.get<QSlider>(ctl::kSamplingRate)->toolTip(), "150 kHz");
    EXPECT_EQ(form.get<QPushButton>(ctl::kTriggerOn)->text(), "ON");
    EXPECT_EQ(form.get<QSlider>(ctl::kVoltageLevelSlider)->value(), 2048);
    EXPECT_FALSE(form.get<QSlider>(ctl::kVoltageLevelSlider)->isEnabled());
    EXPECT_EQ(form.get<QLineEdit>(ctl::kVoltageLevelEdit)->text(), "0.000");
    EXPECT_EQ(form.get<QPushButton>(ctl::kRun)->text(), "Run");
    EXPECT_EQ(chart.traces().size(), 4u);
}

TEST_F(BinderTest, HorizontalControls)
{
    form.get<QSpinBox>(ctl::kSecPerDivSpin)->setValue(20);
    EXPECT_EQ(form.get<QSpinBox>(ctl::kSecPerDivSpin)->value(), 15);
    EXPECT_EQ(form.get<QLineEdit>(ctl::kSecPerDiv)->text(), "2.5 s");
    EXPECT_EQ(chart.timePerDivText(), "2.5 s");

    form.get<QCheckBox>(ctl::kAutoRate)->setChecked(true);
    form.get<QSlider>(ctl::kSamplingRate)->setValue(15);
    EXPECT_EQ(form.get<QSpinBox>(ctl::kSecPerDivSpin)->value(), 5);
    EXPECT_EQ(form.get<QLineEdit>(ctl::kSecPerDiv)->text(), QString::fromUtf8("25 µs"));
    EXPECT_EQ(port.last(0x72), 0);
}

TEST_F(BinderTest, SourceAndOutputChanges)
{
    form.get<QComboBox>(ctl::kChannelSource)->setCurrentIndex(1); // CH1 current
    EXPECT_EQ(port.last(0x78), 0x14);
    EXPECT_EQ(form.get<QSpinBox>(ctl::kValuePerDivSpin)->maximum(), 6);
    EXPECT_EQ(form.get<QLineEdit>(ctl::kValuePerDiv)->text(), "10 A");
    EXPECT_TRUE(form.get<QComboBox>(ctl::kChannelOutput)->isEnabled());
    form.get<QComboBox>(ctl::kChannelOutput)->setCurrentIndex(1);
    EXPECT_EQ(core.directionSign(0), -1.0);
    EXPECT_EQ(binder->channelDialog(0)->nameEdit()->text(), "OUT1B");
    EXPECT_EQ(core.channel(0).label, "OUT1B");

    // The dialog's source radios drive the same setting.
    binder->channelDialog(1)->sourceButtons()->button(2)->click();
    EXPECT_EQ(form.get<QComboBox>(ctl::channelSource(1))->currentIndex(), 2);
    EXPECT_EQ(core.source(1), Source::Icc);
    EXPECT_FALSE(form.get<QComboBox>(ctl::channelOutput(1))->isEnabled());
}

TEST_F(BinderTest, TriggerControls)
{
    form.get<QPushButton>(ctl::kTriggerOn)->click();
    EXPECT_EQ(form.get<QPushButton>(ctl::kTriggerOn)->text(), "OFF");
    EXPECT_TRUE(form.get<QSlider>(ctl::kVoltageLevelSlider)->isEnabled());
    EXPECT_FALSE(form.get<QSlider>(ctl::kCurrentLevelSlider)->isEnabled());
    port.take();

    form.get<QSlider>(ctl::kVoltageLevelSlider)->setValue(0);
    EXPECT_EQ(form.get<QLineEdit>(ctl::kVoltageLevelEdit)->text(), "36.000");
    EXPECT_FALSE(port.last(0x76)); // applied a moment later
    QTest::qWait(40);
    EXPECT_EQ(port.last(0x76), 0xFF);
    EXPECT_EQ(port.last(0x77), 0x09);

    auto* edit = form.get<QLineEdit>(ctl::kVoltageLevelEdit);
    // Letters are no level: the last one stays (not 0 V), and it is said.
    QStringList notes;
    QObject::connect(binder.get(), &ScopeBinder::entryNote, [&](const QString& t) { notes << t; });
    edit->setText("zz");
    emit edit->editingFinished();
    EXPECT_EQ(edit->text(), "36.000");
    EXPECT_EQ(form.get<QSlider>(ctl::kVoltageLevelSlider)->value(), 0);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0], "Trigger level: \"zz\" is not a number; kept 36.000 V.");
    edit->setText("0,0");
    emit edit->editingFinished();
    EXPECT_EQ(edit->text(), "0.000");
    EXPECT_EQ(form.get<QSlider>(ctl::kVoltageLevelSlider)->value(), 2048);

    form.get<QPushButton>(ctl::kTriggerSlope)->click();
    EXPECT_EQ(form.get<QPushButton>(ctl::kTriggerSlope)->text(), "-");
    EXPECT_EQ(port.last(0x77), 0x88);

    form.get<QRadioButton>(ctl::triggerChannel(2))->click();
    EXPECT_EQ(core.triggerChannel(), 2);
    EXPECT_EQ(core.channel(2).triggerFlag, 1);
}

TEST_F(BinderTest, RunChannelsAndDialogSettings)
{
    form.get<QPushButton>(ctl::kRun)->click();
    EXPECT_EQ(form.get<QPushButton>(ctl::kRun)->text(), "Stop");
    EXPECT_EQ(arms, 1);
    form.get<QCheckBox>(ctl::channelToggle(1))->setChecked(false);
    EXPECT_FALSE(chart.hasTrace("CH2"));
    EXPECT_EQ(port.last(0x70), 0x0F);
    form.get<QPushButton>(ctl::kRun)->click();
    EXPECT_EQ(form.get<QPushButton>(ctl::kRun)->text(), "Run");
    EXPECT_EQ(port.last(0x70), 0x00);

    auto* dlg = binder->channelDialog(0);
    form.get<QPushButton>(ctl::kChannelPopup)->click();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(form.get<QPushButton>(ctl::kChannelPopup)->text(), "<");
    dlg->positionSlider()->setValue(-4); // two divisions up
    EXPECT_EQ(core.channel(0).verticalPosition, 4);
    EXPECT_EQ(dlg->divEdit()->text(), "2.0");
    dlg->nameEdit()->setText("Coil");
    emit dlg->nameEdit()->editingFinished();
    EXPECT_EQ(core.channel(0).label, "Coil");
    dlg->colourPicker()->setCurrentIndex(7); // Blue
    emit dlg->colourPicker()->activated(7);
    EXPECT_EQ(core.channel(0).colour, 0xFF0000FFu);
    form.get<QPushButton>(ctl::kChannelPopup)->click();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(form.get<QPushButton>(ctl::kChannelPopup)->text(), ">");

    // Pop-ups closing from the window's side.
    form.get<QPushButton>(ctl::kChannelPopup)->click();
    form.get<QPushButton>(ctl::channelPopup(2))->click();
    binder->hideTopChannelDialog();
    EXPECT_FALSE(binder->channelDialog(2)->isVisible());
    EXPECT_EQ(form.get<QPushButton>(ctl::channelPopup(2))->text(), ">");
    EXPECT_TRUE(dlg->isVisible());
    binder->hideChannelDialogs();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(form.get<QPushButton>(ctl::kChannelPopup)->text(), ">");
    form.get<QPushButton>(ctl::channelPopup(1))->click();
    binder->channelDialog(1)->reject(); // its own close button
    EXPECT_EQ(form.get<QPushButton>(ctl::channelPopup(1))->text(), ">");
}

TEST_F(BinderTest, MainWindowHooks)
{
    // Power on checks Run itself; the hook must not start twice.
    form.get<QPushButton>(ctl::kRun)->setChecked(true);
    binder->startScope();
    EXPECT_EQ(arms, 1);
    EXPECT_EQ(form.get<QPushButton>(ctl::kRun)->text(), "Stop");
    binder->stopScope();
    EXPECT_FALSE(form.get<QPushButton>(ctl::kRun)->isChecked());
    EXPECT_FALSE(core.running());
    EXPECT_EQ(port.last(0x70), 0x00);
    binder->startScope();
    EXPECT_EQ(arms, 2);
    EXPECT_TRUE(form.get<QPushButton>(ctl::kRun)->isChecked());

    // Enabling a control group re-enables every OUTPUT combo; the source
    // choices put the voltage channels' combos back.
    for (int id = ctl::kChannelOutput; id <= ctl::channelOutput(3); ++id)
        form.get<QComboBox>(id)->setEnabled(true);
    form.get<QComboBox>(ctl::channelSource(1))->setCurrentIndex(1);
    binder->reapplySourceChoices();
    EXPECT_FALSE(form.get<QComboBox>(ctl::kChannelOutput)->isEnabled());
    EXPECT_TRUE(form.get<QComboBox>(ctl::channelOutput(1))->isEnabled());

    core.setTriggerOn(true);
    port.take();
    binder->applyTriggerState();
    EXPECT_EQ(port.last(0x77), 0x08);
    EXPECT_EQ(form.get<QPushButton>(ctl::kTriggerOn)->text(), "OFF");
}

TEST_F(BinderTest, SavesTheWaveformAndReportsAFailure)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("TQ5170.jpeg");
    EXPECT_TRUE(binder->saveWaveformTo(path));
    EXPECT_FALSE(QImageReader(path).read().isNull());
    EXPECT_TRUE(messages.shown().empty());
    QStringList notes;
    QObject::connect(binder.get(), &ScopeBinder::entryNote, [&](const QString& t) { notes << t; });
    EXPECT_TRUE(binder->saveWaveformTo(path));
    EXPECT_FALSE(binder->saveWaveformTo(dir.filePath("no/such/dir/x.jpeg")));
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Warning);
    // The reason, not only the path.
    const std::string said = messages.shown()[0].text;
    const auto colon = said.find("x.jpeg\": ");
    ASSERT_NE(colon, std::string::npos) << said;
    EXPECT_GT(said.size(), colon + 12) << said;
    ASSERT_EQ(notes.size(), 2);
    EXPECT_EQ(notes[0], "Picture saved to " + path);
    EXPECT_TRUE(notes[1].startsWith("Picture not saved: "));

    QFileDialog fd;
    configureWaveformDialog(fd);
    EXPECT_EQ(fd.nameFilters(), QStringList{"JPEG (*.jpeg)"});
    EXPECT_EQ(fd.defaultSuffix(), "jpeg");
    EXPECT_EQ(fd.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(fd.testOption(QFileDialog::DontConfirmOverwrite));
}

// Before the first sweep there is nothing to save: refused with a message,
// and no file of headers alone is left behind.
TEST_F(BinderTest, SaveDataBeforeAnySweepIsRefused)
{
    ScopeInstrument instrument(core, chart, &messages);
    QStringList notes;
    QObject::connect(&instrument, &ScopeInstrument::note, [&](const QString& t) { notes << t; });
    QTemporaryDir dir;
    const QString path = dir.filePath("sweep.csv");
    EXPECT_FALSE(instrument.saveDataTo(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.shown()[0].text.find("No sweep"), std::string::npos);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].startsWith("No sweep"));
}

TEST(ChartViewTest, ForwardsMouseKeysWheelAndButtons)
{
    app();
    CLineChart chart;
    chart.configureForScope();
    ChartView view(chart);
    view.resize(800, 450);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(chart.size(), QSize(800, 450));

    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_DOUBLE_EQ(chart.xStart(), chart.xWidth() / 20);
    view.scrollEarlierButton()->click();
    EXPECT_DOUBLE_EQ(chart.xStart(), 0.0);

    // Fine wheel steps add up to one notch.
    for (int i = 0; i < 4; ++i) {
        QWheelEvent e(QPointF(100, 100), view.mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 30),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &e);
    }
    EXPECT_DOUBLE_EQ(chart.xStart(), chart.xWidth() / 20);

    const QPoint a = chart.plotRect().topLeft() + QPoint(50, 50);
    QTest::mousePress(&view, Qt::LeftButton, {}, a);
    QTest::mouseMove(&view, a + QPoint(100, 80));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, a + QPoint(100, 80));
    EXPECT_TRUE(chart.zoomed());
    // "1:1" leaves the zoom; it is live only while zoomed.
    view.repaint();
    ASSERT_TRUE(view.zoomOutButton()->isEnabled());
    view.zoomOutButton()->click();
    EXPECT_FALSE(chart.zoomed());
    view.repaint();
    EXPECT_FALSE(view.zoomOutButton()->isEnabled());

    QTest::mouseDClick(&view, Qt::LeftButton, {}, a);
    EXPECT_TRUE(chart.startCursorOn());
}

TEST(ChannelDlgTest, PositionTextsAndNameLimit)
{
    app();
    EXPECT_EQ(CChannelDlg::positionText(0), "0.0");
    EXPECT_EQ(CChannelDlg::positionText(-10), "5.0");
    EXPECT_EQ(CChannelDlg::positionText(3), "-1.5");
    CChannelDlg dlg(2);
    EXPECT_EQ(dlg.nameEdit()->maxLength(), 7);
    std::vector<ChannelSettings> got;
    QObject::connect(&dlg, &CChannelDlg::settingsChanged, [&](int ch, const ChannelSettings& s) {
        EXPECT_EQ(ch, 2);
        got.push_back(s);
    });
    dlg.divEdit()->setText("-2.5");
    emit dlg.divEdit()->editingFinished();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(dlg.positionSlider()->value(), 5);
    EXPECT_EQ(got.back().position, -5);
    dlg.divEdit()->setText("9");
    emit dlg.divEdit()->editingFinished();
    EXPECT_EQ(dlg.positionSlider()->value(), -10); // clamped to +5 div
    dlg.setPosition(3); // programmatic: no report
    EXPECT_EQ(got.size(), 2u);
    EXPECT_EQ(dlg.divEdit()->text(), "1.5");

    // A decimal comma, typed as German users do, reads as a point; text that
    // holds no number keeps the position it had.
    dlg.divEdit()->clear();
    QTest::keyClicks(dlg.divEdit(), "-1,5");
    EXPECT_EQ(dlg.divEdit()->text(), "-1,5") << "the field takes the comma";
    emit dlg.divEdit()->editingFinished();
    EXPECT_EQ(dlg.positionSlider()->value(), 3);
    EXPECT_EQ(got.back().position, -3);
    EXPECT_EQ(dlg.divEdit()->text(), "-1.5");
    dlg.divEdit()->setText("abc");
    emit dlg.divEdit()->editingFinished();
    EXPECT_EQ(dlg.positionSlider()->value(), 3);
    EXPECT_EQ(dlg.divEdit()->text(), "-1.5");
}

namespace {
class ScriptedPicker : public CColourPickerCB {
public:
    QColor answer;
protected:
    QColor askCustomColour(const QColor&) override { return answer; }
};
} // namespace

TEST(ColourPickerTest, NamedAndCustomColours)
{
    app();
    EXPECT_EQ(CColourPickerCB::colorRefToArgb(0x007FFF), 0xFFFF7F00u); // Orange
    EXPECT_EQ(CColourPickerCB::argbToColorRef(0xFF00CCFF), 0xFFCC00u); // Cyan
    ScriptedPicker p;
    ASSERT_EQ(p.count(), 10);
    EXPECT_EQ(p.itemText(1), "Brown");
    EXPECT_EQ(p.itemText(9), "Custom...");
    std::vector<QRgb> chosen;
    QObject::connect(&p, &CColourPickerCB::colourChosen, [&](QRgb c) { chosen.push_back(c); });

    p.setCurrentIndex(4);
    emit p.activated(4);
    EXPECT_EQ(chosen.back(), 0xFFFFD700u); // Yellow

    p.answer = QColor(); // cancelled: back to the previous choice, nothing reported
    p.setCurrentIndex(9);
    emit p.activated(9);
    EXPECT_EQ(p.colour(), 0xFFFFD700u);
    EXPECT_EQ(chosen.size(), 1u);

    p.answer = QColor(0x12, 0x34, 0x56);
    p.setCurrentIndex(p.count() - 1);
    emit p.activated(p.count() - 1);
    EXPECT_EQ(chosen.back(), 0xFF123456u);
    EXPECT_EQ(p.colour(), 0xFF123456u);
    p.setColour(0xFF0000FF);
    EXPECT_EQ(p.currentText(), "Blue");
    EXPECT_EQ(p.colour(), 0xFF0000FFu);
}

TEST(MeterWndTest, OpenUntilAReadingArrives)
{
    app();
    CMeterWnd m;
    m.setLabel("Tj");
    EXPECT_EQ(m.displayText(), "    OPEN");
    m.setReading(25.04);
    EXPECT_EQ(m.displayText(), "Tj 25.0");
    m.setReading(std::nan(""));
    EXPECT_EQ(m.displayText(), "    OPEN");
    m.resize(m.sizeHint());
    m.setReading(400); // off the scale: drawn clamped
    EXPECT_FALSE(m.grab().isNull());
    EXPECT_FALSE(m.alarming()); // no limit set

    // With a unit and an alarm limit: the alarm only above it, drawn in its colour.
    m.setUnit(QString::fromUtf8("\u00b0C"));
    m.setAlarmAbove(150.0);
    m.setReading(150.0);
    EXPECT_FALSE(m.alarming());
    EXPECT_EQ(m.displayText(), QString::fromUtf8("Tj 150.0 \u00b0C"));
    const QImage calm = m.grab().toImage();
    m.setReading(184.5);
    EXPECT_TRUE(m.alarming());
    EXPECT_NE(m.grab().toImage(), calm);
    m.clearReading();
    EXPECT_FALSE(m.alarming());
}
