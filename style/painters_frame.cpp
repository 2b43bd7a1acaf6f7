#include "style/painters_frame.h"

#include "app/controls.h"
#include "style/XPMenu.h"
#include "style/canvas.h"
#include "style/controlkinds.h"
#include "style/controlsubclass.h"
#include "style/glyph.h"

#include <QCursor>
#include <QGroupBox>
#include <QPainter>

#include <cstring>

namespace {

constexpr int kCaptionIndent = 9;
constexpr int kBevelContrast = 60;
constexpr int kTintFlat = 20;
constexpr int kTintRaised = 5;

} // namespace

GlyphLayout layOut(int layout, int w, int h, int gw, int gh, int tw, int th, int sp)
{
    GlyphLayout l;
    TRect &gr = l.glyph;
    TRect &tr = l.text;
    switch (layout) {
    case TSpeedButton::blGlyphLeft:
    default:
        gr.left = (w - (sp + gw + tw)) / 2;
        gr.right = gr.left + gw;
        gr.top = (h - gh) / 2 - 1;
        gr.bottom = gr.top + gh;
        tr.left = gr.right + sp;
        tr.right = tr.left + tw;
        tr.top = (h - th) / 2;
        tr.bottom = tr.top + th;
        break;
    case TSpeedButton::blGlyphRight:
        gr.right = (sp + gw + tw + w) / 2;
        gr.left = gr.right - gw;
        gr.top = (h - gh) / 2;
        gr.bottom = gr.top + gh;
        tr.right = gr.left - sp;
        tr.left = tr.right - tw;
        tr.top = (h - th) / 2;
        tr.bottom = tr.top + th;
        break;
    case TSpeedButton::blGlyphTop:
        gr.left = (w - gw) / 2;
        gr.right = gr.left + gw;
        gr.top = (h - (sp + gh + th)) / 2;
        gr.bottom = gr.top + gh;
        tr.left = (w - tw) / 2;
        tr.right = tr.left + tw;
        tr.top = gr.bottom + sp;
        tr.bottom = tr.top + th;
        break;
    case TSpeedButton::blGlyphBottom:
        gr.left = (w - gw) / 2;
        gr.right = gr.left + gw;
        gr.bottom = (sp + gh + th + h) / 2;
        gr.top = gr.bottom - gh;
        tr.left = (w - tw) / 2;
        tr.right = tr.left + tw;
        tr.bottom = gr.top - sp;
        tr.top = tr.bottom - th;
        break;
    }
    return l;
}

namespace {

void bevelFor(TCanvas &canvas, TRect &r, int cut, TColor dark, TColor light, int width)
{
    if (cut == TPanel::bvLowered)
        BevelFrame(canvas, r, dark, light, width);
    else if (cut == TPanel::bvRaised || cut == TPanel::bvSpace)
        BevelFrame(canvas, r, light, dark, width);
}

} // namespace

