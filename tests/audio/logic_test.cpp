#include "audio/audiolog.h"
#include "audio/bytering.h"
#include "audio/pulsewavein.h"
#include "audio/waveinbackend.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <numeric>

TEST(ByteRing, KeepsOrderAcrossTheWrap)
{
    ByteRing ring(8);
    const char a[] = "abcdef";
    char out[8] = {};
    EXPECT_EQ(ring.write(a, 6), 6u);
    EXPECT_EQ(ring.read(out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "abcd");
    EXPECT_EQ(ring.write("ghijk", 5), 5u); // wraps
    EXPECT_EQ(ring.size(), 7u);
    EXPECT_EQ(ring.read(out, 8), 7u);
    EXPECT_EQ(std::string(out, 7), "efghijk");
    EXPECT_TRUE(ring.empty());
}

TEST(ByteRing, TakesOnlyWhatFitsAndNeverGrows)
{
    ByteRing ring(4);
    EXPECT_EQ(ring.write("abcdef", 6), 4u);
    EXPECT_EQ(ring.space(), 0u);
    EXPECT_EQ(ring.fill(0x80, 3), 0u);
    EXPECT_EQ(ring.capacity(), 4u);
    char out[4];
    ring.read(out, 2);
    EXPECT_EQ(ring.fill(0x80, 3), 2u);
    ring.read(out, 4);
    EXPECT_EQ(std::string(out, 2), "cd");
    EXPECT_EQ(static_cast<unsigned char>(out[2]), 0x80);
    ring.clear();
    EXPECT_EQ(ring.size(), 0u);
}

TEST(PulseSources, InputsComeBeforeMonitorsEachInServerOrder)
{
    std::vector<PulseSourceEntry> s = {
        {"sink2.monitor", "Monitor of B", true, 7},
        {"mic", "Mic", false, 5},
        {"sink1.monitor", "Monitor of A", true, 1},
        {"line", "Line", false, 2},
    };
    sortPulseSources(s);
    std::vector<std::string> names;
    for (const auto &e : s)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"line", "mic", "sink1.monitor", "sink2.monitor"}));
}

struct FragmentCase {
    const char *edge;
    DWORD rate;
    std::size_t frameBytes;
    std::size_t expected;
};

void PrintTo(const FragmentCase &c, std::ostream *os)
{
    *os << c.edge;
}

class PulseFragment : public testing::TestWithParam<FragmentCase> {};

TEST_P(PulseFragment, TheLargestDefaultQuantumInWholeFramesRoundedUp)
{
    const FragmentCase &c = GetParam();
    EXPECT_EQ(pulseFragmentBytes(c.rate, c.frameBytes), c.expected);
}

// 2048 frames at 48 kHz in the stream's own frames, rounded up: 1881.6 frames at 44.1 kHz
// become 1882 (1881 would be a quantum of 2047.3 at 48 kHz, rounded down to 1024).
INSTANTIATE_TEST_SUITE_P(Edges, PulseFragment,
                         testing::Values(FragmentCase{"At48kHzStereo", 48000, 4, 8192},
                                         FragmentCase{"At44kHzRoundsUp", 44100, 4, 7528},
                                         FragmentCase{"At22kHzMono", 22050, 2, 1882},
                                         FragmentCase{"At8kHzRoundsUp", 8000, 2, 684},
                                         FragmentCase{"At96kHzTwice", 96000, 2, 8192}),
                         [](const auto &info) { return std::string(info.param.edge); });

struct FormatCase {
    const char *edge;
    WORD tag, channels, bits;
    DWORD rate;
    MMRESULT expected;
};

void PrintTo(const FormatCase &c, std::ostream *os)
{
    *os << c.edge;
}

class WaveFormatCheck : public testing::TestWithParam<FormatCase> {};

