// The output file on a filesystem that fills up mid-recording (a 64 KiB tmpfs of the test's
// own): one error report, the session ended, and what reached the disk still plays.
#include "common/app_fixture.h"
#include "common/mp3decode.h"

#include <QFileInfo>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

class SmallFilesystem
{
public:
    explicit SmallFilesystem(const QString &where) : FPath(where.toStdString())
    {
        QDir().mkpath(where);
        FMounted = ::mount("tmpfs", FPath.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
        FError = FMounted ? 0 : errno;
    }
    ~SmallFilesystem()
    {
        if (FMounted)
            ::umount2(FPath.c_str(), MNT_DETACH);
    }
    bool mounted() const { return FMounted; }
    int error() const { return FError; }

private:
    std::string FPath;
    bool FMounted = false;
    int FError = 0;
};

class DiskFullTest : public FormTest
{
protected:
    // The window recording into a 64 KiB file system of the test's own; false when the test
    // cannot mount one here.
    bool buildOnSmallDisk()
    {
        build();
        small = std::make_unique<SmallFilesystem>(work.file(QStringLiteral("small")));
        if (!small->mounted())
            return false;
        form->EOutFile->setText(QStringLiteral("small/take.mp3"));
        return true;
    }

    // Sound until the session ends; it ends with the one report of the full disk.
    void expectEndedByTheFullDisk()
    {
        for (int i = 0; i < 10 && form->FRecording; ++i)
            pump(100);
        EXPECT_FALSE(form->FRecording);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("\nI/O error %1").arg(ENOSPC))) << boxes.lastText().toStdString();
        deliver();
    }

    std::unique_ptr<SmallFilesystem> small;
};

} // namespace

TEST_F(DiskFullTest, AFilesystemFillingUpEndsTheSessionWithOneReportAndAPlayableFile)
{
    build();
    const SmallFilesystem small(work.file(QStringLiteral("small")));
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(small.error());
    form->EOutFile->setText(QStringLiteral("small/take.mp3"));
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(660, 10000));
    record();
    ASSERT_TRUE(form->FRecording);
    int steps = 0;
    for (; steps < 200 && form->FRecording; ++steps)
        pump(100);
    EXPECT_FALSE(form->FRecording) << "ten seconds at 128 kbps fit in 64 KiB?";
    EXPECT_GT(steps, 20) << "the disk was full before it should have been";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.lastText().startsWith(QStringLiteral("写入文件时出错：磁盘已满"))) << boxes.lastText().toStdString();
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("\nI/O error %1").arg(ENOSPC))) << boxes.lastText().toStdString();
    deliver();
    EXPECT_TRUE(form->DFBRecordStart->isEnabled());
    EXPECT_FALSE(form->stop->isEnabled());
    EXPECT_EQ(form->StatusBar1->panelText(0), TForm1::kStateStopped);
    EXPECT_EQ(boxes.size(), 1u) << "the end reported the fault again";

    // Every frame that reached the disk is whole, but perhaps the very last, and decodes.
    const std::vector<std::uint8_t> bytes = readFileBytes(work.file(QStringLiteral("small/take.mp3")).toStdString());
    ASSERT_GT(bytes.size(), 32u * 1024);
    const Mp3FrameScan scan = scanMp3Frames(bytes);
    ASSERT_FALSE(scan.frames.empty());
    EXPECT_GE(scan.parsedBytes + scan.frames.back().length, bytes.size());
    const DecodedMp3 mp3 = decodeMp3(bytes);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GE(mp3.sampleFrames() + 2 * 1152, (scan.frames.size() - 1) * 1152);
    EXPECT_GT(mp3.sampleFrames(), 44100u * 2);
}

TEST_F(DiskFullTest, AStartOnAFullDiskReportsOnceAndLeavesNoEmptyFile)
{
    if (!buildOnSmallDisk())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(small->error());
    QFile filler(work.file(QStringLiteral("small/filler")));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
    }
    filler.close();
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(660, 10000));
    record();
    expectEndedByTheFullDisk();
    EXPECT_TRUE(form->DFBRecordStart->isEnabled());
    EXPECT_FALSE(work.exists(QStringLiteral("small/take.mp3")));
}

TEST_F(DiskFullTest, ADiskFillingUpDuringThePreRollsFlushLeavesAClockOfWhatTheFileHolds)
{
    if (!buildOnSmallDisk())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(small->error());
    VirtualWaveIn::setSignal(0, VirtualWaveIn::sine(660, 10000));
    form->SpinEdit3->setValue(TForm1::kMaxPreRollMs);
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(40000); // nothing is loud enough yet
    click(form->Button2);
    for (int ms = 100; ms <= 31000; ms += 100) {
        pump(100);
        if (ms % 1000 == 0)
            form->Timer2Timer();
    }
    ASSERT_EQ(form->FCapture, TCapture::PreRolling);
    ASSERT_GT(form->FPreRoll.Milliseconds(), 29000u);
    form->SpinEdit1->setValue(-1);
    form->Timer2Timer(); // 30 s of pre-roll do not fit in 64 KiB
    expectEndedByTheFullDisk();

    const DecodedMp3 mp3 = decodeMp3File(work.file(QStringLiteral("small/take.mp3")).toStdString());
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GT(mp3.sampleFrames(), 44100u * 2);
    // The clock stands at the sound in the file, not at the 30 s that never reached it.
    EXPECT_NEAR(double(form->FEncodedFrames), double(mp3.sampleFrames()), 44100.0 / 2);
    EXPECT_EQ(form->LTimeActive->text(), formatElapsed(std::uint32_t(form->FEncodedFrames / 44100)));
    EXPECT_NE(form->LTimeActive->text(), QStringLiteral("0:00:30"));
}
