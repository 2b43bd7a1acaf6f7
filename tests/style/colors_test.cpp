#include "style/XPMenu.h"
#include "style/colors.h"

#include "app/controls.h"

#include <QApplication>
#include <QPalette>
#include <gtest/gtest.h>

namespace {

struct Rgb {
    int r, g, b;
};

void expectRgb(TColor c, Rgb want)
{
    EXPECT_EQ(GetRValue(c), want.r);
    EXPECT_EQ(GetGValue(c), want.g);
    EXPECT_EQ(GetBValue(c), want.b);
}

TColor paletteColor(QPalette::ColorGroup group, QPalette::ColorRole role)
{
    return fromQColor(QApplication::palette().color(group, role));
}

} // namespace

TEST(ColorHelpers, DarkenBlackBy60StaysBlack)
{
    expectRgb(DarkenColor(clBlack, 60), {0, 0, 0});
}

TEST(ColorHelpers, DarkenWhiteBy60KeepsGreenTwoLighter)
{
    expectRgb(DarkenColor(clWhite, 60), {195, 197, 195});
}

TEST(ColorHelpers, DarkenClampsGreenAtTheTop)
{
    // 255 - 1 + 2 would be 256.
    expectRgb(DarkenColor(RGB(255, 255, 255), 1), {254, 255, 254});
}

TEST(ColorHelpers, LightenAbove100PercentIsWhite)
{
    expectRgb(LightenColor(RGB(10, 100, 200), 150), {255, 255, 255});
    EXPECT_EQ(LightenColor(RGB(10, 100, 200), 150), LightenColor(RGB(10, 100, 200), 100));
}

struct LightenCase {
    const char *name;
    int channel;
    int percent;
    int expected;
};

class LightenRounding : public testing::TestWithParam<LightenCase>
{
};

