// Voice control keeps the sound that triggered it: the chosen device captures into a ring
// while voice control listens (and during a pause it may end), and the trigger puts the ring
// in the file ahead of the live sound of the same capture.
#include "voice_fixture.h"

#include "common/mp3decode.h"
#include "testing/faults.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

constexpr int kRate = 44100;

// Stretches of sound in a decoded channel, in ms from its start: 5 ms windows whose peak
// passes 3000, joined across gaps under 100 ms.
std::vector<std::pair<double, double>> loudRuns(const std::vector<std::int16_t> &interleaved, int channels)
{
    constexpr std::size_t kWindow = kRate / 200;
    std::vector<std::pair<double, double>> runs;
    const std::size_t frames = interleaved.size() / std::size_t(channels);
    for (std::size_t at = 0; at + kWindow <= frames; at += kWindow) {
        int peak = 0;
        for (std::size_t i = at; i < at + kWindow; ++i)
            peak = std::max(peak, std::abs(int(interleaved[i * std::size_t(channels)])));
        if (peak < 3000)
            continue;
        const double from = double(at) * 1000 / kRate;
        const double to = double(at + kWindow) * 1000 / kRate;
        if (!runs.empty() && from - runs.back().second < 100)
            runs.back().second = to;
        else
            runs.push_back({from, to});
    }
    return runs;
}

class PreRollTest : public VoiceTest
{
protected:
    void SetUp() override
    {
        VoiceTest::SetUp();
        VirtualWaveIn::setSignal(0, [this](std::uint64_t frame, unsigned, unsigned rate) {
            return loud ? std::int16_t(std::lround(12000.0 * std::sin(2.0 * M_PI * 440.0 * double(frame) / rate)))
                        : std::int16_t(0);
        });
    }

    // The window for `ms` in steps of 10 ms: sound to every open handle, then on each whole
    // second the voice-control tick.
    void run(unsigned ms)
    {
        for (unsigned step = 0; step < ms; step += 10) {
            pump(10);
            now += 10;
            clock.advance(10);
            if (now % 1000 == 0 && form->Timer2->isActive())
                tick();
        }
    }

    // The tone for `ms`, then quiet for `quietMs`.
    void tone(unsigned ms, unsigned quietMs)
    {
        loud = true;
        run(ms);
        loud = false;
        run(quietMs);
    }

    void stopRecording()
    {
        click(form->stop);
        deliver();
    }

    std::vector<std::pair<double, double>> fileRuns(const QString &name = QStringLiteral("take.mp3"))
    {
        const DecodedMp3 mp3 = decodeMp3File(work.file(name).toStdString());
        EXPECT_TRUE(mp3.ok) << mp3.error;
        EXPECT_EQ(mp3.rate, kRate);
        return loudRuns(mp3.samples, std::max(mp3.channels, 1));
    }

    unsigned now = 0;
    bool loud = false;
};

// ---- the onset, wherever it falls in the second between two ticks --------------------------

class OnsetPhase : public PreRollTest, public testing::WithParamInterface<unsigned>
{};

TEST_P(OnsetPhase, AVoiceStartKeepsTheOnset)
{
    voiceOn(true, false, 1000, 10);
    run(2000 + GetParam());
    ASSERT_EQ(state(), TForm1::kStateMonitoring);
    tone(1500, 2000 - GetParam());
    ASSERT_TRUE(form->FRecording);
    stopRecording();

    const auto runs = fileRuns();
    ASSERT_EQ(runs.size(), 1u);
    // All 1.5 s of the tone, and quiet before it: the file began before the sound did.
    EXPECT_NEAR(runs[0].second - runs[0].first, 1500, 15);
    EXPECT_GT(runs[0].first, 100);
}

TEST_P(OnsetPhase, AVoiceContinueKeepsTheOnset)
{
    voiceOn(true, true, 1000, 1);
    tone(1500, 3500);
    ASSERT_TRUE(paused());
    run(GetParam());
    tone(1500, 1000);
    ASSERT_EQ(state(), TForm1::kStateRecording);
    stopRecording();

    const auto runs = fileRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_NEAR(runs[1].second - runs[1].first, 1500, 15);
    // Quiet from the pause's ring before it, but not the whole pause: 2.5 s were recorded
    // after the first tone, then the pause lasted from the tick at 4 s to the second tone.
    const double quiet = runs[1].first - runs[0].second;
    EXPECT_GT(quiet, 100);
    EXPECT_LT(quiet, 2500 + 1000 + GetParam());
}

