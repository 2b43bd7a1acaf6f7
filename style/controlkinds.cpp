#include "style/controlkinds.h"
#include "style/canvas.h"

#include "app/controls.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeView>

#include <cstring>

namespace {

bool classNameIs(const QObject *o, const char *name)
{
    return o && std::strcmp(o->metaObject()->className(), name) == 0;
}

template <typename T>
bool is(const QObject *o)
{
    return qobject_cast<const T *>(o) != nullptr;
}

// The buttons of a dialog's button row count as push buttons of the dialog.
bool isDialogButton(const QObject *o)
{
    return is<QPushButton>(o) && is<QDialogButtonBox>(o->parent());
}

bool isButtonNamed(const QObject *o) { return classNameIs(o, "TButton") || isDialogButton(o); }

// The kind test of the styling walk; the first matching row wins. A row tests for a class
// and its descendants unless its test compares the exact class name. The classes are:
//   combo box     QComboBox (TComboBox)          edit          TEdit
//   mask edit     named TMaskEdit or TDBEdit      memo          QPlainTextEdit
//   rich edit     QTextEdit                       check box     QCheckBox (TCheckBox)
//   radio button  QRadioButton                    bitmap button named TBitBtn
//   push button   named TButton, or a QPushButton in a dialog's button row
//   up-down       named TUpDown (our own control)
//   speed button  TSpeedButton                    panel         TPanel
//   navigator     named TDBNavigator              lookup combo  named TDBLookupComboBox
//   group box     QGroupBox (TGroupBox)           list box      QListWidget
//   tree view     QTreeView                       list view     QListView
//   progress bar  QProgressBar (TProgressBar)     hot key       QKeySequenceEdit
// TSpinEdit (a QSpinBox), TLabel, TBevel, TTrackBar (a QSlider) and TStatusBar match no row.
// Of the painted kinds, the bordered edit kind is the memo and the rich edit (multi-line
// fields drawn inside a frame), and the three window-border kinds are the list box, the
// tree view and the list view (item views whose frame is all that is styled). The hot key
// is painted as THotKey draws it, with a ring around its input line; a bare
// QKeySequenceEdit is hooked the same way but its line covers the ring.
struct KindRow {
    TControlKind kind;
    bool (*test)(const QObject *);
    TXPControl member;
};

constexpr KindRow kKindTable[] = {
    {TControlKind::Combo, isComboBox, xcCombo},
    {TControlKind::Edit, isPlainEdit, xcEdit},
    {TControlKind::MaskEdit, isMaskEdit, xcMaskEdit},
    {TControlKind::Memo, isMemo, xcMemo},
    {TControlKind::RichEdit, isRichEdit, xcRichEdit},
    {TControlKind::CheckBox, isCheckBox, xcCheckBox},
    {TControlKind::RadioButton, isRadioButton, xcRadioButton},
    {TControlKind::BitBtn, isBitBtn, xcBitBtn},
    {TControlKind::Button, isButtonNamed, xcButton},
    {TControlKind::UpDown, isUpDown, xcUpDown},
    {TControlKind::SpeedButton, isSpeedButton, xcSpeedButton},
    {TControlKind::Panel, isPanel, xcPanel},
    {TControlKind::Navigator, isNavigator, xcButton},
    {TControlKind::LookupCombo, isLookupCombo, xcButton},
    {TControlKind::GroupBox, isGroupBox, xcGroupBox},
    {TControlKind::ListBox, isListBox, xcListBox},
    {TControlKind::TreeView, isTreeView, xcTreeView},
    {TControlKind::ListView, isListView, xcListView},
    {TControlKind::ProgressBar, isProgressBar, xcProgressBar},
    {TControlKind::HotKey, isHotKey, xcHotKey},
};

bool isToolbarContainer(const QObject *o) { return is<QToolBar>(o); }
bool isCoolBar(const QObject *o) { return o && o->inherits("TCoolBar"); }

// Controls in a scroll area sit on its content widget, inside the viewport.
bool isScrollBox(const QObject *o)
{
    if (is<QScrollArea>(o))
        return true;
    const QObject *viewport = o ? o->parent() : nullptr;
    const auto *area = qobject_cast<const QScrollArea *>(viewport ? viewport->parent() : nullptr);
    return area && area->widget() == o;
}

// A page of a tab widget sits in the tab widget's stack.
bool isTabSheet(const QObject *o)
{
    if (!o)
        return false;
    if (o->inherits("TTabSheet") || classNameIs(o, "TdxTabSheet"))
        return true;
    const QObject *stack = o->parent();
    return is<QStackedWidget>(stack) && is<QTabWidget>(stack->parent());
}

bool isPageScroller(const QObject *o) { return o && o->inherits("TPageScroller"); }
bool isDialogButtonRow(const QObject *o) { return is<QDialogButtonBox>(o); }
bool isFrameContainer(const QObject *o) { return isFrame(o) || classNameIs(o, "TDBCtrlPanel"); }

struct ContainerRow {
    bool (*test)(const QObject *);
    TXPContainer member;
};

constexpr ContainerRow kContainerTable[] = {
    {isForm, xccForm},
    {isDialogButtonRow, xccForm},
    {isPanel, xccPanel},
    {isGroupBox, xccGroupBox},
    {isToolbarContainer, xccToolbar},
    {isCoolBar, xccCoolbar},
    {isControlBar, xccControlbar},
    {isScrollBox, xccScrollBox},
    {isTabSheet, xccTabSheet},
    {isPageScroller, xccPageScroller},
    {isFrameContainer, xccFrame},
};

} // namespace

