// The wave-input service's behaviour, driven through the virtual devices.
#include "testing/virtualwavein.h"
#include "audio/wavein.h"
#include "common/audio_notices.h"

#include <gtest/gtest.h>

#include <ostream>

#include <memory>

namespace {

class WaveInService : public testing::Test {
protected:
    VirtualWaveIn::Devices devices{{"Virtual Mic", "Virtual Line"}, 1};
    WaveNoticeLog log;
    const WAVEFORMATEX format = wavePcmFormat(8000, 1); // 10 ms = 80 frames = 160 bytes

    HWAVEIN open(UINT id = WAVE_MAPPER, const WAVEFORMATEX *f = nullptr)
    {
        HWAVEIN h = nullptr;
        EXPECT_EQ(waveInOpen(&h, id, f ? f : &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
        return h;
    }

    static void deliver() { VirtualWaveIn::deliverNotices(); }
};

std::vector<std::int16_t> counterRange(int from, int count)
{
    std::vector<std::int16_t> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[std::size_t(i)] = std::int16_t(from + i);
    return v;
}

} // namespace

TEST_F(WaveInService, ListsTheVirtualDevicesAndTheirDefault)
{
    EXPECT_EQ(waveInGetNumDevs(), 2u);
    WAVEINCAPSA caps{};
    ASSERT_EQ(waveInGetDevCapsA(0, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Virtual Mic");
    ASSERT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Virtual Line");
    UINT def = 99;
    EXPECT_EQ(waveInGetDefaultDevice(&def), MMSYSERR_NOERROR);
    EXPECT_EQ(def, 1u);
    EXPECT_EQ(waveInGetDevCapsA(2, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInGetDevCapsA(0, &caps, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInGetUnavailableReason(), "");
}

TEST_F(WaveInService, OpenAndClosePostTheirNoticesInOrder)
{
    HWAVEIN h = open();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(log.entries.size(), 0u) << "notices are posted, not called";
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    deliver();
    ASSERT_EQ(log.entries.size(), 2u);
    EXPECT_EQ(log.entries[0].message, MM_WIM_OPEN);
    EXPECT_EQ(log.entries[1].message, MM_WIM_CLOSE);
    EXPECT_EQ(log.entries[0].handle, h);
    EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(h), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveInService, BuffersComeBackFullInQueueOrder)
{
    VirtualWaveIn::setSignal(1, VirtualWaveIn::counter());
    HWAVEIN h = open();
    WaveBuffers buffers(3, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 30);
    deliver();
    const auto data = log.data();
    ASSERT_EQ(data.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(data[std::size_t(i)].header, buffers.header(i));
        EXPECT_EQ(data[std::size_t(i)].bytesRecorded, 160u);
        EXPECT_EQ(buffers.header(i)->dwFlags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_EQ(buffers.samples(buffers.header(i)), counterRange(80 * i, 80));
    }
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, StopHandsBackThePartFilledBufferAndStartResumes)
{
    VirtualWaveIn::setSignal(1, VirtualWaveIn::counter());
    HWAVEIN h = open();
    WaveBuffers buffers(2, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 5);
    ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    deliver();
    ASSERT_EQ(log.data().size(), 1u);
    EXPECT_EQ(log.data()[0].header, buffers.header(0));
    EXPECT_EQ(log.data()[0].bytesRecorded, 80u);
    EXPECT_EQ(VirtualWaveIn::queuedBuffers(h), 1u);

    VirtualWaveIn::pump(1, 50); // halted: nothing arrives
    deliver();
    EXPECT_EQ(log.data().size(), 1u);

    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 10);
    deliver();
    ASSERT_EQ(log.data().size(), 2u);
    EXPECT_EQ(log.data()[1].header, buffers.header(1));
    EXPECT_EQ(buffers.samples(buffers.header(1)), counterRange(40, 80));
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, StopWithAnEmptyBufferInProgressKeepsItQueued)
{
    HWAVEIN h = open();
    WaveBuffers buffers(2, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    deliver();
    EXPECT_EQ(log.data().size(), 0u);
    EXPECT_EQ(VirtualWaveIn::queuedBuffers(h), 2u);
    EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, ResetHandsBackEveryBufferAtOnceThenCloseSucceeds)
{
    HWAVEIN h = open();
    WaveBuffers buffers(3, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 5);
    EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(VirtualWaveIn::queuedBuffers(h), 0u);
    EXPECT_FALSE(VirtualWaveIn::started(h));
    deliver();
    const auto data = log.data();
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0].bytesRecorded, 80u);
    EXPECT_EQ(data[1].bytesRecorded, 0u);
    EXPECT_EQ(data[2].bytesRecorded, 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(data[std::size_t(i)].header, buffers.header(i));
        EXPECT_TRUE(buffers.header(i)->dwFlags & WHDR_DONE);
        EXPECT_FALSE(buffers.header(i)->dwFlags & WHDR_INQUEUE);
    }
    MMTIME position{TIME_BYTES, {}};
    EXPECT_EQ(waveInGetPosition(h, &position, sizeof(position)), MMSYSERR_NOERROR);
    EXPECT_EQ(position.u.cb, 0u) << "a reset starts the position again";
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, SoundArrivingWithNoBufferQueuedIsHeldAndHandedOverInOrder)
{
    VirtualWaveIn::setSignal(1, VirtualWaveIn::counter());
    HWAVEIN h = open();
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 1500); // 12000 frames wait for buffers
    WaveBuffers buffers(2, 16000);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    deliver();
    ASSERT_EQ(log.data().size(), 1u) << "the first buffer is filled at once from what was held";
    VirtualWaveIn::pump(1, 500);
    deliver();
    ASSERT_EQ(log.data().size(), 2u);
    EXPECT_EQ(buffers.samples(buffers.header(0)), counterRange(0, 8000));
    EXPECT_EQ(buffers.samples(buffers.header(1)), counterRange(8000, 8000));
    std::uint64_t dropped = 99;
    EXPECT_EQ(waveInGetDroppedBytes(h, &dropped), MMSYSERR_NOERROR);
    EXPECT_EQ(dropped, 0u);
    waveInReset(h);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, SoundBeyondTwoSecondsWithoutBuffersIsDroppedAndCounted)
{
    VirtualWaveIn::setSignal(1, VirtualWaveIn::counter());
    HWAVEIN h = open();
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 3000);
    std::uint64_t dropped = 0;
    EXPECT_EQ(waveInGetDroppedBytes(h, &dropped), MMSYSERR_NOERROR);
    EXPECT_EQ(dropped, 16000u) << "one second of 8000 Hz mono 16-bit";
    WaveBuffers buffers(1, 32000);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    deliver();
    ASSERT_EQ(log.data().size(), 1u);
    EXPECT_EQ(buffers.samples(buffers.header(0)), counterRange(0, 16000)) << "the oldest two seconds are kept";
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, HeldSoundCanBeTakenOnceHaltedOrLostButNotAfterAReset)
{
    VirtualWaveIn::setSignal(1, VirtualWaveIn::counter());
    HWAVEIN h = open();
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 100); // 800 frames, no buffer queued
    std::vector<std::int16_t> taken(1000, -1);
    UINT bytes = 99;
    EXPECT_EQ(waveInTakeHeldSound(h, taken.data(), 2000, &bytes), WAVERR_STILLPLAYING) << "still running";
    ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    // Whole frames only, oldest first, in pieces.
    ASSERT_EQ(waveInTakeHeldSound(h, taken.data(), 601, &bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes, 600u);
    ASSERT_EQ(waveInTakeHeldSound(h, taken.data() + 300, 2000, &bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes, 1000u);
    taken.resize(800);
    EXPECT_EQ(taken, counterRange(0, 800));
    ASSERT_EQ(waveInTakeHeldSound(h, taken.data(), 2000, &bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes, 0u);

    // A lost device keeps what it held; a reset throws it away.
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 10);
    VirtualWaveIn::loseDevice(1);
    ASSERT_EQ(waveInTakeHeldSound(h, taken.data(), 2000, &bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes, 160u);
    EXPECT_EQ(taken[0], 800);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInTakeHeldSound(h, taken.data(), 2000, &bytes), MMSYSERR_INVALHANDLE);

    h = open();
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 10);
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInTakeHeldSound(h, taken.data(), 2000, &bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, AStopTheSourceDoesNotAnswerCountsAsDoneAndTheDeviceAsLost)
{
    HWAVEIN h = open();
    WaveBuffers buffers(2, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 5);
    VirtualWaveIn::failNext(WaveInCall::Stop, MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStop(h), MMSYSERR_NODRIVER);
    EXPECT_FALSE(VirtualWaveIn::started(h));
    deliver();
    ASSERT_EQ(log.count(MM_WIM_DATA), 2);
    EXPECT_EQ(log.count(MM_WIM_DEVICELOST), 1);
    EXPECT_EQ(log.entries[1].bytesRecorded, 80u) << "the part-filled buffer first";
    EXPECT_EQ(waveInStart(h), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, ALostDeviceHandsBackEveryBufferThenSaysSo)
{
    HWAVEIN h = open();
    WaveBuffers buffers(3, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveIn::pump(1, 5);
    VirtualWaveIn::loseDevice(1);
    deliver();
    ASSERT_EQ(log.entries.size(), 5u);
    EXPECT_EQ(log.entries[0].message, MM_WIM_OPEN);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log.entries[std::size_t(i + 1)].message, MM_WIM_DATA);
        EXPECT_EQ(log.entries[std::size_t(i + 1)].header, buffers.header(i));
    }
    EXPECT_EQ(log.entries[1].bytesRecorded, 80u);
    EXPECT_EQ(log.entries[4].message, MM_WIM_DEVICELOST);
    EXPECT_EQ(log.entries[4].header, nullptr);

    EXPECT_EQ(waveInAddBuffer(h, buffers.header(0), sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStart(h), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStop(h), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInReset(h), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInUnprepareHeader(h, buffers.header(0), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    deliver();
    EXPECT_EQ(log.entries.back().message, MM_WIM_CLOSE);
}

TEST_F(WaveInService, UninstallingLosesHandlesStillOpen)
{
    HWAVEIN h = open();
    WaveBuffers buffers(1, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    VirtualWaveIn::uninstall();
    deliver();
    EXPECT_EQ(log.count(MM_WIM_DATA), 1);
    EXPECT_EQ(log.count(MM_WIM_DEVICELOST), 1);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    VirtualWaveIn::install({"Virtual Mic", "Virtual Line"}, 1);
}

TEST_F(WaveInService, HeaderMisuseIsRefused)
{
    HWAVEIN h = open();
    WaveBuffers buffers(1, 160);
    WAVEHDR *hdr = buffers.header(0);
    EXPECT_EQ(waveInPrepareHeader(h, hdr, 32), MMSYSERR_INVALPARAM) << "callers pass sizeof(WAVEHDR)";
    EXPECT_EQ(waveInAddBuffer(h, hdr, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    ASSERT_EQ(waveInPrepareHeader(h, hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(h, hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(h, hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInPrepareHeader(h, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInPrepareHeader(reinterpret_cast<HWAVEIN>(0x77), hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    WaveBuffers tiny(1, 1); // less than one frame
    ASSERT_EQ(waveInPrepareHeader(h, tiny.header(0), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(h, tiny.header(0), sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    waveInReset(h);
    EXPECT_EQ(waveInUnprepareHeader(h, hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_FALSE(hdr->dwFlags & WHDR_PREPARED);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, OpenRefusesWhatItCannotDo)
{
    HWAVEIN h = nullptr;
    WAVEFORMATEX bad = wavePcmFormat(96000, 2);
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &bad, &log, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &format, DWORD_PTR(&log), 0, 0x00030000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &format, 0, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&h, 2, &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, nullptr, &log, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &format, &log, 0, CALLBACK_WINDOW | WAVE_FORMAT_QUERY),
              MMSYSERR_NOERROR);
    deliver();
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(log.entries.empty());
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
}

struct InjectedCase {
    const char *edge;
    WaveInCall call;
    MMRESULT result;
};

void PrintTo(const InjectedCase &c, std::ostream *os)
{
    *os << c.edge;
}

class WaveInInjected : public WaveInService, public testing::WithParamInterface<InjectedCase> {};

TEST_P(WaveInInjected, ReturnsTheChosenCodeOnceThenWorks)
{
    const InjectedCase &c = GetParam();
    VirtualWaveIn::failNext(c.call, c.result);
    WaveBuffers buffers(1, 160);
    HWAVEIN h = nullptr;
    auto attempt = [&] {
        if (!h) {
            if (MMRESULT r = waveInOpen(&h, WAVE_MAPPER, &format, &log, 0, CALLBACK_WINDOW))
                return r;
        }
        if (!(buffers.header(0)->dwFlags & WHDR_PREPARED))
            if (MMRESULT r = waveInPrepareHeader(h, buffers.header(0), sizeof(WAVEHDR)))
                return r;
        if (!(buffers.header(0)->dwFlags & WHDR_INQUEUE))
            if (MMRESULT r = waveInAddBuffer(h, buffers.header(0), sizeof(WAVEHDR)))
                return r;
        return waveInStart(h);
    };
    EXPECT_EQ(attempt(), c.result);
    EXPECT_EQ(attempt(), MMSYSERR_NOERROR);
    EXPECT_TRUE(VirtualWaveIn::started(h));
    waveInReset(h);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Calls, WaveInInjected,
                         testing::Values(InjectedCase{"Open", WaveInCall::Open, MMSYSERR_ALLOCATED},
                                         InjectedCase{"Prepare", WaveInCall::Prepare, MMSYSERR_NOMEM},
                                         InjectedCase{"AddBuffer", WaveInCall::AddBuffer, MMSYSERR_INVALPARAM},
                                         InjectedCase{"Start", WaveInCall::Start, MMSYSERR_ERROR}),
                         [](const auto &info) { return std::string(info.param.edge); });

TEST_F(WaveInService, FailuresCanLastUntilCleared)
{
    VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_NODRIVER, -1);
    HWAVEIN h = nullptr;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(waveInOpen(&h, 0, &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_NODRIVER);
    VirtualWaveIn::clearFailures();
    EXPECT_EQ(waveInOpen(&h, 0, &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, ATargetDestroyedWhileOpenIsSkipped)
{
    auto gone = std::make_unique<WaveNoticeLog>();
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 1, &format, gone.get(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WaveBuffers buffers(2, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    waveInStart(h);
    VirtualWaveIn::pump(1, 10);
    gone.reset();
    VirtualWaveIn::pump(1, 10);
    deliver(); // nothing to receive them: they are dropped quietly
    EXPECT_EQ(VirtualWaveIn::queuedBuffers(h), 0u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    deliver();
}

TEST_F(WaveInService, WithoutACallbackBuffersStillComeBack)
{
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 1, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    WaveBuffers buffers(1, 160);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    waveInStart(h);
    VirtualWaveIn::pump(1, 10);
    EXPECT_TRUE(buffers.header(0)->dwFlags & WHDR_DONE);
    EXPECT_EQ(buffers.header(0)->dwBytesRecorded, 160u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, PositionCountsCapturedSound)
{
    HWAVEIN h = open();
    waveInStart(h);
    VirtualWaveIn::pump(1, 250);
    MMTIME t{TIME_SAMPLES, {}};
    ASSERT_EQ(waveInGetPosition(h, &t, sizeof(t)), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 2000u);
    t.wType = TIME_MS;
    waveInGetPosition(h, &t, sizeof(t));
    EXPECT_EQ(t.u.ms, 250u);
    t.wType = 0x40; // not offered: bytes instead
    waveInGetPosition(h, &t, sizeof(t));
    EXPECT_EQ(t.wType, TIME_BYTES);
    EXPECT_EQ(t.u.cb, 4000u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, EightBitCaptureIsUnsigned)
{
    VirtualWaveIn::setSignal(1, VirtualWaveIn::constant(-32768));
    const WAVEFORMATEX eight = wavePcmFormat(8000, 1, 8);
    HWAVEIN h = open(WAVE_MAPPER, &eight);
    WaveBuffers buffers(1, 80);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    waveInStart(h);
    VirtualWaveIn::pump(1, 10);
    EXPECT_EQ(buffers.header(0)->dwBytesRecorded, 80u);
    EXPECT_EQ(static_cast<unsigned char>(buffers.header(0)->lpData[0]), 0u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, PumpCountsTimeExactlyAtOddRates)
{
    const WAVEFORMATEX odd = wavePcmFormat(22050, 1);
    HWAVEIN h = open(WAVE_MAPPER, &odd);
    waveInStart(h);
    for (int i = 0; i < 1000; ++i)
        VirtualWaveIn::pump(h, 1);
    EXPECT_EQ(VirtualWaveIn::framesPumped(h), 22050u);
    waveInReset(h);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, DevicesTellTheirSourceNameAndTheWatcherHearsChanges)
{
    VirtualWaveIn::installNamed({{"USB Mic", "usb-a"}, {"USB Mic", "usb-b"}});
    EXPECT_EQ(waveInGetNumDevs(), 2u);
    EXPECT_EQ(waveInGetDeviceName(1), "usb-b");
    EXPECT_EQ(waveInGetDeviceDescription(1), "USB Mic");
    EXPECT_EQ(waveInGetDeviceName(2), "");
    ASSERT_EQ(waveInWatchDevices(&log), MMSYSERR_NOERROR);
    const int added = VirtualWaveIn::addDevice("Webcam");
    VirtualWaveIn::removeDevice(0);
    deliver();
    EXPECT_EQ(log.count(MM_WIM_DEVICESCHANGED), 2);
    // The list itself waits for a refresh.
    EXPECT_EQ(waveInGetDeviceName(0), "usb-a");
    ASSERT_EQ(waveInWatchDevices(nullptr), MMSYSERR_NOERROR);
    VirtualWaveIn::removeDevice(added);
    deliver();
    EXPECT_EQ(log.count(MM_WIM_DEVICESCHANGED), 2);
}

TEST_F(WaveInService, ARefreshKeepingIdsMarksGoneAppendsNewAndRevivesReturning)
{
    VirtualWaveIn::installNamed({{"Mic", "mic"}, {"Line", "line"}});
    HWAVEIN h = open(1);
    VirtualWaveIn::removeDevice(0);
    VirtualWaveIn::addDevice("USB Mic", "usb");
    ASSERT_EQ(waveInRefreshDevices(true), 3u);
    WAVEINCAPSA caps{};
    EXPECT_EQ(waveInGetDevCapsA(0, &caps, sizeof(caps)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInGetDeviceDescription(0), "Mic"); // still named, for the list to say it went
    HWAVEIN other = nullptr;
    EXPECT_EQ(waveInOpen(&other, 0, &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInOpen(nullptr, 0, &format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInGetDeviceName(1), "line");
    EXPECT_EQ(waveInGetDeviceName(2), "usb");
    ASSERT_EQ(waveInGetDevCapsA(2, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "USB Mic");
    // The handle opened before is untouched.
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(VirtualWaveIn::started(h));
    // Back under its name: the same id again, and it opens the new device.
    const int back = VirtualWaveIn::addDevice("Mic again", "mic");
    ASSERT_EQ(waveInRefreshDevices(true), 3u);
    EXPECT_EQ(waveInGetDeviceDescription(0), "Mic again");
    ASSERT_EQ(waveInOpen(&other, 0, &format, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(VirtualWaveIn::deviceOf(other), back);
    EXPECT_EQ(waveInClose(other), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveInService, ANewListDropsGoneDevicesButTheOneToKeep)
{
    VirtualWaveIn::installNamed({{"Mic", "mic"}, {"Line", "line"}, {"Cam", "cam"}});
    VirtualWaveIn::removeDevice(0);
    VirtualWaveIn::removeDevice(1);
    ASSERT_EQ(waveInRefreshDevices(false, 1), 2u);
    EXPECT_EQ(waveInGetDeviceName(0), "cam");
    EXPECT_EQ(waveInGetDeviceName(1), "line");
    WAVEINCAPSA caps{};
    EXPECT_EQ(waveInGetDevCapsA(1, &caps, sizeof(caps)), MMSYSERR_NODRIVER);
    // Kept only while it is the one asked for.
    ASSERT_EQ(waveInRefreshDevices(false, 0), 1u);
    EXPECT_EQ(waveInGetDeviceName(0), "cam");
    EXPECT_EQ(waveInGetNumDevs(), 1u);
}
