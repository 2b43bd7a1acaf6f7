// The input list: the stored choice found again by the source's name, and the list following
// inputs that come and go without moving a device that is open by its position.
#include "app/devicelist.h"
#include "audio/AudioIO.h"
#include "common/app_fixture.h"

#include <QStandardItemModel>

namespace {

class DeviceListTest : public FormTest
{
protected:
    QStringList texts() const
    {
        QStringList list;
        for (int i = 0; i < form->CDevices->count(); ++i)
            list << form->CDevices->itemText(i);
        return list;
    }
    bool selectable(int index) const
    {
        const auto *model = qobject_cast<QStandardItemModel *>(form->CDevices->model());
        return model && model->item(index)->isEnabled();
    }
    QStringList savedDeviceLines()
    {
        closeAndDestroy();
        QStringList lines;
        for (const QString &line : QString::fromUtf8(work.read(QStringLiteral("recorder.ini"))).split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("Device")))
                lines << line.trimmed();
        return lines;
    }
};

const std::vector<std::pair<std::string, std::string>> kTwins{
    {"USB Mic", "alsa_input.usb-A"}, {"USB Mic", "alsa_input.usb-B"}, {"Line In", "alsa_input.line"}};

} // namespace

TEST_F(DeviceListTest, TheStoredSourceNameIsMatchedBeforeTheText)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=USB Mic\nDeviceName=alsa_input.usb-B\n");
    buildNamed(kTwins);
    EXPECT_EQ(form->CDevices->currentIndex(), 1);
    EXPECT_EQ(form->CDevices->currentText(), QStringLiteral("USB Mic (2)"));
    // Written back as found, the name right after the text.
    EXPECT_EQ(savedDeviceLines(),
              QStringList({QStringLiteral("Device=USB Mic (2)"), QStringLiteral("DeviceName=alsa_input.usb-B")}));
}

TEST_F(DeviceListTest, WithoutAMatchingNameTheTextChoosesAndWithNeitherTheFirstStays)
{
    // A file from before the name was kept.
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=line in\n");
    buildNamed(kTwins);
    EXPECT_EQ(form->CDevices->currentIndex(), 2);
    form.reset(); // its save at exit would overwrite the next file
    // A name the server no longer has.
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=USB Mic (2)\nDeviceName=alsa_input.old\n");
    buildNamed(kTwins);
    EXPECT_EQ(form->CDevices->currentIndex(), 1);
    form.reset();
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=Gone\nDeviceName=alsa_input.gone\n");
    buildNamed(kTwins);
    EXPECT_EQ(form->CDevices->currentIndex(), 0);
    EXPECT_EQ(savedDeviceLines(),
              QStringList({QStringLiteral("Device=USB Mic"), QStringLiteral("DeviceName=alsa_input.usb-A")}));
}

TEST_F(DeviceListTest, TheChoiceSurvivesARestartWithOtherSourcesAddedAndRemoved)
{
    buildNamed(kTwins);
    form->CDevices->setCurrentIndex(1);
    closeAndDestroy();
    // The first twin is gone and a new input came first: the text "USB Mic (2)" would now
    // name nothing, and position 1 another device.
    buildNamed({{"Webcam", "alsa_input.cam"}, {"Line In", "alsa_input.line"}, {"USB Mic", "alsa_input.usb-B"}});
    EXPECT_EQ(form->CDevices->currentIndex(), 2);
    EXPECT_EQ(form->ChosenDeviceName(), QStringLiteral("alsa_input.usb-B"));
}

