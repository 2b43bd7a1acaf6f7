#include "audio/AudioIO.h"
#include "common/app_fixture.h"
#include "common/encodsignal.h"
#include "common/mp3decode.h"
#include "testing/faults.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

class SessionTest : public FormTest
{
protected:
    void SetUp() override
    {
        build();
        form->EOutFile->setText(QStringLiteral("take.mp3"));
    }

    // Frames the device has delivered to the open session so far.
    std::uint64_t deliveredFrames() const { return VirtualWaveIn::framesPumped(form->FWaveIn); }

    void expectIdle()
    {
        EXPECT_FALSE(form->FRecording);
        EXPECT_TRUE(form->DFBRecordStart->isEnabled());
        EXPECT_FALSE(form->pasue->isEnabled());
        EXPECT_FALSE(form->stop->isEnabled());
        EXPECT_FALSE(form->cont->isVisibleTo(form.get()));
        EXPECT_FALSE(form->InfoTimer->isActive());
    }

    void expectRecording()
    {
        EXPECT_TRUE(form->FRecording);
        EXPECT_FALSE(form->DFBRecordStart->isEnabled());
        EXPECT_TRUE(form->pasue->isEnabled());
        EXPECT_TRUE(form->stop->isEnabled());
        EXPECT_FALSE(form->cont->isVisibleTo(form.get()));
        EXPECT_EQ(state(), QStringLiteral("正在录音..."));
        EXPECT_TRUE(form->InfoTimer->isActive());
        EXPECT_TRUE(form->AudioIn1->Capturing);
    }

    // The decoded file holds the delivered sound after the encoder's and the decoder's delay
    // (576 + 529 sample frames), filled up to a whole MP3 frame at the end. A lost
    // part-filled buffer falls short of that.
    void expectDecodesTo(const QString &name, std::uint64_t frames, int rate, int channels)
    {
        const DecodedMp3 mp3 = decodeMp3File(work.file(name).toStdString());
        ASSERT_TRUE(mp3.ok) << mp3.error;
        EXPECT_EQ(mp3.rate, rate);
        EXPECT_EQ(mp3.channels, channels);
        const std::uint64_t frameSize = rate >= 32000 ? 1152 : 576;
        constexpr std::uint64_t kPadding = 576 + 529;
        EXPECT_GE(mp3.sampleFrames(), frames + kPadding);
        EXPECT_LT(mp3.sampleFrames(), frames + kPadding + frameSize);
    }
};

} // namespace

TEST_F(SessionTest, RecordShowsTheRecordingStateAndStopEndsIt)
{
    record();
    expectRecording();
    EXPECT_EQ(VirtualWaveIn::queuedBuffers(form->FWaveIn), 8u);
    const WAVEFORMATEX format = VirtualWaveIn::format(form->FWaveIn);
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nAvgBytesPerSec, 44100u * 4);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(form->FChunkSamples, 2304u); // one MPEG-1 frame of both channels

    pump(300);
    const std::uint64_t frames = deliveredFrames();
    click(form->stop);
    EXPECT_FALSE(form->FRecording);
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_FALSE(form->AudioIn1->Capturing);
    deliver();
    expectIdle();
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    EXPECT_TRUE(boxes.boxes.empty());
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, EveryRateInMonoAndStereoGivesTheWholeSound)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(440, 8000));
    form->CBitrate->setCurrentIndex(3); // 32 kbps: every MPEG version has it
    for (int rate = 0; rate < form->CSampleRate->count(); ++rate) {
        for (int channels : {0, 1}) {
            SCOPED_TRACE(form->CSampleRate->itemText(rate).toStdString() + (channels ? " stereo" : " mono"));
            form->CSampleRate->setCurrentIndex(rate);
            form->CChannels->setCurrentIndex(channels);
            const QString name = QStringLiteral("rate%1-%2.mp3").arg(rate).arg(channels);
            form->EOutFile->setText(name);
            record();
            ASSERT_TRUE(form->FRecording) << boxes.lastText().toStdString();
            // An uneven amount, so that the last buffer comes back part-filled.
            for (int i = 0; i < 9; ++i)
                pump(37);
            const std::uint64_t frames = deliveredFrames();
            click(form->stop);
            deliver();
            const int hz = QStringView(form->CSampleRate->itemText(rate)).split(u' ').first().toInt();
            expectDecodesTo(name, frames, hz, channels ? 2 : 1);
        }
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SessionTest, TheToneComesThroughTheEncoder)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(1000, 12000));
    record();
    pump(500);
    click(form->stop);
    deliver();
    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok);
    const std::vector<double> left = channelOf(mp3.samples, 2, 0, 2000);
    EXPECT_NEAR(zeroCrossingFrequency(left, 44100), 1000.0, 5.0);
    EXPECT_GT(rms(left), 5000.0);
}

