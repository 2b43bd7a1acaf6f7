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
        SetCapture(TCapture::Paused);
        // A write that failed meanwhile has ended the session, with its report.
        if (!FRecording)
            return;
    }
    if (listening)
        SetCapture(TCapture::PausedPreRolling);
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
    // By hand the take goes on from the click: what the pause's pre-roll holds is pause sound.
    // Voice control's continue keeps it, ahead of the live sound.
    if (Sender && FCapture == TCapture::PausedPreRolling)
        SetCapture(TCapture::Paused);
    InfoTimer->start();
    if (FRecording) {
        if (const MMRESULT r = SetCapture(TCapture::Recording); r != MMSYSERR_NOERROR) {
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
