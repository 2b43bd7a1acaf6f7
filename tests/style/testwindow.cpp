#include "testwindow.h"

#include <QPainter>
#include <QPolygon>

namespace {

const QColor kOlive(128, 128, 0);

void drawMotif(QPainter &p, GlyphMotif motif)
{
    p.setPen(Qt::NoPen);
    switch (motif) {
    case GlyphMotif::Disc:
        p.setBrush(QColor(128, 0, 0));
        p.drawEllipse(QRect(2, 2, 12, 12));
        p.setBrush(QColor(255, 0, 0));
        p.drawEllipse(QRect(4, 4, 8, 8));
        break;
    case GlyphMotif::Triangle:
        p.setBrush(QColor(0, 160, 0));
        p.drawPolygon(QPolygon({QPoint(4, 2), QPoint(13, 8), QPoint(4, 14)}));
        break;
    case GlyphMotif::Bars:
        p.fillRect(QRect(4, 3, 3, 10), QColor(200, 0, 0));
        p.fillRect(QRect(9, 3, 3, 10), QColor(200, 0, 0));
        break;
    case GlyphMotif::Square:
        p.fillRect(QRect(3, 3, 10, 10), QColor(0, 0, 200));
        break;
    case GlyphMotif::BarTriangle:
        p.fillRect(QRect(2, 3, 3, 10), QColor(0, 0, 160));
        p.setBrush(QColor(0, 160, 0));
        p.drawPolygon(QPolygon({QPoint(7, 3), QPoint(14, 8), QPoint(7, 13)}));
        break;
    }
}

template <typename T, typename... Args>
T *place(QWidget *parent, int x, int y, int w, int h, Args &&...args)
{
    T *control = new T(std::forward<Args>(args)..., parent);
    control->setGeometry(x, y, w, h);
    return control;
}

} // namespace

QPixmap makeGlyph(GlyphMotif motif, int images)
{
    QImage strip(16 * images, 16, QImage::Format_RGB32);
    strip.fill(kOlive);
    {
        QPainter p(&strip);
        drawMotif(p, motif);
    }
    if (images > 1) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QRgb c = strip.pixel(x, y);
                const int g = c == kOlive.rgb() ? -1 : (qGray(c) + 2 * 192) / 3;
                strip.setPixel(16 + x, y, g < 0 ? kOlive.rgb() : qRgb(g, g, g));
            }
    }
    return QPixmap::fromImage(strip);
}

