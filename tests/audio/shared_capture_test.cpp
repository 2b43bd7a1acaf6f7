// Handles open on one device share one stream of it, each in its own format.
#include "testing/virtualwavein.h"
#include "audio/wavein.h"
#include "common/audio_notices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// A handle that keeps every sound it hears: each returned buffer is read and queued again.
struct Listener {
    Listener(UINT device, const WAVEFORMATEX &f) : format(f), buffers(4, f.nAvgBytesPerSec / 100)
    {
        log.onNotice = [this](const WaveNoticeLog::Entry &e) {
            if (e.message != MM_WIM_DATA)
                return;
            const std::uint8_t *data = reinterpret_cast<const std::uint8_t *>(e.header->lpData);
            if (format.wBitsPerSample == 8) {
                for (DWORD i = 0; i < e.bytesRecorded; ++i)
                    heard.push_back(std::int16_t((int(data[i]) - 128) << 8));
            } else {
                const auto samples = buffers.samples(e.header);
                heard.insert(heard.end(), samples.begin(), samples.end());
            }
            if (requeue)
                waveInAddBuffer(h, e.header, sizeof(WAVEHDR));
        };
        EXPECT_EQ(waveInOpen(&h, device, &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
        EXPECT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    }
    ~Listener()
    {
        if (open)
            close();
    }
    void close()
    {
        requeue = false;
        waveInReset(h);
        VirtualWaveIn::deliverNotices();
        buffers.unprepareAll(h);
        EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
        open = false;
    }
    std::size_t frames() const { return heard.size() / format.nChannels; }

    WAVEFORMATEX format;
    WaveNoticeLog log;
    WaveBuffers buffers;
    HWAVEIN h = nullptr;
    std::vector<std::int16_t> heard;
    bool requeue = true;
    bool open = true;
};

void run(int device, unsigned ms)
{
    for (unsigned t = 0; t < ms; t += 10) {
        VirtualWaveIn::pump(device, 10);
        VirtualWaveIn::deliverNotices();
    }
}

// The frame number on both channels: mixed to mono it stays the frame number.
VirtualWaveIn::Signal numbered()
{
    return [](std::uint64_t frame, unsigned, unsigned) { return std::int16_t(std::uint16_t(frame)); };
}

// Every frame once and in order: sample i is the stream's frame `first` + i.
void expectNumbered(const std::vector<std::int16_t> &mono, std::int16_t first)
{
    for (std::size_t i = 0; i < mono.size(); ++i)
        ASSERT_EQ(mono[i], std::int16_t(first + std::int16_t(i))) << "at " << i;
}

class SharedCapture : public testing::Test {
protected:
    VirtualWaveIn::Devices devices{{"Virtual Mic", "Virtual Line"}, 0};
};

struct FormatCase {
    const char *edge;
    DWORD rate;
    WORD channels;
    WORD bits;
};

class SharedCaptureFormats : public SharedCapture, public testing::WithParamInterface<FormatCase> {};

} // namespace

// A 440 Hz tone from a device running at 32 kHz stereo: the handle in the device's format gets
// it sample for sample, the other its own rate's worth of frames of the same tone.
TEST_P(SharedCaptureFormats, EachHandleHearsTheToneInItsOwnFormat)
{
    const FormatCase &c = GetParam();
    VirtualWaveIn::setFormat(0, 32000, 2);
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(440, 10000));
    Listener same(0, wavePcmFormat(32000, 2));
    Listener other(0, wavePcmFormat(c.rate, c.channels, c.bits));
    EXPECT_EQ(VirtualWaveIn::handles(0), (std::vector<HWAVEIN>{same.h, other.h}));
    run(0, 1000);
    other.requeue = false;
    ASSERT_EQ(waveInStop(other.h), MMSYSERR_NOERROR); // hands over the part-filled buffer
    VirtualWaveIn::deliverNotices();

    ASSERT_EQ(same.frames(), 32000u);
    const auto tone = VirtualWaveIn::sine(440, 10000);
    for (std::size_t i = 0; i < same.heard.size(); ++i)
        ASSERT_EQ(same.heard[i], tone(i / 2, unsigned(i % 2), 32000)) << "at " << i;