TEST_F(SessionTest, FileOutputOffEncodesButWritesNothing)
{
    form->COutFile->setChecked(false);
    form->COutFileClick();
    record();
    expectRecording();
    EXPECT_FALSE(form->FFileOutput);
    pump(200);
    form->InfoTimerTimer();
    EXPECT_EQ(form->flsize->text(), QStringLiteral("0.0kb"));
    click(form->stop);
    deliver();
    expectIdle();
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SessionTest, AValidChoiceMadeAfterStartUpIsRecorded)
{
    // The start-up check found 48000 Hz with 8 kbps CBR invalid; the list now says 128 kbps.
    form->CSampleRate->setCurrentIndex(8);
    form->CBitrate->setCurrentIndex(0);
    form->EncodeSettingsChange();
    ASSERT_FALSE(form->FSettingsValid);
    form->CBitrate->setCurrentIndex(11);
    record();
    expectRecording();
}

namespace {

// A way for the start to fail, and what the one box must say.
struct StartFailure
{
    const char *name;
    std::function<void(TForm1 &)> arrange;
    const char *boxContains;
    bool monitorAlreadyRunning = true;
};

void PrintTo(const StartFailure &c, std::ostream *os)
{
    *os << c.name;
}


class StartFailureTest : public SessionTest, public testing::WithParamInterface<StartFailure> {};

} // namespace

TEST_P(StartFailureTest, LeavesTheWindowIdleWithOneBoxAndReleasesEverything)
{
    const StartFailure &failure = GetParam();
    work.write(QStringLiteral("take.mp3"), "older take");
    if (failure.monitorAlreadyRunning) {
        ASSERT_TRUE(form->AudioIn1->StartCapture(form->AudioIn1));
        deliver();
    }
    const std::size_t handlesBefore = VirtualWaveIn::handles(0).size();
    failure.arrange(*form);
    click(form->DFBRecordStart);
    VirtualWaveIn::clearFailures();
    deliver();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QString::fromUtf8(failure.boxContains))) << boxes.lastText().toStdString();
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    expectIdle();
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_EQ(VirtualWaveIn::handles(0).size(), handlesBefore);
    EXPECT_EQ(form->AudioIn1->Capturing, failure.monitorAlreadyRunning);
    EXPECT_TRUE(form->FMp3Buffer.empty());
    // The file that was there is untouched, and no new file is left behind.
    EXPECT_EQ(work.read(QStringLiteral("take.mp3")), QByteArray("older take"));
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{QStringLiteral("take.mp3")});

    // Nothing is held on to: the next start works.
    boxes.boxes.clear();
    form->CSampleRate->setCurrentIndex(7);
    form->CBitrate->setCurrentIndex(11);
    form->EOutFile->setText(QStringLiteral("next.mp3"));
    VirtualWaveIn::clearFailures();
    record();
    expectRecording();
}