TestWindow::TestWindow(bool activate)
{
    Form1 = new TForm;
    Form1->setWindowTitle(QStringLiteral("Quavrel"));
    Form1->resize(345, 196);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    Form1->setFont(font);
    TForm *f = Form1;

    MaxLabel = place<TLabel>(f, 160, 496, 46, 13, QStringLiteral("MaxLabel"));
    MaxLabel->hide();
    DFBRecordStart = place<TSpeedButton>(f, 10, 147, 52, 22, QStringLiteral("录音"));
    DFBRecordStart->setGlyph(makeGlyph(GlyphMotif::Disc, 2), 2);
    SpeedButton5 = place<TSpeedButton>(f, 175, 147, 52, 22, QStringLiteral("播放"));
    SpeedButton5->setGlyph(makeGlyph(GlyphMotif::Triangle, 2), 2);
    pasue = place<TSpeedButton>(f, 65, 147, 50, 22, QStringLiteral("暂停"));
    pasue->setGlyph(makeGlyph(GlyphMotif::Bars, 1), 1);
    pasue->setEnabled(false);
    stop = place<TSpeedButton>(f, 120, 147, 52, 22, QStringLiteral("停止"));
    stop->setGlyph(makeGlyph(GlyphMotif::Square, 2), 2);
    stop->setEnabled(false);
    cont = place<TSpeedButton>(f, 65, 147, 52, 22, QStringLiteral("继续"));
    cont->setGlyph(makeGlyph(GlyphMotif::BarTriangle, 1), 1);
    cont->hide();
    Label10 = place<TLabel>(f, 8, 115, 54, 13, QStringLiteral("保存为：  "));

    GroupBox1 = place<TGroupBox>(f, 8, 8, 329, 89, QStringLiteral("状态信息"));
    GroupBox1->Ctl3D = false;
    ProgressBar1 = place<TProgressBar>(GroupBox1, 8, 24, 313, 17);
    ProgressBar1->setRange(0, 100);
    Panel1 = place<TPanel>(GroupBox1, 8, 56, 60, 20, QStringLiteral("录音时间："));
    LTimeActive = place<TPanel>(GroupBox1, 72, 56, 73, 20, QStringLiteral("0:00:00"));
    Panel3 = place<TPanel>(GroupBox1, 176, 56, 65, 20, QStringLiteral("文件大小："));
    flsize = place<TPanel>(GroupBox1, 248, 56, 73, 20, QString());

    GroupBox2 = place<TGroupBox>(f, 8, 176, 329, 233, QStringLiteral("录音操作"));
    GroupBox2->hide();
    CVBRQuality = place<TTrackBar>(f, 253, 492, 75, 21);
    CVBRQuality->setRange(0, 9);
    CVBRQuality->setValue(5);
    CVBRQuality->hide();
    COutFile = place<TCheckBox>(f, 132, 492, 45, 17, QStringLiteral("Datei"));
    COutFile->setChecked(true);
    COutFile->hide();
    TheBlackPanel = place<TPanel>(f, 288, 480, 209, 85, QString());
    TheBlackPanel->setColor(Qt::black);
    TheBlackPanel->hide();
    LTimeActive2 = place<TLabel>(TheBlackPanel, 8, 8, 60, 13, QStringLiteral("0:00:00"));
    EOutFile = place<TEdit>(f, 56, 112, 257, 21, QStringLiteral("default.mp3"));
    BOutFile = place<TButton>(f, 316, 112, 21, 21, QStringLiteral("..."));
    CTimeStamp = place<TCheckBox>(f, 135, 508, 91, 17, QStringLiteral("自动更名"));
    CTimeStamp->hide();
    StatusBar1 = place<TStatusBar>(f, 0, 177, 345, 19);
    StatusBar1->addPanel(120, QStringLiteral("停止录音"));
    StatusBar1->addPanel(10, QStringLiteral("Quavrel"));
    Button2 = place<TButton>(f, 230, 147, 53, 22, QStringLiteral("开始声控"));
    SpeedButton1 = place<TButton>(f, 286, 147, 53, 22, QStringLiteral("显示设置"));

    TGroupBox *g = GroupBox2;
    Label1 = place<TLabel>(g, 8, 24, 48, 13, QStringLiteral("麦克风："));
    CDevices = place<TComboBox>(g, 56, 20, 265, 21);
    CDevices->addItems({QStringLiteral("PipeSource"), QStringLiteral("Monitor of NullSink")});
    place<TLabel>(g, 8, 48, 36, 13, QStringLiteral("频率："));
    CSampleRate = place<TComboBox>(g, 56, 44, 73, 21);
    CSampleRate->addItems({QStringLiteral("44100"), QStringLiteral("22050")});
    place<TLabel>(g, 136, 48, 36, 13, QStringLiteral("声道："));
    CChannels = place<TComboBox>(g, 172, 44, 69, 21);
    CChannels->addItems({QStringLiteral("立体声"), QStringLiteral("单声道")});
    place<TLabel>(g, 248, 48, 36, 13, QStringLiteral("音质："));
    CQuality = place<TComboBox>(g, 284, 44, 37, 21);
    CQuality->addItems({QStringLiteral("高"), QStringLiteral("中"), QStringLiteral("低")});
    place<TLabel>(g, 8, 80, 60, 13, QStringLiteral("编码方式："));
    CMode = place<TComboBox>(g, 72, 76, 65, 21);
    CMode->addItems({QStringLiteral("CBR"), QStringLiteral("VBR")});
    place<TLabel>(g, 160, 80, 60, 13, QStringLiteral("采样位数："));
    CBitrate = place<TComboBox>(g, 220, 76, 101, 21);
    CBitrate->addItems({QStringLiteral("128"), QStringLiteral("192")});
    Bevel5 = place<TBevel>(g, 8, 108, 305, 5);
    Button1 = place<TButton>(g, 8, 120, 75, 25, QStringLiteral("环境测试"));
    place<TLabel>(g, 144, 124, 96, 13, QStringLiteral("捕获最大噪音值："));
    SpinEdit1 = place<TSpinEdit>(g, 248, 123, 65, 22);
    SpinEdit1->setValue(0);
    CheckBox1 = place<TCheckBox>(g, 16, 152, 137, 17, QStringLiteral("捕获声音即自动录音"));
    CheckBox2 = place<TCheckBox>(g, 16, 176, 129, 17, QStringLiteral("无声时自动暂停录音"));
    place<TLabel>(g, 32, 204, 72, 13, QStringLiteral("保留无声片断"));
    SpinEdit2 = place<TSpinEdit>(g, 104, 195, 41, 22);
    SpinEdit2->setValue(10);
    Label9 = place<TLabel>(g, 144, 204, 12, 13, QStringLiteral("秒"));

    XPMenu1 = new TXPMenu(Form1);
    XPMenu1->setActive(activate);
}

TestWindow::~TestWindow()
{
    delete Form1;
}

void TestWindow::showSettings(bool shown)
{
    GroupBox2->setVisible(shown);
    Form1->resize(345, shown ? 431 : 196);
    StatusBar1->move(0, Form1->height() - StatusBar1->height());
}

TColor pixelAt(const QImage &image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return RGB(qRed(p), qGreen(p), qBlue(p));
}

QImage grabOf(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

Stage::Stage(int width, int height)
{
    form.resize(width, height);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    form.setFont(font);
}

void Stage::activate()
{
    menu = new TXPMenu(&form);
    menu->setActive(true);
    form.show();
}

TControlSubClass &Stage::record(QWidget *w)
{
    return *TControlSubClass::recordOf(w);
}

TColor Stage::formColor() const
{
    return fromQColor(form.palette().color(QPalette::Window));
}
