#include "thermal/ui/tj_fin_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

CTjFinDlg::CTjFinDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CTjFinDlg"));
    setWindowTitle(tr("Temperature Monitor"));
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto* text = new QLabel(tr("Temperature monitoring finished successfully."), this);
    save_ = new QPushButton(tr("Save Chart"), this);
    save_->setObjectName(QStringLiteral("saveChart"));
    save_->setDefault(true);
    discard_ = new QPushButton(tr("Discard Chart"), this);
    discard_->setObjectName(QStringLiteral("discardChart"));
    connect(save_, &QPushButton::clicked, this, &QDialog::accept);
    connect(discard_, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(discard_);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(buttons);
}
