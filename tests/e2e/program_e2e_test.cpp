// The program on the simulated board: start-up, the power button, menu
// commands and closing.

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QRadioButton>

#include "app/about_dlg.h"
#include "app/program_features.h"
#include "tests/e2e/program_fixture.h"

using namespace e2e;

TEST_F(Program, StartUpOnABareBoardReachesReadyWithThePowerButtonEnabled)
{
    board.reset(); // bare FX2: the firmware is downloaded, the FPGA configured
    board.setBusTiming(false);
    openReady();
    EXPECT_EQ(window->statusPaneText(0), "Ready...");
    EXPECT_TRUE(power()->isEnabled());
    EXPECT_FALSE(power()->isChecked());
    EXPECT_EQ(power()->text(), "ON");
    EXPECT_TRUE(window->link().active());
    EXPECT_TRUE(board.firmwareRunning());
    EXPECT_EQ(board.fpgaState(), simboard::FpgaState::Configured);
    // The progress window went through the image and is gone again.
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(progress.position(), 100);
    EXPECT_TRUE(messages.shown().empty()) << messages.texts().front();
    // Until power on, the feature groups are disabled.
    for (int id : {ctl::channelToggle(0), ctl::valuePerDiv(0), ctl::kVrefEdit, ctl::kModeChange, ctl::kRnfEdit, ctl::kClkStart}) EXPECT_FALSE(window->control(id)->isEnabled()) << id;
    // The chip list was seeded and loaded.
    EXPECT_TRUE(QFile::exists(data.filePath("TQ5170x.chip")));
    QString chip;
    EXPECT_EQ(window->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "TQ51701");
    EXPECT_EQ(window->requestChipName(nullptr), -1);
}

TEST_F(Program, PowerOnAndOffSendThePowerButtonSequences)
{
    openReady();
    board.clearLog();

    QElapsedTimer sinceClick;
    sinceClick.start();
    clickPower();
    EXPECT_TRUE(power()->isChecked());
    EXPECT_EQ(power()->text(), "OFF");
    ASSERT_TRUE(waitUntil([&] { return contains(writes(), powerOnOrder()); }, 5000));
    const Writes on = writes();
    ASSERT_GE(on.size(), 4u);
    EXPECT_EQ(Writes(on.begin(), on.begin() + 4), powerPrefix());
    EXPECT_EQ(count(on, 0x2C), 2u);
    EXPECT_FALSE(contains(on, {{0x22, 0xC4}})) << "PS driven high although the pin panel says Low";
    // The board: supply on, the five pins at their panel levels, the scope
    // acquiring all four channels, the clock running.
    EXPECT_EQ(board.supplyMillivolts(), 5000);
    EXPECT_EQ(board.scope().control & 0x0F, 0x0F);
    EXPECT_TRUE(board.clockGenerator().running);
    // Powered on: the groups are live, "Run" and the CLK "Start" are checked.
    for (int id : {ctl::channelToggle(0), ctl::valuePerDiv(0), ctl::kVrefEdit, ctl::kModeChange, ctl::kRnfEdit, ctl::kClkStart}) EXPECT_TRUE(window->control(id)->isEnabled()) << id;
    EXPECT_TRUE(window->control<QPushButton>(ctl::kRun)->isChecked());
    EXPECT_TRUE(window->control<QPushButton>(ctl::kClkStart)->isChecked());
    EXPECT_EQ(window->control<QPushButton>(ctl::kClkStart)->text(), "Stop");
    EXPECT_EQ(window->control<QLineEdit>(ctl::kDutyEdit)->text(), "50.0");

    // The second click within 1.5 s is impossible: the button comes back
    // only when the lock-out ends, never before, however slow the machine
    // (the timer's default accuracy lets it end up to 5 % early).
    EXPECT_FALSE(power()->isEnabled());
    EXPECT_FALSE(window->control(ctl::kSwitchLabel)->isEnabled());
    QTest::mouseClick(power(), Qt::LeftButton);
    EXPECT_TRUE(power()->isChecked());
    waitLockout();
    EXPECT_GE(sinceClick.elapsed(), CTQ5170xHWPDlg::kPowerLockoutMs * 95 / 100);
    EXPECT_TRUE(window->control(ctl::kSwitchLabel)->isEnabled());
    EXPECT_EQ(count(writes(), 0x2C), 2u);

    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    board.clearLog();
    clickPower();
    EXPECT_FALSE(power()->isChecked());
    EXPECT_EQ(power()->text(), "ON");
    const Writes off = concat(powerPrefix(), powerOffTail());
    ASSERT_TRUE(waitWrites(off.size()));
    QTest::qWait(100);
    EXPECT_EQ(writes(), off);
    EXPECT_EQ(board.supplyMillivolts(), 0);
    EXPECT_FALSE(board.clockGenerator().running);
    EXPECT_EQ(board.scope().control & 0x0F, 0);
    EXPECT_FALSE(window->control(ctl::channelToggle(0))->isEnabled());
    EXPECT_FALSE(window->control<QPushButton>(ctl::kRun)->isChecked());
    EXPECT_FALSE(window->control<QPushButton>(ctl::kClkStart)->isChecked());
    EXPECT_EQ(window->control<QPushButton>(ctl::kClkStart)->text(), "Start");
}

