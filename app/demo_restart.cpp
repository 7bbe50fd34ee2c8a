#include "app/demo_restart.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QProcess>

#include "app/command_line.h"
#include "app/main_window.h"

namespace zelbo::app {

bool startDemoCopy()
{
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), {QStringLiteral("--demo")});
}

} // namespace zelbo::app

void addDemoRestart(CTQ5170xHWPDlg* window, QMenu* file)
{
    QAction* demo = file->addAction(CTQ5170xHWPDlg::tr("Restart in &Demo Mode"));
    demo->setObjectName(QStringLiteral("cmdDemo"));
    demo->setToolTip(CTQ5170xHWPDlg::tr("Start Zelbo again on the simulated board"));
    demo->setVisible(!zelbo::app::demoMode());
    QObject::connect(demo, &QAction::triggered, window, &CTQ5170xHWPDlg::restartInDemoMode);
    // A board in use is not dropped from a menu.
    QObject::connect(window, &CTQ5170xHWPDlg::linkStartFinished, demo,
                     [window, demo](int) { demo->setEnabled(!window->link().active()); });
}

void CTQ5170xHWPDlg::restartInDemoMode()
{
    if (link().active()) return;
    const bool started = setup_.startDemoCopy ? setup_.startDemoCopy() : zelbo::app::startDemoCopy();
    if (!started) {
        messages_->show(tr("The demo could not be started.").toStdString(), zelbo::kAppCaption, zelbo::MsgIcon::Error);
        return;
    }
    // Nothing runs that the question would protect.
    askBeforeClosing_ = false;
    close();
}
