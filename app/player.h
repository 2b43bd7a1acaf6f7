#pragma once

// Play: hands a file to the desktop's player. What cannot be played is said in a box
// instead of a line on a terminal nobody sees.

#include <QString>

class QWidget;

// Opens the file `name` (relative to the working folder) with the desktop's player; false,
// after a box naming the file, when it does not exist or no player started.
bool playFile(QWidget *owner, const QString &name);
