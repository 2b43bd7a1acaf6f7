#include "style/XPMenu.h"

#include "app/controls.h"
#include "style/controlsubclass.h"

#include <QApplication>
#include <QChildEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QVariant>
#include <QWidget>

namespace {

constexpr char kDrawerProperty[] = "XPMenuDrawer";

// The components a container owns, in creation order: everything below it except what
// lies inside a nested form, frame or navigator (the walk reaches those through their
// own components) and inside another window.
void collectOwned(QObject *container, QList<QObject *> &out)
{
    for (QObject *child : container->children()) {
        if (qobject_cast<TXPMenu *>(child) || qobject_cast<TControlSubClass *>(child))
            continue;
        out.append(child);
        const auto *widget = qobject_cast<QWidget *>(child);
        const bool ownWalk = isForm(child) || isFrame(child) || isNavigator(child);
        if (!ownWalk && !(widget && widget->isWindow()))
            collectOwned(child, out);
    }
}

void invalidateControl(QWidget *control)
{
    QPointer<QWidget> guard(control);
    QEvent notice(TControlSubClass::invalidateEvent());
    QCoreApplication::sendEvent(control, &notice);
    if (guard)
        guard->update();
}

} // namespace

TXPMenu::TXPMenu(QObject *owner) : QObject(owner), FForm(qobject_cast<TForm *>(owner))
{
    FFont = QApplication::font("QMenu");
    FFontColor = clMenuText;
    FSelectFontColor = FFontColor;
    FXPContainers = TXPContainers::all();
    FXPControls = TXPControls::all();
    if (FForm) {
        BuildColorScheme();
        FForm->installEventFilter(this);
        // A form emits destroyed() before it releases its children, this instance among
        // them; from then on it must not be drawn on.
        connect(FForm, &QObject::destroyed, this, [this] { FFormGoing = true; });
    }
    TXPMenuManager::ensure();
    QMetaObject::invokeMethod(this, &TXPMenu::Loaded, Qt::QueuedConnection);
}

TXPMenu::~TXPMenu()
{
    // The registry moves this instance's hooks on other windows to a successor first;
    // whatever is left is restored before the records go.
    if (TXPMenuManager *manager = TXPMenuManager::instance())
        manager->Unregister(this);
    unhookAll();
    // The form is redrawn without the flat look, unless it is going away itself.
    if (FForm && !FFormGoing)
        FForm->update();
    TXPMenuManager::releaseIfEmpty();
    for (const QPointer<QObject> &menu : std::as_const(FAttachedMenus))
        if (menu && menuDrawer(menu) == this)
            menu->setProperty(kDrawerProperty, QVariant());
}

void TXPMenu::setFont(const QFont &font, TColor color)
{
    FFont = font;
    FFontColor = color;
    redrawMenuBar();
}

void TXPMenu::colorChanged(TColor &field, TColor value)
{
    field = value;
    ColorsChanged = true;
}

void TXPMenu::setColor(TColor value) { colorChanged(FColor, value); }
void TXPMenu::setIconBackColor(TColor value) { colorChanged(FIconBackColor, value); }
void TXPMenu::setSelectColor(TColor value) { colorChanged(FSelectColor, value); }
void TXPMenu::setSelectBorderColor(TColor value) { colorChanged(FSelectBorderColor, value); }
void TXPMenu::setSelectFontColor(TColor value) { colorChanged(FSelectFontColor, value); }
void TXPMenu::setDisabledColor(TColor value) { colorChanged(FDisabledColor, value); }
void TXPMenu::setSeparatorColor(TColor value) { colorChanged(FSeparatorColor, value); }
void TXPMenu::setCheckedColor(TColor value) { colorChanged(FCheckedColor, value); }

void TXPMenu::setMenuBarColor(TColor value)
{
    FMenuBarColor = value;
    redrawMenuBar();
}

void TXPMenu::setUseSystemColors(bool value)
{
    FUseSystemColors = value;
    redrawMenuBar();
}

void TXPMenu::setActive(bool value)
{
    if (value == FActive)
        return;
    FActive = value;
    if (FForm)
        StyleOwnedComponents(FForm, value, true);
    // Whatever the walk could not reach any more (a control moved out of its container,
    // say) is unhooked all the same.
    if (!value)
        unhookAll();
    redrawMenuBar();
}

