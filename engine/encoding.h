#pragma once

// The encoding choices offered in the settings lists, the fixed table behind them, the rule
// deciding whether a choice may be recorded, and the encoder configuration built from it.

#include "engine/bladeenc.h"

#include <QStringList>

#include <array>
#include <cstdint>

namespace encoding {

// Version codes of the sample-rate table; a bitrate's CBR mask holds the codes it is allowed for.
inline constexpr std::uint32_t kVersionMpeg1 = 1;
inline constexpr std::uint32_t kVersionMpeg2 = 2;

struct SampleRate {
    std::uint32_t hz;
    std::uint32_t versionCode;
};

struct Bitrate {
    std::uint32_t kbps;
    std::uint32_t cbrMask;
};

inline constexpr std::array<SampleRate, 9> kSampleRates{{
    {8000, kVersionMpeg2}, {11025, kVersionMpeg2}, {12000, kVersionMpeg2},
    {16000, kVersionMpeg2}, {22050, kVersionMpeg2}, {24000, kVersionMpeg2},
    {32000, kVersionMpeg1}, {44100, kVersionMpeg1}, {48000, kVersionMpeg1},
}};

inline constexpr std::array<Bitrate, 18> kBitrates{{
    {8, 2}, {16, 2}, {24, 2}, {32, 3}, {40, 3}, {48, 3}, {56, 3}, {64, 3}, {80, 3},
    {96, 3}, {112, 3}, {128, 3}, {144, 2}, {160, 3}, {192, 1}, {224, 1}, {256, 1}, {320, 1},
}};

// Low byte: LAME quality (9, 5, 2); high byte: its complement.
inline constexpr std::array<std::uint16_t, 3> kQualityWords{0xF609, 0xFA05, 0xFD02};

// List positions of the channel, mode and quality lists.
enum Channels { chMono = 0, chStereo = 1, chJointStereo = 2 };
enum Mode { mdCBR = 0, mdABR = 1, mdVBR = 2, mdR3mix = 3 };
enum Quality { qtLQ = 0, qtMQ = 1, qtHQ = 2 };

inline constexpr int kChannelCount = 3;
inline constexpr int kModeCount = 4;
inline constexpr int kQualityCount = 3;
inline constexpr int kVbrPositionMin = 0;
inline constexpr int kVbrPositionMax = 9;

// Start-up choices: 44100 Hz, Stereo, CBR, 128 kbps, HQ, VBR track bar at 5.
inline constexpr int kDefaultSampleRateIndex = 7;
inline constexpr int kDefaultChannelIndex = chStereo;
inline constexpr int kDefaultModeIndex = mdCBR;
inline constexpr int kDefaultBitrateIndex = 11;
inline constexpr int kDefaultQualityIndex = qtHQ;
inline constexpr int kDefaultVbrPosition = 5;

// Item texts of the lists, in list order ("44100 Hz", "Joint Stereo", "r3mix", "128 kbps", "HQ").
QStringList sampleRateItems();
QStringList channelItems();
QStringList modeItems();
QStringList bitrateItems();
QStringList qualityItems();

// Whether a choice may be recorded: everything except a CBR bitrate the rate's MPEG version
// does not have. Indices out of range are never valid.
bool settingsValid(int sampleRateIndex, int modeIndex, int bitrateIndex);

// Sample rate in Hz and channel count (1 for Mono, 2 otherwise) of a choice; 0 when out of range.
std::uint32_t sampleRateHz(int sampleRateIndex);
int channelCount(int channelIndex);

// Zeroes the record and fills it from the list positions for beInitStream. Returns false
// (leaving the record zeroed, which beInitStream refuses) when an index is out of range.
bool fillEncoderConfig(BE_CONFIG &config, int sampleRateIndex, int channelIndex, int modeIndex,
                       int bitrateIndex, int qualityIndex, int vbrPosition);

} // namespace encoding
