#pragma once

// A drawing surface with the semantics the flat painters are written in: rectangles whose
// right and bottom edges lie outside them, lines that leave out their end point, frames
// drawn one pixel inside a rectangle, and a pen, a brush and a font set before drawing.

#include "style/colors.h"

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <initializer_list>

class QPainter;
class QWidget;

// Fixed counterpart of a system value: the thumb width of a scroll bar at 96 pixels per
// inch (sizes the combo button and the check box).
constexpr int kThumbWidth = 16;
// The colour depth assumed while there is no screen to ask.
constexpr int kDefaultBitsPerPixel = 32;

// Bits per pixel of the screen the widget is shown on (the primary screen for none).
int screenBitsPerPixel(const QWidget *widget);

// Text format flags of the painters.
constexpr unsigned DT_LEFT = 0x0;
constexpr unsigned DT_CENTER = 0x1;
constexpr unsigned DT_RIGHT = 0x2;
constexpr unsigned DT_VCENTER = 0x4;
constexpr unsigned DT_SINGLELINE = 0x20;
constexpr unsigned DT_EXPANDTABS = 0x40;
constexpr unsigned DT_CALCRECT = 0x400;
constexpr unsigned DT_NOPREFIX = 0x800;
constexpr unsigned DT_RTLREADING = 0x20000;

struct TRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    // Grows the rectangle by dx on the left and right and by dy at the top and bottom;
    // negative values shrink it.
    constexpr void inflate(int dx, int dy)
    {
        left -= dx;
        right += dx;
        top -= dy;
        bottom += dy;
    }
    constexpr bool operator==(const TRect &) const = default;
    QRect toQRect() const { return QRect(left, top, width(), height()); }
    static TRect fromQRect(const QRect &r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
};

class TCanvas
{
public:
    explicit TCanvas(QPainter &painter);

    QPainter &painter() { return FPainter; }

    void setPen(TColor color) { FPen = color; }
    TColor pen() const { return FPen; }
    void setBrush(TColor color)
    {
        FBrush = color;
        FHollow = false;
    }
    void setHollowBrush() { FHollow = true; }
    TColor brush() const { return FBrush; }
    void setFont(const QFont &font, TColor color)
    {
        FFont = font;
        FFontColor = color;
    }
    const QFont &font() const { return FFont; }

    void fillRect(const TRect &r);
    // A one-pixel outline in the brush colour just inside r.
    void frameRect(const TRect &r);
    // A one-pixel pen outline just inside r, its inside in the brush unless it is hollow.
    void rectangle(const TRect &r);
    // As rectangle, with corners cut along a quarter of an ellipse of cw by ch pixels.
    void roundRect(const TRect &r, int cw, int ch);
    void ellipse(const TRect &r);
    void moveTo(int x, int y) { FPos = QPoint(x, y); }
    // A pen line from the current position to (x, y), leaving (x, y) itself unset.
    void lineTo(int x, int y);
    void line(QPoint from, QPoint to);
    void polyline(std::initializer_list<QPoint> points);
    void setPixel(int x, int y, TColor color);

    // The size the text takes in the current font with the given format.
    QSize textExtent(const QString &text, unsigned format) const;
    void drawText(const QString &text, const TRect &r, unsigned format);

private:
    void span(int x, int y, int w, int h, TColor color);

    QPainter &FPainter;
    TColor FPen = clBlack;
    TColor FBrush = clWhite;
    bool FHollow = false;
    QFont FFont;
    TColor FFontColor = clBlack;
    QPoint FPos;
};

// Draws a bevel of the given width inside r, top and left lines in the top colour, right
// and bottom ones in the bottom colour; r comes back shrunk by the width.
void BevelFrame(TCanvas &canvas, TRect &r, TColor topColor, TColor bottomColor, int width);

// Draws a caption transparently in the font's colour, or in the disabled colour when the
// control is disabled; tabs are expanded.
void DrawCaptionText(TCanvas &canvas, const QString &caption, const QFont &font, TColor fontColor,
                     TColor disabledColor, unsigned format, const TRect &r, bool enabled);
