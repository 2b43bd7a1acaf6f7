#include "voice_fixture.h"

#include "common/mp3decode.h"

#include <QLineEdit>

namespace {

const QString kVoiceOff = QStringLiteral("开始声控");
const QString kVoiceOn = QStringLiteral("关闭声控");

// ---- judging a tick ----------------------------------------------------------------------

struct JudgeCase
{
    const char *name;
    int threshold;
    int margin;
    std::int16_t sample;
    bool sound;
};

class TickJudgement : public VoiceTest, public testing::WithParamInterface<JudgeCase>
{};

TEST_P(TickJudgement, StartsARecordingOnlyAboveTheThreshold)
{
    const JudgeCase &c = GetParam();
    form->SpinEdit4->setValue(c.margin);
    voiceOn(true, true, c.threshold, 10);
    tick();
    ASSERT_EQ(state(), TForm1::kStateMonitoring);
    feed(c.sample);
    tick();
    EXPECT_EQ(form->FRecording, c.sound);
    EXPECT_EQ(state(), c.sound ? TForm1::kStateRecording : TForm1::kStateMonitoring);
    // A quiet tick counts towards the pause, a loud one starts the count again.
    EXPECT_EQ(form->FQuietTicks, c.sound ? 0 : 2);
}

INSTANTIATE_TEST_SUITE_P(
    Voice, TickJudgement,
    testing::Values(JudgeCase{"LevelEqualToThresholdIsQuiet", 1000, 0, 1000, false},
                    JudgeCase{"NegativePeakEqualToThresholdIsQuiet", 1000, 0, -1000, false},
                    JudgeCase{"OneAboveIsSound", 1000, 0, 1001, true},
                    JudgeCase{"Threshold32768NeverHearsTheLoudest", 32768, 0, -32768, false},
                    JudgeCase{"ThresholdAbove32768NeverHears", 40000, 0, 32767, false},
                    JudgeCase{"ZeroThresholdHearsOneStep", 0, 0, 1, true},
                    JudgeCase{"ZeroThresholdSilenceIsQuiet", 0, 0, 0, false},
                    // Six decibels over 1000 is 1995.3.
                    JudgeCase{"MarginKeepsNoiseJustUnderTheLineQuiet", 1000, 6, 1995, false},
                    JudgeCase{"MarginHearsTheFirstStepOverTheLine", 1000, 6, -1996, true},
                    JudgeCase{"MarginOverAZeroThresholdStillHearsOneStep", 0, 6, 1, true},
                    JudgeCase{"MarginTooHighForAPeakNeverHears", 20000, 6, 32767, false}),
    [](const testing::TestParamInfo<JudgeCase> &info) { return std::string(info.param.name); });

TEST_F(VoiceTest, ANegativeThresholdHearsSoundInSilence)
{
    voiceOn(true, false, -1);
    tick(); // the monitor has just started: its level is 0, which is above -1
    EXPECT_TRUE(form->FRecording);
    EXPECT_EQ(state(), TForm1::kStateRecording);
}

TEST_F(VoiceTest, TextThatIsNoNumberCountsAsZero)
{
    voiceOn(false, true, 5000, 10);
    form->SpinEdit1->findChild<QLineEdit *>()->setText(QStringLiteral("laut"));
    form->SpinEdit2->findChild<QLineEdit *>()->setText(QStringLiteral("zehn"));
    record();
    feed(1);
    tick(); // sound against a threshold of 0
    EXPECT_EQ(state(), TForm1::kStateRecording);
    feed(0);
    tick(); // quiet, and beyond a quiet limit of 0
    EXPECT_TRUE(paused());
}

// ---- pausing on quiet --------------------------------------------------------------------

TEST_F(VoiceTest, OnlyAutoPauseStartsNothingButPausesAHandMadeRecording)
{
    voiceOn(false, true, 1000, 3);
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(state(), TForm1::kStateStopped);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_FALSE(form->FRecording);

    record();
    form->FQuietTicks = 0;
    for (int i = 0; i < 3; ++i) {
        feed(500);
        tick();
        ASSERT_EQ(state(), TForm1::kStateRecording) << "quiet tick " << i + 1;
    }
    feed(500);
    tick();
    EXPECT_TRUE(paused());
    EXPECT_TRUE(form->FRecording);
    EXPECT_FALSE(form->AudioIn1->Capturing);
}

TEST_F(VoiceTest, TheEleventhQuietTickPausesWithALimitOfTen)
{
    voiceOn(true, true, 1000, 10);
    tick();
    feed(8000);
    tick();
    ASSERT_EQ(state(), TForm1::kStateRecording);
    for (int i = 1; i <= 10; ++i) {
        feed(200);
        tick();
        ASSERT_EQ(state(), TForm1::kStateRecording) << "quiet tick " << i;
    }
    EXPECT_EQ(form->FQuietTicks, 10);
    feed(200);
    tick();
    EXPECT_TRUE(paused());
    EXPECT_EQ(form->FQuietTicks, 11);
}

TEST_F(VoiceTest, AQuietLimitOfZeroPausesAtTheFirstQuietTick)
{
    voiceOn(true, true, 1000, 0);
    tick();
    feed(8000);
    tick();
    ASSERT_EQ(state(), TForm1::kStateRecording);
    feed(8000);
    tick();
    EXPECT_EQ(state(), TForm1::kStateRecording);
    feed(0);
    tick();
    EXPECT_TRUE(paused());
}

TEST_F(VoiceTest, ContinuingByHandAfterAnAutomaticPauseIsPausedByTheNextQuietTick)
{
    voiceOn(false, true, 1000, 1);
    record();
    tick();
    tick();
    ASSERT_TRUE(paused());
    click(form->cont);
    EXPECT_EQ(state(), TForm1::kStateRecording);
    feed(100);
    tick();
    EXPECT_TRUE(paused());
}

// ---- the loudest buffer since the last tick ----------------------------------------------

TEST_F(VoiceTest, ALoudBufferFollowedByAQuietOneStillStartsTheRecording)
{
    voiceOn(true, true, 1000, 10);
    tick();
    feed(6000);
    feed(0, 9);
    EXPECT_EQ(form->FLevel, 0);
    tick();
    EXPECT_TRUE(form->FRecording);
    EXPECT_EQ(state(), TForm1::kStateRecording);
}

TEST_F(VoiceTest, EachTickJudgesOnlyTheBuffersSinceThePreviousOne)
{
    voiceOn(false, true, 1000, 10);
    record();
    feed(6000);
    tick();
    EXPECT_EQ(form->FQuietTicks, 0);
    tick(); // nothing arrived since
    EXPECT_EQ(form->FQuietTicks, 1);
}

// ---- a level from before the monitor started -----------------------------------------------

TEST_F(VoiceTest, AStaleLevelNeitherStartsNorContinuesARecording)
{
    // Loud sound measured, then the monitor stopped by a stop click.
    record();
    feed(20000);
    click(form->stop);
    deliver();
    ASSERT_FALSE(form->AudioIn1->Capturing);
    EXPECT_EQ(form->FLevel, 0);

    voiceOn(true, true, 1000, 10);
    tick(); // starts the monitor and must not record
    EXPECT_EQ(state(), TForm1::kStateMonitoring);
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_FALSE(form->FRecording);

    // A pause made by hand while it was loud is not ended by that loudness either.
    feed(20000);
    tick();
    ASSERT_TRUE(form->FRecording);
    click(form->pasue);
    ASSERT_TRUE(paused());
    tick();
    EXPECT_TRUE(paused());
    EXPECT_TRUE(form->AudioIn1->Capturing); // listening for the sound that ends the pause
}

TEST_F(VoiceTest, EveryMonitorStartForgetsTheLevelBeforeIt)
{
    form->FLevel = 30000;
    form->FTickPeak = 30000;
    click(form->Button1);
    ASSERT_TRUE(form->AudioIn1->Capturing);
    EXPECT_EQ(form->FLevel, 0);
    EXPECT_EQ(form->FTickPeak, 0);
    click(form->Button1);

    form->FLevel = 30000;
    form->FTickPeak = 30000;
    record();
    ASSERT_TRUE(form->AudioIn1->Capturing);
    EXPECT_EQ(form->FLevel, 0);
    EXPECT_EQ(form->FTickPeak, 0);
}

// ---- sound ends a pause --------------------------------------------------------------------

TEST_F(VoiceTest, SoundEndsAPauseTheControllerMade)
{
    form->SpinEdit3->setValue(0); // without pre-roll the pause stops the monitor, as it always did
    voiceOn(true, true, 1000, 1);
    tick();
    feed(5000);
    tick();
    ASSERT_TRUE(form->FRecording);
    feed(0);
    tick();
    feed(0);
    tick();
    ASSERT_TRUE(paused());
    ASSERT_FALSE(form->AudioIn1->Capturing);

    tick(); // listens again, and the state stays paused
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_TRUE(paused());
    feed(5000);
    tick();
    EXPECT_EQ(state(), TForm1::kStateRecording);
    EXPECT_FALSE(form->cont->isVisibleTo(form.get()));
    EXPECT_TRUE(form->InfoTimer->isActive());
    EXPECT_EQ(form->FQuietTicks, 0);
}

TEST_F(VoiceTest, WithoutAutoStartAPauseStaysDeaf)
{
    voiceOn(false, true, 1000, 0);
    record();
    tick();
    ASSERT_TRUE(paused());
    tick();
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_TRUE(paused());
}

TEST_F(VoiceTest, AMonitorThatWentAwayWhileListeningIsStartedAgain)
{
    voiceOn(true, true);
    tick();
    ASSERT_TRUE(form->AudioIn1->Capturing);
    VirtualWaveIn::loseDevice(0);
    deliver();
    ASSERT_FALSE(form->AudioIn1->Capturing);
    tick();
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_EQ(state(), TForm1::kStateMonitoring);
    EXPECT_FALSE(form->FRecording);
}

// ---- switching voice control ----------------------------------------------------------------

TEST_F(VoiceTest, SwitchingOffWhileListeningStopsAndSwitchingOnListensAgain)
{
    voiceOn(true, true);
    EXPECT_EQ(form->Button2->text(), kVoiceOn);
    EXPECT_FALSE(form->AudioIn1->Capturing); // nothing before the first tick
    tick();
    ASSERT_EQ(state(), TForm1::kStateMonitoring);

    click(form->Button2);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), kVoiceOff);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_EQ(state(), TForm1::kStateStopped);

    click(form->Button2);
    tick();
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_EQ(state(), TForm1::kStateMonitoring);
}

