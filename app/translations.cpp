#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    const QString name = QStringLiteral("qtbase_zh_CN");
    if (app->findChild<QTranslator *>(name, Qt::FindDirectChildrenOnly))
        return true;
    auto *translator = new QTranslator(app);
    translator->setObjectName(name);
    // The window is Chinese whatever the desktop's language, so the file is named, not
    // looked up from the system's locale.
    if (!translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
