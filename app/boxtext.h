#pragma once

// Box texts fitted to the screen. A message box cannot wrap a line inside a name without
// spaces, and a name of hundreds of characters (a file, a device description) would make it
// wider than the screen and cut it off; such a name is shown with its middle left out.

#include <QString>

class QFontMetrics;
class QWidget;

// `text` with every quoted name (“...”) and every stretch that cannot be wrapped wider than
// `maxWidth` pixels elided in the middle, so that its start and its end stay readable.
QString elideWideNames(const QString &text, const QFontMetrics &metrics, int maxWidth);

// The widest a name may be in a box on a screen `screenWidth` pixels wide: the width up to
// which a box lays out its text before it wraps.
int boxNameWidth(int screenWidth);

// `text` fitted for a box over `parent` (the primary screen without one), in the font of
// the box's text.
QString fitBoxText(const QString &text, const QWidget *parent);
