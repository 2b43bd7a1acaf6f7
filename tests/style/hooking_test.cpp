#include "events.h"
#include "testwindow.h"

#include "style/controlkinds.h"
#include "style/controlsubclass.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

bool hooked(const QObject *control)
{
    return TControlSubClass::recordOf(control) != nullptr;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Counts the presses that reach a control after the hook has seen them.
class PressCounter : public QObject
{
public:
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            ++presses;
        return false;
    }
};

} // namespace

TEST(StyleKinds, ClassesOfTheWindowAndTheirKinds)
{
    TForm form;
    EXPECT_EQ(controlKind(new TComboBox(&form)), TControlKind::Combo);
    EXPECT_EQ(controlKind(new TEdit(QString(), &form)), TControlKind::Edit);
    EXPECT_EQ(controlKind(new TCheckBox(QString(), &form)), TControlKind::CheckBox);
    EXPECT_EQ(controlKind(new TButton(QString(), &form)), TControlKind::Button);
    EXPECT_EQ(controlKind(new TSpeedButton(QString(), &form)), TControlKind::SpeedButton);
    EXPECT_EQ(controlKind(new TPanel(QString(), &form)), TControlKind::Panel);
    EXPECT_EQ(controlKind(new TGroupBox(QString(), &form)), TControlKind::GroupBox);
    EXPECT_EQ(controlKind(new TProgressBar(&form)), TControlKind::ProgressBar);
    EXPECT_EQ(controlKind(new TSpinEdit(&form)), TControlKind::None);
    EXPECT_EQ(controlKind(new TLabel(QString(), &form)), TControlKind::None);
    EXPECT_EQ(controlKind(new TBevel(&form)), TControlKind::None);
    EXPECT_EQ(controlKind(new TTrackBar(&form)), TControlKind::None);
    EXPECT_EQ(controlKind(new TStatusBar(&form)), TControlKind::None);
    // A plain Qt push button is not named TButton.
    EXPECT_EQ(controlKind(new QPushButton(&form)), TControlKind::None);
    EXPECT_EQ(requiredControl(TControlKind::Navigator), xcButton);
    EXPECT_EQ(requiredControl(TControlKind::SpeedButton), xcSpeedButton);
}

TEST(StyleHooking, MainWindowKindsAreHookedAndTheRestAreNot)
{
    TestWindow w;
    const QList<QWidget *> styled = {
        w.CDevices, w.CSampleRate, w.CChannels, w.CQuality, w.CMode, w.CBitrate, w.EOutFile,
        w.CheckBox1, w.CheckBox2, w.COutFile, w.CTimeStamp, w.Button1, w.Button2, w.BOutFile,
        w.SpeedButton1, w.DFBRecordStart, w.SpeedButton5, w.pasue, w.stop, w.cont, w.Panel1,
        w.LTimeActive, w.Panel3, w.flsize, w.TheBlackPanel, w.GroupBox1, w.GroupBox2, w.ProgressBar1};
    for (QWidget *c : styled)
        EXPECT_TRUE(hooked(c)) << c->metaObject()->className() << " " << c->geometry().x();
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), styled.size());

    const QList<QWidget *> plain = {w.SpinEdit1, w.SpinEdit2, w.Label1, w.Label9, w.Label10, w.MaxLabel,
                                    w.LTimeActive2, w.Bevel5, w.CVBRQuality, w.StatusBar1, w.Form1,
                                    w.SpinEdit1->findChild<QLineEdit *>()};
    for (QWidget *c : plain)
        EXPECT_FALSE(hooked(c)) << c->metaObject()->className();
}

TEST(StyleHooking, Tag999OnAControlOrItsParentKeepsItPlain)
{
    TestWindow w(false);
    setControlTag(w.CheckBox1, 999);
    setControlTag(w.GroupBox1, 999);
    w.XPMenu1->setActive(true);
    EXPECT_FALSE(hooked(w.CheckBox1));
    EXPECT_TRUE(hooked(w.CheckBox2));
    EXPECT_FALSE(hooked(w.GroupBox1));
    EXPECT_FALSE(hooked(w.ProgressBar1));
    EXPECT_FALSE(hooked(w.Panel1));
    EXPECT_TRUE(hooked(w.GroupBox2));
    EXPECT_TRUE(hooked(w.EOutFile));
}

