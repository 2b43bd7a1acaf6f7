#include "app/systemerrors.h"

#include <cerrno>

QString fileErrorAdvice(int code)
{
    switch (code) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("文件夹不存在，请另选一个文件夹。");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有在这个文件夹中写入的权限，请选择一个你可以写入的文件夹。");
    case EROFS:
        return QStringLiteral("这个位置是只读的，请选择一个你可以写入的文件夹。");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满，请腾出空间，或选择另一个磁盘上的文件夹。");
    case EFBIG:
        return QStringLiteral("文件已达到这个磁盘允许的最大大小，请选择另一个磁盘上的文件夹。");
    case EISDIR:
        return QStringLiteral("这个名字是一个文件夹，请在它后面输入文件名。");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长，请换一个短一些的名字。");
    case EIO:
        return QStringLiteral("磁盘读写出错，请检查磁盘，或选择另一个磁盘上的文件夹。");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("文件正被别的程序使用，请换一个文件名。");
    default:
        return QStringLiteral("请换一个文件名或文件夹再试。");
    }
}

QString withSystemReason(const QString &intro, const QString &reason)
{
    return reason.isEmpty() ? intro : intro + QLatin1Char('\n') + reason;
}

QString deviceErrorText(const QString &what, const QString &reason)
{
    return withSystemReason(what + QStringLiteral("请检查麦克风是否接好、声音服务器是否在运行，或在“麦克风”中另选一个输入，然后再试。"),
                            reason);
}

QString fileWriteErrorText(int code, const QString &message)
{
    return withSystemReason(QStringLiteral("写入文件时出错：") + fileErrorAdvice(code), message);
}
