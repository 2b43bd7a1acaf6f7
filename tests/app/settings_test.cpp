#include "app/settings.h"
#include "common/app_fixture.h"

#include <QComboBox>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <variant>

namespace {

struct IntegerCase
{
    const char *name;
    const char *text;
    std::optional<int> value;
};

void PrintTo(const IntegerCase &c, std::ostream *os)
{
    *os << c.name;
}


class IniIntegerTest : public testing::TestWithParam<IntegerCase> {};

QStringList keyLines(const QByteArray &ini)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(ini).split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines;
}

class SettingsTest : public FormTest {};

const QStringList kFreshFile{
    QStringLiteral("[Format]"),       QStringLiteral("Device=Virtual Mic"), QStringLiteral("DeviceName=virtual-0"),
    QStringLiteral("SampleRate=44100 Hz"),
    QStringLiteral("Channels=Stereo"), QStringLiteral("Mode=CBR"),          QStringLiteral("Bitrate=128 kbps"),
    QStringLiteral("VBRQuality=5"),    QStringLiteral("Quality=HQ"),        QStringLiteral("[FileOutput]"),
    QStringLiteral("Enabled=1"),       QStringLiteral("TimeStamp=0"),       QStringLiteral("FileName=default.mp3"),
    QStringLiteral("[Db]"),            QStringLiteral("dbMax=0"),           QStringLiteral("dbrec=0"),
    QStringLiteral("dbrec2=0"),        QStringLiteral("dppd=10"),           QStringLiteral("preroll=1500"),
    QStringLiteral("margin=6"),        QStringLiteral("split=0"),
};

// Marks a folder immutable for as long as it lives: no file can be made, renamed or removed in
// it, also by root, while the files already there stay writable.
class ImmutableFolder
{
public:
    explicit ImmutableFolder(const QString &path)
    {
        FFd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (FFd < 0) {
            FWhy = std::strerror(errno);
            return;
        }
        int flags = 0;
        if (::ioctl(FFd, FS_IOC_GETFLAGS, &flags) != 0) {
            FWhy = std::string("no file attributes here: ") + std::strerror(errno);
            return;
        }
        FFlags = flags;
        flags |= FS_IMMUTABLE_FL;
        if (::ioctl(FFd, FS_IOC_SETFLAGS, &flags) != 0) {
            FWhy = std::string("cannot mark a folder immutable: ") + std::strerror(errno);
            return;
        }
        FSet = true;
    }
    ~ImmutableFolder()
    {
        if (FSet)
            ::ioctl(FFd, FS_IOC_SETFLAGS, &FFlags);
        if (FFd >= 0)
            ::close(FFd);
    }
    ImmutableFolder(const ImmutableFolder &) = delete;
    ImmutableFolder &operator=(const ImmutableFolder &) = delete;

    bool set() const { return FSet; }
    const std::string &why() const { return FWhy; }

private:
    int FFd = -1;
    int FFlags = 0;
    bool FSet = false;
    std::string FWhy;
};

// How a folder comes to refuse new files while recorder.ini in it stays writable.
enum class LockedFolder { Immutable, ReadOnlyToAnOrdinaryUser };

struct LockedFolderCase
{
    const char *name;
    LockedFolder how;
};

void PrintTo(const LockedFolderCase &c, std::ostream *os)
{
    *os << c.name;
}

class LockedFolderTest : public testing::TestWithParam<LockedFolderCase> {};

// Runs `save` in a child process as the user nobody, which permissions do stop. Returns the
// child's status: 0 saved, 1 the save raised its error; or the reason it could not be run.
std::variant<int, std::string> saveAsNobody(const QString &folder, const std::function<void()> &save)
{
    const QByteArray path = QFile::encodeName(folder);
    const pid_t child = ::fork();
    if (child < 0)
        return std::string("fork: ") + std::strerror(errno);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        if (::chdir(path.constData()) != 0)
            ::_exit(4);
        try {
            save();
        } catch (const SettingsWriteError &) {
            ::_exit(1);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status))
        return std::string("the child did not exit");
    switch (WEXITSTATUS(status)) {
    case 3: return std::string("cannot become the user nobody");
    case 4: return std::string("the user nobody cannot enter ") + path.toStdString();
    default: return WEXITSTATUS(status);
    }
}

