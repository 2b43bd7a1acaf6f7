#include "app/Form1.h"
#include "audio/AudioIO.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

bool TForm1::AudioIn1BufferFilled(void *Buffer, std::int32_t &Size)
{
    const int n = Size / 2;
    if (n <= 0 || !Buffer)
        return true;
    const auto *samples = static_cast<const std::int16_t *>(Buffer);
    std::int32_t lo = samples[0];
    std::int32_t hi = samples[0];
    for (int i = 0; i < n; ++i) {
        lo = std::min<std::int32_t>(lo, samples[i]);
        hi = std::max<std::int32_t>(hi, samples[i]);
    }
    if (lo < FMinSample)
        FMinSample = lo;
    if (hi > FMaxSample)
        FMaxSample = hi;
    FLevel = std::abs(lo) > hi ? std::abs(lo) : hi;
    return true;
}

void TForm1::UpdateStatus()
{
    if (!AudioIn1->Capturing) {
        ProgressBar1->setValue(0);
        return;
    }
    ProgressBar1->setValue(int(std::nearbyint(double(FLevel * 100) / 32768.0)));
    if (std::abs(FMinSample) > FMaxSample)
        FMaxSample = std::abs(FMinSample);
    if (Button1->text() == QStringLiteral("停止"))
        SpinEdit1->setValue(FMaxSample);
}

void TForm1::Timer1Timer(QObject *)
{
    UpdateStatus();
}
