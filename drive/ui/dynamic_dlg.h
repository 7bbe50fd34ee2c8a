#pragma once
// "Dynamic Settings": the sequence table of one dynamic window, its File menu
// (New, Open, Save as CSV), the run parameters, Start/Stop and Pause/Continue.
// While a sequence runs the window polls the current row every 25 ms and
// highlights it; the end marker from the board ends the run by itself.
// The board side of a run (the one window that may run, the register
// sequences, the upload) lives behind Hooks, served by the main window.

#include <chrono>
#include <cstdint>
#include <functional>

#include <QDialog>
#include <QTimer>

#include "common/message_service.h"
#include "drive/sequence.h"

class CGridCtrl;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CDynamicDlg : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<int()> runningWindow;                                     // -1: none
        std::function<void(const zelbo::drive::sequence::StartRecord&)> post;   // start or stop request
        std::function<void(int state)> sendPauseState;                          // 192 / 128
        std::function<void()> requestRow;                                       // the 25 ms poll
        std::function<void()> simpleSettings;   // commit the main window's VREF, MTH and CLK again
        std::function<void(int index)> applyRow; // -1: the main window's groups back on
        std::function<void(std::chrono::milliseconds)> sleep;
    };

    CDynamicDlg(int number, zelbo::MessageService& messages, Hooks hooks, QWidget* parent = nullptr);

    int number() const { return number_; }
    bool running() const { return running_; }
    int pauseState() const { return pauseState_; }
    int highlightedRow() const { return highlighted_; } // grid row (0: the first below the header), -1: none
    zelbo::drive::sequence::SequenceTable& table() { return table_; }
    // Redraws the grid from the table.
    void refreshGrid();

    CGridCtrl* grid() const { return grid_; }
    // Why the last typed cell was refused; empty when it was taken.
    QString noteText() const;
    QPushButton* startButton() const { return start_; }
    QPushButton* pauseButton() const { return pause_; }
    QRadioButton* countedRadio() const { return counted_; }
    QRadioButton* infiniteRadio() const { return infinite_; }
    QLineEdit* countField() const { return count_; }
    QLineEdit* delayField() const { return delay_; }
    QAction* newAction() const { return new_; }
    QAction* openAction() const { return open_; }
    QAction* saveAction() const { return save_; }

    // File commands with the path already chosen.
    bool loadFile(const QString& path);
    bool saveFile(const QString& path);

    // The current row index as the board reports it (GUI thread).
    void currentRowReceived(std::int16_t index);
    // Closing the window, running or idle: asks, and on Yes stops, hands the
    // drive back to the main window and hides. Returns whether it hid.
    bool finish();
    // The run ended from outside (power off, closing, a lost board): the
    // window forgets the run and hides, without a question and without a
    // word to the board, whose side the caller has already stopped.
    void abandon();

    static constexpr int kPollMs = 25;
    // The running row's background: the system colour 0xFF9933, which reads
    // 0x00BBGGRR, a light blue (with white text).
    static constexpr QRgb kHighlight = qRgb(0x33, 0x99, 0xFF);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    // File choosers (tests replace them).
    virtual QString askOpenPath();
    virtual QString askSavePath();

private:
    void startToggled(bool on);
    void startRun();
    void stopRun(bool finished);
    void pauseClicked();
    void cellEdited(int row, int column, const QString& text);
    void setRunning(bool running);
    void setStartCheckedQuietly(bool checked);
    void clearHighlight();
    void fileNew();
    void fileOpen();
    void fileSave();
    void error(const char* text, const char* caption = "Error");

    int number_;
    zelbo::MessageService& messages_;
    Hooks hooks_;
    zelbo::drive::sequence::SequenceTable table_;
    CGridCtrl* grid_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* pause_ = nullptr;
    QRadioButton* counted_ = nullptr;
    QRadioButton* infinite_ = nullptr;
    QLineEdit* count_ = nullptr;
    QLineEdit* delay_ = nullptr;
    QAction* new_ = nullptr;
    QAction* open_ = nullptr;
    QAction* save_ = nullptr;
    QTimer poll_;
    bool running_ = false;
    bool waitingForEnd_ = false;
    int pauseState_ = zelbo::drive::sequence::kPauseStateRunning;
    int highlighted_ = -1;
};
