#include "app/application.h"
#include "app/devicelist.h"
#include "app/dialogs.h"

#include <gtest/gtest.h>


TEST(ErrorReport, AppendsAFullStopOnlyWhenMissing)
{
    EXPECT_EQ(errorReportText(QStringLiteral("Unable to write to ./recorder.ini")),
              QStringLiteral("Unable to write to ./recorder.ini."));
    EXPECT_EQ(errorReportText(QStringLiteral("File access denied.")), QStringLiteral("File access denied."));
    EXPECT_EQ(errorReportText(QStringLiteral("写入失败。")), QStringLiteral("写入失败。"));
}

TEST(ErrorReport, ShowsAnErrorBoxTitledWithTheApplication)
{
    std::vector<MessageBoxRequest> boxes;
    const auto previous = setMessageBoxHandler([&](const MessageBoxRequest &r) { boxes.push_back(r); });
    runHandler([] { throw std::runtime_error("I/O error 28"); });
    setMessageBoxHandler(previous);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, QStringLiteral("Quavrel"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("I/O error 28."));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
}

TEST(SaveDialog, FilterBecomesQtForm)
{
    EXPECT_EQ(TSaveDialog::qtFilter(QStringLiteral("*.mp3|*.mp3")), QStringLiteral("*.mp3 (*.mp3)"));
    EXPECT_EQ(TSaveDialog::qtFilter(QStringLiteral("MP3|*.mp3|All|*.*")), QStringLiteral("MP3 (*.mp3);;All (*.*)"));
}

TEST(SaveDialog, ExecuteKeepsTheChosenNameAndOpensWithItNextTime)
{
    TSaveDialog dialog(nullptr);
    dialog.DefaultExt = QStringLiteral("mp3");
    dialog.Filter = QStringLiteral("*.mp3|*.mp3");
    dialog.Title = QStringLiteral("保存为...");
    std::vector<SaveDialogRequest> seen;
    QString answer = QStringLiteral("/tmp/a.mp3");
    const auto previous = setSaveDialogHandler([&](const SaveDialogRequest &r) {
        seen.push_back(r);
        return answer;
    });
    EXPECT_TRUE(dialog.Execute(nullptr));
    answer.clear();
    EXPECT_FALSE(dialog.Execute(nullptr));
    setSaveDialogHandler(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].selectedFile, QString());
    EXPECT_EQ(seen[0].title, QStringLiteral("保存为..."));
    EXPECT_EQ(seen[0].defaultSuffix, QStringLiteral("mp3"));
    EXPECT_EQ(seen[0].nameFilter, QStringLiteral("*.mp3 (*.mp3)"));
    EXPECT_TRUE(seen[0].confirmOverwrite);
    EXPECT_EQ(seen[1].selectedFile, QStringLiteral("/tmp/a.mp3"));
    EXPECT_EQ(dialog.FileName, QStringLiteral("/tmp/a.mp3")); // a cancel keeps it
}

TEST(DeviceTexts, DescriptionsStayWholeAndAlikeOnesAreNumbered)
{
    const QString analog = QStringLiteral("Family 17h/19h HD Audio Controller Analog Stereo");
    const QString digital = QStringLiteral("Family 17h/19h HD Audio Controller Digital Stereo");
    EXPECT_EQ(uniqueDeviceTexts({analog, digital}), QStringList({analog, digital}));
    // Alike ignoring case, as a stored choice is matched; a number already taken is skipped.
    EXPECT_EQ(uniqueDeviceTexts({QStringLiteral("USB Mic"), QStringLiteral("usb mic"), QStringLiteral("USB Mic (3)"),
                                 QStringLiteral("USB Mic")}),
              QStringList({QStringLiteral("USB Mic"), QStringLiteral("usb mic (2)"), QStringLiteral("USB Mic (3)"),
                           QStringLiteral("USB Mic (4)")}));
    EXPECT_EQ(uniqueDeviceTexts({QStringLiteral("麦克风"), QStringLiteral("麦克风")}),
              QStringList({QStringLiteral("麦克风"), QStringLiteral("麦克风 (2)")}));
}

TEST(DeviceTexts, AddingAtTheEndKeepsTheEarlierTexts)
{
    const QStringList before = uniqueDeviceTexts({QStringLiteral("Mic"), QStringLiteral("Mic")});
    const QStringList after = uniqueDeviceTexts({QStringLiteral("Mic"), QStringLiteral("Mic"), QStringLiteral("Mic")});
    EXPECT_EQ(after.mid(0, 2), before);
    EXPECT_EQ(after[2], QStringLiteral("Mic (3)"));
    EXPECT_EQ(goneDeviceText(QStringLiteral("Mic (2)")), QStringLiteral("Mic (2)（已断开）"));
}
