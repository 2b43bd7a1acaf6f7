#pragma once

// Level measurement of the monitor's buffers and the meter's bar position.

#include <QString>

#include <cstdint>

// Lowest and highest sample of a buffer and its largest magnitude (0..32768).
struct SamplePeak
{
    std::int32_t lo = 0;
    std::int32_t hi = 0;
    std::int32_t level = 0;
};

// One pass over `count` signed 16-bit samples; a count below 1 gives all zeros.
SamplePeak measureSamples(const std::int16_t *samples, std::int32_t count);

// Bar position 0..100 for a peak magnitude: level x 100 / 32768, halves going to the even
// neighbour (4096 -> 12, 12288 -> 38).
int meterPosition(std::int32_t level);

// The level a voice must pass: the threshold raised by `marginDb` decibels. A margin of 0 is
// the threshold itself; a threshold of 0 or below stays where it is, under every sound.
double soundLine(std::int32_t threshold, int marginDb);

// Whether a peak is sound: above the threshold raised by the margin. Anything else is quiet.
bool isSound(std::int32_t level, std::int32_t threshold, int marginDb);

// A magnitude in dBFS (32768 is 0 dBFS) as the window shows it: one decimal, a real minus
// sign, "−∞" for 0 and below.
QString dbfsText(double level);
