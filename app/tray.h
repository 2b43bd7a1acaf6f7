#pragma once

// The icon in the desktop's system tray, for sessions that run for hours behind other
// windows: it shows whether the program is idle, listening, recording or paused, its tip the
// state text and the elapsed time, and its menu shows the window, records or stops, switches
// voice control and quits. Where the desktop has no tray, the state is still followed (and
// read by tests) but nothing is shown.

#include <QIcon>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;
class TForm1;

enum class TTrayState { Idle, Listening, Recording, Paused };

// The tray state the status text stands for.
TTrayState trayStateFor(const QString &stateText);
QString trayToolTip(const QString &stateText, const QString &elapsed);
QIcon trayIcon(TTrayState state);

class TTrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TTrayIcon(TForm1 *form);
    ~TTrayIcon() override;

    TTrayState state() const { return FState; }
    QString toolTip() const { return FToolTip; }
    // The texts and enabled states the menu has while the window is as it is now.
    void refreshMenu();
    QMenu *menu() const { return FMenu; }
    QAction *recordOrStopAction() const { return FRecordOrStop; }
    QAction *voiceAction() const { return FVoice; }
    QAction *quitAction() const { return FQuit; }
    // Shows and raises the window, as a click on the icon does.
    void showWindow();

private:
    void follow();

    TForm1 *FForm;
    TTrayState FState = TTrayState::Idle;
    QString FToolTip;
    QMenu *FMenu;
    QAction *FShow;
    QAction *FRecordOrStop;
    QAction *FVoice;
    QAction *FQuit;
    QSystemTrayIcon *FIcon = nullptr;
};
