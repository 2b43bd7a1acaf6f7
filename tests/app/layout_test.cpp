#include "common/app_fixture.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>

#include <algorithm>
#include <iterator>
#include <set>

namespace {

struct Placement
{
    const char *name;
    const char *parent; // object name of the parent
    QRect geometry;
    QString text;
};

// Every visible control and the hidden ones placed outside the visible area.
const Placement kPlacements[] = {
    {"MaxLabel", "Form1", {160, 496, 46, 13}, QStringLiteral("MaxLabel")},
    {"DFBRecordStart", "Form1", {10, 147, 52, 22}, QStringLiteral("录音")},
    {"SpeedButton5", "Form1", {175, 147, 52, 22}, QStringLiteral("播放")},
    {"pasue", "Form1", {65, 147, 50, 22}, QStringLiteral("暂停")},
    {"stop", "Form1", {120, 147, 52, 22}, QStringLiteral("停止")},
    {"cont", "Form1", {65, 147, 52, 22}, QStringLiteral("继续")},
    {"Label10", "Form1", {8, 115, 54, 13}, QStringLiteral("保存为：  ")},
    {"GroupBox1", "Form1", {8, 8, 329, 89}, QStringLiteral("状态信息")},
    {"GroupBox2", "Form1", {8, 176, 329, 233}, QStringLiteral("录音操作")},
    {"CVBRQuality", "Form1", {253, 492, 75, 21}, QString()},
    {"COutFile", "Form1", {132, 492, 45, 17}, QStringLiteral("Datei")},
    {"TheBlackPanel", "Form1", {288, 480, 209, 85}, QString()},
    {"EOutFile", "Form1", {56, 112, 257, 21}, QStringLiteral("default.mp3")},
    {"BOutFile", "Form1", {316, 112, 21, 21}, QStringLiteral("...")},
    {"CTimeStamp", "Form1", {135, 508, 91, 17}, QStringLiteral("自动更名")},
    {"StatusBar1", "Form1", {0, 177, 345, 19}, QString()},
    {"Button2", "Form1", {230, 147, 53, 22}, QStringLiteral("开始声控")},
    {"SpeedButton1", "Form1", {286, 147, 53, 22}, QStringLiteral("显示设置")},
    {"ProgressBar1", "GroupBox1", {8, 24, 313, 17}, QString()},
    {"Panel1", "GroupBox1", {8, 56, 60, 20}, QStringLiteral("录音时间：")},
    {"LTimeActive", "GroupBox1", {72, 56, 73, 20}, QStringLiteral("0:00:00")},
    {"Panel3", "GroupBox1", {176, 56, 65, 20}, QStringLiteral("文件大小：")},
    {"flsize", "GroupBox1", {248, 56, 73, 20}, QString()},
    {"Label1", "GroupBox2", {8, 24, 48, 13}, QStringLiteral("麦克风：")},
    {"CDevices", "GroupBox2", {56, 20, 265, 21}, QString()},
    {"Label2", "GroupBox2", {8, 48, 36, 13}, QStringLiteral("频率：")},
    {"CSampleRate", "GroupBox2", {56, 44, 73, 21}, QString()},
    {"Label3", "GroupBox2", {136, 48, 36, 13}, QStringLiteral("声道：")},
    {"CChannels", "GroupBox2", {172, 44, 69, 21}, QString()},
    {"Label5", "GroupBox2", {248, 48, 36, 13}, QStringLiteral("音质：")},
    {"CQuality", "GroupBox2", {284, 44, 37, 21}, QString()},
    {"Label6", "GroupBox2", {8, 80, 60, 13}, QStringLiteral("编码方式：")},
    {"CMode", "GroupBox2", {72, 76, 65, 21}, QString()},
    {"Label4", "GroupBox2", {160, 80, 60, 13}, QStringLiteral("采样位数：")},
    {"CBitrate", "GroupBox2", {220, 76, 101, 21}, QString()},
    {"Bevel5", "GroupBox2", {8, 108, 305, 5}, QString()},
    {"Button1", "GroupBox2", {8, 120, 75, 25}, QStringLiteral("环境测试")},
    {"Label7", "GroupBox2", {144, 124, 96, 13}, QStringLiteral("捕获最大噪音值：")},
    {"SpinEdit1", "GroupBox2", {248, 123, 65, 22}, QString()},
    {"CheckBox1", "GroupBox2", {16, 152, 137, 17}, QStringLiteral("捕获声音即自动录音")},
    {"CheckBox2", "GroupBox2", {16, 176, 129, 17}, QStringLiteral("无声时自动暂停录音")},
    {"Label8", "GroupBox2", {32, 204, 72, 13}, QStringLiteral("保留无声片断")},
    {"SpinEdit2", "GroupBox2", {104, 195, 41, 22}, QString()},
    {"Label9", "GroupBox2", {144, 204, 12, 13}, QStringLiteral("秒")},
    {"Label11", "GroupBox2", {176, 204, 24, 13}, QStringLiteral("预录")},
    {"SpinEdit3", "GroupBox2", {204, 195, 57, 22}, QString()},
    {"Label12", "GroupBox2", {264, 204, 24, 13}, QStringLiteral("毫秒")},
    {"Label13", "GroupBox2", {160, 153, 24, 13}, QStringLiteral("余量")},
    {"SpinEdit4", "GroupBox2", {184, 149, 41, 22}, QString()},
    {"Label14", "GroupBox2", {228, 153, 16, 13}, QStringLiteral("dB")},
    {"Label15", "GroupBox2", {248, 153, 73, 13}, QStringLiteral("−∞ dBFS")},
    {"CheckBox3", "GroupBox2", {160, 176, 129, 17}, QStringLiteral("每次声控新建文件")},
    {"Label16", "GroupBox1", {248, 42, 73, 13}, QString()},
};

// Controls added to the window's description, in room it left free.
const char *const kAdded[] = {"Label11", "SpinEdit3", "Label12", "Label13", "SpinEdit4",
                              "Label14", "Label15",   "CheckBox3", "Label16"};

// Where the table puts a control.
QRect placeOf(const char *name)
{
    for (const Placement &p : kPlacements)
        if (qstrcmp(p.name, name) == 0)
            return p.geometry;
    ADD_FAILURE() << name << " is not in the table";
    return {};
}

QString captionOf(const QWidget *w)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<const QLineEdit *>(w))
        return e->text();
    return {};
}

