#include "voice_fixture.h"

#include "app/tray.h"

#include <QAction>

// The tray icon follows the state text; offscreen has no tray, and the state is followed
// all the same.
TEST_F(VoiceTest, TrayFollowsTheStateTextThroughAVoiceSessionAndAPauseByHand)
{
    auto *tray = form->findChild<TTrayIcon *>();
    ASSERT_NE(tray, nullptr);
    auto expectTray = [&](TTrayState wanted, const char *step) {
        EXPECT_EQ(tray->state(), wanted) << step;
        EXPECT_EQ(tray->state(), trayStateFor(state())) << step;
        EXPECT_TRUE(tray->toolTip().contains(state())) << step << ": " << tray->toolTip().toStdString();
    };
    expectTray(TTrayState::Idle, "at start");

    voiceOn(true, true, 1000, 0);
    tick();
    expectTray(TTrayState::Listening, "listening");
    feed(8000);
    tick();
    expectTray(TTrayState::Recording, "started by sound");
    for (int ms = 0; ms < 65000; ms += 100) {
        VirtualWaveIn::pump(form->FWaveIn, 100);
        deliver();
    }
    // The monitor heard the recording's sound too, and the next tick still judges it loud.
    feed(0);
    tick();
    expectTray(TTrayState::Recording, "still recording");
    feed(0, 2);
    tick();
    ASSERT_TRUE(paused());
    expectTray(TTrayState::Paused, "paused by silence");
    // The clock's text as the window shows it, with the sound already in the file.
    EXPECT_TRUE(form->LTimeActive->text().startsWith(QStringLiteral("0:01:0"))) << form->LTimeActive->text().toStdString();
    EXPECT_TRUE(tray->toolTip().contains(form->LTimeActive->text())) << tray->toolTip().toStdString();

    click(form->stop);
    deliver();
    expectTray(TTrayState::Idle, "stopped");

    record();
    expectTray(TTrayState::Recording, "recording by hand");
    tray->refreshMenu();
    EXPECT_EQ(tray->recordOrStopAction()->text(), QStringLiteral("停止"));
    click(form->pasue);
    expectTray(TTrayState::Paused, "paused by hand");
    click(form->cont);
    expectTray(TTrayState::Recording, "continued");
    // The menu's stop is the stop button's.
    tray->recordOrStopAction()->trigger();
    deliver();
    expectTray(TTrayState::Idle, "stopped from the tray");
    EXPECT_FALSE(form->FRecording);
}
