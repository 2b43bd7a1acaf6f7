#include "audio/AudioIO.h"
#include "common/app_fixture.h"
#include "common/encodsignal.h"
#include "common/mp3decode.h"
#include "engine/clock.h"

#include <QFileInfo>

#include <cmath>

namespace {

constexpr int kRate = 44100;

class ClockTest : public FormTest
{
protected:
    void SetUp() override
    {
        build();
        form->EOutFile->setText(QStringLiteral("take.mp3"));
    }

    // `ms` of sound, a buffer's worth at a time as a device hands it over.
    void feed(unsigned ms)
    {
        for (; ms > 0; ms -= std::min(ms, 20u))
            pump(std::min(ms, 20u));
    }

    // One tick of InfoTimer, `ms` of time after the last.
    QString tickAfter(std::uint32_t ms)
    {
        clock.advance(ms);
        EXPECT_TRUE(form->InfoTimer->isActive());
        form->InfoTimerTimer();
        return form->LTimeActive->text();
    }
};

} // namespace

TEST_F(ClockTest, ShowsTheSoundRecordedNotTheTimeGoneBy)
{
    form->LTimeActive->setText(QStringLiteral("9:99:99"));
    record();
    EXPECT_EQ(form->LTimeActive->text(), QStringLiteral("0:00:00"));
    EXPECT_EQ(form->flsize->text(), QStringLiteral("0.0kb"));
    EXPECT_TRUE(form->InfoTimer->isActive());
    // The device delivers nothing for a while, and the tick count wraps meanwhile.
    clock.now = 0xFFFFFFFFu - 1000;
    EXPECT_EQ(tickAfter(5000), QStringLiteral("0:00:00"));
    feed(2100);
    EXPECT_EQ(tickAfter(0), QStringLiteral("0:00:02"));
    feed(63000);
    EXPECT_EQ(tickAfter(0), QStringLiteral("0:01:05"));
}

TEST_F(ClockTest, PauseShowsWhatReachedTheFileAndContinueGoesOnFromIt)
{
    record();
    feed(9800);
    EXPECT_EQ(tickAfter(500), QStringLiteral("0:00:09"));
    const HWAVEIN device = form->FWaveIn;

    feed(500);
    click(form->pasue);
    deliver();
    EXPECT_TRUE(form->FRecording);
    EXPECT_FALSE(VirtualWaveIn::started(device));
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_FALSE(form->pasue->isEnabled());
    EXPECT_TRUE(form->stop->isEnabled());
    EXPECT_TRUE(form->cont->isVisibleTo(form.get()));
    EXPECT_FALSE(form->DFBRecordStart->isEnabled());
    EXPECT_FALSE(form->InfoTimer->isActive()); // the text stands still while paused
    EXPECT_EQ(state(), QStringLiteral("暂停录音"));
    // Not the 9 s of the last tick: the half second after it is in the file too.
    EXPECT_EQ(form->LTimeActive->text(), QStringLiteral("0:00:10"));

    clock.advance(5000);
    click(form->cont);
    EXPECT_TRUE(VirtualWaveIn::started(device));
    EXPECT_TRUE(form->AudioIn1->Capturing);
    EXPECT_TRUE(form->pasue->isEnabled());
    EXPECT_FALSE(form->cont->isVisibleTo(form.get()));
    EXPECT_EQ(state(), QStringLiteral("正在录音..."));
    EXPECT_EQ(tickAfter(500), QStringLiteral("0:00:10"));
    feed(800);
    EXPECT_EQ(tickAfter(500), QStringLiteral("0:00:11"));
}

TEST_F(ClockTest, AfterManyPausesTheClockIsTheLengthOfTheFile)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    for (int i = 0; i < 5; ++i) {
        // Pauses fall anywhere between two refreshes.
        feed(1000 + 170 * unsigned(i));
        tickAfter(500);
        feed(90 * unsigned(i));
        click(form->pasue);
        clock.advance(3000);
        click(form->cont);
    }
    feed(100); // 7.7 s in all
    click(form->stop);
    deliver();
    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    // The decoded sound is what was encoded, after the encoder's and the decoder's delay and
    // filled up to a whole frame.
    EXPECT_GE(mp3.sampleFrames(), form->FEncodedFrames + 576 + 529);
    EXPECT_LT(mp3.sampleFrames(), form->FEncodedFrames + 576 + 529 + 1152);
    EXPECT_EQ(form->LTimeActive->text(), formatElapsed(std::uint32_t(mp3.sampleFrames() / kRate)));
    EXPECT_EQ(form->LTimeActive->text(), QStringLiteral("0:00:07"));
}

