#include "events.h"
#include "testwindow.h"

#include "style/controlsubclass.h"

#include "style/painters_input.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <gtest/gtest.h>

namespace {


// An olive glyph with a red square from (3, 3) to (12, 12); a second image, when asked
// for, holds only a white square from (6, 6) to (9, 9).
QPixmap squareGlyph(int images)
{
    QImage strip(16 * images, 16, QImage::Format_RGB32);
    strip.fill(QColor(128, 128, 0));
    QPainter p(&strip);
    p.fillRect(QRect(3, 3, 10, 10), QColor(255, 0, 0));
    if (images > 1)
        p.fillRect(QRect(16 + 6, 6, 4, 4), QColor(255, 255, 255));
    p.end();
    return QPixmap::fromImage(strip);
}

} // namespace

TEST(StylePaint, HotComboIsFramedInTheSelectBorderWithAWiderButton)
{
    Stage s;
    auto *combo = s.add(new TComboBox(&s.form), 10, 10, 100, 21);
    combo->addItems({QStringLiteral("44100")});
    s.activate();
    const TColor border = ColorToRGB(s.menu->SchemeSelectBorder);
    const TColor select = ColorToRGB(s.menu->SchemeSelect);
    const TColor parentBg = s.formColor();

    const QImage cold = grabOf(combo);
    EXPECT_EQ(pixelAt(cold, 0, 10), parentBg);
    EXPECT_EQ(pixelAt(cold, 1, 10), clWhite);
    EXPECT_EQ(pixelAt(cold, 97, 10), ColorToRGB(clBtnFace));
    EXPECT_EQ(pixelAt(cold, 98, 10), clWhite);
    EXPECT_EQ(pixelAt(cold, 87, 2), clWhite);
    EXPECT_EQ(pixelAt(cold, 83, 10), clWhite); // the field-coloured stripe
    EXPECT_EQ(pixelAt(cold, 92, 12), clBlack);

    sendEnter(combo);
    const QImage hot = grabOf(combo);
    for (QPoint p : {QPoint(0, 10), QPoint(99, 10), QPoint(50, 1), QPoint(50, 20), QPoint(86, 10)})
        EXPECT_EQ(pixelAt(hot, p.x(), p.y()), border) << p.x() << "," << p.y();
    EXPECT_EQ(pixelAt(hot, 50, 0), parentBg);
    EXPECT_EQ(pixelAt(hot, 98, 10), select);
    EXPECT_EQ(pixelAt(hot, 87, 2), select);
    EXPECT_EQ(pixelAt(hot, 83, 10), clWhite);
    for (QPoint p : {QPoint(90, 10), QPoint(94, 10), QPoint(91, 11), QPoint(93, 11), QPoint(92, 12)})
        EXPECT_EQ(pixelAt(hot, p.x(), p.y()), clBlack);
    EXPECT_EQ(pixelAt(hot, 95, 10), select);
}

TEST(StylePaint, FocusedComboTakesTheCheckedAreaButton)
{
    Stage s;
    auto *combo = s.add(new TComboBox(&s.form), 10, 10, 100, 21);
    s.activate();
    QApplication::setActiveWindow(&s.form);
    combo->setFocus();
    if (!combo->hasFocus())
        GTEST_SKIP() << "no keyboard focus on this platform";
    sendLeave(combo); // focus made it hot; the pointer is elsewhere
    const QImage img = grabOf(combo);
    EXPECT_EQ(pixelAt(img, 98, 10), ColorToRGB(s.menu->SchemeCheckedArea));
    EXPECT_EQ(pixelAt(img, 0, 10), LightenColor(s.menu->SchemeSelectBorder, 60));
}

TEST(StylePaint, DisabledComboDrawsAWhiteArrow)
{
    Stage s;
    auto *combo = s.add(new TComboBox(&s.form), 10, 10, 100, 21);
    combo->setEnabled(false);
    s.activate();
    const QImage img = grabOf(combo);
    for (QPoint p : {QPoint(90, 10), QPoint(94, 10), QPoint(92, 12)})
        EXPECT_EQ(pixelAt(img, p.x(), p.y()), clWhite);
    EXPECT_EQ(pixelAt(img, 96, 15), ColorToRGB(clBtnFace));
}

TEST(StylePaint, ComboWithTag1000TakesItsButtonFromTheParent)
{
    Stage s;
    auto *panel = s.add(new TPanel(QString(), &s.form), 0, 0, 200, 60);
    panel->setColor(QColor(0, 0, 0));
    auto *combo = s.add(new TComboBox(panel), 10, 10, 100, 21);
    setControlTag(combo, 1000);
    s.activate();
    const QImage img = grabOf(combo);
    EXPECT_EQ(pixelAt(img, 96, 10), LightenColor(clBlack, 16));
    EXPECT_EQ(pixelAt(img, 0, 10), clBlack);
}

