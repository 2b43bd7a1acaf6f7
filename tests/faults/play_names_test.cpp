// The play button with names a shell would take for commands or options: a file of that name
// reaches the desktop only as a file URL, nothing is run from it, and nothing crashes; a name
// with no file gets a box and reaches nothing.
#include "common/app_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>


namespace {

struct NameCase
{
    const char *edge;
    const char *name;
};

void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << c.edge;
}

const NameCase kNames[] = {
    {"Semicolon", "a;touch pwned"},
    {"CommandSubstitution", "$(touch pwned).mp3"},
    {"Backticks", "`touch pwned`.mp3"},
    {"Pipe", "a.mp3|touch pwned"},
    {"AndAnd", "a.mp3 && touch pwned"},
    {"Redirect", "a.mp3 > pwned"},
    {"LeadingDash", "-pwned.mp3"},
    {"LongOption", "--help"},
    {"DoubleDashThenName", "-- touch pwned"},
    {"Quotes", "a'\"; touch pwned; \"'"},
    {"Newline", "a.mp3\ntouch pwned"},
    {"Glob", "*"},
    {"Percent", "%s%n%x.mp3"},
    {"Hash", "#pwned.mp3"},
    {"UrlLike", "http://example.invalid/x.mp3"},
    {"MissingFile", "not-there.mp3"},
    {"MissingFolder", "no/such/folder/take.mp3"},
};

class PlayNameTest : public FormTest, public testing::WithParamInterface<NameCase>
{
protected:
    void SetUp() override
    {
        build();
        const QString name = QString::fromUtf8(GetParam().name);
        present = !QByteArray(GetParam().edge).startsWith("Missing") && !name.contains(QLatin1Char('/'));
        if (present)
            work.write(name, "ID3");
        form->EOutFile->setText(name);
    }

    // Nothing but the file played may be in the working directory.
    void expectNothingCreated() const
    {
        QStringList entries = QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        if (present)
            entries.removeOne(QString::fromUtf8(GetParam().name));
        EXPECT_TRUE(entries.isEmpty()) << entries.join(QLatin1Char(',')).toStdString();
    }

    bool present = false;
};

} // namespace

TEST_P(PlayNameTest, ReachesTheDesktopAsOneFileUrl)
{
    click(form->SpeedButton5);
    expectNothingCreated();
    if (!present) {
        EXPECT_TRUE(desktop.urls.empty());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("不存在"))) << boxes.lastText().toStdString();
        return;
    }
    ASSERT_EQ(desktop.urls.size(), 1u);
    const QUrl &url = desktop.urls[0];
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.scheme(), QStringLiteral("file"));
    EXPECT_EQ(url.toLocalFile(), QFileInfo(QString::fromUtf8(GetParam().name)).absoluteFilePath());
    // Never something an opener could take for an option or another kind of address.
    EXPECT_TRUE(url.toEncoded().startsWith("file:///")) << url.toEncoded().toStdString();
    EXPECT_TRUE(boxes.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, PlayNameTest, testing::ValuesIn(kNames),
                         [](const testing::TestParamInfo<NameCase> &info) { return std::string(info.param.edge); });
