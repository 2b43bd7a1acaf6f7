#include "events.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace {

void sendMouse(QWidget *w, QEvent::Type type, int x, int y, Qt::MouseButtons buttons)
{
    const QPointF local(x, y);
    QMouseEvent e(type, local, local, w->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

void sendEnter(QWidget *w)
{
    const QPointF local(2, 2);
    QEnterEvent e(local, local, w->mapToGlobal(local));
    QCoreApplication::sendEvent(w, &e);
}

void sendLeave(QWidget *w)
{
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(w, &e);
}

void sendPress(QWidget *w, int x, int y)
{
    sendMouse(w, QEvent::MouseButtonPress, x, y, Qt::LeftButton);
}

void sendRelease(QWidget *w, int x, int y)
{
    sendMouse(w, QEvent::MouseButtonRelease, x, y, Qt::NoButton);
}

void sendHeldMove(QWidget *w, int x, int y)
{
    const QPointF local(x, y);
    QMouseEvent e(QEvent::MouseMove, local, local, w->mapToGlobal(local), Qt::NoButton, Qt::LeftButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void sendDoubleClick(QWidget *w, int x, int y)
{
    sendMouse(w, QEvent::MouseButtonDblClick, x, y, Qt::LeftButton);
}

void sendSpace(QWidget *w, bool press, bool autoRepeat)
{
    QKeyEvent e(press ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                autoRepeat);
    QCoreApplication::sendEvent(w, &e);
}
