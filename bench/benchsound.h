// The sounds the recording benchmark plays into the server's source, generated sample by
// sample so that what was fed is known: its level, and the room's loudest sample.
#pragma once

#include <cstdint>

namespace bench {

constexpr int kRate = 44100;
constexpr double kChirpStartHz = 200.0;
constexpr double kChirpHzPerSecond = 400.0;

enum class Signal { Silence, Music, Chirp, Room };

// One channel of the fed sound. Each signal starts over from its own beginning when the
// generator switches to it: the room is the same noise every run, whatever came before.
class SoundGenerator {
public:
    std::int16_t next(Signal s);

private:
    Signal last_ = Signal::Silence;
    std::int64_t frame_ = 0;
    std::uint32_t noise_ = 0;
};

// The room: Gaussian hiss and a 50 Hz hum, peaking near -38 dBFS and, like any noise, a little
// higher the longer one listens. Its loudest sample over its first SECONDS.
int roomPeak(double seconds);

// RMS of the music over a whole number of its periods, the level a recording of it must show.
double musicRms();

} // namespace bench