QByteArray withBom(const QString &text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

struct EncodingCase
{
    const char *name;
    QStringConverter::Encoding encoding;
    QByteArray bom;
};

void PrintTo(const EncodingCase &c, std::ostream *os)
{
    *os << c.name;
}

class IniEncodingTest : public testing::TestWithParam<EncodingCase>
{
protected:
    // The file's text after its byte-order mark, which must be the one it was read with.
    static QString decoded(const QByteArray &bytes)
    {
        EXPECT_TRUE(bytes.startsWith(GetParam().bom)) << bytes.left(4).toHex().toStdString();
        QStringDecoder decoder(GetParam().encoding);
        const QString text = decoder(bytes.sliced(GetParam().bom.size()));
        EXPECT_FALSE(decoder.hasError());
        return text;
    }
};

} // namespace

TEST_P(IniIntegerTest, ReadsAsTheFileStoresIt)
{
    EXPECT_EQ(parseIniInteger(QString::fromUtf8(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IniIntegerTest,
    testing::Values(IntegerCase{"Decimal", "12", 12}, IntegerCase{"LeadingSpaces", "   12", 12},
                    IntegerCase{"Negative", "-5", -5}, IntegerCase{"Plus", "+7", 7},
                    IntegerCase{"HexPrefix", "0x1F", 31}, IntegerCase{"HexUpperPrefix", "0X10", 16},
                    IntegerCase{"Dollar", "$1f", 31}, IntegerCase{"NegativeHex", "-$10", -16},
                    IntegerCase{"HexAllBits", "0xFFFFFFFF", -1}, IntegerCase{"HexTooLong", "0x100000000", std::nullopt},
                    IntegerCase{"Largest", "2147483647", 2147483647}, IntegerCase{"Overflow", "2147483648", std::nullopt},
                    IntegerCase{"Smallest", "-2147483648", INT32_MIN}, IntegerCase{"Empty", "", std::nullopt},
                    IntegerCase{"Word", "yes", std::nullopt}, IntegerCase{"TrailingJunk", "12abc", std::nullopt},
                    IntegerCase{"TrailingSpace", "12 ", std::nullopt}, IntegerCase{"SignOnly", "-", std::nullopt},
                    IntegerCase{"PrefixOnly", "0x", std::nullopt}, IntegerCase{"FullWidthDigits", "１２", std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SelectByText, MatchesTheWholeTextIgnoringCaseAndLeavesTheSelectionOtherwise)
{
    QComboBox combo;
    combo.addItems({QStringLiteral("44100 Hz"), QStringLiteral("48000 Hz"), QStringLiteral("44100 HZ")});
    combo.setCurrentIndex(1);
    int changes = 0;
    QObject::connect(&combo, &QComboBox::currentIndexChanged, [&] { ++changes; });
    SelectByText(&combo, QStringLiteral("44100"));
    EXPECT_EQ(combo.currentIndex(), 1);
    SelectByText(&combo, QString());
    EXPECT_EQ(combo.currentIndex(), 1);
    SelectByText(&combo, QStringLiteral("44100 hz"));
    EXPECT_EQ(combo.currentIndex(), 0); // the first match
    EXPECT_EQ(changes, 0);              // selecting runs no handler
}

TEST(IniFile, ReadsDefaultsForWhatIsMissingAndCreatesNothing)
{
    WorkDir work;
    const IniFile ini(QStringLiteral("./recorder.ini"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Format"), QStringLiteral("Device"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Db"), QStringLiteral("dppd"), 10), 10);
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("FileOutput"), QStringLiteral("Enabled"), true));
    EXPECT_FALSE(work.exists(QStringLiteral("recorder.ini")));
}

TEST(IniFile, NamesMatchWithoutCaseAndAnEmptyValueIsNotTheDefault)
{
    WorkDir work;
    work.write(QStringLiteral("recorder.ini"), "[format]\nsamplerate=48000 Hz\nDevice=\n[FILEOUTPUT]\nENABLED=2\n");
    const IniFile ini(QStringLiteral("./recorder.ini"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Format"), QStringLiteral("SampleRate"), {}), QStringLiteral("48000 Hz"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Format"), QStringLiteral("Device"), QStringLiteral("x")), QString());
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("FileOutput"), QStringLiteral("Enabled"), false));
}

