#pragma once

// Colour values as the styling stores them: 32 bits, either an RGB value (red in the low
// byte, then green, then blue) or, with the high byte 0xFF, a system colour whose index is
// in the low byte. System colours are resolved through the application palette.

#include <QColor>
#include <QtGlobal>

#include <initializer_list>
#include <span>

using TColor = quint32;

enum TSysColorIndex : int {
    COLOR_INACTIVECAPTION = 3,
    COLOR_MENU = 4,
    COLOR_WINDOW = 5,
    COLOR_MENUTEXT = 7,
    COLOR_WINDOWTEXT = 8,
    COLOR_HIGHLIGHT = 13,
    COLOR_HIGHLIGHTTEXT = 14,
    COLOR_BTNFACE = 15,
    COLOR_BTNSHADOW = 16,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DDKSHADOW = 21,
};

constexpr TColor clSystemColor = 0xFF000000u;
constexpr TColor sysColor(int index) { return clSystemColor | TColor(index & 0xFF); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clGray = 0x808080;
constexpr TColor clMagenta = 0xFF00FF;
constexpr TColor clBtnFace = sysColor(COLOR_BTNFACE);
constexpr TColor clHighlight = sysColor(COLOR_HIGHLIGHT);
constexpr TColor clBtnShadow = sysColor(COLOR_BTNSHADOW);
constexpr TColor clWindow = sysColor(COLOR_WINDOW);
constexpr TColor clInactiveCaption = sysColor(COLOR_INACTIVECAPTION);
constexpr TColor clMenuText = sysColor(COLOR_MENUTEXT);

constexpr TColor RGB(int red, int green, int blue)
{
    return TColor(red & 0xFF) | (TColor(green & 0xFF) << 8) | (TColor(blue & 0xFF) << 16);
}
constexpr int GetRValue(TColor rgb) { return int(rgb & 0xFF); }
constexpr int GetGValue(TColor rgb) { return int((rgb >> 8) & 0xFF); }
constexpr int GetBValue(TColor rgb) { return int((rgb >> 16) & 0xFF); }
constexpr bool isSystemColor(TColor color) { return (color & 0xFF000000u) == clSystemColor; }

// The RGB value of a system colour, taken from the application palette (black for an
// index the palette has no counterpart for).
TColor GetSysColor(int index);
// An RGB value as it is: a system colour resolved, the high byte of anything else dropped.
TColor ColorToRGB(TColor color);

TColor LightenColor(TColor color, int percent);
TColor DarkenColor(TColor color, int amount);
TColor AverageColor(std::span<const TColor> colors);
inline TColor AverageColor(std::initializer_list<TColor> colors)
{
    return AverageColor(std::span<const TColor>(colors.begin(), colors.size()));
}

QColor toQColor(TColor color);
TColor fromQColor(const QColor &color);
