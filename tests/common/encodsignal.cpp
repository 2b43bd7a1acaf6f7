#include "common/encodsignal.h"

#include <cmath>
#include <numbers>

std::vector<std::int16_t> makeTone(double hz, int rate, int channels, std::size_t frames, double amplitude,
                                   double rightHz)
{
    std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double f = (c == 1 && rightHz > 0.0) ? rightHz : hz;
            const double v = amplitude * std::sin(2.0 * std::numbers::pi * f * static_cast<double>(i) / rate);
            out[i * channels + c] = static_cast<std::int16_t>(std::lround(v));
        }
    }
    return out;
}

std::vector<double> channelOf(const std::vector<std::int16_t> &interleaved, int channels, int channel,
                              std::size_t first)
{
    std::vector<double> out;
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    for (std::size_t i = first; i < frames; ++i)
        out.push_back(interleaved[i * channels + channel]);
    return out;
}

double zeroCrossingFrequency(const std::vector<double> &signal, int rate)
{
    if (signal.size() < 2)
        return 0.0;
    const double peak = std::sqrt(2.0) * rms(signal);
    const double hysteresis = 0.1 * peak;
    bool low = signal[0] < -hysteresis;
    std::size_t first = 0;
    std::size_t last = 0;
    int crossings = 0;
    for (std::size_t i = 1; i < signal.size(); ++i) {
        if (low && signal[i] > hysteresis) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
            low = false;
        } else if (!low && signal[i] < -hysteresis) {
            low = true;
        }
    }
    if (crossings < 2)
        return 0.0;
    return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

double goertzelPower(const std::vector<double> &signal, int rate, double hz)
{
    if (signal.empty())
        return 0.0;
    const double w = 2.0 * std::numbers::pi * hz / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (double x : signal) {
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    const double n = static_cast<double>(signal.size());
    return power / (n * n);
}

double rms(const std::vector<double> &signal)
{
    if (signal.empty())
        return 0.0;
    double sum = 0.0;
    for (double x : signal)
        sum += x * x;
    return std::sqrt(sum / static_cast<double>(signal.size()));
}