INSTANTIATE_TEST_SUITE_P(
    Session, StartFailureTest,
    testing::Values(
        StartFailure{"CbrCannotCombine",
                     [](TForm1 &f) {
                         f.CSampleRate->setCurrentIndex(7);
                         f.CBitrate->setCurrentIndex(12); // 144 kbps has no MPEG-1 frame
                     },
                     "144 kbps", false},
        StartFailure{"EncoderRefuses",
                     [](TForm1 &f) {
                         f.CSampleRate->setCurrentIndex(0);
                         f.CBitrate->setCurrentIndex(8); // 80 kbps: no 8000 Hz frame carries it
                     },
                     "MP3"},
        StartFailure{"FileCannotBeCreated",
                     [](TForm1 &f) { f.EOutFile->setText(QStringLiteral("missing/take.mp3")); },
                     "：文件夹不存在，请另选一个文件夹。\nNo such file or directory"},
        StartFailure{"NoFileName", [](TForm1 &f) { f.EOutFile->setText(QString()); }, "文件名"},
        // Pasted with its line break: no file of that name, and the box says why.
        StartFailure{"NameWithALineBreak",
                     [](TForm1 &f) { f.EOutFile->setText(QStringLiteral("line1\nline2.mp3")); },
                     "控制字符"},
        StartFailure{"StampedNameWithATab",
                     [](TForm1 &f) {
                         f.CTimeStamp->setChecked(true);
                         f.EOutFile->setText(QStringLiteral("take\t.mp3"));
                     },
                     "控制字符"},
        StartFailure{"DeviceWillNotOpen",
                     [](TForm1 &) { VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_ALLOCATED); },
                     "Virtual Mic"},
        StartFailure{"DeviceAndMonitorWillNotOpen",
                     [](TForm1 &) { VirtualWaveIn::failNext(WaveInCall::Open, MMSYSERR_ALLOCATED, 2); },
                     "Virtual Mic", false},
        StartFailure{"BufferWillNotPrepare",
                     [](TForm1 &) { VirtualWaveIn::failNext(WaveInCall::Prepare, MMSYSERR_NOMEM); },
                     "Virtual Mic"},
        StartFailure{"BufferWillNotQueue",
                     [](TForm1 &) { VirtualWaveIn::failNext(WaveInCall::AddBuffer, MMSYSERR_NOMEM); },
                     "Virtual Mic"},
        StartFailure{"DeviceWillNotStart",
                     [](TForm1 &) { VirtualWaveIn::failNext(WaveInCall::Start, MMSYSERR_NODRIVER); },
                     "Virtual Mic"},
        StartFailure{"MonitorStartedForTheAttemptIsStoppedAgain",
                     [](TForm1 &f) { f.EOutFile->setText(QStringLiteral("missing/take.mp3")); },
                     "No such file or directory", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SessionTest, AFailedStartAskedForByVoiceControlSwitchesVoiceControlOff)
{
    click(form->Button2);
    ASSERT_TRUE(form->Timer2->isActive());
    form->EOutFile->setText(QStringLiteral("missing/take.mp3"));
    form->DFBRecordStartClick(); // as the voice-control tick calls it
    deliver();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
    expectIdle();
}

TEST_F(SessionTest, AFailedClickLeavesVoiceControlAlone)
{
    click(form->Button2);
    form->EOutFile->setText(QStringLiteral("missing/take.mp3"));
    click(form->DFBRecordStart);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(form->Timer2->isActive());
}

TEST_F(SessionTest, TheSoundOfAPartFilledBufferIsKeptAtTheEnd)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(600, 10000));
    record();
    // A fraction of one chunk only: without the last buffer nothing would be encoded.
    VirtualWaveIn::pumpFrames(form->FWaveIn, 700);
    deliver();
    const std::uint64_t frames = deliveredFrames();
    ASSERT_EQ(frames, 700u);
    click(form->stop);
    deliver();
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, AWriteFailureEndsTheSessionWithOneReportAndKeepsWhatWasWritten)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(800, 12000));
    {
        // The write that crosses 16 KiB fails with EFBIG.
        const FileSizeLimit limit(16 * 1024);
        record();
        for (int i = 0; i < 40 && form->FRecording; ++i)
            pump(100);
    }

    EXPECT_FALSE(form->FRecording);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("\nI/O error %1").arg(EFBIG))) << boxes.lastText().toStdString();
    EXPECT_TRUE(boxes.lastText().endsWith(QLatin1Char('.')));
    deliver();
    expectIdle();
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_FALSE(form->AudioIn1->Capturing);
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    // Everything before the failing write is there and plays.
    EXPECT_EQ(QFileInfo(work.file(QStringLiteral("take.mp3"))).size(), 16 * 1024);
    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GT(mp3.sampleFrames(), 44100u / 2);
}