void TXPMenu::setXPContainers(TXPContainers value)
{
    if (value != FXPContainers && FActive) {
        FActive = false;
        if (FForm)
            StyleOwnedComponents(FForm, false, true);
        unhookAll();
        FActive = true;
        FXPContainers = value;
        if (FForm)
            StyleOwnedComponents(FForm, true, true);
    }
    FXPContainers = value;
}

void TXPMenu::setXPControls(TXPControls value)
{
    if (value != FXPControls && FActive) {
        FActive = false;
        if (FForm)
            StyleOwnedComponents(FForm, false, true);
        unhookAll();
        FActive = true;
        FXPControls = value;
        if (FForm)
            StyleOwnedComponents(FForm, true, true);
    }
    FXPControls = value;
}

void TXPMenu::setDisableSubclassing(bool value)
{
    if (value == FDisableSubclassing)
        return;
    FDisableSubclassing = value;
    TXPMenuManager *manager = TXPMenuManager::instance();
    if (!manager || !FLoaded)
        return;
    if (manager->StylingInstance() == this) {
        manager->HandOver(this);
    } else if (!value && FActive && !manager->StylingInstance()) {
        // With nobody styling the other windows, an instance that may subclass again takes
        // the part, as it would have at its registration.
        manager->Unregister(this);
        manager->Register(this);
    }
}

void TXPMenu::Loaded()
{
    if (FLoaded)
        return;
    FLoaded = true;
    TXPMenuManager::ensure()->Register(this);
}

void TXPMenu::Notification(QObject *component, TOperation operation)
{
    if (TXPMenuManager *manager = TXPMenuManager::instance())
        manager->FormNotification(component, operation);
    if (operation == TOperation::opInsert && FActive && FAutoDetect && isMenuItem(component))
        StyleComponent(component, true, true);
}

bool TXPMenu::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FForm && (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved)) {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        Notification(child, event->type() == QEvent::ChildAdded ? TOperation::opInsert : TOperation::opRemove);
    }
    return false;
}

void TXPMenu::StyleOwnedComponents(QObject *container, bool activate, bool invalidate)
{
    if (!container)
        return;
    QList<QObject *> owned;
    collectOwned(container, owned);
    QList<QPointer<QObject>> guarded(owned.begin(), owned.end());
    for (const QPointer<QObject> &component : guarded)
        if (component)
            StyleComponent(component, activate, invalidate);
}

void TXPMenu::StyleComponent(QObject *component, bool activate, bool invalidate)
{
    if (!component)
        return;

    if (isMainMenu(component)) {
        if (FXPControls.contains(xcMainMenu) && controlTag(component) != kTagNeverStyled)
            attachMenu(component, activate, invalidate);
    } else if (isPopupMenu(component)) {
        if (FXPControls.contains(xcPopupMenu))
            attachMenu(component, activate, invalidate);
    } else if (isToolBar(component)) {
        if (FXPControls.contains(xcToolbar))
            attachMenu(component, activate, invalidate);
    } else if (isControlBar(component)) {
        if (FXPControls.contains(xcControlbar))
            attachMenu(component, activate, invalidate);
    }

    const TControlKind kind = controlKind(component);
    auto *control = qobject_cast<QWidget *>(component);
    if (kind != TControlKind::None && control && FXPControls.contains(requiredControl(kind))) {
        QWidget *parent = control->parentWidget();
        if (isStyledContainer(parent, FXPContainers)) {
            if (activate && controlTag(control) != kTagNeverStyled && controlTag(parent) != kTagNeverStyled)
                hook(control);
            if (invalidate)
                invalidateControl(control);
        }
    }

    if ((isFrame(component) && FXPContainers.contains(xccFrame)) || isForm(component) || isNavigator(component))
        StyleOwnedComponents(component, activate, invalidate);
}

void TXPMenu::hook(QWidget *control)
{
    // A control is hooked once; styling it again keeps the record and what it saved.
    if (TControlSubClass::recordOf(control))
        return;
    new TControlSubClass(this, control);
}

void TXPMenu::unhookAll()
{
    for (TControlSubClass *record : SubClasses())
        record->Unhook();
}

