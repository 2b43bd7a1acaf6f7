#include "engine/encoding.h"

#include <cstring>

namespace encoding {

namespace {

template<typename T, std::size_t N>
bool inRange(int index, const std::array<T, N> &)
{
    return index >= 0 && static_cast<std::size_t>(index) < N;
}

bool inRange(int index, int count)
{
    return index >= 0 && index < count;
}

} // namespace

QStringList sampleRateItems()
{
    QStringList items;
    for (const SampleRate &r : kSampleRates)
        items << QStringLiteral("%1 Hz").arg(r.hz);
    return items;
}

QStringList channelItems()
{
    return {QStringLiteral("Mono"), QStringLiteral("Stereo"), QStringLiteral("Joint Stereo")};
}

QStringList modeItems()
{
    return {QStringLiteral("CBR"), QStringLiteral("ABR"), QStringLiteral("VBR"), QStringLiteral("r3mix")};
}

QStringList bitrateItems()
{
    QStringList items;
    for (const Bitrate &b : kBitrates)
        items << QStringLiteral("%1 kbps").arg(b.kbps);
    return items;
}

QStringList qualityItems()
{
    return {QStringLiteral("LQ"), QStringLiteral("MQ"), QStringLiteral("HQ")};
}

bool settingsValid(int sampleRateIndex, int modeIndex, int bitrateIndex)
{
    if (!inRange(sampleRateIndex, kSampleRates) || !inRange(modeIndex, kModeCount)
        || !inRange(bitrateIndex, kBitrates))
        return false;
    if (modeIndex != mdCBR)
        return true;
    return (kSampleRates[sampleRateIndex].versionCode & kBitrates[bitrateIndex].cbrMask) != 0;
}

std::uint32_t sampleRateHz(int sampleRateIndex)
{
    return inRange(sampleRateIndex, kSampleRates) ? kSampleRates[sampleRateIndex].hz : 0;
}

int channelCount(int channelIndex)
{
    if (!inRange(channelIndex, kChannelCount))
        return 0;
    return channelIndex == chMono ? 1 : 2;
}

bool fillEncoderConfig(BE_CONFIG &config, int sampleRateIndex, int channelIndex, int modeIndex,
                       int bitrateIndex, int qualityIndex, int vbrPosition)
{
    std::memset(&config, 0, sizeof config);
    if (!inRange(sampleRateIndex, kSampleRates) || !inRange(channelIndex, kChannelCount)
        || !inRange(modeIndex, kModeCount) || !inRange(bitrateIndex, kBitrates)
        || !inRange(qualityIndex, kQualityWords) || vbrPosition < kVbrPositionMin
        || vbrPosition > kVbrPositionMax)
        return false;

    const SampleRate rate = kSampleRates[sampleRateIndex];
    const bool mpeg1 = rate.versionCode == kVersionMpeg1;
    const std::uint32_t kbps = kBitrates[bitrateIndex].kbps;
    auto &c = config.format.LHV1;

    config.dwConfig = BE_CONFIG_LAME;
    c.dwStructVersion = BE_CONFIG_LHV1_VERSION;
    c.dwStructSize = BE_CONFIG_LHV1_SIZE;
    c.dwSampleRate = rate.hz;
    c.dwReSampleRate = rate.hz;
    c.nMode = channelIndex == chMono ? BE_MP3_MODE_MONO
        : channelIndex == chStereo   ? BE_MP3_MODE_STEREO
                                     : BE_MP3_MODE_JSTEREO;
    c.dwBitrate = modeIndex == mdCBR ? kbps : (mpeg1 ? 32 : 8);
    c.dwMaxBitrate = mpeg1 ? 320 : 160;
    c.nPreset = modeIndex == mdR3mix ? LQP_R3MIX : LQP_NOPRESET;
    c.dwMpegVersion = mpeg1 ? MPEG1 : MPEG2;
    c.bOriginal = BE_TRUE;
    // Every mode gets LAME's tag frame: without it players mis-time VBR files, and it carries
    // the encoder delay and padding that decoders trim.
    c.bWriteVBRHeader = BE_TRUE;
    c.bEnableVBR = modeIndex == mdCBR ? BE_FALSE : BE_TRUE;
    c.nVBRQuality = modeIndex == mdVBR ? kVbrPositionMax - vbrPosition : 0;
    c.dwVbrAbr_bps = modeIndex == mdABR ? kbps * 1000 : 0;
    c.nVbrMethod = modeIndex == mdABR ? VBR_METHOD_ABR : VBR_METHOD_DEFAULT;
    c.bStrictIso = BE_TRUE;
    c.nQuality = kQualityWords[qualityIndex];
    return true;
}

} // namespace encoding
