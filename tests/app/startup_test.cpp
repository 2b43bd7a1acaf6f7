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

// Answers the boxes in turn; the n-th answer may first change the devices, as a user who
// starts a sound server while the box is open does.
class BoxAnswers
{
public:
    struct Answer
    {
        QMessageBox::StandardButton button;
        std::vector<std::string> devicesBefore; // installed before answering, when not empty
    };

    explicit BoxAnswers(std::vector<Answer> answers) : FAnswers(std::move(answers))
    {
        FPrevious = setMessageBoxHandler([this](const MessageBoxRequest &r) {
            boxes.push_back(r);
            if (boxes.size() > FAnswers.size())
                return r.closeAnswer();
            const Answer &a = FAnswers[boxes.size() - 1];
            if (!a.devicesBefore.empty())
                VirtualWaveIn::install(a.devicesBefore);
            return a.button;
        });
    }
    ~BoxAnswers() { setMessageBoxHandler(FPrevious); }

    std::vector<MessageBoxRequest> boxes;

private:
    std::vector<Answer> FAnswers;
    MessageBoxHandler FPrevious;
};

TEST_F(StartupTest, TheNoDeviceBoxNamesTheServerAndWhatToStartAndOffersARetry)
{
    build({});
    ASSERT_EQ(boxes.size(), 1u);
    const MessageBoxRequest &box = boxes.boxes[0];
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.title, QStringLiteral("Quavrel"));
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[0].button, QMessageBox::Retry);
    EXPECT_EQ(box.buttons[0].text, QStringLiteral("重试 / Try again"));
    EXPECT_EQ(box.buttons[1].button, QMessageBox::Close);
    EXPECT_EQ(box.buttons[1].text, QStringLiteral("退出 / Quit"));
    EXPECT_EQ(box.closeAnswer(), QMessageBox::Close);

    // Chinese first, then English; each names the server, both ways to start it, the
    // package, and keeps the backend's own reason.
    const qsizetype english = box.text.indexOf(QStringLiteral("No recording device"));
    ASSERT_GT(english, 0) << box.text.toStdString();
    const QString zh = box.text.left(english);
    const QString en = box.text.mid(english);
    EXPECT_TRUE(zh.startsWith(QStringLiteral("没有找到录音设备（声音输入设备），程序无法运行：No virtual devices are installed")))
        << zh.toStdString();
    EXPECT_TRUE(en.startsWith(QStringLiteral("No recording device (sound input) was found, so Quavrel cannot run: "
                                             "No virtual devices are installed")))
        << en.toStdString();
    for (const QString &part : {zh, en}) {
        for (const char *needle : {"PulseAudio", "pulseaudio --start", "systemctl --user start pipewire-pulse",
                                   "pipewire-pulse", "pulseaudio"})
            EXPECT_TRUE(part.contains(QLatin1String(needle))) << needle << " missing in " << part.toStdString();
    }
    EXPECT_TRUE(zh.contains(QStringLiteral("重试")));
    EXPECT_TRUE(en.contains(QStringLiteral("Try again")));
}

TEST_F(StartupTest, ARetryAfterTheServerStartedCarriesOnWithTheNewDevices)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=USB Mic\nSampleRate=22050 Hz\n");
    BoxAnswers answers({{QMessageBox::Retry, {}}, {QMessageBox::Retry, {"Line In", "USB Mic"}}});
    build({});
    EXPECT_EQ(answers.boxes.size(), 2u);
    EXPECT_FALSE(form->StartupFailed());
    ASSERT_EQ(form->CDevices->count(), 2);
    EXPECT_EQ(form->CDevices->itemText(1), QStringLiteral("USB Mic"));
    // The rest of the start-up ran: settings loaded over the defaults, meter running.
    EXPECT_EQ(form->CDevices->currentIndex(), 1);
    EXPECT_EQ(form->CSampleRate->currentText(), QStringLiteral("22050 Hz"));
    EXPECT_EQ(form->CBitrate->currentText(), QStringLiteral("128 kbps"));
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_TRUE(form->FSettingsValid);

    // And it records from the device that came.
    form->show();
    record();
    ASSERT_NE(sessionHandle(), nullptr);
    EXPECT_EQ(VirtualWaveIn::deviceOf(sessionHandle()), 1);
    click(form->stop);
    deliver();
    closeAndDestroy();
    EXPECT_EQ(answers.boxes.size(), 2u) << answers.boxes.back().text.toStdString();
    EXPECT_TRUE(work.read(QStringLiteral("recorder.ini")).contains("SampleRate=22050 Hz"));
}

TEST_F(StartupTest, QuitAfterFruitlessRetriesEndsTheStartAndWritesNoSettings)
{
    const QByteArray stored("[Format]\nDevice=USB Mic\n");
    work.write(QStringLiteral("recorder.ini"), stored);
    BoxAnswers answers({{QMessageBox::Retry, {}}, {QMessageBox::Retry, {}}, {QMessageBox::Close, {}}});
    build({});
    EXPECT_EQ(answers.boxes.size(), 3u);
    EXPECT_TRUE(form->StartupFailed());
    EXPECT_EQ(form->CDevices->count(), 0);
    EXPECT_FALSE(form->Timer1->isActive());
    form.reset();
    EXPECT_EQ(work.read(QStringLiteral("recorder.ini")), stored);
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
