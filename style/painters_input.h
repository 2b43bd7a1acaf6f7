#pragma once

// Flat painters for combo boxes, edits, check boxes and push buttons. Each draws over the
// control's own painting with the record's state and its owner's colour scheme.

#include "style/colors.h"

class TCanvas;
struct TRect;
class TControlSubClass;

void PaintComboBox(TControlSubClass &sub, TCanvas &canvas);
void PaintEdit(TControlSubClass &sub, TCanvas &canvas);
void PaintCheckBox(TControlSubClass &sub, TCanvas &canvas);
void PaintPushButton(TControlSubClass &sub, TCanvas &canvas);

// The shaded inner edge of a rounded push button: along the top and left when pressed, along
// the bottom and right otherwise.
void DrawButtonEdge(TCanvas &canvas, const TRect &r, TColor base, bool pressed);
