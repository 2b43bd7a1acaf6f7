// A long recording at 48 kHz stereo through the virtual device as fast as it can go: the file
// holds every sample fed, the process does not grow, and the wave layer drops nothing.
#include "fault_support.h"

#include "app/settings.h"
#include "common/mp3decode.h"

#include <QComboBox>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

class LongSessionTest : public FormTest {};

// Minutes of sound: two hours unless QUAVREL_LONG_SESSION_MINUTES says otherwise.
unsigned sessionMinutes()
{
    const char *text = std::getenv("QUAVREL_LONG_SESSION_MINUTES");
    const int minutes = text ? std::atoi(text) : 0;
    return minutes > 0 ? unsigned(minutes) : 120u;
}

} // namespace

TEST_F(LongSessionTest, TwoHoursAt48kHzStereoKeepEverySampleInFlatMemory)
{
    build();
    SelectByText(form->CSampleRate, QStringLiteral("48000 Hz"));
    // The fastest encoder grade: the session path is under test here, not the sound quality.
    SelectByText(form->CQuality, QStringLiteral("LQ"));
    form->EncodeSettingsChange();
    ASSERT_TRUE(form->FSettingsValid);
    form->EOutFile->setText(QStringLiteral("long.mp3"));
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(523.25, 9000));
    record();
    ASSERT_TRUE(form->FRecording);
    ASSERT_EQ(VirtualWaveIn::format(form->FWaveIn).nSamplesPerSec, 48000u);
    ASSERT_EQ(VirtualWaveIn::format(form->FWaveIn).nChannels, 2u);

    const auto began = std::chrono::steady_clock::now();
    const unsigned minutes = sessionMinutes();
    const unsigned steps = minutes * 60 * 10; // 100 ms each
    std::uint64_t baseline = 0, highest = 0;
    for (unsigned i = 1; i <= steps; ++i) {
        pump(100);
        if (i % 600 == 0) { // every minute of sound
            form->InfoTimerTimer();
            const std::uint64_t rss = residentBytes();
            if (i == 3000 || (baseline == 0 && i == steps))
                baseline = rss; // five minutes in: buffers, encoder and caches are all made
            highest = std::max(highest, rss);
            if (baseline)
                ASSERT_LT(rss, baseline + 4 * 1024 * 1024) << "grew by " << (rss - baseline) << " bytes after "
                                                          << i / 600 << " minutes";
        }
    }
    const std::uint64_t fed = VirtualWaveIn::framesPumped(form->FWaveIn);
    ASSERT_EQ(fed, std::uint64_t(minutes) * 60 * 48000);
    std::uint64_t dropped = ~0ull;
    ASSERT_EQ(waveInGetDroppedBytes(form->FWaveIn, &dropped), MMSYSERR_NOERROR);
    EXPECT_EQ(dropped, 0u);
    click(form->stop);
    deliver();
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.lastText().toStdString();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << minutes << " minutes of sound recorded in " << seconds << " s; resident " << baseline / 1024
              << " KiB after five minutes, at most " << highest / 1024 << " KiB\n";

    // Every frame is whole and in order; their count is the sound fed plus the encoder's
    // delay and padding (under two frames) and the tag frame at the front.
    const std::vector<std::uint8_t> bytes = readFileBytes(work.file(QStringLiteral("long.mp3")).toStdString());
    const Mp3FrameScan scan = scanMp3Frames(bytes);
    ASSERT_TRUE(scan.clean(bytes.size())) << scan.parsedBytes << " of " << bytes.size();
    ASSERT_FALSE(scan.frames.empty());
    EXPECT_EQ(scan.frames.front().sampleRate, 48000);
    const std::uint64_t samples = std::uint64_t(scan.frames.size()) * 1152;
    EXPECT_GE(samples, fed);
    EXPECT_LE(samples, fed + 3 * 1152);
}
