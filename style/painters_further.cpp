#include "style/painters_further.h"

#include "app/controls.h"
#include "style/XPMenu.h"
#include "style/canvas.h"
#include "style/controlkinds.h"
#include "style/controlsubclass.h"
#include "style/glyph.h"
#include "style/painters_frame.h"
#include "style/painters_input.h"

#include <QCursor>
#include <QRadioButton>

namespace {

constexpr int kRadioInset = 4;
constexpr int kButtonCorner = 4;
constexpr int kTagBorderless = 1001;
constexpr int kTagCaptionLeft = 1002;

bool hasTagBits(const QWidget *w, int bits)
{
    return (controlTag(w) & bits) == bits;
}

void outline(TCanvas &canvas, const TRect &r, TColor color)
{
    canvas.setPen(color);
    canvas.setHollowBrush();
    canvas.rectangle(r);
}

void arrowUp(TCanvas &canvas, int x, int y)
{
    canvas.line({x, y}, {x, y - 1});
    canvas.line({x + 1, y + 1}, {x + 4, y + 4});
    canvas.line({x, y + 1}, {x + 3, y + 4});
    canvas.line({x, y + 2}, {x + 2, y + 4});
    canvas.line({x - 1, y + 1}, {x - 4, y + 4});
    canvas.line({x, y + 2}, {x - 3, y + 4});
    canvas.line({x, y + 1}, {x - 2, y + 4});
}

void arrowDown(TCanvas &canvas, int x, int y)
{
    canvas.line({x, y + 3}, {x, y + 4});
    canvas.line({x + 1, y + 2}, {x + 4, y - 1});
    canvas.line({x, y + 2}, {x + 3, y - 1});
    canvas.line({x, y + 1}, {x + 2, y});
    canvas.line({x - 1, y + 2}, {x - 4, y - 1});
    canvas.line({x, y + 2}, {x - 3, y - 1});
    canvas.line({x, y + 1}, {x - 2, y});
}

} // namespace

void PaintRadioButton(TControlSubClass &sub, TCanvas &canvas)
{
    auto *radio = qobject_cast<QRadioButton *>(sub.Control.data());
    const TXPMenu &menu = *sub.XPMenu;
    TColor fill = clWindow;
    TColor pen = clBtnShadow;
    if (sub.Hot) {
        fill = menu.SchemeSelect;
        pen = menu.SchemeSelectBorder;
    }
    if (sub.Focused)
        fill = menu.SchemeSelect;

    TRect r = clientRect(radio);
    r.inflate(0, -kRadioInset);
    r.top += (r.height() - kThumbWidth) / 2;
    r.bottom = r.top + kThumbWidth - 1;

    // As on the check box: Qt puts the caption right of the button, mirrored right to left.
    if (bidiMode(radio) == 1)
        r.left = r.right - kThumbWidth + 1;
    else
        r.right = r.left + kThumbWidth - 1;

    canvas.setBrush(controlColor(radio));
    canvas.fillRect(r);
    r.inflate(-2, -2);
    canvas.setBrush(fill);
    canvas.setPen(pen);
    canvas.ellipse(r);

    if (!radio->isChecked())
        return;
    r.inflate(-2, -2);
    const TColor dot = radio->isEnabled() ? clHighlight : menu.SchemeDisabled;
    canvas.setBrush(dot);
    canvas.setPen(dot);
    canvas.ellipse(r);
}

void PaintBitBtn(TControlSubClass &sub, TCanvas &canvas)
{
    auto *button = qobject_cast<TBitBtn *>(sub.Control.data());
    const TXPMenu &menu = *sub.XPMenu;
    const TColor parentBg = parentBackground(button);
    const bool parentFace = hasTagBits(button, kTagParentFace);
    const bool borderless = hasTagBits(button, kTagBorderless);
    const bool enabled = button->isEnabled();

    TColor face, base;
    if (sub.Hot || sub.SpaceDown) {
        face = LightenColor(parentFace ? parentBg : clBtnFace, menu.ParentTintHot);
        base = LightenColor(menu.SchemeSelectBorder, 60);
    } else {
        face = parentFace ? LightenColor(parentBg, menu.ParentTint) : menu.SchemeIconBack;
        base = sub.Focused ? LightenColor(menu.SchemeSelectBorder, 60) : clBtnShadow;
    }
    if (borderless)
        base = face;

    const TRect r = clientRect(button);
    const int w = r.width(), h = r.height();
    canvas.setBrush(parentBg);
    canvas.fillRect(r);
    canvas.setBrush(face);
    canvas.setPen(LightenColor(base, 30));
    canvas.roundRect(r, kButtonCorner, kButtonCorner);

    if (enabled && !borderless)
        DrawButtonEdge(canvas, r, base, (sub.MouseDown && sub.Hot) || sub.SpaceDown);

    const QString caption = button->text();
    const bool rtl = readsRightToLeft(button);
    const unsigned rtlFlag = rtl ? DT_RTLREADING : 0;
    const TColor textColor = fontColor(button);
    canvas.setFont(button->font(), textColor);
    const QSize extent = caption.isEmpty() ? QSize(0, 0) : canvas.textExtent(caption, DT_CALCRECT | rtlFlag);

    const QPixmap &strip = button->Glyph();
    const int count = std::max(1, button->NumGlyphs());
    const QSize cell = glyphCellSize(strip, count);
    const int gw = cell.width();
    const int gh = cell.height();
    const int sp = caption.trimmed().isEmpty() ? 0 : button->Spacing;
    GlyphLayout l = layOut(button->Layout, w, h, gw, gh, extent.width(), extent.height(), sp);
    if (button->Layout == TSpeedButton::blGlyphLeft || button->Layout == TSpeedButton::blGlyphRight) {
        l.glyph.top = (h - gh) / 2;
        l.glyph.bottom = l.glyph.top + gh;
    }
    if (gw > 0)
        DrawGlyph(canvas, glyphCell(strip, count, 0), l.glyph, false, enabled, sub.Hot, sub.Focused, menu);

    TRect text = l.text;
    unsigned format = DT_CENTER | DT_VCENTER | rtlFlag;
    if (hasTagBits(button, kTagCaptionLeft)) {
        text = r;
        text.inflate(-4, -2);
        format = (rtl ? DT_RIGHT : DT_LEFT) | DT_VCENTER | DT_SINGLELINE | rtlFlag;
    }
    if (button->isDefault() && enabled)
        DrawDefaultCaptionHalo(canvas, caption, button->font(), face, format, text);
    DrawCaptionText(canvas, caption, button->font(), textColor, menu.SchemeDisabled, format, text, enabled);
}