bool usable(const QWidget *w, const QWidget *form)
{
    const bool interactive = qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QComboBox *>(w)
                             || qobject_cast<const QLineEdit *>(w) || qobject_cast<const QAbstractSpinBox *>(w)
                             || qobject_cast<const QAbstractSlider *>(w);
    // A spin box's inner line edit belongs to the spin box.
    if (qobject_cast<const QLineEdit *>(w) && qobject_cast<const QAbstractSpinBox *>(w->parentWidget()))
        return false;
    return interactive && w->isVisibleTo(form) && w->isEnabled();
}

std::set<QString> usableControls(const QWidget *form)
{
    std::set<QString> names;
    for (const QWidget *w : form->findChildren<QWidget *>())
        if (usable(w, form))
            names.insert(w->objectName());
    return names;
}

class LayoutTest : public FormTest
{
protected:
    void SetUp() override { build(); }
    const std::set<QString> kHiddenForever{QStringLiteral("CVBRQuality"), QStringLiteral("COutFile"),
                                           QStringLiteral("CTimeStamp"), QStringLiteral("MaxLabel"),
                                           QStringLiteral("TheBlackPanel")};
    void expectHiddenForever()
    {
        for (const QString &name : kHiddenForever) {
            auto *w = form->findChild<QWidget *>(name);
            ASSERT_NE(w, nullptr) << name.toStdString();
            EXPECT_FALSE(w->isVisibleTo(form.get())) << name.toStdString();
        }
    }
};

} // namespace

