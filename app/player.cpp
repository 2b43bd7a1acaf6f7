#include "app/player.h"

#include "app/dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

bool playFile(QWidget *owner, const QString &name)
{
    if (name.trimmed().isEmpty()) {
        ShowMessage(owner, QStringLiteral("没有要播放的文件：请在“保存为”中输入文件名，录音后再播放。"));
        return false;
    }
    // Handed over as a file URL, never to a shell: the name is data, not a command.
    const QFileInfo file(name);
    const QString shown = QDir::toNativeSeparators(file.absoluteFilePath());
    if (!file.exists()) {
        ShowMessage(owner, QStringLiteral("文件“%1”不存在（还没有录音？）。请先录音，或选择一个已有的文件。").arg(shown));
        return false;
    }
    if (!openUrl(QUrl::fromLocalFile(file.absoluteFilePath()))) {
        ShowError(owner, QStringLiteral("无法打开文件“%1”：系统没有能播放它的程序。请安装一个能播放 MP3 的播放器，"
                                        "或在文件管理器中为 MP3 文件选择打开方式。")
                             .arg(shown));
        return false;
    }
    return true;
}
