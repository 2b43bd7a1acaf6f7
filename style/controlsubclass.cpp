#include "style/controlsubclass.h"

#include "app/controls.h"
#include "style/XPMenu.h"
#include "style/canvas.h"
#include "style/combopopup.h"
#include "style/controlkinds.h"
#include "style/painters_frame.h"
#include "style/painters_further.h"
#include "style/painters_input.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace {

// Triggers that are not events: signals of the control or the application, and our own
// invalidate notice, whose event type is only known at run time.
enum : int {
    kFocusChanged = 0x10000,
    kCheckChanged,
    kButtonState,
    kInvalidate,
};

enum class Reaction {
    SetFocus,       // Hot := True; paint
    KillFocus,      // Hot := False; paint
    Paint,          // Recreating := False; paint over what the control painted
    Rebuilding,     // Recreating := True
    KeyDown,        // space only: SpaceDown := True; paint unless SpaceHeld; SpaceHeld := True
    KeyUp,          // space only: SpaceDown := False; SpaceHeld := False; paint
    MouseMove,      // an enabled up-down: paint; a held button: Hot follows the pointer
    LeftDown,       // MouseDown := True; paint
    LeftUp,         // MouseDown := False; paint
    DoubleClick,    // push button, speed button, check box: a left press with the same data follows
    CheckSet,       // Hot := False; paint
    Repaint,        // paint
    EnabledChanged, // Hot := False; paint
    MouseEnter,     // enabled only: Hot := True; paint
    MouseLeave,     // enabled only: Hot := False; paint
};

struct TriggerRow {
    int trigger;
    Reaction reaction;
    const char *standsFor;
};

// What each Qt event or signal stands for among the control messages the flat look reacts
// to, and the reaction. "Paint" asks the control for a repaint; the flat look is drawn in
// the paint event that follows. Messages with no row here:
//   WM_DESTROY            the control's destroyed() signal releases the record
//   WM_NCPAINT            Qt widgets have no non-client area to paint
//   EM_GETMODIFY, BM_GETCHECK  reading a Qt widget's state sends nothing
//   text changed          a Qt widget repaints itself when its text changes; Paint follows
//   Ctl3D changed, parent Ctl3D changed, reflected parent notify
//                         Ctl3D changes only in the edit painter, which sets Recreating itself
constexpr TriggerRow kTriggerTable[] = {
    {QEvent::FocusIn, Reaction::SetFocus, "WM_SETFOCUS"},
    {QEvent::FocusOut, Reaction::KillFocus, "WM_KILLFOCUS, exit (focus leaves)"},
    {QEvent::Paint, Reaction::Paint, "WM_PAINT"},
    {QEvent::Move, Reaction::Rebuilding, "WM_WINDOWPOSCHANGED"},
    {QEvent::Resize, Reaction::Rebuilding, "WM_WINDOWPOSCHANGED"},
    {QEvent::WinIdChange, Reaction::Rebuilding, "the control's window is created again"},
    {kInvalidate, Reaction::Rebuilding, "invalidate"},
    {QEvent::KeyPress, Reaction::KeyDown, "WM_KEYDOWN"},
    {QEvent::KeyRelease, Reaction::KeyUp, "WM_KEYUP"},
    {QEvent::MouseMove, Reaction::MouseMove, "WM_MOUSEMOVE"},
    {QEvent::MouseButtonPress, Reaction::LeftDown, "WM_LBUTTONDOWN"},
    {QEvent::MouseButtonRelease, Reaction::LeftUp, "WM_LBUTTONUP"},
    {QEvent::MouseButtonDblClick, Reaction::DoubleClick, "WM_LBUTTONDBLCLK"},
    {kCheckChanged, Reaction::CheckSet, "BM_SETCHECK (QAbstractButton::toggled)"},
    {kButtonState, Reaction::Repaint, "BM_SETSTATE (QAbstractButton::pressed, released)"},
    {kFocusChanged, Reaction::Repaint, "focus changed (QApplication::focusChanged)"},
    {QEvent::PaletteChange, Reaction::Repaint, "parent colour changed"},
    {QEvent::EnabledChange, Reaction::EnabledChanged, "enabled changed"},
    {QEvent::Enter, Reaction::MouseEnter, "mouse enter"},
    {QEvent::Leave, Reaction::MouseLeave, "mouse leave"},
};

const TriggerRow *findTrigger(int trigger)
{
    for (const TriggerRow &row : kTriggerTable)
        if (row.trigger == trigger)
            return &row;
    return nullptr;
}

using Painter = void (*)(TControlSubClass &, TCanvas &);

bool isSpeedButtonShown(const QObject *o)
{
    return isSpeedButton(o) && static_cast<const QWidget *>(o)->isVisible();
}

bool isPushButtonOnly(const QObject *o)
{
    return isPushButton(o) && !isBitBtn(o);
}

bool isPlainEditDescendant(const QObject *o)
{
    return isEditDescendant(o) && !isBorderedEdit(o);
}

