#pragma once

// The speed-button glyphs and the application icon, drawn in code.
//
// A glyph is a 16 x 16 picture on an olive background that counts as transparent; a
// two-image glyph holds the normal and the disabled picture side by side (32 x 16).

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

enum class TGlyph { Record, Play, Pause, Stop, Continue };

inline const QColor kGlyphTransparent{0x80, 0x80, 0x00}; // olive

// The bitmap as stored: olive background, NumGlyphs images side by side. At `scale` 2 the
// same motifs are drawn on twice the pixels, with a device pixel ratio of 2, for scaled screens.
QImage glyphBitmap(TGlyph glyph, int scale = 1);
int glyphImageCount(TGlyph glyph);
// The bitmap with its olive pixels made transparent.
QPixmap glyphPixmap(TGlyph glyph, int scale = 1);
// Makes every pixel of the colour of the bottom-left pixel transparent.
QPixmap transparentBitmap(const QImage &bitmap);

// The 48 x 48, 256-colour application icon: a studio microphone on its stand with a cable.
QImage applicationIconImage();
QIcon applicationIcon();
