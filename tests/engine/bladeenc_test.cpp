#include "engine/bladeenc.h"
#include "engine/encoding.h"

#include "common/encodsignal.h"
#include "common/mp3decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace encoding;

namespace {

constexpr double kLeftHz = 440.0;
constexpr double kRightHz = 660.0;

int rateIndex(std::uint32_t hz)
{
    for (std::size_t i = 0; i < kSampleRates.size(); ++i)
        if (kSampleRates[i].hz == hz)
            return static_cast<int>(i);
    ADD_FAILURE() << "no rate " << hz;
    return 0;
}

int bitrateIndex(std::uint32_t kbps)
{
    for (std::size_t i = 0; i < kBitrates.size(); ++i)
        if (kBitrates[i].kbps == kbps)
            return static_cast<int>(i);
    ADD_FAILURE() << "no bitrate " << kbps;
    return 0;
}

BE_CONFIG makeConfig(std::uint32_t hz, int channels, int mode, std::uint32_t kbps, int quality = qtHQ,
                     int vbrPosition = 5)
{
    BE_CONFIG config;
    EXPECT_TRUE(fillEncoderConfig(config, rateIndex(hz), channels, mode, bitrateIndex(kbps), quality, vbrPosition));
    return config;
}

struct Encoded {
    std::vector<std::uint8_t> mp3;
    DWORD chunk = 0;
    DWORD bufferSize = 0;
    std::size_t flushBytes = 0;
    std::size_t tagBytes = 0; // the first frame is LAME's tag, no sound
};

// Feeds the samples chunk by chunk as a recording session does (the last chunk may be short),
// then flushes and closes.
testing::AssertionResult encodeAll(BE_CONFIG config, const std::vector<std::int16_t> &pcm, Encoded &out)
{
    HBE_STREAM stream = 0;
    if (const BE_ERR err = beInitStream(&config, &out.chunk, &out.bufferSize, &stream); err != BE_ERR_SUCCESS)
        return testing::AssertionFailure() << "beInitStream refused: " << err;
    std::vector<std::uint8_t> buffer(out.bufferSize);
    std::vector<std::int16_t> chunk(out.chunk);
    for (std::size_t pos = 0; pos < pcm.size(); pos += out.chunk) {
        const auto n = static_cast<DWORD>(std::min<std::size_t>(out.chunk, pcm.size() - pos));
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(pos), n, chunk.begin());
        DWORD bytes = 0;
        if (const BE_ERR err = beEncodeChunk(stream, n, chunk.data(), buffer.data(), &bytes); err != BE_ERR_SUCCESS) {
            beCloseStream(stream);
            return testing::AssertionFailure() << "beEncodeChunk failed: " << err;
        }
        out.mp3.insert(out.mp3.end(), buffer.begin(), buffer.begin() + bytes);
    }
    DWORD bytes = 0;
    const BE_ERR flushed = beDeinitStream(stream, buffer.data(), &bytes);
    out.mp3.insert(out.mp3.end(), buffer.begin(), buffer.begin() + bytes);
    out.flushBytes = bytes;
    // As the session does: the finished tag over the frame LAME reserved for it.
    DWORD tagBytes = 0;
    const BE_ERR tagged = beGetInfoTag(stream, buffer.data(), &tagBytes);
    const BE_ERR closed = beCloseStream(stream);
    if (flushed != BE_ERR_SUCCESS || tagged != BE_ERR_SUCCESS || closed != BE_ERR_SUCCESS || tagBytes > out.mp3.size())
        return testing::AssertionFailure() << "flush " << flushed << ", tag " << tagged << ", close " << closed;
    std::copy_n(buffer.begin(), tagBytes, out.mp3.begin());
    out.tagBytes = tagBytes;
    return testing::AssertionSuccess();
}

int frameSamples(std::uint32_t hz)
{
    return hz >= 32000 ? 1152 : 576;
}

int headerChannelMode(int channelChoice)
{
    return channelChoice == chMono ? 3 : channelChoice == chStereo ? 0 : 1;
}

// main_data_begin of a layer III frame: 0 in every frame when the bit reservoir is off.
int mainDataBegin(const std::vector<std::uint8_t> &mp3, const Mp3FrameHeader &h)
{
    const std::size_t side = h.offset + 4 + (h.crc ? 2 : 0);
    const int first = mp3[side];
    const int second = mp3[side + 1];
    return h.version == 10 ? (first << 1) | (second >> 7) : first;
}

struct RoundTrip {
    const char *name;
    std::uint32_t hz;
    int channels;
    int mode;
    std::uint32_t kbps;
    int vbrPosition;
};

