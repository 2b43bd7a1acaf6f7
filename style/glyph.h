#pragma once

// Drawing a button or menu glyph in its state: faded until the mouse comes over it, grey
// when disabled, raised with a shadow while hot. The colour of the glyph's bottom-left
// pixel is transparent.

#include "style/canvas.h"

#include <QImage>

class TXPMenu;

void DrawGlyph(TCanvas &canvas, const QImage &glyph, const TRect &rect, bool pressed, bool enabled, bool hot,
               bool focused, const TXPMenu &menu);

// Every pixel lightened by percent (LightenColor), its alpha kept.
QImage lightenedImage(const QImage &image, int percent);
// Every pixel turned to grey v, v, v with v = min(240, (r + g + b) div 3 + grayLevel).
QImage grayedImage(const QImage &image, int grayLevel);
