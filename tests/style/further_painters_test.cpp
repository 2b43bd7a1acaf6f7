#include "events.h"
#include "testwindow.h"

#include "style/controlsubclass.h"
#include "style/painters_further.h"

#include <QCursor>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {


// The glyph of the bitmap-button tests: olive ground with a blue square in the middle.
QPixmap squareGlyph()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 0));
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x)
            image.setPixel(x, y, qRgb(0, 0, 200));
    return QPixmap::fromImage(image);
}

bool anyPixel(const QImage &image, const QRect &area, TColor color)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (pixelAt(image, x, y) == color)
                return true;
    return false;
}

} // namespace

// The radio's circle is drawn in (2, 6)-(12, 16) of a 24-pixel-high button, its dot in
// (4, 8)-(10, 14): the middle row crosses pen, fill, then the dot.
TEST(StyleRadioButton, DotSitsTwoPixelsInsideTheCircle)
{
    Stage s(300, 160);
    auto *radio = s.add(new QRadioButton(QStringLiteral("Mono"), &s.form), 10, 10, 100, 24);
    radio->setChecked(true);
    s.activate();
    const QImage img = grabOf(radio);
    const TColor highlight = ColorToRGB(clHighlight);
    EXPECT_EQ(pixelAt(img, 7, 11), highlight);
    EXPECT_EQ(pixelAt(img, 4, 11), highlight);
    EXPECT_EQ(pixelAt(img, 3, 11), ColorToRGB(clWindow));
    EXPECT_EQ(pixelAt(img, 2, 11), ColorToRGB(clBtnShadow));
    EXPECT_EQ(pixelAt(img, 1, 11), ColorToRGB(controlColor(radio)));
}

TEST(StyleRadioButton, DisabledDotTakesTheDisabledColour)
{
    Stage s(300, 160);
    auto *radio = s.add(new QRadioButton(QStringLiteral("Mono"), &s.form), 10, 10, 100, 24);
    radio->setChecked(true);
    radio->setEnabled(false);
    s.activate();
    const QImage img = grabOf(radio);
    EXPECT_EQ(pixelAt(img, 7, 11), ColorToRGB(s.menu->SchemeDisabled));
    EXPECT_EQ(pixelAt(img, 3, 11), ColorToRGB(clWindow));
}

TEST(StyleRadioButton, UncheckedHotCircleIsSelectFilledWithoutADot)
{
    Stage s(300, 160);
    auto *radio = s.add(new QRadioButton(QStringLiteral("Mono"), &s.form), 10, 10, 100, 24);
    s.activate();
    sendEnter(radio);
    const QImage img = grabOf(radio);
    EXPECT_EQ(pixelAt(img, 7, 11), ColorToRGB(s.menu->SchemeSelect));
    EXPECT_EQ(pixelAt(img, 2, 11), ColorToRGB(s.menu->SchemeSelectBorder));
}

TEST(StyleBitBtn, PlainButtonHasShadingAndCentredGlyph)
{
    Stage s(300, 160);
    auto *button = s.add(new TBitBtn(QString(), &s.form), 10, 10, 40, 30);
    button->setGlyph(squareGlyph(), 1);
    s.activate();
    const QImage img = grabOf(button);
    // Raised shading on the right edge, in the darkened shadow colour.
    EXPECT_EQ(pixelAt(img, 39, 15), DarkenColor(clBtnShadow, 50));
    // No caption: the glyph is centred, its (faded) blue square in the middle and its
    // olive ground around it, nothing of it beyond.
    const TColor middle = pixelAt(img, 20, 15);
    EXPECT_GT((middle >> 16) & 0xFF, middle & 0xFF);
    EXPECT_GT((pixelAt(img, 16, 12) >> 16) & 0xFF, pixelAt(img, 16, 12) & 0xFF);
    EXPECT_EQ(pixelAt(img, 15, 12), pixelAt(img, 5, 12)); // the olive ground is transparent
    EXPECT_FALSE(anyPixel(img, QRect(3, 3, 8, 24), middle));
}

