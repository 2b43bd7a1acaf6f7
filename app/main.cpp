#include "app/Form1.h"
#include "app/application.h"
#include "app/glyphs.h"
#include "app/shutdownsignals.h"
#include "app/translations.h"

#include <memory>

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quavrel"));
    QApplication::setWindowIcon(applicationIcon());
    // Without the translation Qt's own buttons stay English; the program runs all the same.
    installQtTranslations();

    // Before the window: a signal during start-up waits in the pipe for the first event loop.
    TShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &TShutdownSignals::received, &app, [] { closeWindowsForShutdown(); });

    auto form = std::make_unique<TForm1>();
    if (form->StartupFailed())
        return 1; // no input device and the user quit the box: no settings are written
    form->show();
    const int status = app.exec();
    form.reset(); // FormDestroy: ends a session still open, then saves the settings
    return status;
}