void PrintTo(const RoundTrip &r, std::ostream *os)
{
    *os << r.name;
}

class EncoderRoundTrip : public testing::TestWithParam<RoundTrip> {};

} // namespace

TEST_P(EncoderRoundTrip, DecodesToTheToneAtTheChosenFormat)
{
    const RoundTrip &p = GetParam();
    const int channels = channelCount(p.channels);
    const std::size_t frames = p.hz * 6 / 10 + 37; // not a whole number of chunks
    const auto pcm = makeTone(kLeftHz, static_cast<int>(p.hz), channels, frames, 12000.0, kRightHz);
    Encoded enc;
    ASSERT_TRUE(encodeAll(makeConfig(p.hz, p.channels, p.mode, p.kbps, qtHQ, p.vbrPosition), pcm, enc));
    EXPECT_EQ(enc.chunk, static_cast<DWORD>(frameSamples(p.hz) * channels));

    // Nothing but whole frames of the chosen format.
    const Mp3FrameScan scan = scanMp3Frames(enc.mp3);
    ASSERT_TRUE(scan.clean(enc.mp3.size())) << scan.parsedBytes << " of " << enc.mp3.size();
    ASSERT_FALSE(scan.frames.empty());
    const int version = p.hz >= 32000 ? 10 : p.hz >= 16000 ? 20 : 25;
    for (const Mp3FrameHeader &h : scan.frames) {
        ASSERT_EQ(h.layer, 3);
        ASSERT_EQ(h.version, version);
        ASSERT_EQ(h.sampleRate, static_cast<int>(p.hz));
        ASSERT_EQ(h.channelMode, headerChannelMode(p.channels));
        ASSERT_TRUE(h.original);
        ASSERT_FALSE(h.copyright || h.privateBit || h.crc || h.emphasis != 0);
        if (p.mode == mdCBR)
            ASSERT_EQ(h.bitrateKbps, static_cast<int>(p.kbps)) << "frame at " << h.offset;
        else
            ASSERT_LE(h.bitrateKbps, version == 10 ? 320 : 160);
    }

    const DecodedMp3 dec = decodeMp3(enc.mp3);
    ASSERT_TRUE(dec.ok) << dec.error;
    EXPECT_EQ(dec.rate, static_cast<long>(p.hz));
    EXPECT_EQ(dec.channels, channels);
    ASSERT_EQ(dec.frameBitrates.size(), scan.frames.size() - (enc.tagBytes > 0 ? 1 : 0)) << "the tag is no sound";
    if (p.mode == mdCBR)
        EXPECT_TRUE(std::all_of(dec.frameBitrates.begin(), dec.frameBitrates.end(),
                                [&](int kbps) { return kbps == static_cast<int>(p.kbps); }));
    // Every input sample comes back, plus at most the encoder delay and the padding of the last frames.
    EXPECT_GE(dec.sampleFrames(), frames);
    EXPECT_LE(dec.sampleFrames(), frames + 576 + 2 * static_cast<std::size_t>(frameSamples(p.hz)));

    const std::size_t skip = 2 * static_cast<std::size_t>(frameSamples(p.hz));
    const auto left = channelOf(dec.samples, channels, 0, skip);
    const std::vector<double> body(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(frames - 2 * skip));
    EXPECT_NEAR(zeroCrossingFrequency(body, static_cast<int>(p.hz)), kLeftHz, kLeftHz * 0.01);
    EXPECT_GT(rms(body), 12000.0 / std::sqrt(2.0) * 0.5);
    if (channels == 2) {
        const auto right = channelOf(dec.samples, channels, 1, skip);
        const std::vector<double> rbody(right.begin(), right.begin() + static_cast<std::ptrdiff_t>(frames - 2 * skip));
        EXPECT_NEAR(zeroCrossingFrequency(rbody, static_cast<int>(p.hz)), kRightHz, kRightHz * 0.01);
        // The channels stay apart and in order.
        EXPECT_GT(goertzelPower(body, static_cast<int>(p.hz), kLeftHz),
                  20.0 * goertzelPower(body, static_cast<int>(p.hz), kRightHz));
        EXPECT_GT(goertzelPower(rbody, static_cast<int>(p.hz), kRightHz),
                  20.0 * goertzelPower(rbody, static_cast<int>(p.hz), kLeftHz));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cbr, EncoderRoundTrip,
    testing::Values(RoundTrip{"Cbr8000Mono8", 8000, chMono, mdCBR, 8, 5},
                    RoundTrip{"Cbr11025Stereo32", 11025, chStereo, mdCBR, 32, 5},
                    RoundTrip{"Cbr12000Joint64", 12000, chJointStereo, mdCBR, 64, 5},
                    RoundTrip{"Cbr16000Mono144", 16000, chMono, mdCBR, 144, 5},
                    RoundTrip{"Cbr22050Stereo160", 22050, chStereo, mdCBR, 160, 5},
                    RoundTrip{"Cbr24000Joint96", 24000, chJointStereo, mdCBR, 96, 5},
                    RoundTrip{"Cbr32000Mono40", 32000, chMono, mdCBR, 40, 5},
                    RoundTrip{"Cbr44100Stereo128", 44100, chStereo, mdCBR, 128, 5},
                    RoundTrip{"Cbr44100Joint320", 44100, chJointStereo, mdCBR, 320, 5},
                    RoundTrip{"Cbr48000Stereo192", 48000, chStereo, mdCBR, 192, 5},
                    RoundTrip{"Cbr48000Mono32", 48000, chMono, mdCBR, 32, 5}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Abr, EncoderRoundTrip,
    testing::Values(RoundTrip{"Abr44100Stereo64", 44100, chStereo, mdABR, 64, 5},
                    RoundTrip{"Abr22050Mono96", 22050, chMono, mdABR, 96, 5},
                    RoundTrip{"Abr8000Joint32", 8000, chJointStereo, mdABR, 32, 5}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Vbr, EncoderRoundTrip,
    testing::Values(RoundTrip{"Vbr44100JointBest", 44100, chJointStereo, mdVBR, 128, 9},
                    RoundTrip{"Vbr44100StereoMiddle", 44100, chStereo, mdVBR, 128, 5},
                    RoundTrip{"Vbr16000MonoLowest", 16000, chMono, mdVBR, 128, 0},
                    RoundTrip{"Vbr11025Stereo", 11025, chStereo, mdVBR, 128, 3}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    R3mix, EncoderRoundTrip,
    testing::Values(RoundTrip{"R3mix16000Stereo", 16000, chStereo, mdR3mix, 128, 5},
                    RoundTrip{"R3mix44100Mono", 44100, chMono, mdR3mix, 128, 5},
                    RoundTrip{"R3mix48000Joint", 48000, chJointStereo, mdR3mix, 128, 5}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(EncoderStart, ChunkAndBufferSizes)
{
    struct Case { std::uint32_t hz; int channels; DWORD chunk; DWORD buffer; };
    const Case cases[] = {
        {8000, chMono, 576, 7920},           {8000, chStereo, 1152, 8640},
        {24000, chJointStereo, 1152, 8640},  {32000, chMono, 1152, 8640},
        {44100, chStereo, 2304, 10080},      {48000, chJointStereo, 2304, 10080},
    };
    for (const Case &c : cases) {
        BE_CONFIG config = makeConfig(c.hz, c.channels, mdCBR, 64);
        DWORD chunk = 0;
        DWORD buffer = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(beInitStream(&config, &chunk, &buffer, &stream), BE_ERR_SUCCESS) << c.hz;
        EXPECT_EQ(chunk, c.chunk) << c.hz;
        EXPECT_EQ(buffer, c.buffer) << c.hz;
        EXPECT_GE(buffer, 7200u);
        EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
    }
}

// Rule-valid choices that LAME 3.100 cannot carry out as chosen: it caps MPEG-2.5 rates at
// 64 kbps and MPEG-2 rates at 160, and an ABR mean cannot go below MPEG-1's lowest frame.
TEST(EncoderStart, AcceptsExactlyWhatTheEncoderCarriesOut)
{
    int sweep = 0;
    for (std::size_t r = 0; r < kSampleRates.size(); ++r) {
        const std::uint32_t hz = kSampleRates[r].hz;
        const bool mpeg1 = hz >= 32000;
        const bool mpeg25 = hz < 16000;
        for (std::size_t b = 0; b < kBitrates.size(); ++b) {
            const std::uint32_t kbps = kBitrates[b].kbps;
            for (int mode = mdCBR; mode <= mdR3mix; ++mode) {
                bool accepted = true;
                if (mode == mdCBR)
                    accepted = settingsValid(static_cast<int>(r), mode, static_cast<int>(b)) && !(mpeg25 && kbps > 64);
                else if (mode == mdABR)
                    accepted = mpeg1 ? kbps >= 32 : kbps <= (mpeg25 ? 64u : 160u);
                const int channels = sweep++ % 3;
                BE_CONFIG config = makeConfig(hz, channels, mode, kbps);
                DWORD chunk = 0xDEAD;
                DWORD buffer = 0xBEEF;
                HBE_STREAM stream = 0xF00D;
                const BE_ERR err = beInitStream(&config, &chunk, &buffer, &stream);
                EXPECT_EQ(err == BE_ERR_SUCCESS, accepted)
                    << hz << " Hz " << kbps << " kbps, mode " << modeItems().at(mode).toStdString();
                if (err == BE_ERR_SUCCESS) {
                    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
                } else {
                    EXPECT_EQ(err, BE_ERR_INVALID_FORMAT_PARAMETERS);
                    EXPECT_EQ(chunk, 0xDEADu);
                    EXPECT_EQ(buffer, 0xBEEFu);
                    EXPECT_EQ(stream, 0xF00Du);
                }
            }
        }
    }
}

TEST(EncoderStart, RefusesConfigurationsItCannotHonour)
{
    struct Case {
        const char *edge;
        std::function<void(BE_CONFIG &)> change;
        BE_ERR expected;
    };
    const Case cases[] = {
        {"144 CBR at 44100", [](BE_CONFIG &c) { c.format.LHV1.dwBitrate = 144; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"999 kbps", [](BE_CONFIG &c) { c.format.LHV1.dwBitrate = 999; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"CBR without bitrate", [](BE_CONFIG &c) { c.format.LHV1.dwBitrate = 0; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"not the LAME record", [](BE_CONFIG &c) { c.dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
        {"struct version 0", [](BE_CONFIG &c) { c.format.LHV1.dwStructVersion = 0; }, BE_ERR_INVALID_FORMAT},
        {"struct size 330", [](BE_CONFIG &c) { c.format.LHV1.dwStructSize = 330; }, BE_ERR_INVALID_FORMAT},
        {"rate 44000", [](BE_CONFIG &c) { c.format.LHV1.dwSampleRate = c.format.LHV1.dwReSampleRate = 44000; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 0", [](BE_CONFIG &c) { c.format.LHV1.dwSampleRate = c.format.LHV1.dwReSampleRate = 0; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 96000", [](BE_CONFIG &c) { c.format.LHV1.dwSampleRate = c.format.LHV1.dwReSampleRate = 96000; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"output rate 44000", [](BE_CONFIG &c) { c.format.LHV1.dwReSampleRate = 44000; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"MPEG-2 flag at 44100", [](BE_CONFIG &c) { c.format.LHV1.dwMpegVersion = MPEG2; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"MPEG version 7", [](BE_CONFIG &c) { c.format.LHV1.dwMpegVersion = 7; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"mode 4", [](BE_CONFIG &c) { c.format.LHV1.nMode = 4; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"mode -1", [](BE_CONFIG &c) { c.format.LHV1.nMode = -1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"unsupported preset", [](BE_CONFIG &c) { c.format.LHV1.nPreset = 5; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"r3mix with VBR off", [](BE_CONFIG &c) { c.format.LHV1.nPreset = LQP_R3MIX; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"VBR without method",
         [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.nVbrMethod = VBR_METHOD_NONE; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"VBR method 5",
         [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.nVbrMethod = static_cast<VBRMETHOD>(5); },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"VBR quality 10", [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.nVBRQuality = 10; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"VBR quality -1", [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.nVBRQuality = -1; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"VBR floor above ceiling",
         [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.dwBitrate = 256; c.format.LHV1.dwMaxBitrate = 128; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"VBR floor LAME moves",
         [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.dwBitrate = 8; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"ABR without mean",
         [](BE_CONFIG &c) { c.format.LHV1.bEnableVBR = BE_TRUE; c.format.LHV1.nVbrMethod = VBR_METHOD_ABR; c.format.LHV1.dwBitrate = 32; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"quality word without complement", [](BE_CONFIG &c) { c.format.LHV1.nQuality = 0x0002; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"quality 10", [](BE_CONFIG &c) { c.format.LHV1.nQuality = 0xF50A; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"psychoacoustic model 1", [](BE_CONFIG &c) { c.format.LHV1.dwPsyModel = 1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"emphasis 4", [](BE_CONFIG &c) { c.format.LHV1.dwEmphasis = 4; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    };
    for (const Case &c : cases) {
        BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
        c.change(config);
        DWORD chunk = 0xDEAD;
        DWORD buffer = 0xBEEF;
        HBE_STREAM stream = 0xF00D;
        EXPECT_EQ(beInitStream(&config, &chunk, &buffer, &stream), c.expected) << c.edge;
        EXPECT_EQ(chunk, 0xDEADu) << c.edge;
        EXPECT_EQ(buffer, 0xBEEFu) << c.edge;
        EXPECT_EQ(stream, 0xF00Du) << c.edge;
    }
}

TEST(EncoderStart, RefusesMissingArguments)
{
    BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
    DWORD chunk = 0;
    DWORD buffer = 0;
    HBE_STREAM stream = 0;
    EXPECT_EQ(beInitStream(nullptr, &chunk, &buffer, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beInitStream(&config, nullptr, &buffer, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beInitStream(&config, &chunk, nullptr, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beInitStream(&config, &chunk, &buffer, nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

TEST(EncoderStart, InvalidCbrChoiceFromTheListsIsRefused)
{
    for (const auto &[hz, kbps] : {std::pair{44100u, 144u}, std::pair{22050u, 192u}, std::pair{48000u, 8u}}) {
        BE_CONFIG config = makeConfig(hz, chStereo, mdCBR, kbps);
        EXPECT_EQ(config.format.LHV1.dwBitrate, kbps);
        DWORD chunk = 0;
        DWORD buffer = 0;
        HBE_STREAM stream = 0;
        EXPECT_NE(beInitStream(&config, &chunk, &buffer, &stream), BE_ERR_SUCCESS) << hz << " " << kbps;
    }
}

TEST(EncoderFlags, HeaderBitsFollowTheRecord)
{
    struct Case {
        const char *edge;
        std::function<void(BE_CONFIG &)> change;
        std::function<bool(const Mp3FrameHeader &)> holds;
    };
    const Case cases[] = {
        {"crc", [](BE_CONFIG &c) { c.format.LHV1.bCRC = BE_TRUE; }, [](const Mp3FrameHeader &h) { return h.crc; }},
        {"copyright", [](BE_CONFIG &c) { c.format.LHV1.bCopyright = BE_TRUE; },
         [](const Mp3FrameHeader &h) { return h.copyright; }},
        {"not original", [](BE_CONFIG &c) { c.format.LHV1.bOriginal = BE_FALSE; },
         [](const Mp3FrameHeader &h) { return !h.original; }},
        {"private", [](BE_CONFIG &c) { c.format.LHV1.bPrivate = BE_TRUE; },
         [](const Mp3FrameHeader &h) { return h.privateBit; }},
        {"emphasis 50/15", [](BE_CONFIG &c) { c.format.LHV1.dwEmphasis = 1; },
         [](const Mp3FrameHeader &h) { return h.emphasis == 1; }},
        {"emphasis CCITT", [](BE_CONFIG &c) { c.format.LHV1.dwEmphasis = 3; },
         [](const Mp3FrameHeader &h) { return h.emphasis == 3; }},
        {"dual channel", [](BE_CONFIG &c) { c.format.LHV1.nMode = BE_MP3_MODE_DUALCHANNEL; },
         [](const Mp3FrameHeader &h) { return h.channelMode == 2; }},
    };
    const auto pcm = makeTone(kLeftHz, 44100, 2, 44100 / 4, 12000.0, kRightHz);
    for (const Case &c : cases) {
        BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
        c.change(config);
        Encoded enc;
        ASSERT_TRUE(encodeAll(config, pcm, enc)) << c.edge;
        const Mp3FrameScan scan = scanMp3Frames(enc.mp3);
        ASSERT_TRUE(scan.clean(enc.mp3.size())) << c.edge;
        ASSERT_FALSE(scan.frames.empty());
        EXPECT_TRUE(std::all_of(scan.frames.begin(), scan.frames.end(), c.holds)) << c.edge;
        const DecodedMp3 dec = decodeMp3(enc.mp3);
        EXPECT_TRUE(dec.ok) << c.edge << ": " << dec.error;
        EXPECT_GE(dec.sampleFrames(), pcm.size() / 2) << c.edge;
    }
}

TEST(EncoderFlags, BitReservoirCanBeSwitchedOff)
{
    const auto pcm = makeTone(kLeftHz, 44100, 2, 44100 / 2, 12000.0, kRightHz);
    auto reservoirFrames = [&](std::int32_t noRes) {
        BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
        config.format.LHV1.bNoRes = noRes;
        Encoded enc;
        EXPECT_TRUE(encodeAll(config, pcm, enc));
        const Mp3FrameScan scan = scanMp3Frames(enc.mp3);
        return std::count_if(scan.frames.begin(), scan.frames.end(),
                             [&](const Mp3FrameHeader &h) { return mainDataBegin(enc.mp3, h) != 0; });
    };
    EXPECT_GT(reservoirFrames(BE_FALSE), 0);
    EXPECT_EQ(reservoirFrames(BE_TRUE), 0);
}

TEST(EncoderFlags, TagFrameOnlyWhenAskedFor)
{
    // With the tag on, LAME opens the stream with a frame reserved for it, which the
    // finished stream carries as a Xing frame; without it the first frame is sound.
    const auto pcm = makeTone(kLeftHz, 44100, 2, 44100 / 4);
    auto firstFrameIsTag = [&](std::int32_t writeTag) {
        BE_CONFIG config = makeConfig(44100, chJointStereo, mdVBR, 128);
        config.format.LHV1.bWriteVBRHeader = writeTag;
        Encoded enc;
        EXPECT_TRUE(encodeAll(config, pcm, enc));
        const Mp3FrameScan scan = scanMp3Frames(enc.mp3);
        EXPECT_TRUE(scan.clean(enc.mp3.size()));
        if (scan.frames.empty())
            return false;
        EXPECT_EQ(enc.tagBytes, writeTag ? scan.frames[0].length : 0u);
        const auto end = enc.mp3.begin() + static_cast<std::ptrdiff_t>(scan.frames[0].length);
        const char xing[] = "Xing";
        return std::search(enc.mp3.begin(), end, xing, xing + 4) != end;
    };
    EXPECT_FALSE(firstFrameIsTag(BE_FALSE));
    EXPECT_TRUE(firstFrameIsTag(BE_TRUE));
}

TEST(EncoderFlags, QualityWordReachesTheEncoder)
{
    const auto pcm = makeTone(kLeftHz, 44100, 2, 44100 / 4, 12000.0, kRightHz);
    Encoded low;
    Encoded high;
    ASSERT_TRUE(encodeAll(makeConfig(44100, chStereo, mdCBR, 128, qtLQ), pcm, low));
    ASSERT_TRUE(encodeAll(makeConfig(44100, chStereo, mdCBR, 128, qtHQ), pcm, high));
    EXPECT_EQ(low.mp3.size(), high.mp3.size()); // same CBR frames ...
    EXPECT_NE(low.mp3, high.mp3);               // ... quantised differently
}

TEST(EncoderStreams, FlushDeliversTheLastFrames)
{
    BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    const auto pcm = makeTone(kLeftHz, 44100, 2, chunk / 2);
    std::vector<std::uint8_t> buffer(size);
    std::vector<std::uint8_t> mp3;
    DWORD bytes = 12345;
    ASSERT_EQ(beEncodeChunk(stream, chunk, const_cast<PSHORT>(pcm.data()), buffer.data(), &bytes), BE_ERR_SUCCESS);
    // The first chunk only fills LAME's pipeline; what comes out is the frame reserved for
    // the tag, a header and zeros.
    Mp3FrameHeader reserved;
    ASSERT_TRUE(parseMp3FrameHeader(buffer.data(), bytes, 0, reserved));
    EXPECT_EQ(bytes, reserved.length);
    EXPECT_TRUE(std::all_of(buffer.begin() + 4, buffer.begin() + bytes, [](std::uint8_t b) { return b == 0; }));
    mp3.assign(buffer.begin(), buffer.begin() + bytes);
    ASSERT_EQ(beDeinitStream(stream, buffer.data(), &bytes), BE_ERR_SUCCESS);
    EXPECT_GT(bytes, 0u);
    mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);

    const DecodedMp3 dec = decodeMp3(mp3);
    ASSERT_TRUE(dec.ok) << dec.error;
    EXPECT_GE(dec.sampleFrames(), chunk / 2);
    const Mp3FrameScan scan = scanMp3Frames(mp3);
    EXPECT_TRUE(scan.clean(mp3.size()));
}

TEST(EncoderStreams, ShortLastChunkIsEncoded)
{
    BE_CONFIG config = makeConfig(22050, chStereo, mdCBR, 64);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    ASSERT_EQ(chunk, 1152u);
    // Chunk lengths a session may hand over at the end: whole, part-filled, one sample frame, none.
    const DWORD lengths[] = {chunk, chunk, chunk / 2 + 2, 2, 0};
    DWORD total = 0;
    for (DWORD n : lengths)
        total += n;
    const auto pcm = makeTone(kLeftHz, 22050, 2, total / 2);
    std::vector<std::uint8_t> buffer(size);
    std::vector<std::uint8_t> mp3;
    std::size_t pos = 0;
    for (DWORD n : lengths) {
        std::vector<std::int16_t> part(pcm.begin() + static_cast<std::ptrdiff_t>(pos),
                                       pcm.begin() + static_cast<std::ptrdiff_t>(pos + n));
        part.resize(std::max<std::size_t>(part.size(), 1));
        DWORD bytes = 0;
        ASSERT_EQ(beEncodeChunk(stream, n, part.data(), buffer.data(), &bytes), BE_ERR_SUCCESS) << n;
        mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
        pos += n;
    }
    DWORD bytes = 0;
    ASSERT_EQ(beDeinitStream(stream, buffer.data(), &bytes), BE_ERR_SUCCESS);
    mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
    ASSERT_EQ(beGetInfoTag(stream, buffer.data(), &bytes), BE_ERR_SUCCESS);
    ASSERT_GT(bytes, 0u);
    std::copy_n(buffer.begin(), bytes, mp3.begin());
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);

    const DecodedMp3 dec = decodeMp3(mp3);
    ASSERT_TRUE(dec.ok) << dec.error;
    EXPECT_GE(dec.sampleFrames(), total / 2);
    EXPECT_LE(dec.sampleFrames(), total / 2 + 576 + 2 * 576);
}

TEST(EncoderStreams, RefusesBadChunkArguments)
{
    BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    std::vector<std::int16_t> pcm(chunk + 2, 100);
    std::vector<std::uint8_t> buffer(size);
    struct Case { const char *edge; DWORD n; PSHORT samples; PBYTE output; BE_ERR expected; };
    const Case cases[] = {
        {"half a stereo sample frame", 3, pcm.data(), buffer.data(), BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"more than a chunk", chunk + 2, pcm.data(), buffer.data(), BE_ERR_BUFFER_TOO_SMALL},
        {"no samples", 2, nullptr, buffer.data(), BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"no output", 2, pcm.data(), nullptr, BE_ERR_INVALID_FORMAT_PARAMETERS},
    };
    for (const Case &c : cases) {
        DWORD bytes = 999;
        EXPECT_EQ(beEncodeChunk(stream, c.n, c.samples, c.output, &bytes), c.expected) << c.edge;
        EXPECT_EQ(bytes, 0u) << c.edge;
    }
    EXPECT_EQ(beEncodeChunk(stream, 2, pcm.data(), buffer.data(), nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beDeinitStream(stream, nullptr, nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);
    // The refusals left the stream as it was.
    DWORD bytes = 0;
    EXPECT_EQ(beEncodeChunk(stream, chunk, pcm.data(), buffer.data(), &bytes), BE_ERR_SUCCESS);
    EXPECT_EQ(beDeinitStream(stream, buffer.data(), &bytes), BE_ERR_SUCCESS);
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
}

TEST(EncoderStreams, MonoChunkCountsSingleSamples)
{
    BE_CONFIG config = makeConfig(16000, chMono, mdCBR, 32);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    EXPECT_EQ(chunk, 576u);
    std::vector<std::int16_t> pcm(chunk, 0);
    std::vector<std::uint8_t> buffer(size);
    DWORD bytes = 0;
    EXPECT_EQ(beEncodeChunk(stream, 1, pcm.data(), buffer.data(), &bytes), BE_ERR_SUCCESS);
    EXPECT_EQ(beEncodeChunk(stream, 575, pcm.data(), buffer.data(), &bytes), BE_ERR_SUCCESS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
}

TEST(EncoderHandles, UnknownOrClosedHandleIsAnError)
{
    std::vector<std::int16_t> pcm(2304, 0);
    std::vector<std::uint8_t> buffer(10080);
    DWORD bytes = 0;
    for (HBE_STREAM bad : {HBE_STREAM{0}, HBE_STREAM{0xFFFFFFFFu}, HBE_STREAM{0x7654321u}}) {
        EXPECT_EQ(beEncodeChunk(bad, 2304, pcm.data(), buffer.data(), &bytes), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(beDeinitStream(bad, buffer.data(), &bytes), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(beCloseStream(bad), BE_ERR_INVALID_HANDLE);
    }

    BE_CONFIG config = makeConfig(44100, chStereo, mdCBR, 128);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    ASSERT_EQ(beDeinitStream(stream, buffer.data(), &bytes), BE_ERR_SUCCESS);
    // A flushed stream takes no more samples and no second flush.
    EXPECT_EQ(beEncodeChunk(stream, chunk, pcm.data(), buffer.data(), &bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beDeinitStream(stream, buffer.data(), &bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beEncodeChunk(stream, chunk, pcm.data(), buffer.data(), &bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beDeinitStream(stream, buffer.data(), &bytes), BE_ERR_INVALID_HANDLE);

    // The next stream does not take over the closed one's handle.
    HBE_STREAM next = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &next), BE_ERR_SUCCESS);
    EXPECT_NE(next, stream);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beCloseStream(next), BE_ERR_SUCCESS);
}

TEST(EncoderHandles, StreamCloseWithoutFlushIsFine)
{
    BE_CONFIG config = makeConfig(8000, chMono, mdVBR, 128);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
}

TEST(EncoderHandles, SeveralStreamsInterleaved)
{
    struct Open {
        BE_CONFIG config;
        int channels;
        int rate;
        double hz;
        DWORD chunk = 0;
        DWORD size = 0;
        HBE_STREAM stream = 0;
        std::vector<std::int16_t> pcm;
        std::vector<std::uint8_t> mp3;
    };
    std::vector<Open> open;
    open.push_back({makeConfig(16000, chMono, mdCBR, 32), 1, 16000, 300.0});
    open.push_back({makeConfig(44100, chStereo, mdVBR, 128), 2, 44100, 500.0});
    open.push_back({makeConfig(22050, chJointStereo, mdABR, 64), 2, 22050, 700.0});
    for (Open &o : open) {
        ASSERT_EQ(beInitStream(&o.config, &o.chunk, &o.size, &o.stream), BE_ERR_SUCCESS);
        o.pcm = makeTone(o.hz, o.rate, o.channels, o.chunk / o.channels * 12);
    }
    EXPECT_NE(open[0].stream, open[1].stream);
    EXPECT_NE(open[1].stream, open[2].stream);
    EXPECT_NE(open[0].stream, open[2].stream);
    for (int i = 0; i < 12; ++i) {
        for (Open &o : open) {
            std::vector<std::uint8_t> buffer(o.size);
            DWORD bytes = 0;
            ASSERT_EQ(beEncodeChunk(o.stream, o.chunk, o.pcm.data() + i * o.chunk, buffer.data(), &bytes), BE_ERR_SUCCESS);
            o.mp3.insert(o.mp3.end(), buffer.begin(), buffer.begin() + bytes);
        }
    }
    for (Open &o : open) {
        std::vector<std::uint8_t> buffer(o.size);
        DWORD bytes = 0;
        ASSERT_EQ(beDeinitStream(o.stream, buffer.data(), &bytes), BE_ERR_SUCCESS);
        o.mp3.insert(o.mp3.end(), buffer.begin(), buffer.begin() + bytes);
        EXPECT_EQ(beCloseStream(o.stream), BE_ERR_SUCCESS);
        const DecodedMp3 dec = decodeMp3(o.mp3);
        ASSERT_TRUE(dec.ok) << dec.error;
        EXPECT_EQ(dec.rate, o.rate);
        EXPECT_EQ(dec.channels, o.channels);
        const auto left = channelOf(dec.samples, o.channels, 0, 2 * o.chunk / o.channels);
        const std::vector<double> body(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(o.pcm.size() / o.channels - 4 * o.chunk / o.channels));
        EXPECT_NEAR(zeroCrossingFrequency(body, o.rate), o.hz, o.hz * 0.01);
    }
}

TEST(EncoderHandles, TableHasALimit)
{
    BE_CONFIG config = makeConfig(8000, chMono, mdCBR, 8);
    std::vector<HBE_STREAM> handles;
    BE_ERR err = BE_ERR_SUCCESS;
    for (int i = 0; i < 1000 && err == BE_ERR_SUCCESS; ++i) {
        DWORD chunk = 0;
        DWORD size = 0;
        HBE_STREAM stream = 0;
        err = beInitStream(&config, &chunk, &size, &stream);
        if (err == BE_ERR_SUCCESS)
            handles.push_back(stream);
    }
    EXPECT_EQ(err, BE_ERR_NO_MORE_HANDLES);
    EXPECT_GE(handles.size(), 8u);
    for (HBE_STREAM h : handles)
        EXPECT_EQ(beCloseStream(h), BE_ERR_SUCCESS);
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    EXPECT_EQ(beInitStream(&config, &chunk, &size, &stream), BE_ERR_SUCCESS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESS);
}

TEST(EncoderStreams, LoudNoiseFitsTheOutputBuffer)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (const auto &[hz, kbps, channels] :
         {std::tuple{48000u, 320u, chStereo}, std::tuple{8000u, 64u, chMono}, std::tuple{24000u, 160u, chStereo}}) {
        const int n = channelCount(channels);
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(hz / 2 * n));
        for (auto &s : pcm)
            s = static_cast<std::int16_t>(sample(random));
        Encoded enc;
        BE_CONFIG config = makeConfig(hz, channels, mdCBR, kbps);
        config.format.LHV1.bNoRes = BE_TRUE;
        ASSERT_TRUE(encodeAll(config, pcm, enc)) << hz;
        EXPECT_TRUE(scanMp3Frames(enc.mp3).clean(enc.mp3.size()));
    }
}
