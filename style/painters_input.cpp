#include "style/painters_input.h"

#include "app/controls.h"
#include "style/XPMenu.h"
#include "style/canvas.h"
#include "style/controlkinds.h"
#include "style/controlsubclass.h"
#include "style/glyph.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QPainter>
#include <QPushButton>

#include <cmath>

namespace {

// The combo arrow: rows of five, three and one pixels, starting this far down.
constexpr int kComboArrowTop = 10;
constexpr int kComboArrowFromRight = 10;
constexpr int kComboArrowFromLeft = 5;
constexpr int kComboStripe = 5;
constexpr int kCheckBoxInset = 3;
// Distance of a push button's dotted focus mark from its edge.
constexpr int kFocusMarkInset = 3;
constexpr int kButtonCorner = 4;
constexpr int kComboLabelIndent = 3;
constexpr int kComboIconGap = 4;

bool popupShown(const QComboBox *combo)
{
    const QAbstractItemView *view = combo->view();
    return view && view->window() && view->window() != combo->window() && view->window()->isVisible();
}

// Qt paints a pick-only combo box as a raised button; clear it to a plain field in the
// control's colour.
void clearComboField(QComboBox *combo, TCanvas &canvas, TColor color)
{
    TRect field = clientRect(combo);
    field.inflate(-1, -1);
    canvas.setBrush(color);
    canvas.fillRect(field);
}

// Puts the current item back in the whole width the flat field leaves it, rather than in
// the narrower place Fusion gives it.
void drawComboLabel(QComboBox *combo, TCanvas &canvas)
{
    if (combo->isEditable())
        return; // its line edit draws the text
    TRect label = comboLabelRect(combo);
    const QIcon icon = combo->itemIcon(combo->currentIndex());
    const bool rtl = bidiMode(combo) == 1;
    if (!icon.isNull()) {
        const QSize size = combo->iconSize();
        const int x = rtl ? label.right - size.width() : label.left;
        const int y = label.top + (label.height() - size.height()) / 2;
        const QIcon::Mode mode = combo->isEnabled() ? QIcon::Normal : QIcon::Disabled;
        icon.paint(&canvas.painter(), QRect(x, y, size.width(), size.height()), Qt::AlignCenter, mode);
        if (rtl)
            label.right -= size.width() + kComboIconGap;
        else
            label.left += size.width() + kComboIconGap;
    }
    canvas.setFont(combo->font(), fromQColor(combo->palette().color(QPalette::Text)));
    canvas.drawText(combo->currentText(), label,
                    (rtl ? DT_RIGHT | DT_RTLREADING : DT_LEFT) | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

} // namespace

TRect comboLabelRect(const QComboBox *combo)
{
    // The button begins the thumb width and three pixels from the side it sits on, with
    // the stripe in the field's colour as its first five pixels: the label may run across
    // the stripe up to the divider. Right to left, a hot button reaches one pixel further.
    const TRect client = clientRect(combo);
    const int divider = kThumbWidth + 3 - kComboStripe;
    TRect r{client.left + kComboLabelIndent, client.top + 1, client.right - divider, client.bottom - 1};
    if (bidiMode(combo) == 1) {
        r.left = client.left + divider + 2;
        r.right = client.right - kComboLabelIndent;
    }
    return r;
}

void PaintComboBox(TControlSubClass &sub, TCanvas &canvas)
{
    auto *combo = qobject_cast<QComboBox *>(sub.Control.data());
    const TXPMenu &menu = *sub.XPMenu;
    const TColor color = controlColor(combo);
    const TColor parentBg = parentBackground(combo);
    const bool rtl = bidiMode(combo) == 1;
    const bool lit = sub.Hot || sub.Focused;

    TColor arrow = combo->isEnabled() ? clBlack : clWhite;
    TColor border, button;
    if (sub.Hot) {
        border = menu.SchemeSelectBorder;
        button = menu.SchemeSelect;
    } else {
        border = color;
        button = controlTag(combo) == kTagParentFace ? LightenColor(parentBg, menu.ParentTint) : clBtnFace;
        if (sub.Focused) {
            border = LightenColor(menu.SchemeSelectBorder, 60);
            button = menu.SchemeCheckedArea;
        }
    }

    clearComboField(combo, canvas, color);

    TRect r = clientRect(combo);
    canvas.setBrush(parentBg);
    canvas.frameRect(r);
    r.inflate(-1, -1);
    canvas.setPen(parentBg);
    canvas.line({r.left, r.top}, {r.right, r.top});
    r.inflate(0, -1);
    if (lit)
        r.inflate(1, 1);
    canvas.setBrush(color);
    canvas.frameRect(r);
    r.bottom += 1;
    canvas.setBrush(border);
    canvas.frameRect(r);

    if (popupShown(combo)) {
        border = menu.SchemeSelectBorder;
        arrow = clWhite;
        button = menu.SchemeCheckedAreaSelect;
    }
    // Qt has no combo box whose list is always shown, so the button is always drawn.

    r.inflate(-1, -1);
    if (rtl) {
        r.right = r.left + kThumbWidth + 1;
        if (lit)
            r.right += 2;
    } else {
        r.left = r.right - kThumbWidth - 1;
        if (lit)
            r.left -= 1;
    }
    canvas.setBrush(button);
    canvas.fillRect(r);

    if (rtl)
        r.left = r.right - kComboStripe;
    else
        r.right = r.left + kComboStripe;
    canvas.setBrush(color);
    canvas.fillRect(r);
    drawComboLabel(combo, canvas);

    const int divider = rtl ? r.left : r.right;
    canvas.setPen(border);
    canvas.line({divider, r.top}, {divider, r.bottom});

    r = clientRect(combo);
    const int x = rtl ? r.left + kComboArrowFromLeft : r.right - kComboArrowFromRight;
    const int y = r.top + kComboArrowTop;
    canvas.setPen(arrow);
    canvas.line({x, y}, {x + 5, y});
    canvas.line({x + 1, y + 1}, {x + 4, y + 1});
    canvas.line({x + 2, y + 2}, {x + 3, y + 2});
}

void PaintEdit(TControlSubClass &sub, TCanvas &canvas)
{
    QWidget *edit = sub.Control;
    const TXPMenu &menu = *sub.XPMenu;
    if (controlCtl3D(edit)) {
        // The edit loses its sunken frame; the record stays through the change.
        sub.Recreating = true;
        setControlCtl3D(edit, false);
    }
    const TColor color = controlColor(edit);
    const TColor parentBg = parentBackground(edit);
    TColor border = (sub.Hot || sub.Focused) ? LightenColor(menu.SchemeSelectBorder, 60) : DarkenColor(parentBg, 60);
    if (sub.SavedBorderStyle == TEdit::bsNone)
        border = (sub.Hot && !sub.Focused) ? LightenColor(AverageColor({color, parentBg}), 40) : color;
    canvas.setPen(border);
    canvas.setHollowBrush();
    canvas.rectangle(clientRect(edit));
}

void PaintCheckBox(TControlSubClass &sub, TCanvas &canvas)
{
    auto *box = qobject_cast<QCheckBox *>(sub.Control.data());
    const TXPMenu &menu = *sub.XPMenu;
    const Qt::CheckState state = box->checkState();
    const bool grayed = state == Qt::PartiallyChecked;

    TColor fill = clWindow;
    TColor pen = clBtnShadow;
    if (sub.Hot || sub.Focused) {
        fill = menu.SchemeSelect;
        pen = menu.SchemeSelectBorder;
    }
    if (sub.SpaceDown || sub.MouseDown)
        fill = menu.SchemeCheckedAreaSelect;
    if (grayed)
        fill = clSilver;

    TRect r = clientRect(box);
    r.inflate(0, -kCheckBoxInset);
    r.top += (r.height() - kThumbWidth) / 2;
    r.bottom = r.top + kThumbWidth;

    // A Qt check box always shows its caption right of the box (mirrored right to left).
    constexpr int alignment = 1;
    const int bidi = bidiMode(box);
    if ((bidi == 0 && alignment == 0) || (bidi == 1 && alignment == 1))
        r.left = r.right - kThumbWidth + 1;
    else if ((bidi == 0 && alignment == 1) || (bidi == 1 && alignment == 0))
        r.right = r.left + kThumbWidth - 1;

    canvas.setBrush(controlColor(box));
    canvas.fillRect(r);
    r.inflate(-2, -2);
    canvas.setPen(pen);
    canvas.setBrush(fill);
    canvas.rectangle(r);

    if (state == Qt::Unchecked)
        return;
    TColor mark = clHighlight;
    if (!box->isEnabled())
        mark = menu.SchemeDisabled;
    else if (sub.SpaceDown || sub.MouseDown)
        mark = clWindow;
    else if (grayed)
        mark = clGray;
    canvas.setPen(mark);
    const int x = r.left, y = r.bottom;
    if (paintPixelRatio(canvas.painter()) > 1) {
        DrawSmoothCheckMark(canvas.painter(), x, y, toQColor(mark));
        return;
    }
    for (int i = 0; i < 3; ++i)
        canvas.polyline({{x + 2, y - i - 5}, {x + 4, y - i - 3}, {x + 9, y - i - 8}});
}

void DrawSmoothCheckMark(QPainter &painter, int x, int y, const QColor &color)
{
    // The three one-pixel polylines of the tick make a band three pixels high; on a scaled
    // screen they would show as steps of whole logical pixels. The same band as one stroke:
    // its centre line, 3 / sqrt(2) wide across the diagonals, from the first pixel's left
    // edge to the last one's right edge.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(color, 3 / std::sqrt(2.0), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QPolygonF centre{QPointF(x + 2, y - 6), QPointF(x + 4.5, y - 3.5), QPointF(x + 9, y - 8)};
    painter.drawPolyline(centre);
    painter.restore();
}

void PaintPushButton(TControlSubClass &sub, TCanvas &canvas)
{
    auto *button = qobject_cast<QPushButton *>(sub.Control.data());
    const TXPMenu &menu = *sub.XPMenu;
    const TColor parentBg = parentBackground(button);
    const bool parentFace = controlTag(button) == kTagParentFace;

    TColor face, base;
    if (sub.Hot) {
        face = LightenColor(parentFace ? parentBg : clBtnFace, menu.ParentTintHot);
        base = LightenColor(menu.SchemeSelectBorder, 60);
    } else {
        face = parentFace ? LightenColor(parentBg, menu.ParentTint) : menu.SchemeIconBack;
        base = sub.Focused ? LightenColor(menu.SchemeSelectBorder, 60) : clBtnShadow;
    }

    const TRect r = clientRect(button);
    const int w = r.width(), h = r.height();
    canvas.setBrush(parentBg);
    canvas.fillRect(r);
    canvas.setBrush(face);
    canvas.setPen(LightenColor(base, 30));
    canvas.roundRect(r, kButtonCorner, kButtonCorner);

    if (button->isEnabled())
        DrawButtonEdge(canvas, r, base, sub.SpaceDown || (sub.MouseDown && sub.Hot));
    // The lightened edge alone is too faint to find the keyboard's place by.
    if (sub.Focused && button->isEnabled())
        DrawFocusMark(canvas, r, menu.SchemeSelectBorder);

    const QString caption = button->text();
    const TColor textColor = fontColor(button);
    const unsigned rtl = readsRightToLeft(button) ? DT_RTLREADING : 0;
    canvas.setFont(button->font(), textColor);
    const QSize extent = caption.isEmpty() ? QSize(0, 0) : canvas.textExtent(caption, DT_CALCRECT | rtl);
    TRect text;
    text.left = (w - extent.width()) / 2;
    text.right = text.left + extent.width();
    text.top = (h - extent.height()) / 2;
    text.bottom = text.top + extent.height();
    const unsigned format = DT_CENTER | DT_VCENTER | rtl;

    if (button->isDefault() && button->isEnabled())
        DrawDefaultCaptionHalo(canvas, caption, button->font(), face, format, text);
    DrawCaptionText(canvas, caption, button->font(), textColor, menu.SchemeDisabled, format, text, button->isEnabled());
}

void DrawDefaultCaptionHalo(TCanvas &canvas, const QString &caption, const QFont &font, TColor face,
                            unsigned format, const TRect &text)
{
    if (caption.isEmpty())
        return;
    const struct { int dx, dy, amount; } halo[] = {{-1, 0, 30}, {0, -1, 30}, {1, 0, 40}, {1, 1, 60}};
    for (const auto &pass : halo) {
        TRect shifted = text;
        shifted.left += pass.dx;
        shifted.right += pass.dx;
        shifted.top += pass.dy;
        shifted.bottom += pass.dy;
        const TColor shade = DarkenColor(face, pass.amount);
        DrawCaptionText(canvas, caption, font, shade, shade, format, shifted, true);
    }
}

void DrawFocusMark(TCanvas &canvas, TRect r, TColor color)
{
    r.inflate(-kFocusMarkInset, -kFocusMarkInset);
    if (r.isEmpty())
        return;
    for (int x = r.left; x < r.right; x += 2) {
        canvas.setPixel(x, r.top, color);
        canvas.setPixel(x, r.bottom - 1, color);
    }
    for (int y = r.top; y < r.bottom; y += 2) {
        canvas.setPixel(r.left, y, color);
        canvas.setPixel(r.right - 1, y, color);
    }
}

void DrawButtonEdge(TCanvas &canvas, const TRect &r, TColor base, bool pressed)
{
    canvas.setPen(DarkenColor(base, 50));
    if (pressed)
        canvas.polyline({{r.left, r.bottom - 2}, {r.left, r.top + 1}, {r.left + 1, r.top}, {r.right - 1, r.top}});
    else
        canvas.polyline({{r.right - 1, r.top + 1},
                         {r.right - 1, r.bottom - 2},
                         {r.right - 2, r.bottom - 1},
                         {r.left, r.bottom - 1}});
}
