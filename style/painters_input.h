#pragma once

// Flat painters for combo boxes, edits, check boxes and push buttons. Each draws over the
// control's own painting with the record's state and its owner's colour scheme.

class TCanvas;
class TControlSubClass;

void PaintComboBox(TControlSubClass &sub, TCanvas &canvas);
void PaintEdit(TControlSubClass &sub, TCanvas &canvas);
void PaintCheckBox(TControlSubClass &sub, TCanvas &canvas);
void PaintPushButton(TControlSubClass &sub, TCanvas &canvas);
