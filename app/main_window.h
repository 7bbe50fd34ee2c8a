#pragma once
// The main window: the hub of the program. It owns the board link, the chip
// list and (through the features that bind to it) every other core and child
// window; it initialises in a fixed order while the progress window shows the
// steps, starts the link once it is on screen, switches the device under test
// on and off with its power button, and shuts the board down in order when it
// closes.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <boost/signals2/connection.hpp>

#include "app/dlg_progress.h"
#include "app/feature_hooks.h"
#include "app/main_panels.h"
#include "files/chip_list.h"
#include "engine/engine.h"
#include "link/bring_up.h"
#include "link/fpga_link.h"
#include "widgets/control_ids.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class CAboutDlg;

namespace ctl = zelbo::ctl;

namespace zelbo::app {
class LanguageSelector;
class ProgramFeatures;
}

// Everything the window needs from outside; tests fill it with their own.
struct MainWindowSetup {
    zelbo::MessageService* messages = nullptr;     // required
    ProgressReporter progress;                     // may have no dialog
    zelbo::app::LanguageSelector* languages = nullptr; // null: no language menu items
    zelbo::link::LinkOptions link;                 // bridge library, program folder, timings
    std::string dataFolder;                        // empty: the user's data folder
    std::string defaultChipList;                   // seeds an empty data folder
    bool startLinkWhenShown = true;                // post the start message at initialisation
    // Starts a copy of the program in demo mode; null: zelbo::app::startDemoCopy.
    std::function<bool()> startDemoCopy;
};