TEST(StyleHooking, ContainerClearedBeforeActivation)
{
    TestWindow w(false);
    w.XPMenu1->setXPContainers(TXPContainers::all().without(xccGroupBox));
    w.XPMenu1->setActive(true);
    EXPECT_FALSE(hooked(w.CDevices));
    EXPECT_FALSE(hooked(w.ProgressBar1));
    EXPECT_FALSE(hooked(w.Panel1));
    EXPECT_TRUE(hooked(w.GroupBox1));
    EXPECT_TRUE(hooked(w.EOutFile));
    EXPECT_TRUE(hooked(w.DFBRecordStart));
}

TEST(StyleHooking, ContainerClearedOnAnActiveInstance)
{
    TestWindow w;
    ASSERT_TRUE(hooked(w.CheckBox1));
    w.XPMenu1->setXPContainers(TXPContainers::all().without(xccGroupBox));
    EXPECT_TRUE(w.XPMenu1->Active());
    EXPECT_FALSE(hooked(w.CheckBox1));
    EXPECT_FALSE(hooked(w.Panel1));
    EXPECT_TRUE(hooked(w.GroupBox2));
    EXPECT_TRUE(hooked(w.Button2));

    w.XPMenu1->setXPContainers(TXPContainers::all());
    EXPECT_TRUE(hooked(w.CheckBox1));
    EXPECT_TRUE(hooked(w.Panel1));
}

TEST(StyleHooking, FormClearedFromContainersLeavesOnlyGroupAndPanelChildren)
{
    TestWindow w(false);
    w.XPMenu1->setXPContainers(TXPContainers::all().without(xccForm));
    w.XPMenu1->setActive(true);
    EXPECT_FALSE(hooked(w.EOutFile));
    EXPECT_FALSE(hooked(w.GroupBox1));
    EXPECT_FALSE(hooked(w.DFBRecordStart));
    EXPECT_TRUE(hooked(w.ProgressBar1));
    EXPECT_TRUE(hooked(w.CDevices));
}

TEST(StyleHooking, ClearingAControlKindOnAnActiveInstanceUnhooksItAtOnce)
{
    TestWindow w;
    TControlSubClass *buttonRecord = TControlSubClass::recordOf(w.Button2);
    ASSERT_TRUE(buttonRecord);
    w.XPMenu1->setXPControls(TXPControls::all().without(xcCombo));
    EXPECT_TRUE(w.XPMenu1->Active());
    for (QWidget *combo : {w.CDevices, w.CSampleRate, w.CChannels, w.CQuality, w.CMode, w.CBitrate})
        EXPECT_FALSE(hooked(combo));
    EXPECT_TRUE(hooked(w.Button2));
    EXPECT_TRUE(hooked(w.EOutFile));
    EXPECT_TRUE(hooked(w.DFBRecordStart));
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), 22);

    w.XPMenu1->setXPControls(TXPControls::all());
    EXPECT_TRUE(hooked(w.CBitrate));
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), 28);
}

TEST(StyleHooking, ClearingAKindOnAnInactiveInstanceOnlyStoresIt)
{
    TestWindow w(false);
    w.XPMenu1->setXPControls(TXPControls::all().without(xcSpeedButton));
    EXPECT_FALSE(w.XPMenu1->Active());
    EXPECT_TRUE(w.XPMenu1->SubClasses().isEmpty());
    EXPECT_FALSE(w.XPMenu1->XPControls().contains(xcSpeedButton));
}

TEST(StyleHooking, StylingAControlTwiceKeepsTheFirstSavedState)
{
    TestWindow w;
    w.Form1->show();
    TControlSubClass *first = TControlSubClass::recordOf(w.EOutFile);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->SavedCtl3D);
    grabOf(w.EOutFile); // the edit painter switches Ctl3D off
    ASSERT_FALSE(w.EOutFile->Ctl3D);

    w.XPMenu1->StyleComponent(w.EOutFile, true, true);
    EXPECT_EQ(TControlSubClass::recordOf(w.EOutFile), first);
    EXPECT_TRUE(first->SavedCtl3D);
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), 28);

    w.XPMenu1->setActive(false);
    EXPECT_TRUE(w.EOutFile->Ctl3D);
    EXPECT_TRUE(w.EOutFile->hasFrame());
}