INSTANTIATE_TEST_SUITE_P(Voice, OnsetPhase, testing::Values(10u, 500u, 990u),
                         [](const testing::TestParamInfo<unsigned> &info) {
                             return info.param == 10 ? std::string("JustAfterATick")
                                    : info.param == 500 ? std::string("MidWay")
                                                        : std::string("JustBeforeTheNextTick");
                         });

// ---- the seam -----------------------------------------------------------------------------

// Every frame numbered: the low 16 bits on the left, the high ones on the right.
class SeamTest : public PreRollTest
{
protected:
    void SetUp() override
    {
        PreRollTest::SetUp();
        // The device's own rate is higher than the recording's; the window asks for the
        // recording's before the monitor opens the device, so the stream runs at it, the
        // recording gets the numbered frames as they are and the monitor a converted copy.
        VirtualWaveIn::setFormat(0, 48000, 2);
        VirtualWaveIn::setSignal(0, [](std::uint64_t frame, unsigned channel, unsigned) {
            return std::int16_t(std::uint16_t(channel == 0 ? frame : frame >> 16));
        });
        setEncoderTap([this](const std::int16_t *samples, std::size_t count) {
            for (std::size_t i = 0; i + 1 < count; i += 2)
                encoded.push_back(std::uint32_t(std::uint16_t(samples[i]))
                                  | std::uint32_t(std::uint16_t(samples[i + 1])) << 16);
        });
    }
    void TearDown() override { setEncoderTap({}); }

    // Frames the session's device has put in buffers the window has handled (the pre-roll
    // capture's buffers hold 4608 frames).
    std::uint64_t handled() const { return VirtualWaveIn::framesPumped(form->FWaveIn) / 4608 * 4608; }

    std::vector<std::uint32_t> encoded;
};

TEST_F(SeamTest, AVoiceStartEncodesEveryFrameOnceInOrderFromThePreRollOn)
{
    voiceOn(true, false, 40000, 10); // nothing is loud enough yet
    run(3000);
    ASSERT_EQ(state(), TForm1::kStateMonitoring);
    const std::uint64_t before = handled();
    form->SpinEdit1->setValue(-1);
    tick();
    ASSERT_TRUE(form->FRecording);
    // The clock counts the pre-roll as recorded.
    EXPECT_EQ(form->FEncodedFrames, 1500u * kRate / 1000);
    EXPECT_EQ(form->LTimeActive->text(), QStringLiteral("0:00:01"));
    run(700);
    const std::uint64_t total = VirtualWaveIn::framesPumped(form->FWaveIn);
    stopRecording();

    // The ring's 1.5 s, then the live sound up to the stop, frame by frame.
    ASSERT_FALSE(encoded.empty());
    EXPECT_EQ(encoded.front(), before - 1500 * kRate / 1000);
    for (std::size_t i = 1; i < encoded.size(); ++i)
        ASSERT_EQ(encoded[i], encoded[i - 1] + 1) << "at frame " << i;
    EXPECT_EQ(encoded.back() + 1, total);
}

TEST_F(SeamTest, AVoiceContinueEncodesThePauseRingThenGoesOnWithoutAGap)
{
    voiceOn(true, true, -1, 0); // sound at once; the next quiet tick pauses
    tick();
    ASSERT_TRUE(form->FRecording);
    run(500);
    form->SpinEdit1->setValue(40000);
    run(1000);
    ASSERT_TRUE(paused());
    run(3000);
    // The ring ends where the buffer being filled at the trigger begins, less than one
    // buffer before all that was pumped.
    const std::uint64_t pumped = VirtualWaveIn::framesPumped(form->FWaveIn);
    // The clock goes on from where it stood, with the ring's 1.5 s counted as recorded.
    const std::uint64_t before = form->FEncodedFrames;
    form->SpinEdit1->setValue(-1);
    tick();
    ASSERT_EQ(state(), TForm1::kStateRecording);
    EXPECT_EQ(form->FEncodedFrames, before + 1500 * kRate / 1000);
    run(500);
    stopRecording();

    // One gap, at the pause; after it the ring's 1.5 s and the live sound, frame by frame.
    std::vector<std::size_t> gaps;
    for (std::size_t i = 1; i < encoded.size(); ++i)
        if (encoded[i] != encoded[i - 1] + 1)
            gaps.push_back(i);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_LE(encoded[gaps[0]], pumped - 1500 * kRate / 1000);
    EXPECT_GT(encoded[gaps[0]] + 4608, pumped - 1500 * kRate / 1000);
    EXPECT_GT(encoded[gaps[0]], encoded[gaps[0] - 1]);
}