TEST(StyleBitBtn, Tag1001HasNoBorderShading)
{
    Stage s(300, 160);
    auto *button = s.add(new TBitBtn(QStringLiteral("Go"), &s.form), 10, 10, 60, 30);
    setControlTag(button, 1001);
    s.activate();
    const QImage img = grabOf(button);
    const TColor face = LightenColor(fromQColor(s.form.palette().color(QPalette::Window)), s.menu->ParentTint);
    // The face is the border base: the outline is the face lightened, with no shading.
    const TColor outline = LightenColor(face, 30);
    ASSERT_NE(outline, face);
    EXPECT_EQ(pixelAt(img, 59, 15), outline);
    EXPECT_EQ(pixelAt(img, 30, 29), outline);
    EXPECT_EQ(pixelAt(img, 0, 15), outline);
    EXPECT_EQ(pixelAt(img, 30, 0), outline);
    EXPECT_EQ(pixelAt(img, 58, 15), face);
    EXPECT_EQ(pixelAt(img, 30, 28), face);
}

TEST(StyleBitBtn, Tag1003IsBorderlessParentTintedWithItsCaptionLeft)
{
    Stage s(300, 160);
    QPalette pal = s.form.palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 0));
    pal.setColor(QPalette::ButtonText, QColor(255, 255, 0));
    s.form.setPalette(pal);
    auto *button = s.add(new TBitBtn(QStringLiteral("Go"), &s.form), 10, 10, 100, 30);
    setControlTag(button, 1003);
    s.activate();
    const QImage img = grabOf(button);
    const TColor face = LightenColor(clBlack, s.menu->ParentTint);
    EXPECT_EQ(pixelAt(img, 50, 2), face);
    EXPECT_EQ(pixelAt(img, 99, 15), LightenColor(face, 30));
    EXPECT_EQ(pixelAt(img, 50, 29), LightenColor(face, 30));
    EXPECT_EQ(pixelAt(img, 98, 15), face);
    // The caption starts four pixels in from the left and leaves the right half empty.
    bool leftText = false, rightText = false;
    for (int y = 2; y < 28; ++y) {
        for (int x = 2; x < 98; ++x) {
            if (pixelAt(img, x, y) == face || pixelAt(img, x, y) == clBlack)
                continue;
            (x < 30 ? leftText : rightText) = true;
        }
    }
    EXPECT_TRUE(leftText);
    EXPECT_FALSE(rightText);
}

TEST(StyleUpDown, HotHalfFollowsThePointer)
{
    EXPECT_EQ(upDownHotHalf(true, true, 30, 3), 1);
    EXPECT_EQ(upDownHotHalf(true, true, 30, 15), -1);
    EXPECT_EQ(upDownHotHalf(true, false, 30, 3), 0);
    EXPECT_EQ(upDownHotHalf(false, true, 30, 3), 0);
}

TEST(StyleUpDown, HighlightMovesWithThePointerAndTurnsPressed)
{
    Stage s(300, 160);
    auto *updown = s.add(new TUpDown(&s.form), 10, 10, 17, 30);
    s.activate();
    const TColor hotFill = LightenColor(s.menu->SchemeSelect, 60);
    const TColor coldFill = LightenColor(s.menu->SchemeSelect, s.menu->ParentTint);

    sendEnter(updown);
    QCursor::setPos(updown->mapToGlobal(QPoint(8, 3)));
    QImage img = grabOf(updown);
    EXPECT_EQ(pixelAt(img, 0, 0), ColorToRGB(s.menu->SchemeSelectBorder));
    EXPECT_EQ(pixelAt(img, 2, 2), hotFill);
    EXPECT_EQ(pixelAt(img, 2, 17), coldFill);

    QCursor::setPos(updown->mapToGlobal(QPoint(8, 25)));
    img = grabOf(updown);
    EXPECT_EQ(pixelAt(img, 2, 2), coldFill);
    EXPECT_EQ(pixelAt(img, 2, 17), hotFill);

    sendPress(updown, 8, 25);
    img = grabOf(updown);
    EXPECT_EQ(pixelAt(img, 2, 17), ColorToRGB(s.menu->SchemeCheckedAreaSelect));
    // The arrow of the pressed half is white: its tip sits at the box's middle.
    EXPECT_EQ(pixelAt(img, 8, 15 + 7 - 2 + 3), clWhite);
    sendRelease(updown, 8, 25);
    EXPECT_EQ(updown->Position(), 0);
}

