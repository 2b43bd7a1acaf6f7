#include "app/application.h"

#include "app/dialogs.h"

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    return guardedDispatch([&] { return QApplication::notify(receiver, event); });
}

QString errorReportText(const QString &message)
{
    QString text = message.trimmed();
    if (!text.endsWith(QLatin1Char('.')) && !text.endsWith(QChar(0x3002)))
        text += QLatin1Char('.');
    return text;
}

void ShowException(const std::exception &error)
{
    ShowError(QApplication::activeWindow(), errorReportText(QString::fromUtf8(error.what())));
}

void ShowException()
{
    try {
        throw;
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowError(QApplication::activeWindow(), errorReportText(QStringLiteral("发生未知错误。")));
    }
}
