#include "style/canvas.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <cstdlib>

namespace {

int qtTextFlags(unsigned format)
{
    int flags = 0;
    if (format & DT_CENTER)
        flags |= Qt::AlignHCenter;
    else if (format & DT_RIGHT)
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    flags |= (format & DT_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop;
    if (format & DT_SINGLELINE)
        flags |= Qt::TextSingleLine;
    if (format & DT_EXPANDTABS)
        flags |= Qt::TextExpandTabs;
    // Qt consumes "&" under either mnemonic flag; only without both is it plain text.
    if (!(format & DT_NOPREFIX))
        flags |= Qt::TextShowMnemonic;
    return flags;
}

} // namespace

int screenBitsPerPixel(const QWidget *widget)
{
    QScreen *screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : kDefaultBitsPerPixel;
}

TCanvas::TCanvas(QPainter &painter) : FPainter(painter)
{
    FPainter.setRenderHint(QPainter::Antialiasing, false);
    FPainter.setRenderHint(QPainter::TextAntialiasing, true);
}

void TCanvas::span(int x, int y, int w, int h, TColor color)
{
    if (w > 0 && h > 0)
        FPainter.fillRect(QRect(x, y, w, h), toQColor(color));
}

void TCanvas::fillRect(const TRect &r)
{
    span(r.left, r.top, r.width(), r.height(), FBrush);
}

void TCanvas::frameRect(const TRect &r)
{
    if (r.isEmpty())
        return;
    span(r.left, r.top, r.width(), 1, FBrush);
    span(r.left, r.bottom - 1, r.width(), 1, FBrush);
    span(r.left, r.top, 1, r.height(), FBrush);
    span(r.right - 1, r.top, 1, r.height(), FBrush);
}

void TCanvas::rectangle(const TRect &r)
{
    if (r.isEmpty())
        return;
    if (!FHollow)
        span(r.left + 1, r.top + 1, r.width() - 2, r.height() - 2, FBrush);
    span(r.left, r.top, r.width(), 1, FPen);
    span(r.left, r.bottom - 1, r.width(), 1, FPen);
    span(r.left, r.top, 1, r.height(), FPen);
    span(r.right - 1, r.top, 1, r.height(), FPen);
}

void TCanvas::roundRect(const TRect &r, int cw, int ch)
{
    if (r.isEmpty())
        return;
    // Small corners come out as a chamfer of c pixels along each edge.
    const int c = std::max(0, std::min({cw, ch, r.width(), r.height()}) / 2);
    if (!FHollow)
        span(r.left + 1, r.top + 1, r.width() - 2, r.height() - 2, FBrush);
    span(r.left + c, r.top, r.width() - 2 * c, 1, FPen);
    span(r.left + c, r.bottom - 1, r.width() - 2 * c, 1, FPen);
    span(r.left, r.top + c, 1, r.height() - 2 * c, FPen);
    span(r.right - 1, r.top + c, 1, r.height() - 2 * c, FPen);
    for (int k = 1; k < c; ++k) {
        span(r.left + k, r.top + c - k, 1, 1, FPen);
        span(r.right - 1 - k, r.top + c - k, 1, 1, FPen);
        span(r.left + k, r.bottom - 1 - c + k, 1, 1, FPen);
        span(r.right - 1 - k, r.bottom - 1 - c + k, 1, 1, FPen);
    }
    // Corner pixels outside the chamfer belong to what lay underneath.
}

void TCanvas::ellipse(const TRect &r)
{
    if (r.isEmpty())
        return;
    FPainter.save();
    FPainter.setPen(QPen(toQColor(FPen), 1));
    FPainter.setBrush(FHollow ? QBrush(Qt::NoBrush) : QBrush(toQColor(FBrush)));
    FPainter.drawEllipse(QRect(r.left, r.top, r.width() - 1, r.height() - 1));
    FPainter.restore();
}

void TCanvas::lineTo(int x, int y)
{
    const QPoint from = FPos;
    FPos = QPoint(x, y);
    if (from.y() == y) {
        const int x0 = from.x() < x ? from.x() : x + 1;
        span(x0, y, std::abs(x - from.x()), 1, FPen);
        return;
    }
    if (from.x() == x) {
        const int y0 = from.y() < y ? from.y() : y + 1;
        span(x, y0, 1, std::abs(y - from.y()), FPen);
        return;
    }
    // Bresenham, stopping short of the end point.
    int x0 = from.x(), y0 = from.y();
    const int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1;
    const int dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    while (x0 != x || y0 != y) {
        span(x0, y0, 1, 1, FPen);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void TCanvas::line(QPoint from, QPoint to)
{
    moveTo(from.x(), from.y());
    lineTo(to.x(), to.y());
}

void TCanvas::polyline(std::initializer_list<QPoint> points)
{
    bool first = true;
    for (const QPoint &p : points) {
        if (first)
            moveTo(p.x(), p.y());
        else
            lineTo(p.x(), p.y());
        first = false;
    }
}

void TCanvas::setPixel(int x, int y, TColor color)
{
    span(x, y, 1, 1, color);
}

QSize TCanvas::textExtent(const QString &text, unsigned format) const
{
    if (text.isEmpty())
        return {0, 0};
    const QFontMetrics fm(FFont);
    return fm.boundingRect(QRect(), qtTextFlags(format & ~(DT_CENTER | DT_RIGHT | DT_VCENTER)), text).size();
}

void TCanvas::drawText(const QString &text, const TRect &r, unsigned format)
{
    FPainter.save();
    FPainter.setFont(FFont);
    FPainter.setPen(toQColor(FFontColor));
    FPainter.setBackgroundMode(Qt::TransparentMode);
    FPainter.setLayoutDirection((format & DT_RTLREADING) ? Qt::RightToLeft : Qt::LeftToRight);
    FPainter.drawText(r.toQRect(), qtTextFlags(format), text);
    FPainter.restore();
}

void BevelFrame(TCanvas &canvas, TRect &r, TColor topColor, TColor bottomColor, int width)
{
    --r.right;
    --r.bottom;
    for (int i = 0; i < width; ++i) {
        canvas.setPen(topColor);
        canvas.polyline({{r.left, r.bottom}, {r.left, r.top}, {r.right, r.top}});
        canvas.setPen(bottomColor);
        canvas.polyline({{r.right, r.top}, {r.right, r.bottom}, {r.left - 1, r.bottom}});
        r.inflate(-1, -1);
    }
    ++r.right;
    ++r.bottom;
}

void DrawCaptionText(TCanvas &canvas, const QString &caption, const QFont &font, TColor fontColor,
                     TColor disabledColor, unsigned format, const TRect &r, bool enabled)
{
    canvas.setFont(font, enabled ? fontColor : disabledColor);
    canvas.drawText(caption, r, format | DT_EXPANDTABS);
}
