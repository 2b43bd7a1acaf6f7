#pragma once

// Every modal box, the save dialog and handing a file to the desktop go through the
// functions here. Tests install handlers so that they can count and read the boxes, answer
// the dialog and catch the URL without a modal loop or a desktop.

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <type_traits>
#include <vector>

class QWidget;

struct MessageBoxButton
{
    QMessageBox::StandardButton button;
    QString text;
};

struct MessageBoxRequest
{
    QWidget *parent = nullptr;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    // None: a single OK. Otherwise the first is the default, and closing the box (Escape,
    // the window's close button) answers with the last.
    std::vector<MessageBoxButton> buttons;

    QMessageBox::StandardButton closeAnswer() const
    {
        return buttons.empty() ? QMessageBox::Ok : buttons.back().button;
    }
};

struct SaveDialogRequest
{
    QWidget *parent = nullptr;
    QString title;
    QString defaultSuffix;
    QString nameFilter;   // Qt's form, e.g. "*.mp3 (*.mp3)"
    QString selectedFile; // opens with this name
    bool confirmOverwrite = true;
};

// Returns the button the box was answered with.
using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageBoxRequest &)>;
// Returns the chosen file, or an empty string when the user cancelled.
using SaveDialogHandler = std::function<QString(const SaveDialogRequest &)>;
using OpenUrlHandler = std::function<bool(const QUrl &)>;

// Each setter returns the previous handler; an empty handler restores the real one.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);
// A handler that only looks at the boxes: each is answered as if it were closed.
template<typename F>
    requires std::is_void_v<std::invoke_result_t<F &, const MessageBoxRequest &>>
MessageBoxHandler setMessageBoxHandler(F handler)
{
    return setMessageBoxHandler(MessageBoxHandler([handler = std::move(handler)](const MessageBoxRequest &r) mutable {
        handler(r);
        return r.closeAnswer();
    }));
}
SaveDialogHandler setSaveDialogHandler(SaveDialogHandler handler);
OpenUrlHandler setOpenUrlHandler(OpenUrlHandler handler);

QMessageBox::StandardButton showMessageBox(const MessageBoxRequest &request);
// A plain notice captioned with the application's title.
void ShowMessage(QWidget *parent, const QString &text);
// An error box captioned with the application's title.
void ShowError(QWidget *parent, const QString &text);
QString runSaveDialog(const SaveDialogRequest &request);
bool openUrl(const QUrl &url);

// The save dialog runSaveDialog shows: Qt's own dialog rather than the desktop's, so that it
// can refuse a name in a folder that does not exist (with a box) and stay open. It starts with
// the request's name selected.
class TSaveFileDialog : public QFileDialog
{
    Q_OBJECT
public:
    explicit TSaveFileDialog(const SaveDialogRequest &request);

protected:
    void accept() override;
};

// The save-file dialog component: its settings and the name last chosen in it.
class TSaveDialog : public QObject
{
    Q_OBJECT
public:
    explicit TSaveDialog(QObject *owner);

    QString DefaultExt;
    QString Filter;   // "description|pattern" pairs
    QString Title;
    QString FileName; // the name last chosen; the dialog opens with it
    bool OverwritePrompt = true;

    // Runs the dialog; true when a file was chosen, which is then in FileName.
    bool Execute(QWidget *parent);

    // "a|b|c|d" -> "a (b);;c (d)"
    static QString qtFilter(const QString &filter);
};