TEST(StyleWindowBorder, ListBoxGetsAFlatOutlineAndLosesItsSunkenLook)
{
    Stage s(300, 160);
    auto *list = s.add(new QListWidget(&s.form), 10, 10, 120, 80);
    s.activate();
    grabOf(list);
    const QImage img = grabOf(list);
    const TColor parentBg = fromQColor(s.form.palette().color(QPalette::Window));
    EXPECT_EQ(pixelAt(img, 0, 40), DarkenColor(parentBg, 60));
    EXPECT_EQ(pixelAt(img, 60, 79), DarkenColor(parentBg, 60));
    EXPECT_FALSE(controlCtl3D(list));
    sendEnter(list);
    EXPECT_EQ(pixelAt(grabOf(list), 0, 40), LightenColor(s.menu->SchemeSelectBorder, 60));

    // Unhooking gives back only the border style; Ctl3D stays as the flat look left it.
    s.menu->setActive(false);
    EXPECT_FALSE(controlCtl3D(list));
    EXPECT_EQ(controlBorderStyle(list), TEdit::bsSingle);
}

TEST(StyleBorderedEdit, MemoGetsAFlatBorderAndGetsItsOwnBack)
{
    Stage s(300, 160);
    auto *memo = s.add(new QPlainTextEdit(&s.form), 10, 10, 120, 80);
    s.activate();
    grabOf(memo);
    const QImage img = grabOf(memo);
    const TColor parentBg = fromQColor(s.form.palette().color(QPalette::Window));
    EXPECT_EQ(pixelAt(img, 0, 40), DarkenColor(parentBg, 60));
    EXPECT_EQ(pixelAt(img, 1, 40), controlColor(memo));
    EXPECT_EQ(controlBorderStyle(memo), TEdit::bsNone);

    s.menu->setActive(false);
    EXPECT_EQ(controlBorderStyle(memo), TEdit::bsSingle);
    EXPECT_TRUE(controlCtl3D(memo));
}

TEST(StyleHotKey, FrameIsTheBorderColourOverAWindowRing)
{
    Stage s(300, 160);
    auto *key = s.add(new THotKey(&s.form), 10, 10, 120, 22);
    s.activate();
    QImage img = grabOf(key);
    const TColor parentBg = fromQColor(s.form.palette().color(QPalette::Window));
    EXPECT_EQ(pixelAt(img, 0, 10), DarkenColor(parentBg, 60));
    EXPECT_EQ(pixelAt(img, 1, 10), ColorToRGB(clWindow));
    EXPECT_EQ(pixelAt(img, 60, 1), ColorToRGB(clWindow));
    sendEnter(key);
    img = grabOf(key);
    EXPECT_EQ(pixelAt(img, 0, 10), LightenColor(s.menu->SchemeSelectBorder, 60));
}

TEST(StyleKinds, FurtherKindsAndTheirClasses)
{
    TForm form;
    EXPECT_EQ(controlKind(new TBitBtn(QString(), &form)), TControlKind::BitBtn);
    EXPECT_EQ(controlKind(new TUpDown(&form)), TControlKind::UpDown);
    EXPECT_EQ(controlKind(new THotKey(&form)), TControlKind::HotKey);
    EXPECT_EQ(controlKind(new QRadioButton(&form)), TControlKind::RadioButton);
    EXPECT_TRUE(isBorderedEdit(new QPlainTextEdit(&form)));
    EXPECT_TRUE(isWindowBorderKind(new QListWidget(&form)));
}