TEST(StylePaint, EditOutlineDarkWhenColdAndSelectBorderWhenHot)
{
    Stage s;
    auto *edit = s.add(new TEdit(QStringLiteral("default.mp3"), &s.form), 10, 10, 120, 21);
    s.activate();
    grabOf(edit);
    const QImage cold = grabOf(edit);
    const TColor dark = DarkenColor(s.formColor(), 60);
    for (QPoint p : {QPoint(0, 10), QPoint(119, 10), QPoint(60, 0), QPoint(60, 20), QPoint(0, 0), QPoint(119, 20)})
        EXPECT_EQ(pixelAt(cold, p.x(), p.y()), dark) << p.x() << "," << p.y();
    EXPECT_EQ(pixelAt(cold, 1, 10), clWhite);

    sendEnter(edit);
    const QImage hot = grabOf(edit);
    EXPECT_EQ(pixelAt(hot, 0, 10), LightenColor(s.menu->SchemeSelectBorder, 60));
    EXPECT_EQ(pixelAt(hot, 119, 20), LightenColor(s.menu->SchemeSelectBorder, 60));
}

TEST(StylePaint, BorderlessEditOutlinesInItsOwnColour)
{
    Stage s;
    auto *edit = s.add(new TEdit(QString(), &s.form), 10, 10, 120, 21);
    edit->setBorderStyle(TEdit::bsNone);
    s.activate();
    EXPECT_EQ(pixelAt(grabOf(edit), 0, 10), clWhite);
    sendEnter(edit);
    EXPECT_EQ(pixelAt(grabOf(edit), 0, 10), LightenColor(AverageColor({clWhite, s.formColor()}), 40));
}

struct CheckCase {
    const char *name;
    Qt::CheckState state;
    bool enabled;
};

class CheckMark : public testing::TestWithParam<CheckCase>
{
};

TEST_P(CheckMark, TickAndBoxColours)
{
    const CheckCase &c = GetParam();
    Stage s;
    auto *box = s.add(new TCheckBox(QStringLiteral("捕获声音即自动录音"), &s.form), 10, 10, 137, 17);
    box->setTristate(true);
    box->setCheckState(c.state);
    box->setEnabled(c.enabled);
    s.activate();
    const QImage img = grabOf(box);
    // Box outline from (2, 3) to (12, 14); the tick runs from (4, 8..10) down to (6, 10..12)
    // and up to (10, 6..8).
    EXPECT_EQ(pixelAt(img, 2, 8), ColorToRGB(clBtnShadow));
    EXPECT_EQ(pixelAt(img, 12, 14), ColorToRGB(clBtnShadow));
    EXPECT_EQ(pixelAt(img, 0, 8), fromQColor(box->palette().color(QPalette::Window)));

    TColor fill = ColorToRGB(clWindow);
    TColor mark = fill;
    if (c.state == Qt::PartiallyChecked)
        fill = clSilver;
    if (c.state != Qt::Unchecked)
        mark = !c.enabled ? ColorToRGB(s.menu->SchemeDisabled)
                          : (c.state == Qt::PartiallyChecked ? clGray : ColorToRGB(clHighlight));
    EXPECT_EQ(pixelAt(img, 10, 12), fill);
    EXPECT_EQ(pixelAt(img, 4, 5), fill);
    for (QPoint p : {QPoint(4, 8), QPoint(5, 10), QPoint(6, 12), QPoint(8, 9), QPoint(10, 6)})
        EXPECT_EQ(pixelAt(img, p.x(), p.y()), mark) << p.x() << "," << p.y();
}

INSTANTIATE_TEST_SUITE_P(States, CheckMark,
                         testing::Values(CheckCase{"Checked", Qt::Checked, true},
                                         CheckCase{"Grayed", Qt::PartiallyChecked, true},
                                         CheckCase{"DisabledChecked", Qt::Checked, false},
                                         CheckCase{"Unchecked", Qt::Unchecked, true}),
                         [](const testing::TestParamInfo<CheckCase> &info) { return std::string(info.param.name); });

TEST(StylePaint, PressedCheckBoxFillsItsBoxAndWhitensTheTick)
{
    Stage s;
    auto *box = s.add(new TCheckBox(QStringLiteral("x"), &s.form), 10, 10, 137, 17);
    box->setChecked(true);
    s.activate();
    sendSpace(box, true);
    const QImage img = grabOf(box);
    EXPECT_EQ(pixelAt(img, 10, 12), ColorToRGB(s.menu->SchemeCheckedAreaSelect));
    EXPECT_EQ(pixelAt(img, 8, 9), ColorToRGB(clWindow));
    sendSpace(box, false);
}

namespace {

struct ButtonStage : Stage {
    TButton *button = nullptr;
    ButtonStage()
    {
        button = add(new TButton(QString(), &form), 10, 10, 75, 25);
        activate();
    }
    QImage shot() { return grabOf(button); }
};

} // namespace

