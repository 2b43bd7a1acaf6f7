#pragma once

// Flat painters for combo boxes, edits, check boxes and push buttons. Each draws over the
// control's own painting with the record's state and its owner's colour scheme.

#include "style/colors.h"

class QColor;
class QComboBox;
class QFont;
class QPainter;
class QString;
class TCanvas;
struct TRect;
class TControlSubClass;

void PaintComboBox(TControlSubClass &sub, TCanvas &canvas);
// Where a combo box shows its current item: from three pixels in up to the divider of
// its button.
TRect comboLabelRect(const QComboBox *combo);
void PaintEdit(TControlSubClass &sub, TCanvas &canvas);
void PaintCheckBox(TControlSubClass &sub, TCanvas &canvas);
void PaintPushButton(TControlSubClass &sub, TCanvas &canvas);

// The shaded inner edge of a rounded push button: along the top and left when pressed, along
// the bottom and right otherwise.
void DrawButtonEdge(TCanvas &canvas, const TRect &r, TColor base, bool pressed);
// The keyboard focus: a dotted rectangle a little inside the button's edge.
void DrawFocusMark(TCanvas &canvas, TRect r, TColor color);
// The check box's tick with its lower left corner at (x, y), as one smooth stroke for
// screens scaled above 1.
void DrawSmoothCheckMark(QPainter &painter, int x, int y, const QColor &color);
// A default button's caption stands in a soft shadow, darker toward the lower right.
void DrawDefaultCaptionHalo(TCanvas &canvas, const QString &caption, const QFont &font, TColor face,
                            unsigned format, const TRect &text);
