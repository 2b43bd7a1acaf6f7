#pragma once

// The window over one virtual input that is both the default input (the level monitor's)
// and the recording device. Ticks are called by the test; sound is fed a buffer at a time.

#include "audio/AudioIO.h"
#include "common/app_fixture.h"

#include <cstdint>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

class VoiceTest : public FormTest
{
protected:
    // Samples in one monitor buffer (4096 bytes of 16-bit mono).
    static constexpr std::size_t kMonitorFrames = 2048;

    void SetUp() override
    {
        build();
        form->EOutFile->setText(QStringLiteral("take.mp3"));
    }

    // Voice control switched on with these settings (nothing happens before the first tick).
    void voiceOn(bool autoStart, bool autoPause, int threshold = 1000, int quietLimit = 10)
    {
        form->CheckBox1->setChecked(autoStart);
        form->CheckBox2->setChecked(autoPause);
        form->SpinEdit1->setValue(threshold);
        form->SpinEdit2->setValue(quietLimit);
        click(form->Button2);
        ASSERT_TRUE(form->Timer2->isActive());
    }

    // One voice-control tick, with the notices it causes handled.
    void tick()
    {
        form->Timer2Timer();
        deliver();
    }

    // Whole monitor buffers of one constant sample value, delivered to the handler.
    void feed(std::int16_t value, int buffers = 1)
    {
        ASSERT_TRUE(form->AudioIn1->Capturing);
        VirtualWaveIn::setSignal(0, VirtualWaveIn::constant(value));
        for (int i = 0; i < buffers; ++i) {
            VirtualWaveIn::pumpFrames(form->AudioIn1->WaveHandle(), kMonitorFrames);
            deliver();
        }
    }

    bool paused() const { return form->cont->isVisibleTo(form.get()) && state() == TForm1::kStatePaused; }
};
