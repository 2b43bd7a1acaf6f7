#include "common/app_fixture.h"
#include "engine/clock.h"
#include "engine/session.h"

#include <QFile>

#include <cstring>

namespace {

struct StampCase
{
    const char *name;
    QString file;
    QString stamped;
};

void PrintTo(const StampCase &c, std::ostream *os)
{
    *os << c.name;
}


class StampTest : public testing::TestWithParam<StampCase> {};

const QDateTime kAt{QDate(2026, 12, 8), QTime(14, 5, 59)};

} // namespace

TEST_P(StampTest, GoesBeforeTheExtensionOfTheLastPart)
{
    EXPECT_EQ(stampedFileName(GetParam().file, kAt), GetParam().stamped);
}

INSTANTIATE_TEST_SUITE_P(
    Names, StampTest,
    testing::Values(
        StampCase{"DriveAndFolder", QStringLiteral("D:\\rec\\talk.mp3"), QStringLiteral("D:\\rec\\talk-2026-12-08-14-05.mp3")},
        StampCase{"NoExtension", QStringLiteral("talk"), QStringLiteral("talk-2026-12-08-14-05")},
        StampCase{"DotInFolderBackslash", QStringLiteral("D:\\my.rec\\talk"), QStringLiteral("D:\\my.rec\\talk-2026-12-08-14-05")},
        StampCase{"DotInFolderSlash", QStringLiteral("/home/u/my.rec/talk"), QStringLiteral("/home/u/my.rec/talk-2026-12-08-14-05")},
        StampCase{"SlashFolder", QStringLiteral("/rec/talk.mp3"), QStringLiteral("/rec/talk-2026-12-08-14-05.mp3")},
        StampCase{"LastDotCounts", QStringLiteral("a.b.mp3"), QStringLiteral("a.b-2026-12-08-14-05.mp3")},
        StampCase{"DriveColonAfterDot", QStringLiteral("x.y:talk"), QStringLiteral("x.y:talk-2026-12-08-14-05")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Names, NumberedCandidatesGoBeforeTheExtension)
{
    EXPECT_EQ(numberedFileName(QStringLiteral("/r/talk-2026-12-08-14-05.mp3"), 1), QStringLiteral("/r/talk-2026-12-08-14-05.mp3"));
    EXPECT_EQ(numberedFileName(QStringLiteral("/r/talk-2026-12-08-14-05.mp3"), 2), QStringLiteral("/r/talk-2026-12-08-14-05-2.mp3"));
    EXPECT_EQ(numberedFileName(QStringLiteral("/my.rec/talk"), 3), QStringLiteral("/my.rec/talk-3"));
}

TEST(Names, ControlCharactersAreFoundWhereverTheyStand)
{
    for (const QString &name : {QStringLiteral("line1\nline2.mp3"), QStringLiteral("take.mp3\r"),
                                QStringLiteral("\ttake.mp3"), QStringLiteral("a\x7f.mp3"), QStringLiteral("a\u0085.mp3"),
                                QString(QChar(0)) + QStringLiteral("x.mp3")})
        EXPECT_TRUE(hasControlCharacters(name)) << name.toStdString();
    for (const QString &name : {QStringLiteral("录音 2026.mp3"), QStringLiteral("/home/u/my take (2).mp3"),
                                QStringLiteral("D:\\rec\\talk.mp3"), QStringLiteral("a\u2028b.mp3"), QString()})
        EXPECT_FALSE(hasControlCharacters(name)) << name.toStdString();
}

TEST(ClockText, ElapsedTimeAndSize)
{
    const std::pair<std::uint32_t, const char *> times[] = {
        {0, "0:00:00"}, {65, "0:01:05"}, {3725, "1:02:05"}, {360000, "100:00:00"}, {59, "0:00:59"}};
    for (const auto &[seconds, text] : times)
        EXPECT_EQ(formatElapsed(seconds), QLatin1String(text)) << seconds;
    const std::pair<std::uint64_t, const char *> sizes[] = {
        {0, "0.0kb"}, {1536, "1.5kb"}, {1000000, "976.6kb"}, {51, "0.0kb"}, {52, "0.1kb"},
        {5ull << 32, "20971520.0kb"}};
    for (const auto &[bytes, text] : sizes)
        EXPECT_EQ(formatFileSize(bytes), QLatin1String(text)) << bytes;
}

TEST(ClockText, TickDifferencesWrapAt32Bits)
{
    EXPECT_EQ(tickDiff(500, 0xFFFFFF00u), 500u + 0x100u);
    EXPECT_EQ(tickDiff(10000, 1000), 9000u);
}

TEST(ClockText, TheTickSourceCanBeReplacedAndRestored)
{
    {
        TestClock clock(42);
        EXPECT_EQ(GetTickCount(), 42u);
        clock.advance(8);
        EXPECT_EQ(GetTickCount(), 50u);
    }
    const std::uint32_t a = GetTickCount();
    const std::uint32_t b = GetTickCount();
    EXPECT_LE(tickDiff(b, a), 1000u); // the system's clock again, moving forward
}

TEST(OutFile, AnExistingFileIsEmptiedOnlyByTruncate)
{
    WorkDir work;
    work.write(QStringLiteral("old.mp3"), "precious");
    TOutFile file;
    ASSERT_TRUE(file.Create(QStringLiteral("old.mp3")));
    file.Discard(); // a start that failed: the old file stays
    EXPECT_EQ(work.read(QStringLiteral("old.mp3")), QByteArray("precious"));

    ASSERT_TRUE(file.Create(QStringLiteral("old.mp3")));
    ASSERT_TRUE(file.Truncate());
    file.Write("abc", 3);
    EXPECT_EQ(file.Size(), 3u);
    file.Close();
    EXPECT_EQ(file.Size(), 3u); // kept for the size text after the end
    EXPECT_EQ(work.read(QStringLiteral("old.mp3")), QByteArray("abc"));
}

TEST(OutFile, ExclusiveCreationRefusesAnExistingFileAndDiscardRemovesANewOne)
{
    WorkDir work;
    work.write(QStringLiteral("a.mp3"), "x");
    TOutFile file;
    EXPECT_FALSE(file.Create(QStringLiteral("a.mp3"), true));
    EXPECT_EQ(file.errorCode(), EEXIST);
    ASSERT_TRUE(file.Create(QStringLiteral("b.mp3"), true));
    file.Discard();
    EXPECT_FALSE(work.exists(QStringLiteral("b.mp3")));
}

TEST(OutFile, CreationFailureCarriesTheSystemsReason)
{
    WorkDir work;
    TOutFile file;
    EXPECT_FALSE(file.Create(QStringLiteral("no/such/folder/x.mp3")));
    EXPECT_EQ(file.errorCode(), ENOENT);
    EXPECT_EQ(file.errorText(), QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_FALSE(file.Create(QString()));
}

TEST(OutFile, AWriteFailureIsAnErrorWithTheSystemCode)
{
    WorkDir work;
    TOutFile file;
    ASSERT_TRUE(file.Create(QStringLiteral("take.mp3")));
    ASSERT_TRUE(file.Truncate());
    const FileSizeLimit full(0);
    try {
        file.Write("abc", 3);
        FAIL() << "no error";
    } catch (const SessionFileError &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("\nI/O error %1").arg(EFBIG))) << e.what();
    }
    EXPECT_EQ(file.Size(), 0u);
}

TEST(OutFile, ADeviceIsNoOrdinaryFile)
{
    TOutFile file;
    EXPECT_FALSE(file.Create(QStringLiteral("/dev/full")));
    EXPECT_TRUE(file.notOrdinaryFile());
    EXPECT_FALSE(file.isOpen());
    // Taken, for a name that must be new: the stamped names go on to the next.
    EXPECT_FALSE(file.Create(QStringLiteral("/dev/full"), true));
    EXPECT_EQ(file.errorCode(), EEXIST);
}