void PaintSpeedButton(TControlSubClass &sub, TCanvas &canvas)
{
    auto *button = qobject_cast<TSpeedButton *>(sub.Control.data());
    const TXPMenu &menu = *sub.XPMenu;
    const TColor parentBg = parentBackground(button);
    const bool enabled = button->isEnabled();
    const bool flat = button->Flat;
    const bool transparent = button->Transparent;
    const bool down = button->Down;

    if (flat && sub.Hot) {
        const QPoint p = button->mapFromGlobal(QCursor::pos());
        sub.Hot = p.x() >= 0 && p.y() >= 0 && p.x() <= button->width() && p.y() <= button->height();
    }
    const bool hot = sub.Hot;

    TColor face, border;
    if (hot) {
        face = LightenColor(controlTag(button) == kTagParentFace ? parentBg : clBtnFace, menu.ParentTintHot);
        if (flat)
            face = menu.SchemeSelect;
        border = LightenColor(menu.SchemeSelectBorder, 60);
    } else {
        face = controlTag(button) == kTagParentFace ? LightenColor(parentBg, menu.ParentTint) : menu.SchemeIconBack;
        if (flat)
            face = parentBg;
        border = clBtnShadow;
    }
    if (down) {
        face = hot ? menu.SchemeCheckedAreaSelect : menu.SchemeCheckedArea;
        border = menu.SchemeSelectBorder;
    }
    if (!enabled)
        border = clBtnShadow;

    const TRect r = clientRect(button);
    const int w = r.width(), h = r.height();

    if ((down || hot) && transparent) {
        const bool fewColors = menu.BitsPerPixel <= 16;
        const TColor tint = flat ? (fewColors ? face : LightenColor(menu.SchemeSelect, kTintFlat))
                                 : (fewColors ? face : LightenColor(face, kTintRaised));
        // Bitwise AND with the tint darkens what shows through the button.
        QPainter &p = canvas.painter();
        p.save();
        p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        p.fillRect(r.toQRect(), toQColor(tint));
        p.restore();
    }

    canvas.setBrush(face);
    if (!transparent || std::strcmp(button->metaObject()->className(), "TNavButton") == 0)
        canvas.fillRect(r);
    TColor pen = LightenColor(border, 30);
    if (flat && !transparent && !down && !hot)
        pen = face;
    if (transparent)
        canvas.setHollowBrush();
    canvas.setPen(pen);
    if (!(transparent && flat && !hot && !down))
        canvas.rectangle(r);

    if (enabled) {
        const auto sunken = [&] {
            canvas.setPen(DarkenColor(border, 50));
            canvas.polyline({{r.left, r.bottom - 1}, {r.left, r.top}, {r.right, r.top}});
        };
        const auto raised = [&] {
            canvas.setPen(DarkenColor(border, 50));
            canvas.polyline({{r.right - 1, r.top}, {r.right - 1, r.bottom - 1}, {r.left, r.bottom - 1}});
        };
        if (flat) {
            if (sub.MouseDown || down) {
                canvas.setHollowBrush();
                canvas.setPen(border);
                canvas.rectangle(r);
                sunken();
            } else if (hot) {
                canvas.setHollowBrush();
                canvas.setPen(menu.SchemeSelectBorder);
                canvas.rectangle(r);
            }
        } else if (sub.MouseDown || down) {
            sunken();
        } else {
            raised();
        }
    }

    const QString caption = button->text();
    const bool rtl = readsRightToLeft(button);
    const unsigned rtlFlag = rtl ? DT_RTLREADING : 0;
    canvas.setFont(button->font(), fontColor(button));
    const QSize extent = caption.isEmpty() ? QSize(0, 0) : canvas.textExtent(caption, DT_CALCRECT | rtlFlag);
    const unsigned format = DT_CENTER | DT_VCENTER | rtlFlag;

    const QPixmap &strip = button->Glyph(paintPixelRatio(canvas.painter()));
    const int count = std::max(1, button->NumGlyphs());
    const QSize cell = glyphCellSize(strip, count);
    const int gw = cell.width();
    const int gh = cell.height();
    const int sp = caption.isEmpty() ? 0 : button->Spacing;
    int index = 1;
    if (!enabled && count > 1)
        index = 2;
    if (sub.MouseDown && count > 2)
        index = 3;
    if (down && count > 3)
        index = 4;
    const QImage glyph = gw > 0 ? glyphCell(strip, count, index - 1) : QImage();

    int layout = button->Layout;
    if (rtl && layout == TSpeedButton::blGlyphLeft)
        layout = TSpeedButton::blGlyphRight;
    else if (rtl && layout == TSpeedButton::blGlyphRight)
        layout = TSpeedButton::blGlyphLeft;
    const GlyphLayout l = layOut(layout, w, h, gw, gh, extent.width(), extent.height(), sp);

    DrawGlyph(canvas, glyph, l.glyph, down || sub.MouseDown, enabled, hot, false, menu);
    DrawCaptionText(canvas, caption, button->font(), fontColor(button), menu.SchemeDisabled, format, l.text, enabled);
}

