#pragma once

// Input events sent straight to a control, as the window system would deliver them.

class QWidget;

void sendEnter(QWidget *w);
void sendLeave(QWidget *w);
void sendPress(QWidget *w, int x = 5, int y = 5);
void sendRelease(QWidget *w, int x = 5, int y = 5);
// A move with the left button held, as Qt delivers it to the control that took the press.
void sendHeldMove(QWidget *w, int x, int y);
void sendDoubleClick(QWidget *w, int x = 5, int y = 5);
void sendSpace(QWidget *w, bool press, bool autoRepeat = false);
