#pragma once

// Flat painters for speed buttons (drawn whole), panels, group boxes and progress bars.

#include "style/canvas.h"

class TCanvas;
class TControlSubClass;

void PaintSpeedButton(TControlSubClass &sub, TCanvas &canvas);
void PaintPanel(TControlSubClass &sub, TCanvas &canvas);
void PaintGroupBox(TControlSubClass &sub, TCanvas &canvas);
void PaintProgressBar(TControlSubClass &sub, TCanvas &canvas);

// Where a button's glyph and caption go for a layout (TSpeedButton::TButtonLayout) in a
// button of w by h: glyph gw by gh, caption tw by th, sp pixels between them.
struct GlyphLayout {
    TRect glyph;
    TRect text;
};
GlyphLayout layOut(int layout, int w, int h, int gw, int gh, int tw, int th, int sp);
