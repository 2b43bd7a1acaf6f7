#include "app/dialogs.h"
#include "common/app_fixture.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

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

} // namespace

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
