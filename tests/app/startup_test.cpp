#include "app/application.h"
#include "common/app_fixture.h"

#include <QApplication>
#include <QEvent>

namespace {

class StartupTest : public FormTest {};

class Thrower : public QObject
{
protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("File access denied");
        return QObject::event(e);
    }
};

} // namespace

TEST(Startup, ApplicationIsOffscreen)
{
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}

TEST_F(StartupTest, WithoutADeviceItSaysSoAndNeverWritesTheSettings)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=USB Mic\nSampleRate=8000 Hz\n");
    build({});
    EXPECT_TRUE(form->StartupFailed());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Quavrel"));
    EXPECT_FALSE(form->isVisible());
    form.reset();
    EXPECT_EQ(work.read(QStringLiteral("recorder.ini")), QByteArray("[Format]\nDevice=USB Mic\nSampleRate=8000 Hz\n"));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(StartupTest, WithoutADeviceAndWithoutSettingsNoFileAppears)
{
    build({});
    form.reset();
    EXPECT_FALSE(work.exists(QStringLiteral("recorder.ini")));
}

TEST_F(StartupTest, TwoDevicesAreListedInNumberOrderAndTheFirstIsChosen)
{
    build({"Line In", "麦克风 (USB)"}, 1);
    ASSERT_EQ(form->CDevices->count(), 2);
    EXPECT_EQ(form->CDevices->itemText(0), QStringLiteral("Line In"));
    EXPECT_EQ(form->CDevices->itemText(1), QStringLiteral("麦克风 (USB)"));
    EXPECT_EQ(form->CDevices->currentIndex(), 0);
    EXPECT_FALSE(form->StartupFailed());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(StartupTest, DescriptionsAreShownWholeAndAlikeOnesTellApart)
{
    const std::string analog = "Family 17h/19h HD Audio Controller Analog Stereo";
    const std::string digital = "Family 17h/19h HD Audio Controller Digital Stereo";
    const std::string chinese = QStringLiteral("一二三四五六七八九十百千万亿兆京").toStdString(); // 48 bytes
    build({analog, digital, chinese, "USB Mic", "USB Mic"});
    ASSERT_EQ(form->CDevices->count(), 5);
    EXPECT_EQ(form->CDevices->itemText(0), QString::fromStdString(analog));
    EXPECT_EQ(form->CDevices->itemText(1), QString::fromStdString(digital));
    EXPECT_EQ(form->CDevices->itemText(2), QString::fromStdString(chinese));
    EXPECT_EQ(form->CDevices->itemText(3), QStringLiteral("USB Mic"));
    EXPECT_EQ(form->CDevices->itemText(4), QStringLiteral("USB Mic (2)"));
}

TEST_F(StartupTest, TheWindowStartsCompactIdleAndWithVoiceControlOff)
{
    work.write(QStringLiteral("recorder.ini"), "[Db]\ndbrec=1\ndbrec2=1\n");
    build();
    form->show();
    click(form->SpeedButton1);
    closeAndDestroy();
    build();
    EXPECT_EQ(form->height() + TForm1::kFrameHeight, TForm1::kCompactHeight);
    EXPECT_FALSE(form->GroupBox2->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
    EXPECT_FALSE(form->FRecording);
    EXPECT_EQ(form->EOutFile->cursorPosition(), form->EOutFile->text().size());
}

TEST(ErrorReport, AnErrorRaisedOutOfAnEventHandlerIsShownAndTheProgramGoesOn)
{
    BoxLog boxes;
    Thrower thrower;
    QEvent event(QEvent::User);
    // The test binary's application object is a plain one; dispatch as TApplication does.
    auto *app = static_cast<QApplication *>(QCoreApplication::instance());
    const bool handled = guardedDispatch([&] { return app->QApplication::notify(&thrower, &event); });
    EXPECT_TRUE(handled);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.lastText(), QStringLiteral("File access denied."));
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
}
