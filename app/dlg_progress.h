#pragma once
// The progress window: the program's splash and busy indicator. Start-up, the
// main window's initialisation and the board bring-up report into it through
// three operations: show, hide and update (step of steps, optional text).
// The window lives on the GUI thread; ProgressReporter lets any thread drive it.

#include <optional>

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;

class CDlgProgress : public QDialog {
    Q_OBJECT
public:
    explicit CDlgProgress(QWidget* parent = nullptr);

    // Bar = floor(step x 100 / steps) (0 when steps is 0), clamped to 0..100;
    // the text replaces the status text only when it is given and not empty.
    void updateProgress(int step, int steps, const std::optional<QString>& text);

    int position() const;
    QString statusText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QProgressBar* bar_;
    QLabel* text_;
};

// Thread-safe handle on the progress window: from the GUI thread the calls act
// at once, from any other thread they are posted in order.
class ProgressReporter {
public:
    explicit ProgressReporter(CDlgProgress* dialog = nullptr) : dialog_(dialog) {}
    void setDialog(CDlgProgress* dialog) { dialog_ = dialog; }

    void show() const;
    void hide() const;
    void update(int step, int steps, std::optional<QString> text = std::nullopt) const;
    void text(const QString& t) const { update(0, 0, t); }

private:
    template <class F> void run(F&& f) const;
    QPointer<CDlgProgress> dialog_;
};
