#include "app/dialogs.h"

#include "app/boxtext.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include <utility>

namespace {

MessageBoxHandler &messageBoxHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

SaveDialogHandler &saveDialogHandler()
{
    static SaveDialogHandler handler;
    return handler;
}

OpenUrlHandler &openUrlHandler()
{
    static OpenUrlHandler handler;
    return handler;
}

QString applicationTitle()
{
    return QStringLiteral("Quavrel");
}

} // namespace

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(messageBoxHandler(), std::move(handler));
}

SaveDialogHandler setSaveDialogHandler(SaveDialogHandler handler)
{
    return std::exchange(saveDialogHandler(), std::move(handler));
}

OpenUrlHandler setOpenUrlHandler(OpenUrlHandler handler)
{
    return std::exchange(openUrlHandler(), std::move(handler));
}

QMessageBox::StandardButton showMessageBox(const MessageBoxRequest &asked)
{
    MessageBoxRequest request = asked;
    request.text = fitBoxText(asked.text, asked.parent);
    if (const MessageBoxHandler &handler = messageBoxHandler())
        return handler(request);
    // exec() runs a nested loop, so timer ticks and device notices go on meanwhile.
    QMessageBox box(request.icon, request.title, request.text, QMessageBox::NoButton, request.parent);
    // A name that looks like markup is shown as it is.
    box.setTextFormat(Qt::PlainText);
    if (request.buttons.empty())
        box.setStandardButtons(QMessageBox::Ok);
    for (const MessageBoxButton &b : request.buttons) {
        box.addButton(b.button);
        box.button(b.button)->setText(b.text);
    }
    if (!request.buttons.empty()) {
        box.setDefaultButton(request.buttons.front().button);
        // Without an escape button, a box of several buttons ignores its close button.
        box.setEscapeButton(request.closeAnswer());
    }
    box.exec();
    QAbstractButton *clicked = box.clickedButton();
    return clicked ? box.standardButton(clicked) : request.closeAnswer();
}

void ShowMessage(QWidget *parent, const QString &text)
{
    showMessageBox({parent, applicationTitle(), text, QMessageBox::NoIcon, {}});
}

void ShowError(QWidget *parent, const QString &text)
{
    showMessageBox({parent, applicationTitle(), text, QMessageBox::Critical, {}});
}

TSaveFileDialog::TSaveFileDialog(const SaveDialogRequest &request) : QFileDialog(request.parent, request.title)
{
    // A desktop's own dialog never calls accept() here, and some take any folder typed.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setDefaultSuffix(request.defaultSuffix);
    setNameFilter(request.nameFilter);
    setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    setSizeGripEnabled(true);
    if (!request.selectedFile.isEmpty())
        selectFile(request.selectedFile);
}

void TSaveFileDialog::accept()
{
    const QStringList files = selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo chosen(files.constFirst());
        // An existing folder is opened by QFileDialog itself; a file must go into one.
        if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
            showMessageBox({this, windowTitle(),
                            QStringLiteral("文件夹“%1”不存在。\n请检查路径是否正确。")
                                .arg(QDir::toNativeSeparators(chosen.absolutePath())),
                            QMessageBox::Warning, {}});
            return;
        }
    }
    QFileDialog::accept();
}

QString runSaveDialog(const SaveDialogRequest &request)
{
    if (const SaveDialogHandler &handler = saveDialogHandler())
        return handler(request);
    TSaveFileDialog dialog(request);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool openUrl(const QUrl &url)
{
    if (const OpenUrlHandler &handler = openUrlHandler())
        return handler(url);
    return QDesktopServices::openUrl(url);
}

TSaveDialog::TSaveDialog(QObject *owner) : QObject(owner) {}

bool TSaveDialog::Execute(QWidget *parent)
{
    SaveDialogRequest request;
    request.parent = parent;
    request.title = Title;
    request.defaultSuffix = DefaultExt;
    request.nameFilter = qtFilter(Filter);
    request.selectedFile = FileName;
    request.confirmOverwrite = OverwritePrompt;
    const QString chosen = runSaveDialog(request);
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}

QString TSaveDialog::qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')));
    return entries.join(QStringLiteral(";;"));
}
