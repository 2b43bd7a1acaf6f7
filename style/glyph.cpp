#include "style/glyph.h"

#include "style/XPMenu.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

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

QImage glyphCell(const QPixmap &strip, int count, int index)
{
    if (strip.isNull() || count < 1)
        return {};
    const int w = strip.width() / count;
    QImage cell = strip.toImage().copy(index * w, 0, w, strip.height());
    cell.setDevicePixelRatio(strip.devicePixelRatio());
    return cell;
}

QSize glyphCellSize(const QPixmap &strip, int count)
{
    if (strip.isNull() || count < 1)
        return {0, 0};
    const qreal ratio = strip.devicePixelRatio();
    return QSize(qRound(strip.width() / count / ratio), qRound(strip.height() / ratio));
}

qreal paintPixelRatio(const QPainter &painter)
{
    const QTransform &t = painter.deviceTransform();
    return std::max<qreal>(1, std::hypot(t.m11(), t.m12()));
}

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
    g.setDevicePixelRatio(glyph.devicePixelRatio());
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
        const QColor shadow = toQColor(DarkenColor(menu.SchemeSelect, kShadowDarken));
        QImage cast(g.size(), QImage::Format_ARGB32);
        cast.setDevicePixelRatio(g.devicePixelRatio());
        for (int row = 0; row < g.height(); ++row)
            for (int col = 0; col < g.width(); ++col)
                cast.setPixelColor(col, row, mask.pixelIndex(col, row) == 0 ? shadow : QColor(Qt::transparent));
        canvas.painter().drawImage(x + kShadowOffset, y + kShadowOffset, cast);
    }

    for (int row = 0; row < g.height(); ++row) {
        auto *line = reinterpret_cast<QRgb *>(g.scanLine(row));
        for (int col = 0; col < g.width(); ++col)
            if (mask.pixelIndex(col, row) == 1)
                line[col] = qRgba(0, 0, 0, 0);
    }
    canvas.painter().drawImage(x, y, g);
}
