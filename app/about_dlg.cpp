#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include "common/build_info.h"
#include "common/message_service.h"

namespace {
constexpr const char* kVersion = zelbo::build::kVersion;
}

QString CAboutDlg::versionText()
{
    return QString::fromUtf8(zelbo::kAppCaption) + QStringLiteral("\nVersion ") + QString::fromLatin1(kVersion);
}

QString CAboutDlg::builtText()
{
    return QStringLiteral("Built : ") + QStringLiteral(__DATE__) + QLatin1Char(' ') + QStringLiteral(__TIME__);
}

QString CAboutDlg::demoText()
{
    return tr("Without a board: start \"zelbo --demo\", or choose File > Restart in Demo Mode, "
              "to run on the simulated board.");
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("About");
    setWindowTitle(tr("About Zelbo"));

    auto* icon = new QLabel(this);
    icon->setPixmap(zelboIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* version = new QLabel(versionText(), this);
    version->setObjectName("version");
    QFont f = version->font();
    f.setBold(true);
    version->setFont(f);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* built = new QLabel(builtText(), this);
    built->setObjectName("built");

    auto* demo = new QLabel(demoText(), this);
    demo->setObjectName("demo");
    demo->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(20, 20, 20, 14);
    grid->setHorizontalSpacing(18);
    grid->addWidget(icon, 0, 0, 2, 1);
    grid->addWidget(version, 0, 1);
    grid->addWidget(built, 1, 1);
    grid->addWidget(demo, 2, 1);
    grid->addWidget(buttons, 3, 0, 1, 2);
    setFixedSize(sizeHint().expandedTo(QSize(360, 150)));
}

QIcon zelboIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        // A rounded dark plate with a stepping waveform across it.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x3a, 0x5f));
        p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
        QPainterPath wave;
        const qreal l = s * 0.15, r = s * 0.85, top = s * 0.28, bot = s * 0.72;
        const qreal stepW = (r - l) / 6;
        const qreal levels[] = {bot, (bot + top) / 2, top, top, (bot + top) / 2, bot};
        wave.moveTo(l, bot);
        for (int i = 0; i < 6; ++i) {
            wave.lineTo(l + i * stepW, levels[i]);
            wave.lineTo(l + (i + 1) * stepW, levels[i]);
        }
        QPen pen(QColor(0x7f, 0xe0, 0x8a));
        pen.setWidthF(std::max(1.5, s / 14));
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