TEST(StyleHooking, ActiveFalseRestoresEveryControlBeforeItReturns)
{
    TestWindow w;
    w.Form1->show();
    grabOf(w.Form1);
    ASSERT_FALSE(w.EOutFile->Ctl3D);
    w.XPMenu1->setActive(false);
    EXPECT_TRUE(w.XPMenu1->SubClasses().isEmpty());
    for (QWidget *c : w.Form1->findChildren<QWidget *>())
        EXPECT_FALSE(hooked(c)) << c->metaObject()->className();
    EXPECT_TRUE(w.EOutFile->Ctl3D);

    sendEnter(w.Button2);
    EXPECT_FALSE(hooked(w.Button2));
    w.XPMenu1->setActive(true);
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), 28);
}

TEST(StyleHooking, AControlMovedOutOfItsContainerIsStillRestored)
{
    TestWindow w;
    QWidget holder(w.Form1);
    w.CheckBox1->setParent(&holder);
    ASSERT_TRUE(hooked(w.CheckBox1));
    w.XPMenu1->setActive(false);
    EXPECT_FALSE(hooked(w.CheckBox1));
    w.CheckBox1->setParent(w.GroupBox2);
}

TEST(StyleHooking, DestroyingTheComponentRestoresEveryControl)
{
    TestWindow w;
    w.Form1->show();
    grabOf(w.Form1);
    ASSERT_FALSE(w.EOutFile->Ctl3D);
    delete w.XPMenu1;
    w.XPMenu1 = nullptr;
    EXPECT_TRUE(w.EOutFile->Ctl3D);
    for (QWidget *c : w.Form1->findChildren<QWidget *>())
        EXPECT_FALSE(hooked(c));
    grabOf(w.Form1);
}

TEST(StyleHooking, DestroyingTheFormWithTheComponentMadeFirstOrLast)
{
    for (bool menuFirst : {true, false}) {
        auto *form = new TForm;
        TXPMenu *menu = menuFirst ? new TXPMenu(form) : nullptr;
        auto *edit = new TEdit(QStringLiteral("x"), form);
        auto *button = new TButton(QStringLiteral("b"), form);
        if (!menu)
            menu = new TXPMenu(form);
        menu->setActive(true);
        form->show();
        grabOf(form);
        ASSERT_TRUE(hooked(edit));
        ASSERT_TRUE(hooked(button));
        QPointer<TXPMenu> guard(menu);
        delete form;
        flushDeletes();
        EXPECT_FALSE(guard);
        EXPECT_FALSE(hooked(edit));
        EXPECT_FALSE(hooked(button));
    }
}

TEST(StyleHooking, ADestroyedControlReleasesItsRecord)
{
    TestWindow w;
    QCheckBox *box = w.CheckBox1;
    delete box;
    flushDeletes();
    EXPECT_FALSE(hooked(box));
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), 27);
    w.XPMenu1->setActive(false);
    EXPECT_TRUE(w.XPMenu1->SubClasses().isEmpty());
}

TEST(StyleHooking, NestedFormIsWalkedThroughItsOwnComponents)
{
    TForm outer;
    auto *inner = new TForm(&outer);
    auto *combo = new TComboBox(inner);
    auto *menu = new TXPMenu(&outer);
    menu->setActive(true);
    EXPECT_TRUE(hooked(combo));
    EXPECT_FALSE(hooked(inner));
    menu->setActive(false);
    EXPECT_FALSE(hooked(combo));
}

TEST(StyleHooking, MenusAreAttachedAndDetached)
{
    TForm form;
    auto *bar = new QMenuBar(&form);
    auto *popup = new QMenu(&form);
    auto *skipped = new QMenuBar(&form);
    setControlTag(skipped, 999);
    auto *first = new TXPMenu(&form);
    auto *second = new TXPMenu(&form);
    first->setActive(true);
    EXPECT_EQ(TXPMenu::menuDrawer(bar), first);
    EXPECT_EQ(TXPMenu::menuDrawer(popup), first);
    EXPECT_EQ(TXPMenu::menuDrawer(skipped), nullptr);

    second->setActive(true);
    EXPECT_EQ(TXPMenu::menuDrawer(bar), first);
    second->setActive(false);
    second->setOverrideOwnerDraw(true);
    second->setActive(true);
    EXPECT_EQ(TXPMenu::menuDrawer(bar), second);

    first->setActive(false);
    EXPECT_EQ(TXPMenu::menuDrawer(bar), second);
    delete second;
    EXPECT_EQ(TXPMenu::menuDrawer(bar), nullptr);
}

