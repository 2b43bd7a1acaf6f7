#include "app/application.h"
#include "app/devicename.h"
#include "app/dialogs.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>

TEST(ErrorReport, AppendsAFullStopOnlyWhenMissing)
{
    EXPECT_EQ(errorReportText(QStringLiteral("Unable to write to ./recorder.ini")),
              QStringLiteral("Unable to write to ./recorder.ini."));
    EXPECT_EQ(errorReportText(QStringLiteral("File access denied.")), QStringLiteral("File access denied."));
    EXPECT_EQ(errorReportText(QStringLiteral("写入失败。")), QStringLiteral("写入失败。"));
}

TEST(ErrorReport, ShowsAnErrorBoxTitledWithTheApplication)
{
    std::vector<MessageBoxRequest> boxes;
    const auto previous = setMessageBoxHandler([&](const MessageBoxRequest &r) { boxes.push_back(r); });
    runHandler([] { throw std::runtime_error("I/O error 28"); });
    setMessageBoxHandler(previous);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, QStringLiteral("Quavrel"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("I/O error 28."));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
}

TEST(SaveDialog, FilterBecomesQtForm)
{
    EXPECT_EQ(TSaveDialog::qtFilter(QStringLiteral("*.mp3|*.mp3")), QStringLiteral("*.mp3 (*.mp3)"));
    EXPECT_EQ(TSaveDialog::qtFilter(QStringLiteral("MP3|*.mp3|All|*.*")), QStringLiteral("MP3 (*.mp3);;All (*.*)"));
}

TEST(SaveDialog, ExecuteKeepsTheChosenNameAndOpensWithItNextTime)
{
    TSaveDialog dialog(nullptr);
    dialog.DefaultExt = QStringLiteral("mp3");
    dialog.Filter = QStringLiteral("*.mp3|*.mp3");
    dialog.Title = QStringLiteral("保存为...");
    std::vector<SaveDialogRequest> seen;
    QString answer = QStringLiteral("/tmp/a.mp3");
    const auto previous = setSaveDialogHandler([&](const SaveDialogRequest &r) {
        seen.push_back(r);
        return answer;
    });
    EXPECT_TRUE(dialog.Execute(nullptr));
    answer.clear();
    EXPECT_FALSE(dialog.Execute(nullptr));
    setSaveDialogHandler(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].selectedFile, QString());
    EXPECT_EQ(seen[0].title, QStringLiteral("保存为..."));
    EXPECT_EQ(seen[0].defaultSuffix, QStringLiteral("mp3"));
    EXPECT_EQ(seen[0].nameFilter, QStringLiteral("*.mp3 (*.mp3)"));
    EXPECT_TRUE(seen[0].confirmOverwrite);
    EXPECT_EQ(seen[1].selectedFile, QStringLiteral("/tmp/a.mp3"));
    EXPECT_EQ(dialog.FileName, QStringLiteral("/tmp/a.mp3")); // a cancel keeps it
}

namespace {

struct NameCase
{
    const char *name;
    QByteArray field; // up to 32 bytes, NUL-padded when shorter
    QString expected;
};

void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << c.name;
}


class DeviceNameTest : public testing::TestWithParam<NameCase> {};

} // namespace

TEST_P(DeviceNameTest, TakesUpToThirtyTwoBytesWithoutCuttingACharacter)
{
    char field[32] = {};
    std::memcpy(field, GetParam().field.constData(), size_t(std::min<qsizetype>(32, GetParam().field.size())));
    EXPECT_EQ(deviceProductName(field, sizeof field), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceNames, DeviceNameTest,
    testing::Values(
        NameCase{"ShortName", "PipeSource", QStringLiteral("PipeSource")},
        NameCase{"AllThirtyTwoWithoutNul", QByteArray(32, 'M'), QString(32, QLatin1Char('M'))},
        NameCase{"StopsAtTheFirstNul", QByteArray("Mic\0junk", 8), QStringLiteral("Mic")},
        NameCase{"ChineseWhole", QStringLiteral("麦克风").toUtf8(), QStringLiteral("麦克风")},
        // 30 ASCII bytes then a 3-byte character of which only 2 fit.
        NameCase{"ThreeByteCharacterCut", QByteArray(30, 'a') + QStringLiteral("风").toUtf8().left(2),
                 QString(30, QLatin1Char('a'))},
        // 31 bytes then the lead byte of a 2-byte character.
        NameCase{"TwoByteCharacterCut", QByteArray(31, 'b') + QStringLiteral("é").toUtf8().left(1),
                 QString(31, QLatin1Char('b'))},
        // 29 ASCII bytes and a whole 3-byte character fill the field exactly.
        NameCase{"ThreeByteCharacterFitsExactly", QByteArray(29, 'c') + QStringLiteral("风").toUtf8(),
                 QString(29, QLatin1Char('c')) + QStringLiteral("风")},
        NameCase{"FourByteCharacterCut", QByteArray(29, 'd') + QStringLiteral("😀").toUtf8().left(3),
                 QString(29, QLatin1Char('d'))}),
    [](const auto &info) { return std::string(info.param.name); });
