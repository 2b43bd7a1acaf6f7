// LAME's tag frame: reserved at the start of every stream, filled in once the stream is
// flushed, so that players know the length of VBR and ABR files and trim the encoder delay.
#include "engine/bladeenc.h"
#include "engine/encoding.h"

#include "common/encodsignal.h"
#include "common/mp3decode.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace encoding;

namespace {

struct TagCase {
    const char *name;
    int rateIndex;
    int channels;
    int mode;
    int bitrateIndex;
    const char *marker; // "Xing" for VBR and ABR, "Info" for CBR
    int kind;           // what libmpg123 takes the file for
};

void PrintTo(const TagCase &c, std::ostream *os)
{
    *os << c.name;
}

// A stream as a session writes it: the chunks, the flush, and (when finished) the tag over
// the first frame. `cut` keeps only what came out before the flush, as a killed program leaves.
struct Stream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> tag;
    std::size_t cut = 0;
};

testing::AssertionResult encode(const TagCase &c, const std::vector<std::int16_t> &pcm, Stream &out)
{
    BE_CONFIG config;
    if (!fillEncoderConfig(config, c.rateIndex, c.channels, c.mode, c.bitrateIndex, qtHQ, 5))
        return testing::AssertionFailure() << "no configuration";
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    if (const BE_ERR err = beInitStream(&config, &chunk, &size, &stream); err != BE_ERR_SUCCESS)
        return testing::AssertionFailure() << "beInitStream refused: " << err;
    std::vector<std::uint8_t> buffer(size);
    std::vector<std::int16_t> part(chunk);
    for (std::size_t pos = 0; pos < pcm.size(); pos += chunk) {
        const auto n = static_cast<DWORD>(std::min<std::size_t>(chunk, pcm.size() - pos));
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(pos), n, part.begin());
        DWORD bytes = 0;
        if (beEncodeChunk(stream, n, part.data(), buffer.data(), &bytes) != BE_ERR_SUCCESS)
            return testing::AssertionFailure() << "beEncodeChunk failed";
        out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + bytes);
    }
    out.cut = out.bytes.size();
    DWORD tagBytes = 99;
    if (beGetInfoTag(stream, buffer.data(), &tagBytes) != BE_ERR_INVALID_HANDLE || tagBytes != 0)
        return testing::AssertionFailure() << "a tag before the flush";
    DWORD bytes = 0;
    if (beDeinitStream(stream, buffer.data(), &bytes) != BE_ERR_SUCCESS)
        return testing::AssertionFailure() << "flush failed";
    out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + bytes);
    if (beGetInfoTag(stream, buffer.data(), &tagBytes) != BE_ERR_SUCCESS)
        return testing::AssertionFailure() << "no tag after the flush";
    out.tag.assign(buffer.begin(), buffer.begin() + tagBytes);
    beCloseStream(stream);
    return testing::AssertionSuccess();
}

