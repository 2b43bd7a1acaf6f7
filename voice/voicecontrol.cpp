#include "app/Form1.h"
#include "audio/AudioIO.h"

void TForm1::Timer2Timer(QObject *)
{
    const int threshold = SpinEdit1->Value();
    const bool sound = threshold < FLevel;
    if (CheckBox1->isChecked()) {
        if (StatusBar1->panelText(0) == kStateStopped && !AudioIn1->Capturing) {
            const QString error = StartMonitor();
            if (error.isEmpty())
                StatusBar1->setPanelText(0, kStateMonitoring);
            else
                ShowMessage(this, error);
        }
        if (sound && StatusBar1->panelText(0) != kStateRecording) {
            if (cont->isVisible())
                contClick();
            else
                DFBRecordStartClick();
        }
    }
    if (CheckBox2->isChecked()) {
        FQuietTicks = sound ? 0 : FQuietTicks + 1;
        if (SpinEdit2->Value() < FQuietTicks && StatusBar1->panelText(0) == kStateRecording)
            pasueClick();
    }
}

void TForm1::Button2Click(QObject *)
{
    if (Button2->text() == QStringLiteral("关闭声控")) {
        SwitchVoiceControlOff();
    } else {
        Timer2->start();
        Button2->setText(QStringLiteral("关闭声控"));
    }
}

void TForm1::Button1Click(QObject *)
{
    if (Button1->text() == QStringLiteral("停止")) {
        if (AudioIn1->Capturing)
            AudioIn1->StopNow();
        Button1->setText(QStringLiteral("声控测试"));
        return;
    }
    if (FRecording)
        BStopClick();
    pasue->setEnabled(false);
    stop->setEnabled(false);
    cont->hide();
    StatusBar1->setPanelText(0, kStateStopped);
    Timer2->stop();
    Button2->setText(QStringLiteral("开始声控"));
    Button1->setText(QStringLiteral("停止"));
    const QString error = StartMonitor();
    if (!error.isEmpty())
        ShowMessage(this, error);
}