    // The resampler may hold back a few frames for the next call.
    EXPECT_NEAR(double(other.frames()), double(c.rate), 2.0);
    EXPECT_EQ(VirtualWaveIn::framesPumped(other.h), other.frames());
    // Past the resampler's start, the same tone at the handle's rate, delayed by its filter.
    const std::size_t settled = c.rate / 10;
    int peak = 0;
    double crossings = 0;
    for (std::size_t f = settled; f + 1 < other.frames(); ++f) {
        const int v = other.heard[f * c.channels];
        peak = std::max(peak, std::abs(v));
        crossings += (v < 0) != (other.heard[(f + 1) * c.channels] < 0);
    }
    EXPECT_NEAR(peak, 10000, 10000 * 0.05);
    const double seconds = double(other.frames() - settled) / c.rate;
    EXPECT_NEAR(crossings / 2 / seconds, 440.0, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Conversions, SharedCaptureFormats,
                         testing::Values(FormatCase{"TheMonitorsMonoAt22kHz", 22050, 1, 16},
                                         FormatCase{"StereoAt48kHz", 48000, 2, 16},
                                         FormatCase{"MonoAtTheSameRate", 32000, 1, 16},
                                         FormatCase{"EightBitsAt8kHz", 8000, 1, 8}),
                         [](const auto &info) { return std::string(info.param.edge); });

struct RateCase {
    const char *edge;
    unsigned deviceRate;
    DWORD asked; // waveInSetStreamRate
    DWORD stream;
};

class SharedCaptureRate : public SharedCapture, public testing::WithParamInterface<RateCase> {
protected:
    void TearDown() override { waveInSetStreamRate(0); }
};

// The monitor opens the device first; a handle at the rate the stream should run at then
// hears every frame as it is, while the monitor gets its own converted copy.
TEST_P(SharedCaptureRate, TheStreamRunsAtTheAskedRateOnlyBelowTheDevicesOwn)
{
    const RateCase &c = GetParam();
    VirtualWaveIn::setFormat(0, c.deviceRate, 2);
    VirtualWaveIn::setSignal(0, numbered());
    waveInSetStreamRate(c.asked);
    Listener monitor(0, wavePcmFormat(22050, 1));
    Listener recording(0, wavePcmFormat(c.stream, 2));
    run(0, 500);
    ASSERT_EQ(recording.frames(), c.stream / 2);
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i < recording.heard.size(); i += 2)
        left.push_back(recording.heard[i]);
    expectNumbered(left, 0);
    // Whole buffers of 10 ms only: the one being filled is not counted.
    EXPECT_NEAR(double(monitor.frames()), 22050 / 2, 22050 / 100 + 2);
}

INSTANTIATE_TEST_SUITE_P(Rates, SharedCaptureRate,
                         testing::Values(RateCase{"AskedBelowTheDevicesRate", 48000, 44100, 44100},
                                         RateCase{"AskedAboveTheDevicesRate", 32000, 44100, 32000},
                                         RateCase{"NoneAsked", 48000, 0, 48000}),
                         [](const auto &info) { return std::string(info.param.edge); });

struct LeaveCase {
    const char *edge;
    MMRESULT (*call)(HWAVEIN); // null: closed
};

class SharedCaptureLeaving : public SharedCapture, public testing::WithParamInterface<LeaveCase> {};