// Our own windows, and the dialogs the application opens (message boxes, the file dialog).
bool isForm(const QObject *o)
{
    if (is<TForm>(o))
        return true;
    const auto *dialog = qobject_cast<const QDialog *>(o);
    return dialog && dialog->isWindow();
}
bool isFrame(const QObject *o) { return o && o->inherits("TFrame"); }
bool isNavigator(const QObject *o) { return classNameIs(o, "TDBNavigator"); }
bool isComboBox(const QObject *o) { return is<QComboBox>(o); }
bool isLookupCombo(const QObject *o) { return classNameIs(o, "TDBLookupComboBox"); }
bool isPlainEdit(const QObject *o) { return is<TEdit>(o); }
bool isEditDescendant(const QObject *o) { return is<QLineEdit>(o); }
bool isMaskEdit(const QObject *o) { return classNameIs(o, "TMaskEdit") || classNameIs(o, "TDBEdit"); }
bool isMemo(const QObject *o) { return is<QPlainTextEdit>(o); }
bool isRichEdit(const QObject *o) { return is<QTextEdit>(o); }
bool isCheckBox(const QObject *o) { return is<QCheckBox>(o); }
bool isRadioButton(const QObject *o) { return is<QRadioButton>(o); }
bool isBitBtn(const QObject *o) { return classNameIs(o, "TBitBtn"); }
bool isPushButton(const QObject *o) { return is<TButton>(o) || isDialogButton(o); }
bool isUpDown(const QObject *o) { return classNameIs(o, "TUpDown"); }
bool isSpeedButton(const QObject *o) { return is<TSpeedButton>(o); }
bool isPanel(const QObject *o) { return is<TPanel>(o); }
bool isGroupBox(const QObject *o) { return is<QGroupBox>(o); }
bool isListBox(const QObject *o) { return is<QListWidget>(o); }
bool isTreeView(const QObject *o) { return is<QTreeView>(o); }
bool isListView(const QObject *o) { return is<QListView>(o); }
bool isProgressBar(const QObject *o) { return is<QProgressBar>(o); }
bool isHotKey(const QObject *o) { return is<QKeySequenceEdit>(o); }
bool isBorderedEdit(const QObject *o) { return isMemo(o) || isRichEdit(o); }
bool isWindowBorderKind(const QObject *o) { return isListBox(o) || isTreeView(o) || isListView(o); }
bool isMainMenu(const QObject *o) { return is<QMenuBar>(o); }
bool isPopupMenu(const QObject *o) { return is<QMenu>(o); }
bool isToolBar(const QObject *o) { return is<QToolBar>(o); }
bool isControlBar(const QObject *o) { return o && o->inherits("TControlBar"); }
bool isMenuItem(const QObject *o) { return is<QAction>(o); }
bool isGraphicControl(const QObject *o) { return is<TSpeedButton>(o) || is<TLabel>(o) || is<TBevel>(o); }

TControlKind controlKind(const QObject *component)
{
    for (const KindRow &row : kKindTable)
        if (row.test(component))
            return row.kind;
    return TControlKind::None;
}

