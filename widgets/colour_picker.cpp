#include "widgets/colour_picker.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kRoleKind = Qt::UserRole + 1; // 0 named, 1 custom colour, 2 "Custom..."

QIcon swatch(QRgb argb)
{
    QPixmap pm(24, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(QColor::fromRgba(argb));
    p.drawRect(0, 0, 23, 13);
    return QIcon(pm);
}

} // namespace

const std::array<CColourPickerCB::NamedColour, 9>& CColourPickerCB::namedColours()
{
    static const std::array<NamedColour, 9> colours{{
        {"Black", 0x000000},
        {"Brown", 0x002966},
        {"Red", 0x0000FF},
        {"Orange", 0x007FFF},
        {"Yellow", 0x00D7FF},
        {"Green", 0x00FF00},
        {"Cyan", 0xFFCC00},
        {"Blue", 0xFF0000},
        {"Fuchsia", 0xFF00FF},
    }};
    return colours;
}

QRgb CColourPickerCB::colorRefToArgb(std::uint32_t c)
{
    return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

std::uint32_t CColourPickerCB::argbToColorRef(QRgb a)
{
    return ((a >> 16) & 0xFFu) | (a & 0xFF00u) | ((a & 0xFFu) << 16);
}

CColourPickerCB::CColourPickerCB(QWidget* parent) : QComboBox(parent)
{
    setIconSize(QSize(24, 14));
    for (const auto& c : namedColours()) {
        const QRgb argb = colorRefToArgb(c.colorRef);
        addItem(swatch(argb), QString::fromLatin1(c.name), QVariant::fromValue<uint>(argb));
        setItemData(count() - 1, 0, kRoleKind);
    }
    addItem(QStringLiteral("Custom..."));
    setItemData(count() - 1, 2, kRoleKind);
    setCurrentIndex(0);
    connect(this, &QComboBox::activated, this, &CColourPickerCB::onActivated);
}

int CColourPickerCB::customItem() const
{
    for (int i = 0; i < count(); ++i)
        if (itemData(i, kRoleKind).toInt() == 1)
            return i;
    return -1;
}

QRgb CColourPickerCB::colour() const
{
    const QVariant v = itemData(currentIndex());
    return v.isValid() ? QRgb(v.toUInt()) | 0xFF000000u : 0xFF000000u;
}

void CColourPickerCB::setColour(QRgb argb)
{
    argb |= 0xFF000000u;
    for (int i = 0; i < count(); ++i) {
        if (itemData(i, kRoleKind).toInt() == 0 && QRgb(itemData(i).toUInt()) == argb) {
            setCurrentIndex(i);
            lastIndex_ = i;
            return;
        }
    }
    int ci = customItem();
    if (ci < 0) {
        ci = count() - 1; // just before "Custom..."
        insertItem(ci, QString());
        setItemData(ci, 1, kRoleKind);
    }
    setItemIcon(ci, swatch(argb));
    setItemText(ci, QColor::fromRgba(argb).name(QColor::HexRgb).toUpper());
    setItemData(ci, QVariant::fromValue<uint>(argb));
    setCurrentIndex(ci);
    lastIndex_ = ci;
}

void CColourPickerCB::onActivated(int index)
{
    if (itemData(index, kRoleKind).toInt() == 2) {
        const QColor c = askCustomColour(QColor::fromRgba(itemData(lastIndex_).toUInt()));
        if (!c.isValid()) {
            setCurrentIndex(lastIndex_);
            return;
        }
        setColour(c.rgb());
        emit colourChosen(colour());
        return;
    }
    lastIndex_ = index;
    emit colourChosen(colour());
}

QColor CColourPickerCB::askCustomColour(const QColor& initial)
{
    return QColorDialog::getColor(initial, this);
}
