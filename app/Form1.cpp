#include "app/Form1.h"

#include "app/application.h"
#include "app/glyphs.h"
#include "app/player.h"
#include "app/shortcuts.h"
#include "app/tray.h"
#include "audio/AudioIO.h"
#include "engine/encoding.h"
#include "style/XPMenu.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <sys/resource.h>

TForm1 *Form1 = nullptr;

const QString TForm1::kStateStopped = QStringLiteral("停止录音");
const QString TForm1::kStateRecording = QStringLiteral("正在录音...");
const QString TForm1::kStatePaused = QStringLiteral("暂停录音");
const QString TForm1::kStateMonitoring = QStringLiteral("监控声音...");

namespace {

const QString kNoticeText = QStringLiteral("Quavrel：直接录制为 MP3");

// Names the sound server and how to start it, in Chinese and then in English; the server's
// own reason ("Connection refused") stays as it came. The commands stand on lines of their
// own, so that the box's word wrap cannot cut them.
QMessageBox::StandardButton askAgainWithoutDevice()
{
    const QString reason = QString::fromStdString(waveInGetUnavailableReason());
    const QString commands = QStringLiteral("\n    pulseaudio --start\n    systemctl --user start pipewire-pulse\n");
    const QString chinese =
        (reason.isEmpty() ? QStringLiteral("没有找到录音设备（声音输入设备），程序无法运行。")
                          : QStringLiteral("没有找到录音设备（声音输入设备），程序无法运行：%1").arg(reason))
        + QStringLiteral("\n录音机通过 PulseAudio 声音服务器录音（PipeWire 桌面上是 pipewire-pulse）。"
                         "请在终端中启动它，二者选一：")
        + commands
        + QStringLiteral("都未安装时，请安装 pulseaudio 软件包；声音服务器已在运行时，请接上麦克风或检查它的输入设备。"
                         "然后点击“重试”。");
    const QString english =
        (reason.isEmpty() ? QStringLiteral("No recording device (sound input) was found, so Quavrel cannot run.")
                          : QStringLiteral("No recording device (sound input) was found, so Quavrel cannot run: %1")
                                .arg(reason))
        + QStringLiteral("\nQuavrel records through a PulseAudio sound server (pipewire-pulse on a PipeWire "
                         "desktop). Start it in a terminal with one of:")
        + commands
        + QStringLiteral("If neither is installed, install the pulseaudio package; if a server is running, plug "
                         "in a microphone or check its inputs. Then click \"Try again\".");
    MessageBoxRequest request{nullptr, QStringLiteral("Quavrel"), chinese + QStringLiteral("\n\n") + english,
                              QMessageBox::Critical,
                              {{QMessageBox::Retry, QStringLiteral("重试 / Try again")},
                               {QMessageBox::Close, QStringLiteral("退出 / Quit")}}};
    return showMessageBox(request);
}

template<typename W>
W *place(W *control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, height);
    return control;
}

} // namespace

TForm1::TForm1(QWidget *parent) : TForm(parent)
{
    Form1 = this;
    CreateControls();
    BindEvents();
    AttachStyling();
    FormCreate(this);
    if (!FStartupFailed) {
        new TWindowShortcuts(this);
        new TTrayIcon(this);
    }
}