TEST(IniFile, LongValuesAreCutTo2047Characters)
{
    WorkDir work;
    work.write(QStringLiteral("recorder.ini"), "[FileOutput]\nFileName=" + QByteArray(3000, 'x') + "\n");
    const IniFile ini(QStringLiteral("./recorder.ini"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("FileOutput"), QStringLiteral("FileName"), {}).size(), 2047);
}

TEST(IniFile, SaveKeepsUnknownContentAndWritesUtf8)
{
    WorkDir work;
    work.write(QStringLiteral("recorder.ini"),
               "; written by hand\n[Mine]\nkeep=this\n\n[Format]\n; the device\nDevice=Old\nExtra=1\n");
    {
        IniFile ini(QStringLiteral("./recorder.ini"));
        ini.WriteString(QStringLiteral("Format"), QStringLiteral("device"), QStringLiteral("麦克风 (USB)"));
        ini.WriteInteger(QStringLiteral("Db"), QStringLiteral("dbMax"), -5);
        ini.UpdateFile();
    }
    const QByteArray text = work.read(QStringLiteral("recorder.ini"));
    EXPECT_TRUE(text.contains("; written by hand"));
    EXPECT_TRUE(text.contains("keep=this"));
    EXPECT_TRUE(text.contains("Extra=1"));
    EXPECT_TRUE(text.contains("; the device"));
    EXPECT_TRUE(text.contains(QStringLiteral("Device=麦克风 (USB)").toUtf8()));
    EXPECT_TRUE(text.contains("[Db]\ndbMax=-5"));
    EXPECT_FALSE(text.startsWith("\xEF\xBB\xBF")); // no byte-order mark
    const IniFile again(QStringLiteral("./recorder.ini"));
    EXPECT_EQ(again.ReadString(QStringLiteral("Format"), QStringLiteral("Device"), {}), QStringLiteral("麦克风 (USB)"));
}

TEST(IniFile, SaveReplacesTheFileWholeThroughATemporaryBesideIt)
{
    WorkDir work;
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=Old\n");
    struct stat before{};
    ASSERT_EQ(::stat("recorder.ini", &before), 0);
    {
        IniFile ini(QStringLiteral("./recorder.ini"));
        ini.WriteString(QStringLiteral("Format"), QStringLiteral("Device"), QStringLiteral("New"));
        ini.UpdateFile();
    }
    struct stat after{};
    ASSERT_EQ(::stat("recorder.ini", &after), 0);
    // A new file took the old one's place by a rename; nothing else is left in the folder.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("recorder.ini")});
}

TEST(IniFile, AFailedSaveRaisesTheErrorAndLeavesTheOldFile)
{
    WorkDir work;
    // A folder in the file's place cannot be replaced by a file, whoever we run as.
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("recorder.ini")));
    IniFile ini(QStringLiteral("./recorder.ini"));
    ini.WriteString(QStringLiteral("Format"), QStringLiteral("Device"), QStringLiteral("New"));
    try {
        ini.UpdateFile();
        FAIL() << "no error";
    } catch (const SettingsWriteError &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).endsWith(QStringLiteral("\nUnable to write to ./recorder.ini"))) << e.what();
    }
    EXPECT_TRUE(QFileInfo(work.file(QStringLiteral("recorder.ini"))).isDir());
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_P(LockedFolderTest, AWritableFileIsWrittenInPlace)
{
    WorkDir work;
    work.write(QStringLiteral("recorder.ini"), "[Mine]\nkeep=this\n[Format]\nDevice=Old\n");
    struct stat before{};
    ASSERT_EQ(::stat("recorder.ini", &before), 0);
    auto save = [] {
        IniFile ini(QStringLiteral("./recorder.ini"));
        ini.WriteString(QStringLiteral("Format"), QStringLiteral("Device"), QStringLiteral("New"));
        ini.UpdateFile();
    };
    if (GetParam().how == LockedFolder::Immutable) {
        const ImmutableFolder locked(work.path());
        if (!locked.set())
            GTEST_SKIP() << locked.why();
        save();
    } else {
        const QByteArray folder = QFile::encodeName(work.path());
        ASSERT_EQ(::chmod("recorder.ini", 0666), 0);
        ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
        if (::geteuid() != 0) {
            save();
        } else {
            const auto result = saveAsNobody(work.path(), save);
            ::chmod(folder.constData(), 0700);
            if (const auto *why = std::get_if<std::string>(&result))
                GTEST_SKIP() << *why;
            ASSERT_EQ(std::get<int>(result), 0) << "the save failed";
        }
        ::chmod(folder.constData(), 0700);
    }
    struct stat after{};
    ASSERT_EQ(::stat("recorder.ini", &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino); // the same file, not a replacement
    EXPECT_EQ(keyLines(work.read(QStringLiteral("recorder.ini"))),
              (QStringList{QStringLiteral("[Mine]"), QStringLiteral("keep=this"), QStringLiteral("[Format]"),
                           QStringLiteral("Device=New")}));
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("recorder.ini")});
}