TEST_F(VoiceTest, SwitchingOffDuringARecordingLeavesTheMonitorAlone)
{
    voiceOn(true, true);
    record();
    click(form->Button2);
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_TRUE(form->FRecording);
    EXPECT_EQ(state(), TForm1::kStateRecording);

    click(form->pasue);
    click(form->Button2);
    click(form->Button2);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_TRUE(paused());
}

TEST_F(VoiceTest, SwitchingOffDuringTheEnvironmentTestStopsItsMonitor)
{
    click(form->Button1);
    voiceOn(false, false);
    click(form->Button2);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_EQ(form->Button1->text(), QStringLiteral("停止"));
}

// ---- a monitor that cannot start ----------------------------------------------------------

TEST_F(VoiceTest, AFailedStartSwitchesVoiceControlOffBeforeItsOneBox)
{
    // No sound server: every open fails, so a tick that tried again would box again.
    voiceOn(true, false);
    VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_NODRIVER, -1);
    std::vector<QString> texts;
    bool onWhileShown = true;
    const MessageBoxHandler previous = setMessageBoxHandler([&](const MessageBoxRequest &r) {
        texts.push_back(r.text);
        onWhileShown = form->Timer2->isActive();
        // The box's own loop goes on serving whatever ticks still come.
        if (form->Timer2->isActive())
            form->Timer2Timer();
    });
    tick();
    ASSERT_EQ(texts.size(), 1u);
    // What to do in Chinese, then the service's own reason.
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("无法监听录音设备“Virtual Mic”：请检查"))) << texts[0].toStdString();
    EXPECT_TRUE(texts[0].endsWith(QLatin1Char('\n') + form->AudioIn1->ErrorText)) << texts[0].toStdString();
    EXPECT_FALSE(form->AudioIn1->ErrorText.isEmpty());
    EXPECT_FALSE(onWhileShown);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), kVoiceOff);
    EXPECT_EQ(state(), TForm1::kStateStopped);
    EXPECT_FALSE(form->FRecording);

    // Switched on again once the input is back, it listens.
    VirtualWaveIn::clearFailures();
    click(form->Button2);
    tick();
    EXPECT_EQ(texts.size(), 1u);
    EXPECT_EQ(state(), TForm1::kStateMonitoring);
    setMessageBoxHandler(previous);
}

