#pragma once

// The flat-styling component of a window. While active it hooks the window's standard
// controls (one TControlSubClass each) and has them repainted flat in the colour scheme
// it computes. Menus, menu bars and tool bars get only their attachment; how they are
// drawn is not settled, as no window of ours has one.

#include "style/canvas.h"
#include "style/colors.h"
#include "style/controlkinds.h"
#include "style/XPMenuManager.h"

#include <QFont>
#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;
class TControlSubClass;
class TForm;

class TXPMenu : public QObject
{
    Q_OBJECT
public:
    explicit TXPMenu(QObject *owner);
    ~TXPMenu() override;

    // Registers the instance with the registry once its properties are set. It runs by
    // itself at the next pass of the event loop; a window that sets up its instance may
    // call it at once. Later calls do nothing.
    void Loaded();
    // A component of the window came or went: windows are announced to the registry, and
    // with AutoDetect a menu item coming in is styled at once.
    void Notification(QObject *component, TOperation operation);

    quint8 DimLevel() const { return FDimLevel; }
    void setDimLevel(quint8 value) { FDimLevel = value; }
    quint8 GrayLevel() const { return FGrayLevel; }
    void setGrayLevel(quint8 value) { FGrayLevel = value; }
    const QFont &Font() const { return FFont; }
    TColor FontColor() const { return FFontColor; }
    void setFont(const QFont &font, TColor color);
    TColor Color() const { return FColor; }
    void setColor(TColor value);
    bool DrawMenuBar() const { return FDrawMenuBar; }
    void setDrawMenuBar(bool value) { FDrawMenuBar = value; }
    TColor IconBackColor() const { return FIconBackColor; }
    void setIconBackColor(TColor value);
    TColor MenuBarColor() const { return FMenuBarColor; }
    void setMenuBarColor(TColor value);
    TColor SelectColor() const { return FSelectColor; }
    void setSelectColor(TColor value);
    TColor SelectBorderColor() const { return FSelectBorderColor; }
    void setSelectBorderColor(TColor value);
    TColor SelectFontColor() const { return FSelectFontColor; }
    void setSelectFontColor(TColor value);
    TColor DisabledColor() const { return FDisabledColor; }
    void setDisabledColor(TColor value);
    TColor SeparatorColor() const { return FSeparatorColor; }
    void setSeparatorColor(TColor value);
    TColor CheckedColor() const { return FCheckedColor; }
    void setCheckedColor(TColor value);
    int IconWidth() const { return FIconWidth; }
    void setIconWidth(int value) { FIconWidth = value; }
    bool DrawSelect() const { return FDrawSelect; }
    void setDrawSelect(bool value) { FDrawSelect = value; }
    bool UseSystemColors() const { return FUseSystemColors; }
    void setUseSystemColors(bool value);
    bool UseDimColor() const { return FUseDimColor; }
    void setUseDimColor(bool value) { FUseDimColor = value; }
    bool OverrideOwnerDraw() const { return FOverrideOwnerDraw; }
    void setOverrideOwnerDraw(bool value) { FOverrideOwnerDraw = value; }
    bool Gradient() const { return FGradient; }
    void setGradient(bool value) { FGradient = value; }
    bool FlatMenu() const { return FFlatMenu; }
    void setFlatMenu(bool value) { FFlatMenu = value; }
    bool AutoDetect() const { return FAutoDetect; }
    void setAutoDetect(bool value) { FAutoDetect = value; }
    TXPContainers XPContainers() const { return FXPContainers; }
    void setXPContainers(TXPContainers value);
    TXPControls XPControls() const { return FXPControls; }
    void setXPControls(TXPControls value);
    bool Active() const { return FActive; }
    void setActive(bool value);
    bool DisableSubclassing() const { return FDisableSubclassing; }
    void setDisableSubclassing(bool value);

    // The owner when it is a form; none otherwise.
    TForm *Form() const { return FForm; }

    void StyleOwnedComponents(QObject *container, bool activate, bool invalidate);
    void StyleComponent(QObject *component, bool activate, bool invalidate);
    // Computes the scheme for the depth of the form's screen, or for the depth given.
    void BuildColorScheme();
    void BuildColorScheme(int bitsPerPixel);

    // The hook records this instance owns, in the order they were made.
    QList<TControlSubClass *> SubClasses() const;
    // The instance whose drawing a menu, menu bar or tool bar is attached to, if any.
    static TXPMenu *menuDrawer(const QObject *menuOrBar);

    // The colour scheme; the painters read it, BuildColorScheme writes it.
    TColor SchemeFace = clBtnFace;
    TColor SchemeIconBack = clBtnFace;
    TColor SchemeSelect = clHighlight;
    TColor SchemeSelectBorder = clHighlight;
    TColor SchemeSelectFont = clMenuText;
    TColor SchemeCheckedArea = clHighlight;
    TColor SchemeCheckedAreaSelect = clHighlight;
    TColor SchemeChecked = clHighlight;
    TColor SchemeMenuBar = clBtnFace;
    TColor SchemeDisabled = clInactiveCaption;
    TColor SchemeSeparator = clBtnFace;
    TColor SchemeDarkFace = clBtnShadow;
    TColor SchemeMidFace = clBtnShadow;
    int BitsPerPixel = kDefaultBitsPerPixel;
    bool HighColor = true;
    int ParentTint = 16;
    int ParentTintHot = 40;
    bool ColorsChanged = false;
    static constexpr TColor TransparentKey = clMagenta;
    // Version switches of the menu drawing; they name Windows releases, none of which we
    // run on.
    bool IsNT = false;
    bool IsWin2000 = false;
    bool IsWinXP = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void hook(QWidget *control);
    void unhookAll();
    void attachMenu(QObject *menuOrBar, bool activate, bool invalidate);
    void redrawMenuBar();
    void colorChanged(TColor &field, TColor value);

    TForm *FForm = nullptr;
    bool FFormGoing = false;
    quint8 FDimLevel = 30;
    quint8 FGrayLevel = 10;
    QFont FFont;
    TColor FFontColor = clMenuText;
    TColor FColor = clBtnFace;
    bool FDrawMenuBar = false;
    TColor FIconBackColor = clBtnFace;
    TColor FMenuBarColor = clBtnFace;
    TColor FSelectColor = clHighlight;
    TColor FSelectBorderColor = clHighlight;
    TColor FSelectFontColor = clMenuText;
    TColor FDisabledColor = clInactiveCaption;
    TColor FSeparatorColor = clBtnFace;
    TColor FCheckedColor = clHighlight;
    int FIconWidth = 24;
    bool FDrawSelect = true;
    bool FUseSystemColors = true;
    bool FUseDimColor = false;
    bool FOverrideOwnerDraw = false;
    bool FGradient = false;
    bool FFlatMenu = false;
    bool FAutoDetect = false;
    TXPContainers FXPContainers = TXPContainers::all();
    TXPControls FXPControls = TXPControls::all();
    bool FActive = false;
    bool FDisableSubclassing = false;
    QList<QPointer<QObject>> FAttachedMenus;
    bool FLoaded = false;
};
