#pragma once

// The system's own error texts (strerror, the sound server's) may be English or terse; a box
// that shows one opens with a Chinese sentence that says what to do about it.

#include <QString>

// What the user can do when a file could not be created or written, for the errno `code`.
QString fileErrorAdvice(int code);
// `intro` (a Chinese sentence), then the system's `reason` on a line of its own.
QString withSystemReason(const QString &intro, const QString &reason);
// A device that could not be opened or started: `what` failed, what to do, then `reason`.
QString deviceErrorText(const QString &what, const QString &reason);
// The error of a file that could not be written: the advice first, then `message`.
QString fileWriteErrorText(int code, const QString &message);