QList<TControlSubClass *> TXPMenu::SubClasses() const
{
    QList<TControlSubClass *> list;
    for (QObject *child : children())
        if (auto *record = qobject_cast<TControlSubClass *>(child))
            list.append(record);
    return list;
}

TXPMenu *TXPMenu::menuDrawer(const QObject *menuOrBar)
{
    if (!menuOrBar)
        return nullptr;
    return qobject_cast<TXPMenu *>(menuOrBar->property(kDrawerProperty).value<QObject *>());
}

void TXPMenu::attachMenu(QObject *menuOrBar, bool activate, bool invalidate)
{
    TXPMenu *drawer = menuDrawer(menuOrBar);
    if (activate) {
        if (!drawer || FOverrideOwnerDraw) {
            menuOrBar->setProperty(kDrawerProperty, QVariant::fromValue<QObject *>(this));
            if (!FAttachedMenus.contains(menuOrBar))
                FAttachedMenus.append(menuOrBar);
        }
    } else if (drawer == this) {
        menuOrBar->setProperty(kDrawerProperty, QVariant());
    }
    auto *widget = qobject_cast<QWidget *>(menuOrBar);
    if (widget && (isMainMenu(menuOrBar) || invalidate))
        widget->update();
}

void TXPMenu::redrawMenuBar()
{
    if (!FForm)
        return;
    for (QMenuBar *bar : FForm->findChildren<QMenuBar *>(Qt::FindDirectChildrenOnly))
        bar->update();
}

void TXPMenu::BuildColorScheme()
{
    BuildColorScheme(screenBitsPerPixel(FForm));
}

void TXPMenu::BuildColorScheme(int bitsPerPixel)
{
    ColorsChanged = false;
    BitsPerPixel = bitsPerPixel;
    HighColor = bitsPerPixel > 15;
    ParentTint = 16;
    ParentTintHot = 40;

    SchemeFace = FColor;
    SchemeIconBack = FIconBackColor;
    if (HighColor) {
        if (FUseDimColor) {
            SchemeSelect = LightenColor(FSelectColor, 68);
            SchemeCheckedArea = LightenColor(FSelectColor, 80);
            SchemeCheckedAreaSelect = LightenColor(FSelectColor, 50);
        } else {
            SchemeSelect = FSelectColor;
            SchemeCheckedArea = FSelectColor;
            SchemeCheckedAreaSelect = FSelectColor;
        }
        SchemeDarkFace = DarkenColor(clBtnFace, 90);
        SchemeMidFace = DarkenColor(clBtnFace, 76);
    } else {
        SchemeSelect = FSelectColor;
        SchemeCheckedArea = clWhite;
        SchemeCheckedAreaSelect = clSilver;
        SchemeDarkFace = clBtnShadow;
        SchemeMidFace = clBtnShadow;
    }
    SchemeSelectBorder = FSelectBorderColor;
    SchemeSelectFont = FSelectFontColor;
    SchemeMenuBar = FMenuBarColor;
    SchemeDisabled = FDisabledColor;
    SchemeChecked = FCheckedColor;
    SchemeSeparator = FSeparatorColor;

    if (!FUseSystemColors)
        return;
    SchemeSelectFont = FFontColor;
    if (HighColor) {
        SchemeFace = LightenColor(clBtnFace, 86);
        SchemeIconBack = LightenColor(clBtnFace, 16);
        SchemeSelect = LightenColor(clHighlight, 68);
        SchemeSelectBorder = clHighlight;
        SchemeMenuBar = clBtnFace;
        SchemeDisabled = LightenColor(clBtnShadow, 10);
        SchemeSeparator = LightenColor(clBtnShadow, 25);
        SchemeChecked = clHighlight;
        SchemeCheckedArea = LightenColor(clHighlight, 80);
        SchemeCheckedAreaSelect = LightenColor(clHighlight, 50);
    } else {
        SchemeFace = clWhite;
        SchemeIconBack = clBtnFace;
        SchemeSelect = clWhite;
        SchemeSelectBorder = clHighlight;
        SchemeMenuBar = clBtnFace;
        SchemeDisabled = clBtnShadow;
        SchemeChecked = clHighlight;
        SchemeSeparator = clBtnShadow;
        SchemeCheckedArea = clWhite;
        SchemeCheckedAreaSelect = clWhite;
    }
}