void PaintPanel(TControlSubClass &sub, TCanvas &canvas)
{
    auto *panel = qobject_cast<TPanel *>(sub.Control.data());
    const TColor color = fromQColor(panel->color());
    const TColor dark = DarkenColor(color, kBevelContrast);
    const TColor light = LightenColor(color, kBevelContrast);
    TRect r = clientRect(panel);
    bevelFor(canvas, r, panel->BevelOuter, dark, light, panel->BevelWidth);
    if (panel->BevelInner != TPanel::bvNone) {
        r.inflate(-panel->BorderWidth, -panel->BorderWidth);
        bevelFor(canvas, r, panel->BevelInner, dark, light, panel->BevelWidth);
    }
}

void PaintGroupBox(TControlSubClass &sub, TCanvas &canvas)
{
    auto *box = qobject_cast<QGroupBox *>(sub.Control.data());
    const TColor color = controlColor(box);
    const TColor parentBg = parentBackground(box);
    const bool ctl3d = controlCtl3D(box);
    const bool rtl = readsRightToLeft(box);
    const QString caption = box->title();

    canvas.setFont(box->font(), fontColor(box));
    const int th = canvas.textExtent(caption.isEmpty() ? QStringLiteral(" ") : caption, DT_SINGLELINE | DT_NOPREFIX).height();
    const int tw = caption.isEmpty() ? 0 : canvas.textExtent(caption, DT_SINGLELINE | DT_NOPREFIX).width();
    const TColor dark = DarkenColor(color, kBevelContrast);
    const TColor light = LightenColor(color, kBevelContrast);
    const TRect client = clientRect(box);

    // Qt draws its frame and title elsewhere than ours; clear all of it first. The
    // controls inside paint themselves afterwards.
    canvas.setBrush(color);
    canvas.fillRect(client);

    TRect r = client;
    r.inflate(-1, -1);
    r.top += th - 1;
    canvas.setHollowBrush();
    canvas.setPen(color);
    canvas.rectangle(r);

    r = client;
    r.top += th / 2 - 1;
    canvas.setPen(color);
    canvas.line({r.left + 1, r.top}, {r.left + 1, r.bottom});
    if (ctl3d)
        BevelFrame(canvas, r, light, dark, 1);
    else
        BevelFrame(canvas, r, dark, dark, 1);

    r = client;
    r.bottom = r.top + th / 2 + 1;
    canvas.setBrush(parentBg);
    canvas.setPen(parentBg);
    canvas.rectangle(r);

    TRect cr;
    if (rtl) {
        cr.right = r.right - kCaptionIndent;
        cr.left = cr.right - tw;
    } else {
        cr.left = r.left + kCaptionIndent;
        cr.right = cr.left + tw;
    }
    cr.top = r.top;
    cr.bottom = r.top + th;

    r.inflate(-1, 0);
    r.top = r.bottom;
    r.bottom = r.top + th / 2 + 1;
    r.left = cr.left;
    r.right = cr.right;
    canvas.setBrush(color);
    canvas.fillRect(r);

    r.right = client.right;
    canvas.setPen(color);
    canvas.line({r.right - 2, r.top}, {r.right - 2, cr.bottom});

    canvas.drawText(caption, cr, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | (rtl ? DT_RTLREADING : 0));

    r = client;
    r.top += th / 2 + 1;
    canvas.setPen(ctl3d ? light : dark);
    canvas.line({r.left, r.top}, {cr.left, r.top});
    canvas.line({cr.right, r.top}, {r.right - 1, r.top});
}

void PaintProgressBar(TControlSubClass &sub, TCanvas &canvas)
{
    QWidget *bar = sub.Control;
    const TXPMenu &menu = *sub.XPMenu;
    TRect r = clientRect(bar);
    canvas.setHollowBrush();
    // Fusion rounds its groove: the corner pixels just inside our frame would still show
    // its outline, so that ring takes the groove's own colour.
    r.inflate(-1, -1);
    canvas.setPen(fromQColor(bar->palette().color(QPalette::Base)));
    canvas.rectangle(r);
    canvas.setPen(sub.Hot ? menu.SchemeSelectBorder : DarkenColor(parentBackground(bar), 60));
    canvas.rectangle(clientRect(bar));
}