namespace {

class NothingWrittenTest : public SessionTest, public testing::WithParamInterface<bool> {};

} // namespace

// Every write fails, as on a disk full from the start; the first chunks give no bytes, so the
// end's flush is the first write.
TEST_P(NothingWrittenTest, ReportsOnceAndRemovesOnlyAFileItMade)
{
    const bool existed = GetParam();
    if (existed)
        work.write(QStringLiteral("take.mp3"), "older take");
    {
        const FileSizeLimit full(0);
        record();
        pump(10);
        ASSERT_TRUE(form->FRecording);
        click(form->stop);
    }
    deliver();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("\nI/O error %1").arg(EFBIG))) << boxes.lastText().toStdString();
    expectIdle();
    // An emptied file stays: what it held is gone already, and the name is the user's.
    EXPECT_EQ(work.exists(QStringLiteral("take.mp3")), existed);
    EXPECT_EQ(form->flsize->text(), QStringLiteral("0.0kb"));
}

INSTANTIATE_TEST_SUITE_P(Session, NothingWrittenTest, testing::Bool(),
                         [](const auto &info) { return std::string(info.param ? "OverAnOlderTake" : "NewFile"); });

namespace {

// Opens the FIFO's reading end after three seconds unless it ends first: that frees a window
// stuck in opening the FIFO for writing, so that the test fails instead of hanging.
class FifoRescue
{
public:
    explicit FifoRescue(const QString &path)
        : FThread([native = QFile::encodeName(path)](std::stop_token stop) {
              std::mutex mutex;
              std::condition_variable_any never;
              std::unique_lock lock(mutex);
              never.wait_for(lock, stop, std::chrono::seconds(3), [] { return false; });
              if (stop.stop_requested())
                  return;
              const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
              never.wait(lock, stop, [] { return false; });
              if (fd >= 0)
                  ::close(fd);
          })
    {
    }

private:
    std::jthread FThread;
};

std::shared_ptr<void> makeFifo(const QString &path)
{
    EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0) << std::strerror(errno);
    return nullptr;
}

// A name that is no ordinary file: what puts it there and keeps it as it must be.
struct OddName
{
    const char *name;
    std::function<std::shared_ptr<void>(const QString &path)> make;
};

void PrintTo(const OddName &c, std::ostream *os)
{
    *os << c.name;
}

class OddNameTest : public SessionTest, public testing::WithParamInterface<OddName> {};

} // namespace

TEST_P(OddNameTest, IsRefusedAtOnceWithABoxNamingIt)
{
    const QString path = work.file(QStringLiteral("take.mp3"));
    const std::shared_ptr<void> kept = GetParam().make(path);
    const FifoRescue rescue(path);
    form->show();
    QElapsedTimer took;
    took.start();
    click(form->DFBRecordStart);
    deliver();
    // The window still answers.
    EXPECT_TRUE(form->close());
    EXPECT_LT(took.elapsed(), 1000);
    EXPECT_FALSE(form->isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("“take.mp3”不是普通文件"))) << boxes.lastText().toStdString();
    expectIdle();
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::System), QStringList{QStringLiteral("take.mp3")});
}