TEST_F(LayoutTest, EveryControlHasItsPlaceParentAndCaption)
{
    for (const Placement &p : kPlacements) {
        SCOPED_TRACE(p.name);
        auto *w = form->findChild<QWidget *>(QLatin1String(p.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(p.parent));
        EXPECT_EQ(w->geometry(), p.geometry);
        if (!p.text.isNull())
            EXPECT_EQ(captionOf(w), p.text);
    }
}

TEST_F(LayoutTest, AddedControlsOverlapNoOther)
{
    for (const char *added : kAdded) {
        const Placement *a = std::find_if(std::begin(kPlacements), std::end(kPlacements),
                                          [&](const Placement &p) { return qstrcmp(p.name, added) == 0; });
        ASSERT_NE(a, std::end(kPlacements)) << added;
        for (const Placement &p : kPlacements)
            if (&p != a && qstrcmp(p.parent, a->parent) == 0)
                EXPECT_FALSE(p.geometry.intersects(a->geometry)) << added << " covers " << p.name;
    }
}

TEST_F(LayoutTest, WindowIsCompactTitledAndHasNoMaximiseButton)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quavrel"));
    const QRect bar = placeOf("StatusBar1");
    EXPECT_EQ(form->size(), QSize(bar.width(), bar.bottom() + 1));
    EXPECT_EQ(form->height() + TForm1::kFrameHeight, TForm1::kCompactHeight);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->font().pointSize(), 8);
    EXPECT_TRUE(form->font().families().contains(QStringLiteral("WenQuanYi Micro Hei")));
    EXPECT_EQ(Form1, form.get());
}

TEST_F(LayoutTest, AtStartOnlySixControlsCanBeUsed)
{
    const std::set<QString> expected{QStringLiteral("DFBRecordStart"), QStringLiteral("SpeedButton5"),
                                     QStringLiteral("BOutFile"), QStringLiteral("Button2"),
                                     QStringLiteral("SpeedButton1"), QStringLiteral("EOutFile")};
    EXPECT_EQ(usableControls(form.get()), expected);
    EXPECT_FALSE(form->pasue->isEnabled());
    EXPECT_FALSE(form->stop->isEnabled());
    EXPECT_FALSE(form->cont->isVisibleTo(form.get()));
    EXPECT_EQ(state(), QStringLiteral("停止录音"));
    EXPECT_FALSE(form->InfoTimer->isActive());
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(form->InfoTimer->interval(), 500);
    EXPECT_EQ(form->Timer1->interval(), 100);
    EXPECT_EQ(form->Timer2->interval(), 1000);
}

TEST_F(LayoutTest, SettingsShownMakeTheWindow465HighWithTheStatusBarBelowTheGroup)
{
    form->show();
    click(form->SpeedButton1);
    EXPECT_EQ(form->height() + TForm1::kFrameHeight, TForm1::kExpandedHeight);
    EXPECT_EQ(form->width(), placeOf("StatusBar1").width());
    EXPECT_EQ(form->SpeedButton1->text(), QStringLiteral("隐藏设置"));
    EXPECT_TRUE(form->GroupBox2->isVisible());
    const QRect bar = form->StatusBar1->geometry();
    EXPECT_EQ(bar.bottom(), form->height() - 1);
    EXPECT_EQ(bar.width(), form->width());
    EXPECT_GT(bar.top(), form->GroupBox2->geometry().bottom());
    expectHiddenForever();

    click(form->SpeedButton1);
    EXPECT_EQ(form->height() + TForm1::kFrameHeight, TForm1::kCompactHeight);
    EXPECT_EQ(form->SpeedButton1->text(), QStringLiteral("显示设置"));
    EXPECT_FALSE(form->GroupBox2->isVisible());
    EXPECT_EQ(form->StatusBar1->geometry(), placeOf("StatusBar1"));
}

TEST_F(LayoutTest, TheFrameCannotBeDraggedToAnotherSize)
{
    form->show();
    const QRect before = form->DFBRecordStart->geometry();
    form->resize(500, 300);
    EXPECT_EQ(form->size(), QSize(345, 196));
    EXPECT_EQ(form->DFBRecordStart->geometry(), before);
    EXPECT_EQ(form->StatusBar1->geometry(), placeOf("StatusBar1"));
}

