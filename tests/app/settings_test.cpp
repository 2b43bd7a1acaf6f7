#include "app/settings.h"
#include "common/app_fixture.h"

#include <QComboBox>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <unistd.h>

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
    QStringLiteral("[Format]"),       QStringLiteral("Device=Virtual Mic"), QStringLiteral("SampleRate=44100 Hz"),
    QStringLiteral("Channels=Stereo"), QStringLiteral("Mode=CBR"),          QStringLiteral("Bitrate=128 kbps"),
    QStringLiteral("VBRQuality=5"),    QStringLiteral("Quality=HQ"),        QStringLiteral("[FileOutput]"),
    QStringLiteral("Enabled=1"),       QStringLiteral("TimeStamp=0"),       QStringLiteral("FileName=default.mp3"),
    QStringLiteral("[Db]"),            QStringLiteral("dbMax=0"),           QStringLiteral("dbrec=0"),
    QStringLiteral("dbrec2=0"),        QStringLiteral("dppd=10"),           QStringLiteral("preroll=1500"),
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
        EXPECT_STREQ(e.what(), "Unable to write to ./recorder.ini");
    }
    EXPECT_TRUE(QFileInfo(work.file(QStringLiteral("recorder.ini"))).isDir());
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(SettingsTest, FirstRunKeepsTheDefaultsAndWritesAllFourteenKeysInOrder)
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
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("Unable to write to ./recorder.ini."));
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
