#include "app/style.h"

#include "widgets/control_ids.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

void applyInstrumentStyle(QApplication& app)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);

    QPalette p = app.palette();
    p.setColor(QPalette::Window, QColor(0xec, 0xee, 0xf1));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf4, 0xf6, 0xf8));
    p.setColor(QPalette::Button, QColor(0xf7, 0xf8, 0xfa));
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xb3));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9a, 0xa1, 0xa9));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9a, 0xa1, 0xa9));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9a, 0xa1, 0xa9));
    app.setPalette(p);

    // %1 is the power button's object name, %2 the thermometer gauge's.
    app.setStyleSheet(QStringLiteral(R"(
QGroupBox {
    font-weight: bold;
    border: 1px solid #c3c9d1;
    border-radius: 5px;
    margin-top: 14px;
    padding: 8px 6px 6px 6px;
    background: #f6f7f9;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0 4px;
    color: #2c4a6e;
}
QGroupBox QLabel, QGroupBox QRadioButton, QGroupBox QCheckBox, QGroupBox QPushButton,
QGroupBox QComboBox, QGroupBox QLineEdit, QGroupBox QTableWidget { font-weight: normal; }
QLabel#columnTitle { font-weight: bold; color: #34495e; }
QLabel#unit { color: #5d6773; }
QLineEdit { padding: 1px 4px; }
QPushButton:checked {
    background: #cfe0f3; border: 1px solid #2f6fb3; border-radius: 3px; padding: 3px 6px;
}
QLineEdit:read-only { background: #eef1f4; }
QPushButton#%1 {
    font-size: 15px; font-weight: bold; color: white;
    background: #3f8f4f; border: 1px solid #2d6b3a; border-radius: 5px;
}
QPushButton#%1:checked { background: #b8453c; border-color: #8a3029; }
QPushButton#%1:disabled { background: #a9b3ab; border-color: #939c95; color: #eef0ee; }
QFrame#chartFrame { background: #10141a; border: 1px solid #4a5562; border-radius: 3px; }
QLabel#%2 { font-size: 20px; font-weight: bold; color: #2c4a6e; background: white;
                border: 1px solid #c3c9d1; border-radius: 3px; }
QStatusBar QLabel { padding: 0 4px; }
)")
                          .arg(QLatin1String(zelbo::ctl::kObjectNamePrefix) + QString::number(zelbo::ctl::kPower),
                               QLatin1String(zelbo::ctl::kObjectNamePrefix) + QString::number(zelbo::ctl::kThermometer)));
}

QIcon colourSwatch(const QColor& colour)
{
    QPixmap pm(12, 12);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(140));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(0.5, 0.5, 11, 11), 2, 2);
    return QIcon(pm);
}
