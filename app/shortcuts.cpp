#include "app/shortcuts.h"

#include "app/Form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>

TWindowShortcuts::TWindowShortcuts(TForm1 *form) : QObject(form), FForm(form)
{
    setObjectName(QStringLiteral("Shortcuts"));
    FBindings = {
        {QKeySequence(Qt::CTRL | Qt::Key_R), {form->DFBRecordStart}},
        {QKeySequence(Qt::CTRL | Qt::Key_P), {form->cont, form->pasue}},
        {QKeySequence(Qt::CTRL | Qt::Key_E), {form->stop}},
        {QKeySequence(Qt::CTRL | Qt::Key_O), {form->SpeedButton5}},
        {QKeySequence(Qt::CTRL | Qt::Key_K), {form->Button2}},
    };
    for (const Binding &b : FBindings) {
        auto *shortcut = new QShortcut(b.key, form, nullptr, nullptr, Qt::WindowShortcut);
        const QKeySequence key = b.key;
        connect(shortcut, &QShortcut::activated, this, [this, key] { trigger(key); });
        const QString keyText = key.toString(QKeySequence::NativeText);
        for (QAbstractButton *button : b.buttons) {
            // Button2's caption changes with the state it switches; the tip names both.
            const QString what = button == form->Button2 ? QStringLiteral("开始或关闭声控") : button->text();
            button->setToolTip(QStringLiteral("%1（%2）").arg(what, keyText));
        }
    }
    qApp->installEventFilter(this);
}

TWindowShortcuts::~TWindowShortcuts()
{
    qApp->removeEventFilter(this);
}

const TWindowShortcuts::Binding *TWindowShortcuts::binding(const QKeySequence &key) const
{
    for (const Binding &b : FBindings)
        if (b.key == key)
            return &b;
    return nullptr;
}

QAbstractButton *TWindowShortcuts::target(const QKeySequence &key) const
{
    const Binding *b = binding(key);
    if (!b)
        return nullptr;
    for (QAbstractButton *button : b->buttons)
        if (button->isEnabled() && button->isVisibleTo(FForm))
            return button;
    return nullptr;
}

void TWindowShortcuts::trigger(const QKeySequence &key)
{
    // A box's own loop goes on dispatching; the window under it takes no commands.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return;
    if (QAbstractButton *button = target(key))
        button->click();
}

bool TWindowShortcuts::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto *widget = qobject_cast<QWidget *>(watched);
        const auto *keyEvent = static_cast<QKeyEvent *>(event);
        // Ignored and kept from the field, the key goes on to the window's shortcut.
        if (widget && widget->window() == FForm && binding(QKeySequence(keyEvent->keyCombination()))) {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
