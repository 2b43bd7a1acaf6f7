#include "voice/meter.h"

#include "app/Form1.h"
#include "audio/AudioIO.h"

#include <algorithm>
#include <cmath>

SamplePeak measureSamples(const std::int16_t *samples, std::int32_t count)
{
    SamplePeak peak;
    if (!samples || count < 1)
        return peak;
    std::int32_t lo = samples[0];
    std::int32_t hi = samples[0];
    for (std::int32_t i = 1; i < count; ++i) {
        const std::int32_t s = samples[i];
        if (s < lo)
            lo = s;
        if (s > hi)
            hi = s;
    }
    peak.lo = lo;
    peak.hi = hi;
    peak.level = -lo > hi ? -lo : hi;
    return peak;
}

int meterPosition(std::int32_t level)
{
    // Dividing by a power of two is exact in double, so a half is seen as exactly a half and
    // the tie rule does not hang on the FPU's rounding mode.
    const double exact = double(std::int64_t(level) * 100) / 32768.0;
    const double below = std::floor(exact);
    const double rest = exact - below;
    double position = below;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0))
        position = below + 1.0;
    return int(std::clamp(position, 0.0, 100.0));
}

double soundLine(std::int32_t threshold, int marginDb)
{
    // Far beyond what a 16-bit peak can reach either way; keeps the power finite.
    const int db = std::clamp(marginDb, -200, 200);
    return double(threshold) * std::pow(10.0, double(db) / 20.0);
}

bool isSound(std::int32_t level, std::int32_t threshold, int marginDb)
{
    // A margin of 0 multiplies by exactly 1: the comparison is the integer one of old.
    return double(level) > soundLine(threshold, marginDb);
}

QString dbfsText(double level)
{
    if (!(level > 0))
        return QStringLiteral("−∞");
    const double db = 20.0 * std::log10(level / 32768.0);
    QString text = QString::number(db, 'f', 1);
    if (text == QLatin1String("-0.0"))
        return QStringLiteral("0.0");
    return text.replace(QLatin1Char('-'), QChar(0x2212));
}

bool TForm1::AudioIn1BufferFilled(void *Buffer, std::int32_t &Size)
{
    // The monitor always hands over whole buffers; a buffer without one whole sample says
    // nothing about the level.
    const std::int32_t n = Size / 2;
    if (n < 1 || !Buffer)
        return true;
    const SamplePeak peak = measureSamples(static_cast<const std::int16_t *>(Buffer), n);
    if (peak.lo < FMinSample)
        FMinSample = peak.lo;
    if (peak.hi > FMaxSample)
        FMaxSample = peak.hi;
    FLevel = peak.level;
    // The voice-control tick judges the loudest buffer since the last tick, not the last one,
    // and not again the part of this one an earlier tick judged while it was being filled.
    std::int32_t tickLevel = FLevel;
    if (Buffer == FJudgedBuffer) {
        const std::int32_t judged = std::min(FJudgedBytes / 2, n);
        tickLevel = measureSamples(static_cast<const std::int16_t *>(Buffer) + judged, n - judged).level;
        FJudgedBuffer = nullptr;
        FJudgedBytes = 0;
    }
    if (tickLevel > FTickPeak)
        FTickPeak = tickLevel;
    return true;
}

void TForm1::TakeFillingLevel()
{
    // The server hands sound over in fragments of a whole monitor buffer (93 ms), so a
    // buffer completes up to that much after its first sound: the tick also hears the part
    // that has come in, and reacts no later than with small fragments.
    if (!AudioIn1->Capturing)
        return;
    WAVEHDR *filling = nullptr;
    UINT recorded = 0;
    if (waveInGetFilling(AudioIn1->WaveHandle(), &filling, &recorded) != MMSYSERR_NOERROR || !filling)
        return;
    const std::int32_t from = filling->lpData == FJudgedBuffer ? FJudgedBytes / 2 : 0;
    const std::int32_t samples = std::int32_t(recorded / 2);
    if (samples <= from)
        return;
    const SamplePeak peak = measureSamples(reinterpret_cast<const std::int16_t *>(filling->lpData) + from, samples - from);
    if (peak.level > FTickPeak)
        FTickPeak = peak.level;
    FJudgedBuffer = filling->lpData;
    FJudgedBytes = samples * 2;
}

void TForm1::ResetLevel()
{
    FLevel = 0;
    FTickPeak = 0;
    FJudgedBuffer = nullptr;
    FJudgedBytes = 0;
}

void TForm1::StopMonitor()
{
    AudioIn1->StopNow();
    ResetLevel();
}

void TForm1::UpdateStatus()
{
    if (!AudioIn1->Capturing) {
        ProgressBar1->setValue(0);
        Label16->clear();
        ShowSoundLine();
        return;
    }
    ProgressBar1->setValue(meterPosition(FLevel));
    Label16->setText(dbfsText(FLevel) + QStringLiteral(" dBFS"));
    if (std::abs(FMinSample) > FMaxSample)
        FMaxSample = std::abs(FMinSample);
    if (Button1->text() == QStringLiteral("停止"))
        SpinEdit1->setValue(FMaxSample);
    ShowSoundLine();
}

void TForm1::ShowSoundLine()
{
    // Read afresh each time, as the tick reads them: the fields have no change handlers.
    const std::int32_t threshold = SpinEdit1->Value();
    Label15->setText(dbfsText(threshold) + QStringLiteral(" dBFS"));
    ProgressBar1->setMark(soundLine(threshold, SpinEdit4->Value()) / 32768.0);
}

void TForm1::Timer1Timer(QObject *)
{
    UpdateStatus();
}