TEST(StyleEvents, MouseOverAnEnabledButtonMakesItHotButNotOverADisabledOne)
{
    TestWindow w;
    TControlSubClass *enabled = TControlSubClass::recordOf(w.Button2);
    const int before = enabled->paintRequests();
    sendEnter(w.Button2);
    EXPECT_TRUE(enabled->Hot);
    EXPECT_GT(enabled->paintRequests(), before);
    sendLeave(w.Button2);
    EXPECT_FALSE(enabled->Hot);

    w.Button1->setEnabled(false);
    TControlSubClass *disabled = TControlSubClass::recordOf(w.Button1);
    const int quiet = disabled->paintRequests();
    sendEnter(w.Button1);
    EXPECT_FALSE(disabled->Hot);
    EXPECT_EQ(disabled->paintRequests(), quiet);
}

TEST(StyleEvents, HeldSpaceRepaintsOnceAndReleaseRepaintsAgain)
{
    TestWindow w;
    TControlSubClass *rec = TControlSubClass::recordOf(w.Button2);
    const int before = rec->paintRequests();
    sendSpace(w.Button2, true);
    EXPECT_TRUE(rec->SpaceDown);
    EXPECT_TRUE(rec->SpaceHeld);
    const int held = rec->paintRequests();
    EXPECT_GT(held, before);
    for (int i = 0; i < 3; ++i) {
        sendSpace(w.Button2, false, true);
        sendSpace(w.Button2, true, true);
    }
    EXPECT_TRUE(rec->SpaceDown);
    EXPECT_EQ(rec->paintRequests(), held);
    sendSpace(w.Button2, false);
    EXPECT_FALSE(rec->SpaceDown);
    EXPECT_FALSE(rec->SpaceHeld);
    EXPECT_GT(rec->paintRequests(), held);
}

TEST(StyleEvents, SpaceOnAControlWithoutOwnPressStateRepaintsExactlyOnce)
{
    TestWindow w;
    TControlSubClass *rec = TControlSubClass::recordOf(w.Panel1);
    const int before = rec->paintRequests();
    sendSpace(w.Panel1, true);
    EXPECT_EQ(rec->paintRequests(), before + 1);
    sendSpace(w.Panel1, true, true);
    sendSpace(w.Panel1, true, true);
    EXPECT_EQ(rec->paintRequests(), before + 1);
}

TEST(StyleEvents, DoubleClickCountsAsASecondPressOnButtonsAndCheckBoxesOnly)
{
    TestWindow w;
    struct Case {
        QWidget *control;
        int presses;
    };
    for (const Case &c : {Case{w.Button2, 1}, Case{w.DFBRecordStart, 1}, Case{w.CheckBox1, 1}, Case{w.Panel1, 0},
                          Case{w.ProgressBar1, 0}, Case{w.EOutFile, 0}}) {
        PressCounter counter;
        c.control->installEventFilter(&counter);
        // Our own filter sits in front of the counter, as it was installed later.
        w.XPMenu1->setActive(false);
        w.XPMenu1->setActive(true);
        sendDoubleClick(c.control);
        EXPECT_EQ(counter.presses, c.presses) << c.control->metaObject()->className();
        EXPECT_EQ(TControlSubClass::recordOf(c.control)->MouseDown, c.presses == 1);
        sendRelease(c.control);
        c.control->removeEventFilter(&counter);
    }
}

