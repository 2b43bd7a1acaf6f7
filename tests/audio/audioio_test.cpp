// The capture component over the virtual devices.
#include "audio/AudioIO.h"
#include "testing/faults.h"
#include "testing/virtualwavein.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <functional>

namespace {

// Stands in for the main window: owns the component and has the handler the program binds.
class FakeForm : public QWidget {
public:
    TAudioIn *AudioIn1 = nullptr;
    int filled = 0;
    std::vector<std::int32_t> sizes;
    std::vector<std::int16_t> firstSamples;
    std::function<bool()> answer = [] { return true; };

    FakeForm() { AudioIn1 = new TAudioIn(this); }

    bool AudioIn1BufferFilled(void *Buffer, std::int32_t &Size)
    {
        ++filled;
        sizes.push_back(Size);
        std::int16_t first = 0;
        std::memcpy(&first, Buffer, sizeof(first));
        firstSamples.push_back(first);
        Size = 0; // the component ignores changes to its copy
        return answer();
    }

    void bind() { AudioIn1->OnBufferFilled = std::bind_front(&FakeForm::AudioIn1BufferFilled, this); }

    int hiddenWindows() const { return int(findChildren<TCallBackWinIn *>().size()); }
};

class CaptureComponent : public testing::Test {
protected:
    VirtualWaveIn::Devices devices{{"Mic", "Default Line"}, 1};
    FakeForm form;

    void SetUp() override
    {
        form.AudioIn1->SetBufferSize(4096);
        form.AudioIn1->SetFrameRate(22050);
        form.bind();
        VirtualWaveIn::setSignal(1, VirtualWaveIn::constant(777));
    }

    void TearDown() override
    {
        form.AudioIn1->StopNow();
        deliver();
    }

    bool start() { return form.AudioIn1->StartCapture(form.AudioIn1); }
    static void deliver() { VirtualWaveIn::deliverNotices(); }
    // One buffer of the program's monitor: 2048 samples at 22050 Hz.
    static void pumpBuffers(int n)
    {
        for (int i = 0; i < n; ++i)
            VirtualWaveIn::pumpFrames(VirtualWaveIn::handles(1).at(0), 2048);
    }
};

} // namespace