class CTQ5170xHWPDlg : public QMainWindow,
                       private zelbo::link::BringUpObserver,
                       private zelbo::link::LinkObserver,
                       private zelbo::engine::PowerSteps,
                       private zelbo::app::ControlSite {
    Q_OBJECT
public:
    // Command ids of the menu.
    enum Command {
        ID_FILE_NEW = 57600,
        ID_FILE_OPEN = 57601,
        ID_FILE_SAVE = 32773,
        ID_FILE_EXIT = 32784,
        ID_VIEW_DYNAMIC = 32789,
        ID_VIEW_TJMONITOR = 32792,
        ID_TOOLS_LANGUAGE = 32815,
        ID_HELP_CALIBRATE = 32830,
        ID_HELP_VERSION = 32774,
        ID_LANGUAGE_FIRST = 28416,
    };
    // Groups of enableGroups().
    enum Group {
        GroupScopeChannels = 0x01,
        GroupScopeSettings = 0x02,
        GroupReferences = 0x04,
        GroupMode = 0x08,
        GroupSenseResistor = 0x10,
        GroupClockInput = 0x20,
        AllGroups = 0x3F,
        GroupSweep = 0x40, // the SWEEP row's "<", "Start", ">"
    };
    static constexpr int kPowerLockoutMs = 1500;
    static constexpr int kChartRefreshMs = 100;
    static constexpr int kTemperatureMs = 1000;

    explicit CTQ5170xHWPDlg(MainWindowSetup setup, QWidget* parent = nullptr);
    ~CTQ5170xHWPDlg() override;

    // False when initialisation ended early (the chip list could not be read);
    // the window has then closed itself.
    bool initialised() const { return initialised_; }

    // ---- for the features that bind to the window -------------------------
    // The panels and their controls (null before initialisation built them).
    const zelbo::app::MainPanels& panels() const { return panels_; }
    // A control by its id (widgets/control_ids.h); the chart and the gauge
    // are found so once the features have put theirs in place.
    QWidget* control(int id) const;
    template <class W> W* control(int id) const { return qobject_cast<W*>(control(id)); }
    // Puts `replacement` where control `id` stands (same layout cell, same
    // object name, same enable state) and deletes the old one.
    QWidget* replaceControl(int id, QWidget* replacement);
    zelbo::app::FeatureHooks& hooks() { return hooks_; }
    zelbo::link::FpgaLink& link() { return engine_->link(); }
    zelbo::engine::Engine& engine() { return *engine_; }
    zelbo::files::ChipList& chipList() { return chipList_; }
    // What the program cannot write in its data folder, and where; empty
    // when it can.
    QString dataFolderNote() const;
    zelbo::MessageService& messages() { return *messages_; }
    QAction* action(int command) const;
    int mode() const override { return mode_; }
    void setMode(int mode) { mode_ = mode; }
    // The drive and the oscilloscope (null when initialisation ended early).
    zelbo::app::ProgramFeatures* features() const { return features_.get(); }
    // The 1000 ms temperature timer (power on in mode 0, a change to mode 0).
    void startTemperatureTimer();
    // Opens the pin panel (the PINS group's button, a double-click on the table).
    void showPinPanel();
    // The data folder (chip list, settings file, calibration).
    std::filesystem::path dataFolderPath() const;
    // Runs the power button's handler again for its current state (a loaded
    // settings file sends the whole set-up to the board). The user's button
    // is not locked out by it.
    void reapplyPowerState();

    void enableGroups(int mask, bool enable);
    // Enables exactly the groups the engine's state allows (and redraws the
    // clock group's own enabling inside them).
    void applyGroups();
    bool powerOn() const;
    bool askBeforeClosing() const { return askBeforeClosing_.load(); }
    bool closing() const { return closing_; }
    QString statusPaneText(int pane) const;
    void setStatusPaneText(int pane, const QString& text);
    // The current chip's name: 0, or -1 when `out` is null or no list is loaded.
    int requestChipName(QString* out) const;
    // True while the link start (bring-up and its waits) runs on its worker.
    bool linkStarting() const { return linkWorker_.joinable(); }
    // The link start's result (nullopt until it has finished).
    std::optional<int> linkStartResult() const { return linkResult_; }

public slots:
    void onCommand(int command);
    // The board's and the calibration's events.
    void calibrationEnded();  // the power button back, "Ready..."
    void patternStopped();    // the second "Start" toggle's run has ended
    void startLink();  // the start message
    void showAbout();
    // File > Restart in Demo Mode: a copy on the simulated board takes over.
    void restartInDemoMode();

signals:
    void linkStartFinished(int result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Initialisation steps.
    void initialise();
    void buildMenu();
    void buildLanguageMenu(QMenu* tools);
    void buildStatusBar();
    bool loadChipList();
    void showDataFolderNote(const QString& text);
    void buildChart();
    void buildControls();
    void buildPinTable();
    // Where the panels enrol their controls.
    void enrol(int id, QWidget* control) override;
    void addGroupMember(int group, int id) override;

    // Commands.
    void powerButtonClicked(bool checked);
    void fileNew();
    void viewDynamicWindow();
    void helpCalibrate();
    void changeMode();
    void languageChosen(int index);
    void clockRunEnded();
    void temperatureTick();
    void lockoutExpired();
    void waitWritesSent();
    void linkStartDone(int result);

    // Bring-up observer (bring-up worker thread) and link observer.
    void statusText(const std::string& text) override;
    void progressShow() override;
    void progressText(const std::string& text) override;
    void progressStep(int step, int steps) override;
    void progressHide() override;
    void downloadProgressControl(bool visible) override;
    void linkStarted() override;

    // The window's steps of the engine's power sequences.
    void switchedOn() override;
    void applySupplyAndPins() override;
    void startScope() override;
    bool psLow() const override;
    void startClock() override;
    void stopClock() override;
    void switchedOff() override;
    void controlsOff() override;

    void runOnGui(std::function<void()> fn, bool wait);
    void sleepMs(int ms);

    MainWindowSetup setup_;
    zelbo::MessageService* messages_;
    std::unique_ptr<zelbo::engine::Engine> engine_;
    zelbo::files::ChipList chipList_;
    QLabel* dataFolderNote_ = nullptr;
    zelbo::app::FeatureHooks hooks_;

    zelbo::app::MainPanels panels_;
    QHash<int, QWidget*> controls_;
    QHash<int, QList<int>> groups_;
    QHash<int, QAction*> actions_;
    QActionGroup* languageGroup_ = nullptr;
    QLabel* pane_[3] = {nullptr, nullptr, nullptr};
    QProgressBar* downloadBar_ = nullptr;
    QPushButton* power_ = nullptr;
    QTimer lockout_;      // the power button's 1.5 s lock-out
    QTimer chartTimer_;   // the chart's 100 ms refresh
    QPointer<CAboutDlg> about_;

    int mode_ = 0;
    bool initialised_ = false;
    bool closing_ = false;
    bool closeAccepted_ = false;
    bool closePending_ = false;
    bool startPosted_ = false;
    std::atomic<bool> askBeforeClosing_{true};
    bool inPowerSequence_ = false;   // the power steps apply the groups themselves
    int appliedGroups_ = -1;         // the groups enabled now (-1: never applied)
    boost::signals2::scoped_connection stateFollower_;
    boost::signals2::scoped_connection endFollower_;
    std::thread linkWorker_;
    std::optional<int> linkResult_;
    // Last: its handlers run on the link's reader, which stops before it goes.
    std::unique_ptr<zelbo::app::ProgramFeatures> features_;
};