TEST(StylePushButton, RaisedWhenIdle)
{
    ButtonStage s;
    const QImage img = s.shot();
    const TColor base = ColorToRGB(clBtnShadow);
    EXPECT_EQ(pixelAt(img, 74, 12), DarkenColor(base, 50));
    EXPECT_EQ(pixelAt(img, 40, 24), DarkenColor(base, 50));
    EXPECT_EQ(pixelAt(img, 0, 12), LightenColor(base, 30));
    EXPECT_EQ(pixelAt(img, 40, 0), LightenColor(base, 30));
    EXPECT_EQ(pixelAt(img, 37, 12), ColorToRGB(s.menu->SchemeIconBack));
    EXPECT_EQ(pixelAt(img, 0, 0), s.formColor());
}

TEST(StylePushButton, SunkenWhenPressedWithTheMouseOverIt)
{
    ButtonStage s;
    sendEnter(s.button);
    sendPress(s.button);
    const QImage img = s.shot();
    const TColor base = LightenColor(s.menu->SchemeSelectBorder, 60);
    EXPECT_EQ(pixelAt(img, 0, 12), DarkenColor(base, 50));
    EXPECT_EQ(pixelAt(img, 40, 0), DarkenColor(base, 50));
    EXPECT_EQ(pixelAt(img, 74, 12), LightenColor(base, 30));
    EXPECT_EQ(pixelAt(img, 37, 12), LightenColor(clBtnFace, 40));
    sendRelease(s.button);
}

TEST(StylePushButton, SunkenWhenPressedWithTheSpaceKeyHotOrNot)
{
    ButtonStage s;
    sendSpace(s.button, true);
    const QImage img = s.shot();
    const TColor base = ColorToRGB(clBtnShadow);
    EXPECT_EQ(pixelAt(img, 0, 12), DarkenColor(base, 50));
    EXPECT_EQ(pixelAt(img, 74, 12), LightenColor(base, 30));
    sendSpace(s.button, false);
    EXPECT_EQ(pixelAt(s.shot(), 74, 12), DarkenColor(base, 50));
}

TEST(StylePushButton, RaisedWhenPressedButDraggedOff)
{
    ButtonStage s;
    sendEnter(s.button);
    sendPress(s.button);
    sendLeave(s.button);
    ASSERT_TRUE(TControlSubClass::recordOf(s.button)->MouseDown);
    const QImage img = s.shot();
    const TColor base = ColorToRGB(clBtnShadow);
    EXPECT_EQ(pixelAt(img, 74, 12), DarkenColor(base, 50));
    EXPECT_EQ(pixelAt(img, 0, 12), LightenColor(base, 30));
    sendRelease(s.button);
}

TEST(StylePushButton, DisabledHasNoShading)
{
    ButtonStage s;
    s.button->setEnabled(false);
    const QImage img = s.shot();
    EXPECT_EQ(pixelAt(img, 74, 12), LightenColor(clBtnShadow, 30));
}

TEST(StylePushButton, Tag1000TakesItsFaceFromABlackParent)
{
    Stage s;
    auto *panel = s.add(new TPanel(QString(), &s.form), 0, 0, 200, 60);
    panel->setColor(Qt::black);
    auto *button = s.add(new TButton(QString(), panel), 10, 10, 75, 25);
    setControlTag(button, 1000);
    s.activate();
    EXPECT_EQ(pixelAt(grabOf(button), 37, 12), LightenColor(clBlack, 16));
    sendEnter(button);
    EXPECT_EQ(pixelAt(grabOf(button), 37, 12), LightenColor(clBlack, 40));
}

TEST(StylePushButton, CaptionIsDrawnInTheFontColourOrTheDisabledColour)
{
    Stage s;
    auto *button = s.add(new TButton(QStringLiteral("WWWW"), &s.form), 10, 10, 75, 25);
    s.activate();
    const auto countColour = [](const QImage &img, TColor c) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += pixelAt(img, x, y) == c;
        return n;
    };
    EXPECT_GT(countColour(grabOf(button), clBlack), 0);
    button->setEnabled(false);
    const QImage img = grabOf(button);
    EXPECT_EQ(countColour(img, clBlack), 0);
    EXPECT_GT(countColour(img, ColorToRGB(s.menu->SchemeDisabled)), 0);
}

namespace {

struct SpeedStage : Stage {
    TSpeedButton *button = nullptr;
    explicit SpeedStage(int images, bool enabled = true)
    {
        button = add(new TSpeedButton(QString(), &form), 10, 10, 52, 22);
        button->setGlyph(squareGlyph(images), images);
        button->setEnabled(enabled);
        activate();
    }
};

} // namespace

TEST(StyleSpeedButton, IdleGlyphIsFadedAndSitsOnTheFace)
{
    SpeedStage s(1);
    const QImage img = grabOf(s.button);
    // Glyph rectangle (18, 2), drawn one lower: the red square covers (21, 6) to (30, 15).
    EXPECT_EQ(pixelAt(img, 21, 6), LightenColor(RGB(255, 0, 0), 30));
    EXPECT_EQ(pixelAt(img, 30, 15), LightenColor(RGB(255, 0, 0), 30));
    EXPECT_EQ(pixelAt(img, 20, 5), ColorToRGB(s.menu->SchemeIconBack));
    EXPECT_EQ(pixelAt(img, 51, 11), DarkenColor(clBtnShadow, 50));
    EXPECT_EQ(pixelAt(img, 0, 11), LightenColor(clBtnShadow, 30));
}