TEST_F(Program, PowerOnDrivesPsHighWhenThePinPanelSaysHigh)
{
    openReady();
    window->showPinPanel();
    auto& panel = window->features()->drive().pinPanel();
    EXPECT_TRUE(panel.isVisible());
    panel.highRadio(zelbo::drive::Pin::Ps)->click();
    board.clearLog();
    clickPower();
    ASSERT_TRUE(waitUntil([&] { return contains(writes(), {{0x70, 0x0F}, {0x22, 0xC4}, {0x23, 0x09}, {0x1A, 0x87}, {144, 1}}); }, 5000));
}

TEST_F(Program, FileNewPowersOffAndRunsAgainWhenAlreadyOff)
{
    poweredOn();
    waitLockout();

    window->action(CTQ5170xHWPDlg::ID_FILE_NEW)->trigger();
    EXPECT_FALSE(power()->isChecked());
    const Writes off = concat(powerPrefix(), powerOffTail());
    ASSERT_TRUE(waitWrites(off.size()));
    QTest::qWait(100);
    EXPECT_EQ(writes(), off);

    waitLockout();
    board.clearLog();
    window->action(CTQ5170xHWPDlg::ID_FILE_NEW)->trigger();
    EXPECT_FALSE(power()->isChecked());
    // Nothing is running any more: only the clock-off writes come before the supply.
    const Writes again = concat(powerPrefix(), {{144, 0}, {144, 0}, {0x01, 0xE0}, {0x22, 0x00}, {0x23, 0x00}, {0x1A, 0x87}});
    ASSERT_TRUE(waitWrites(again.size()));
    QTest::qWait(100);
    EXPECT_EQ(writes(), again);
}

TEST_F(Program, MenuCommandsAnswerWhatIsAvailable)
{
    openReady();
    board.clearLog();
    window->action(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC)->trigger();
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Please power on software first.");
    EXPECT_EQ(messages.shown()[0].caption, "Zelbo Evaluation Software");
    EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Information);
    QTest::qWait(50);
    EXPECT_TRUE(writes().empty());

    // A menu command runs its feature.
    int opened = 0;
    window->hooks().openSettings = [&] { ++opened; };
    messages.clear();
    window->action(CTQ5170xHWPDlg::ID_FILE_OPEN)->trigger();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(messages.shown().empty());

    // Help > Version Information shows the About box.
    window->action(CTQ5170xHWPDlg::ID_HELP_VERSION)->trigger();
    auto* about = window->findChild<CAboutDlg*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->findChild<QLabel*>("version")->text(), "Zelbo Evaluation Software\nVersion 1.0.2.0");
    EXPECT_TRUE(about->findChild<QLabel*>("built")->text().startsWith("Built : "));
    about->accept();
}

