#include "engine/encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

using namespace encoding;

namespace {

const BE_CONFIG &filled(int rate, int channels, int mode, int bitrate, int quality = qtHQ, int vbr = 5)
{
    static BE_CONFIG config;
    EXPECT_TRUE(fillEncoderConfig(config, rate, channels, mode, bitrate, quality, vbr));
    return config;
}

int rateIndex(std::uint32_t hz)
{
    for (std::size_t i = 0; i < kSampleRates.size(); ++i)
        if (kSampleRates[i].hz == hz)
            return static_cast<int>(i);
    ADD_FAILURE() << "no rate " << hz;
    return -1;
}

int bitrateIndex(std::uint32_t kbps)
{
    for (std::size_t i = 0; i < kBitrates.size(); ++i)
        if (kBitrates[i].kbps == kbps)
            return static_cast<int>(i);
    ADD_FAILURE() << "no bitrate " << kbps;
    return -1;
}

} // namespace

TEST(ConfigRecord, LayoutMatchesPublishedOffsets)
{
    EXPECT_EQ(sizeof(BE_CONFIG), 331u);
    EXPECT_EQ(offsetof(BE_CONFIG, dwConfig), 0u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwStructVersion), 4u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwStructSize), 8u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwSampleRate), 12u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwReSampleRate), 16u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.nMode), 20u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwBitrate), 24u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwMaxBitrate), 28u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.nPreset), 32u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwMpegVersion), 36u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwPsyModel), 40u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwEmphasis), 44u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bPrivate), 48u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bCRC), 52u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bCopyright), 56u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bOriginal), 60u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bWriteVBRHeader), 64u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bEnableVBR), 68u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.nVBRQuality), 72u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.dwVbrAbr_bps), 76u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.nVbrMethod), 80u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bNoRes), 84u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.bStrictIso), 88u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.nQuality), 92u);
    EXPECT_EQ(offsetof(BE_CONFIG, format.LHV1.btReserved), 94u);
    EXPECT_EQ(sizeof(BE_CONFIG{}.format.LHV1.btReserved), 237u);
    EXPECT_EQ(sizeof(BE_CONFIG{}.format.LHV1.nQuality), 2u);
}

TEST(ConfigRecord, BytesAreLittleEndianAtTheirOffsets)
{
    const BE_CONFIG &c = filled(rateIndex(44100), chStereo, mdCBR, bitrateIndex(128));
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&c);
    auto dword = [&](std::size_t off) {
        std::uint32_t v;
        std::memcpy(&v, bytes + off, 4);
        return v;
    };
    EXPECT_EQ(dword(0), 256u);
    EXPECT_EQ(dword(8), 331u);
    EXPECT_EQ(dword(12), 44100u);
    EXPECT_EQ(dword(24), 128u);
    EXPECT_EQ(dword(32), 0xFFFFFFFFu); // LQP_NOPRESET
    EXPECT_EQ(dword(60), 0xFFFFFFFFu); // bOriginal true as -1
    EXPECT_EQ(bytes[92], 0x02);
    EXPECT_EQ(bytes[93], 0xFD);
    EXPECT_TRUE(std::all_of(bytes + 94, bytes + 331, [](std::uint8_t b) { return b == 0; }));
}

TEST(ConfigRecord, DefaultsFillEveryField)
{
    const BE_CONFIG &c = filled(kDefaultSampleRateIndex, kDefaultChannelIndex, kDefaultModeIndex,
                                kDefaultBitrateIndex, kDefaultQualityIndex, kDefaultVbrPosition);
    const auto &l = c.format.LHV1;
    EXPECT_EQ(c.dwConfig, BE_CONFIG_LAME);
    EXPECT_EQ(l.dwStructVersion, 1u);
    EXPECT_EQ(l.dwStructSize, 331u);
    EXPECT_EQ(l.dwSampleRate, 44100u);
    EXPECT_EQ(l.dwReSampleRate, 44100u);
    EXPECT_EQ(l.nMode, BE_MP3_MODE_STEREO);
    EXPECT_EQ(l.dwBitrate, 128u);
    EXPECT_EQ(l.dwMaxBitrate, 320u);
    EXPECT_EQ(l.nPreset, LQP_NOPRESET);
    EXPECT_EQ(l.dwMpegVersion, MPEG1);
    EXPECT_EQ(l.dwPsyModel, 0u);
    EXPECT_EQ(l.dwEmphasis, 0u);
    EXPECT_EQ(l.bPrivate, 0);
    EXPECT_EQ(l.bCRC, 0);
    EXPECT_EQ(l.bCopyright, 0);
    EXPECT_EQ(l.bOriginal, -1);
    EXPECT_EQ(l.bWriteVBRHeader, -1);
    EXPECT_EQ(l.bEnableVBR, 0);
    EXPECT_EQ(l.nVBRQuality, 0);
    EXPECT_EQ(l.dwVbrAbr_bps, 0u);
    EXPECT_EQ(l.nVbrMethod, VBR_METHOD_DEFAULT);
    EXPECT_EQ(l.bNoRes, 0);
    EXPECT_EQ(l.bStrictIso, -1);
    EXPECT_EQ(l.nQuality, 0xFD02);
    EXPECT_TRUE(settingsValid(kDefaultSampleRateIndex, kDefaultModeIndex, kDefaultBitrateIndex));
}

