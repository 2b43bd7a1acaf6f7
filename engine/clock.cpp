#include "engine/clock.h"

#include "app/Form1.h"
#include "audio/AudioIO.h"

#include <QElapsedTimer>

namespace {

TickSource &tickSource()
{
    static TickSource source;
    return source;
}

std::uint32_t systemTicks()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    // Only differences matter; start at an arbitrary base like the system count does.
    return static_cast<std::uint32_t>(timer.elapsed());
}

} // namespace

std::uint32_t GetTickCount()
{
    const TickSource &source = tickSource();
    return source ? source() : systemTicks();
}

void setTickSource(TickSource source)
{
    tickSource() = std::move(source);
}

QString formatElapsed(std::uint32_t seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString formatFileSize(std::uint64_t bytes)
{
    return QString::number(static_cast<double>(bytes) / 1024.0, 'f', 1) + QStringLiteral("kb");
}

// ---- pause, continue and the clock refresh --------------------------------------------------


void TForm1::pasueClick(QObject *)
{
    // The device hands back the buffer it was filling; WimData encodes it and queues it again.
    if (FRecording)
        waveInStop(FWaveIn);
    if (AudioIn1->Capturing)
        StopMonitor();
    pasue->setEnabled(false);
    InfoTimer->stop();
    cont->show();
    StatusBar1->setPanelText(0, kStatePaused);
}

void TForm1::contClick(QObject *)
{
    const QString monitorError = StartMonitor();
    // The clock goes on from the value it showed at the last refresh before the pause. The
    // continue itself counts as a refresh: a pause that comes before the next tick must not
    // count this pause a second time.
    const std::uint32_t now = GetTickCount();
    FStartTick += tickDiff(now, FLastInfoTick);
    FLastInfoTick = now;
    InfoTimer->start();
    if (FRecording) {
        if (const MMRESULT r = waveInStart(FWaveIn); r != MMSYSERR_NOERROR) {
            // Nothing would be recorded: end the session as a lost device does, with one box.
            EndSessionWithBox(QStringLiteral("录音设备无法继续录音（%1），录音已停止。").arg(InErrorText(r)));
            return;
        }
    }
    pasue->setEnabled(true);
    cont->hide();
    StatusBar1->setPanelText(0, kStateRecording);
    // Shown last: the box's own loop goes on serving ticks, which now see the recording state.
    if (!monitorError.isEmpty())
        ShowMessage(this, monitorError);
}

void TForm1::InfoTimerTimer(QObject *)
{
    flsize->setText(formatFileSize(FFileOutput ? FOutFile.Size() : 0));
    const std::uint32_t now = GetTickCount();
    LTimeActive->setText(formatElapsed(tickDiff(now, FStartTick) / 1000));
    FLastInfoTick = now;
}
