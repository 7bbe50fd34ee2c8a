#include "app/dlg_progress.h"
#include "widgets/control_ids.h"

#include <algorithm>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>

#include "common/message_service.h"

CDlgProgress::CDlgProgress(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
{
    setObjectName("Progress");
    setWindowTitle(QString::fromUtf8(zelbo::kAppCaption));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("id%1").arg(zelbo::ctl::kProgressBar));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(true);
    bar_->setMinimumHeight(26);

    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("id%1").arg(zelbo::ctl::kProgressText));
    text_->setMinimumWidth(380);

    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(18, 18, 18, 14);
    box->setSpacing(10);
    box->addWidget(bar_);
    box->addWidget(text_);
    setFixedSize(sizeHint().expandedTo(QSize(440, 110)));
}

void CDlgProgress::updateProgress(int step, int steps, const std::optional<QString>& text)
{
    int pos = 0;
    if (steps != 0) pos = static_cast<int>(static_cast<long long>(step) * 100 / steps);
    bar_->setValue(std::clamp(pos, 0, 100));
    if (text && !text->isEmpty()) text_->setText(*text);
}

int CDlgProgress::position() const { return bar_->value(); }
QString CDlgProgress::statusText() const { return text_->text(); }

void CDlgProgress::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred on the screen, in front of the main window.
    if (QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

void CDlgProgress::closeEvent(QCloseEvent* event)
{
    // Only the program hides it.
    event->ignore();
}

void CDlgProgress::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

template <class F> void ProgressReporter::run(F&& f) const
{
    CDlgProgress* d = dialog_.data();
    if (!d) return;
    if (QThread::currentThread() == d->thread()) {
        f(d);
        return;
    }
    QPointer<CDlgProgress> guard(d);
    QMetaObject::invokeMethod(
        d, [guard, f] { if (guard) f(guard.data()); }, Qt::QueuedConnection);
}

void ProgressReporter::show() const
{
    run([](CDlgProgress* d) {
        d->show();
        d->raise();
    });
}

void ProgressReporter::hide() const
{
    run([](CDlgProgress* d) { d->hide(); });
}

void ProgressReporter::update(int step, int steps, std::optional<QString> text) const
{
    run([step, steps, text](CDlgProgress* d) { d->updateProgress(step, steps, text); });
}
