#include "app/shutdownsignals.h"
#include "audio/AudioIO.h"
#include "common/app_fixture.h"
#include "common/mp3decode.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <signal.h>

namespace {

struct SignalCase
{
    const char *name;
    int signalNumber;
};

void PrintTo(const SignalCase &c, std::ostream *os)
{
    *os << c.name;
}

class ShutdownSignalTest : public FormTest, public testing::WithParamInterface<SignalCase>
{
protected:
    void SetUp() override
    {
        build();
        form->EOutFile->setText(QStringLiteral("take.mp3"));
        form->show();
        connect();
    }

    void connect()
    {
        QObject::connect(&shutdown, &TShutdownSignals::received, [this](int n) {
            received.push_back(n);
            closeWindowsForShutdown();
        });
    }

    // The handler's byte is read by the notifier on the next pass of an event loop.
    static void handleEvents()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    TShutdownSignals shutdown;
    std::vector<int> received;
};

sighandler_t currentHandler(int signalNumber)
{
    struct sigaction now{};
    ::sigaction(signalNumber, nullptr, &now);
    return now.sa_handler;
}

} // namespace

TEST_P(ShutdownSignalTest, DuringARecordingClosesTheWindowCompletingTheFile)
{
    ASSERT_TRUE(shutdown.isActive());
    record();
    ASSERT_TRUE(form->FRecording);
    pump(1000);
    const std::uint64_t frames = VirtualWaveIn::framesPumped(form->FWaveIn);
    ASSERT_EQ(::raise(GetParam().signalNumber), 0);
    handleEvents();
    EXPECT_EQ(received, std::vector<int>{GetParam().signalNumber});
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->FRecording);
    EXPECT_FALSE(form->AudioIn1->Capturing);
    // Flushed: the whole second is there, up to the last MP3 frame.
    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GE(mp3.sampleFrames(), frames);
    form.reset();
    EXPECT_TRUE(work.read(QStringLiteral("recorder.ini")).contains("FileName=take.mp3"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_P(ShutdownSignalTest, DismissesAnOpenBoxFirst)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quavrel"), QStringLiteral("something"), QMessageBox::Ok,
                    form.get());
    box.open();
    ASSERT_TRUE(box.isVisible());
    ASSERT_EQ(::raise(GetParam().signalNumber), 0);
    handleEvents();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Rejected);
    EXPECT_FALSE(form->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Shutdown, ShutdownSignalTest,
                         testing::Values(SignalCase{"Term", SIGTERM}, SignalCase{"Interrupt", SIGINT},
                                         SignalCase{"HangUp", SIGHUP}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ShutdownSignals, ASignalIgnoredAtStartStaysIgnoredAndTheOthersGetTheirDefaultBack)
{
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    struct sigaction before{};
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0); // as nohup starts a program
    {
        TShutdownSignals shutdown;
        int received = 0;
        QObject::connect(&shutdown, &TShutdownSignals::received, [&] { ++received; });
        EXPECT_EQ(currentHandler(SIGHUP), SIG_IGN);
        EXPECT_NE(currentHandler(SIGTERM), SIG_DFL);
        ASSERT_EQ(::raise(SIGHUP), 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(received, 0);
    }
    EXPECT_EQ(currentHandler(SIGHUP), SIG_IGN);
    EXPECT_EQ(currentHandler(SIGTERM), SIG_DFL);
    EXPECT_EQ(currentHandler(SIGINT), SIG_DFL);
    ::sigaction(SIGHUP, &before, nullptr);
}