TEST_F(Program, EnterAndEscapeLeaveTheWindowOpen)
{
    openReady();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Return);
    QTest::keyClick(window.get(), Qt::Key_Enter);
    QTest::qWait(20);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(Program, ClosingWhilePoweredOnAsksPowersOffShutsTheBoardDownAndStopsTheReader)
{
    poweredOn();
    waitLockout();
    board.clearLog();

    int calibrationSaved = 0;
    window->hooks().saveCalibration = [&] { ++calibrationSaved; };
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    EXPECT_TRUE(window->close());
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Closing software. Continue?");
    EXPECT_EQ(messages.shown()[0].buttons, zelbo::MsgButtons::OkCancel);
    EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Question);
    EXPECT_TRUE(window->closing());
    EXPECT_FALSE(window->link().readerRunning());
    EXPECT_EQ(calibrationSaved, 1);

    const Writes expected = concat(concat(powerPrefix(), powerOffTail()),
                                   {{0x22, 0x00}, {0x23, 0x00}, {0x1A, 0x88},
                                    {0xFF, 0xEA}, {0xFF, 0x15}, {0xFF, 0xAE}, {0xFF, 0xFF}});
    EXPECT_EQ(writes(), expected);
    // The port A request comes between power off and the shutdown writes.
    bool sawRelease = false;
    for (const LogEvent& e : board.log())
        if (e.kind == LogEvent::Kind::VendorRequest && e.code == 0xB5 && e.value == 1) sawRelease = true;
    EXPECT_TRUE(sawRelease);
    window.reset();
}

TEST_F(Program, CancellingTheCloseQuestionKeepsEverythingRunning)
{
    openReady();
    board.clearLog();
    messages.queueAnswer(zelbo::MsgAnswer::Cancel);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->closing());
    EXPECT_TRUE(window->link().readerRunning());
    QTest::qWait(50);
    EXPECT_TRUE(writes().empty());
}

TEST_F(Program, MissingBridgeLibraryShowsItsMessageAndLeavesAUsableWindowWithoutTraffic)
{
    auto s = setup();
    s.link.libraryName = "libNoSuchBridge.so";
    open(std::move(s));
    ASSERT_TRUE(waitUntil([&] { return window->linkStartResult().has_value(); }));
    EXPECT_EQ(*window->linkStartResult(), 1);
    ASSERT_GE(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Error: Cannot find DLL file. Please reinstall software.");
    EXPECT_EQ(messages.shown()[0].caption, "Zelbo Evaluation Software");
    EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Warning);
    EXPECT_FALSE(window->link().active());
    // The progress window does not stay in front of the window.
    EXPECT_FALSE(progress.isVisible());
    // Still usable: commands run, nothing reaches the board.
    window->action(CTQ5170xHWPDlg::ID_FILE_NEW)->trigger();
    QTest::qWait(100);
    EXPECT_TRUE(board.log().empty());
    EXPECT_TRUE(window->isVisible());
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    EXPECT_TRUE(window->close());
    window.reset();
    EXPECT_TRUE(board.log().empty());
}

TEST_F(Program, ClosingDuringBringUpWaitsForItThenCloses)
{
    board.reset(); // the download takes seconds
    board.setBusTiming(false);
    open(setup());
    ASSERT_TRUE(waitUntil([&] { return window->linkStarting(); }, 2000));
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    EXPECT_FALSE(window->close()); // deferred
    EXPECT_TRUE(waitUntil([&] { return !window->isVisible(); }));
    EXPECT_TRUE(window->linkStartResult().has_value());
    EXPECT_FALSE(window->link().readerRunning());
    window.reset();
}

TEST_F(Program, AnUnreadableChipListEndsTheProgramWithItsMessage)
{
    // Something that is not a readable file where the chip list belongs.
    ASSERT_TRUE(QDir(data.path()).mkdir("TQ5170x.chip"));
    window = std::make_unique<CTQ5170xHWPDlg>(setup());
    EXPECT_FALSE(window->initialised());
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Unable to open chip file list.\nPlease reinstall software.");
    EXPECT_EQ(messages.shown()[0].caption, "Error - Loading Chiplist");
    QTest::qWait(50);
    EXPECT_FALSE(window->linkStartResult().has_value()); // no link start
    window.reset();
    EXPECT_TRUE(board.log().empty());
}
