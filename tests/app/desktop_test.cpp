// What a desktop program is expected to have beside its own controls: the keyboard, Qt's
// texts in Chinese, play that says what went wrong, a window of fixed size, sharp glyphs on
// scaled screens.

#include "app/player.h"
#include "app/shortcuts.h"
#include "app/translations.h"
#include "common/app_fixture.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <functional>
#include <ostream>

namespace {

// Under the X11 and GNOME key schemes a line edit claims Ctrl+E (end of line), Ctrl+K (cut to
// the end) and others through ShortcutOverride, and a shortcut of the window never sees them.
// Offscreen has the Windows scheme, so the test's field claims every Ctrl key the same way.
class ClaimsCtrlKeys : public QObject
{
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::ShortcutOverride
            || static_cast<QKeyEvent *>(event)->modifiers() != Qt::ControlModifier)
            return false;
        event->accept();
        return true;
    }
};

// The window shown, active, with the keyboard in the file-name field.
class KeyboardTest : public FormTest
{
protected:
    void SetUp() override
    {
        build();
        form->EOutFile->installEventFilter(&claims);
        form->EOutFile->setText(QStringLiteral("take.mp3"));
        form->show();
        QApplication::setActiveWindow(form.get());
        form->EOutFile->setFocus();
        form->EOutFile->setCursorPosition(0);
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        ASSERT_TRUE(form->EOutFile->hasFocus());
    }

    ClaimsCtrlKeys claims;

    void press(Qt::Key key)
    {
        QTest::keyClick(form->EOutFile, key, Qt::ControlModifier);
        deliver();
    }
};

struct KeyCase
{
    const char *name;
    Qt::Key key;
    // Brings the window into the state the key is pressed in.
    std::function<void(TForm1 &)> arrange;
    // The button the key must click, by name; empty when it must click none.
    const char *clicks;
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class KeyboardCase : public KeyboardTest, public testing::WithParamInterface<KeyCase>
{};

} // namespace

TEST_P(KeyboardCase, ClicksItsButtonOnlyWhenShownAndEnabled)
{
    const KeyCase &c = GetParam();
    work.write(QStringLiteral("take.mp3"), "ID3");
    c.arrange(*form);
    std::vector<QString> clicked;
    for (QAbstractButton *b : form->findChildren<QAbstractButton *>())
        QObject::connect(b, &QAbstractButton::clicked, form.get(), [&clicked, b] { clicked.push_back(b->objectName()); });
    const QString stateBefore = state();
    press(c.key);
    if (*c.clicks) {
        ASSERT_EQ(clicked, std::vector<QString>{QString::fromLatin1(c.clicks)});
        EXPECT_TRUE(boxes.boxes.empty()) << boxes.lastText().toStdString();
    } else {
        EXPECT_TRUE(clicked.empty()) << clicked.front().toStdString();
        EXPECT_EQ(state(), stateBefore);
    }
    // The field never took the key as an editing key of its own (Ctrl+K cuts the line).
    EXPECT_EQ(form->EOutFile->text(), QStringLiteral("take.mp3"));
}

