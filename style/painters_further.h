#pragma once

// Flat painters for the kinds our main window does not hold: radio buttons, bitmap
// buttons, up-downs, bordered edits (memos), item views that only get a flat border, and
// hot-key fields.

class TCanvas;
class TControlSubClass;

void PaintRadioButton(TControlSubClass &sub, TCanvas &canvas);
void PaintBitBtn(TControlSubClass &sub, TCanvas &canvas);
void PaintUpDown(TControlSubClass &sub, TCanvas &canvas);
void PaintBorderedEdit(TControlSubClass &sub, TCanvas &canvas);
void PaintWindowBorder(TControlSubClass &sub, TCanvas &canvas);
void PaintHotKey(TControlSubClass &sub, TCanvas &canvas);

// Where the hot half of an up-down of the given height is, for a pointer at y (client
// coordinates): 1 upper, -1 lower, 0 none.
int upDownHotHalf(bool enabled, bool hot, int height, int pointerY);