std::string writeFile(const QTemporaryDir &dir, const char *name, const std::vector<std::uint8_t> &bytes)
{
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

// A tone whose loudness swells and fades, so that VBR frames differ in size.
std::vector<std::int16_t> swellingTone(int rate, int channels, std::size_t frames)
{
    std::vector<std::int16_t> pcm(frames * std::size_t(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double envelope = 2000.0 + 14000.0 * std::pow(std::sin(M_PI * double(i) / rate), 2.0);
        for (int ch = 0; ch < channels; ++ch) {
            const double noise = double((i * 7919 + std::size_t(ch) * 104729) % 2001) - 1000.0;
            const double v = std::sin(2.0 * M_PI * 440.0 * double(i) / rate) * envelope + noise * (envelope / 8000.0);
            pcm[i * std::size_t(channels) + std::size_t(ch)] = std::int16_t(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return pcm;
}

class LameTag : public testing::TestWithParam<TagCase> {};

} // namespace

TEST_P(LameTag, ThePlayersLengthIsTheRecordedLength)
{
    const TagCase &c = GetParam();
    const int rate = int(kSampleRates[std::size_t(c.rateIndex)].hz);
    const int channels = channelCount(c.channels);
    const std::size_t frames = std::size_t(rate) * 37 / 10 + 123; // 3.7 s, no whole number of frames
    Stream stream;
    ASSERT_TRUE(encode(c, swellingTone(rate, channels, frames), stream));
    ASSERT_FALSE(stream.tag.empty());

    // The tag fits the reserved frame exactly and names itself where decoders look for it.
    const Mp3FrameScan scan = scanMp3Frames(stream.bytes);
    ASSERT_TRUE(scan.clean(stream.bytes.size()));
    ASSERT_EQ(stream.tag.size(), scan.frames[0].length);
    const auto marker = std::search(stream.tag.begin(), stream.tag.begin() + 64, c.marker, c.marker + 4);
    EXPECT_NE(marker, stream.tag.begin() + 64) << "no " << c.marker << " tag";
    std::vector<std::uint8_t> finished = stream.bytes;
    std::copy(stream.tag.begin(), stream.tag.end(), finished.begin());
    EXPECT_TRUE(scanMp3Frames(finished).clean(finished.size()));

    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Mp3Length length = measureMp3Length(writeFile(dir, "tagged.mp3", finished));
    ASSERT_TRUE(length.ok) << length.error;
    EXPECT_EQ(length.rate, rate);
    EXPECT_EQ(length.channels, channels);
    EXPECT_EQ(length.vbr, c.kind);
    // What a player shows at once, what a full scan finds, and what decodes are the input,
    // to the sample: the tag's frame count, delay and padding are right.
    EXPECT_EQ(length.reported, static_cast<long long>(frames));
    EXPECT_EQ(length.scanned, static_cast<long long>(frames));
    EXPECT_EQ(length.decoded, frames);
    EXPECT_EQ(length.frames, static_cast<long long>(scan.frames.size() - 1)) << "the tag frame is no sound";
}

TEST_P(LameTag, AStreamCutShortBeforeTheTagStillPlays)
{
    const TagCase &c = GetParam();
    const int rate = int(kSampleRates[std::size_t(c.rateIndex)].hz);
    const int channels = channelCount(c.channels);
    const std::size_t frames = std::size_t(rate) * 2;
    Stream stream;
    ASSERT_TRUE(encode(c, swellingTone(rate, channels, frames), stream));
    const std::vector<std::uint8_t> cut(stream.bytes.begin(), stream.bytes.begin() + std::ptrdiff_t(stream.cut));

    // The reserved frame is a whole, valid frame of the stream's own format ...
    // (LAME hands out whole frames only at the flush: the cut may end inside one.)
    const Mp3FrameScan scan = scanMp3Frames(cut);
    ASSERT_GE(scan.frames.size(), 2u);
    EXPECT_GT(scan.parsedBytes + 2 * scan.frames.back().length, cut.size());
    EXPECT_EQ(scan.frames[0].sampleRate, rate);
    EXPECT_EQ(scan.frames[0].channelMode, scan.frames[1].channelMode);
    // ... that decodes to silence, and the sound after it decodes as usual.
    const DecodedMp3 dec = decodeMp3(cut);
    ASSERT_TRUE(dec.ok) << dec.error;
    const std::size_t frameSize = rate >= 32000 ? 1152 : 576;
    ASSERT_GT(dec.sampleFrames(), frameSize);
    EXPECT_TRUE(std::all_of(dec.samples.begin(), dec.samples.begin() + std::ptrdiff_t(frameSize * std::size_t(channels)),
                            [](std::int16_t s) { return s == 0; }));
    const std::vector<double> left = channelOf(dec.samples, channels, 0, 3 * frameSize);
    EXPECT_GT(rms(left), 1000.0);

    // A player reads it as a stream of the right kind and some length, never as empty.
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Mp3Length length = measureMp3Length(writeFile(dir, "killed.mp3", cut));
    ASSERT_TRUE(length.ok) << length.error;
    EXPECT_EQ(length.rate, rate);
    EXPECT_GT(length.reported, static_cast<long long>(frames / 4));
    EXPECT_GE(length.decoded + 3 * frameSize, (scan.frames.size() - 1) * frameSize);
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, LameTag,
    testing::Values(TagCase{"Cbr44100Stereo128", 7, chStereo, mdCBR, 11, "Info", MPG123_CBR},
                    TagCase{"Cbr16000Mono64", 3, chMono, mdCBR, 7, "Info", MPG123_CBR},
                    TagCase{"Abr44100Joint128", 7, chJointStereo, mdABR, 11, "Xing", MPG123_ABR},
                    TagCase{"Vbr44100Joint", 7, chJointStereo, mdVBR, 11, "Xing", MPG123_VBR},
                    TagCase{"Vbr22050Mono", 4, chMono, mdVBR, 11, "Xing", MPG123_VBR},
                    TagCase{"R3mix44100Joint", 7, chJointStereo, mdR3mix, 11, "Xing", MPG123_VBR},
                    TagCase{"Abr8000Stereo32", 0, chStereo, mdABR, 3, "Xing", MPG123_ABR}),
    [](const auto &info) { return std::string(info.param.name); });
