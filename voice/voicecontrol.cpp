#include "app/Form1.h"
#include "audio/AudioIO.h"
#include "voice/meter.h"

#include <limits>
#include <optional>

namespace {

const QString kVoiceOn = QStringLiteral("关闭声控");
const QString kTestRunning = QStringLiteral("停止");
const QString kTestDone = QStringLiteral("声控测试");

} // namespace

void TForm1::Timer2Timer(QObject *)
{
    // A device chosen since the monitor started is the one to listen to.
    if (CheckBox1->isChecked() && !FRecording && AudioIn1->Capturing && Button1->text() != kTestRunning
        && AudioIn1->DeviceId() != std::int32_t(ChosenDeviceId()))
        StopMonitor();
    // With auto-start on, the monitor must listen in every state but recording: a pause has
    // to hear the sound that ends it, and a monitor that went away must come back.
    if (CheckBox1->isChecked() && StatusBar1->panelText(0) != kStateRecording && !AudioIn1->Capturing) {
        const QString error = StartMonitor();
        if (error.isEmpty()) {
            if (StatusBar1->panelText(0) == kStateStopped)
                StatusBar1->setPanelText(0, kStateMonitoring);
        } else {
            // Voice control cannot listen without its monitor. It goes off before the box,
            // whose own loop would otherwise go on ticking: one failure, one box, and the
            // user switches it on again when the input is back.
            SwitchVoiceControlOff();
            ShowMessage(this, error);
            return;
        }
    }
    // What is heard before the trigger is kept, from the device that will record it.
    if (CheckBox1->isChecked() && StatusBar1->panelText(0) != kStateRecording)
        StartPreRoll();
    else if (!CheckBox1->isChecked())
        StopPreRoll();

    // Judged on the loudest buffer since the last tick, measured since the monitor last
    // started (a start clears it): a level left over from before never counts as sound.
    TakeFillingLevel();
    // The environment test leaves the loudest noise it heard, and noise has no ceiling: its
    // next excursion passes that. A voice must rise above it by the margin.
    const bool sound = isSound(FTickPeak, SpinEdit1->Value(), SpinEdit4->Value());
    FTickPeak = 0;

    if (CheckBox1->isChecked() && sound && StatusBar1->panelText(0) != kStateRecording) {
        // Shown by pause; isVisibleTo, since the window itself may be minimised or hidden.
        if (cont->isVisibleTo(this) && CheckBox3->isChecked())
            StartNextTake();
        else if (cont->isVisibleTo(this))
            contClick();
        else
            DFBRecordStartClick();
    }
    if (CheckBox2->isChecked()) {
        if (sound)
            FQuietTicks = 0;
        else if (FQuietTicks < std::numeric_limits<std::int32_t>::max())
            ++FQuietTicks;
        if (SpinEdit2->Value() < FQuietTicks && StatusBar1->panelText(0) == kStateRecording)
            pasueClick();
    }
}

void TForm1::Button2Click(QObject *)
{
    if (Button2->text() == kVoiceOn) {
        SwitchVoiceControlOff();
    } else {
        // The first tick judges only what is heard from now on.
        FTickPeak = 0;
        Timer2->start();
        Button2->setText(kVoiceOn);
    }
}

void TForm1::Button1Click(QObject *)
{
    if (Button1->text() == kTestRunning) {
        if (AudioIn1->Capturing)
            StopMonitor();
        Button1->setText(kTestDone);
        return;
    }
    // A failed last write is reported once the test runs; every step is carried out first.
    std::optional<SessionFileError> writeError;
    try {
        if (FRecording)
            BStopClick();
    } catch (const SessionFileError &error) {
        writeError = error;
    }
    StopPreRoll();
    pasue->setEnabled(false);
    stop->setEnabled(false);
    cont->hide();
    StatusBar1->setPanelText(0, kStateStopped);
    Timer2->stop();
    Button2->setText(QStringLiteral("开始声控"));
    Button1->setText(kTestRunning);
    // The test measures the room from now on. A monitor that already ran for a recording or
    // for voice control starts afresh: the loudest sound it heard, in its buffers still being
    // filled too, is no noise level.
    if (AudioIn1->Capturing)
        StopMonitor();
    const QString error = StartMonitor();
    if (!error.isEmpty())
        ShowMessage(this, error);
    if (writeError)
        throw *writeError;
}