TEST(StyleSpeedButton, HotGlyphRisesOnePixelWithItsShadow)
{
    SpeedStage s(1);
    sendEnter(s.button);
    const QImage img = grabOf(s.button);
    const TColor red = RGB(255, 0, 0);
    const TColor shadow = DarkenColor(s.menu->SchemeSelect, 50);
    EXPECT_EQ(pixelAt(img, 20, 5), red);
    EXPECT_EQ(pixelAt(img, 29, 14), red);
    EXPECT_EQ(pixelAt(img, 30, 15), shadow);
    EXPECT_EQ(pixelAt(img, 31, 16), shadow);
    EXPECT_EQ(pixelAt(img, 22, 16), shadow);
    EXPECT_EQ(pixelAt(img, 32, 17), LightenColor(clBtnFace, 40));
    EXPECT_EQ(pixelAt(img, 0, 11), LightenColor(LightenColor(s.menu->SchemeSelectBorder, 60), 30));

    sendLeave(s.button);
    EXPECT_EQ(pixelAt(grabOf(s.button), 21, 6), LightenColor(red, 30));
}

TEST(StyleSpeedButton, DisabledWithOneImageGreysTheFirst)
{
    SpeedStage s(1, false);
    const QImage img = grabOf(s.button);
    // Red: (255 + 0 + 0) div 3 + 10 = 95, lightened by 40 percent: 159. The olive ground
    // greys to the same value and still stays transparent.
    EXPECT_EQ(pixelAt(img, 21, 6), RGB(159, 159, 159));
    EXPECT_EQ(pixelAt(img, 30, 15), RGB(159, 159, 159));
    EXPECT_EQ(pixelAt(img, 20, 5), ColorToRGB(s.menu->SchemeIconBack));
    EXPECT_EQ(pixelAt(img, 51, 11), LightenColor(clBtnShadow, 30));
}

TEST(StyleSpeedButton, DisabledWithTwoImagesGreysTheSecond)
{
    SpeedStage s(2, false);
    const QImage img = grabOf(s.button);
    EXPECT_EQ(pixelAt(img, 21, 6), ColorToRGB(s.menu->SchemeIconBack));
    // White: min(240, 255 + 10) = 240, lightened by 40 percent: 246.
    EXPECT_EQ(pixelAt(img, 24, 9), RGB(246, 246, 246));
}

TEST(StyleSpeedButton, LatchedUnderTheMouseTakesTheCheckedAreaSelect)
{
    SpeedStage s(1);
    s.button->Down = true;
    sendEnter(s.button);
    const QImage img = grabOf(s.button);
    EXPECT_EQ(pixelAt(img, 5, 11), ColorToRGB(s.menu->SchemeCheckedAreaSelect));
    EXPECT_EQ(pixelAt(img, 51, 11), LightenColor(s.menu->SchemeSelectBorder, 30));
    EXPECT_EQ(pixelAt(img, 0, 11), DarkenColor(s.menu->SchemeSelectBorder, 50));
    // Pressed: no rise, no fading.
    EXPECT_EQ(pixelAt(img, 21, 6), RGB(255, 0, 0));
}

TEST(StyleSpeedButton, EmptyCaptionCentresTheGlyphWithoutSpacing)
{
    Stage s;
    auto *button = s.add(new TSpeedButton(QString(), &s.form), 10, 10, 52, 22);
    button->setGlyph(squareGlyph(1), 1);
    button->Spacing = 10;
    button->Layout = TSpeedButton::blGlyphRight;
    s.activate();
    // Glyph right: GR.right = (0 + 16 + 0 + 52) div 2 = 34, top = 3, drawn at y 4.
    const QImage img = grabOf(button);
    EXPECT_EQ(pixelAt(img, 21, 7), LightenColor(RGB(255, 0, 0), 30));
    EXPECT_EQ(pixelAt(img, 30, 16), LightenColor(RGB(255, 0, 0), 30));
    EXPECT_EQ(pixelAt(img, 20, 7), ColorToRGB(s.menu->SchemeIconBack));
}

TEST(StylePanel, LoweredInnerBevelIsDarkAboveAndLightBelow)
{
    Stage s;
    auto *panel = s.add(new TPanel(QStringLiteral("0:00:00"), &s.form), 10, 10, 73, 20);
    s.activate();
    const QImage img = grabOf(panel);
    const TColor color = fromQColor(panel->color());
    const TColor dark = DarkenColor(color, 60), light = LightenColor(color, 60);
    EXPECT_EQ(pixelAt(img, 0, 10), dark);
    EXPECT_EQ(pixelAt(img, 36, 0), dark);
    EXPECT_EQ(pixelAt(img, 72, 10), light);
    EXPECT_EQ(pixelAt(img, 36, 19), light);
    EXPECT_EQ(pixelAt(img, 72, 0), light);
    EXPECT_EQ(pixelAt(img, 0, 19), light);
}

