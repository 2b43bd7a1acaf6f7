#pragma once

// Drawing a button or menu glyph in its state: faded until the mouse comes over it, grey
// when disabled, raised with a shadow while hot. The colour of the glyph's bottom-left
// pixel is transparent.

#include "style/canvas.h"

#include <QImage>
#include <QPixmap>
#include <QSize>

class QPainter;
class TXPMenu;

// A glyph with a device pixel ratio above 1 is drawn at its logical size, so a strip made at
// twice the size stays sharp on a screen scaled by 1.5 or 2.

void DrawGlyph(TCanvas &canvas, const QImage &glyph, const TRect &rect, bool pressed, bool enabled, bool hot,
               bool focused, const TXPMenu &menu);

// Image `index` (0-based) of a strip of `count` images side by side, at the strip's pixel ratio.
QImage glyphCell(const QPixmap &strip, int count, int index);
// The logical size of one image of a strip of `count`.
QSize glyphCellSize(const QPixmap &strip, int count);
// Device pixels per logical pixel of what the painter draws on (a redirected widget
// painter reports the widget, not the pixmap it really paints, as its device).
qreal paintPixelRatio(const QPainter &painter);

// Every pixel lightened by percent (LightenColor), its alpha kept.
QImage lightenedImage(const QImage &image, int percent);
// Every pixel turned to grey v, v, v with v = min(240, (r + g + b) div 3 + grayLevel).
QImage grayedImage(const QImage &image, int grayLevel);