// The stream runs in the format of the handle that opened it. When that handle stops, resets
// or closes, the other goes on hearing every frame once, as if alone.
TEST_P(SharedCaptureLeaving, TheOpenersGoingLeavesTheOtherWithoutAGap)
{
    VirtualWaveIn::setSignal(0, numbered());
    auto opener = std::make_unique<Listener>(0, wavePcmFormat(16000, 2));
    Listener monitor(0, wavePcmFormat(16000, 1));
    run(0, 200);
    const bool closing = GetParam().call == nullptr;
    opener->requeue = false;
    if (closing)
        opener->close();
    else
        EXPECT_EQ(GetParam().call(opener->h), MMSYSERR_NOERROR);
    VirtualWaveIn::deliverNotices();
    const std::size_t before = opener->frames();
    run(0, 300);
    EXPECT_EQ(monitor.frames(), 8000u);
    expectNumbered(monitor.heard, 0);
    // The opener heard nothing after it left, and lost nothing before.
    EXPECT_EQ(opener->frames(), before);
    if (!closing)
        EXPECT_EQ(VirtualWaveIn::framesPumped(opener->h), before);
    if (GetParam().call != waveInReset) // a reset throws away the buffer in progress
        EXPECT_EQ(before, 3200u);
    opener.reset();
    run(0, 100);
    EXPECT_EQ(monitor.frames(), 9600u);
    expectNumbered(monitor.heard, 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, SharedCaptureLeaving,
                         testing::Values(LeaveCase{"Stop", waveInStop}, LeaveCase{"Reset", waveInReset},
                                         LeaveCase{"Close", nullptr}),
                         [](const auto &info) { return std::string(info.param.edge); });

TEST_F(SharedCapture, AHandleThatJoinsLateHearsFromThenOnAndAPausedOneFromItsContinue)
{
    VirtualWaveIn::setSignal(0, numbered());
    Listener first(0, wavePcmFormat(16000, 1));
    run(0, 100);
    Listener late(0, wavePcmFormat(16000, 1));
    run(0, 100);
    expectNumbered(late.heard, 1600);
    EXPECT_EQ(late.frames(), 1600u);

    // Stopped and started again: nothing of the time between.
    ASSERT_EQ(waveInStop(late.h), MMSYSERR_NOERROR);
    VirtualWaveIn::deliverNotices();
    run(0, 100);
    ASSERT_EQ(waveInStart(late.h), MMSYSERR_NOERROR);
    const std::size_t kept = late.frames();
    run(0, 100);
    std::vector<std::int16_t> after(late.heard.begin() + std::ptrdiff_t(kept), late.heard.end());
    expectNumbered(after, std::int16_t(4800));
    expectNumbered(first.heard, 0);
    EXPECT_EQ(first.frames(), 6400u);
}

TEST_F(SharedCapture, AHandleOnAnotherDeviceGetsAStreamOfItsOwn)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::constant(1000));
    VirtualWaveIn::setSignal(1, VirtualWaveIn::constant(-1000));
    Listener mic(0, wavePcmFormat(16000, 1));
    Listener line(1, wavePcmFormat(16000, 1));
    run(0, 100);
    EXPECT_EQ(mic.frames(), 1600u);
    EXPECT_EQ(line.frames(), 0u);
    run(1, 50);
    EXPECT_EQ(line.frames(), 800u);
    EXPECT_TRUE(std::all_of(line.heard.begin(), line.heard.end(), [](std::int16_t v) { return v == -1000; }));
    EXPECT_EQ(VirtualWaveIn::deviceOf(line.h), 1);
}

struct LossCase {
    const char *edge;
    void (*lose)();
};

class SharedCaptureLoss : public SharedCapture, public testing::WithParamInterface<LossCase> {};

// However the stream goes, every handle on it hears so once, and the device opened again
// works.
TEST_P(SharedCaptureLoss, EveryHandleHearsOfItAndTheDeviceWorksAgain)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::constant(1000));
    Listener a(0, wavePcmFormat(16000, 2));
    Listener b(0, wavePcmFormat(22050, 1));
    run(0, 100);
    GetParam().lose();
    (void)waveInStop(a.h); // with the stop failing, the stream goes with it
    VirtualWaveIn::clearFailures();
    VirtualWaveIn::deliverNotices();
    EXPECT_EQ(a.log.count(MM_WIM_DEVICELOST), 1);
    EXPECT_EQ(b.log.count(MM_WIM_DEVICELOST), 1);
    EXPECT_EQ(waveInStart(b.h), MMSYSERR_NODRIVER);

    Listener again(0, wavePcmFormat(22050, 1));
    run(0, 100);
    EXPECT_EQ(VirtualWaveIn::framesPumped(again.h), 2205u);
    EXPECT_EQ(b.frames(), 2205u); // what it heard before the loss, and no more
}

INSTANTIATE_TEST_SUITE_P(Ways, SharedCaptureLoss,
                         testing::Values(LossCase{"DeviceLost", [] { VirtualWaveIn::loseDevice(0); }},
                                         LossCase{"StopNotAnswered",
                                                  [] { VirtualWaveIn::failNext(WaveInCall::Stop, MMSYSERR_NODRIVER); }}),
                         [](const auto &info) { return std::string(info.param.edge); });