TEST(StylePanel, RaisedOuterAndLoweredInnerWithABorder)
{
    Stage s;
    auto *panel = s.add(new TPanel(QString(), &s.form), 10, 10, 60, 30);
    panel->BevelOuter = TPanel::bvRaised;
    panel->BorderWidth = 2;
    s.activate();
    const QImage img = grabOf(panel);
    const TColor color = fromQColor(panel->color());
    const TColor dark = DarkenColor(color, 60), light = LightenColor(color, 60);
    EXPECT_EQ(pixelAt(img, 0, 15), light);
    EXPECT_EQ(pixelAt(img, 59, 15), dark);
    // Outer bevel leaves (1, 1, 59, 29); the border takes two more.
    EXPECT_EQ(pixelAt(img, 3, 15), dark);
    EXPECT_EQ(pixelAt(img, 56, 15), light);
}

TEST(StylePanel, BothBevelsNoneDrawsNothing)
{
    Stage s;
    auto *panel = s.add(new TPanel(QString(), &s.form), 10, 10, 60, 30);
    panel->BevelInner = TPanel::bvNone;
    s.activate();
    const TColor color = fromQColor(panel->color());
    const QImage img = grabOf(panel);
    EXPECT_NE(pixelAt(img, 0, 15), DarkenColor(color, 60));
    EXPECT_NE(pixelAt(img, 59, 15), LightenColor(color, 60));
}

namespace {

struct GroupStage : Stage {
    TGroupBox *box = nullptr;
    TColor boxColor = RGB(200, 220, 240);
    TColor parentColor = RGB(250, 240, 200);
    int th = 0;
    explicit GroupStage(const QString &caption, bool ctl3d)
    {
        QPalette pal = form.palette();
        pal.setColor(QPalette::Window, toQColor(parentColor));
        form.setPalette(pal);
        box = add(new TGroupBox(caption, &form), 10, 10, 200, 100);
        box->Ctl3D = ctl3d;
        QPalette boxPal = box->palette();
        boxPal.setColor(QPalette::Window, toQColor(boxColor));
        box->setPalette(boxPal);
        th = QFontMetrics(box->font()).boundingRect(QRect(), Qt::TextSingleLine, caption.isEmpty() ? QStringLiteral(" ") : caption).height();
        activate();
    }
};

} // namespace

TEST(StyleGroupBox, FlatFrameWithAGapForTheCaption)
{
    GroupStage s(QStringLiteral("    "), false);
    const QImage img = grabOf(s.box);
    const TColor dark = DarkenColor(s.boxColor, 60);
    const int line = s.th / 2 + 1;
    EXPECT_EQ(pixelAt(img, 0, 50), dark);
    EXPECT_EQ(pixelAt(img, 199, 50), dark);
    EXPECT_EQ(pixelAt(img, 100, 99), dark);
    EXPECT_EQ(pixelAt(img, 4, line), dark);
    EXPECT_EQ(pixelAt(img, 150, line), dark);
    EXPECT_EQ(pixelAt(img, 10, line), s.boxColor); // the gap behind the caption
    EXPECT_EQ(pixelAt(img, 100, 0), s.parentColor);
    EXPECT_EQ(pixelAt(img, 100, line - 1), s.parentColor);
    EXPECT_EQ(pixelAt(img, 100, 50), s.boxColor);
}

TEST(StyleGroupBox, Ctl3DFrameIsLightAboveAndDarkBelow)
{
    GroupStage s(QStringLiteral("状态信息"), true);
    const QImage img = grabOf(s.box);
    const TColor dark = DarkenColor(s.boxColor, 60), light = LightenColor(s.boxColor, 60);
    const int line = s.th / 2 + 1;
    EXPECT_EQ(pixelAt(img, 0, 50), light);
    EXPECT_EQ(pixelAt(img, 4, line), light);
    EXPECT_EQ(pixelAt(img, 190, line), light);
    EXPECT_EQ(pixelAt(img, 199, 50), dark);
    EXPECT_EQ(pixelAt(img, 100, 99), dark);
    int captionInk = 0;
    for (int x = 9; x < 80; ++x)
        for (int y = 0; y < s.th; ++y)
            captionInk += pixelAt(img, x, y) != s.boxColor && pixelAt(img, x, y) != s.parentColor;
    EXPECT_GT(captionInk, 0);
}

TEST(StyleGroupBox, EmptyCaptionReservesTheHeightOfABlank)
{
    GroupStage s(QString(), false);
    const QImage img = grabOf(s.box);
    const int line = s.th / 2 + 1;
    ASSERT_GT(s.th, 4);
    EXPECT_EQ(pixelAt(img, 100, line), DarkenColor(s.boxColor, 60));
    EXPECT_EQ(pixelAt(img, 100, line - 1), s.parentColor);
}

