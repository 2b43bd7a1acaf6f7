#include "voice_fixture.h"

#include "common/encodsignal.h"
#include "common/mp3decode.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

// Low noise well under the threshold, the same for every handle that hears it.
std::int16_t hiss(std::uint64_t frame)
{
    std::uint64_t x = (frame + 1) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    return std::int16_t(int(x % 601) - 300);
}

class VoiceScenario : public VoiceTest
{
protected:
    // Runs the window for `ms` in steps of 100 ms: sound first, then the meter, the clock
    // and, on every whole second, the voice-control tick. Returns the state after each tick.
    void run(unsigned ms)
    {
        for (unsigned step = 0; step < ms; step += 100) {
            pump(100);
            now += 100;
            clock.advance(100);
            form->Timer1Timer();
            if (now % 500 == 0 && form->InfoTimer->isActive())
                form->InfoTimerTimer();
            if (now % 1000 == 0 && form->Timer2->isActive()) {
                tick();
                if (state() != lastState) {
                    changes.push_back({now, state()});
                    lastState = state();
                }
            }
        }
    }

    void play(double hz)
    {
        VirtualWaveIn::setSignal(0, [hz](std::uint64_t frame, unsigned, unsigned rate) {
            if (hz == 0)
                return hiss(frame);
            return std::int16_t(std::lround(10000.0 * std::sin(2.0 * M_PI * hz * double(frame) / rate)));
        });
    }

    struct Change
    {
        unsigned at;
        QString state;
    };
    unsigned now = 0;
    QString lastState = TForm1::kStateStopped;
    std::vector<Change> changes;
};

TEST_F(VoiceScenario, RecordsTheTwoTonesAndPausesInTheLongQuiet)
{
    voiceOn(true, true, 1000, 3);
    play(0);
    run(2000);
    play(440);
    run(3000);
    play(0);
    run(8000);
    play(880);
    run(3000);
    click(form->stop);
    deliver();

    // Listening from the first tick, recording from the first tick after the tone began,
    // paused after more than three quiet ticks, continued by the second tone.
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].state, TForm1::kStateMonitoring);
    EXPECT_EQ(changes[0].at, 1000u);
    EXPECT_EQ(changes[1].state, TForm1::kStateRecording);
    EXPECT_EQ(changes[1].at, 3000u);
    EXPECT_EQ(changes[2].state, TForm1::kStatePaused);
    EXPECT_GE(changes[2].at, 9000u);
    EXPECT_LE(changes[2].at, 10000u);
    EXPECT_EQ(changes[3].state, TForm1::kStateRecording);
    EXPECT_EQ(changes[3].at, 14000u);
    EXPECT_TRUE(boxes.boxes.empty());

    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    ASSERT_EQ(mp3.rate, 44100);
    const std::vector<double> left = channelOf(mp3.samples, mp3.channels, 0);
    // Sort 50 ms windows into the first tone, the second tone and quiet.
    constexpr std::size_t kWindow = 2205;
    std::string kinds;
    for (std::size_t at = 0; at + kWindow <= left.size(); at += kWindow) {
        const std::vector<double> w(left.begin() + std::ptrdiff_t(at), left.begin() + std::ptrdiff_t(at + kWindow));
        const double low = goertzelPower(w, 44100, 440);
        const double high = goertzelPower(w, 44100, 880);
        kinds += low > 4e6 ? 'a' : high > 4e6 ? 'b' : rms(w) < 1000 ? '.' : '?';
    }
    SCOPED_TRACE(kinds);
    const auto count = [&](char c) { return std::count(kinds.begin(), kinds.end(), c); };
    // All three seconds of each tone reached the file, the second before the tick that
    // heard it included, in order, with quiet between them.
    EXPECT_NEAR(count('a'), 60, 3);
    EXPECT_NEAR(count('b'), 60, 3);
    EXPECT_LE(count('?'), 4);
    EXPECT_LT(kinds.rfind('a'), kinds.find('b'));
    const std::size_t between = kinds.find('b') - kinds.rfind('a') - 1;
    EXPECT_GE(between, 60u); // the quiet before the pause, three ticks and more
    // Ten seconds of quiet were played; far less of it was kept.
    EXPECT_LT(count('.') * 50, 7000);
    EXPECT_LT(left.size(), std::size_t(44100 * 13));
}

