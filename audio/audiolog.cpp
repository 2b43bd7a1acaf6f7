#include "audio/audiolog.h"

// Critical is the least severe level on by default; the layer logs nothing that severe.
Q_LOGGING_CATEGORY(lcAudio, "quavrel.audio", QtCriticalMsg)
