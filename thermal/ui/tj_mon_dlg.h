#pragma once
// The Temperature Monitor window: the step list (VREF, MTH, PS, MODE0,
// MODE1), the minutes between steps, the sense resistor and VREF divider of
// the log's currents, Start/Stop, Save Chart, the elapsed time, and the step
// list's files. The run is a MonitorRun; its step timer waits on a worker
// thread and hands each step to the GUI thread, which sends it to the main
// window through stepReady().

#include <functional>
#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include "thermal/monitor.h"
#include "thermal/step_timer.h"
#include "thermal/ui/tj_fin_dlg.h"
#include "widgets/singleton_dlg.h"

class CGridCtrl;

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CTJMonDlg : public CSingletonDlg {
    Q_OBJECT
public:
    // File dialogs: (save?, title, filter, suggested name) -> chosen path or "".
    using FileChooser = std::function<QString(bool save, const QString& title, const QString& filter,
                                              const QString& suggested)>;

    CTJMonDlg(zelbo::MessageService& messages, zelbo::thermal::TemperatureLog& log,
              std::function<std::string()> chipName, QWidget* parent = nullptr);
    ~CTJMonDlg() override;

    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Tests only: seconds per minute of "Time (min)".
    void setTimeScale(double secondsPerMinute) { run_.setSecondsPerMinute(secondsPerMinute); }

    CGridCtrl* grid() const { return grid_; }
    QLineEdit* timeEdit() const { return time_; }
    QLineEdit* rnfEdit() const { return rnf_; }
    QSpinBox* divideSpin() const { return divide_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* saveChartButton() const { return saveChart_; }
    QLabel* elapsedLabel() const { return elapsed_; }
    // Why the last typed step cell was refused; empty when it was taken.
    QLabel* noteLabel() const { return note_; }
    CTjFinDlg* finishDialog() const { return finish_.data(); }
    bool running() const { return run_.running(); }

    std::vector<zelbo::thermal::StepRow> rows() const;
    void setRows(const std::vector<zelbo::thermal::StepRow>& rows);

    // The main window has logged the last step: the log is finished and the
    // completion dialog offers to save it.
    void finishRun();
    // Asked when a run is about to start (its list checked); false keeps it
    // from starting (the gate has told the user why).
    void setStartGate(std::function<bool()> gate) { startGate_ = std::move(gate); }
    // Ends a running run from outside; what was logged stays.
    void stop() { stopRun(); }
    // Save Chart: asks for a name and writes the workbook (or the CSV).
    void exportLog();

    // File menu.
    void newList();
    void openList();
    void saveList();

signals:
    // A step for the main window: `final` ends the run (`record` then is the
    // last step's, or empty after Stop).
    void stepReady(bool final, std::optional<zelbo::thermal::StepRecord> record);

protected:
    // Closing the window ends its run.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void startClicked(bool checked);
    void stopRun();
    void stepDue(); // GUI thread
    void endRunControls();
    void showElapsed();
    void rnfEdited();

    zelbo::thermal::TemperatureLog& log_;
    std::function<std::string()> chipName_;
    FileChooser chooser_;
    std::function<bool()> startGate_;
    zelbo::thermal::MonitorRun run_;
    CGridCtrl* grid_ = nullptr;
    QLineEdit* time_ = nullptr;
    QLineEdit* rnf_ = nullptr;
    QSpinBox* divide_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* saveChart_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QLabel* note_ = nullptr;
    QString lastRnf_ = QStringLiteral("0.20");
    QList<QAction*> menuActions_;
    QTimer elapsedTimer_;
    QElapsedTimer clock_;
    QPointer<CTjFinDlg> finish_;
    // Last: its worker calls into the window until it has been joined.
    std::unique_ptr<zelbo::thermal::StepTimer> timer_;
};
