#include "events.h"
#include "testwindow.h"

#include "style/XPMenuManager.h"
#include "style/controlsubclass.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <memory>

namespace {

// A window with one push button and one edit, and optionally its own styling instance,
// registered at once.
struct Window {
    std::unique_ptr<TForm> form = std::make_unique<TForm>();
    TButton *button = new TButton(QStringLiteral("OK"), form.get());
    TEdit *edit = new TEdit(QStringLiteral("text"), form.get());
    TXPMenu *menu = nullptr;

    explicit Window(bool ownInstance = false, bool active = true)
    {
        form->resize(200, 100);
        button->setGeometry(10, 10, 75, 25);
        edit->setGeometry(10, 50, 120, 21);
        if (ownInstance) {
            menu = new TXPMenu(form.get());
            menu->setActive(active);
            menu->Loaded();
        }
        form->show();
    }
    void releaseInstance()
    {
        delete menu;
        menu = nullptr;
    }
};

TXPMenuManager &manager()
{
    TXPMenuManager *m = TXPMenuManager::instance();
    EXPECT_NE(m, nullptr);
    return *m;
}

// The next pass of the registry's hook.
void nextPass()
{
    QCoreApplication::sendPostedEvents();
}

TXPMenu *hookOwner(const QWidget *control)
{
    TControlSubClass *record = TControlSubClass::recordOf(control);
    return record ? record->XPMenu.data() : nullptr;
}

} // namespace

TEST(StyleRegistry, FirstActiveInstanceStylesAndItsFormCountsAsStyled)
{
    Window inactive(true, false);
    Window main(true);
    EXPECT_EQ(manager().StylingInstance(), main.menu);
    EXPECT_EQ(manager().Instances(), (QList<TXPMenu *>{inactive.menu, main.menu}));
    EXPECT_TRUE(manager().StyledForms().contains(main.form.get()));
    EXPECT_TRUE(manager().StyledForms().contains(inactive.form.get()));
}

TEST(StyleRegistry, WindowCreatedAfterStartUpIsStyledAtTheNextPass)
{
    Window main(true);
    nextPass();
    Window later;
    EXPECT_TRUE(manager().PendingForms().contains(later.form.get()));
    EXPECT_EQ(hookOwner(later.button), nullptr);
    nextPass();
    EXPECT_EQ(hookOwner(later.button), main.menu);
    EXPECT_EQ(hookOwner(later.edit), main.menu);
    EXPECT_TRUE(manager().PendingForms().isEmpty());
    EXPECT_TRUE(manager().StyledForms().contains(later.form.get()));
}

TEST(StyleRegistry, WindowsOpenAtRegistrationAreFoundByTheScan)
{
    Window early;
    Window main(true);
    EXPECT_TRUE(manager().PendingForms().contains(early.form.get()));
    nextPass();
    EXPECT_EQ(hookOwner(early.button), main.menu);
}

TEST(StyleRegistry, WindowWhoseOwnInstanceRegisteredFirstIsSkipped)
{
    Window main(true);
    nextPass();
    Window own(true, false);
    nextPass();
    EXPECT_EQ(hookOwner(own.button), nullptr);
    EXPECT_EQ(manager().StylingInstance(), main.menu);
}

TEST(StyleRegistry, Tag999WindowsAreNeverPickedUp)
{
    Window before;
    setControlTag(before.form.get(), 999);
    Window main(true);
    nextPass();
    auto after = std::make_unique<TForm>();
    setControlTag(after.get(), 999);
    auto *button = new TButton(QStringLiteral("OK"), after.get());
    after->show();
    nextPass();
    manager().ScanForms();
    nextPass();
    EXPECT_EQ(hookOwner(before.button), nullptr);
    EXPECT_EQ(hookOwner(button), nullptr);
    EXPECT_FALSE(manager().StyledForms().contains(after.get()));
}

namespace {

QStringList gWarnings;

void keepWarning(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        gWarnings << text;
}

} // namespace

