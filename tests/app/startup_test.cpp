#include <QApplication>
#include <gtest/gtest.h>

TEST(Startup, ApplicationIsOffscreen)
{
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}
