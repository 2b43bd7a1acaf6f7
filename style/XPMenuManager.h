#pragma once

// The one registry of flat-styling components in the process. One of them, the styling
// instance, also styles the application's windows that carry no component of their own
// (further forms, message boxes, the file dialog); when it goes away, or stops
// subclassing, its hooks on those windows move to another instance, or the windows get
// their own look back.

#include <QEvent>
#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;
class TXPMenu;

enum class TOperation { opInsert, opRemove };

class TXPMenuManager : public QObject
{
    Q_OBJECT
public:
    // The registry, if one exists.
    static TXPMenuManager *instance();
    // The registry, made when there is none yet.
    static TXPMenuManager *ensure();
    // Releases the registry once it holds no instance.
    static void releaseIfEmpty();

    QList<TXPMenu *> Instances() const;
    QList<QWidget *> StyledForms() const;
    QList<QWidget *> PendingForms() const;
    TXPMenu *StylingInstance() const { return FStylingInstance; }

    void Register(TXPMenu *instance);
    void Unregister(TXPMenu *instance);
    TXPMenu *FindSuccessor(const TXPMenu *excluded) const;
    void HandOver(TXPMenu *leaving);
    void ScanForms();
    void FormNotification(QObject *component, TOperation operation);
    // Walks the pending windows with the styling instance. It runs when the registry gets
    // its wake-up notice, which is posted whenever a window joins the pending list.
    void MainWindowHook();
    void RestoreForm(QWidget *form);

    // Whether the widget is a window of the application that the registry deals with.
    static bool isApplicationForm(const QObject *o);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

private:
    TXPMenuManager();
    ~TXPMenuManager() override;
    void addPending(QWidget *form);
    void watchForm(QWidget *form);
    void formDestroyed(QObject *gone);
    void wake();
    static void prune(QList<QPointer<QWidget>> &list);

    QList<QPointer<TXPMenu>> FInstances;
    QList<QPointer<QWidget>> FStyledForms;
    QList<QPointer<QWidget>> FPendingForms;
    QPointer<TXPMenu> FStylingInstance;
    bool FWakePosted = false;
};

// Whether the control sits on the given window (and not on a window of its own inside it).
bool liesInside(const QWidget *control, const QWidget *form);