INSTANTIATE_TEST_SUITE_P(
    Session, OddNameTest,
    testing::Values(OddName{"FifoNobodyReads", makeFifo},
                    OddName{"FifoWithAReader",
                            [](const QString &path) {
                                makeFifo(path);
                                const int reader = ::open(QFile::encodeName(path).constData(),
                                                          O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                                EXPECT_GE(reader, 0);
                                return std::shared_ptr<void>(nullptr, [reader](void *) { ::close(reader); });
                            }},
                    OddName{"Socket",
                            [](const QString &path) -> std::shared_ptr<void> {
                                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                                sockaddr_un address{};
                                address.sun_family = AF_UNIX;
                                const QByteArray native = QFile::encodeName(path);
                                EXPECT_LT(std::size_t(native.size()), sizeof address.sun_path);
                                std::memcpy(address.sun_path, native.constData(),
                                            std::min(std::size_t(native.size()), sizeof address.sun_path - 1));
                                EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
                                ::close(fd);
                                return nullptr;
                            }},
                    OddName{"Device",
                            [](const QString &path) -> std::shared_ptr<void> {
                                EXPECT_TRUE(QFile::link(QStringLiteral("/dev/full"), path));
                                return nullptr;
                            }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SessionTest, AFifoNamedForAVoiceStartSwitchesVoiceControlOffWithOneBox)
{
    const QString path = work.file(QStringLiteral("take.mp3"));
    makeFifo(path);
    const FifoRescue rescue(path);
    ASSERT_GT(form->SpinEdit3->Value(), 0);
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(-1); // the first tick starts, from the pre-roll's capture
    click(form->Button2);
    QElapsedTimer took;
    took.start();
    form->Timer2Timer();
    deliver();
    EXPECT_LT(took.elapsed(), 1000);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("不是普通文件"))) << boxes.lastText().toStdString();
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
    EXPECT_EQ(form->FCapture, TCapture::Idle);
    expectIdle();
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
}

TEST_F(SessionTest, ATimeStampedNameNeverReplacesAFile)
{
    form->CTimeStamp->setChecked(true);
    // Both minutes the start can fall in are taken already.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (const QDateTime &t : {now, now.addSecs(60)}) {
        const QString name = stampedFileName(QStringLiteral("take.mp3"), t);
        work.write(name, "taken");
        taken << name;
    }
    record();
    pump(100);
    const QString written = form->FOutFile.FileName();
    click(form->stop);
    deliver();
    EXPECT_TRUE(written == numberedFileName(taken[0], 2) || written == numberedFileName(taken[1], 2))
        << written.toStdString();
    for (const QString &name : taken)
        EXPECT_EQ(work.read(name), QByteArray("taken"));
    EXPECT_GT(QFileInfo(work.file(written)).size(), 0);
    EXPECT_FALSE(work.exists(QStringLiteral("take.mp3")));
}

