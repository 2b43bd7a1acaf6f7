#include "style/glyph.h"

#include "style/XPMenu.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr int kDisabledLighten = 40;
constexpr int kShadowOffset = 2;
constexpr int kShadowDarken = 50;

template <typename F>
QImage mapPixels(const QImage &image, F f)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const TColor c = f(RGB(qRed(p), qGreen(p), qBlue(p)));
            line[x] = qRgba(GetRValue(c), GetGValue(c), GetBValue(c), qAlpha(p));
        }
    }
    return out;
}

} // namespace

QImage lightenedImage(const QImage &image, int percent)
{
    return mapPixels(image, [percent](TColor c) { return LightenColor(c, percent); });
}

QImage grayedImage(const QImage &image, int grayLevel)
{
    return mapPixels(image, [grayLevel](TColor c) {
        const int v = std::min(240, (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3 + grayLevel);
        return RGB(v, v, v);
    });
}

void DrawGlyph(TCanvas &canvas, const QImage &glyph, const TRect &rect, bool pressed, bool enabled, bool hot,
               bool focused, const TXPMenu &menu)
{
    if (glyph.width() <= 0 || glyph.height() <= 0)
        return;
    int x = rect.left;
    int y = rect.top + 1;
    if (hot && enabled && !pressed && !focused) {
        --x;
        --y;
    }
    QImage g = glyph.convertToFormat(QImage::Format_ARGB32);
    // Which pixels are transparent is read before fading or greying: both can give a
    // glyph pixel the key's new colour (pure red greys exactly like the olive ground).
    const QRgb key = g.pixel(0, g.height() - 1);
    QImage mask(g.size(), QImage::Format_Mono);
    for (int row = 0; row < g.height(); ++row)
        for (int col = 0; col < g.width(); ++col)
            mask.setPixel(col, row, (g.pixel(col, row) == key || qAlpha(g.pixel(col, row)) == 0) ? 1 : 0);

    if (!hot && enabled && !pressed && menu.HighColor)
        g = lightenedImage(g, menu.DimLevel());
    if (!enabled)
        g = lightenedImage(grayedImage(g, menu.GrayLevel()), kDisabledLighten);

    if (hot && enabled && !pressed) {
        const TColor shadow = DarkenColor(menu.SchemeSelect, kShadowDarken);
        for (int row = 0; row < g.height(); ++row)
            for (int col = 0; col < g.width(); ++col)
                if (mask.pixelIndex(col, row) == 0)
                    canvas.setPixel(x + kShadowOffset + col, y + kShadowOffset + row, shadow);
    }

    for (int row = 0; row < g.height(); ++row) {
        auto *line = reinterpret_cast<QRgb *>(g.scanLine(row));
        for (int col = 0; col < g.width(); ++col)
            if (mask.pixelIndex(col, row) == 1)
                line[col] = qRgba(0, 0, 0, 0);
    }
    canvas.painter().drawImage(x, y, g);
}