int upDownHotHalf(bool enabled, bool hot, int height, int pointerY)
{
    if (!enabled || !hot)
        return 0;
    return pointerY < height / 2 ? 1 : -1;
}

void PaintUpDown(TControlSubClass &sub, TCanvas &canvas)
{
    QWidget *control = sub.Control;
    const TXPMenu &menu = *sub.XPMenu;
    const TRect r = clientRect(control);
    const int half = r.height() / 2;
    const QPoint cursor = control->mapFromGlobal(QCursor::pos());
    const int hotHalf = upDownHotHalf(control->isEnabled(), sub.Hot, r.height(), cursor.y());
    const TColor parentBg = parentBackground(control);

    struct Box {
        TRect rect;
        bool up;
        bool hot;
    };
    const Box boxes[] = {
        {{r.left, r.top, r.right, r.top + half}, true, hotHalf == 1},
        {{r.left, r.bottom - half, r.right, r.bottom}, false, hotHalf == -1},
    };
    // Qt repaints the whole control before this runs, so a box never already carries its
    // border and each one is drawn every time.
    for (const Box &box : boxes) {
        TColor arrow = control->isEnabled() ? clBlack : clWhite;
        TColor fill, border;
        if (box.hot) {
            border = menu.SchemeSelectBorder;
            if (sub.MouseDown) {
                fill = menu.SchemeCheckedAreaSelect;
                arrow = clWhite;
            } else {
                fill = LightenColor(menu.SchemeSelect, 60);
            }
        } else {
            fill = LightenColor(controlTag(control) == kTagParentFace ? parentBg : menu.SchemeSelect, menu.ParentTint);
            border = LightenColor(parentBg, 80);
        }
        canvas.setPen(border);
        canvas.setBrush(fill);
        canvas.rectangle(box.rect);
        const int x = box.rect.left + box.rect.width() / 2;
        const int y = box.rect.top + box.rect.height() / 2 - 2;
        canvas.setPen(arrow);
        if (box.up)
            arrowUp(canvas, x, y);
        else
            arrowDown(canvas, x, y);
    }
}

void PaintBorderedEdit(TControlSubClass &sub, TCanvas &canvas)
{
    QWidget *edit = sub.Control;
    const TXPMenu &menu = *sub.XPMenu;
    // A Qt control cannot draw on its parent from its own paint: the border goes on the
    // control's own outer ring instead, the ring inside it in the control's colour.
    if (sub.SavedBorderStyle == TEdit::bsSingle && (controlBorderStyle(edit) != TEdit::bsNone || controlBorderWidth(edit) < 2)) {
        sub.Recreating = true;
        setFlatBorder(edit, std::max(2, controlBorderWidth(edit)));
    }
    const TColor parentBg = parentBackground(edit);
    TColor color = parentBg;
    if (sub.Hot || sub.Focused)
        color = LightenColor(menu.SchemeSelectBorder, 60);
    else if (sub.SavedBorderStyle == TEdit::bsSingle)
        color = DarkenColor(parentBg, 60);
    TRect r = clientRect(edit);
    BevelFrame(canvas, r, color, color, 1);
    const int ring = controlBorderWidth(edit) - 1;
    if (ring > 0) {
        const TColor own = controlColor(edit);
        BevelFrame(canvas, r, own, own, ring);
    }
}

void PaintWindowBorder(TControlSubClass &sub, TCanvas &canvas)
{
    QWidget *control = sub.Control;
    TXPMenu &menu = *sub.XPMenu;
    menu.BuildColorScheme(screenBitsPerPixel(control));
    const bool single = sub.SavedBorderStyle == TEdit::bsSingle;
    const TColor parentBg = parentBackground(control);
    TColor color;
    if (sub.Hot || sub.Focused)
        color = LightenColor(menu.SchemeSelectBorder, single ? 60 : 80);
    else
        color = single ? DarkenColor(parentBg, 60) : parentBg;
    if (controlCtl3D(control)) {
        sub.Recreating = true;
        setControlCtl3D(control, false);
    }
    outline(canvas, clientRect(control), color);
}

void PaintHotKey(TControlSubClass &sub, TCanvas &canvas)
{
    QWidget *control = sub.Control;
    TXPMenu &menu = *sub.XPMenu;
    menu.BuildColorScheme(screenBitsPerPixel(control));
    const TColor color = (sub.Hot || sub.Focused) ? LightenColor(menu.SchemeSelectBorder, 60)
                                                  : DarkenColor(parentBackground(control), 60);
    TRect r = clientRect(control);
    outline(canvas, r, color);
    r.inflate(-1, -1);
    outline(canvas, r, clWindow);
}