INSTANTIATE_TEST_SUITE_P(Settings, LockedFolderTest,
                         testing::Values(LockedFolderCase{"ImmutableFolder", LockedFolder::Immutable},
                                         LockedFolderCase{"ReadOnlyFolderForAnOrdinaryUser",
                                                          LockedFolder::ReadOnlyToAnOrdinaryUser}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(IniFile, AFolderThatTakesNoNewFileAndHoldsNoneStillRaisesTheError)
{
    WorkDir work;
    const ImmutableFolder locked(work.path());
    if (!locked.set())
        GTEST_SKIP() << locked.why();
    IniFile ini(QStringLiteral("./recorder.ini"));
    ini.WriteString(QStringLiteral("Format"), QStringLiteral("Device"), QStringLiteral("New"));
    EXPECT_THROW(ini.UpdateFile(), SettingsWriteError);
    EXPECT_FALSE(work.exists(QStringLiteral("recorder.ini")));
}

TEST(IniFile, AWriteThatRunsOutOfRoomLeavesTheOldFileWhole)
{
    WorkDir work;
    const QByteArray old = "[Format]\nDevice=Old\n";
    work.write(QStringLiteral("recorder.ini"), old);
    // A file size limit fails writes past it (EFBIG), as a full disk does, also for root.
    struct rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const sighandler_t previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        IniFile ini(QStringLiteral("./recorder.ini"));
        ini.WriteString(QStringLiteral("FileOutput"), QStringLiteral("FileName"), QString(500, QLatin1Char('n')));
        ini.UpdateFile();
    } catch (const SettingsWriteError &) {
        raised = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, previous);
    EXPECT_TRUE(raised);
    EXPECT_EQ(work.read(QStringLiteral("recorder.ini")), old);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("recorder.ini")});
}