TEST_F(LayoutTest, HiddenControlsStayHiddenThroughRecordingAndSettings)
{
    form->show();
    click(form->SpeedButton1);
    record();
    pump(100);
    click(form->pasue);
    click(form->cont);
    click(form->stop);
    deliver();
    expectHiddenForever();
}

TEST_F(LayoutTest, SpinEditRefusesALetterAndKeepsNumbersOutsideAnyRange)
{
    TSpinEdit *spin = form->SpinEdit2;
    const QString before = spin->text();
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(spin, &letter);
    EXPECT_EQ(spin->text(), before);
    EXPECT_EQ(spin->Value(), 10);

    spin->findChild<QLineEdit *>()->selectAll();
    for (const QChar c : QStringLiteral("-123456789")) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(spin, &key);
    }
    EXPECT_EQ(spin->Value(), -123456789);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(spin, &enter);
    EXPECT_EQ(spin->Value(), -123456789);
}

TEST_F(LayoutTest, ListsHoldTheirItemsAndRowCounts)
{
    EXPECT_EQ(form->CSampleRate->count(), 9);
    EXPECT_EQ(form->CChannels->count(), 3);
    EXPECT_EQ(form->CMode->count(), 4);
    EXPECT_EQ(form->CBitrate->count(), 18);
    EXPECT_EQ(form->CQuality->count(), 3);
    EXPECT_EQ(form->CDevices->maxVisibleItems(), 20);
    EXPECT_EQ(form->CSampleRate->maxVisibleItems(), 9);
    EXPECT_EQ(form->CBitrate->maxVisibleItems(), 30);
    for (QComboBox *c : form->findChildren<QComboBox *>())
        EXPECT_FALSE(c->isEditable()) << c->objectName().toStdString();
    EXPECT_EQ(form->CVBRQuality->minimum(), 0);
    EXPECT_EQ(form->CVBRQuality->maximum(), 9);
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
    EXPECT_EQ(form->StatusBar1->panelCount(), 2);
}

TEST_F(LayoutTest, SpeedButtonsTakeNoFocusAndCarryTheirGlyphs)
{
    const std::pair<TSpeedButton *, int> buttons[] = {
        {form->DFBRecordStart, 2}, {form->SpeedButton5, 2}, {form->pasue, 1}, {form->stop, 2}, {form->cont, 1}};
    for (const auto &[button, images] : buttons) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(button->NumGlyphs(), images);
        EXPECT_EQ(button->Glyph().size(), QSize(16 * images, 16));
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    }
}

TEST_F(LayoutTest, TabOrderFollowsTheWindowDescription)
{
    const QList<QWidget *> order{form->CDevices, form->CSampleRate, form->CChannels, form->CQuality, form->CMode,
                                 form->CBitrate, form->Button1, form->SpinEdit1, form->SpinEdit4, form->CheckBox1,
                                 form->CheckBox2, form->CheckBox3, form->SpinEdit2, form->SpinEdit3, form->CVBRQuality, form->COutFile, form->EOutFile, form->BOutFile,
                                 form->CTimeStamp, form->Button2, form->SpeedButton1};
    // The focus chain, keeping only these controls, starting at the first of them.
    QList<QWidget *> chain;
    QWidget *w = order.first();
    do {
        if (order.contains(w))
            chain << w;
        w = w->nextInFocusChain();
    } while (w != order.first());
    EXPECT_EQ(chain, order);
}

TEST_F(LayoutTest, ButtonRowDrawsContinueOverPause)
{
    // Continue sits on pause's place and is later in the stacking order.
    const QList<QObject *> children = form->children();
    EXPECT_GT(children.indexOf(form->cont), children.indexOf(form->pasue));
    EXPECT_EQ(form->cont->pos(), form->pasue->pos());
}

TEST_F(LayoutTest, TheBevelIsARaisedLineAlongItsTop)
{
    form->show();
    click(form->SpeedButton1);
    const QImage img = form->Bevel5->grab().toImage();
    const int light = qGray(img.pixel(150, 0));
    const int shadow = qGray(img.pixel(150, 1));
    const int ground = qGray(img.pixel(150, 3));
    EXPECT_GT(light, ground);
    EXPECT_LT(shadow, ground - 40);
}
