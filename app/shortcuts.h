#pragma once

// The window's keyboard shortcuts: Ctrl+R record, Ctrl+P pause or continue, Ctrl+E stop,
// Ctrl+O play, Ctrl+K voice control on or off. A key clicks the button it stands for, and
// only when that button is shown and enabled; with a box, a dialog or a drop-down list open
// it does nothing. The file-name field would take Ctrl+E, Ctrl+K and others as editing keys
// of its own: the keys are taken from it first.

#include <QKeySequence>
#include <QList>
#include <QObject>

#include <vector>

class QAbstractButton;
class TForm1;

class TWindowShortcuts : public QObject
{
    Q_OBJECT
public:
    explicit TWindowShortcuts(TForm1 *form);
    ~TWindowShortcuts() override;

    // The button `key` would click now, or null.
    QAbstractButton *target(const QKeySequence &key) const;
    // Runs `key` as its shortcut does.
    void trigger(const QKeySequence &key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Binding
    {
        QKeySequence key;
        // The first shown and enabled one is clicked: continue lies over pause.
        QList<QAbstractButton *> buttons;
    };
    const Binding *binding(const QKeySequence &key) const;

    TForm1 *FForm;
    std::vector<Binding> FBindings;
};