// Qt refuses some connections only with a warning; a refused watch on a window's end would
// leave the closed window in the registry's lists.
TEST(StyleRegistry, WatchingWindowsRaisesNoQtWarning)
{
    gWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    {
        Window main(true);
        Window other;
        nextPass();
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(gWarnings.isEmpty()) << gWarnings.join(QLatin1Char('\n')).toStdString();
}

TEST(StyleRegistry, AClosedWindowLeavesTheLists)
{
    Window main(true);
    nextPass();
    auto later = std::make_unique<Window>();
    QWidget *form = later->form.get();
    later.reset();
    EXPECT_FALSE(manager().PendingForms().contains(form));
    nextPass();
    EXPECT_FALSE(manager().StyledForms().contains(form));
}

TEST(StyleRegistry, StylingInstanceGoneMovesOtherWindowsHooksToTheSuccessor)
{
    auto first = std::make_unique<Window>(true);
    Window second(true);
    Window plain;
    nextPass();
    ASSERT_EQ(hookOwner(plain.button), first->menu);
    QWidget *firstButton = first->button;

    first->releaseInstance();
    EXPECT_EQ(manager().StylingInstance(), second.menu);
    EXPECT_EQ(hookOwner(plain.button), second.menu);
    EXPECT_EQ(hookOwner(plain.edit), second.menu);
    EXPECT_EQ(hookOwner(firstButton), nullptr);
    // The moved hooks still work for their new owner.
    sendEnter(plain.button);
    EXPECT_TRUE(TControlSubClass::recordOf(plain.button)->Hot);
}

TEST(StyleRegistry, LastStylingInstanceGoneRestoresTheOtherWindows)
{
    Window main(true);
    Window plain;
    nextPass();
    grabOf(plain.edit); // the edit goes flat at its first styled paint
    ASSERT_FALSE(plain.edit->Ctl3D);

    main.releaseInstance();
    EXPECT_EQ(TXPMenuManager::instance(), nullptr);
    EXPECT_EQ(TControlSubClass::recordOf(plain.button), nullptr);
    EXPECT_EQ(TControlSubClass::recordOf(plain.edit), nullptr);
    EXPECT_TRUE(plain.edit->Ctl3D);
    // Nothing on the controls leads to a released record any more.
    sendEnter(plain.button);
    sendPress(plain.button);
    sendRelease(plain.button);
    grabOf(plain.form.get());
    EXPECT_EQ(TControlSubClass::recordOf(plain.button), nullptr);
}

TEST(StyleRegistry, NoActiveSuccessorMeansRestoringEvenWithInstancesLeft)
{
    Window inactive(true, false);
    auto main = std::make_unique<Window>(true);
    Window plain;
    nextPass();
    main.reset();
    EXPECT_EQ(manager().StylingInstance(), nullptr);
    EXPECT_EQ(hookOwner(plain.button), nullptr);
    EXPECT_TRUE(manager().StyledForms().isEmpty());
}

TEST(StyleRegistry, DisablingSubclassingHandsStylingOverAndReenablingTakesItBack)
{
    Window main(true);
    Window other(true);
    Window plain;
    nextPass();

    main.menu->setDisableSubclassing(true);
    EXPECT_EQ(manager().StylingInstance(), other.menu);
    EXPECT_EQ(hookOwner(plain.button), other.menu);
    // Its own window stays with it.
    EXPECT_EQ(hookOwner(main.button), main.menu);

    other.menu->setDisableSubclassing(true);
    EXPECT_EQ(manager().StylingInstance(), nullptr);
    EXPECT_EQ(hookOwner(plain.button), nullptr);

    main.menu->setDisableSubclassing(false);
    EXPECT_EQ(manager().StylingInstance(), main.menu);
    nextPass();
    EXPECT_EQ(hookOwner(plain.button), main.menu);
}

TEST(StyleRegistry, HandOverWithoutAStylingInstanceChangesNothing)
{
    Window inactive(true, false);
    Window plain;
    ASSERT_EQ(manager().StylingInstance(), nullptr);
    manager().HandOver(inactive.menu);
    manager().HandOver(nullptr);
    EXPECT_EQ(manager().StylingInstance(), nullptr);
    EXPECT_EQ(manager().Instances(), QList<TXPMenu *>{inactive.menu});
    EXPECT_TRUE(manager().StyledForms().contains(inactive.form.get()));
}

TEST(StyleRegistry, FindSuccessorSkipsInactiveDisabledAndExcluded)
{
    Window a(true, false);
    Window b(true);
    Window c(true);
    Window d(true);
    c.menu->setDisableSubclassing(true);
    EXPECT_EQ(manager().FindSuccessor(nullptr), b.menu);
    EXPECT_EQ(manager().FindSuccessor(b.menu), d.menu);
}

TEST(StyleRegistry, MessageBoxButtonsAreStyled)
{
    Window main(true);
    nextPass();
    auto box = std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("Quavrel"),
                                             QStringLiteral("Done"), QMessageBox::Ok);
    box->show();
    nextPass();
    QAbstractButton *ok = box->button(QMessageBox::Ok);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(hookOwner(ok), main.menu);
    box.reset();
    EXPECT_TRUE(manager().StyledForms().size() == 1);
}

TEST(StyleRegistry, RegistryGoesWithTheLastInstance)
{
    {
        Window a(true);
        Window b(true, false);
        a.releaseInstance();
        EXPECT_NE(TXPMenuManager::instance(), nullptr);
    }
    EXPECT_EQ(TXPMenuManager::instance(), nullptr);
}

// A window handed back when the last styling instance goes gets every saved setting back:
// the edit its Ctl3D and border style, the item view its Ctl3D and border style too.
TEST(StyleRegistry, RestoringAWindowGivesEditsAndItemViewsCtl3DAndBorderBack)
{
    Window main(true);
    Window plain;
    auto *list = new QListWidget(plain.form.get());
    list->setGeometry(100, 10, 80, 40);
    list->show();
    nextPass();
    ASSERT_EQ(hookOwner(list), main.menu);
    grabOf(plain.form.get());
    ASSERT_FALSE(plain.edit->Ctl3D);
    ASSERT_FALSE(controlCtl3D(list));
    plain.edit->setBorderStyle(TEdit::bsNone);
    setControlBorderStyle(list, TEdit::bsNone);

    main.releaseInstance();
    EXPECT_TRUE(plain.edit->Ctl3D);
    EXPECT_EQ(plain.edit->BorderStyle, TEdit::bsSingle);
    EXPECT_TRUE(controlCtl3D(list));
    EXPECT_EQ(controlBorderStyle(list), TEdit::bsSingle);
}
