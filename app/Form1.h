#pragma once

// The main window: every control and component, the recording session's state and all the
// event handlers. The handlers live in the files of their concern (engine/session.cpp,
// engine/clock.cpp, app/settings.cpp, voice/*.cpp); the window itself is built in Form1.cpp.

#include "app/controls.h"
#include "app/dialogs.h"
#include "audio/wavein.h"
#include "engine/bladeenc.h"
#include "engine/clock.h"
#include "engine/preroll.h"
#include "engine/session.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

class TAudioIn;
class TXPMenu;

// A set of same-sized images that nothing draws from; kept because the window carries it.
class TImageList : public QObject
{
    Q_OBJECT
public:
    explicit TImageList(QObject *owner) : QObject(owner) {}
    QList<QPixmap> Images;
};

// What the session's wave-input device (FWaveIn) is doing. The table at TForm1::SetCapture
// (engine/session.cpp) says what each mode means for a buffer the device hands back, and
// SetCapture alone moves between them.
enum class TCapture { Idle, PreRolling, Recording, Paused, PausedPreRolling, Draining };

class TForm1;
extern TForm1 *Form1;

class TForm1 : public TForm
{
    Q_OBJECT
public:
    // Builds the window and runs FormCreate. When no input device exists and the user quits
    // the box that says so, StartupFailed() is true afterwards and the window must not be shown.
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    bool StartupFailed() const { return FStartupFailed; }

    // Outer height (frame included) of the compact and of the expanded window, and the
    // height the window frame adds to the client area.
    static constexpr int kCompactHeight = 230;
    static constexpr int kExpandedHeight = 465;
    static constexpr int kFrameHeight = 34;
    static constexpr int kClientWidth = 345;

    // Texts other handlers read back as state.
    static const QString kStateStopped;    // "停止录音"
    static const QString kStateRecording;  // "正在录音..."
    static const QString kStatePaused;     // "暂停录音"
    static const QString kStateMonitoring; // "监控声音..."

    // Controls and components, in declaration order.
    TGroupBox *GroupBox1;
    TProgressBar *ProgressBar1;
    TPanel *Panel1;
    TPanel *LTimeActive;
    TPanel *flsize;
    TPanel *Panel3;
    TImageList *ImageList2;
    TGroupBox *GroupBox2;
    TAudioIn *AudioIn1;
    TSaveDialog *DOutFile;
    QTimer *InfoTimer;
    TTrackBar *CVBRQuality;
    TCheckBox *COutFile;
    TPanel *TheBlackPanel;
    TLabel *LTimeActive2;
    TLabel *LCPULabel;
    TLabel *LCPU;
    TLabel *LInputSettings;
    TLabel *LOutputSettings;
    TLabel *MaxLabel;
    QTimer *Timer1;
    TSpeedButton *DFBRecordStart;
    TSpeedButton *SpeedButton5;
    TSpeedButton *pasue;
    TSpeedButton *stop;
    TComboBox *CDevices;
    TComboBox *CSampleRate;
    TComboBox *CChannels;
    TComboBox *CMode;
    TComboBox *CBitrate;
    TComboBox *CQuality;
    TLabel *Label1;
    TLabel *Label2;
    TLabel *Label3;
    TLabel *Label4;
    TLabel *Label5;
    TLabel *Label6;
    TSpeedButton *cont;
    TEdit *EOutFile;
    TButton *BOutFile;
    TLabel *Label10;
    TCheckBox *CTimeStamp;
    TButton *Button1;
    TLabel *Label7;
    TSpinEdit *SpinEdit1;
    TCheckBox *CheckBox1;
    TCheckBox *CheckBox2;
    TLabel *Label8;
    TSpinEdit *SpinEdit2;
    TLabel *Label9;
    TStatusBar *StatusBar1;
    QTimer *Timer2;
    TBevel *Bevel5;
    TButton *Button2;
    TButton *SpeedButton1;
    // The pre-roll in milliseconds, between "预录" and "毫秒", beside the quiet limit.
    TLabel *Label11;
    TSpinEdit *SpinEdit3;
    TLabel *Label12;
    // Voice control's margin over the captured noise, between "余量" and "dB"; the threshold in
    // dBFS beside its field; a new file for every voice-started take; the meter's peak in dBFS.
    TLabel *Label13;
    TSpinEdit *SpinEdit4;
    TLabel *Label14;
    TLabel *Label15;
    TCheckBox *CheckBox3;
    TLabel *Label16;
    TXPMenu *XPMenu1 = nullptr;