TEST(StyleProgressBar, FlatFrameSurvivesEveryChangeOfPosition)
{
    Stage s;
    auto *bar = s.add(new TProgressBar(&s.form), 10, 10, 313, 17);
    bar->setRange(0, 100);
    s.activate();
    const TColor frame = DarkenColor(s.formColor(), 60);
    for (int value : {0, 37, 100, 5, 64}) {
        bar->setValue(value);
        const QImage img = grabOf(bar);
        for (QPoint p : {QPoint(0, 8), QPoint(312, 8), QPoint(150, 0), QPoint(150, 16), QPoint(1, 0)})
            EXPECT_EQ(pixelAt(img, p.x(), p.y()), frame) << value << " at " << p.x() << "," << p.y();
    }
    sendEnter(bar);
    EXPECT_EQ(pixelAt(grabOf(bar), 0, 8), ColorToRGB(s.menu->SchemeSelectBorder));
}

TEST(StyleUnhooked, ControlsPaintThemselvesAgainAfterDeactivation)
{
    ButtonStage s;
    ASSERT_EQ(pixelAt(s.shot(), 37, 12), ColorToRGB(s.menu->SchemeIconBack));
    s.menu->setActive(false);
    const QImage plain = s.shot();
    EXPECT_NE(pixelAt(plain, 74, 12), DarkenColor(clBtnShadow, 50));
}

namespace {

int differingPixels(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y)
        for (int x = 0; x < std::min(a.width(), b.width()); ++x)
            n += pixelAt(a, x, y) != pixelAt(b, x, y);
    return n;
}

} // namespace

// Push and bitmap buttons share the default button's caption shadow: it shows while the
// button is enabled and goes with it.
TEST(StylePaint, DefaultButtonCaptionStandsInAShadowOnlyWhileEnabled)
{
    Stage s;
    auto *plain = s.add(new TButton(QStringLiteral("OK"), &s.form), 10, 10, 75, 25);
    auto *chosen = s.add(new TButton(QStringLiteral("OK"), &s.form), 10, 50, 75, 25);
    auto *bitPlain = s.add(new TBitBtn(QStringLiteral("OK"), &s.form), 100, 10, 75, 25);
    auto *bitChosen = s.add(new TBitBtn(QStringLiteral("OK"), &s.form), 100, 50, 75, 25);
    chosen->setDefault(true);
    bitChosen->setDefault(true);
    s.activate();

    EXPECT_GT(differingPixels(grabOf(plain), grabOf(chosen)), 0);
    EXPECT_GT(differingPixels(grabOf(bitPlain), grabOf(bitChosen)), 0);
    for (QWidget *w : {static_cast<QWidget *>(plain), static_cast<QWidget *>(chosen),
                       static_cast<QWidget *>(bitPlain), static_cast<QWidget *>(bitChosen)})
        w->setEnabled(false);
    EXPECT_EQ(differingPixels(grabOf(plain), grabOf(chosen)), 0);
    EXPECT_EQ(differingPixels(grabOf(bitPlain), grabOf(bitChosen)), 0);
}

// Qt grabs the mouse for a pressed control and sends no leave while the button is held:
// the hot state follows the pointer's moves instead, out and back in again.
TEST(StyleHeldPress, DraggedOffLooksRaisedAndNotHotOnEveryButtonKind)
{
    Stage s(400, 120);
    auto *push = s.add(new TButton(QStringLiteral("OK"), &s.form), 10, 10, 75, 25);
    auto *bit = s.add(new TBitBtn(QStringLiteral("OK"), &s.form), 100, 10, 75, 25);
    auto *speed = s.add(new TSpeedButton(QStringLiteral("OK"), &s.form), 190, 10, 52, 22);
    auto *box = s.add(new TCheckBox(QStringLiteral("box"), &s.form), 260, 10, 97, 24);
    s.activate();
    const TColor shade = DarkenColor(clBtnShadow, 50);
    const TColor outline = LightenColor(clBtnShadow, 30);

    for (QWidget *w : {static_cast<QWidget *>(push), static_cast<QWidget *>(bit), static_cast<QWidget *>(speed),
                       static_cast<QWidget *>(box)}) {
        SCOPED_TRACE(w->metaObject()->className());
        TControlSubClass &record = s.record(w);
        sendEnter(w);
        sendPress(w);
        ASSERT_TRUE(record.Hot);
        const int before = record.paintRequests();
        sendHeldMove(w, w->width() + 30, 5);
        EXPECT_FALSE(record.Hot);
        const int offRequests = record.paintRequests();
        EXPECT_GT(offRequests, before);
        sendHeldMove(w, w->width() + 40, 8);
        EXPECT_EQ(record.paintRequests(), offRequests); // still outside: no repaint
        const QImage off = grabOf(w);
        const int right = w->width() - 1, middle = w->height() / 2;
        if (w == box) {
            // The box pen is the plain shadow again, not the select border.
            EXPECT_EQ(pixelAt(off, 2, 6), ColorToRGB(clBtnShadow));
        } else if (w == speed) {
            // A held speed button stays sunken, but on the cold face and border.
            EXPECT_EQ(pixelAt(off, 0, middle), shade);
            EXPECT_EQ(pixelAt(off, 3, 3), ColorToRGB(s.menu->SchemeIconBack));
        } else {
            EXPECT_EQ(pixelAt(off, right, middle), shade);
            EXPECT_EQ(pixelAt(off, 0, middle), outline);
            EXPECT_EQ(pixelAt(off, 3, 3), ColorToRGB(s.menu->SchemeIconBack));
        }
        sendHeldMove(w, 5, 5);
        EXPECT_TRUE(record.Hot);
        const QImage back = grabOf(w);
        if (w == box)
            EXPECT_EQ(pixelAt(back, 2, 6), ColorToRGB(s.menu->SchemeSelectBorder));
        else if (w == speed)
            EXPECT_EQ(pixelAt(back, 3, 3), LightenColor(clBtnFace, s.menu->ParentTintHot));
        else
            EXPECT_EQ(pixelAt(back, right, middle), LightenColor(LightenColor(s.menu->SchemeSelectBorder, 60), 30));
        sendRelease(w);
    }
}

