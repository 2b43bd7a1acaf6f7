#include "bench/benchsound.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace bench {

namespace {

// Fixed seeds: an unseeded room would put its loudest sample anywhere, also into the
// environment test, and every run would measure another room.
constexpr std::uint32_t kMusicSeed = 12345;
constexpr std::uint32_t kRoomSeed = 271828;

std::uint32_t step(std::uint32_t &state)
{
    state = state * 1664525u + 1013904223u;
    return state;
}

} // namespace

std::int16_t SoundGenerator::next(Signal s)
{
    if (s != last_) {
        last_ = s;
        frame_ = 0;
        noise_ = s == Signal::Room ? kRoomSeed : kMusicSeed;
    }
    const double t = double(frame_++) / kRate;
    double v = 0.0;
    switch (s) {
    case Signal::Silence:
        break;
    case Signal::Music:
        v = 0.25 * std::sin(2 * std::numbers::pi * 440 * t) + 0.12 * std::sin(2 * std::numbers::pi * 1250 * t)
            + 0.05 * ((step(noise_) >> 8) / 8388608.0 - 1.0);
        break;
    case Signal::Chirp:
        v = 0.3 * std::sin(2 * std::numbers::pi * (kChirpStartHz * t + 0.5 * kChirpHzPerSecond * t * t));
        break;
    case Signal::Room: {
        // Box-Muller over two draws of the generator.
        const double u1 = (double(step(noise_) >> 8) + 1.0) / 16777217.0;
        const double u2 = double(step(noise_) >> 8) / 16777216.0;
        v = 0.0035 * std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2)
            + 0.0025 * std::sin(2 * std::numbers::pi * 50 * t);
        break;
    }
    }
    return std::int16_t(std::lround(v * 32767));
}

int roomPeak(double seconds)
{
    SoundGenerator room;
    int peak = 0;
    for (std::int64_t i = 0, n = std::int64_t(seconds * kRate); i < n; ++i)
        peak = std::max(peak, std::abs(int(room.next(Signal::Room))));
    return peak;
}

double musicRms()
{
    // 440 and 1250 Hz repeat together every 50 ms; the noise averages out over a second.
    SoundGenerator music;
    double sum = 0;
    for (int i = 0; i < kRate; ++i) {
        const double v = music.next(Signal::Music);
        sum += v * v;
    }
    return std::sqrt(sum / kRate);
}

} // namespace bench