// ---- the pre-roll changed while voice control listens ------------------------------------

struct LengthChange
{
    const char *name;
    int fromMs, toMs;
};

class PreRollChange : public SeamTest, public testing::WithParamInterface<LengthChange> {};

TEST_P(PreRollChange, TakesEffectAtTheNextTickKeepingWhatWasHeard)
{
    const LengthChange &c = GetParam();
    form->SpinEdit3->setValue(c.fromMs);
    voiceOn(true, false, 40000, 10);
    run(3000);
    ASSERT_EQ(state(), TForm1::kStateMonitoring);
    form->SpinEdit3->setValue(c.toMs);
    tick();
    const std::uint64_t atChange = handled();
    pump(1000); // no tick between
    const std::uint64_t before = handled();
    form->SpinEdit1->setValue(-1);
    tick();
    ASSERT_TRUE(form->FRecording);
    run(300);
    stopRecording();

    // What the ring held at the change, as far as the new length has room for it, and all
    // that came after.
    const std::uint64_t kept = std::uint64_t(std::min(c.fromMs, c.toMs)) * kRate / 1000;
    const std::uint64_t room = std::uint64_t(c.toMs) * kRate / 1000;
    ASSERT_FALSE(encoded.empty());
    EXPECT_EQ(encoded.front(), before - std::min(room, kept + (before - atChange)));
}

