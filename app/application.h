#pragma once

// The application object and its general error report: an error raised out of an event
// handler is shown in a box with an error icon, captioned with the application's title,
// and the program goes on.

#include <QApplication>

#include <exception>
#include <functional>

class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// The message as the report shows it: a full stop is appended unless it already ends in one.
QString errorReportText(const QString &message);

// Shows the report for the exception currently being handled (call from a catch block).
void ShowException();
void ShowException(const std::exception &error);

// Runs one dispatch of an event; what it throws is reported and the event counts as handled.
template<typename F>
bool guardedDispatch(F &&dispatch) noexcept
{
    try {
        return std::forward<F>(dispatch)();
    } catch (...) {
        ShowException();
        return true;
    }
}

// Runs a handler and reports whatever it throws instead of letting it unwind through Qt.
template<typename F>
void runHandler(F &&handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (...) {
        ShowException();
    }
}
