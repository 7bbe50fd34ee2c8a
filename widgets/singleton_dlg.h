#pragma once
// Dialogs of which only one may be open at a time. Every live instance is in
// one process-wide list; showing one through showSingleton() refuses while any
// listed dialog is visible and tells the user why.

#include <vector>

#include <QDialog>

namespace zelbo {
class MessageService;
}

class CSingletonDlg : public QDialog {
    Q_OBJECT
public:
    CSingletonDlg(zelbo::MessageService& messages, QWidget* parent = nullptr);
    ~CSingletonDlg() override;

    // Shows the dialog (modeless) unless a listed dialog is already visible;
    // then shows "Cannot continue. Another dialog is open." with this dialog's
    // title as caption instead. Returns whether the dialog was shown.
    bool showSingleton();

    // True when any listed dialog is visible.
    static bool anyVisible();
    static const std::vector<CSingletonDlg*>& instances();

protected:
    zelbo::MessageService& messages() const { return messages_; }

private:
    zelbo::MessageService& messages_;
};