INSTANTIATE_TEST_SUITE_P(Voice, PreRollChange,
                         testing::Values(LengthChange{"Grows", 500, 3000}, LengthChange{"Shrinks", 1500, 500}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SeamTest, APreRollSetToZeroWhileListeningRecordsFromTheTrigger)
{
    voiceOn(true, false, 40000, 10);
    run(3000);
    ASSERT_EQ(form->FCapture, TCapture::PreRolling);
    form->SpinEdit3->setValue(0);
    tick();
    EXPECT_EQ(form->FCapture, TCapture::Idle);
    EXPECT_EQ(VirtualWaveIn::handles(0).size(), 1u); // the monitor alone
    // The monitor hears the device at half its rate; the recording opened at the trigger
    // joins its stream there.
    const double heard = 2.0 * double(VirtualWaveIn::framesPumped(form->AudioIn1->WaveHandle()));
    form->SpinEdit1->setValue(-1);
    tick();
    ASSERT_TRUE(form->FRecording);
    run(300);
    stopRecording();
    ASSERT_FALSE(encoded.empty());
    EXPECT_NEAR(double(encoded.front()), heard, 2.0); // nothing from before the trigger
}

TEST_F(PreRollTest, APreRollChangedInAListeningPauseIsTheOneItKeeps)
{
    voiceOn(true, true, 1000, 0);
    tone(1500, 2000);
    ASSERT_TRUE(paused());
    ASSERT_EQ(form->FCapture, TCapture::PausedPreRolling);
    form->SpinEdit3->setValue(0);
    run(1000);
    EXPECT_EQ(form->FCapture, TCapture::Paused);
    EXPECT_FALSE(VirtualWaveIn::started(form->FWaveIn)); // a plain pause
    form->SpinEdit3->setValue(3000);
    run(1000);
    EXPECT_EQ(form->FCapture, TCapture::PausedPreRolling);
    EXPECT_EQ(form->FPreRoll.Capacity(), 3000u);
    EXPECT_TRUE(paused());
}

// ---- the clock ---------------------------------------------------------------------------

class ClockAfterVoicePauses : public PreRollTest, public testing::WithParamInterface<int> {};

TEST_P(ClockAfterVoicePauses, ShowsTheLengthOfTheFile)
{
    form->SpinEdit3->setValue(GetParam());
    voiceOn(true, true, 1000, 1);
    for (int i = 0; i < 3; ++i) {
        // Pauses come anywhere between two refreshes of the clock.
        tone(1500 + 130 * unsigned(i), 3500);
        ASSERT_TRUE(paused());
        EXPECT_EQ(form->LTimeActive->text(), formatElapsed(std::uint32_t(form->FEncodedFrames / kRate)));
    }
    tone(1500, 500);
    ASSERT_EQ(state(), TForm1::kStateRecording);
    stopRecording();
    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GE(mp3.sampleFrames(), form->FEncodedFrames);
    EXPECT_LT(mp3.sampleFrames(), form->FEncodedFrames + kRate / 10);
    EXPECT_EQ(form->LTimeActive->text(), formatElapsed(std::uint32_t(form->FEncodedFrames / kRate)));
}

INSTANTIATE_TEST_SUITE_P(Voice, ClockAfterVoicePauses, testing::Values(1500, 0),
                         [](const auto &info) { return info.param ? std::string("WithPreRoll") : std::string("WithoutPreRoll"); });

// ---- what has no pre-roll ---------------------------------------------------------------

TEST_F(PreRollTest, WithPreRollOffVoiceControlOpensTheDeviceOnlyAtTheTrigger)
{
    form->SpinEdit3->setValue(0);
    voiceOn(true, false, 1000, 10);
    run(2500);
    ASSERT_EQ(state(), TForm1::kStateMonitoring);
    EXPECT_EQ(VirtualWaveIn::handles(0).size(), 1u); // the monitor alone
    tone(1500, 1000);
    ASSERT_TRUE(form->FRecording);
    stopRecording();
    // Recording began at the tick after the onset: 500 ms of the tone are lost, as before.
    const auto runs = fileRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NEAR(runs[0].second - runs[0].first, 1000, 100);
}

TEST_F(PreRollTest, ARecordStartedByHandBeginsAtTheClick)
{
    voiceOn(true, false, 40000, 10);
    run(1000);
    ASSERT_EQ(VirtualWaveIn::handles(0).size(), 2u); // the monitor and the pre-roll
    tone(1000, 0); // heard by the pre-roll, never loud enough to start
    record();
    ASSERT_TRUE(form->FRecording);
    run(1000);
    stopRecording();
    EXPECT_TRUE(fileRuns().empty());
}

TEST_F(PreRollTest, AContinueByHandBeginsAtTheClick)
{
    voiceOn(true, true, 1000, 0);
    tone(1500, 2000);
    ASSERT_TRUE(paused());
    tone(300, 0); // into the pause's ring, too short to reach a tick
    click(form->cont);
    run(200);
    stopRecording();
    const auto runs = fileRuns();
    ASSERT_EQ(runs.size(), 1u); // the first tone only
}

// ---- the monitor listens to the chosen device ----------------------------------------------

TEST_F(PreRollTest, TheMonitorAndTheRecordingFollowTheChosenDevice)
{
    build({"Laptop Mic", "USB Mic"}, 0);
    form->EOutFile->setText(QStringLiteral("take.mp3"));
    form->CDevices->setCurrentIndex(1);
    VirtualWaveIn::setSignal(1, VirtualWaveIn::sine(440, 12000));
    voiceOn(true, false, 1000, 10);
    tick();
    ASSERT_TRUE(form->AudioIn1->Capturing);
    EXPECT_EQ(VirtualWaveIn::deviceOf(form->AudioIn1->WaveHandle()), 1);
    EXPECT_EQ(VirtualWaveIn::format(form->AudioIn1->WaveHandle()).nSamplesPerSec, 22050u);
    EXPECT_EQ(VirtualWaveIn::format(form->AudioIn1->WaveHandle()).nChannels, 1u);
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    for (int i = 0; i < 10; ++i) {
        VirtualWaveIn::pump(1, 100);
        deliver();
    }
    tick();
    ASSERT_TRUE(form->FRecording);
    EXPECT_EQ(VirtualWaveIn::deviceOf(form->FWaveIn), 1);
    for (int i = 0; i < 10; ++i) {
        VirtualWaveIn::pump(1, 100);
        deliver();
    }
    stopRecording();
    const auto runs = fileRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_GT(runs[0].second - runs[0].first, 1500);
}

TEST_F(PreRollTest, ADeviceChosenWhileListeningIsTheOneListenedToAndRecorded)
{
    build({"Laptop Mic", "USB Mic"}, 0);
    form->EOutFile->setText(QStringLiteral("take.mp3"));
    voiceOn(true, false, 1000, 10);
    tick();
    ASSERT_EQ(VirtualWaveIn::deviceOf(form->AudioIn1->WaveHandle()), 0);
    ASSERT_EQ(VirtualWaveIn::deviceOf(form->FWaveIn), 0);
    form->CDevices->setCurrentIndex(1);
    tick();
    EXPECT_EQ(VirtualWaveIn::deviceOf(form->AudioIn1->WaveHandle()), 1);
    EXPECT_EQ(VirtualWaveIn::deviceOf(form->FWaveIn), 1);
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    form->SpinEdit1->setValue(-1);
    tick();
    ASSERT_TRUE(form->FRecording);
    EXPECT_EQ(VirtualWaveIn::deviceOf(form->FWaveIn), 1);
}

// ---- switching voice control ----------------------------------------------------------------

TEST_F(PreRollTest, SwitchingOffDuringAListeningPauseMakesItAPlainPause)
{
    voiceOn(true, true, 1000, 0);
    tone(1500, 2000);
    ASSERT_TRUE(paused());
    ASSERT_TRUE(form->AudioIn1->Capturing);
    ASSERT_TRUE(VirtualWaveIn::started(form->FWaveIn));

    click(form->Button2);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_FALSE(VirtualWaveIn::started(form->FWaveIn));
    EXPECT_EQ(form->FCapture, TCapture::Paused);
    EXPECT_TRUE(paused());
    tone(1000, 0); // nobody listens, nothing is kept
    click(form->cont);
    run(500);
    stopRecording();
    EXPECT_EQ(fileRuns().size(), 1u);
}

TEST_F(PreRollTest, SwitchingOffStopsAMonitorATickRestartedDuringAPause)
{
    form->SpinEdit3->setValue(0);
    voiceOn(true, true, 1000, 10);
    record();
    click(form->pasue);
    ASSERT_FALSE(form->AudioIn1->Capturing);
    tick(); // listens for the sound that would end the pause
    ASSERT_TRUE(form->AudioIn1->Capturing);
    click(form->Button2);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_TRUE(paused());
}

TEST_F(PreRollTest, SwitchingOnForgetsTheLoudestBufferHeardBefore)
{
    click(form->Button1); // the environment test's monitor goes on running
    feed(20000);
    ASSERT_GT(form->FTickPeak, 1000);
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(1000);
    click(form->Button2);
    tick();
    EXPECT_FALSE(form->FRecording);
    EXPECT_NE(state(), TForm1::kStateRecording);
}

TEST_F(PreRollTest, ThePreRollCaptureStopsWhenItsSwitchIsUnticked)
{
    voiceOn(true, false, 40000, 10);
    tick();
    ASSERT_EQ(form->FCapture, TCapture::PreRolling);
    form->CheckBox1->setChecked(false);
    tick();
    deliver();
    EXPECT_EQ(form->FCapture, TCapture::Idle);
    EXPECT_EQ(VirtualWaveIn::handles(0).size(), 1u);
    EXPECT_TRUE(form->DFBRecordStart->isEnabled());
    EXPECT_FALSE(form->InfoTimer->isActive());
}

// ---- one take, one file -----------------------------------------------------------------

TEST_F(PreRollTest, VoiceTakesAfterAStopGoToANewFileAndLeaveTheFirstWhole)
{
    for (int take = 1; take <= 2; ++take) {
        voiceOn(true, false, 1000, 10);
        run(2000);
        tone(1500, 1000);
        ASSERT_TRUE(form->FRecording) << "take " << take;
        stopRecording();
    }
    for (const QString &name : {QStringLiteral("take.mp3"), QStringLiteral("take-2.mp3")}) {
        SCOPED_TRACE(name.toStdString());
        const auto runs = fileRuns(name);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_NEAR(runs[0].second - runs[0].first, 1500, 15);
    }
}

TEST_F(PreRollTest, WithANewFileForEveryTakeEachVoiceTakeIsAWholeFileOfItsOwn)
{
    form->CheckBox3->setChecked(true);
    voiceOn(true, true, 1000, 2);
    run(2000);
    for (int take = 0; take < 3; ++take) {
        tone(1500, 4500);
        ASSERT_TRUE(paused()) << "take " << take;
    }
    const QString last = form->FOutFile.FileName();
    stopRecording();
    EXPECT_EQ(last, QStringLiteral("take-3.mp3"));
    EXPECT_TRUE(boxes.boxes.empty());
    for (const QString &name : {QStringLiteral("take.mp3"), QStringLiteral("take-2.mp3"), QStringLiteral("take-3.mp3")}) {
        SCOPED_TRACE(name.toStdString());
        const DecodedMp3 mp3 = decodeMp3File(work.file(name).toStdString());
        const auto runs = fileRuns(name);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_NEAR(runs[0].second - runs[0].first, 1500, 15);
        // The pre-roll before the tone; after it the quiet ticks up to the pause, more than two.
        EXPECT_GT(runs[0].first, 500);
        const double length = double(mp3.sampleFrames()) * 1000 / kRate;
        EXPECT_GT(length - runs[0].second, 2000);
        EXPECT_LT(length - runs[0].second, 4500);
    }
}

TEST_F(PreRollTest, WithoutPreRollANewFileForEveryTakeStillSplitsThem)
{
    form->SpinEdit3->setValue(0);
    form->CheckBox3->setChecked(true);
    voiceOn(true, true, 1000, 1);
    run(2000);
    tone(1500, 3500);
    ASSERT_TRUE(paused());
    tone(1500, 500);
    ASSERT_EQ(state(), TForm1::kStateRecording);
    stopRecording();
    EXPECT_EQ(fileRuns().size(), 1u);
    EXPECT_EQ(fileRuns(QStringLiteral("take-2.mp3")).size(), 1u);
}

// ---- the environment test after a failed last write ---------------------------------------

TEST_F(PreRollTest, TheEnvironmentTestAfterAFailedFlushStillRunsAndReportsOnce)
{
    voiceOn(false, false);
    {
        // Every write fails; the first chunks give no bytes, so the flush fails first.
        const FileSizeLimit full(0);
        record();
        ASSERT_TRUE(form->FRecording);
        pump(20);
        click(form->Button1);
    }
    deliver();
    EXPECT_FALSE(form->FRecording);
    EXPECT_EQ(state(), TForm1::kStateStopped);
    EXPECT_FALSE(form->pasue->isEnabled());
    EXPECT_FALSE(form->stop->isEnabled());
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
    EXPECT_EQ(form->Button1->text(), QStringLiteral("停止"));
    EXPECT_TRUE(form->AudioIn1->Capturing);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("\nI/O error"))) << boxes.lastText().toStdString();
}