    // Window behaviour.
    void FormCreate(QObject *Sender = nullptr);
    void FormClose(QObject *Sender = nullptr);
    void FormDestroy(QObject *Sender = nullptr);
    void SpeedButton1Click(QObject *Sender = nullptr);
    void SpeedButton5Click(QObject *Sender = nullptr);
    void BOutFileClick(QObject *Sender = nullptr);

    // Encoding choices.
    void EncodeSettingsChange(QObject *Sender = nullptr);
    void COutFileClick(QObject *Sender = nullptr);
    void COutStreamClick(QObject *Sender = nullptr);

    // Recording session.
    // Sender is the record button for a click and null when voice control asks.
    void DFBRecordStartClick(QObject *Sender = nullptr);
    // Opens a session; false (with the reason in FStartError) when none was opened.
    bool BStartClick(QObject *Sender = nullptr);
    void BStopClick(QObject *Sender = nullptr);
    // The wave-input id of the device chosen in CDevices; the session and the monitor open it.
    UINT ChosenDeviceId() const;
    // The server's name of the chosen device's source, and its text as the settings store it.
    QString ChosenDeviceName() const;
    QString ChosenDeviceText() const;
    // The server's inputs changed (MM_WIM_DEVICESCHANGED): the list follows them.
    void DevicesChanged();
    void stopClick(QObject *Sender = nullptr);
    void WimOpen();
    void WimClose();
    void WimData(HWAVEIN handle, WAVEHDR *header);
    // The recording device or the sound server went away during a session.
    void WimLost(HWAVEIN handle);

    // Pause, continue and the recording clock.
    void pasueClick(QObject *Sender = nullptr);
    void contClick(QObject *Sender = nullptr);
    void InfoTimerTimer(QObject *Sender = nullptr);

    // Level meter and voice control.
    bool AudioIn1BufferFilled(void *Buffer, std::int32_t &Size);
    void UpdateStatus();
    // The threshold in dBFS and the line a voice must cross, on the meter.
    void ShowSoundLine();
    void Timer1Timer(QObject *Sender = nullptr);
    void Timer2Timer(QObject *Sender = nullptr);
    void Button1Click(QObject *Sender = nullptr);
    void Button2Click(QObject *Sender = nullptr);

    // Settings file.
    void LoadSettings();
    void SaveSettings();

    // Session state (read by tests and by the voice-control handlers).
    // Changed only by SetCapture; FRecording is set in Recording, Paused and PausedPreRolling.
    TCapture FCapture = TCapture::Idle;
    bool FRecording = false;
    bool FSettingsValid = false;
    HWAVEIN FWaveIn = nullptr;
    HBE_STREAM FStream = 0;
    DWORD FChunkSamples = 0;
    std::vector<BYTE> FMp3Buffer;
    DWORD FMp3BufferSize = 0;
    TOutFile FOutFile;
    bool FFileOutput = false;
    // Sample frames of the session whose MP3 bytes reached the file (all the encoder took,
    // with file output off): the clock shows their length, pauses and pre-rolls included.
    std::uint64_t FEncodedFrames = 0;
    std::int32_t FMinSample = 0;
    std::int32_t FMaxSample = 0;
    std::int32_t FLevel = 0;
    std::int32_t FQuietTicks = 0;
    // The loudest buffer since the last voice-control tick; what the tick judges.
    std::int32_t FTickPeak = 0;
    // The monitor's buffer a tick has already judged in part (its data), and how many bytes.
    const void *FJudgedBuffer = nullptr;
    std::int32_t FJudgedBytes = 0;

    // Why the last BStartClick opened no session (empty when it did).
    QString FStartError;
    // The file the last session with file output wrote, and the text of EOutFile it came from.
    QString FLastFile;
    QString FLastFileField;