TEST_P(IniEncodingTest, IsReadAndSavedInTheEncodingOfItsByteOrderMark)
{
    WorkDir work;
    // As a Windows editor leaves it: line ends of two characters, Chinese text.
    work.write(QStringLiteral("recorder.ini"),
               withBom(QStringLiteral("; 我的设置\r\n[Format]\r\nSampleRate=22050 Hz\r\nDevice=麦克风 (USB)\r\n"
                                      "[Mine]\r\nkeep=这个\r\n"),
                       GetParam().encoding));
    {
        IniFile ini(QStringLiteral("./recorder.ini"));
        EXPECT_EQ(ini.ReadString(QStringLiteral("Format"), QStringLiteral("SampleRate"), {}), QStringLiteral("22050 Hz"));
        EXPECT_EQ(ini.ReadString(QStringLiteral("Format"), QStringLiteral("Device"), {}), QStringLiteral("麦克风 (USB)"));
        ini.WriteString(QStringLiteral("FileOutput"), QStringLiteral("FileName"), QStringLiteral("录音.mp3"));
        ini.UpdateFile();
    }
    const QStringList lines = decoded(work.read(QStringLiteral("recorder.ini"))).split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("; 我的设置")));
    EXPECT_TRUE(lines.contains(QStringLiteral("SampleRate=22050 Hz")));
    EXPECT_TRUE(lines.contains(QStringLiteral("keep=这个")));
    EXPECT_TRUE(lines.contains(QStringLiteral("FileName=录音.mp3")));
    const IniFile again(QStringLiteral("./recorder.ini"));
    EXPECT_EQ(again.ReadString(QStringLiteral("FileOutput"), QStringLiteral("FileName"), {}), QStringLiteral("录音.mp3"));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IniEncodingTest,
    testing::Values(EncodingCase{"Utf16LittleEndian", QStringConverter::Utf16LE, QByteArray("\xFF\xFE")},
                    EncodingCase{"Utf16BigEndian", QStringConverter::Utf16BE, QByteArray("\xFE\xFF")},
                    EncodingCase{"Utf8WithItsMark", QStringConverter::Utf8, QByteArray("\xEF\xBB\xBF")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(IniFile, ALineBreakInAValueStaysInsideItsLine)
{
    WorkDir work;
    {
        IniFile ini(QStringLiteral("./recorder.ini"));
        ini.WriteString(QStringLiteral("FileOutput"), QStringLiteral("FileName"),
                        QStringLiteral("take.mp3\n[Db]\r\ndbMax=99") + QChar(0) + QStringLiteral("x"));
        ini.UpdateFile();
    }
    const IniFile ini(QStringLiteral("./recorder.ini"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("FileOutput"), QStringLiteral("FileName"), {}),
              QStringLiteral("take.mp3 [Db]  dbMax=99 x"));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Db"), QStringLiteral("dbMax"), 0), 0);
}

TEST_F(SettingsTest, FirstRunKeepsTheDefaultsAndWritesEveryKeyInOrder)
{
    build();
    EXPECT_EQ(form->CDevices->currentText(), QStringLiteral("Virtual Mic"));
    EXPECT_EQ(form->CSampleRate->currentText(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(form->CChannels->currentText(), QStringLiteral("Stereo"));
    EXPECT_EQ(form->CMode->currentText(), QStringLiteral("CBR"));
    EXPECT_EQ(form->CBitrate->currentText(), QStringLiteral("128 kbps"));
    EXPECT_EQ(form->CQuality->currentText(), QStringLiteral("HQ"));
    EXPECT_TRUE(form->FSettingsValid);
    EXPECT_FALSE(work.exists(QStringLiteral("recorder.ini")));
    closeAndDestroy();
    EXPECT_EQ(keyLines(work.read(QStringLiteral("recorder.ini"))), kFreshFile);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SettingsTest, StoredValuesAreReadBackWithTheirEncodings)
{
    work.write(QStringLiteral("recorder.ini"),
               "[Format]\nSampleRate=22050 hz\nChannels=mono\nMode=VBR\nBitrate=64 KBPS\nVBRQuality=20\n"
               "Quality=lq\n[FileOutput]\nEnabled=0\nTimeStamp=2\nFileName=\n"
               "[Db]\ndbMax=-5\ndbrec=yes\ndbrec2=1\ndppd=0x3\n");
    build();
    EXPECT_EQ(form->CSampleRate->currentText(), QStringLiteral("22050 Hz"));
    EXPECT_EQ(form->CChannels->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(form->CMode->currentText(), QStringLiteral("VBR"));
    EXPECT_EQ(form->CBitrate->currentText(), QStringLiteral("64 kbps"));
    EXPECT_EQ(form->CVBRQuality->value(), 9);
    EXPECT_EQ(form->CQuality->currentText(), QStringLiteral("LQ"));
    EXPECT_FALSE(form->COutFile->isChecked());
    EXPECT_FALSE(form->EOutFile->isEnabled());
    EXPECT_FALSE(form->CTimeStamp->isEnabled());
    EXPECT_TRUE(form->CTimeStamp->isChecked());
    EXPECT_EQ(form->EOutFile->text(), QString());
    EXPECT_EQ(form->SpinEdit1->Value(), -5);
    EXPECT_FALSE(form->CheckBox1->isChecked()); // "yes" is no number: the default stays
    EXPECT_TRUE(form->CheckBox2->isChecked());
    EXPECT_EQ(form->SpinEdit2->Value(), 3);
    closeAndDestroy();
    const QStringList lines = keyLines(work.read(QStringLiteral("recorder.ini")));
    EXPECT_TRUE(lines.contains(QStringLiteral("VBRQuality=9")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Enabled=0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dbMax=-5")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dbrec=0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dppd=3")));
    EXPECT_TRUE(lines.contains(QStringLiteral("FileName=")));
}

TEST_F(SettingsTest, UnmatchedOrEmptyTextsLeaveTheDefaults)
{
    work.write(QStringLiteral("recorder.ini"),
               "[Format]\nDevice=Gone Mic\nSampleRate=44100\nChannels=\nMode=MP3\nVBRQuality=-3\n");
    build();
    EXPECT_EQ(form->CDevices->currentIndex(), 0);
    EXPECT_EQ(form->CSampleRate->currentText(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(form->CChannels->currentText(), QStringLiteral("Stereo"));
    EXPECT_EQ(form->CMode->currentText(), QStringLiteral("CBR"));
    EXPECT_EQ(form->CVBRQuality->value(), 0);
    closeAndDestroy();
    // The device that is gone is replaced by the one now selected.
    EXPECT_TRUE(keyLines(work.read(QStringLiteral("recorder.ini"))).contains(QStringLiteral("Device=Virtual Mic")));
}

TEST_F(SettingsTest, TheStoredDeviceIsChosenByNameAndTwinsGiveTheFirst)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nDevice=usb mic\n");
    build({"Line In", "USB Mic", "USB Mic"});
    EXPECT_EQ(form->CDevices->currentIndex(), 1);
}

TEST_F(SettingsTest, AnInvalidStoredChoiceMakesTheSettingsInvalid)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nSampleRate=48000 Hz\nMode=CBR\nBitrate=8 kbps\n");
    build();
    EXPECT_FALSE(form->FSettingsValid);
}

TEST_F(SettingsTest, UnknownKeysAndSectionsSurviveTheProgram)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nMine=1\n[Other]\nx=y\n");
    build();
    closeAndDestroy();
    const QStringList lines = keyLines(work.read(QStringLiteral("recorder.ini")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Mine=1")));
    EXPECT_TRUE(lines.contains(QStringLiteral("[Other]")));
    EXPECT_TRUE(lines.contains(QStringLiteral("x=y")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dppd=10")));
}

TEST_F(SettingsTest, AnUnwritableFileGivesOneErrorBoxAtExit)
{
    build();
    if (::geteuid() == 0) {
        // Permissions do not stop root; a folder in the file's place does.
        ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("recorder.ini")));
    } else {
        ASSERT_EQ(::chmod(work.path().toLocal8Bit().constData(), 0555), 0);
    }
    closeAndDestroy();
    ::chmod(work.path().toLocal8Bit().constData(), 0755);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Quavrel"));
    // What to do in Chinese first, then the error itself.
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("无法保存设置文件：请让当前文件夹可以写入"))) << boxes.lastText().toStdString();
    EXPECT_TRUE(boxes.boxes[0].text.endsWith(QStringLiteral("\nUnable to write to ./recorder.ini."))) << boxes.lastText().toStdString();
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
}

TEST_F(SettingsTest, ChoosingAFileTurnsFileOutputOnAndRechecksTheSettings)
{
    work.write(QStringLiteral("recorder.ini"), "[Format]\nSampleRate=48000 Hz\nBitrate=8 kbps\n[FileOutput]\nEnabled=0\n");
    build();
    EXPECT_FALSE(form->FSettingsValid);
    EXPECT_FALSE(form->EOutFile->isEnabled());
    form->CBitrate->setCurrentIndex(11);
    desktop.answer = work.file(QStringLiteral("chosen.mp3"));
    click(form->BOutFile);
    EXPECT_EQ(form->EOutFile->text(), desktop.answer);
    EXPECT_EQ(form->EOutFile->cursorPosition(), desktop.answer.size());
    EXPECT_TRUE(form->COutFile->isChecked());
    EXPECT_TRUE(form->EOutFile->isEnabled());
    EXPECT_TRUE(form->CTimeStamp->isEnabled());
    EXPECT_TRUE(form->FSettingsValid);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].title, QStringLiteral("保存为..."));
    EXPECT_EQ(desktop.dialogs[0].selectedFile, QString()); // not the edit's text

    desktop.answer.clear(); // cancelled: nothing changes
    form->COutFile->setChecked(false);
    click(form->BOutFile);
    EXPECT_FALSE(form->COutFile->isChecked());
    EXPECT_EQ(form->EOutFile->text(), work.file(QStringLiteral("chosen.mp3")));
    EXPECT_EQ(desktop.dialogs[1].selectedFile, work.file(QStringLiteral("chosen.mp3")));
}

TEST_F(SettingsTest, AFolderThatTakesNoNewFileStillGetsTheSettingsAtExit)
{
    work.write(QStringLiteral("recorder.ini"), "[FileOutput]\nFileName=old.mp3\n");
    build();
    form->EOutFile->setText(QStringLiteral("typed.mp3"));
    {
        const ImmutableFolder locked(work.path());
        if (!locked.set())
            GTEST_SKIP() << locked.why();
        closeAndDestroy();
    }
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.lastText().toStdString();
    const QStringList lines = keyLines(work.read(QStringLiteral("recorder.ini")));
    EXPECT_EQ(lines.size(), kFreshFile.size());
    EXPECT_TRUE(lines.contains(QStringLiteral("FileName=typed.mp3")));
}

TEST_F(SettingsTest, AUtf16FileIsReadAndWrittenBackAsUtf16)
{
    work.write(QStringLiteral("recorder.ini"),
               withBom(QStringLiteral("[Format]\r\nSampleRate=22050 Hz\r\n[FileOutput]\r\nFileName=会议.mp3\r\n"
                                      "[Db]\r\ndppd=3\r\n"),
                       QStringConverter::Utf16LE));
    build();
    EXPECT_EQ(form->CSampleRate->currentText(), QStringLiteral("22050 Hz"));
    EXPECT_EQ(form->EOutFile->text(), QStringLiteral("会议.mp3"));
    EXPECT_EQ(form->SpinEdit2->Value(), 3);
    closeAndDestroy();
    const QByteArray bytes = work.read(QStringLiteral("recorder.ini"));
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    QStringDecoder decoder(QStringConverter::Utf16LE);
    const QStringList lines = keyLines(QString(decoder(bytes.sliced(2))).toUtf8());
    EXPECT_EQ(lines.size(), kFreshFile.size());
    EXPECT_TRUE(lines.contains(QStringLiteral("SampleRate=22050 Hz")));
    EXPECT_TRUE(lines.contains(QStringLiteral("FileName=会议.mp3")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dppd=3")));
}

TEST_F(SettingsTest, ANameWithALineBreakIsKeptOnItsOwnLine)
{
    build();
    form->EOutFile->setText(QStringLiteral("line1\nline2.mp3"));
    closeAndDestroy();
    const QStringList lines = keyLines(work.read(QStringLiteral("recorder.ini")));
    EXPECT_EQ(lines.size(), kFreshFile.size());
    EXPECT_TRUE(lines.contains(QStringLiteral("FileName=line1 line2.mp3")));
    EXPECT_FALSE(lines.contains(QStringLiteral("line2.mp3")));
}

TEST_F(SettingsTest, ThePreRollIsKeptAndAnOlderFileWithoutItGetsTheDefault)
{
    work.write(QStringLiteral("recorder.ini"), "[Db]\ndbMax=700\ndppd=3\n");
    build();
    EXPECT_EQ(form->SpinEdit3->Value(), 1500);
    form->SpinEdit3->setValue(0);
    closeAndDestroy();
    const QStringList lines = keyLines(work.read(QStringLiteral("recorder.ini")));
    EXPECT_TRUE(lines.contains(QStringLiteral("preroll=0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dbMax=700")));
    EXPECT_TRUE(lines.contains(QStringLiteral("dppd=3")));

    build();
    EXPECT_EQ(form->SpinEdit3->Value(), 0); // 0 stays off
}

TEST_F(SettingsTest, MarginAndSplitAreKeptAndAnOlderFileGetsTheirDefaults)
{
    work.write(QStringLiteral("recorder.ini"), "[Db]\ndbMax=700\npreroll=900\n");
    build();
    EXPECT_EQ(form->SpinEdit4->Value(), 6);
    EXPECT_FALSE(form->CheckBox3->isChecked());
    EXPECT_EQ(form->SpinEdit1->Value(), 700); // the captured noise is read as it was
    form->SpinEdit4->setValue(0);
    form->CheckBox3->setChecked(true);
    closeAndDestroy();
    const QStringList lines = keyLines(work.read(QStringLiteral("recorder.ini")));
    EXPECT_TRUE(lines.contains(QStringLiteral("margin=0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("split=1")));
    EXPECT_TRUE(lines.contains(QStringLiteral("preroll=900")));

    build();
    EXPECT_EQ(form->SpinEdit4->Value(), 0);
    EXPECT_TRUE(form->CheckBox3->isChecked());
}