TEST(ConfigRecord, R3mixAtMpeg2Rate)
{
    const auto &l = filled(rateIndex(16000), chStereo, mdR3mix, bitrateIndex(128)).format.LHV1;
    EXPECT_EQ(l.nPreset, LQP_R3MIX);
    EXPECT_EQ(l.bEnableVBR, -1);
    EXPECT_EQ(l.dwBitrate, 8u);
    EXPECT_EQ(l.dwMaxBitrate, 160u);
    EXPECT_EQ(l.dwMpegVersion, 0u);
    EXPECT_EQ(l.nVBRQuality, 0);
    EXPECT_EQ(l.nVbrMethod, VBR_METHOD_DEFAULT);
    EXPECT_EQ(l.dwVbrAbr_bps, 0u);
}

TEST(ConfigRecord, VbrTrackBarPositionInvertsToEncoderQuality)
{
    struct Case { int position; int quality; };
    for (const Case c : {Case{5, 4}, Case{9, 0}, Case{0, 9}}) {
        const auto &l = filled(rateIndex(44100), chJointStereo, mdVBR, bitrateIndex(128), qtMQ, c.position).format.LHV1;
        EXPECT_EQ(l.nVBRQuality, c.quality) << "position " << c.position;
        EXPECT_EQ(l.bEnableVBR, -1);
        EXPECT_EQ(l.nVbrMethod, VBR_METHOD_DEFAULT);
        EXPECT_EQ(l.dwBitrate, 32u);
        EXPECT_EQ(l.nMode, BE_MP3_MODE_JSTEREO);
        EXPECT_EQ(l.nQuality, 0xFA05);
    }
    // Outside VBR the track bar has no say.
    EXPECT_EQ(filled(rateIndex(44100), chStereo, mdCBR, bitrateIndex(128), qtHQ, 2).format.LHV1.nVBRQuality, 0);
}

TEST(ConfigRecord, AbrCarriesMeanBitrateAndVersionFloor)
{
    struct Case { std::uint32_t hz; std::uint32_t floor; std::uint32_t ceiling; std::uint32_t version; };
    for (const Case c : {Case{44100, 32, 320, MPEG1}, Case{22050, 8, 160, MPEG2}}) {
        const auto &l = filled(rateIndex(c.hz), chMono, mdABR, bitrateIndex(64), qtLQ).format.LHV1;
        EXPECT_EQ(l.dwVbrAbr_bps, 64000u) << c.hz;
        EXPECT_EQ(l.nVbrMethod, VBR_METHOD_ABR);
        EXPECT_EQ(l.bEnableVBR, -1);
        EXPECT_EQ(l.dwBitrate, c.floor);
        EXPECT_EQ(l.dwMaxBitrate, c.ceiling);
        EXPECT_EQ(l.dwMpegVersion, c.version);
        EXPECT_EQ(l.nMode, BE_MP3_MODE_MONO);
        EXPECT_EQ(l.nQuality, 0xF609);
    }
}

TEST(ConfigRecord, InvalidCbrChoiceIsStillWrittenAsChosen)
{
    // The record does not second-guess the lists; the encoder start decides.
    const auto &l = filled(rateIndex(44100), chStereo, mdCBR, bitrateIndex(144)).format.LHV1;
    EXPECT_EQ(l.dwBitrate, 144u);
    EXPECT_EQ(l.dwMpegVersion, MPEG1);
}

