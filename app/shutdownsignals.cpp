#include "app/shutdownsignals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

constexpr std::array<int, 3> kShutdownSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's write end: set on the GUI thread while the handlers are not installed, only
// read by the handler.
volatile sig_atomic_t writeFd = -1;

void onShutdownSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the pipe full, a close is already on its way.
    if (writeFd >= 0) {
        const ssize_t written = ::write(writeFd, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

} // namespace

TShutdownSignals::TShutdownSignals(QObject *parent) : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FReadFd = fds[0];
    writeFd = fds[1];
    FNotifier = new QSocketNotifier(FReadFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TShutdownSignals::readPending);

    for (const int signalNumber : kShutdownSignals) {
        struct sigaction previous{};
        if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action{};
        action.sa_handler = onShutdownSignal;
        ::sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

TShutdownSignals::~TShutdownSignals()
{
    if (!FNotifier)
        return;
    for (const int signalNumber : kShutdownSignals) {
        struct sigaction current{};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == onShutdownSignal) {
            struct sigaction action{};
            action.sa_handler = SIG_DFL;
            ::sigemptyset(&action.sa_mask);
            ::sigaction(signalNumber, &action, nullptr);
        }
    }
    const int fd = writeFd;
    writeFd = -1;
    ::close(fd);
    ::close(FReadFd);
}

void TShutdownSignals::readPending()
{
    unsigned char bytes[16];
    ssize_t n;
    int last = 0;
    while ((n = ::read(FReadFd, bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            last = bytes[n - 1];
    if (last != 0)
        emit received(last);
}

void closeWindowsForShutdown()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->reject();
    QApplication::closeAllWindows();
}
