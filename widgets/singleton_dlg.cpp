#include "widgets/singleton_dlg.h"

#include <algorithm>

#include "common/message_service.h"

namespace {
// Only the GUI thread creates, destroys and shows dialogs.
std::vector<CSingletonDlg*>& registry()
{
    static std::vector<CSingletonDlg*> list;
    return list;
}
} // namespace

CSingletonDlg::CSingletonDlg(zelbo::MessageService& messages, QWidget* parent)
    : QDialog(parent), messages_(messages)
{
    registry().push_back(this);
}

CSingletonDlg::~CSingletonDlg()
{
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
}

const std::vector<CSingletonDlg*>& CSingletonDlg::instances() { return registry(); }

bool CSingletonDlg::anyVisible()
{
    const auto& r = registry();
    return std::any_of(r.begin(), r.end(), [](const CSingletonDlg* d) { return d->isVisible(); });
}

bool CSingletonDlg::showSingleton()
{
    if (anyVisible()) {
        messages_.show("Cannot continue. Another dialog is open.", windowTitle().toStdString(),
                       zelbo::MsgIcon::Information);
        return false;
    }
    show();
    raise();
    activateWindow();
    return true;
}