TEST_F(VoiceScenario, TheEnvironmentTestLeavesTheLoudestNoiseInTheThresholdField)
{
    // Noise up to 4000 with an occasional crack of -5000: the loudest magnitude is 5000.
    VirtualWaveIn::setSignal(0, [](std::uint64_t frame, unsigned, unsigned) {
        if (frame % 3001 == 1500)
            return std::int16_t(-5000);
        return std::int16_t(hiss(frame) * 13);
    });
    form->SpinEdit1->setValue(123);
    click(form->Button1);
    ASSERT_TRUE(form->AudioIn1->Capturing);
    int last = 0;
    for (int i = 0; i < 10; ++i) {
        pump(100);
        form->Timer1Timer();
        EXPECT_GE(form->SpinEdit1->Value(), last);
        last = form->SpinEdit1->Value();
    }
    click(form->Button1);
    EXPECT_EQ(form->SpinEdit1->Value(), 5000);
    EXPECT_EQ(form->SpinEdit1->text(), QStringLiteral("5000"));
    EXPECT_FALSE(form->AudioIn1->Capturing);
}

// ---- a room left listening --------------------------------------------------------------

// Noise up to 2000 as the environment test hears it; in the hour that follows, now and then
// an excursion a fraction of a decibel higher, as noise without a ceiling has.
constexpr int kFloor = 2000;
std::int16_t roomNoise(std::uint64_t frame, bool excursions)
{
    std::uint64_t x = (frame + 7) * 0xD1B54A32D192ED03ull;
    x ^= x >> 31;
    if (excursions && x % 150001 == 0)
        return std::int16_t(-kFloor * 112 / 100); // +1 dB
    if (frame % 4001 == 2000)
        return std::int16_t(kFloor);
    return std::int16_t(int(x % (2 * kFloor + 1)) - kFloor);
}

struct RoomCase
{
    const char *name;
    int margin;
    bool roomStarts;
};

class RoomLeftListening : public VoiceScenario, public testing::WithParamInterface<RoomCase>
{};

TEST_P(RoomLeftListening, TheRoomStartsNothingForAnHourAndAVoiceStartsAtOnce)
{
    VirtualWaveIn::setSignal(0, [](std::uint64_t frame, unsigned, unsigned) { return roomNoise(frame, false); });
    form->SpinEdit4->setValue(GetParam().margin);
    click(form->Button1);
    for (int i = 0; i < 40; ++i) {
        pump(100);
        form->Timer1Timer();
    }
    click(form->Button1);
    ASSERT_EQ(form->SpinEdit1->Value(), kFloor);
    VirtualWaveIn::setSignal(0, [](std::uint64_t frame, unsigned, unsigned) { return roomNoise(frame, true); });
    voiceOn(true, true, kFloor, 3);

    int tickOfFirstStart = 0;
    std::int32_t loudest = 0;
    for (int t = 1; t <= 3600 && !tickOfFirstStart; ++t) {
        VirtualWaveIn::pumpFrames(form->AudioIn1->WaveHandle(), kMonitorFrames);
        deliver();
        loudest = std::max(loudest, form->FTickPeak);
        tick();
        if (form->FRecording)
            tickOfFirstStart = t;
    }
    EXPECT_EQ(tickOfFirstStart != 0, GetParam().roomStarts) << "first start at tick " << tickOfFirstStart;
    EXPECT_GT(loudest, kFloor); // the room did pass what the test had measured
    if (GetParam().roomStarts)
        return;
    EXPECT_FALSE(work.exists(QStringLiteral("take.mp3")));

    // A tone 20 dB above the room: heard at the first tick.
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(440, 10 * kFloor));
    VirtualWaveIn::pumpFrames(form->AudioIn1->WaveHandle(), kMonitorFrames);
    deliver();
    tick();
    EXPECT_EQ(state(), TForm1::kStateRecording);
    // Back to the room's level: quiet, and paused after more than three quiet ticks.
    VirtualWaveIn::setSignal(0, [](std::uint64_t frame, unsigned, unsigned) { return roomNoise(frame, true); });
    for (int t = 1; t <= 4; ++t) {
        EXPECT_EQ(state(), TForm1::kStateRecording) << "quiet tick " << t;
        VirtualWaveIn::pumpFrames(form->AudioIn1->WaveHandle(), kMonitorFrames);
        deliver();
        tick();
    }
    EXPECT_TRUE(paused());
}

INSTANTIATE_TEST_SUITE_P(Voice, RoomLeftListening,
                         testing::Values(RoomCase{"DefaultMarginOfSixDb", 6, false},
                                         RoomCase{"NoMarginIsTheOldComparison", 0, true}),
                         [](const testing::TestParamInfo<RoomCase> &info) { return std::string(info.param.name); });

} // namespace