TEST_F(ClockTest, TheSizeIsThatOfTheFileReallyWritten)
{
    form->CTimeStamp->setChecked(true);
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(900, 12000));
    record();
    for (int i = 0; i < 20; ++i)
        pump(100);
    tickAfter(500);
    const QFileInfo written(work.file(form->FOutFile.FileName()));
    ASSERT_TRUE(written.exists());
    EXPECT_NE(written.fileName(), QStringLiteral("take.mp3"));
    EXPECT_GT(written.size(), 10000);
    EXPECT_EQ(form->flsize->text(), formatFileSize(std::uint64_t(written.size())));
    EXPECT_FALSE(work.exists(QStringLiteral("take.mp3")));

    click(form->stop);
    // A tick that comes before the close notice leaves the final size standing.
    form->InfoTimerTimer();
    EXPECT_EQ(form->flsize->text(), formatFileSize(std::uint64_t(QFileInfo(written.filePath()).size())));
    deliver();
    EXPECT_FALSE(form->InfoTimer->isActive());
}

TEST_F(ClockTest, ARefreshWithoutAnyFileShowsZero)
{
    form->flsize->setText(QStringLiteral("x"));
    clock.advance(2000);
    form->InfoTimerTimer();
    EXPECT_EQ(form->flsize->text(), QStringLiteral("0.0kb"));
    EXPECT_EQ(form->LTimeActive->text(), QStringLiteral("0:00:00"));
}

TEST_F(ClockTest, ToneThenPauseThenToneDecodesToBothStretchesWithNothingBetween)
{
    constexpr std::size_t kDelay = 576 + 529; // the encoder's and the decoder's delay
    constexpr std::size_t kHalf = kRate / 2;
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 12000));
    record();
    for (int i = 0; i < 5; ++i)
        pump(100);
    click(form->pasue);
    deliver();
    // Whatever the room does during the pause is not recorded.
    VirtualWaveIn::setSignal(0, VirtualWaveIn::constant(0));
    pump(300);
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(1500, 12000));
    click(form->cont);
    for (int i = 0; i < 5; ++i)
        pump(100);
    ASSERT_EQ(VirtualWaveIn::framesPumped(form->FWaveIn), 2 * kHalf);
    click(form->stop);
    deliver();

    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    ASSERT_GE(mp3.sampleFrames(), 2 * kHalf + kDelay);
    const std::vector<double> left = channelOf(mp3.samples, 2, 0);
    auto window = [&](std::size_t from, std::size_t length) {
        return std::vector<double>(left.begin() + std::ptrdiff_t(from), left.begin() + std::ptrdiff_t(from + length));
    };
    // Both stretches whole: the first tone up to the join, the second from it to the end.
    const std::size_t join = kDelay + kHalf;
    const std::vector<double> before = window(kDelay + 1200, kHalf - 2400);
    const std::vector<double> after = window(join + 1200, kHalf - 2400);
    EXPECT_NEAR(zeroCrossingFrequency(before, kRate), 500.0, 3.0);
    EXPECT_NEAR(zeroCrossingFrequency(after, kRate), 1500.0, 5.0);
    // The join lies exactly where the first stretch ends: just before it only the first
    // tone, just after it only the second (a lost or doubled piece would move it).
    const std::vector<double> lastOfFirst = window(join - 296, 256);
    const std::vector<double> firstOfSecond = window(join + 40, 256);
    EXPECT_GT(goertzelPower(lastOfFirst, kRate, 500), 20 * goertzelPower(lastOfFirst, kRate, 1500));
    EXPECT_GT(goertzelPower(firstOfSecond, kRate, 1500), 20 * goertzelPower(firstOfSecond, kRate, 500));
    // No silence anywhere between: every short window carries sound.
    for (std::size_t from = kDelay + 600; from + 256 < kDelay + 2 * kHalf - 600; from += 256)
        ASSERT_GT(rms(window(from, 256)), 3000.0) << "quiet at frame " << from;
}