TEST_F(VoiceTest, AFailedStartWhilePausedLeavesThePausedRecordingAndShowsOneBox)
{
    // Without pre-roll the pause closes the monitor, and the next tick has to start it again.
    form->SpinEdit3->setValue(0);
    voiceOn(true, false);
    record();
    click(form->pasue);
    ASSERT_TRUE(paused());
    VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_NODRIVER, -1);
    tick();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_TRUE(form->FRecording);
    EXPECT_TRUE(paused());
}

// ---- the environment test --------------------------------------------------------------------

TEST_F(VoiceTest, TheEnvironmentTestEndsARecordingAndMeasuresOnlyTheRoom)
{
    voiceOn(false, false);
    record();
    VirtualWaveIn::setSignal(0, VirtualWaveIn::constant(25000));
    pump(300);
    const std::uint64_t frames = VirtualWaveIn::framesPumped(form->FWaveIn);
    EXPECT_GT(frames, 0u);

    click(form->Button1);
    deliver();
    EXPECT_FALSE(form->FRecording);
    EXPECT_FALSE(form->pasue->isEnabled());
    EXPECT_FALSE(form->stop->isEnabled());
    EXPECT_FALSE(form->cont->isVisibleTo(form.get()));
    EXPECT_EQ(state(), TForm1::kStateStopped);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), kVoiceOff);
    EXPECT_EQ(form->Button1->text(), QStringLiteral("停止"));
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_TRUE(form->DFBRecordStart->isEnabled());
    EXPECT_TRUE(decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString()).ok);

    // The loud recording is not the room's noise.
    feed(-1200);
    form->Timer1Timer();
    EXPECT_EQ(form->SpinEdit1->Value(), 1200);

    click(form->Button1);
    EXPECT_EQ(form->Button1->text(), QStringLiteral("声控测试"));
    EXPECT_FALSE(form->AudioIn1->Capturing);
    click(form->Button1); // "声控测试" starts the test again, like "环境测试"
    EXPECT_EQ(form->Button1->text(), QStringLiteral("停止"));
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(VoiceTest, AnEnvironmentTestThatCannotStartTheMonitorSaysSo)
{
    VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_ALLOCATED);
    click(form->Button1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().endsWith(QLatin1Char('\n') + form->AudioIn1->ErrorText)) << boxes.lastText().toStdString();
    EXPECT_FALSE(form->AudioIn1->Capturing);
}

} // namespace