    // What the device heard while PreRolling or PausedPreRolling, before the trigger.
    TPreRollRing FPreRoll;
    // Longest pre-roll the setting may ask for.
    static constexpr int kMaxPreRollMs = 30000;

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // One of the session's capture buffers: the header the device fills and its data block.
    struct SessionBuffer
    {
        WAVEHDR header{};
        std::vector<char> data;
    };
    void CreateControls();
    void AttachStyling();
    void BindEvents();
    void DockStatusBar();
    // Starts the level monitor unless it runs; returns its error text when the start failed.
    QString StartMonitor();
    // Stops the level monitor; every start and stop forgets the level measured before it.
    void StopMonitor();
    void ResetLevel();
    // Adds the part of the monitor's buffer that has come in since the last tick to FTickPeak.
    void TakeFillingLevel();
    void SwitchVoiceControlOff();
    void ReleaseSessionBuffer(WAVEHDR *header);
    // Queues the session's eight buffers of `bytes` on FWaveIn; the first failure's code.
    MMRESULT QueueSessionBuffers(DWORD bytes);
    WAVEFORMATEX SessionFormat() const;
    void AskStreamRate() const;
    // The pre-roll setting in effect (0 = off).
    std::uint32_t PreRollMs() const;
    bool VoiceMayEndPause() const;
    // Moves FCapture to `mode` with the device and ring calls the move needs; the device's
    // error when it could not get there (FCapture then says where it stayed).
    MMRESULT SetCapture(TCapture mode);
    // Opens the chosen device into the pre-roll ring, or keeps a paused session's running into it.
    void StartPreRoll();
    void StopPreRoll();
    // Encodes what the ring holds ahead of the live sound.
    void EncodePreRoll();
    // The steps of BStartClick, each saying why it failed (empty when it did not). What they
    // acquire is given back by the StartGuard unless the last step disarms it.
    struct StartGuard;
    QString OpenEncoder(StartGuard &acquired);
    QString OpenOutputFile(StartGuard &acquired);
    // Takes voice control's listening capture as the session's; false when there is none.
    bool AdoptPreRoll(StartGuard &acquired);
    QString OpenSessionDevice(StartGuard &acquired);
    QString BeginRecording(StartGuard &acquired);
    // Hands the notices the wave devices have posted so far to their targets now.
    static void FlushWaveNotices();
    // Shows the clock of the session just opened and keeps it refreshed.
    void StartClock();
    void EncodeSamples(const char *data, DWORD bytes);
    void EncodeAndWrite(const WAVEHDR &header);
    void WriteMp3(DWORD bytes);
    void DrainHeldSound();
    void WriteInfoTag();
    void EndSession();
    // The encoder's last frames, the info tag and the file's close, for the session ended.
    void FinishStream();
    // Voice control heard the end of a pause with a new file for every take asked for: the
    // paused take is completed and the next begins, from the pause's pre-roll.
    void StartNextTake();
    // What the play button opens: the take last written under the name in EOutFile.
    QString PlayFileName() const;
    // Ends the session the device can no longer serve, with one box saying why.
    void EndSessionWithBox(const QString &why);
    void ShowIdleState();
    // Fills CDevices from the service's list: ids 0..count-1 in order.
    void FillDeviceList(UINT count);
    // Brings CDevices up to date with the server, keeping the chosen device; keepIds moves
    // no list position.
    void RelistDevices(bool keepIds);
    // A device of the list is open by its position: the session, the pre-roll or the monitor.
    bool DeviceInUse() const;
    // The re-list put off while a device was open, once none is.
    void TidyDeviceListWhenFree();

    bool FStartupFailed = false;
    bool FShownOnce = false;
    bool FSettingsLoaded = false;
    bool FDestroyed = false;
    WORD FBlockAlign = 0;
    DWORD FSessionRate = 0;
    // The list position the pre-roll capture was opened for.
    UINT FPreRollDevice = 0;
    // New inputs were added at the end and gone ones marked, for want of a re-list.
    bool FDeviceListUntidy = false;
    // The first write error of the session; later writes are skipped.
    QString FWriteError;
    std::vector<std::unique_ptr<SessionBuffer>> FBuffers;
};