TEST_F(DeviceListTest, WhileIdleTheListFollowsInputsAndKeepsTheChoice)
{
    build({"Mic", "Line"});
    form->CDevices->setCurrentIndex(1);
    const int usb = VirtualWaveIn::addDevice("USB Mic");
    deliver();
    EXPECT_EQ(texts(), QStringList({QStringLiteral("Mic"), QStringLiteral("Line"), QStringLiteral("USB Mic")}));
    EXPECT_EQ(form->CDevices->currentText(), QStringLiteral("Line"));
    VirtualWaveIn::removeDevice(0);
    deliver();
    // Nothing is open, so the positions may move: the gone input is simply no longer there.
    EXPECT_EQ(texts(), QStringList({QStringLiteral("Line"), QStringLiteral("USB Mic")}));
    EXPECT_EQ(form->CDevices->currentIndex(), 0);
    // A recording opens the device now at the chosen position.
    record();
    ASSERT_TRUE(form->FRecording);
    EXPECT_EQ(VirtualWaveIn::deviceOf(sessionHandle()), 1);
    EXPECT_NE(VirtualWaveIn::deviceOf(sessionHandle()), usb);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DeviceListTest, UnderARunningSessionNoPositionMovesUntilItEnds)
{
    build({"Mic", "Line"});
    form->CDevices->setCurrentIndex(1);
    VirtualWaveIn::setSignal(1, VirtualWaveIn::constant(1000));
    record();
    const HWAVEIN session = sessionHandle();
    ASSERT_NE(session, nullptr);
    VirtualWaveIn::removeDevice(0);
    VirtualWaveIn::addDevice("USB Mic");
    deliver();
    EXPECT_EQ(texts(), QStringList({goneDeviceText(QStringLiteral("Mic")), QStringLiteral("Line"),
                                    QStringLiteral("USB Mic")}));
    EXPECT_FALSE(selectable(0));
    EXPECT_TRUE(selectable(2));
    EXPECT_EQ(form->CDevices->currentIndex(), 1);
    EXPECT_EQ(form->ChosenDeviceId(), 1u);
    // The recording goes on, from the same device and handle.
    const std::uint64_t before = form->FOutFile.Size();
    pump(500, 1);
    EXPECT_EQ(sessionHandle(), session);
    EXPECT_GT(form->FOutFile.Size(), before);
    EXPECT_EQ(form->StatusBar1->panelText(0), TForm1::kStateRecording);
    click(form->stop);
    deliver();
    // Once the device is closed the list is put in order.
    EXPECT_EQ(texts(), QStringList({QStringLiteral("Line"), QStringLiteral("USB Mic")}));
    EXPECT_EQ(form->CDevices->currentText(), QStringLiteral("Line"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DeviceListTest, WhileVoiceControlListensTheHeldDevicesKeepTheirPositions)
{
    build({"Mic", "Line"});
    form->CDevices->setCurrentIndex(1);
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(30000);
    click(form->Button2);
    form->Timer2Timer();
    deliver();
    ASSERT_EQ(form->FCapture, TCapture::PreRolling);
    ASSERT_TRUE(form->AudioIn1->Capturing);
    const HWAVEIN preRoll = form->FWaveIn;
    VirtualWaveIn::removeDevice(0);
    deliver();
    EXPECT_EQ(form->CDevices->currentIndex(), 1);
    form->Timer2Timer();
    deliver();
    // Neither capture was taken for another device's and opened again.
    EXPECT_EQ(form->FWaveIn, preRoll);
    EXPECT_EQ(VirtualWaveIn::deviceOf(form->AudioIn1->WaveHandle()), 1);
    click(form->Button2);
    deliver();
    EXPECT_EQ(texts(), QStringList({QStringLiteral("Line")}));
}

TEST_F(DeviceListTest, TheChosenInputGoneWhileIdleIsMarkedAndRecordSaysSo)
{
    build({"Mic", "Line"});
    form->CDevices->setCurrentIndex(1);
    VirtualWaveIn::removeDevice(1);
    deliver();
    EXPECT_EQ(form->CDevices->currentText(), goneDeviceText(QStringLiteral("Line")));
    EXPECT_FALSE(selectable(1));
    record();
    EXPECT_FALSE(form->FRecording);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().startsWith(QStringLiteral("无法打开录音设备“Line（已断开）”："))) << boxes.lastText().toStdString();
    EXPECT_TRUE(form->DFBRecordStart->isEnabled());
    // Back under its old name: chosen as before, and it records.
    VirtualWaveIn::addDevice("Line", "virtual-1");
    deliver();
    EXPECT_EQ(form->CDevices->currentText(), QStringLiteral("Line"));
    record();
    EXPECT_TRUE(form->FRecording);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(DeviceListTest, AChosenInputStillGoneAtExitIsStoredByItsOwnName)
{
    build({"Mic", "Line"});
    form->CDevices->setCurrentIndex(1);
    VirtualWaveIn::removeDevice(1);
    deliver();
    EXPECT_EQ(savedDeviceLines(), QStringList({QStringLiteral("Device=Line"), QStringLiteral("DeviceName=virtual-1")}));
}