// The painters in the order they run. The lookup combo has no painter: we have no such
// control.
struct PainterRow {
    bool (*test)(const QObject *);
    Painter paint;
};

constexpr PainterRow kPainterTable[] = {
    {isComboBox, PaintComboBox},
    {isLookupCombo, nullptr},
    {isBorderedEdit, PaintBorderedEdit},
    {isPlainEditDescendant, PaintEdit},
    {isCheckBox, PaintCheckBox},
    {isRadioButton, PaintRadioButton},
    {isBitBtn, PaintBitBtn},
    {isPushButtonOnly, PaintPushButton},
    {isUpDown, PaintUpDown},
    {isSpeedButtonShown, PaintSpeedButton},
    {isPanel, PaintPanel},
    {isGroupBox, PaintGroupBox},
    {isWindowBorderKind, PaintWindowBorder},
    {isProgressBar, PaintProgressBar},
    {isHotKey, PaintHotKey},
};

QHash<const QObject *, TControlSubClass *> &records()
{
    static QHash<const QObject *, TControlSubClass *> map;
    return map;
}

} // namespace

QEvent::Type TControlSubClass::invalidateEvent()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

TControlSubClass::TControlSubClass(TXPMenu *owner, QWidget *control)
    : QObject(owner), Control(control), XPMenu(owner)
{
    SavedCtl3D = controlCtl3D(control);
    SavedBorderStyle = controlBorderStyle(control);
    FRegisteredFor = control;
    records().insert(control, this);
    control->installEventFilter(this);

    connect(control, &QObject::destroyed, this, [this](QObject *gone) {
        if (records().value(gone) == this)
            records().remove(gone);
        FRegisteredFor = nullptr;
        Control = nullptr;
        deleteLater();
    });
    connect(qApp, &QApplication::focusChanged, this, [this] { react(kFocusChanged, nullptr); });
    if (auto *combo = qobject_cast<TComboBox *>(control))
        dropListBelow(combo);
    if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        connect(button, &QAbstractButton::toggled, this, [this] { react(kCheckChanged, nullptr); });
        connect(button, &QAbstractButton::pressed, this, [this] { react(kButtonState, nullptr); });
        connect(button, &QAbstractButton::released, this, [this] { react(kButtonState, nullptr); });
    }
}

void TControlSubClass::dropListBelow(QComboBox *combo)
{
    QStyle *below = comboPopupBelowStyle();
    if (combo->style() != below) {
        FSavedStyle = combo->testAttribute(Qt::WA_SetStyle) ? combo->style() : nullptr;
        combo->setStyle(below);
    }
    // The list's window opening or closing changes the look of the whole field, where Qt
    // repaints only the arrow.
    FPopup = combo->view()->window();
    if (FPopup == combo->window())
        FPopup = nullptr;
    else
        FPopup->installEventFilter(this);
}

void TControlSubClass::restoreStyle(QWidget *control)
{
    if (control->style() == comboPopupBelowStyle())
        control->setStyle(FSavedStyle);
}

TControlSubClass::~TControlSubClass()
{
    detach();
}

TControlSubClass *TControlSubClass::recordOf(const QObject *control)
{
    return records().value(control, nullptr);
}

void TControlSubClass::detach()
{
    if (FRegisteredFor && records().value(FRegisteredFor) == this)
        records().remove(FRegisteredFor);
    FRegisteredFor = nullptr;
    if (Control) {
        Control->removeEventFilter(this);
        disconnect(Control, nullptr, this, nullptr);
    }
    if (FPopup)
        FPopup->removeEventFilter(this);
    FPopup = nullptr;
    disconnect(qApp, nullptr, this, nullptr);
}

void TControlSubClass::Unhook()
{
    release(false);
}

void TControlSubClass::Restore()
{
    release(true);
}

void TControlSubClass::release(bool wholeRestore)
{
    QWidget *control = Control;
    detach();
    if (control) {
        const bool edit = isEditDescendant(control) || isBorderedEdit(control);
        const bool borderOnly = isWindowBorderKind(control);
        if (edit || (wholeRestore && borderOnly))
            setControlCtl3D(control, SavedCtl3D);
        if (isBorderedEdit(control) || borderOnly || (wholeRestore && edit))
            setControlBorderStyle(control, SavedBorderStyle);
        restoreStyle(control);
        control->update();
    }
    Control = nullptr;
    delete this;
}

TControlSubClass *TControlSubClass::HandOver(TXPMenu *successor)
{
    QWidget *control = Control;
    if (!control || !successor) {
        Unhook();
        return nullptr;
    }
    detach();
    auto *next = new TControlSubClass(successor, control);
    next->FSavedStyle = FSavedStyle;
    next->SavedCtl3D = SavedCtl3D;
    next->SavedBorderStyle = SavedBorderStyle;
    next->Recreating = Recreating;
    next->Hot = Hot;
    next->MouseDown = MouseDown;
    next->SpaceDown = SpaceDown;
    next->SpaceHeld = SpaceHeld;
    Control = nullptr;
    delete this;
    return next;
}