TEST(CaptureDefaults, AreThoseOfAFreshComponent)
{
    QWidget owner;
    TAudioIn in(&owner);
    EXPECT_EQ(in.BufferSize(), 8192);
    EXPECT_EQ(in.NumBuffers(), 4);
    EXPECT_EQ(in.FrameRate(), 22050);
    EXPECT_FALSE(in.Stereo());
    EXPECT_EQ(in.Quantization(), 16);
    EXPECT_FALSE(in.Capturing);
    EXPECT_EQ(in.OutstandingCount, 0);
    EXPECT_TRUE(in.ErrorText.isEmpty());
    EXPECT_EQ(in.WaveFormat().wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(in.WaveFormat().nBlockAlign, 2);
    EXPECT_EQ(in.WaveFormat().nAvgBytesPerSec, 44100u);
    EXPECT_EQ(in.WaveFormat().cbSize, 0);
    EXPECT_EQ(in.property("BufferSize").toInt(), 8192);
}

struct SizeCase {
    const char *edge;
    std::int32_t wanted;
    bool stereo;
    std::uint16_t bits;
    std::int32_t effective;
};

void PrintTo(const SizeCase &c, std::ostream *os)
{
    *os << c.edge;
}

class CaptureBufferSize : public testing::TestWithParam<SizeCase> {};

TEST_P(CaptureBufferSize, IsClampedAndCutToWholeFrames)
{
    const SizeCase &c = GetParam();
    QWidget owner;
    TAudioIn in(&owner);
    in.SetStereo(c.stereo);
    in.SetQuantization(c.bits);
    in.SetBufferSize(c.wanted);
    EXPECT_EQ(in.BufferSize(), c.effective);
}

INSTANTIATE_TEST_SUITE_P(Edges, CaptureBufferSize,
                         testing::Values(SizeCase{"TooSmallBecomes512", 100, false, 16, 512},
                                         SizeCase{"OddMono16CutTo4096", 4097, false, 16, 4096},
                                         SizeCase{"Stereo16CutToFourBytes", 4099, true, 16, 4096},
                                         SizeCase{"Mono8KeepsOddSize", 4097, false, 8, 4097},
                                         SizeCase{"NegativeBecomes512", -1, false, 16, 512}),
                         [](const auto &info) { return std::string(info.param.edge); });

struct ClampCase {
    const char *edge;
    int value;
    int expected;
};

void PrintTo(const ClampCase &c, std::ostream *os)
{
    *os << c.edge;
}

class CaptureNumBuffers : public testing::TestWithParam<ClampCase> {};

TEST_P(CaptureNumBuffers, AreClampedToTwoToFour)
{
    QWidget owner;
    TAudioIn in(&owner);
    in.SetNumBuffers(GetParam().value);
    EXPECT_EQ(in.NumBuffers(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Edges, CaptureNumBuffers,
                         testing::Values(ClampCase{"OneBecomesTwo", 1, 2}, ClampCase{"NineBecomesFour", 9, 4},
                                         ClampCase{"ThreeStays", 3, 3}, ClampCase{"NegativeBecomesTwo", -5, 2}),
                         [](const auto &info) { return std::string(info.param.edge); });

class CaptureQuantization : public testing::TestWithParam<ClampCase> {};

TEST_P(CaptureQuantization, IsEightOrSixteen)
{
    QWidget owner;
    TAudioIn in(&owner);
    in.SetQuantization(std::uint16_t(GetParam().value));
    EXPECT_EQ(in.Quantization(), GetParam().expected);
    EXPECT_EQ(in.WaveFormat().nBlockAlign, GetParam().expected / 8);
}

INSTANTIATE_TEST_SUITE_P(Edges, CaptureQuantization,
                         testing::Values(ClampCase{"SevenBecomesEight", 7, 8}, ClampCase{"TwelveBecomesSixteen", 12, 16},
                                         ClampCase{"EightStays", 8, 8}, ClampCase{"SixteenStays", 16, 16},
                                         ClampCase{"ZeroBecomesEight", 0, 8}),
                         [](const auto &info) { return std::string(info.param.edge); });

TEST(CaptureFormat, StereoAt22050Is88200BytesASecond)
{
    QWidget owner;
    TAudioIn in(&owner);
    in.SetStereo(true);
    in.SetFrameRate(22050);
    EXPECT_TRUE(in.Stereo());
    EXPECT_EQ(in.WaveFormat().nChannels, 2);
    EXPECT_EQ(in.WaveFormat().nBlockAlign, 4);
    EXPECT_EQ(in.WaveFormat().nAvgBytesPerSec, 88200u);
}

TEST_F(CaptureComponent, StartsOnTheDefaultDeviceWithEveryBufferQueued)
{
    int started = 0;
    form.AudioIn1->OnStart = [&](QObject *sender) {
        EXPECT_EQ(sender, form.AudioIn1);
        ++started;
    };
    ASSERT_TRUE(start()) << form.AudioIn1->ErrorText.toStdString();
    EXPECT_TRUE(form.AudioIn1->Capturing);
    EXPECT_EQ(form.AudioIn1->OutstandingCount, 4);
    const auto handles = VirtualWaveIn::handles(1);
    ASSERT_EQ(handles.size(), 1u) << "WAVE_MAPPER opens the default device";
    EXPECT_EQ(VirtualWaveIn::queuedBuffers(handles[0]), 4u);
    EXPECT_TRUE(VirtualWaveIn::started(handles[0]));
    EXPECT_EQ(VirtualWaveIn::format(handles[0]).nSamplesPerSec, 22050u);
    ASSERT_NE(form.AudioIn1->CallbackWindow(), nullptr);
    EXPECT_EQ(form.AudioIn1->CallbackWindow()->FAudioRef, &form.AudioIn1);
    EXPECT_EQ(started, 0) << "OnStart waits for the open notice";
    deliver();
    EXPECT_EQ(started, 1);
}

TEST_F(CaptureComponent, HandsEveryFilledBufferToTheHandlerAndQueuesItAgain)
{
    ASSERT_TRUE(start());
    pumpBuffers(10);
    deliver();
    EXPECT_EQ(form.filled, 10);
    EXPECT_EQ(form.sizes, std::vector<std::int32_t>(10, 4096));
    EXPECT_EQ(form.firstSamples, std::vector<std::int16_t>(10, 777));
    EXPECT_EQ(form.AudioIn1->OutstandingCount, 4);
    EXPECT_TRUE(form.AudioIn1->Capturing);
}

TEST_F(CaptureComponent, TheHiddenWindowStaysHidden)
{
    form.show();
    ASSERT_TRUE(start());
    EXPECT_FALSE(form.AudioIn1->CallbackWindow()->isVisible());
}

TEST_F(CaptureComponent, ASecondStartIsRefusedAndChangesNothing)
{
    ASSERT_TRUE(start());
    const HWAVEIN handle = form.AudioIn1->WaveHandle();
    EXPECT_FALSE(start());
    EXPECT_EQ(form.AudioIn1->ErrorText, QStringLiteral("Wave Input device is already open"));
    EXPECT_TRUE(form.AudioIn1->Capturing);
    EXPECT_EQ(form.AudioIn1->WaveHandle(), handle);
    EXPECT_EQ(form.AudioIn1->OutstandingCount, 4);
    EXPECT_EQ(VirtualWaveIn::handles().size(), 1u);
}

TEST_F(CaptureComponent, StopNowOnAClosedComponentDoesNothing)
{
    int stops = 0;
    form.AudioIn1->OnStop = [&](QObject *) { ++stops; };
    form.AudioIn1->ErrorText = QStringLiteral("kept");
    form.AudioIn1->StopNow();
    deliver();
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_EQ(form.AudioIn1->ErrorText, QStringLiteral("kept"));
    EXPECT_EQ(stops, 0);
}

TEST_F(CaptureComponent, NothingIsDeliveredAfterStopNow)
{
    int stops = 0;
    form.AudioIn1->OnStop = [&](QObject *) { ++stops; };
    ASSERT_TRUE(start());
    deliver();
    pumpBuffers(3); // three notices wait in the queue
    form.AudioIn1->StopNow();
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
    deliver();
    EXPECT_EQ(form.filled, 0);
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_EQ(stops, 1);
}

TEST_F(CaptureComponent, LateNoticesOfAStoppedDeviceDoNotDisturbTheNextCapture)
{
    ASSERT_TRUE(start());
    pumpBuffers(2);
    form.AudioIn1->StopNow();
    ASSERT_TRUE(start());
    deliver();
    EXPECT_EQ(form.filled, 0);
    EXPECT_TRUE(form.AudioIn1->Capturing);
    EXPECT_EQ(form.AudioIn1->OutstandingCount, 4);
    pumpBuffers(1);
    deliver();
    EXPECT_EQ(form.filled, 1);
}

TEST_F(CaptureComponent, StopWhenDrainedClosesOnceTheLastBufferIsBack)
{
    ASSERT_TRUE(start());
    form.AudioIn1->StopWhenDrained();
    EXPECT_TRUE(form.AudioIn1->Capturing);
    pumpBuffers(3);
    deliver();
    EXPECT_TRUE(form.AudioIn1->Capturing) << "one buffer is still out";
    EXPECT_TRUE(form.AudioIn1->DeviceOpen());
    EXPECT_EQ(form.AudioIn1->OutstandingCount, 1);
    pumpBuffers(1);
    deliver();
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
    EXPECT_EQ(form.filled, 0);
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
}

TEST_F(CaptureComponent, AHandlerRefusingBuffersDrainsTheDevice)
{
    form.answer = [] { return false; };
    ASSERT_TRUE(start());
    pumpBuffers(4);
    deliver();
    EXPECT_EQ(form.filled, 4);
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
}

TEST_F(CaptureComponent, AHandlerMayStopTheCaptureItIsCalledFrom)
{
    form.answer = [&] {
        form.AudioIn1->StopNow();
        return true;
    };
    ASSERT_TRUE(start());
    pumpBuffers(2);
    deliver();
    EXPECT_EQ(form.filled, 1);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
    EXPECT_TRUE(form.AudioIn1->ErrorText.isEmpty());
}

struct StartFailureCase {
    const char *edge;
    WaveInCall call;
    MMRESULT result;
    const char *prefix;
};

void PrintTo(const StartFailureCase &c, std::ostream *os)
{
    *os << c.edge;
}

class CaptureStartFailure : public CaptureComponent, public testing::WithParamInterface<StartFailureCase> {};

TEST_P(CaptureStartFailure, ReportsTheTextAndLeavesTheComponentClosed)
{
    const StartFailureCase &c = GetParam();
    VirtualWaveIn::failNext(c.call, c.result);
    EXPECT_FALSE(start());
    EXPECT_EQ(form.AudioIn1->ErrorText, QString::fromUtf8(c.prefix) + InErrorText(c.result));
    EXPECT_FALSE(form.AudioIn1->ErrorText.isEmpty());
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
    deliver();
    EXPECT_EQ(form.hiddenWindows(), 0);
    // Nothing is left behind: the next start works.
    EXPECT_TRUE(start()) << form.AudioIn1->ErrorText.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CaptureStartFailure,
    testing::Values(StartFailureCase{"OpenFails", WaveInCall::Open, MMSYSERR_ALLOCATED, ""},
                    StartFailureCase{"PrepareFails", WaveInCall::Prepare, MMSYSERR_NOMEM, ""},
                    StartFailureCase{"StartFails", WaveInCall::Start, MMSYSERR_ERROR,
                                     "Error starting wave record: "},
                    StartFailureCase{"QueueFails", WaveInCall::AddBuffer, MMSYSERR_INVALPARAM, ""}),
    [](const auto &info) { return std::string(info.param.edge); });

TEST_F(CaptureComponent, AFrameRateTheServiceCannotTakeFailsTheStart)
{
    form.AudioIn1->SetFrameRate(96000);
    EXPECT_EQ(form.AudioIn1->FrameRate(), 96000);
    EXPECT_FALSE(start());
    EXPECT_EQ(form.AudioIn1->ErrorText, InErrorText(WAVERR_BADFORMAT));
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
}

TEST_F(CaptureComponent, AQueueFailureDuringCaptureDrainsSilently)
{
    ASSERT_TRUE(start());
    VirtualWaveIn::failNext(WaveInCall::AddBuffer, MMSYSERR_NOMEM);
    pumpBuffers(1);
    deliver();
    EXPECT_EQ(form.filled, 1);
    EXPECT_EQ(form.AudioIn1->ErrorText, InErrorText(MMSYSERR_NOMEM));
    EXPECT_TRUE(form.AudioIn1->Capturing) << "draining";
    pumpBuffers(3);
    deliver();
    EXPECT_EQ(form.filled, 1);
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
}

TEST_F(CaptureComponent, ALostDeviceGivesBackWhatWasRecordedAndCloses)
{
    int lost = 0;
    form.AudioIn1->OnDeviceLost = [&](QObject *) { ++lost; };
    ASSERT_TRUE(start());
    VirtualWaveIn::pumpFrames(VirtualWaveIn::handles(1).at(0), 1000);
    VirtualWaveIn::loseDevice(1);
    deliver();
    EXPECT_EQ(form.sizes, std::vector<std::int32_t>{2000}) << "only what was recorded is handed over";
    EXPECT_FALSE(form.AudioIn1->Capturing);
    EXPECT_FALSE(form.AudioIn1->DeviceOpen());
    EXPECT_EQ(form.AudioIn1->ErrorText, InErrorText(MMSYSERR_NODRIVER));
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
    EXPECT_EQ(form.hiddenWindows(), 0);
    EXPECT_TRUE(start()) << "the device is back";
}

struct MemoryCase {
    const char *edge;
    TAudioMemoryFault fault;
    const char *text;
};

void PrintTo(const MemoryCase &c, std::ostream *os)
{
    *os << c.edge;
}

class CaptureMemoryFailure : public testing::TestWithParam<MemoryCase> {};

TEST_P(CaptureMemoryFailure, LeavesItsTextAndAStartTriesAgain)
{
    VirtualWaveIn::Devices devices({"Mic"});
    QWidget owner;
    const MemoryCase &c = GetParam();
    SetAudioMemoryFault(c.fault);
    auto *in = new TAudioIn(&owner);
    EXPECT_EQ(in->ErrorText, QString::fromUtf8(c.text));
    EXPECT_TRUE(in->StartCapture(in)) << in->ErrorText.toStdString();
    EXPECT_EQ(in->OutstandingCount, 4);
    in->StopNow();
    VirtualWaveIn::deliverNotices();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CaptureMemoryFailure,
    testing::Values(MemoryCase{"HeaderAllocate", TAudioMemoryFault::HeaderAllocate, "Error allocating wave header memory"},
                    MemoryCase{"HeaderLock", TAudioMemoryFault::HeaderLock, "Could not lock header memory for recording"},
                    MemoryCase{"BufferAllocate", TAudioMemoryFault::BufferAllocate, "Error allocating wave buffer memory"},
                    MemoryCase{"BufferLock", TAudioMemoryFault::BufferLock, "Error Locking wave buffer memory"}),
    [](const auto &info) { return std::string(info.param.edge); });

TEST(CaptureMemory, AFailedBufferSizeChangeIsReportedByTheNextStart)
{
    VirtualWaveIn::Devices devices({"Mic"});
    QWidget owner;
    auto *in = new TAudioIn(&owner);
    SetAudioMemoryFault(TAudioMemoryFault::BufferAllocate);
    in->SetBufferSize(2048);
    EXPECT_EQ(in->ErrorText, QStringLiteral("Error allocating wave buffer memory"));
    SetAudioMemoryFault(TAudioMemoryFault::BufferLock);
    EXPECT_FALSE(in->StartCapture(in));
    EXPECT_EQ(in->ErrorText, QStringLiteral("Error Locking wave buffer memory"));
    EXPECT_FALSE(in->DeviceOpen());
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
}

TEST_F(CaptureComponent, ANewBufferSizeWaitsUntilTheDeviceHasLetGo)
{
    ASSERT_TRUE(start());
    form.AudioIn1->SetBufferSize(1024);
    EXPECT_EQ(form.AudioIn1->BufferSize(), 1024);
    pumpBuffers(1);
    deliver();
    EXPECT_EQ(form.sizes.back(), 4096) << "the device still fills the buffers it was given";
    form.AudioIn1->StopNow();
    deliver();
    ASSERT_TRUE(start());
    VirtualWaveIn::pumpFrames(VirtualWaveIn::handles(1).at(0), 512);
    deliver();
    EXPECT_EQ(form.sizes.back(), 1024);
}

TEST_F(CaptureComponent, SettingsRaisedAfterAllocationGetBuffersBigEnough)
{
    form.AudioIn1->SetNumBuffers(2);
    form.AudioIn1->SetBufferSize(4097); // 4096 for 16-bit mono, two buffers
    form.AudioIn1->SetNumBuffers(4);
    form.AudioIn1->SetQuantization(8); // now 4097 bytes a buffer
    ASSERT_TRUE(start());
    EXPECT_EQ(form.AudioIn1->OutstandingCount, 4);
    VirtualWaveIn::pumpFrames(VirtualWaveIn::handles(1).at(0), 4097 * 4);
    deliver();
    EXPECT_EQ(form.sizes, std::vector<std::int32_t>(4, 4097));
}

TEST_F(CaptureComponent, ManyStartsLeaveNoHiddenWindowsBehind)
{
    int stops = 0;
    form.AudioIn1->OnStop = [&](QObject *) { ++stops; };
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(start());
        pumpBuffers(1);
        if (i % 2)
            deliver();
        form.AudioIn1->StopNow();
        VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_ALLOCATED);
        EXPECT_FALSE(start());
    }
    deliver();
    EXPECT_EQ(form.hiddenWindows(), 0);
    EXPECT_EQ(stops, 50);
    EXPECT_EQ(form.filled, 25);
}

TEST(CaptureLifetime, DestroyingACapturingComponentClosesItsDevice)
{
    VirtualWaveIn::Devices devices({"Mic"});
    QWidget owner;
    auto *in = new TAudioIn(&owner);
    ASSERT_TRUE(in->StartCapture(in));
    VirtualWaveIn::pumpFrames(VirtualWaveIn::handles().at(0), 8192);
    delete in;
    EXPECT_TRUE(VirtualWaveIn::handles().empty());
    VirtualWaveIn::deliverNotices(); // notices for the gone component go nowhere
    EXPECT_TRUE(owner.findChildren<TCallBackWinIn *>().isEmpty());
}
