// Whether a recorder's MP3 carries the sound it was fed: a recorder whose feed stalled, or
// that lost part of its recording, has encoded less than it was timed for, and its cost per
// recorded minute would look smaller than it is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct DecodedChannel {
    std::vector<std::int16_t> samples; // the first channel
    long rate = 0;
    std::string error;                 // empty when the whole file decoded
};

DecodedChannel decodeFirstChannel(const std::filesystem::path &mp3);

// Seconds of SAMPLES (at RATE) that carry a sound of level FEDRMS: the 50 ms windows whose RMS
// lies within 6 dB of it. Silence, a quiet room or a window of clipping do not count.
double fedSoundSeconds(const std::vector<std::int16_t> &samples, long rate, double fedRms);

} // namespace bench
