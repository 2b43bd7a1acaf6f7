#pragma once

// Flat painters for speed buttons (drawn whole), panels, group boxes and progress bars.

class TCanvas;
class TControlSubClass;

void PaintSpeedButton(TControlSubClass &sub, TCanvas &canvas);
void PaintPanel(TControlSubClass &sub, TCanvas &canvas);
void PaintGroupBox(TControlSubClass &sub, TCanvas &canvas);
void PaintProgressBar(TControlSubClass &sub, TCanvas &canvas);
