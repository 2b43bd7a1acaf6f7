#include "app/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>

namespace {

const QColor kDisabledLight(0xff, 0xff, 0xff);
const QColor kDisabledShadow(0x80, 0x80, 0x80);

QImage blankStrip(int images, int scale)
{
    QImage img(16 * images * scale, 16 * scale, QImage::Format_RGB32);
    img.fill(kGlyphTransparent);
    img.setDevicePixelRatio(scale);
    return img;
}

// Paints one motif into the 16 x 16 cell at x0; `face`/`rim` are its colours.
void paintRecord(QPainter &p, int x0, const QColor &face, const QColor &rim)
{
    p.setPen(QPen(rim, 1));
    p.setBrush(face);
    p.drawEllipse(QRectF(x0 + 2.5, 2.5, 11, 11));
}

void paintPlay(QPainter &p, int x0, const QColor &face, const QColor &rim)
{
    p.setPen(QPen(rim, 1));
    p.setBrush(face);
    const QPolygonF tri{QPointF(x0 + 4.5, 2.5), QPointF(x0 + 13.5, 8), QPointF(x0 + 4.5, 13.5)};
    p.drawPolygon(tri);
}

void paintPause(QPainter &p, int x0, const QColor &face, const QColor &rim)
{
    p.setPen(QPen(rim, 1));
    p.setBrush(face);
    p.drawRect(QRectF(x0 + 3.5, 2.5, 3, 11));
    p.drawRect(QRectF(x0 + 9.5, 2.5, 3, 11));
}

void paintStop(QPainter &p, int x0, const QColor &face, const QColor &rim)
{
    p.setPen(QPen(rim, 1));
    p.setBrush(face);
    p.drawRect(QRectF(x0 + 3.5, 3.5, 9, 9));
}

void paintContinue(QPainter &p, int x0, const QColor &bar, const QColor &face, const QColor &rim)
{
    p.setPen(QPen(rim, 1));
    p.setBrush(bar);
    p.drawRect(QRectF(x0 + 2.5, 2.5, 3, 11));
    p.setBrush(face);
    const QPolygonF tri{QPointF(x0 + 7.5, 2.5), QPointF(x0 + 14.5, 8), QPointF(x0 + 7.5, 13.5)};
    p.drawPolygon(tri);
}

// The disabled picture: the motif embossed in grey, as disabled glyphs look.
template<typename Paint>
void paintDisabled(QPainter &p, int x0, Paint paint)
{
    paint(p, x0 + 1, 1, kDisabledLight, kDisabledLight);
    paint(p, x0, 0, kDisabledShadow, kDisabledShadow);
}

} // namespace

int glyphImageCount(TGlyph glyph)
{
    switch (glyph) {
    case TGlyph::Record:
    case TGlyph::Play:
    case TGlyph::Stop:
        return 2;
    case TGlyph::Pause:
    case TGlyph::Continue:
        return 1;
    }
    return 1;
}

QImage glyphBitmap(TGlyph glyph, int scale)
{
    QImage img = blankStrip(glyphImageCount(glyph), std::max(1, scale));
    // Drawn in 16-pixel units; the image's pixel ratio scales the motif onto its pixels.
    QPainter p(&img);
    // Edges stay crisp: antialiasing would blend into the olive key colour.
    p.setRenderHint(QPainter::Antialiasing, false);
    auto disabled = [&](auto motif) {
        paintDisabled(p, 16, [&](QPainter &pp, int x, int dy, const QColor &face, const QColor &rim) {
            pp.save();
            pp.translate(0, dy);
            motif(pp, x, face, rim);
            pp.restore();
        });
    };
    switch (glyph) {
    case TGlyph::Record:
        paintRecord(p, 0, QColor(0xe0, 0x10, 0x10), QColor(0x60, 0x00, 0x00));
        disabled(paintRecord);
        break;
    case TGlyph::Play:
        paintPlay(p, 0, QColor(0x10, 0xb0, 0x10), QColor(0x00, 0x50, 0x00));
        disabled(paintPlay);
        break;
    case TGlyph::Pause:
        paintPause(p, 0, QColor(0xe0, 0x10, 0x10), QColor(0x60, 0x00, 0x00));
        break;
    case TGlyph::Stop:
        paintStop(p, 0, QColor(0x10, 0x30, 0xe0), QColor(0x00, 0x00, 0x60));
        disabled(paintStop);
        break;
    case TGlyph::Continue:
        paintContinue(p, 0, QColor(0xe0, 0x10, 0x10), QColor(0x10, 0xb0, 0x10), QColor(0x20, 0x20, 0x20));
        break;
    }
    return img;
}

QPixmap transparentBitmap(const QImage &bitmap)
{
    QImage img = bitmap.convertToFormat(QImage::Format_ARGB32);
    img.setDevicePixelRatio(bitmap.devicePixelRatio());
    const QRgb key = img.pixel(0, img.height() - 1) & 0x00ffffff;
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((line[x] & 0x00ffffff) == key)
                line[x] = 0;
    }
    return QPixmap::fromImage(img);
}

QPixmap glyphPixmap(TGlyph glyph, int scale)
{
    return transparentBitmap(glyphBitmap(glyph, scale));
}

QImage applicationIconImage()
{
    QImage img(48, 48, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);

    // Blue-green ground.
    QLinearGradient ground(0, 0, 48, 48);
    ground.setColorAt(0, QColor(0x2a, 0xb0, 0xa8));
    ground.setColorAt(1, QColor(0x0b, 0x5e, 0x6e));
    p.setPen(Qt::NoPen);
    p.setBrush(ground);
    p.drawRoundedRect(QRectF(1, 1, 46, 46), 7, 7);

    // The cable, leaving the foot of the stand and curling to the right.
    QPainterPath cable;
    cable.moveTo(24, 43);
    cable.cubicTo(30, 46, 36, 38, 42, 44);
    p.setPen(QPen(QColor(0x15, 0x15, 0x15), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(cable);

    // Stand: a base, a pole and a fork holding the microphone.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x30, 0x34));
    p.drawRoundedRect(QRectF(13, 41, 22, 4), 2, 2);
    p.setBrush(QColor(0x9a, 0x9e, 0xa4));
    p.drawRect(QRectF(22.5, 30, 3, 12));
    p.setPen(QPen(QColor(0x9a, 0x9e, 0xa4), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(13, 14, 22, 18), 180 * 16, 180 * 16);

    // The microphone head: a capsule with a grille.
    QLinearGradient metal(15, 0, 33, 0);
    metal.setColorAt(0, QColor(0x8c, 0x92, 0x9a));
    metal.setColorAt(0.45, QColor(0xf4, 0xf6, 0xf8));
    metal.setColorAt(1, QColor(0x6a, 0x70, 0x78));
    p.setPen(QPen(QColor(0x2a, 0x2e, 0x34), 1.2));
    p.setBrush(metal);
    p.drawRoundedRect(QRectF(16, 4, 16, 25), 8, 8);
    p.setPen(QPen(QColor(0x4a, 0x50, 0x58), 0.8));
    for (int y = 9; y <= 19; y += 3)
        p.drawLine(QPointF(18, y), QPointF(30, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x30, 0x34));
    p.drawRect(QRectF(16.5, 22, 15, 3));
    p.end();

    // 256 colours, as the icon resource holds; transparency survives in the colour table.
    return img.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither | Qt::PreferDither);
}

QIcon applicationIcon()
{
    return QIcon(QPixmap::fromImage(applicationIconImage()));
}
