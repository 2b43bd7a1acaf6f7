#include "app/dialogs.h"
#include "common/app_fixture.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
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