TXPControl requiredControl(TControlKind kind)
{
    for (const KindRow &row : kKindTable)
        if (row.kind == kind)
            return row.member;
    return xcMiscEdit;
}

bool isStyledContainer(const QObject *container, TXPContainers containers)
{
    if (!container)
        return false;
    for (const ContainerRow &row : kContainerTable)
        if (row.test(container) && containers.contains(row.member))
            return true;
    return false;
}

bool controlCtl3D(const QWidget *control)
{
    if (auto *e = qobject_cast<const TEdit *>(control))
        return e->Ctl3D;
    if (auto *g = qobject_cast<const TGroupBox *>(control))
        return g->Ctl3D;
    if (auto *c = qobject_cast<const TComboBox *>(control))
        return c->Ctl3D;
    if (auto *c = qobject_cast<const TCheckBox *>(control))
        return c->Ctl3D;
    if (auto *p = qobject_cast<const TPanel *>(control))
        return p->Ctl3D;
    if (isBorderedEdit(control) || isWindowBorderKind(control))
        return static_cast<const QFrame *>(control)->frameShadow() == QFrame::Sunken;
    return true;
}

void setControlCtl3D(QWidget *control, bool on)
{
    if (auto *e = qobject_cast<TEdit *>(control))
        e->setCtl3D(on);
    else if (isBorderedEdit(control) || isWindowBorderKind(control))
        static_cast<QFrame *>(control)->setFrameShadow(on ? QFrame::Sunken : QFrame::Plain);
}

// A frame drawn by the style (or a sunken panel) is the single border; no frame, or the
// plain box the flat look leaves in its place, is none.
int controlBorderStyle(const QWidget *control)
{
    if (auto *e = qobject_cast<const TEdit *>(control))
        return e->BorderStyle;
    if (isBorderedEdit(control) || isWindowBorderKind(control)) {
        const QFrame::Shape shape = static_cast<const QFrame *>(control)->frameShape();
        return (shape == QFrame::NoFrame || shape == QFrame::Box) ? TEdit::bsNone : TEdit::bsSingle;
    }
    return TEdit::bsSingle;
}

void setControlBorderStyle(QWidget *control, int style)
{
    if (auto *e = qobject_cast<TEdit *>(control)) {
        e->setBorderStyle(style == TEdit::bsNone ? TEdit::bsNone : TEdit::bsSingle);
    } else if (isBorderedEdit(control) || isWindowBorderKind(control)) {
        auto *frame = static_cast<QFrame *>(control);
        if (style == TEdit::bsNone) {
            frame->setFrameShape(QFrame::NoFrame);
        } else {
            frame->setFrameShape(QFrame::StyledPanel);
            frame->setLineWidth(1);
        }
    }
}

int controlBorderWidth(const QWidget *control)
{
    if (isBorderedEdit(control))
        return static_cast<const QFrame *>(control)->frameShape() == QFrame::Box
            ? static_cast<const QFrame *>(control)->lineWidth()
            : 0;
    return 0;
}

void setFlatBorder(QWidget *control, int width)
{
    if (!isBorderedEdit(control))
        return;
    auto *frame = static_cast<QFrame *>(control);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(width);
}

TColor controlColor(const QWidget *control)
{
    if (!control)
        return clBtnFace;
    if (auto *p = qobject_cast<const TPanel *>(control))
        return fromQColor(p->color());
    // Fields show the window colour, whatever role the style paints them with.
    const bool field = is<QComboBox>(control) || is<QLineEdit>(control) || is<QAbstractSpinBox>(control)
        || is<QAbstractScrollArea>(control);
    const QPalette::ColorRole role = field ? QPalette::Base : control->backgroundRole();
    return fromQColor(control->palette().color(QPalette::Active, role));
}

TColor parentBackground(const QWidget *control)
{
    const QWidget *parent = control ? control->parentWidget() : nullptr;
    return controlColor(parent ? parent : control);
}

TColor fontColor(const QWidget *control)
{
    return fromQColor(control->palette().color(QPalette::Active, control->foregroundRole()));
}

int bidiMode(const QWidget *control)
{
    return control && control->layoutDirection() == Qt::RightToLeft ? 1 : 0;
}

bool readsRightToLeft(const QWidget *control)
{
    return bidiMode(control) != 0;
}

TRect clientRect(const QWidget *w)
{
    return {0, 0, w->width(), w->height()};
}
