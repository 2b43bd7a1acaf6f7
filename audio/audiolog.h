#pragma once
// The audio layer's log: server connections made and lost, starts and stops the server did
// not answer in time, sources coming and going. Off, warnings included, unless the user turns
// it on, for example QT_LOGGING_RULES="quavrel.audio=true": the program's only outputs are
// its files.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAudio)