TEST_P(WaveFormatCheck, AcceptsOnlyWhatCanBeCaptured)
{
    const FormatCase &c = GetParam();
    WAVEFORMATEX f{};
    f.wFormatTag = c.tag;
    f.nChannels = c.channels;
    f.wBitsPerSample = c.bits;
    f.nSamplesPerSec = c.rate;
    f.nBlockAlign = WORD(c.channels * c.bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * c.rate;
    EXPECT_EQ(checkWaveInFormat(f), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, WaveFormatCheck,
    testing::Values(FormatCase{"Lowest8000", 1, 1, 16, 8000, MMSYSERR_NOERROR},
                    FormatCase{"Highest48000Stereo", 1, 2, 16, 48000, MMSYSERR_NOERROR},
                    FormatCase{"EightBit", 1, 1, 8, 22050, MMSYSERR_NOERROR},
                    FormatCase{"Below8000", 1, 1, 16, 7999, WAVERR_BADFORMAT},
                    FormatCase{"Above48000", 1, 1, 16, 48001, WAVERR_BADFORMAT},
                    FormatCase{"ThreeChannels", 1, 3, 16, 22050, WAVERR_BADFORMAT},
                    FormatCase{"TwentyFourBits", 1, 1, 24, 22050, WAVERR_BADFORMAT},
                    FormatCase{"NotPcm", 3, 1, 16, 22050, WAVERR_BADFORMAT}),
    [](const auto &info) { return std::string(info.param.edge); });

TEST(WaveFormatCheck, RefusesInconsistentDerivedFields)
{
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    EXPECT_EQ(checkWaveInFormat(f), MMSYSERR_NOERROR);
    f.nBlockAlign = 2;
    EXPECT_EQ(checkWaveInFormat(f), WAVERR_BADFORMAT);
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 44100;
    EXPECT_EQ(checkWaveInFormat(f), WAVERR_BADFORMAT);
}

TEST(DeviceName, CutsLongNamesAtACharacterBoundary)
{
    char name[32];
    copyDeviceName("Short", name);
    EXPECT_STREQ(name, "Short");
    copyDeviceName(std::string(40, 'x'), name);
    EXPECT_EQ(std::strlen(name), 31u);
    // 10 three-byte characters (30 bytes) then one more: the cut at 31 falls inside it.
    std::string wide;
    for (int i = 0; i < 11; ++i)
        wide += "\xE5\xA3\xB0"; // 声
    copyDeviceName(wide, name);
    EXPECT_EQ(std::strlen(name), 30u);
    EXPECT_EQ(std::string(name), wide.substr(0, 30));
}

TEST(WaveErrorText, EveryCodeHasATextAndUnknownOnesAreReported)
{
    char text[256];
    for (MMRESULT code : {MMSYSERR_NOERROR, MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
                          MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_INVALPARAM,
                          MMSYSERR_INVALFLAG, WAVERR_BADFORMAT, WAVERR_STILLPLAYING, WAVERR_UNPREPARED,
                          WAVERR_SYNC}) {
        EXPECT_EQ(waveInGetErrorTextA(code, text, sizeof(text)), MMSYSERR_NOERROR) << code;
        EXPECT_GT(std::strlen(text), 10u) << code;
    }
    EXPECT_EQ(waveInGetErrorTextA(999, text, sizeof(text)), MMSYSERR_BADERRNUM);
    EXPECT_STREQ(text, "");
}

TEST(WaveErrorText, TruncatesToTheCallersBuffer)
{
    char text[8];
    std::memset(text, 'z', sizeof(text));
    EXPECT_EQ(waveInGetErrorTextA(WAVERR_STILLPLAYING, text, sizeof(text)), MMSYSERR_NOERROR);
    EXPECT_EQ(std::strlen(text), 7u);
    EXPECT_EQ(waveInGetErrorTextA(WAVERR_STILLPLAYING, nullptr, 8), MMSYSERR_INVALPARAM);
}

TEST(AudioLog, WarnsOnlyWhenTheUserTurnsItOn)
{
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        GTEST_SKIP() << "QT_LOGGING_RULES is set";
    static QStringList seen;
    seen.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &message) {
            if (qstrcmp(context.category, "quavrel.audio") == 0)
                seen << message;
        });
    qCWarning(lcAudio) << "off";
    qCInfo(lcAudio) << "off";
    QLoggingCategory::setFilterRules(QStringLiteral("quavrel.audio=true"));
    qCWarning(lcAudio) << "on";
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    EXPECT_EQ(seen, QStringList{QStringLiteral("on")});
}
