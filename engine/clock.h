#pragma once

// The recording clock's texts, and a tick count.
//
// The clock shows the length of the sound in the file, counted in samples, so no tick enters
// it. GetTickCount is a 32-bit millisecond count that wraps about every 49.7 days, so every
// difference of two ticks is taken modulo 2^32. Tests replace the source with
// setTickSource to drive time deterministically.

#include <QString>

#include <cstdint>
#include <functional>

using TickSource = std::function<std::uint32_t()>;

std::uint32_t GetTickCount();

// Replaces the tick source; an empty function restores the monotonic system clock.
void setTickSource(TickSource source);

// Milliseconds from `from` to `to`, correct across one wrap of the 32-bit count.
constexpr std::uint32_t tickDiff(std::uint32_t to, std::uint32_t from)
{
    return to - from;
}

// "h:mm:ss" for a count of whole seconds; the hours are not limited to two digits.
QString formatElapsed(std::uint32_t seconds);

// Bytes as kilobytes with one digit after the point: 1536 -> "1.5kb".
QString formatFileSize(std::uint64_t bytes);
