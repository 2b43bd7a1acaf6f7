#include "app/glyphs.h"

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include <ostream>

namespace {

struct GlyphCase
{
    const char *name;
    TGlyph glyph;
    int images;
    // The dominant channel of the motif's face at its centre: 0 red, 1 green, 2 blue.
    int channel;
};

void PrintTo(const GlyphCase &c, std::ostream *os)
{
    *os << c.name;
}


class GlyphTest : public testing::TestWithParam<GlyphCase> {};

int dominant(QRgb c)
{
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    if (r > g && r > b)
        return 0;
    if (g > r && g > b)
        return 1;
    return b > r && b > g ? 2 : -1;
}

bool isGrey(QRgb c)
{
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
}

} // namespace

TEST_P(GlyphTest, StripHasOneSixteenPixelImagePerGlyphOnOlive)
{
    const GlyphCase &c = GetParam();
    const QImage bitmap = glyphBitmap(c.glyph);
    EXPECT_EQ(glyphImageCount(c.glyph), c.images);
    EXPECT_EQ(bitmap.size(), QSize(16 * c.images, 16));
    // The transparent key is the bottom-left pixel, and every cell's corners show it.
    for (int i = 0; i < c.images; ++i) {
        EXPECT_EQ(QColor(bitmap.pixel(16 * i, 15)), kGlyphTransparent);
        EXPECT_EQ(QColor(bitmap.pixel(16 * i + 15, 0)), kGlyphTransparent);
    }
}

TEST_P(GlyphTest, MotifColourAtTheCentreAndOliveBecomesTransparent)
{
    const GlyphCase &c = GetParam();
    const QImage pix = glyphPixmap(c.glyph).toImage();
    EXPECT_EQ(qAlpha(pix.pixel(0, 15)), 0);
    EXPECT_EQ(qAlpha(pix.pixel(0, 0)), 0);
    // Continue's bar is at the left, its triangle at the right; the others are centred.
    const QPoint probe = c.glyph == TGlyph::Continue ? QPoint(10, 8) : c.glyph == TGlyph::Pause ? QPoint(5, 8) : QPoint(8, 8);
    const QRgb centre = pix.pixel(probe);
    EXPECT_EQ(qAlpha(centre), 255);
    EXPECT_EQ(dominant(centre), c.channel) << c.name;
}

class TwoImageGlyphTest : public GlyphTest {};

TEST_P(TwoImageGlyphTest, DisabledImageIsGrey)
{
    const GlyphCase &c = GetParam();
    const QImage pix = glyphPixmap(c.glyph).toImage();
    int opaque = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x) {
            const QRgb p = pix.pixel(x, y);
            if (qAlpha(p) == 0)
                continue;
            ++opaque;
            EXPECT_TRUE(isGrey(p)) << c.name << " at " << x << "," << y;
        }
    EXPECT_GT(opaque, 20);
}

const GlyphCase kRecord{"record", TGlyph::Record, 2, 0};
const GlyphCase kPlay{"play", TGlyph::Play, 2, 1};
const GlyphCase kPause{"pause", TGlyph::Pause, 1, 0};
const GlyphCase kStop{"stop", TGlyph::Stop, 2, 2};
const GlyphCase kContinue{"continue", TGlyph::Continue, 1, 1};
auto glyphName = [](const auto &info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(Glyphs, GlyphTest, testing::Values(kRecord, kPlay, kPause, kStop, kContinue), glyphName);
INSTANTIATE_TEST_SUITE_P(Glyphs, TwoImageGlyphTest, testing::Values(kRecord, kPlay, kStop), glyphName);

TEST(ApplicationIcon, IsA48PixelPaletteImageOnABlueGreenGround)
{
    const QImage icon = applicationIconImage();
    EXPECT_EQ(icon.size(), QSize(48, 48));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 256);
    // The ground near the left edge, clear of the stand.
    const QRgb ground = icon.pixel(5, 20);
    EXPECT_GT(qGreen(ground), qRed(ground));
    EXPECT_GT(qBlue(ground), qRed(ground));
    // The microphone's metal head is light and neutral.
    const QRgb head = icon.pixel(24, 6);
    EXPECT_GT(qRed(head), 120);
    EXPECT_LT(std::abs(qRed(head) - qBlue(head)), 40);
    EXPECT_FALSE(applicationIcon().isNull());
}