// ---- the capture mode after each step ---------------------------------------------------------

// Listen, Sound and Quiet are a second of silence, tone or silence after it, ending in voice
// control's tick; the others are by hand, the refused ones with every device open or start
// failing.
enum class Step {
    Listen, Sound, Quiet, Record, RecordRefused, Pause, Continue, ContinueRefused, NewFileEachTake, VoiceOff, Stop
};

struct ModeCase
{
    const char *name;
    std::uint32_t preRollMs;
    std::vector<std::pair<Step, TCapture>> steps;
};

void PrintTo(const ModeCase &c, std::ostream *os)
{
    *os << c.name;
}

class CaptureModes : public PreRollTest, public testing::WithParamInterface<ModeCase>
{
protected:
    void take(Step step)
    {
        switch (step) {
        case Step::Listen:
            if (!form->Timer2->isActive())
                voiceOn(true, true, 1000, 0);
            run(1000);
            break;
        case Step::Sound:
            tone(1000, 0);
            break;
        case Step::Quiet:
            run(1000);
            break;
        case Step::Record:
            record();
            break;
        case Step::RecordRefused:
            VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_NODRIVER, -1);
            record();
            VirtualWaveIn::clearFailures();
            break;
        case Step::Pause:
            click(form->pasue);
            break;
        case Step::Continue:
            click(form->cont);
            break;
        case Step::ContinueRefused:
            VirtualWaveIn::failNext(WaveInCall::Start, MMSYSERR_NODRIVER, -1);
            click(form->cont);
            VirtualWaveIn::clearFailures();
            deliver();
            break;
        case Step::NewFileEachTake:
            form->CheckBox3->setChecked(true);
            break;
        case Step::VoiceOff:
            click(form->Button2);
            break;
        case Step::Stop:
            stopRecording();
            break;
        }
    }
};