TEST_F(SessionTest, ADeviceThatVanishesEndsTheSessionAndKeepsTheFile)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    pump(400);
    const std::uint64_t frames = deliveredFrames();
    VirtualWaveIn::loseDevice(0);
    deliver();
    EXPECT_FALSE(form->FRecording);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("take.mp3"))) << boxes.lastText().toStdString();
    deliver();
    expectIdle();
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_TRUE(form->FMp3Buffer.empty());
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, ClosingDuringARecordingCompletesTheFileThenSavesTheSettings)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(700, 9000));
    record();
    pump(300);
    click(form->pasue);
    const std::uint64_t frames = deliveredFrames();
    closeAndDestroy();
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
    const QByteArray ini = work.read(QStringLiteral("recorder.ini"));
    EXPECT_TRUE(ini.contains("FileName=take.mp3"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SessionTest, StopAfterNoSessionStillResetsTheControls)
{
    click(form->Button2);
    form->pasue->setEnabled(true);
    form->stop->setEnabled(true);
    click(form->stop);
    expectIdle();
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
}

TEST_F(SessionTest, PlayHandsTheNameOverAsAFileUrlAndRunsNothing)
{
    work.write(QStringLiteral("a;touch x"), "ID3");
    form->EOutFile->setText(QStringLiteral("a;touch x"));
    click(form->SpeedButton5);
    ASSERT_EQ(desktop.urls.size(), 1u);
    EXPECT_TRUE(desktop.urls[0].isLocalFile());
    EXPECT_EQ(desktop.urls[0].toLocalFile(), work.file(QStringLiteral("a;touch x")));
    EXPECT_FALSE(work.exists(QStringLiteral("x")));

    form->EOutFile->setText(QString());
    click(form->SpeedButton5);
    EXPECT_EQ(desktop.urls.size(), 1u);
    EXPECT_EQ(boxes.size(), 1u); // no name to play, and the box says so
}

TEST_F(SessionTest, PlayIsAvailableDuringARecording)
{
    record();
    EXPECT_TRUE(form->SpeedButton5->isEnabled());
    click(form->SpeedButton5);
    ASSERT_EQ(desktop.urls.size(), 1u);
    EXPECT_EQ(desktop.urls[0].toLocalFile(), work.file(QStringLiteral("take.mp3")));
}

// ---- sound held by the device, failures at continue and at close --------------------------

TEST_F(SessionTest, SoundTheDeviceHeldWhileEveryBufferWaitedReachesTheFileAtTheEnd)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    // The window is held up: all eight buffers wait here as notices, and the device keeps
    // the rest in its ring.
    VirtualWaveIn::pump(0, 1500);
    const std::uint64_t frames = deliveredFrames();
    ASSERT_EQ(frames, 44100u * 3 / 2);
    click(form->stop);
    deliver();
    expectIdle();
    EXPECT_TRUE(boxes.boxes.empty());
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, ALostDeviceHandsOverWhatItHeldBeforeTheLoss)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    VirtualWaveIn::pump(0, 1500);
    const std::uint64_t frames = deliveredFrames();
    VirtualWaveIn::loseDevice(0);
    deliver();
    EXPECT_FALSE(form->FRecording);
    ASSERT_EQ(boxes.size(), 1u);
    deliver();
    expectIdle();
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, AContinueTheDeviceRefusesEndsTheSessionWithOneBox)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    pump(400);
    click(form->pasue);
    deliver();
    const std::uint64_t frames = deliveredFrames();
    // The monitor's start fails as well: still one box, the session's.
    VirtualWaveIn::failNext(WaveInCall::Start, MMSYSERR_NODRIVER, 2);
    click(form->cont);
    EXPECT_FALSE(form->FRecording);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("take.mp3"))) << boxes.lastText().toStdString();
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_FALSE(form->AudioIn1->Capturing);
    deliver();
    expectIdle();
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, AStopTheDeviceDoesNotAnswerEndsThePausedSessionWithOneBox)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    pump(400);
    const std::uint64_t frames = deliveredFrames();
    VirtualWaveIn::failNext(WaveInCall::Stop, MMSYSERR_NODRIVER);
    click(form->pasue);
    deliver();
    EXPECT_FALSE(form->FRecording);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("take.mp3"))) << boxes.lastText().toStdString();
    expectIdle();
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

TEST_F(SessionTest, AStopThatIsNotAnsweredStillEndsTheSessionWithTheWholeFile)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    pump(400);
    VirtualWaveIn::pump(0, 300); // held up at the moment of the stop
    const std::uint64_t frames = deliveredFrames();
    // Both the monitor's and the session's.
    VirtualWaveIn::failNext(WaveInCall::Stop, MMSYSERR_NODRIVER, 2);
    click(form->stop);
    deliver();
    expectIdle();
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.lastText().toStdString();
    EXPECT_TRUE(VirtualWaveIn::handles(0).empty());
    expectDecodesTo(QStringLiteral("take.mp3"), frames, 44100, 2);
}

namespace {

// Closes for real, then says what a full quota says only at the close.
int closeOverQuota(int fd)
{
    ::close(fd);
    errno = EDQUOT;
    return -1;
}

struct FailingClose
{
    FailingClose() { setFileCloseFunction(closeOverQuota); }
    ~FailingClose() { setFileCloseFunction(nullptr); }
};

} // namespace

TEST_F(SessionTest, AFailureFoundAtTheCloseIsReportedAsAWriteError)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(500, 9000));
    record();
    pump(400);
    {
        FailingClose failing;
        click(form->stop);
    }
    deliver();
    expectIdle();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("\nI/O error %1").arg(EDQUOT))) << boxes.lastText().toStdString();
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("take.mp3")));
    EXPECT_TRUE(decodeMp3File(work.file(QStringLiteral("take.mp3")).toStdString()).ok);
}

// ---- one file, one recorder -----------------------------------------------------------------

