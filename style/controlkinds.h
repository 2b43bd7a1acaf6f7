#pragma once

// Which control classes the flat styling knows, what kind each one is, which containers
// it styles inside, and the bits of control state the painters read. The class tables are
// in controlkinds.cpp.

#include "style/colors.h"

#include <QtGlobal>

#include <initializer_list>

class QObject;
class QWidget;

// A set over an enumeration whose members are bit positions 0..Count-1.
template <typename E, int Count>
class TEnumSet
{
public:
    static constexpr quint32 kAllBits = (Count >= 32) ? ~0u : ((1u << Count) - 1u);

    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members)
    {
        for (E m : members)
            FBits |= bit(m);
    }
    static constexpr TEnumSet all() { return fromBits(kAllBits); }
    static constexpr TEnumSet fromBits(quint32 bits)
    {
        TEnumSet s;
        s.FBits = bits & kAllBits;
        return s;
    }
    constexpr quint32 bits() const { return FBits; }
    constexpr bool contains(E m) const { return (FBits & bit(m)) != 0; }
    constexpr TEnumSet with(E m) const { return fromBits(FBits | bit(m)); }
    constexpr TEnumSet without(E m) const { return fromBits(FBits & ~bit(m)); }
    constexpr bool operator==(const TEnumSet &) const = default;

private:
    static constexpr quint32 bit(E m) { return 1u << int(m); }
    quint32 FBits = 0;
};

enum TXPContainer : int {
    xccForm, xccFrame, xccToolbar, xccCoolbar, xccControlbar, xccPanel, xccScrollBox,
    xccGroupBox, xccTabSheet, xccPageScroller
};
using TXPContainers = TEnumSet<TXPContainer, 10>;

enum TXPControl : int {
    xcMainMenu, xcPopupMenu, xcToolbar, xcControlbar, xcCombo, xcListBox, xcEdit, xcMaskEdit,
    xcMemo, xcRichEdit, xcMiscEdit, xcCheckBox, xcRadioButton, xcButton, xcBitBtn,
    xcSpeedButton, xcUpDown, xcPanel, xcGroupBox, xcTreeView, xcListView, xcProgressBar,
    xcHotKey
};
using TXPControls = TEnumSet<TXPControl, 23>;

static_assert(TXPContainers::all().bits() == 0x3FF);
static_assert(TXPControls::all().bits() == 0x7FFFFF);

enum class TControlKind {
    None, Combo, Edit, MaskEdit, Memo, RichEdit, CheckBox, RadioButton, BitBtn, Button, UpDown,
    SpeedButton, Panel, Navigator, LookupCombo, GroupBox, ListBox, TreeView, ListView,
    ProgressBar, HotKey
};

// The first row of the kind table that matches the component, with the member of
// XPControls that row requires; TControlKind::None for a component of no kind.
TControlKind controlKind(const QObject *component);
TXPControl requiredControl(TControlKind kind);
// Whether the component is a container whose member is in the given set.
bool isStyledContainer(const QObject *container, TXPContainers containers);

// Class tests shared by the kind table, the walk and the paint dispatch.
bool isForm(const QObject *o);
bool isFrame(const QObject *o);
bool isNavigator(const QObject *o);
bool isComboBox(const QObject *o);
bool isLookupCombo(const QObject *o);
bool isPlainEdit(const QObject *o);
bool isEditDescendant(const QObject *o);
bool isMaskEdit(const QObject *o);
bool isMemo(const QObject *o);
bool isRichEdit(const QObject *o);
bool isCheckBox(const QObject *o);
bool isRadioButton(const QObject *o);
bool isBitBtn(const QObject *o);
bool isPushButton(const QObject *o);
bool isUpDown(const QObject *o);
bool isSpeedButton(const QObject *o);
bool isPanel(const QObject *o);
bool isGroupBox(const QObject *o);
bool isListBox(const QObject *o);
bool isTreeView(const QObject *o);
bool isListView(const QObject *o);
bool isProgressBar(const QObject *o);
bool isHotKey(const QObject *o);
// The further edit kind painted with a border of its own, and the kinds that only get a
// flat window border.
bool isBorderedEdit(const QObject *o);
bool isWindowBorderKind(const QObject *o);
bool isMainMenu(const QObject *o);
bool isPopupMenu(const QObject *o);
bool isToolBar(const QObject *o);
bool isControlBar(const QObject *o);
bool isMenuItem(const QObject *o);
// Tags the styling gives a meaning: never styled (on the control or its parent), and a face
// taken from the parent's background.
constexpr int kTagNeverStyled = 999;
constexpr int kTagParentFace = 1000;

// A control's client rectangle in the painters' coordinates.
struct TRect;
TRect clientRect(const QWidget *w);

// A control without a window of its own: it never takes the focus and never paints itself
// while hooked.
bool isGraphicControl(const QObject *o);

// Ctl3D and border style of the kinds that have them (edits, memos, item views); other controls read as
// Ctl3D on, border single and ignore the setters.
bool controlCtl3D(const QWidget *control);
void setControlCtl3D(QWidget *control, bool on);
int controlBorderStyle(const QWidget *control);
void setControlBorderStyle(QWidget *control, int style);
// A bordered edit without its styled border: a plain ring of the given width that the
// flat painter colours; the border width reads 0 while the edit has its own border.
int controlBorderWidth(const QWidget *control);
void setFlatBorder(QWidget *control, int width);

// What the painters read from a control.
TColor controlColor(const QWidget *control);
TColor parentBackground(const QWidget *control);
TColor fontColor(const QWidget *control);
// 0 left to right, 1 right to left.
int bidiMode(const QWidget *control);
bool readsRightToLeft(const QWidget *control);