TEST(ConfigRecord, OutOfRangeIndexLeavesRecordZeroed)
{
    struct Case { const char *edge; int rate, channels, mode, bitrate, quality, vbr; };
    const Case cases[] = {
        {"rate -1", -1, 1, 0, 11, 2, 5},  {"rate 9", 9, 1, 0, 11, 2, 5},
        {"channels 3", 7, 3, 0, 11, 2, 5}, {"mode 4", 7, 1, 4, 11, 2, 5},
        {"bitrate 18", 7, 1, 0, 18, 2, 5}, {"quality 3", 7, 1, 0, 11, 3, 5},
        {"vbr -1", 7, 1, 0, 11, 2, -1},   {"vbr 10", 7, 1, 0, 11, 2, 10},
    };
    for (const Case &c : cases) {
        BE_CONFIG config;
        std::memset(&config, 0xAB, sizeof config);
        EXPECT_FALSE(fillEncoderConfig(config, c.rate, c.channels, c.mode, c.bitrate, c.quality, c.vbr)) << c.edge;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&config);
        EXPECT_TRUE(std::all_of(bytes, bytes + sizeof config, [](std::uint8_t b) { return b == 0; })) << c.edge;
    }
}

TEST(Validity, Examples)
{
    struct Case { const char *edge; std::uint32_t hz; int mode; std::uint32_t kbps; bool valid; };
    const Case cases[] = {
        {"144 CBR at MPEG-1", 44100, mdCBR, 144, false},
        {"192 CBR at MPEG-2", 22050, mdCBR, 192, false},
        {"144 ABR at MPEG-1", 44100, mdABR, 144, true},
        {"8 CBR at 48000", 48000, mdCBR, 8, false},
        {"8 CBR at 8000", 8000, mdCBR, 8, true},
        {"320 CBR at 48000", 48000, mdCBR, 320, true},
        {"320 CBR at 24000", 24000, mdCBR, 320, false},
        {"144 CBR at 24000", 24000, mdCBR, 144, true},
        {"32 CBR at both", 12000, mdCBR, 32, true},
        {"160 CBR at both", 32000, mdCBR, 160, true},
        {"320 VBR at MPEG-2", 8000, mdVBR, 320, true},
        {"8 r3mix at MPEG-1", 44100, mdR3mix, 8, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(settingsValid(rateIndex(c.hz), c.mode, bitrateIndex(c.kbps)), c.valid) << c.edge;
}

TEST(Validity, OutOfRangeIndicesAreNotValid)
{
    EXPECT_FALSE(settingsValid(-1, mdABR, 0));
    EXPECT_FALSE(settingsValid(9, mdABR, 0));
    EXPECT_FALSE(settingsValid(0, 4, 0));
    EXPECT_FALSE(settingsValid(0, mdABR, 18));
    EXPECT_FALSE(settingsValid(0, -1, 0));
}

TEST(ChoiceLists, ItemTextsInOrder)
{
    EXPECT_EQ(sampleRateItems(), (QStringList{"8000 Hz", "11025 Hz", "12000 Hz", "16000 Hz", "22050 Hz",
                                              "24000 Hz", "32000 Hz", "44100 Hz", "48000 Hz"}));
    EXPECT_EQ(channelItems(), (QStringList{"Mono", "Stereo", "Joint Stereo"}));
    EXPECT_EQ(modeItems(), (QStringList{"CBR", "ABR", "VBR", "r3mix"}));
    EXPECT_EQ(bitrateItems(),
              (QStringList{"8 kbps", "16 kbps", "24 kbps", "32 kbps", "40 kbps", "48 kbps", "56 kbps", "64 kbps",
                           "80 kbps", "96 kbps", "112 kbps", "128 kbps", "144 kbps", "160 kbps", "192 kbps",
                           "224 kbps", "256 kbps", "320 kbps"}));
    EXPECT_EQ(qualityItems(), (QStringList{"LQ", "MQ", "HQ"}));
}

TEST(ChoiceLists, DefaultsPointAtStartupItems)
{
    EXPECT_EQ(sampleRateItems().at(kDefaultSampleRateIndex), "44100 Hz");
    EXPECT_EQ(channelItems().at(kDefaultChannelIndex), "Stereo");
    EXPECT_EQ(modeItems().at(kDefaultModeIndex), "CBR");
    EXPECT_EQ(bitrateItems().at(kDefaultBitrateIndex), "128 kbps");
    EXPECT_EQ(qualityItems().at(kDefaultQualityIndex), "HQ");
    EXPECT_EQ(kDefaultVbrPosition, 5);
}

TEST(ChoiceLists, RateAndChannelLookups)
{
    EXPECT_EQ(sampleRateHz(0), 8000u);
    EXPECT_EQ(sampleRateHz(8), 48000u);
    EXPECT_EQ(sampleRateHz(9), 0u);
    EXPECT_EQ(channelCount(chMono), 1);
    EXPECT_EQ(channelCount(chStereo), 2);
    EXPECT_EQ(channelCount(chJointStereo), 2);
    EXPECT_EQ(channelCount(3), 0);
}