TEST(OutFileLock, ASecondWriterOfTheFileIsRefusedUntilTheFirstCloses)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.mp3"));
    TOutFile first;
    TOutFile second;
    ASSERT_TRUE(first.Create(path));
    first.Write("abc", 3);
    EXPECT_FALSE(second.Create(path));
    EXPECT_EQ(second.errorCode(), EWOULDBLOCK);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(QFileInfo(path).size(), 3) << "the refused writer touched the file";
    EXPECT_TRUE(first.Close());
    EXPECT_TRUE(second.Create(path));
    EXPECT_TRUE(second.Truncate());
}

TEST_F(SessionTest, AFileAnotherRecorderWritesIsLeftToItAndTheTakeGoesToTheNextName)
{
    work.write(QStringLiteral("take.mp3"), "the other recorder's take");
    const QByteArray path = QFile::encodeName(work.file(QStringLiteral("take.mp3")));
    const int other = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    record();
    expectRecording();
    EXPECT_EQ(form->FOutFile.FileName(), QStringLiteral("take-2.mp3"));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(work.read(QStringLiteral("take.mp3")), QByteArray("the other recorder's take"));
    ::close(other);
}

// ---- no take is ever overwritten ------------------------------------------------------------

TEST_F(SessionTest, RecordingAgainUnderATakenNameKeepsEveryTakeWhole)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(700, 9000));
    work.write(QStringLiteral("old.mp3"), "precious");
    // The dialog asks before an existing name is picked; picking it overwrites nothing.
    desktop.answer = work.file(QStringLiteral("old.mp3"));
    click(form->BOutFile);
    ASSERT_EQ(form->EOutFile->text(), work.file(QStringLiteral("old.mp3")));
    std::vector<std::uint64_t> frames;
    for (int take = 2; take <= 3; ++take) {
        record();
        pump(300 * take);
        frames.push_back(deliveredFrames());
        const QString name = work.file(QStringLiteral("old-%1.mp3").arg(take));
        // The window names the file being written, and play opens it.
        EXPECT_TRUE(form->EOutFile->toolTip().contains(name)) << form->EOutFile->toolTip().toStdString();
        click(form->stop);
        deliver();
        click(form->SpeedButton5);
        ASSERT_FALSE(desktop.urls.empty());
        EXPECT_EQ(desktop.urls.back().toLocalFile(), name);
    }
    EXPECT_EQ(work.read(QStringLiteral("old.mp3")), QByteArray("precious"));
    expectDecodesTo(QStringLiteral("old-2.mp3"), frames[0], 44100, 2);
    expectDecodesTo(QStringLiteral("old-3.mp3"), frames[1], 44100, 2);
    // Another name in the field: play opens that one.
    work.write(QStringLiteral("other.mp3"), "other");
    form->EOutFile->setText(QStringLiteral("other.mp3"));
    click(form->SpeedButton5);
    EXPECT_EQ(desktop.urls.back().toLocalFile(), work.file(QStringLiteral("other.mp3")));
    EXPECT_TRUE(boxes.boxes.empty());
}

// ---- the length players show ----------------------------------------------------------------

TEST_F(SessionTest, EveryModeEndsWithATagThatGivesTheRecordedLength)
{
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(700, 9000));
    for (int mode = 0; mode < form->CMode->count(); ++mode) {
        SCOPED_TRACE(form->CMode->itemText(mode).toStdString());
        form->CMode->setCurrentIndex(mode);
        const QString name = QStringLiteral("mode%1.mp3").arg(mode);
        form->EOutFile->setText(name);
        record();
        for (int i = 0; i < 13; ++i)
            pump(97);
        click(form->pasue);
        pump(500);
        click(form->cont);
        pump(333);
        const std::uint64_t frames = deliveredFrames();
        click(form->stop);
        deliver();
        const Mp3Length length = measureMp3Length(work.file(name).toStdString());
        ASSERT_TRUE(length.ok) << length.error;
        EXPECT_EQ(length.reported, static_cast<long long>(frames));
        EXPECT_EQ(length.decoded, frames);
    }
    EXPECT_TRUE(boxes.boxes.empty());
}
