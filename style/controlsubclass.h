#pragma once

// The hook on one styled control: an event filter that keeps the control's interaction
// state (hot, pressed, focused), repaints the control flat after its own painting, and
// takes itself out again, restoring what it changed, once its owner is no longer active.

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>

class QComboBox;
class QMouseEvent;
class QStyle;
class TXPMenu;

class TControlSubClass : public QObject
{
    Q_OBJECT
public:
    // Hooks the control for the owner. A control carries at most one record: hook a
    // control only when recordOf() has none for it.
    TControlSubClass(TXPMenu *owner, QWidget *control);
    ~TControlSubClass() override;

    static TControlSubClass *recordOf(const QObject *control);
    // Sent to a control to tell its record that the control was invalidated: a record
    // whose owner is no longer active unhooks on it.
    static QEvent::Type invalidateEvent();

    // Runs the painters of the control's kind over the control; only inside its paint event.
    void PaintStyled();
    // Takes the record off its control, restores the control's saved state and releases
    // the record: the edits get their Ctl3D back (the bordered kind its border style as
    // well), the kinds with only a flat window border their border style.
    void Unhook();
    // As Unhook, for a window handed back by the registry: every kind that saved Ctl3D
    // and a border style gets both back.
    void Restore();
    // Moves the hook to another owner: a new record with this one's control and saved state
    // takes its place, and this one is released.
    TControlSubClass *HandOver(TXPMenu *successor);

    // How many repaints the record has asked for since it was made.
    int paintRequests() const { return FPaintRequests; }

    QPointer<QWidget> Control;
    bool Recreating = false;
    bool Hot = false;
    bool MouseDown = false;
    bool SpaceDown = false;
    bool SpaceHeld = false;
    bool Focused = false;
    QPointer<TXPMenu> XPMenu;
    bool SavedCtl3D = true;
    int SavedBorderStyle = 1;
    int LastMessage = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void react(int trigger, QEvent *event);
    void followHeldPointer(const QMouseEvent *move);
    void release(bool wholeRestore);
    void dropListBelow(QComboBox *combo);
    void restoreStyle(QWidget *control);
    void requestPaint();
    bool ownerInactive() const;
    void detach();

    QObject *FRegisteredFor = nullptr;
    // A combo box's list window, and the style the combo box had of its own (none: the
    // application's).
    QPointer<QWidget> FPopup;
    QPointer<QStyle> FSavedStyle;
    bool FInPaint = false;
    int FPaintRequests = 0;
};