bool TControlSubClass::ownerInactive() const
{
    return XPMenu && !XPMenu->Active();
}

void TControlSubClass::requestPaint()
{
    ++FPaintRequests;
    if (Control)
        Control->update();
}

bool TControlSubClass::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FPopup && watched != Control) {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
            requestPaint();
        return false;
    }
    if (watched != Control)
        return false;
    const QEvent::Type type = event->type();

    if (type == QEvent::Paint) {
        if (FInPaint)
            return false;
        if (ownerInactive()) {
            Unhook();
            return false;
        }
        // A windowless control is drawn by its painter alone; any other paints itself first.
        FInPaint = true;
        if (!isGraphicControl(Control))
            watched->event(event);
        LastMessage = type;
        react(QEvent::Paint, event);
        FInPaint = false;
        return true;
    }

    if (type == QEvent::MouseButtonDblClick && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
        && (isPushButton(Control) || isSpeedButton(Control) || isCheckBox(Control))) {
        // The control handles the double click first; the press we send after it makes the
        // double click count as a second press.
        QPointer<TControlSubClass> self(this);
        watched->event(event);
        if (!self || !Control)
            return true;
        if (ownerInactive()) {
            Unhook();
            return true;
        }
        LastMessage = type;
        react(type, event);
        return true;
    }

    // Every other event reaches the control after our bookkeeping; the repaints asked for
    // here come later either way.
    if (ownerInactive()) {
        Unhook();
        return false;
    }
    LastMessage = type;
    react(type == invalidateEvent() ? kInvalidate : int(type), event);
    return false;
}

void TControlSubClass::react(int trigger, QEvent *event)
{
    const TriggerRow *row = findTrigger(trigger);
    if (!row || !Control)
        return;
    switch (row->reaction) {
    case Reaction::SetFocus:
        Hot = true;
        requestPaint();
        break;
    case Reaction::KillFocus:
    case Reaction::CheckSet:
    case Reaction::EnabledChanged:
        Hot = false;
        requestPaint();
        break;
    case Reaction::Paint:
        Recreating = false;
        PaintStyled();
        break;
    case Reaction::Rebuilding:
        Recreating = true;
        break;
    case Reaction::KeyDown: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Space)
            break;
        SpaceDown = true;
        if (!SpaceHeld)
            requestPaint();
        SpaceHeld = true;
        break;
    }
    case Reaction::KeyUp: {
        auto *key = static_cast<QKeyEvent *>(event);
        // Qt reports a held key as release and press pairs; only the last release counts.
        if (key->key() != Qt::Key_Space || key->isAutoRepeat())
            break;
        SpaceDown = false;
        SpaceHeld = false;
        requestPaint();
        break;
    }
    case Reaction::MouseMove:
        if (Control->isEnabled() && isUpDown(Control))
            requestPaint();
        else
            followHeldPointer(static_cast<QMouseEvent *>(event));
        break;
    case Reaction::LeftDown:
        if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            break;
        MouseDown = true;
        requestPaint();
        break;
    case Reaction::LeftUp:
        if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            break;
        MouseDown = false;
        requestPaint();
        break;
    case Reaction::DoubleClick: {
        if (!(isPushButton(Control) || isSpeedButton(Control) || isCheckBox(Control)))
            break;
        auto *click = static_cast<QMouseEvent *>(event);
        if (click->button() != Qt::LeftButton)
            break;
        QMouseEvent press(QEvent::MouseButtonPress, click->position(), click->scenePosition(),
                          click->globalPosition(), click->button(), click->buttons(), click->modifiers());
        QCoreApplication::sendEvent(Control, &press);
        break;
    }
    case Reaction::Repaint:
        requestPaint();
        break;
    case Reaction::MouseEnter:
        if (!Control->isEnabled())
            break;
        Hot = true;
        requestPaint();
        break;
    case Reaction::MouseLeave:
        if (!Control->isEnabled())
            break;
        Hot = false;
        requestPaint();
        break;
    }
}

void TControlSubClass::followHeldPointer(const QMouseEvent *move)
{
    // Qt grabs the mouse for the pressed control and sends it no leave or enter until the
    // button is released, so a press dragged off would stay hot.
    if (!MouseDown || !(move->buttons() & Qt::LeftButton) || !Control->isEnabled())
        return;
    if (!(isPushButton(Control) || isBitBtn(Control) || isSpeedButton(Control) || isCheckBox(Control)))
        return;
    const bool inside = Control->rect().contains(move->position().toPoint());
    if (inside == Hot)
        return;
    Hot = inside;
    requestPaint();
}

void TControlSubClass::PaintStyled()
{
    if (!Control || !XPMenu)
        return;
    Focused = !isGraphicControl(Control) && Control->hasFocus();
    for (const PainterRow &row : kPainterTable) {
        if (!row.paint || !row.test(Control))
            continue;
        QPainter painter(Control);
        TCanvas canvas(painter);
        row.paint(*this, canvas);
    }
}