TEST_P(LightenRounding, RoundsHalvesToEven)
{
    const LightenCase &c = GetParam();
    const TColor result = LightenColor(RGB(c.channel, c.channel, c.channel), c.percent);
    EXPECT_EQ(GetRValue(result), c.expected);
    EXPECT_EQ(GetBValue(result), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ties, LightenRounding,
    testing::Values(LightenCase{"HalfDownToEvenZero", 250, 10, 250},  // 0.5 -> 0
                    LightenCase{"HalfUpToEvenTwo", 240, 10, 242},     // 1.5 -> 2
                    LightenCase{"HalfUpTo26", 0, 10, 26},             // 25.5 -> 26
                    LightenCase{"HalfDownTo76", 0, 30, 76},           // 76.5 -> 76
                    LightenCase{"FourTenthsRoundDown", 0, 68, 173},   // 173.4 -> 173
                    LightenCase{"EightTenthsRoundUp", 159, 30, 188},  // 159 + 28.8 -> 188
                    LightenCase{"ZeroPercentUnchanged", 77, 0, 77},
                    LightenCase{"NegativePercentUnchanged", 77, -20, 77}),
    [](const testing::TestParamInfo<LightenCase> &info) { return std::string(info.param.name); });

TEST(ColorHelpers, AverageTakesEachShareBeforeSumming)
{
    // 255 div 2 + 254 div 2 = 127 + 127, not (255 + 254) div 2 = 254.
    expectRgb(AverageColor({RGB(255, 1, 100), RGB(254, 3, 50)}), {254, 1, 75});
    expectRgb(AverageColor({RGB(9, 9, 9), RGB(9, 9, 9), RGB(9, 9, 9)}), {9, 9, 9});
    expectRgb(AverageColor(std::span<const TColor>()), {0, 0, 0});
}

TEST(ColorHelpers, SystemColoursResolveThroughThePalette)
{
    EXPECT_EQ(ColorToRGB(clBtnFace), paletteColor(QPalette::Active, QPalette::Button));
    EXPECT_EQ(ColorToRGB(clHighlight), paletteColor(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(ColorToRGB(clBtnShadow), paletteColor(QPalette::Active, QPalette::Dark));
    EXPECT_EQ(ColorToRGB(clWindow), paletteColor(QPalette::Active, QPalette::Base));
    EXPECT_EQ(ColorToRGB(clInactiveCaption), paletteColor(QPalette::Disabled, QPalette::Highlight));
    EXPECT_EQ(ColorToRGB(sysColor(99)), clBlack);
    EXPECT_EQ(ColorToRGB(0x12345678u), 0x345678u);
}

TEST(ColorHelpers, HelpersResolveSystemColoursFirst)
{
    EXPECT_EQ(LightenColor(clBtnFace, 0), ColorToRGB(clBtnFace));
    EXPECT_EQ(DarkenColor(clBtnShadow, 0), DarkenColor(ColorToRGB(clBtnShadow), 0));
}

TEST(ColorScheme, DefaultsOfANewInstance)
{
    TForm form;
    TXPMenu menu(&form);
    EXPECT_EQ(menu.Form(), &form);
    EXPECT_EQ(menu.DimLevel(), 30);
    EXPECT_EQ(menu.GrayLevel(), 10);
    EXPECT_EQ(menu.Color(), clBtnFace);
    EXPECT_FALSE(menu.DrawMenuBar());
    EXPECT_EQ(menu.IconBackColor(), clBtnFace);
    EXPECT_EQ(menu.MenuBarColor(), clBtnFace);
    EXPECT_EQ(menu.SelectColor(), clHighlight);
    EXPECT_EQ(menu.SelectBorderColor(), clHighlight);
    EXPECT_EQ(menu.SelectFontColor(), menu.FontColor());
    EXPECT_EQ(menu.DisabledColor(), clInactiveCaption);
    EXPECT_EQ(menu.SeparatorColor(), clBtnFace);
    EXPECT_EQ(menu.CheckedColor(), clHighlight);
    EXPECT_EQ(menu.IconWidth(), 24);
    EXPECT_TRUE(menu.DrawSelect());
    EXPECT_TRUE(menu.UseSystemColors());
    EXPECT_FALSE(menu.UseDimColor());
    EXPECT_FALSE(menu.OverrideOwnerDraw());
    EXPECT_FALSE(menu.Gradient());
    EXPECT_FALSE(menu.FlatMenu());
    EXPECT_FALSE(menu.AutoDetect());
    EXPECT_EQ(menu.XPContainers().bits(), 0x3FFu);
    EXPECT_EQ(menu.XPControls().bits(), 0x7FFFFFu);
    EXPECT_FALSE(menu.Active());
    EXPECT_FALSE(menu.DisableSubclassing());
    EXPECT_EQ(menu.TransparentKey, 0xFF00FFu);
}

TEST(ColorScheme, WithoutAFormThereIsNoFormToStyle)
{
    QObject owner;
    TXPMenu menu(&owner);
    EXPECT_EQ(menu.Form(), nullptr);
    menu.setActive(true);
    EXPECT_TRUE(menu.SubClasses().isEmpty());
}

TEST(ColorScheme, SystemColoursOnAHighColourScreen)
{
    TForm form;
    TXPMenu menu(&form);
    menu.BuildColorScheme(32);
    EXPECT_TRUE(menu.HighColor);
    EXPECT_EQ(menu.ParentTint, 16);
    EXPECT_EQ(menu.ParentTintHot, 40);
    EXPECT_EQ(menu.SchemeFace, LightenColor(clBtnFace, 86));
    EXPECT_EQ(menu.SchemeIconBack, LightenColor(clBtnFace, 16));
    EXPECT_EQ(menu.SchemeSelect, LightenColor(clHighlight, 68));
    EXPECT_EQ(menu.SchemeSelectBorder, clHighlight);
    EXPECT_EQ(menu.SchemeMenuBar, clBtnFace);
    EXPECT_EQ(menu.SchemeDisabled, LightenColor(clBtnShadow, 10));
    EXPECT_EQ(menu.SchemeSeparator, LightenColor(clBtnShadow, 25));
    EXPECT_EQ(menu.SchemeChecked, clHighlight);
    EXPECT_EQ(menu.SchemeCheckedArea, LightenColor(clHighlight, 80));
    EXPECT_EQ(menu.SchemeCheckedAreaSelect, LightenColor(clHighlight, 50));
    EXPECT_EQ(menu.SchemeDarkFace, DarkenColor(clBtnFace, 90));
    EXPECT_EQ(menu.SchemeMidFace, DarkenColor(clBtnFace, 76));
    EXPECT_EQ(menu.SchemeSelectFont, menu.FontColor());
}

TEST(ColorScheme, SystemColoursOnAFewColourScreen)
{
    TForm form;
    TXPMenu menu(&form);
    menu.BuildColorScheme(15);
    EXPECT_FALSE(menu.HighColor);
    EXPECT_EQ(menu.SchemeFace, clWhite);
    EXPECT_EQ(menu.SchemeIconBack, clBtnFace);
    EXPECT_EQ(menu.SchemeSelect, clWhite);
    EXPECT_EQ(menu.SchemeDisabled, clBtnShadow);
    EXPECT_EQ(menu.SchemeSeparator, clBtnShadow);
    EXPECT_EQ(menu.SchemeCheckedArea, clWhite);
    EXPECT_EQ(menu.SchemeCheckedAreaSelect, clWhite);
    EXPECT_EQ(menu.SchemeDarkFace, clBtnShadow);
    EXPECT_EQ(menu.SchemeMidFace, clBtnShadow);
}

TEST(ColorScheme, OwnColoursWithDimmedSelection)
{
    TForm form;
    TXPMenu menu(&form);
    menu.setUseSystemColors(false);
    menu.setUseDimColor(true);
    menu.setSelectColor(RGB(0, 0, 200));
    menu.setDisabledColor(RGB(1, 2, 3));
    EXPECT_TRUE(menu.ColorsChanged);
    menu.BuildColorScheme(24);
    EXPECT_FALSE(menu.ColorsChanged);
    EXPECT_EQ(menu.SchemeSelect, LightenColor(RGB(0, 0, 200), 68));
    EXPECT_EQ(menu.SchemeCheckedArea, LightenColor(RGB(0, 0, 200), 80));
    EXPECT_EQ(menu.SchemeCheckedAreaSelect, LightenColor(RGB(0, 0, 200), 50));
    EXPECT_EQ(menu.SchemeDisabled, RGB(1, 2, 3));
    EXPECT_EQ(menu.SchemeFace, clBtnFace);

    menu.BuildColorScheme(8);
    EXPECT_EQ(menu.SchemeSelect, RGB(0, 0, 200));
    EXPECT_EQ(menu.SchemeCheckedArea, clWhite);
    EXPECT_EQ(menu.SchemeCheckedAreaSelect, clSilver);
}

TEST(ColorScheme, MenuBarColourDoesNotMarkTheColoursChanged)
{
    TForm form;
    TXPMenu menu(&form);
    menu.setMenuBarColor(clWhite);
    EXPECT_FALSE(menu.ColorsChanged);
    menu.setSeparatorColor(clWhite);
    EXPECT_TRUE(menu.ColorsChanged);
}
