#include "bench/benchsound.h"
#include "bench/fedsound.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace bench;

namespace {

// SECONDS of the fed sound, one channel, with the music replaced by SILENT seconds of
// silence from the middle on: what a recorder gets while its feeder stalls.
std::vector<std::int16_t> fed(Signal s, double seconds, double silent = 0)
{
    SoundGenerator gen;
    const auto frames = std::size_t(seconds * kRate);
    const auto gapFrom = std::size_t(seconds / 2 * kRate);
    const auto gapTo = gapFrom + std::size_t(silent * kRate);
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i < frames; ++i)
        out.push_back(i >= gapFrom && i < gapTo ? gen.next(Signal::Silence) : gen.next(s));
    return out;
}

struct LameDeleter {
    void operator()(lame_global_flags *gf) const { lame_close(gf); }
};

// The peers' format: 44.1 kHz joint stereo, CBR 128 kbps, quality 2, both channels alike.
std::string encode(const std::vector<std::int16_t> &mono, const QString &path)
{
    std::unique_ptr<lame_global_flags, LameDeleter> gf(lame_init());
    if (!gf || lame_set_in_samplerate(gf.get(), kRate) != 0 || lame_set_num_channels(gf.get(), 2) != 0
        || lame_set_mode(gf.get(), JOINT_STEREO) != 0 || lame_set_brate(gf.get(), 128) != 0
        || lame_set_quality(gf.get(), 2) != 0 || lame_init_params(gf.get()) != 0)
        return "lame refused the settings";
    std::vector<unsigned char> mp3(mono.size() * 5 / 4 + 7200 + 7200);
    int n = lame_encode_buffer(gf.get(), mono.data(), mono.data(), int(mono.size()), mp3.data(), int(mp3.size()));
    if (n < 0)
        return "lame_encode_buffer: " + std::to_string(n);
    const int tail = lame_encode_flush(gf.get(), mp3.data() + n, int(mp3.size()) - n);
    if (tail < 0)
        return "lame_encode_flush: " + std::to_string(tail);
    n += tail;
    std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(path.toLocal8Bit().constData(), "wb"), &std::fclose);
    if (!f || std::fwrite(mp3.data(), 1, std::size_t(n), f.get()) != std::size_t(n))
        return "cannot write " + path.toStdString();
    return {};
}

} // namespace

TEST(FedSound, CountsOnlyTheStretchesAtTheFedLevel)
{
    const double rms = musicRms();
    struct Case {
        const char *what;
        std::vector<std::int16_t> samples;
        double expected;
    };
    std::vector<Case> cases = {
        {"whole music", fed(Signal::Music, 10), 10.0},
        {"music with a stalled feeder's 2 s of silence", fed(Signal::Music, 10, 2), 8.0},
        {"the room", fed(Signal::Room, 10), 0.0},
        {"the chirp, a sound of about the same level", fed(Signal::Chirp, 4), 4.0},
    };
    std::vector<std::int16_t> quiet = fed(Signal::Music, 10);
    for (auto &s : quiet)
        s = std::int16_t(s / 4);
    cases.push_back({"music 12 dB too quiet", quiet, 0.0});
    for (const Case &c : cases)
        EXPECT_NEAR(fedSoundSeconds(c.samples, kRate, rms), c.expected, 0.1) << c.what;
}

TEST(FedSound, AnEncodedRecordingPassesOnlyWithoutTheGap)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const double silent : {0.0, 2.0}) {
        const QString path = dir.filePath(QStringLiteral("music.mp3"));
        ASSERT_EQ(encode(fed(Signal::Music, 10, silent), path), "");
        const DecodedChannel decoded = decodeFirstChannel(path.toStdString());
        ASSERT_EQ(decoded.error, "");
        EXPECT_EQ(decoded.rate, kRate);
        const double sound = fedSoundSeconds(decoded.samples, decoded.rate, musicRms());
        EXPECT_NEAR(sound, 10.0 - silent, 0.15) << silent << " s silent";
        EXPECT_EQ(sound >= 0.95 * 10, silent == 0.0) << silent << " s silent";
    }
}

TEST(FedSound, AMissingFileIsAnErrorNotSilence)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_NE(decodeFirstChannel(dir.filePath(QStringLiteral("missing.mp3")).toStdString()).error, "");
}

TEST(FedSound, TheRoomIsTheSameWhateverPlayedBefore)
{
    const auto roomAfter = [](int musicFrames) {
        SoundGenerator gen;
        for (int i = 0; i < musicFrames; ++i)
            gen.next(Signal::Music);
        std::vector<std::int16_t> room;
        int peak = 0;
        for (int i = 0; i < 4 * kRate; ++i) {
            room.push_back(gen.next(Signal::Room));
            peak = std::max(peak, std::abs(int(room.back())));
        }
        return std::make_pair(room, peak);
    };
    const auto [first, firstPeak] = roomAfter(17);
    const auto [second, secondPeak] = roomAfter(kRate * 3 + 5);
    EXPECT_EQ(first, second);
    EXPECT_EQ(firstPeak, roomPeak(4));
}
