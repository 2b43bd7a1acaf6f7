#include "style/XPMenuManager.h"

#include "app/controls.h"
#include "style/XPMenu.h"
#include "style/controlkinds.h"
#include "style/controlsubclass.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

#include <exception>

namespace {


TXPMenuManager *gManager = nullptr;

QEvent::Type wakeEvent()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

bool ownsInstance(const QWidget *form)
{
    for (QObject *child : form->children())
        if (qobject_cast<TXPMenu *>(child))
            return true;
    return false;
}

template <typename T>
QList<T *> live(const QList<QPointer<T>> &list)
{
    QList<T *> out;
    for (const QPointer<T> &p : list)
        if (p)
            out.append(p);
    return out;
}

bool listed(const QList<QPointer<QWidget>> &list, const QObject *o)
{
    for (const QPointer<QWidget> &p : list)
        if (p == o)
            return true;
    return false;
}

void removeFrom(QList<QPointer<QWidget>> &list, const QObject *o)
{
    list.removeIf([o](const QPointer<QWidget> &p) { return !p || p == o; });
}

} // namespace

bool liesInside(const QWidget *control, const QWidget *form)
{
    return control && form && control->window() == form;
}

TXPMenuManager *TXPMenuManager::instance()
{
    return gManager;
}

TXPMenuManager *TXPMenuManager::ensure()
{
    if (!gManager)
        gManager = new TXPMenuManager;
    return gManager;
}

void TXPMenuManager::releaseIfEmpty()
{
    if (gManager && gManager->Instances().isEmpty()) {
        delete gManager;
        gManager = nullptr;
    }
}

TXPMenuManager::TXPMenuManager()
{
    if (qApp)
        qApp->installEventFilter(this);
}

TXPMenuManager::~TXPMenuManager()
{
    if (qApp)
        qApp->removeEventFilter(this);
    if (gManager == this)
        gManager = nullptr;
}

bool TXPMenuManager::isApplicationForm(const QObject *o)
{
    const auto *w = qobject_cast<const QWidget *>(o);
    return w && w->isWindow() && isForm(w);
}

QList<TXPMenu *> TXPMenuManager::Instances() const { return live(FInstances); }
QList<QWidget *> TXPMenuManager::StyledForms() const { return live(FStyledForms); }
QList<QWidget *> TXPMenuManager::PendingForms() const { return live(FPendingForms); }

void TXPMenuManager::Register(TXPMenu *instance)
{
    if (!instance || FInstances.contains(instance))
        return;
    FInstances.append(instance);
    if (QWidget *form = instance->Form()) {
        if (!listed(FStyledForms, form)) {
            FStyledForms.append(form);
            watchForm(form);
        }
    }
    if (!FStylingInstance && instance->Active() && !instance->DisableSubclassing()) {
        FStylingInstance = instance;
        ScanForms();
    }
}

void TXPMenuManager::Unregister(TXPMenu *instance)
{
    if (instance && instance == FStylingInstance)
        HandOver(instance);
    FInstances.removeIf([instance](const QPointer<TXPMenu> &p) { return !p || p == instance; });
}

TXPMenu *TXPMenuManager::FindSuccessor(const TXPMenu *excluded) const
{
    for (const QPointer<TXPMenu> &candidate : FInstances)
        if (candidate && candidate != excluded && candidate->Active() && !candidate->DisableSubclassing())
            return candidate;
    return nullptr;
}

void TXPMenuManager::HandOver(TXPMenu *leaving)
{
    // Asked for while nobody styles the other windows (or by an instance that does not):
    // there are no hooks on other windows to move or restore, so nothing changes.
    if (!leaving || leaving != FStylingInstance)
        return;

    TXPMenu *successor = FindSuccessor(leaving);
    if (successor) {
        for (TControlSubClass *record : leaving->SubClasses())
            if (record->Control && !liesInside(record->Control, leaving->Form()))
                record->HandOver(successor);
    } else {
        FPendingForms.clear();
        // While the application shuts down its windows go with it; the leaving instance
        // still unhooks whatever it holds when it is released.
        if (QCoreApplication::closingDown())
            return;
        for (QWidget *form : StyledForms())
            if (form != leaving->Form())
                RestoreForm(form);
        FStyledForms.clear();
    }
    FStylingInstance = successor;
}

void TXPMenuManager::ScanForms()
{
    for (QWidget *form : QApplication::topLevelWidgets()) {
        if (!isApplicationForm(form) || listed(FStyledForms, form) || controlTag(form) == kTagNeverStyled
            || ownsInstance(form))
            continue;
        addPending(form);
    }
}

void TXPMenuManager::FormNotification(QObject *component, TOperation operation)
{
    if (!FStylingInstance || !component)
        return;
    if (operation == TOperation::opInsert) {
        auto *form = qobject_cast<QWidget *>(component);
        // A window marked never-styled, or one with a component of its own, is left to
        // itself however it comes in.
        if (isApplicationForm(form) && controlTag(form) != kTagNeverStyled && !ownsInstance(form))
            addPending(form);
    } else {
        removeFrom(FPendingForms, component);
        removeFrom(FStyledForms, component);
    }
}

void TXPMenuManager::addPending(QWidget *form)
{
    if (listed(FPendingForms, form))
        return;
    FPendingForms.append(form);
    watchForm(form);
    wake();
}

void TXPMenuManager::watchForm(QWidget *form)
{
    // Qt makes a unique connection only to a member function; to a lambda it refuses it
    // with a warning, and a closed window would stay in the lists.
    connect(form, &QObject::destroyed, this, &TXPMenuManager::formDestroyed, Qt::UniqueConnection);
}

void TXPMenuManager::formDestroyed(QObject *gone)
{
    FormNotification(gone, TOperation::opRemove);
}

void TXPMenuManager::wake()
{
    if (FWakePosted)
        return;
    FWakePosted = true;
    QCoreApplication::postEvent(this, new QEvent(wakeEvent()));
}

void TXPMenuManager::MainWindowHook()
{
    if (FPendingForms.isEmpty())
        return;
    const QList<QPointer<QWidget>> pending = FPendingForms;
    try {
        for (const QPointer<QWidget> &form : pending) {
            if (!form || listed(FStyledForms, form))
                continue;
            FStyledForms.append(form);
            if (FStylingInstance && !ownsInstance(form))
                FStylingInstance->StyleOwnedComponents(form, true, true);
        }
    } catch (const std::exception &) {
        // A window that could not be walked stays as it is; the others are not held up.
    }
    FPendingForms.clear();
}

void TXPMenuManager::RestoreForm(QWidget *form)
{
    if (!FStylingInstance || !form)
        return;
    const QList<TControlSubClass *> records = FStylingInstance->SubClasses();
    for (auto it = records.crbegin(); it != records.crend(); ++it)
        if ((*it)->Control && liesInside((*it)->Control, form))
            (*it)->Restore();
}

void TXPMenuManager::prune(QList<QPointer<QWidget>> &list)
{
    list.removeIf([](const QPointer<QWidget> &p) { return !p; });
}

bool TXPMenuManager::eventFilter(QObject *watched, QEvent *event)
{
    // Stands in for the application's hidden main window: every top-level window that is
    // shown passes here.
    if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
        FormNotification(watched, TOperation::opInsert);
    return false;
}

bool TXPMenuManager::event(QEvent *event)
{
    if (event->type() == wakeEvent()) {
        FWakePosted = false;
        prune(FStyledForms);
        MainWindowHook();
        return true;
    }
    return QObject::event(event);
}