namespace {

void idle(TForm1 &) {}
void recording(TForm1 &f)
{
    f.DFBRecordStart->click();
    VirtualWaveIn::deliverNotices();
    ASSERT_EQ(f.StatusBar1->panelText(0), TForm1::kStateRecording);
}
void paused(TForm1 &f)
{
    recording(f);
    f.pasue->click();
    ASSERT_EQ(f.StatusBar1->panelText(0), TForm1::kStatePaused);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Keyboard, KeyboardCase,
    testing::Values(KeyCase{"CtrlRRecordsWhenIdle", Qt::Key_R, idle, "DFBRecordStart"},
                    KeyCase{"CtrlRWhileRecordingFindsRecordDisabled", Qt::Key_R, recording, ""},
                    KeyCase{"CtrlPPausesARecording", Qt::Key_P, recording, "pasue"},
                    KeyCase{"CtrlPContinuesAPause", Qt::Key_P, paused, "cont"},
                    KeyCase{"CtrlPWhenIdleFindsPauseDisabledAndContinueHidden", Qt::Key_P, idle, ""},
                    KeyCase{"CtrlEStopsARecording", Qt::Key_E, recording, "stop"},
                    KeyCase{"CtrlEStopsAPause", Qt::Key_E, paused, "stop"},
                    KeyCase{"CtrlEWhenIdleFindsStopDisabled", Qt::Key_E, idle, ""},
                    KeyCase{"CtrlOPlays", Qt::Key_O, idle, "SpeedButton5"},
                    KeyCase{"CtrlOPlaysDuringARecording", Qt::Key_O, recording, "SpeedButton5"},
                    KeyCase{"CtrlKSwitchesVoiceControl", Qt::Key_K, idle, "Button2"}),
    [](const testing::TestParamInfo<KeyCase> &info) { return std::string(info.param.name); });

TEST_F(KeyboardTest, AWholeTakeWithoutTheMouse)
{
    press(Qt::Key_R);
    EXPECT_EQ(state(), TForm1::kStateRecording);
    press(Qt::Key_P);
    EXPECT_EQ(state(), TForm1::kStatePaused);
    press(Qt::Key_P);
    EXPECT_EQ(state(), TForm1::kStateRecording);
    press(Qt::Key_E);
    EXPECT_EQ(state(), TForm1::kStateStopped);
    EXPECT_FALSE(form->FRecording);
    press(Qt::Key_K);
    EXPECT_EQ(form->Button2->text(), QStringLiteral("关闭声控"));
    press(Qt::Key_K);
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
}

TEST_F(KeyboardTest, NothingWhileABoxIsOpen)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Quavrel"), QStringLiteral("…"), QMessageBox::Ok,
                    form.get());
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    for (Qt::Key key : {Qt::Key_R, Qt::Key_K, Qt::Key_O}) {
        press(key);
        QTest::keyClick(&box, key, Qt::ControlModifier);
    }
    EXPECT_FALSE(form->FRecording);
    EXPECT_EQ(state(), TForm1::kStateStopped);
    EXPECT_EQ(form->Button2->text(), QStringLiteral("开始声控"));
    EXPECT_TRUE(desktop.urls.empty());
    // The shortcut itself refuses while a box is up, whichever window has the keyboard.
    form->findChild<TWindowShortcuts *>()->trigger(QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_FALSE(form->FRecording);
}

TEST_F(KeyboardTest, EachButtonsTipNamesItsKey)
{
    const std::pair<QAbstractButton *, const char *> tips[] = {
        {form->DFBRecordStart, "Ctrl+R"}, {form->pasue, "Ctrl+P"}, {form->cont, "Ctrl+P"},
        {form->stop, "Ctrl+E"}, {form->SpeedButton5, "Ctrl+O"}, {form->Button2, "Ctrl+K"}};
    for (const auto &[button, key] : tips)
        EXPECT_TRUE(button->toolTip().contains(QLatin1String(key))) << button->toolTip().toStdString();
}

// ---- Qt's own texts ------------------------------------------------------------------------

namespace {

// Runs `open` (which shows a modal window) and hands that window to `look` once it is up.
void whileModal(const std::function<void()> &open, const std::function<void(QWidget *)> &look)
{
    QTimer::singleShot(0, [look] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        look(modal);
        modal->close();
    });
    open();
}

QStringList buttonTexts(QWidget *window)
{
    QStringList texts;
    for (const QDialogButtonBox *box : window->findChildren<QDialogButtonBox *>())
        for (const QAbstractButton *b : box->buttons())
            texts << b->text().remove(QLatin1Char('&'));
    return texts;
}

} // namespace

