#pragma once

// SIGTERM, SIGINT and SIGHUP (logout, Ctrl-C, a closed terminal) end the program as closing
// its window does: an open recording is completed and the settings are saved. The handler
// only writes the signal's number to a pipe; the GUI thread reads it through a socket
// notifier, in the main loop or in the nested loop of a box that happens to be open.

#include <QObject>

class QSocketNotifier;

class TShutdownSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; one instance per process. A signal the program was started with
    // ignored (nohup, a background job) stays ignored.
    explicit TShutdownSignals(QObject *parent = nullptr);
    // Gives the signals back their default action.
    ~TShutdownSignals() override;
    TShutdownSignals(const TShutdownSignals &) = delete;
    TShutdownSignals &operator=(const TShutdownSignals &) = delete;

    // False when the pipe could not be made; the signals then keep their default action.
    bool isActive() const { return FNotifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPending();

    int FReadFd = -1;
    QSocketNotifier *FNotifier = nullptr;
};

// What a shutdown signal does: every open dialog and box is dismissed (its loop would hold the
// close until someone answered it), then every window is closed, which ends the program.
void closeWindowsForShutdown();
