#include "style/colors.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>

namespace {

// x * percent / 100 rounded to the nearest integer, halves to the even neighbour.
int scaledRoundEven(int x, int percent)
{
    const int n = x * percent;
    int q = n / 100;
    const int r = n % 100;
    if (r > 50 || (r == 50 && (q & 1)))
        ++q;
    return q;
}

int lightenChannel(int x, int percent)
{
    return x + scaledRoundEven(255 - x, percent);
}

int clampChannel(int x)
{
    return std::clamp(x, 0, 255);
}

} // namespace

TColor GetSysColor(int index)
{
    const QPalette pal = QGuiApplication::palette();
    QColor c;
    switch (index) {
    case COLOR_INACTIVECAPTION:
        // The highlight as it looks where it cannot be used: a dimmed caption.
        c = pal.color(QPalette::Disabled, QPalette::Highlight);
        break;
    case COLOR_MENU:
        c = pal.color(QPalette::Active, QPalette::Window);
        break;
    case COLOR_WINDOW:
        c = pal.color(QPalette::Active, QPalette::Base);
        break;
    case COLOR_MENUTEXT:
    case COLOR_WINDOWTEXT:
        c = pal.color(QPalette::Active, QPalette::WindowText);
        break;
    case COLOR_HIGHLIGHT:
        c = pal.color(QPalette::Active, QPalette::Highlight);
        break;
    case COLOR_HIGHLIGHTTEXT:
        c = pal.color(QPalette::Active, QPalette::HighlightedText);
        break;
    case COLOR_BTNFACE:
        c = pal.color(QPalette::Active, QPalette::Button);
        break;
    case COLOR_BTNSHADOW:
        c = pal.color(QPalette::Active, QPalette::Dark);
        break;
    case COLOR_GRAYTEXT:
        c = pal.color(QPalette::Disabled, QPalette::WindowText);
        break;
    case COLOR_BTNTEXT:
        c = pal.color(QPalette::Active, QPalette::ButtonText);
        break;
    case COLOR_BTNHIGHLIGHT:
        c = pal.color(QPalette::Active, QPalette::Light);
        break;
    case COLOR_3DDKSHADOW:
        c = pal.color(QPalette::Active, QPalette::Shadow);
        break;
    default:
        return clBlack;
    }
    return RGB(c.red(), c.green(), c.blue());
}

TColor ColorToRGB(TColor color)
{
    return isSystemColor(color) ? GetSysColor(int(color & 0xFF)) : (color & 0xFFFFFF);
}

TColor LightenColor(TColor color, int percent)
{
    const TColor rgb = ColorToRGB(color);
    percent = std::clamp(percent, 0, 100);
    return RGB(lightenChannel(GetRValue(rgb), percent), lightenChannel(GetGValue(rgb), percent),
               lightenChannel(GetBValue(rgb), percent));
}

TColor DarkenColor(TColor color, int amount)
{
    const TColor rgb = ColorToRGB(color);
    // Green comes out two steps lighter than the other channels; the flat look relies on it.
    return RGB(clampChannel(GetRValue(rgb) - amount), clampChannel(GetGValue(rgb) - amount + 2),
               clampChannel(GetBValue(rgb) - amount));
}

TColor AverageColor(std::span<const TColor> colors)
{
    if (colors.empty())
        return clBlack;
    const int n = int(colors.size());
    int r = 0, g = 0, b = 0;
    for (TColor c : colors) {
        const TColor rgb = ColorToRGB(c);
        r += GetRValue(rgb) / n;
        g += GetGValue(rgb) / n;
        b += GetBValue(rgb) / n;
    }
    return RGB(r % 256, g % 256, b % 256);
}

QColor toQColor(TColor color)
{
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TColor fromQColor(const QColor &color)
{
    return RGB(color.red(), color.green(), color.blue());
}
