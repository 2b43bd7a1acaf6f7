#pragma once

// Test signals and their analysis: sine tones in, frequency and level estimates out.

#include <cstddef>
#include <cstdint>
#include <vector>

// Interleaved 16-bit sine tone; every channel carries the same tone unless rightHz is given.
std::vector<std::int16_t> makeTone(double hz, int rate, int channels, std::size_t frames,
                                   double amplitude = 12000.0, double rightHz = 0.0);

// One channel out of interleaved samples, from sample frame `first` onward.
std::vector<double> channelOf(const std::vector<std::int16_t> &interleaved, int channels, int channel,
                              std::size_t first = 0);

// Frequency estimated from the rising zero crossings (with a little hysteresis).
double zeroCrossingFrequency(const std::vector<double> &signal, int rate);

// Power of the signal at one frequency (Goertzel), normalised to amplitude^2 / 4 for a pure tone.
double goertzelPower(const std::vector<double> &signal, int rate, double hz);

double rms(const std::vector<double> &signal);