TEST(StyleEvents, PressReleaseFocusEnabledAndCheckChanges)
{
    TestWindow w;
    TControlSubClass *rec = TControlSubClass::recordOf(w.CheckBox1);
    sendPress(w.CheckBox1);
    EXPECT_TRUE(rec->MouseDown);
    sendRelease(w.CheckBox1);
    EXPECT_FALSE(rec->MouseDown);

    QFocusEvent in(QEvent::FocusIn);
    QCoreApplication::sendEvent(w.CheckBox1, &in);
    EXPECT_TRUE(rec->Hot);
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(w.CheckBox1, &out);
    EXPECT_FALSE(rec->Hot);

    sendEnter(w.CheckBox1);
    ASSERT_TRUE(rec->Hot);
    w.CheckBox1->setChecked(!w.CheckBox1->isChecked());
    EXPECT_FALSE(rec->Hot);

    sendEnter(w.CheckBox1);
    ASSERT_TRUE(rec->Hot);
    w.CheckBox1->setEnabled(false);
    EXPECT_FALSE(rec->Hot);
}

TEST(StyleEvents, EditKeepsItsRecordWhenItsBorderIsRebuilt)
{
    TestWindow w;
    w.Form1->show();
    TControlSubClass *rec = TControlSubClass::recordOf(w.EOutFile);
    ASSERT_TRUE(w.EOutFile->Ctl3D);
    grabOf(w.EOutFile);
    EXPECT_FALSE(w.EOutFile->Ctl3D);
    EXPECT_FALSE(w.EOutFile->hasFrame());
    EXPECT_TRUE(rec->Recreating);
    grabOf(w.EOutFile);
    EXPECT_EQ(TControlSubClass::recordOf(w.EOutFile), rec);
    EXPECT_FALSE(rec->Recreating);
    EXPECT_EQ(rec->LastMessage, int(QEvent::Paint));
}

TEST(StyleEvents, RecordMovesToAnotherOwnerWithItsSavedState)
{
    TestWindow w;
    w.Form1->show();
    grabOf(w.EOutFile);
    auto *other = new TXPMenu(w.Form1);
    TControlSubClass *moved = TControlSubClass::recordOf(w.EOutFile)->HandOver(other);
    ASSERT_TRUE(moved);
    EXPECT_EQ(TControlSubClass::recordOf(w.EOutFile), moved);
    EXPECT_EQ(moved->XPMenu, other);
    EXPECT_TRUE(moved->SavedCtl3D);
    EXPECT_EQ(w.XPMenu1->SubClasses().size(), 27);
    // The new owner is not active: the next event unhooks and restores.
    sendEnter(w.EOutFile);
    EXPECT_FALSE(hooked(w.EOutFile));
    EXPECT_TRUE(w.EOutFile->Ctl3D);
}

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

TEST(StyleHooking, DestroyingTheComponentRedrawsTheForm)
{
    TForm form;
    form.resize(200, 100);
    new TLabel(QStringLiteral("plain"), &form); // nothing on the form is hooked
    auto *menu = new TXPMenu(&form);
    menu->setActive(true);
    form.show();
    QCoreApplication::processEvents();
    PaintCounter counter;
    form.installEventFilter(&counter);
    QCoreApplication::processEvents();
    ASSERT_EQ(counter.paints, 0);
    delete menu;
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
}

// Unhooking gives an item view its border style back but leaves its Ctl3D as the flat
// look set it; an edit gets its Ctl3D back but keeps its border style.
TEST(StyleHooking, UnhookingRestoresCtl3DOfEditsAndOnlyTheBorderOfItemViews)
{
    Stage s(300, 200);
    auto *list = s.add(new QListWidget(&s.form), 10, 10, 120, 80);
    auto *edit = s.add(new TEdit(QStringLiteral("x"), &s.form), 10, 100, 120, 21);
    s.activate();
    grabOf(&s.form);
    ASSERT_FALSE(controlCtl3D(list));
    ASSERT_FALSE(edit->Ctl3D);
    setControlBorderStyle(list, TEdit::bsNone);
    edit->setBorderStyle(TEdit::bsNone);

    s.menu->setActive(false);
    EXPECT_FALSE(hooked(list));
    EXPECT_EQ(controlBorderStyle(list), TEdit::bsSingle);
    EXPECT_FALSE(controlCtl3D(list));
    EXPECT_TRUE(edit->Ctl3D);
    EXPECT_EQ(edit->BorderStyle, TEdit::bsNone);
}
