#pragma once
// Colour choice for a trace: nine named colours with a swatch each, then
// "Custom..." which opens the colour dialog. Colours are kept the way the
// settings file stores them (COLORREF, red in the low byte) and handed out
// as trace colours (ARGB, alpha 0xFF).

#include <QColor>
#include <QComboBox>

#include <array>
#include <cstdint>

class CColourPickerCB : public QComboBox {
    Q_OBJECT
public:
    struct NamedColour {
        const char* name;
        std::uint32_t colorRef; // 0x00BBGGRR
    };
    static const std::array<NamedColour, 9>& namedColours();
    static QRgb colorRefToArgb(std::uint32_t colorRef);  // 0x00BBGGRR -> 0xFFRRGGBB
    static std::uint32_t argbToColorRef(QRgb argb);      // 0xFFRRGGBB -> 0x00BBGGRR

    explicit CColourPickerCB(QWidget* parent = nullptr);

    // The selected colour as ARGB (alpha 0xFF).
    QRgb colour() const;
    // Selects the named entry of that colour, or a custom entry showing it.
    void setColour(QRgb argb);

signals:
    // The user picked a colour (a named one or a custom one).
    void colourChosen(QRgb argb);

protected:
    // Asks for a custom colour; an invalid colour means cancelled.
    virtual QColor askCustomColour(const QColor& initial);

private:
    void onActivated(int index);
    int customItem() const;
    int lastIndex_ = 0;
};
