#include "app/tray.h"

#include "app/Form1.h"
#include "app/glyphs.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

TTrayState trayStateFor(const QString &stateText)
{
    if (stateText == TForm1::kStateRecording)
        return TTrayState::Recording;
    if (stateText == TForm1::kStatePaused)
        return TTrayState::Paused;
    if (stateText == TForm1::kStateMonitoring)
        return TTrayState::Listening;
    return TTrayState::Idle;
}

QString trayToolTip(const QString &stateText, const QString &elapsed)
{
    return QStringLiteral("Quavrel\n%1  %2").arg(stateText, elapsed);
}

QIcon trayIcon(TTrayState state)
{
    QImage image = applicationIconImage().convertToFormat(QImage::Format_ARGB32);
    if (state != TTrayState::Idle) {
        // A badge in the lower right corner, big enough to read at a tray's 22 pixels.
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        const QRectF badge(22, 22, 25, 25);
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(0x20, 0x20, 0x20));
        p.drawEllipse(badge);
        const QPointF c = badge.center();
        p.setPen(Qt::NoPen);
        switch (state) {
        case TTrayState::Recording:
            p.setBrush(QColor(0xe8, 0x18, 0x18));
            p.drawEllipse(c, 7, 7);
            break;
        case TTrayState::Paused:
            p.setBrush(QColor(0xf0, 0xb0, 0x10));
            p.drawRect(QRectF(c.x() - 6, c.y() - 7, 4, 14));
            p.drawRect(QRectF(c.x() + 2, c.y() - 7, 4, 14));
            break;
        case TTrayState::Listening:
            // An ear's worth of sound waves: two arcs in green.
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(QColor(0x30, 0xd0, 0x50), 2.5, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(QRectF(c.x() - 9, c.y() - 9, 18, 18), -45 * 16, 90 * 16);
            p.drawArc(QRectF(c.x() - 4, c.y() - 4, 8, 8), -45 * 16, 90 * 16);
            break;
        case TTrayState::Idle:
            break;
        }
    }
    return QIcon(QPixmap::fromImage(image));
}

TTrayIcon::TTrayIcon(TForm1 *form) : QObject(form), FForm(form)
{
    setObjectName(QStringLiteral("TrayIcon"));
    FMenu = new QMenu(form);
    FShow = FMenu->addAction(QStringLiteral("显示窗口"));
    FRecordOrStop = FMenu->addAction(QString());
    FVoice = FMenu->addAction(QString());
    FMenu->addSeparator();
    FQuit = FMenu->addAction(QStringLiteral("退出"));
    connect(FShow, &QAction::triggered, this, &TTrayIcon::showWindow);
    connect(FRecordOrStop, &QAction::triggered, this, [this] {
        if (FForm->DFBRecordStart->isEnabled())
            FForm->DFBRecordStart->click();
        else
            FForm->stop->click();
    });
    connect(FVoice, &QAction::triggered, FForm->Button2, &QAbstractButton::click);
    // As the window's close button: a recording is completed, then the program ends.
    connect(FQuit, &QAction::triggered, FForm, &QWidget::close);
    connect(FMenu, &QMenu::aboutToShow, this, &TTrayIcon::refreshMenu);
    refreshMenu();

    connect(FForm->StatusBar1, &TStatusBar::panelTextChanged, this, &TTrayIcon::follow);
    // Connected after the window's own handler: the clock it shows is already the new one.
    connect(FForm->InfoTimer, &QTimer::timeout, this, &TTrayIcon::follow);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        FIcon = new QSystemTrayIcon(this);
        FIcon->setContextMenu(FMenu);
        connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                showWindow();
        });
    }
    follow();
    if (FIcon) {
        FIcon->setIcon(trayIcon(FState));
        FIcon->show();
    }
}

TTrayIcon::~TTrayIcon()
{
    if (FIcon)
        FIcon->hide();
}

void TTrayIcon::follow()
{
    const QString text = FForm->StatusBar1->panelText(0);
    const TTrayState state = trayStateFor(text);
    FToolTip = trayToolTip(text, FForm->LTimeActive->text());
    if (FIcon) {
        if (state != FState)
            FIcon->setIcon(trayIcon(state));
        FIcon->setToolTip(FToolTip);
    }
    FState = state;
}

void TTrayIcon::refreshMenu()
{
    // The window under a box takes no commands, from here either.
    const bool free = !QApplication::activeModalWidget();
    const bool record = FForm->DFBRecordStart->isEnabled();
    FRecordOrStop->setText(record ? QStringLiteral("录音") : QStringLiteral("停止"));
    FRecordOrStop->setEnabled(free && (record || FForm->stop->isEnabled()));
    FVoice->setText(FForm->Button2->text());
    FVoice->setEnabled(free);
    FQuit->setEnabled(free);
}

void TTrayIcon::showWindow()
{
    FForm->showNormal();
    FForm->raise();
    FForm->activateWindow();
}