// ---- the monitor's buffer being filled ----------------------------------------------------

namespace {

// Half a monitor buffer of one sample value: sound that has come in, its buffer not complete.
void feedHalf(TForm1 &form, std::int16_t value)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::constant(value));
    VirtualWaveIn::pumpFrames(form.AudioIn1->WaveHandle(), 1024);
    VirtualWaveIn::deliverNotices();
}

} // namespace

TEST_F(VoiceTest, ATickHearsSoundThatHasComeInBeforeItsBufferIsComplete)
{
    voiceOn(true, true, 1000, 10);
    tick();
    feedHalf(*form, 6000);
    EXPECT_EQ(form->FLevel, 0) << "no buffer is complete yet";
    tick();
    EXPECT_TRUE(form->FRecording);
}

TEST_F(VoiceTest, ThePartOfABufferOneTickJudgedIsNotJudgedAgainButTheRestIs)
{
    voiceOn(false, true, 1000, 10);
    record();
    feedHalf(*form, 6000);
    tick();
    EXPECT_EQ(form->FQuietTicks, 0);
    feedHalf(*form, 0); // completes the buffer: loud first half, quiet second
    EXPECT_EQ(form->FLevel, 6000) << "the meter shows the whole buffer";
    tick();
    EXPECT_EQ(form->FQuietTicks, 1);

    feedHalf(*form, 0);
    tick();
    EXPECT_EQ(form->FQuietTicks, 2);
    feedHalf(*form, 6000); // completes a buffer whose quiet half was judged already
    tick();
    EXPECT_EQ(form->FQuietTicks, 0);
}