TForm1::~TForm1()
{
    FormDestroy(this);
    waveInWatchDevices(nullptr);
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::AttachStyling()
{
    XPMenu1 = new TXPMenu(this);
    XPMenu1->setObjectName(QStringLiteral("XPMenu1"));
    QFont menuFont(QStringLiteral("宋体"));
    menuFont.setPixelSize(12);
    XPMenu1->setFont(menuFont, clMenuText);
    XPMenu1->setActive(true);
    XPMenu1->Loaded();
}

void TForm1::CreateControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quavrel"));
    setWindowIcon(applicationIcon());
    // The system menu and minimise, but no maximise: the window keeps its size.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("MS Sans Serif"), QStringLiteral("Sans Serif")});
    font.setPointSize(8);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);
    // Nothing in the window reflows: the user does not resize it, only the settings button does.
    setFixedSize(kClientWidth, kCompactHeight - kFrameHeight);

    auto named = [](auto *control, const char *name) {
        control->setObjectName(QLatin1String(name));
        return control;
    };

    // Status group.
    GroupBox1 = named(place(new TGroupBox(QStringLiteral("状态信息"), this), 8, 8, 329, 89), "GroupBox1");
    GroupBox1->Ctl3D = false;
    ProgressBar1 = named(place(new TProgressBar(GroupBox1), 8, 24, 313, 17), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    // Opaque (filled with the window colour the group shows behind it), so that the ten
    // refreshes a second repaint the bar alone: the group box under a transparent child
    // redraws its frame and lays out its caption each time.
    ProgressBar1->setAutoFillBackground(true);
    Panel1 = named(place(new TPanel(QStringLiteral("录音时间："), GroupBox1), 8, 56, 60, 20), "Panel1");
    LTimeActive = named(place(new TPanel(QStringLiteral("0:00:00"), GroupBox1), 72, 56, 73, 20), "LTimeActive");
    flsize = named(place(new TPanel(QString(), GroupBox1), 248, 56, 73, 20), "flsize");
    Panel3 = named(place(new TPanel(QStringLiteral("文件大小："), GroupBox1), 176, 56, 65, 20), "Panel3");

    ImageList2 = named(new TImageList(this), "ImageList2");
    for (TGlyph g : {TGlyph::Record, TGlyph::Play, TGlyph::Pause, TGlyph::Stop, TGlyph::Continue}) {
        const QPixmap strip = glyphPixmap(g);
        for (int i = 0; i < glyphImageCount(g); ++i)
            ImageList2->Images << strip.copy(16 * i, 0, 16, 16);
    }
    ImageList2->Images << QPixmap::fromImage(applicationIconImage().scaled(16, 16, Qt::IgnoreAspectRatio,
                                                                           Qt::SmoothTransformation));

    // Settings group, shown by SpeedButton1.
    GroupBox2 = named(place(new TGroupBox(QStringLiteral("录音操作"), this), 8, 176, 329, 233), "GroupBox2");
    GroupBox2->hide();

    AudioIn1 = named(new TAudioIn(this), "AudioIn1");
    AudioIn1->SetBufferSize(4096);
    AudioIn1->SetFrameRate(22050);

    DOutFile = named(new TSaveDialog(this), "DOutFile");
    DOutFile->DefaultExt = QStringLiteral("mp3");
    DOutFile->Filter = QStringLiteral("*.mp3|*.mp3");
    DOutFile->Title = QStringLiteral("保存为...");

    InfoTimer = named(new QTimer(this), "InfoTimer");
    InfoTimer->setInterval(500);

    CVBRQuality = named(place(new TTrackBar(this), 253, 492, 75, 21), "CVBRQuality");
    CVBRQuality->setRange(encoding::kVbrPositionMin, encoding::kVbrPositionMax);
    CVBRQuality->setValue(encoding::kDefaultVbrPosition);
    CVBRQuality->setProperty("ThumbLength", 10);
    CVBRQuality->hide();

    COutFile = named(place(new TCheckBox(QStringLiteral("Datei"), this), 132, 492, 45, 17), "COutFile");
    COutFile->setChecked(true);
    COutFile->hide();

    TheBlackPanel = named(place(new TPanel(QString(), this), 288, 480, 209, 85), "TheBlackPanel");
    TheBlackPanel->setColor(Qt::black);
    TheBlackPanel->hide();
    LTimeActive2 = named(place(new TLabel(QStringLiteral("0:00:00"), TheBlackPanel), 8, 8, 60, 13), "LTimeActive2");
    LCPULabel = named(place(new TLabel(QStringLiteral("CPU:"), TheBlackPanel), 8, 24, 30, 13), "LCPULabel");
    LCPU = named(place(new TLabel(QStringLiteral("0%"), TheBlackPanel), 40, 24, 40, 13), "LCPU");
    LInputSettings = named(place(new TLabel(QString(), TheBlackPanel), 8, 44, 193, 13), "LInputSettings");
    LOutputSettings = named(place(new TLabel(QString(), TheBlackPanel), 8, 62, 193, 13), "LOutputSettings");
    {
        QPalette black = TheBlackPanel->palette();
        black.setColor(QPalette::WindowText, Qt::green);
        for (TLabel *l : {LTimeActive2, LCPULabel, LCPU, LInputSettings, LOutputSettings})
            l->setPalette(black);
    }

    MaxLabel = named(place(new TLabel(QStringLiteral("MaxLabel"), this), 160, 496, 46, 13), "MaxLabel");
    MaxLabel->hide();

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(100);

    // The row of buttons; later ones are drawn over earlier ones where they overlap.
    auto setGlyph = [](TSpeedButton *button, TGlyph glyph) {
        button->setGlyph(glyphPixmap(glyph), glyphImageCount(glyph), glyphPixmap(glyph, 2));
    };
    DFBRecordStart = named(place(new TSpeedButton(QStringLiteral("录音"), this), 10, 147, 52, 22), "DFBRecordStart");
    setGlyph(DFBRecordStart, TGlyph::Record);
    SpeedButton5 = named(place(new TSpeedButton(QStringLiteral("播放"), this), 175, 147, 52, 22), "SpeedButton5");
    setGlyph(SpeedButton5, TGlyph::Play);
    pasue = named(place(new TSpeedButton(QStringLiteral("暂停"), this), 65, 147, 50, 22), "pasue");
    setGlyph(pasue, TGlyph::Pause);
    pasue->setEnabled(false);
    stop = named(place(new TSpeedButton(QStringLiteral("停止"), this), 120, 147, 52, 22), "stop");
    setGlyph(stop, TGlyph::Stop);
    stop->setEnabled(false);

    auto groupLabel = [&](const QString &caption, int l, int t, int w, int h, const char *name) {
        return named(place(new TLabel(caption, GroupBox2), l, t, w, h), name);
    };
    auto groupCombo = [&](int l, int t, int w, int h, const QStringList &items, int rows, const char *name) {
        TComboBox *c = named(place(new TComboBox(GroupBox2), l, t, w, h), name);
        c->addItems(items);
        c->setCurrentIndex(-1); // FormCreate makes the selections
        c->setMaxVisibleItems(rows);
        return c;
    };
    CDevices = groupCombo(56, 20, 265, 21, {}, 20, "CDevices");
    CSampleRate = groupCombo(56, 44, 73, 21, encoding::sampleRateItems(), 9, "CSampleRate");
    CChannels = groupCombo(172, 44, 69, 21, encoding::channelItems(), 8, "CChannels");
    CMode = groupCombo(72, 76, 65, 21, encoding::modeItems(), 8, "CMode");
    CBitrate = groupCombo(220, 76, 101, 21, encoding::bitrateItems(), 30, "CBitrate");
    CQuality = groupCombo(284, 44, 37, 21, encoding::qualityItems(), 8, "CQuality");
    Label1 = groupLabel(QStringLiteral("麦克风："), 8, 24, 48, 13, "Label1");
    Label2 = groupLabel(QStringLiteral("频率："), 8, 48, 36, 13, "Label2");
    Label3 = groupLabel(QStringLiteral("声道："), 136, 48, 36, 13, "Label3");
    Label4 = groupLabel(QStringLiteral("采样位数："), 160, 80, 60, 13, "Label4");
    Label5 = groupLabel(QStringLiteral("音质："), 248, 48, 36, 13, "Label5");
    Label6 = groupLabel(QStringLiteral("编码方式："), 8, 80, 60, 13, "Label6");

    cont = named(place(new TSpeedButton(QStringLiteral("继续"), this), 65, 147, 52, 22), "cont");
    setGlyph(cont, TGlyph::Continue);
    cont->hide();

    EOutFile = named(place(new TEdit(QStringLiteral("default.mp3"), this), 56, 112, 257, 21), "EOutFile");
    BOutFile = named(place(new TButton(QStringLiteral("..."), this), 316, 112, 21, 21), "BOutFile");
    Label10 = named(place(new TLabel(QStringLiteral("保存为：  "), this), 8, 115, 54, 13), "Label10");
    Label10->lower(); // created after the edit it labels, but lies beneath it
    CTimeStamp = named(place(new TCheckBox(QStringLiteral("自动更名"), this), 135, 508, 91, 17), "CTimeStamp");
    CTimeStamp->hide();

    Button1 = named(place(new TButton(QStringLiteral("环境测试"), GroupBox2), 8, 120, 75, 25), "Button1");
    Label7 = groupLabel(QStringLiteral("捕获最大噪音值："), 144, 124, 96, 13, "Label7");
    SpinEdit1 = named(place(new TSpinEdit(GroupBox2), 248, 123, 65, 22), "SpinEdit1");
    SpinEdit1->setValue(0);
    CheckBox1 = named(place(new TCheckBox(QStringLiteral("捕获声音即自动录音"), GroupBox2), 16, 152, 137, 17), "CheckBox1");
    CheckBox2 = named(place(new TCheckBox(QStringLiteral("无声时自动暂停录音"), GroupBox2), 16, 176, 129, 17), "CheckBox2");
    Label8 = groupLabel(QStringLiteral("保留无声片断"), 32, 204, 72, 13, "Label8");
    SpinEdit2 = named(place(new TSpinEdit(GroupBox2), 104, 195, 41, 22), "SpinEdit2");
    SpinEdit2->setValue(10);
    Label9 = groupLabel(QStringLiteral("秒"), 144, 204, 12, 13, "Label9");

    StatusBar1 = named(new TStatusBar(this), "StatusBar1");
    StatusBar1->addPanel(120, kStateStopped);
    StatusBar1->addPanel(10, kNoticeText);
    DockStatusBar();

    Timer2 = named(new QTimer(this), "Timer2");
    Timer2->setInterval(1000);

    Bevel5 = named(place(new TBevel(GroupBox2), 8, 108, 305, 5), "Bevel5");
    Button2 = named(place(new TButton(QStringLiteral("开始声控"), this), 230, 147, 53, 22), "Button2");
    SpeedButton1 = named(place(new TButton(QStringLiteral("显示设置"), this), 286, 147, 53, 22), "SpeedButton1");
    // The pre-roll, in the free room right of the quiet limit's row.
    Label11 = groupLabel(QStringLiteral("预录"), 176, 204, 24, 13, "Label11");
    SpinEdit3 = named(place(new TSpinEdit(GroupBox2), 204, 195, 57, 22), "SpinEdit3");
    SpinEdit3->setValue(1500);
    Label12 = groupLabel(QStringLiteral("毫秒"), 264, 204, 24, 13, "Label12");
    // The margin and the threshold in dBFS in the free room under the threshold, the split
    // switch beside the pause switch, the peak in dBFS under the meter's right end.
    Label13 = groupLabel(QStringLiteral("余量"), 160, 153, 24, 13, "Label13");
    SpinEdit4 = named(place(new TSpinEdit(GroupBox2), 184, 149, 41, 22), "SpinEdit4");
    SpinEdit4->setValue(6);
    Label14 = groupLabel(QStringLiteral("dB"), 228, 153, 16, 13, "Label14");
    Label15 = groupLabel(QString(), 248, 153, 73, 13, "Label15");
    CheckBox3 = named(place(new TCheckBox(QStringLiteral("每次声控新建文件"), GroupBox2), 160, 176, 129, 17),
                      "CheckBox3");
    Label16 = named(place(new TLabel(QString(), GroupBox1), 248, 42, 73, 13), "Label16");
    Label16->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label16->setAutoFillBackground(true); // refreshed with the bar, opaque for the same reason

    // Keyboard order: the settings group's lists and fields, then the hidden switches, the
    // file row and the two buttons of the row.
    const QList<QWidget *> order{CDevices, CSampleRate, CChannels, CQuality, CMode, CBitrate, Button1,
                                 SpinEdit1, SpinEdit4, CheckBox1, CheckBox2, CheckBox3, SpinEdit2, SpinEdit3,
                                 CVBRQuality, COutFile,
                                 EOutFile, BOutFile, CTimeStamp, Button2, SpeedButton1};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TForm1::BindEvents()
{
    auto bind = [this](auto *source, auto signal, void (TForm1::*handler)(QObject *)) {
        connect(source, signal, this, [this, source, handler] { runHandler([&] { (this->*handler)(source); }); });
    };
    bind(DFBRecordStart, &QAbstractButton::clicked, &TForm1::DFBRecordStartClick);
    bind(pasue, &QAbstractButton::clicked, &TForm1::pasueClick);
    bind(cont, &QAbstractButton::clicked, &TForm1::contClick);
    bind(stop, &QAbstractButton::clicked, &TForm1::stopClick);
    bind(SpeedButton5, &QAbstractButton::clicked, &TForm1::SpeedButton5Click);
    bind(BOutFile, &QAbstractButton::clicked, &TForm1::BOutFileClick);
    bind(SpeedButton1, &QAbstractButton::clicked, &TForm1::SpeedButton1Click);
    bind(Button1, &QAbstractButton::clicked, &TForm1::Button1Click);
    bind(Button2, &QAbstractButton::clicked, &TForm1::Button2Click);
    bind(InfoTimer, &QTimer::timeout, &TForm1::InfoTimerTimer);
    bind(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    bind(Timer2, &QTimer::timeout, &TForm1::Timer2Timer);
    AudioIn1->OnBufferFilled = [this](void *buffer, std::int32_t &size) { return AudioIn1BufferFilled(buffer, size); };
    AudioIn1->OnStop = [this](QObject *) { TidyDeviceListWhenFree(); };
}

void TForm1::DockStatusBar()
{
    StatusBar1->setGeometry(0, height() - 19, width(), 19);
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    TForm::resizeEvent(event);
    DockStatusBar();
}

void TForm1::showEvent(QShowEvent *event)
{
    TForm::showEvent(event);
    if (FShownOnce)
        return;
    FShownOnce = true;
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

bool TForm1::event(QEvent *event)
{
    if (const WaveInEvent *notice = waveInEventCast(event)) {
        runHandler([&] {
            switch (notice->message()) {
            case MM_WIM_OPEN:
                WimOpen();
                break;
            case MM_WIM_CLOSE:
                WimClose();
                break;
            case MM_WIM_DATA:
                WimData(notice->handle(), notice->header());
                break;
            case MM_WIM_DEVICELOST:
                WimLost(notice->handle());
                break;
            case MM_WIM_DEVICESCHANGED:
                DevicesChanged();
                break;
            default:
                break;
            }
        });
        return true;
    }
    return TForm::event(event);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    runHandler([this] { FormClose(this); });
    event->accept();
}

void TForm1::FormCreate(QObject *)
{
    // High priority helps keep up with the device; without the right to raise it we carry on.
    setpriority(PRIO_PROCESS, 0, -10);

    CDevices->clear();
    UINT count = waveInGetNumDevs();
    // A user who starts the sound server while the box is open goes on without a restart.
    while (count == 0) {
        if (askAgainWithoutDevice() != QMessageBox::Retry) {
            FStartupFailed = true;
            return;
        }
        count = waveInGetNumDevs();
    }
    // Whole descriptions: two inputs of one card differ only at their ends.
    FillDeviceList(count);
    // Without the notices the list still works; it then shows the inputs of the start.
    waveInWatchDevices(this);

    CDevices->setCurrentIndex(0);
    CSampleRate->setCurrentIndex(encoding::kDefaultSampleRateIndex);
    CChannels->setCurrentIndex(encoding::kDefaultChannelIndex);
    CMode->setCurrentIndex(encoding::kDefaultModeIndex);
    CBitrate->setCurrentIndex(encoding::kDefaultBitrateIndex);
    CQuality->setCurrentIndex(encoding::kDefaultQualityIndex);

    LoadSettings();
    FSettingsLoaded = true;
    EOutFile->setCursorPosition(10000);
    COutFileClick(this);
    COutStreamClick(this);
    EncodeSettingsChange(this);
    ShowSoundLine();
    Timer1->start();
}

void TForm1::FormClose(QObject *)
{
    // Complete the file before anything else; a write error is reported, and closing goes on.
    try {
        if (FRecording)
            BStopClick();
    } catch (...) {
        StopMonitor();
        StopPreRoll();
        throw;
    }
    StopMonitor();
    StopPreRoll();
}

void TForm1::FormDestroy(QObject *)
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    runHandler([this] {
        if (FRecording)
            BStopClick();
    });
    if (AudioIn1->Capturing)
        StopMonitor();
    StopPreRoll();
    // Without a device nothing was loaded, and the stored settings must stay as they are.
    if (FSettingsLoaded)
        runHandler([this] { SaveSettings(); });
}

void TForm1::SpeedButton1Click(QObject *)
{
    if (SpeedButton1->text() == QStringLiteral("显示设置")) {
        setFixedSize(width(), kExpandedHeight - kFrameHeight);
        DockStatusBar();
        SpeedButton1->setText(QStringLiteral("隐藏设置"));
        GroupBox2->show();
    } else {
        setFixedSize(width(), kCompactHeight - kFrameHeight);
        DockStatusBar();
        SpeedButton1->setText(QStringLiteral("显示设置"));
        GroupBox2->hide();
    }
}

void TForm1::SpeedButton5Click(QObject *)
{
    playFile(this, PlayFileName());
}

void TForm1::BOutFileClick(QObject *)
{
    if (!DOutFile->Execute(this))
        return;
    EOutFile->setText(DOutFile->FileName);
    EOutFile->setCursorPosition(10000);
    COutFile->setChecked(true);
    COutFileClick(this);
}
