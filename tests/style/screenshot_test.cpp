#include "testwindow.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

QString outputDir()
{
    const QString dir = qEnvironmentVariable("QUAVREL_TEST_OUTPUT");
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

int differingPixels(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y)
        for (int x = 0; x < std::min(a.width(), b.width()); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

} // namespace

TEST(StyleScreenshot, StyledTestWindowCompactAndWithSettings)
{
    TestWindow styled;
    styled.Form1->show();
    TestWindow plain(false);
    plain.Form1->show();

    for (bool settings : {false, true}) {
        styled.showSettings(settings);
        plain.showSettings(settings);
        grabOf(styled.Form1); // the edit drops its sunken frame at its first paint
        const QImage look = grabOf(styled.Form1);
        const QString name = settings ? QStringLiteral("style-testwindow-settings.png") : QStringLiteral("style-testwindow.png");
        ASSERT_TRUE(look.save(QDir(outputDir()).filePath(name)));
        ASSERT_TRUE(grabOf(plain.Form1).save(QDir(outputDir()).filePath(QStringLiteral("plain-") + name)));
        EXPECT_GT(differingPixels(look, grabOf(plain.Form1)), 1000);
    }
}
