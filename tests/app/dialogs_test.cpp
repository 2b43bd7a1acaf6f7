#include "app/boxtext.h"
#include "app/dialogs.h"
#include "common/app_fixture.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <functional>

namespace {

// What is typed into the save dialog's name field, and what comes of it.
struct TypedName
{
    const char *name;
    QString typed;               // "WORK/" stands for the dialog's folder
    QString chosen;              // the file chosen, or empty when the dialog must stay open
    QString boxNames;            // the folder the box names
};

void PrintTo(const TypedName &c, std::ostream *os)
{
    *os << c.name;
}

class SaveDialogTest : public testing::TestWithParam<TypedName>
{
protected:
    QString inWork(const QString &text) const
    {
        return QString(text).replace(QStringLiteral("WORK/"), work.path() + QLatin1Char('/'));
    }

    WorkDir work;
    BoxLog boxes;
};

// Shows a real box and, once it is up, does `act` to it; returns the box's answer.
QMessageBox::StandardButton answerRealBox(const MessageBoxRequest &request, std::function<void(QMessageBox &)> act)
{
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll.stop();
            act(*box);
        }
    });
    poll.start();
    return showMessageBox(request);
}

QAbstractButton *buttonCalled(QMessageBox &box, const QString &text)
{
    for (QAbstractButton *b : box.buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

TEST(MessageBox, ARealBoxAnswersWithTheButtonChosenAndClosingItAnswersWithTheLast)
{
    const MessageBoxRequest request{nullptr, QStringLiteral("Quavrel"), QStringLiteral("No server"),
                                    QMessageBox::Critical,
                                    {{QMessageBox::Retry, QStringLiteral("重试 / Try again")},
                                     {QMessageBox::Close, QStringLiteral("退出 / Quit")}}};
    QString defaultText;
    EXPECT_EQ(answerRealBox(request,
                            [&](QMessageBox &box) {
                                defaultText = box.defaultButton() ? box.defaultButton()->text() : QString();
                                QAbstractButton *retry = buttonCalled(box, QStringLiteral("重试 / Try again"));
                                retry ? retry->click() : box.done(0);
                            }),
              QMessageBox::Retry);
    EXPECT_EQ(defaultText, QStringLiteral("重试 / Try again"));
    EXPECT_EQ(answerRealBox(request, [](QMessageBox &box) { box.close(); }), QMessageBox::Close);
    EXPECT_EQ(answerRealBox(request,
                            [](QMessageBox &box) {
                                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                                QApplication::sendEvent(&box, &escape);
                            }),
              QMessageBox::Close);

    const MessageBoxRequest plain{nullptr, QStringLiteral("Quavrel"), QStringLiteral("Note"), QMessageBox::NoIcon, {}};
    int buttons = 0;
    EXPECT_EQ(answerRealBox(plain,
                            [&](QMessageBox &box) {
                                buttons = int(box.buttons().size());
                                box.close();
                            }),
              QMessageBox::Ok);
    EXPECT_EQ(buttons, 1);
}

TEST_P(SaveDialogTest, TakesOnlyANameInAnExistingFolder)
{
    const TypedName &c = GetParam();
    work.write(QStringLiteral("plain.txt"), "a file, not a folder");
    SaveDialogRequest request;
    request.title = QStringLiteral("保存为...");
    request.defaultSuffix = QStringLiteral("mp3");
    request.nameFilter = TSaveDialog::qtFilter(QStringLiteral("*.mp3|*.mp3"));
    TSaveFileDialog dialog(request);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    dialog.setDirectory(work.path());
    dialog.open();
    ASSERT_TRUE(dialog.isVisible());

    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    ASSERT_TRUE(edit && buttons);
    QPushButton *save = buttons->button(QDialogButtonBox::Save);
    ASSERT_TRUE(save);
    edit->setText(inWork(c.typed));
    ASSERT_TRUE(save->isEnabled());
    save->click();

    if (c.chosen.isEmpty()) {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("保存为..."));
        EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Warning);
        EXPECT_TRUE(boxes.lastText().contains(QStringLiteral("“%1”").arg(inWork(c.boxNames))))
            << boxes.lastText().toStdString();
        // Mended, the same dialog takes the name.
        edit->setText(work.file(QStringLiteral("fixed.mp3")));
        save->click();
        EXPECT_EQ(dialog.selectedFiles(), QStringList{work.file(QStringLiteral("fixed.mp3"))});
    } else {
        EXPECT_TRUE(boxes.boxes.empty()) << boxes.lastText().toStdString();
        EXPECT_EQ(dialog.selectedFiles(), QStringList{inWork(c.chosen)});
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, SaveDialogTest,
    testing::Values(
        TypedName{"MissingAbsoluteFolder", QStringLiteral("/nonexistent/dir/x.mp3"), {}, QStringLiteral("/nonexistent/dir")},
        TypedName{"MissingFolderBelowTheCurrentOne", QStringLiteral("missing/take.mp3"), {}, QStringLiteral("WORK/missing")},
        TypedName{"AFileWhereTheFolderShouldBe", QStringLiteral("WORK/plain.txt/take.mp3"), {},
                  QStringLiteral("WORK/plain.txt")},
        TypedName{"FullPathInAnExistingFolder", QStringLiteral("WORK/take.mp3"), QStringLiteral("WORK/take.mp3"), {}},
        TypedName{"BareNameGetsTheExtension", QStringLiteral("take"), QStringLiteral("WORK/take.mp3"), {}}),
    [](const auto &info) { return std::string(info.param.name); });

namespace {

// A box text with a long name in it; the name's first and last characters must stay.
struct LongName
{
    const char *name;
    QString text;
    QString start, end;
};

void PrintTo(const LongName &c, std::ostream *os)
{
    *os << c.name;
}

class LongNameBox : public testing::TestWithParam<LongName> {};

QString wordsOf(int length)
{
    QString words;
    while (words.size() < length)
        words += QStringLiteral("Mic%1 ").arg(words.size());
    return words.left(length);
}

QSize shownSize(QMessageBox &box)
{
    box.show();
    QApplication::processEvents();
    return box.frameGeometry().size();
}

} // namespace

TEST_P(LongNameBox, IsElidedInTheMiddleSoTheBoxFitsTheScreen)
{
    const LongName &c = GetParam();
    // On a screen 1024 pixels wide.
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    const QString fitted = elideWideNames(c.text, metrics, boxNameWidth(1024));
    EXPECT_TRUE(fitted.contains(c.start)) << fitted.toStdString();
    EXPECT_TRUE(fitted.contains(c.end)) << fitted.toStdString();
    EXPECT_TRUE(fitted.contains(QChar(0x2026)));
    // Unfitted, the box runs off the screen here or fills it with lines of the name; fitted for
    // 1024 pixels, it keeps inside them.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QMessageBox plain(QMessageBox::Critical, QStringLiteral("Quavrel"), c.text);
    const QSize before = shownSize(plain);
    EXPECT_TRUE(before.width() > screen.width() || before.height() > screen.height() / 2) << "the test shows no fault";
    QMessageBox elided(QMessageBox::Critical, QStringLiteral("Quavrel"), fitted);
    EXPECT_LE(shownSize(elided).width(), 1024);

    // Every box goes through it, for the screen it is on.
    QSize real;
    QString shownText;
    answerRealBox({nullptr, QStringLiteral("Quavrel"), c.text, QMessageBox::Critical, {}}, [&](QMessageBox &box) {
        real = box.frameGeometry().size();
        shownText = box.text();
        box.close();
    });
    EXPECT_LE(real.width(), screen.width());
    EXPECT_LE(real.height(), screen.height());
    EXPECT_TRUE(shownText.contains(c.start) && shownText.contains(c.end)) << shownText.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, LongNameBox,
    testing::Values(
        LongName{"FileNameOf300Characters",
                 QStringLiteral("无法创建文件“/home/user/%1.mp3”：No space left on device").arg(QString(285, QLatin1Char('n'))),
                 QStringLiteral("/home/user/nn"), QStringLiteral("nn.mp3”：No space")},
        LongName{"DeviceDescriptionOf2000Characters",
                 QStringLiteral("无法打开录音设备“%1”：设备已被占用。").arg(wordsOf(2000)),
                 QStringLiteral("“Mic0 Mic5"), QStringLiteral("”：设备已被占用。")},
        LongName{"UnquotedNameInAWriteError",
                 QStringLiteral("I/O error 28 (No space left on device) writing %1.").arg(QString(300, QLatin1Char('w'))),
                 QStringLiteral("writing www"), QStringLiteral("www.")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BoxText, ShortNamesAndMarkupStandAsTheyAre)
{
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    const QString text = QStringLiteral("无法创建文件“<b>take</b>.mp3”：Permission denied");
    EXPECT_EQ(elideWideNames(text, metrics, boxNameWidth(1024)), text);
    QString shown;
    answerRealBox({nullptr, QStringLiteral("Quavrel"), text, QMessageBox::Critical, {}}, [&](QMessageBox &box) {
        shown = box.textFormat() == Qt::PlainText ? box.text() : QString();
        box.close();
    });
    EXPECT_EQ(shown, text);
}