TEST(StyleHeldPress, MovesWithoutAHeldButtonLeaveTheHotStateAlone)
{
    ButtonStage s;
    sendEnter(s.button);
    const QPointF outside(200, 5);
    QMouseEvent move(QEvent::MouseMove, outside, outside, s.button->mapToGlobal(outside), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(s.button, &move);
    EXPECT_TRUE(s.record(s.button).Hot);
}

namespace {

struct ComboStage : Stage {
    TComboBox *combo = nullptr;
    ComboStage()
        : Stage(300, 200)
    {
        combo = add(new TComboBox(&form), 10, 10, 100, 21);
        combo->addItems({QStringLiteral("Mono"), QStringLiteral("Stereo"), QStringLiteral("Joint Stereo")});
        activate();
    }
    bool popupHint() const
    {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        return combo->style()->styleHint(QStyle::SH_ComboBox_Popup, &opt, combo) != 0;
    }
};

} // namespace

TEST(StyleComboOpen, ListDropsBelowTheFieldAndTheButtonShowsTheOpenLook)
{
    ComboStage s;
    EXPECT_FALSE(s.popupHint());
    const int before = s.record(s.combo).paintRequests();
    s.combo->showPopup();
    QWidget *popup = s.combo->view()->window();
    ASSERT_TRUE(popup->isVisible());
    EXPECT_GT(s.record(s.combo).paintRequests(), before);
    // Qt lays the list over the field's last row, its bottom frame line.
    EXPECT_GE(popup->geometry().top(), s.combo->mapToGlobal(QPoint(0, s.combo->height() - 1)).y());

    const QImage open = grabOf(s.combo);
    EXPECT_EQ(pixelAt(open, 96, 15), ColorToRGB(s.menu->SchemeCheckedAreaSelect));
    EXPECT_EQ(pixelAt(open, 86, 10), ColorToRGB(s.menu->SchemeSelectBorder)); // the divider
    for (QPoint p : {QPoint(90, 10), QPoint(94, 10), QPoint(92, 12)})
        EXPECT_EQ(pixelAt(open, p.x(), p.y()), clWhite) << p.x() << "," << p.y();

    s.combo->hidePopup();
    const QImage closed = grabOf(s.combo);
    EXPECT_NE(pixelAt(closed, 96, 15), ColorToRGB(s.menu->SchemeCheckedAreaSelect));
    EXPECT_EQ(pixelAt(closed, 92, 12), clBlack);
}

TEST(StyleComboOpen, UnhookingGivesTheComboItsOwnStyleBack)
{
    ComboStage s;
    ASSERT_FALSE(s.popupHint());
    s.menu->setActive(false);
    EXPECT_EQ(s.combo->style(), QApplication::style());
    EXPECT_FALSE(s.combo->testAttribute(Qt::WA_SetStyle));
}

namespace {

// The columns of an image that hold something else than the background, within a rectangle.
QPair<int, int> inkColumns(const QImage &image, const QRect &area, TColor background)
{
    int first = -1, last = -1;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (pixelAt(image, x, y) != background) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

} // namespace

// The narrow quality list of the window: its label is drawn from x = 3 across the
// field-coloured stripe up to the button's divider, the same ink as the text drawn there
// unclipped.
TEST(StyleComboLabel, ItemShowsWholeFromThreePixelsInUpToTheDivider)
{
    Stage s;
    auto *combo = s.add(new TComboBox(&s.form), 10, 10, 37, 21);
    combo->addItems({QStringLiteral("LQ"), QStringLiteral("MQ"), QStringLiteral("HQ")});
    combo->setCurrentIndex(2);
    s.activate();
    const TRect label = comboLabelRect(combo);
    EXPECT_EQ(label.left, 3);
    EXPECT_EQ(label.right, 37 - 14);

    QImage reference(37, 21, QImage::Format_RGB32);
    reference.fill(Qt::white);
    {
        QPainter p(&reference);
        TCanvas canvas(p);
        canvas.setFont(combo->font(), clBlack);
        canvas.drawText(QStringLiteral("HQ"), {label.left, label.top, 37, label.bottom},
                        DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    const QRect field(2, 3, label.right - 2, 15);
    const auto want = inkColumns(reference, field, clWhite);
    ASSERT_GE(want.first, 3);
    ASSERT_LT(want.second, label.right) << "the item does not fit the field at this font";
    const auto got = inkColumns(grabOf(combo), field, clWhite);
    EXPECT_EQ(got, want);
}

TEST(StyleGroupBox, AmpersandInTheCaptionIsShownAndMeasured)
{
    GroupStage s(QStringLiteral("L&R"), false);
    const QImage img = grabOf(s.box);
    const QFontMetrics fm(s.box->font());
    const int tw = fm.horizontalAdvance(QStringLiteral("L&R"));
    ASSERT_GT(tw, fm.horizontalAdvance(QStringLiteral("LR")) + 2);
    const int line = s.th / 2 + 1;
    // The frame line leaves a gap as wide as the whole caption, "&" included.
    EXPECT_EQ(pixelAt(img, 9 + tw - 1, line), s.boxColor);
    EXPECT_EQ(pixelAt(img, 9 + tw + 1, line), DarkenColor(s.boxColor, 60));
    int inkRight = 0;
    for (int x = 9; x < 9 + tw; ++x)
        for (int y = 0; y < s.th; ++y)
            if (pixelAt(img, x, y) != s.boxColor && pixelAt(img, x, y) != s.parentColor)
                inkRight = x;
    EXPECT_GT(inkRight, 9 + fm.horizontalAdvance(QStringLiteral("LR")));
}

TEST(StyleProgressBar, RingInsideTheFrameTakesTheBaseColour)
{
    Stage s;
    auto *bar = s.add(new TProgressBar(&s.form), 10, 10, 313, 17);
    bar->setRange(0, 100);
    s.activate();
    const TColor base = fromQColor(bar->palette().color(QPalette::Base));
    for (int value : {0, 50}) {
        bar->setValue(value);
        const QImage img = grabOf(bar);
        for (QPoint p : {QPoint(1, 1), QPoint(311, 1), QPoint(1, 15), QPoint(311, 15), QPoint(200, 1), QPoint(311, 8)})
            EXPECT_EQ(pixelAt(img, p.x(), p.y()), base) << value << " at " << p.x() << "," << p.y();
        EXPECT_EQ(pixelAt(img, 0, 0), DarkenColor(s.formColor(), 60));
    }
}

namespace {

TColor bitwiseAnd(TColor a, TColor b)
{
    return ColorToRGB(a) & ColorToRGB(b);
}

} // namespace

// The tint of a transparent speed button is chosen by the depth of the screen it is on.
TEST(StyleScreenDepth, SchemeAndSpeedButtonTintFollowTheScreen)
{
    Stage s;
    auto *button = s.add(new TSpeedButton(QString(), &s.form), 10, 10, 52, 22);
    button->Transparent = true;
    s.activate();
    const int depth = s.form.screen()->depth();
    EXPECT_EQ(s.menu->BitsPerPixel, depth);
    EXPECT_EQ(s.menu->HighColor, depth > 15);

    sendEnter(button);
    const TColor face = LightenColor(clBtnFace, s.menu->ParentTintHot);
    const TColor under = s.formColor();
    const TColor screenTint = depth <= 16 ? face : LightenColor(face, 5);
    EXPECT_EQ(pixelAt(grabOf(button), 26, 4), bitwiseAnd(screenTint, under));

    s.menu->BuildColorScheme(16);
    EXPECT_EQ(pixelAt(grabOf(button), 26, 4), bitwiseAnd(face, under));
}

TEST(StylePushButton, FocusedShowsADottedMarkInTheSelectBorderColour)
{
    ButtonStage s;
    const TColor mark = ColorToRGB(s.menu->SchemeSelectBorder);
    EXPECT_NE(pixelAt(s.shot(), 3, 3), mark);
    QApplication::setActiveWindow(&s.form);
    s.button->setFocus();
    ASSERT_TRUE(s.button->hasFocus());
    sendLeave(s.button); // focus made it hot; the pointer is elsewhere
    const QImage img = s.shot();
    for (QPoint p : {QPoint(3, 3), QPoint(5, 3), QPoint(3, 21), QPoint(71, 5), QPoint(41, 21)})
        EXPECT_EQ(pixelAt(img, p.x(), p.y()), mark) << p.x() << "," << p.y();
    EXPECT_NE(pixelAt(img, 4, 3), mark);
    s.button->clearFocus();
    EXPECT_NE(pixelAt(s.shot(), 3, 3), mark);
}