TEST(QtTranslation, StandardButtonsOfABoxAndTheSaveDialogReadChinese)
{
    ASSERT_TRUE(installQtTranslations()) << "qt6-translations-l10n is not installed";
    EXPECT_TRUE(installQtTranslations()); // once is enough; a second call adds nothing
    QStringList box;
    whileModal([] { ShowMessage(nullptr, QStringLiteral("测试")); }, [&](QWidget *w) { box = buttonTexts(w); });
    EXPECT_EQ(box, QStringList{QStringLiteral("确定")});

    QStringList dialog;
    SaveDialogRequest request;
    request.title = QStringLiteral("保存为...");
    request.nameFilter = TSaveDialog::qtFilter(QStringLiteral("*.mp3|*.mp3"));
    whileModal([&] { runSaveDialog(request); }, [&](QWidget *w) { dialog = buttonTexts(w); });
    // With their keys after them: "保存(S)".
    ASSERT_EQ(dialog.size(), 2) << dialog.join(u',').toStdString();
    EXPECT_TRUE(dialog[0].startsWith(QStringLiteral("保存"))) << dialog[0].toStdString();
    EXPECT_TRUE(dialog[1].startsWith(QStringLiteral("取消"))) << dialog[1].toStdString();
}

// ---- play ----------------------------------------------------------------------------------

TEST_F(FormTest, PlaySaysWhenTheFileIsMissingOrNoPlayerStarts)
{
    build();
    form->EOutFile->setText(QStringLiteral("take.mp3"));
    form->SpeedButton5->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("“%1”").arg(QDir::toNativeSeparators(work.file("take.mp3")))))
        << boxes.lastText().toStdString();
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("不存在")));
    EXPECT_TRUE(desktop.urls.empty());

    work.write(QStringLiteral("take.mp3"), "ID3");
    form->SpeedButton5->click();
    EXPECT_EQ(boxes.size(), 1u);
    ASSERT_EQ(desktop.urls.size(), 1u);
    EXPECT_EQ(desktop.urls[0], QUrl::fromLocalFile(work.file("take.mp3")));

    const OpenUrlHandler previous = setOpenUrlHandler([](const QUrl &) { return false; });
    EXPECT_FALSE(playFile(form.get(), QStringLiteral("take.mp3")));
    setOpenUrlHandler(previous);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("take.mp3")));
}

// ---- fixed size ----------------------------------------------------------------------------

TEST_F(FormTest, TheUserCannotResizeTheWindowInEitherHeight)
{
    build();
    for (int expanded = 0; expanded < 2; ++expanded) {
        const int height = (expanded ? TForm1::kExpandedHeight : TForm1::kCompactHeight) - TForm1::kFrameHeight;
        EXPECT_EQ(form->minimumSize(), QSize(TForm1::kClientWidth, height));
        EXPECT_EQ(form->maximumSize(), form->minimumSize());
        EXPECT_EQ(form->size(), form->minimumSize());
        form->SpeedButton1->click();
    }
    EXPECT_EQ(form->height(), TForm1::kCompactHeight - TForm1::kFrameHeight);
}

// ---- sharp at scale 2 ----------------------------------------------------------------------

namespace {

QImage renderAt(QWidget *widget, qreal ratio)
{
    QImage image(widget->size() * ratio, QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    widget->render(&image);
    return image;
}

bool isRecordRed(QRgb c)
{
    // The disc's face, faded as the style shows a glyph the pointer is not over.
    return qRed(c) > qGreen(c) + 0x40 && qRed(c) > qBlue(c) + 0x40;
}

} // namespace

TEST_F(FormTest, RecordGlyphAtScaleTwoHasEdgesFinerThanScaleOnePixels)
{
    build();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QWidget *button = form->DFBRecordStart;
    const QImage one = renderAt(button, 1);
    const QImage two = renderAt(button, 2);
    int redOne = 0, redTwo = 0, mixedBlocks = 0;
    for (int y = 0; y < one.height(); ++y)
        for (int x = 0; x < one.width(); ++x) {
            redOne += isRecordRed(one.pixel(x, y));
            int red = 0;
            for (int i = 0; i < 4; ++i)
                red += isRecordRed(two.pixel(2 * x + i % 2, 2 * y + i / 2));
            redTwo += red;
            // A picture of scale 1 blown up fills every 2 x 2 block alike.
            mixedBlocks += red > 0 && red < 4;
        }
    // The same disc at the same size...
    ASSERT_GT(redOne, 40);
    EXPECT_NEAR(double(redTwo) / redOne, 4.0, 1.0);
    // ...with its rim on half pixels all the way round.
    EXPECT_GE(mixedBlocks, 12);
}
