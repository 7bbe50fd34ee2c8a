// The program on the simulated board: the main window with its link, the real
// bridge library (loaded by name from the program folder) and the board's log
// of what reached it.

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/about_dlg.h"
#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "board/sim_board_test.h"
#include "common/message_service.h"

using simboard::LogEvent;
using namespace std::chrono_literals;

namespace {

using Write = std::pair<int, int>; // register, value
using Writes = std::vector<Write>;

const char* kChipList = "#Chipname\tA\tB\tMode\n"
                        "TQ51701\t672.29\t2.0836\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n"
                        "TQ51702\t668.5\t2.071\t0\tFull Step\tHalf Step B\tHalf Step A\tQuarter Step\n";

bool waitUntil(const std::function<bool()>& done, int ms = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class Program : public ::testing::Test {
protected:
    simboard::Control board;
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    std::unique_ptr<CTQ5170xHWPDlg> window;

    void SetUp() override
    {
        board.reset();
        board.setBusTiming(false);
        board.startFirmware();
    }

    void TearDown() override
    {
        if (window) {
            messages.queueAnswer(zelbo::MsgAnswer::Ok);
            window->close();
            window.reset();
        }
    }

    MainWindowSetup setup()
    {
        MainWindowSetup s;
        s.messages = &messages;
        s.progress = ProgressReporter(&progress);
        s.dataFolder = data.path().toStdString();
        s.defaultChipList = kChipList;
        return s;
    }

    void open(MainWindowSetup s)
    {
        window = std::make_unique<CTQ5170xHWPDlg>(std::move(s));
        window->resize(1280, 800);
        window->show();
    }

    // Opens the window and waits until the link start has finished.
    void openReady()
    {
        open(setup());
        ASSERT_TRUE(waitUntil([&] { return window->linkStartResult().has_value(); }));
        ASSERT_EQ(*window->linkStartResult(), 0);
    }

    QPushButton* power() const { return window->control<QPushButton>(1025); }

    // The register writes the board received (in order).
    Writes writes() const
    {
        Writes w;
        for (const LogEvent& e : board.log())
            if (e.kind == LogEvent::Kind::RegisterWrite) w.emplace_back(e.code, e.value);
        return w;
    }

    // Waits until the board has seen `n` register writes since the last clear.
    bool waitWrites(std::size_t n, int ms = 5000)
    {
        return waitUntil([&] { return writes().size() >= n; }, ms);
    }

    static Writes powerPrefix() { return {{0x2C, 0x02}, {0x1A, 0x83}, {0x2C, 0x0B}, {0x02, 0x00}}; }
    static Writes powerOnTail() { return {{0x22, 0xC4}, {0x23, 0x09}, {0x1A, 0x87}}; }
    static Writes powerOffTail() { return {{0x01, 0xE0}, {0x22, 0x00}, {0x23, 0x00}, {0x1A, 0x87}}; }
    static Writes concat(Writes a, const Writes& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    void clickPower()
    {
        ASSERT_TRUE(power()->isEnabled());
        QTest::mouseClick(power(), Qt::LeftButton);
    }

    void waitLockout()
    {
        ASSERT_TRUE(waitUntil([&] { return power()->isEnabled(); }, 3000));
    }
};

} // namespace

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
    for (int id : {1014, 1080, 1069, 1043, 1097, 1045}) EXPECT_FALSE(window->control(id)->isEnabled()) << id;
    // The chip list was seeded and loaded.
    EXPECT_TRUE(QFile::exists(data.filePath("TQ5170x.chip")));
    QString chip;
    EXPECT_EQ(window->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "TQ51701");
    EXPECT_EQ(window->requestChipName(nullptr), -1);
}

TEST_F(Program, PowerOnAndOffSendExactlyThePowerButtonSequences)
{
    openReady();
    board.clearLog();

    clickPower();
    EXPECT_TRUE(power()->isChecked());
    EXPECT_EQ(power()->text(), "OFF");
    const Writes on = concat(powerPrefix(), powerOnTail());
    ASSERT_TRUE(waitWrites(on.size()));
    QTest::qWait(100);
    EXPECT_EQ(writes(), on);
    // Powered on: the groups are live, "Run" and the CLK "Start" are checked.
    for (int id : {1014, 1080, 1069, 1043, 1097, 1045}) EXPECT_TRUE(window->control(id)->isEnabled()) << id;
    EXPECT_TRUE(window->control<QPushButton>(1026)->isChecked());
    EXPECT_TRUE(window->control<QPushButton>(1045)->isChecked());

    // The second click within 1.5 s is impossible.
    EXPECT_FALSE(power()->isEnabled());
    EXPECT_FALSE(window->control(1109)->isEnabled());
    QTest::mouseClick(power(), Qt::LeftButton);
    EXPECT_TRUE(power()->isChecked());
    QTest::qWait(1000);
    EXPECT_FALSE(power()->isEnabled());
    waitLockout();
    EXPECT_TRUE(window->control(1109)->isEnabled());
    EXPECT_EQ(writes(), on);

    board.clearLog();
    clickPower();
    EXPECT_FALSE(power()->isChecked());
    EXPECT_EQ(power()->text(), "ON");
    const Writes off = concat(powerPrefix(), powerOffTail());
    ASSERT_TRUE(waitWrites(off.size()));
    QTest::qWait(100);
    EXPECT_EQ(writes(), off);
    EXPECT_FALSE(window->control(1014)->isEnabled());
    EXPECT_FALSE(window->control<QPushButton>(1026)->isChecked());
    EXPECT_FALSE(window->control<QPushButton>(1045)->isChecked());
}

TEST_F(Program, FileNewPowersOffAndRunsAgainWhenAlreadyOff)
{
    openReady();
    clickPower();
    ASSERT_TRUE(waitWrites(7));
    waitLockout();

    board.clearLog();
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
    ASSERT_TRUE(waitWrites(off.size()));
    QTest::qWait(100);
    EXPECT_EQ(writes(), off);
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

    // Commands of features that have not been bound say so; none is silent.
    for (int id : {CTQ5170xHWPDlg::ID_FILE_OPEN, CTQ5170xHWPDlg::ID_FILE_SAVE, CTQ5170xHWPDlg::ID_VIEW_TJMONITOR,
                   CTQ5170xHWPDlg::ID_HELP_CALIBRATE}) {
        messages.clear();
        window->action(id)->trigger();
        ASSERT_EQ(messages.shown().size(), 1u) << id;
        EXPECT_NE(messages.shown()[0].text.find("not available yet"), std::string::npos);
    }
    // A bound command runs its feature instead.
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
    openReady();
    clickPower();
    ASSERT_TRUE(waitWrites(7));
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