TEST_P(CaptureModes, EachStepLeavesTheModeItsDeviceAndFRecordingInStep)
{
    form->SpinEdit3->setValue(int(GetParam().preRollMs));
    int n = 0;
    for (const auto &[step, want] : GetParam().steps) {
        SCOPED_TRACE(testing::Message() << "step " << ++n);
        take(step);
        ASSERT_EQ(form->FCapture, want);
        EXPECT_EQ(form->FRecording, want == TCapture::Recording || want == TCapture::Paused
                                        || want == TCapture::PausedPreRolling);
        const auto open = VirtualWaveIn::handles(0);
        const bool deviceOpen = std::find(open.begin(), open.end(), form->FWaveIn) != open.end();
        EXPECT_EQ(deviceOpen, want != TCapture::Idle);
        if (deviceOpen)
            EXPECT_EQ(VirtualWaveIn::started(form->FWaveIn), want != TCapture::Paused);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Voice, CaptureModes,
    testing::Values(
        ModeCase{"ByHand",
                 1500,
                 {{Step::Record, TCapture::Recording},
                  {Step::Pause, TCapture::Paused},
                  {Step::Continue, TCapture::Recording},
                  {Step::Stop, TCapture::Idle}}},
        ModeCase{"ByVoice",
                 1500,
                 {{Step::Listen, TCapture::PreRolling},
                  {Step::Sound, TCapture::Recording},
                  {Step::Quiet, TCapture::PausedPreRolling},
                  {Step::Sound, TCapture::Recording},
                  {Step::Quiet, TCapture::PausedPreRolling},
                  {Step::Stop, TCapture::Idle}}},
        ModeCase{"ByVoiceWithoutPreRoll",
                 0,
                 {{Step::Listen, TCapture::Idle},
                  {Step::Sound, TCapture::Recording},
                  {Step::Quiet, TCapture::Paused},
                  {Step::Sound, TCapture::Paused}, // the pause stopped the monitor; the tick starts it
                  {Step::Sound, TCapture::Recording},
                  {Step::Stop, TCapture::Idle}}},
        ModeCase{"HandAndVoiceMixed",
                 1500,
                 {{Step::Listen, TCapture::PreRolling},
                  {Step::Sound, TCapture::Recording},
                  {Step::Quiet, TCapture::PausedPreRolling},
                  {Step::Continue, TCapture::Recording},
                  {Step::Pause, TCapture::PausedPreRolling},
                  {Step::VoiceOff, TCapture::Paused},
                  {Step::Continue, TCapture::Recording},
                  {Step::Stop, TCapture::Idle}}},
        ModeCase{"NextTakeFromThePausesPreRoll",
                 1500,
                 {{Step::NewFileEachTake, TCapture::Idle},
                  {Step::Listen, TCapture::PreRolling},
                  {Step::Sound, TCapture::Recording},
                  {Step::Quiet, TCapture::PausedPreRolling},
                  {Step::Sound, TCapture::Recording},
                  {Step::Stop, TCapture::Idle}}},
        ModeCase{"RefusedStartsAndContinue",
                 1500,
                 {{Step::RecordRefused, TCapture::Idle},
                  {Step::Listen, TCapture::PreRolling},
                  {Step::RecordRefused, TCapture::Idle},
                  {Step::Listen, TCapture::PreRolling},
                  {Step::VoiceOff, TCapture::Idle},
                  {Step::Record, TCapture::Recording},
                  {Step::Pause, TCapture::Paused},
                  {Step::ContinueRefused, TCapture::Idle}}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
