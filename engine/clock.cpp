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
    const bool listening = FRecording && VoiceMayEndPause() && PreRollMs() > 0;
    if (FRecording) {
        // The device hands back the buffer it was filling; encoded now, the file and the
        // clock hold everything up to the click.
        waveInStop(FWaveIn);
        FlushWaveNotices();
        // A write that failed meanwhile has ended the session, with its report.
        if (!FRecording)
            return;
    }
    if (listening) {
        // Sound may end this pause, and what comes before that sound belongs in the file:
        // the device goes on into the pre-roll ring.
        FPreRoll.Reset(PreRollMs(), FSessionRate, FBlockAlign);
        FPreRolling = true;
        waveInStart(FWaveIn);
    }
    // A monitor that may hear the end of the pause keeps listening, to what comes from now on.
    if (AudioIn1->Capturing && listening)
        ResetLevel();
    else if (AudioIn1->Capturing)
        StopMonitor();
    pasue->setEnabled(false);
    // The clock stands still at what reached the file up to the pause.
    InfoTimerTimer();
    InfoTimer->stop();
    cont->show();
    StatusBar1->setPanelText(0, kStatePaused);
}

void TForm1::contClick(QObject *Sender)
{
    const QString monitorError = StartMonitor();
    if (FRecording && FPreRolling) {
        if (Sender) {
            // By hand: from the click. What the device was filling is pause sound.
            StopPreRoll();
        } else {
            // Buffers already back belong to the ring, ahead of the live sound.
            FlushWaveNotices();
            if (FRecording && FPreRolling)
                EncodePreRoll();
        }
    }
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
    // The length of the sound in the file, not the time since the start: ticks between a
    // refresh and a pause, and a pre-roll the disk had no room for, are no sound in it.
    LTimeActive->setText(formatElapsed(FSessionRate ? std::uint32_t(FEncodedFrames / FSessionRate) : 0));
}
