#include "engine/session.h"

#include "app/Form1.h"
#include "app/systemerrors.h"
#include "audio/AudioIO.h"
#include "engine/encoding.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

SessionFileError::SessionFileError(const QString &message) : std::runtime_error(message.toStdString()) {}

// ---- output file -------------------------------------------------------------------------

namespace {

QString systemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

FileCloser g_closeFile = nullptr;

} // namespace

void setFileCloser(FileCloser close)
{
    g_closeFile = close;
}

TOutFile::~TOutFile()
{
    Close();
}

bool TOutFile::Create(const QString &path, bool exclusive)
{
    Close();
    Reset();
    FPath = path;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) {
        FErrno = ENOENT;
        FError = systemErrorText(FErrno);
        return false;
    }
    // O_NONBLOCK: opening a FIFO for writing waits for a reader and a terminal for its line;
    // this runs on the window's thread, which must never wait on a name the user typed.
    constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    // Try to make it new first, so that a failed start can take back a file it created.
    int fd;
    do {
        fd = ::open(native.constData(), kOpenFlags | O_CREAT | O_EXCL, 0666);
    } while (fd < 0 && errno == EINTR);
    FCreatedNew = fd >= 0;
    if (fd < 0 && errno == EEXIST && !exclusive) {
        // An existing file keeps its contents until Truncate: a start that fails later
        // leaves it as it was.
        do {
            fd = ::open(native.constData(), kOpenFlags);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        // ENXIO: a FIFO nobody reads, or a socket; never a file.
        FNotOrdinary = errno == ENXIO;
        FErrno = errno;
        FError = systemErrorText(FErrno);
        return false;
    }
    // Checked on what was opened, not on the name, which may have changed meanwhile. A pipe, a
    // device or a socket either loses the take or blocks the window at a write.
    auto giveUp = [&](int code) {
        FErrno = code;
        FError = systemErrorText(FErrno);
        ::close(fd);
        if (FCreatedNew)
            QFile::remove(path);
        FCreatedNew = false;
        return false;
    };
    struct stat info{};
    if (::fstat(fd, &info) < 0)
        return giveUp(errno);
    if (!S_ISREG(info.st_mode)) {
        FNotOrdinary = true;
        return giveUp(EINVAL);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
        return giveUp(errno);
    // A second recorder in the same folder must not empty the file this one writes. The lock
    // is advisory and ends with the descriptor; a file system without locks records unlocked.
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0 && errno == EWOULDBLOCK) {
        FCreatedNew = false;
        return giveUp(EWOULDBLOCK);
    }
    FFd = fd;
    return true;
}

bool TOutFile::Truncate()
{
    if (FFd < 0)
        return false;
    int r;
    do {
        r = ::ftruncate(FFd, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        FErrno = errno;
        FError = systemErrorText(FErrno);
        return false;
    }
    FSize = 0;
    return true;
}

void TOutFile::Write(const void *data, std::size_t size)
{
    WriteAll(data, size, std::nullopt);
}

void TOutFile::WriteAt(std::uint64_t offset, const void *data, std::size_t size)
{
    WriteAll(data, size, offset);
}

void TOutFile::WriteAll(const void *data, std::size_t size, std::optional<std::uint64_t> at)
{
    if (FFd < 0)
        throw SessionFileError(fileWriteErrorText(EBADF, QStringLiteral("File not open: %1").arg(FPath)));
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = at ? ::pwrite(FFd, p, size, off_t(*at)) : ::write(FFd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FErrno = errno;
            FError = systemErrorText(FErrno);
            throw SessionFileError(
                fileWriteErrorText(FErrno, QStringLiteral("I/O error %1 (%2) writing %3").arg(FErrno).arg(FError, FPath)));
        }
        p += n;
        size -= std::size_t(n);
        if (at)
            *at += std::uint64_t(n);
        else
            FSize += std::uint64_t(n);
    }
}

bool TOutFile::Close()
{
    if (FFd < 0)
        return true;
    const int fd = std::exchange(FFd, -1);
    // Not retried on EINTR: the descriptor is gone either way on Linux.
    if ((g_closeFile ? g_closeFile(fd) : ::close(fd)) == 0 || errno == EINTR)
        return true;
    FErrno = errno;
    FError = systemErrorText(FErrno);
    return false;
}

void TOutFile::Discard()
{
    Close();
    if (FCreatedNew && !FPath.isEmpty())
        QFile::remove(FPath);
    FCreatedNew = false;
}

void TOutFile::Reset()
{
    Close();
    FCreatedNew = false;
    FNotOrdinary = false;
    FSize = 0;
    FPath.clear();
    FError.clear();
    FErrno = 0;
}

// ---- names -------------------------------------------------------------------------------

qsizetype extensionStart(const QString &name)
{
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('.'))
            return i;
        if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':'))
            return -1;
    }
    return -1;
}

QString insertBeforeExtension(const QString &name, const QString &text)
{
    const qsizetype dot = extensionStart(name);
    if (dot < 0)
        return name + text;
    return name.left(dot) + text + name.mid(dot);
}

QString stampedFileName(const QString &name, const QDateTime &when)
{
    return insertBeforeExtension(name, when.toString(QStringLiteral("-yyyy-MM-dd-HH-mm")));
}

QString numberedFileName(const QString &name, int n)
{
    return n <= 1 ? name : insertBeforeExtension(name, QStringLiteral("-%1").arg(n));
}

bool hasControlCharacters(const QString &name)
{
    return std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

bool createUnusedFile(TOutFile &file, const QString &name)
{
    constexpr int kMostNumbers = 10000;
    for (int n = 1; n <= kMostNumbers; ++n) {
        if (file.Create(numberedFileName(name, n), true))
            return true;
        if (file.errorCode() != EEXIST)
            return false;
        if (n == 1) {
            // A folder, a device or a pipe holds no take to keep: opening it as named says
            // why it cannot be recorded into, instead of recording beside it.
            const QFileInfo existing(name);
            if (existing.exists() && !existing.isFile())
                return file.Create(name);
        }
    }
    return false;
}

// ---- the session ---------------------------------------------------------------------------

namespace {

constexpr int kSessionBuffers = 8;
// Frames in a buffer of the pre-roll capture, which opens before the encoder does: four
// MPEG-1 chunks, about 0.1 s, so that listening wakes the window seldom.
constexpr DWORD kPreRollBufferFrames = 4608;

EncoderInputObserver &encoderTap()
{
    static EncoderInputObserver tap;
    return tap;
}

void clearHeader(WAVEHDR &header, DWORD length)
{
    header.dwBufferLength = length;
    header.dwBytesRecorded = 0;
    header.dwUser = 0;
    header.dwFlags = 0;
    header.dwLoops = 0;
}

} // namespace

void setEncoderInputObserver(EncoderInputObserver tap)
{
    encoderTap() = std::move(tap);
}

void TForm1::EncodeSettingsChange(QObject *)
{
    if (FRecording)
        return;
    FSettingsValid = encoding::settingsValid(CSampleRate->currentIndex(), CMode->currentIndex(),
                                             CBitrate->currentIndex());
}

void TForm1::COutFileClick(QObject *)
{
    const bool on = COutFile->isChecked();
    CTimeStamp->setEnabled(on);
    EOutFile->setEnabled(on);
    EncodeSettingsChange();
}

void TForm1::COutStreamClick(QObject *)
{
    EncodeSettingsChange();
}

QString TForm1::StartMonitor()
{
    if (AudioIn1->Capturing)
        return {};
    // The level, the trigger and the environment test measure what is recorded.
    AudioIn1->SetDeviceId(std::int32_t(ChosenDeviceId()));
    AskStreamRate();
    if (!AudioIn1->StartCapture(AudioIn1))
        return deviceErrorText(QStringLiteral("无法监听录音设备“%1”：").arg(CDevices->currentText()), AudioIn1->ErrorText);
    FMinSample = 0;
    FMaxSample = 0;
    ResetLevel();
    return {};
}

void TForm1::SwitchVoiceControlOff()
{
    Timer2->stop();
    Button2->setText(QStringLiteral("开始声控"));
    // A pause kept the monitor listening for the sound that would end it; it is a plain
    // pause from now on.
    if (AudioIn1->Capturing && (!FRecording || StatusBar1->panelText(0) == kStatePaused))
        StopMonitor();
    StopPreRoll();
    // Listening ends here, so that switching voice control on again listens afresh.
    if (!FRecording && StatusBar1->panelText(0) == kStateMonitoring)
        StatusBar1->setPanelText(0, kStateStopped);
}

void TForm1::ShowIdleState()
{
    pasue->setEnabled(false);
    stop->setEnabled(false);
    cont->hide();
    StatusBar1->setPanelText(0, kStateStopped);
}

void TForm1::DFBRecordStartClick(QObject *Sender)
{
    // A start by hand records from the click.
    if (Sender && !FRecording)
        StopPreRoll();
    const bool monitorWasRunning = AudioIn1->Capturing;
    const QString monitorError = StartMonitor();
    if (!BStartClick()) {
        // Nothing is recording: leave the controls idle and say why, once.
        if (!monitorWasRunning && AudioIn1->Capturing)
            StopMonitor();
        if (!Sender && Timer2->isActive())
            SwitchVoiceControlOff(); // otherwise the next tick tries, and fails, again
        ShowError(this, FStartError);
        return;
    }
    if (FFileOutput) {
        FLastFile = FOutFile.FileName();
        FLastFileField = EOutFile->text();
        EOutFile->setToolTip(QStringLiteral("正在写入“%1”").arg(FLastFile));
    }
    pasue->setEnabled(true);
    stop->setEnabled(true);
    cont->hide();
    StatusBar1->setPanelText(0, kStateRecording);
    if (!monitorError.isEmpty())
        ShowMessage(this, monitorError);
}

// What a start has acquired so far. Unless the start's last step disarms it, it gives that
// back, latest first, and makes the record button usable again.
struct TForm1::StartGuard
{
    explicit StartGuard(TForm1 &form) : form(form) {}
    StartGuard(const StartGuard &) = delete;
    StartGuard &operator=(const StartGuard &) = delete;
    ~StartGuard();
    void disarm() { armed = false; }

    TForm1 &form;
    bool armed = true;
    bool encoder = false;
    bool file = false;
    // Opened by this start, or voice control's capture taken over.
    bool device = false;
    bool preRoll = false;
};

TForm1::StartGuard::~StartGuard()
{
    if (!armed)
        return;
    if (preRoll)
        form.StopPreRoll();
    if (device) {
        // The queued buffers come back through WimData, which frees them: no session is open.
        waveInReset(form.FWaveIn);
        waveInClose(form.FWaveIn);
    }
    if (file)
        form.FOutFile.Discard();
    if (encoder) {
        beCloseStream(form.FStream);
        form.FMp3Buffer = {};
    }
    form.DFBRecordStart->setEnabled(true);
}

bool TForm1::BStartClick(QObject *)
{
    FStartError.clear();
    if (FRecording)
        return true;
    StartGuard acquired(*this);
    FStartError = OpenEncoder(acquired);
    if (FStartError.isEmpty())
        FStartError = OpenOutputFile(acquired);
    if (FStartError.isEmpty() && !AdoptPreRoll(acquired))
        FStartError = OpenSessionDevice(acquired);
    if (FStartError.isEmpty())
        FStartError = BeginRecording(acquired);
    return FStartError.isEmpty();
}

QString TForm1::OpenEncoder(StartGuard &acquired)
{
    // The check runs on the choices as they stand now, not as they stood at start-up.
    EncodeSettingsChange();
    if (!FSettingsValid)
        return QStringLiteral("CBR 编码不能把 %1 和 %2 组合在一起，请另选比特率或编码方式。")
            .arg(CSampleRate->currentText(), CBitrate->currentText());

    BE_CONFIG config;
    encoding::fillEncoderConfig(config, CSampleRate->currentIndex(), CChannels->currentIndex(),
                                CMode->currentIndex(), CBitrate->currentIndex(), CQuality->currentIndex(),
                                CVBRQuality->value());
    DWORD samples = 0;
    DWORD bufferSize = 0;
    HBE_STREAM stream = 0;
    if (const BE_ERR err = beInitStream(&config, &samples, &bufferSize, &stream); err != BE_ERR_SUCCESS)
        return QStringLiteral("MP3 编码器不接受这些设置（%1，%2，%3，%4），错误代码 %5。")
            .arg(CSampleRate->currentText(), CChannels->currentText(), CMode->currentText(), CBitrate->currentText())
            .arg(err);
    FStream = stream;
    acquired.encoder = true;
    FChunkSamples = samples;
    FMp3BufferSize = bufferSize;
    FMp3Buffer.assign(FMp3BufferSize, 0);
    FWriteError.clear();
    FEncodedFrames = 0;
    FOutFile.Reset();
    return {};
}

QString TForm1::OpenOutputFile(StartGuard &acquired)
{
    FFileOutput = COutFile->isChecked();
    if (!FFileOutput)
        return {};
    const QString name = EOutFile->text();
    if (name.trimmed().isEmpty())
        return QStringLiteral("没有输入要保存的文件名。");
    if (hasControlCharacters(name))
        return QStringLiteral("文件名中含有换行符等控制字符，请改正后再录音。");
    const QString wanted = CTimeStamp->isChecked() ? stampedFileName(name, QDateTime::currentDateTime()) : name;
    if (!createUnusedFile(FOutFile, wanted)) {
        if (FOutFile.notOrdinaryFile())
            return QStringLiteral("“%1”不是普通文件，而是管道、设备或套接字，不能录音到这里。请换一个文件名。")
                .arg(FOutFile.FileName());
        if (FOutFile.errorCode() == EWOULDBLOCK)
            return QStringLiteral("文件“%1”正由另一个录音写入，不能同时录到这个文件。请换一个文件名。")
                .arg(FOutFile.FileName());
        return withSystemReason(
            QStringLiteral("无法创建文件“%1”：%2").arg(FOutFile.FileName(), fileErrorAdvice(FOutFile.errorCode())),
            FOutFile.errorText());
    }
    acquired.file = true;
    return {};
}

bool TForm1::AdoptPreRoll(StartGuard &acquired)
{
    const WAVEFORMATEX format = SessionFormat();
    // A capture opened before the device or the format was last changed is not the session's.
    if (FCapture == TCapture::PreRolling
        && (format.nSamplesPerSec != FSessionRate || format.nBlockAlign != FBlockAlign
            || FPreRollDevice != ChosenDeviceId()))
        StopPreRoll();
    // Buffers already back hold the sound just before this moment: into the ring with them.
    // A device found lost meanwhile is opened afresh by the start.
    if (FCapture == TCapture::PreRolling)
        FlushWaveNotices();
    // Voice control's capture becomes the session: what it holds goes first and the same
    // stream goes on, so the seam has no gap and no repeated sample.
    acquired.preRoll = FCapture == TCapture::PreRolling;
    return acquired.preRoll;
}

QString TForm1::OpenSessionDevice(StartGuard &acquired)
{
    const WAVEFORMATEX format = SessionFormat();
    FBlockAlign = format.nBlockAlign;
    FSessionRate = format.nSamplesPerSec;
    // A pause voice control may end runs this device on into a pre-roll for the next take.
    FPreRollDevice = ChosenDeviceId();

    HWAVEIN device = nullptr;
    AskStreamRate();
    if (const MMRESULT r = waveInOpen(&device, ChosenDeviceId(), &format, this, 0, CALLBACK_WINDOW);
        r != MMSYSERR_NOERROR)
        return deviceErrorText(QStringLiteral("无法打开录音设备“%1”：").arg(CDevices->currentText()), InErrorText(r));
    FWaveIn = device;
    acquired.device = true;

    MMRESULT r = QueueSessionBuffers(FChunkSamples * 2);
    if (r == MMSYSERR_NOERROR)
        r = waveInStart(FWaveIn);
    if (r != MMSYSERR_NOERROR)
        return deviceErrorText(QStringLiteral("无法启动录音设备“%1”：").arg(CDevices->currentText()), InErrorText(r));
    return {};
}

QString TForm1::BeginRecording(StartGuard &acquired)
{
    // Emptied only now that nothing else can fail: a start that fails leaves the file as it was.
    if (FFileOutput && !FOutFile.Truncate())
        return withSystemReason(
            QStringLiteral("无法清空文件“%1”：%2").arg(FOutFile.FileName(), fileErrorAdvice(FOutFile.errorCode())),
            FOutFile.errorText());
    SetCapture(TCapture::Recording);
    // The listening capture's open notice came long ago and started no clock.
    if (acquired.preRoll)
        StartClock();
    acquired.disarm();
    return {};
}

UINT TForm1::ChosenDeviceId() const
{
    // The list holds the devices in number order.
    return UINT(CDevices->currentIndex());
}

WAVEFORMATEX TForm1::SessionFormat() const
{
    const int channels = encoding::channelCount(CChannels->currentIndex());
    const DWORD rate = encoding::sampleRateHz(CSampleRate->currentIndex());
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = WORD(channels);
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * DWORD(channels) * 2;
    format.nBlockAlign = WORD(channels * 2);
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

void TForm1::AskStreamRate() const
{
    // Whichever of the monitor and the recording opens the device first, the shared stream
    // runs at the recording's rate (so the server resamples once and the recording takes a
    // plain copy), but never below the monitor's own rate: its level is never judged on a
    // narrower band than it asked for.
    waveInSetStreamRate(std::max<DWORD>(SessionFormat().nSamplesPerSec, DWORD(AudioIn1->FrameRate())));
}

MMRESULT TForm1::QueueSessionBuffers(DWORD bytes)
{
    for (int i = 0; i < kSessionBuffers; ++i) {
        auto buffer = std::make_unique<SessionBuffer>();
        buffer->data.assign(bytes, 0);
        buffer->header.lpData = buffer->data.data();
        clearHeader(buffer->header, bytes);
        if (const MMRESULT r = waveInPrepareHeader(FWaveIn, &buffer->header, sizeof(WAVEHDR)); r != MMSYSERR_NOERROR)
            return r;
        if (const MMRESULT r = waveInAddBuffer(FWaveIn, &buffer->header, sizeof(WAVEHDR)); r != MMSYSERR_NOERROR) {
            waveInUnprepareHeader(FWaveIn, &buffer->header, sizeof(WAVEHDR));
            return r;
        }
        FBuffers.push_back(std::move(buffer));
    }
    return MMSYSERR_NOERROR;
}

void TForm1::ReleaseSessionBuffer(WAVEHDR *header)
{
    std::erase_if(FBuffers, [header](const std::unique_ptr<SessionBuffer> &b) { return &b->header == header; });
}

std::uint32_t TForm1::PreRollMs() const
{
    return std::uint32_t(std::clamp(SpinEdit3->Value(), 0, kMaxPreRollMs));
}

bool TForm1::VoiceMayEndPause() const
{
    return Timer2->isActive() && CheckBox1->isChecked();
}

void TForm1::FlushWaveNotices()
{
    QCoreApplication::sendPostedEvents(nullptr, WaveInEvent::eventType());
}

// The capture modes, and what a buffer the device hands back (WimData) does in each:
//
//   Idle              no device of the window's runs   freed
//   PreRolling        voice control listens            into the ring, queued again
//   Recording         a take is being recorded         encoded, queued again
//   Paused            the session's device stands      encoded, queued again
//   PausedPreRolling  a pause voice control may end    into the ring, queued again
//   Draining          the session ends                 encoded, freed
//
// After a failed write nothing is encoded or queued again, and the session ends. A buffer of
// a device given up earlier (not FWaveIn) is freed whatever the mode.
//
// Only a start opens a device for a session itself (each of its failures has its own box):
// the other device calls of a move are made here. Handling the notices posted so far may
// end the session on the way (a lost device, a failed write), so every step after a flush
// looks at the mode first.
MMRESULT TForm1::SetCapture(TCapture mode)
{
    const TCapture from = FCapture;
    auto enter = [this](TCapture m) {
        FCapture = m;
        FRecording = m == TCapture::Recording || m == TCapture::Paused || m == TCapture::PausedPreRolling;
    };
    switch (mode) {
    case TCapture::Idle:
        if (from == TCapture::PreRolling) {
            // Freed as they come back: nobody records.
            enter(TCapture::Idle);
            waveInReset(FWaveIn);
            FlushWaveNotices();
            waveInClose(FWaveIn);
            FPreRoll.Clear();
        } else if (from == TCapture::Recording || from == TCapture::Paused) {
            // Every buffer the device hands back is collected now, so the one it was filling is
            // encoded before the encoder is flushed.
            enter(TCapture::Draining);
            waveInStop(FWaveIn);
            // The buffers handed back hold older sound than what the device kept for want of one.
            FlushWaveNotices();
            DrainHeldSound();
            waveInReset(FWaveIn);
            FlushWaveNotices();
            enter(TCapture::Idle);
            FPreRoll.Clear();
            waveInClose(FWaveIn);
        }
        // A pause's pre-roll is pause sound: EndSession goes by way of Paused.
        Q_ASSERT(from != TCapture::PausedPreRolling);
        return MMSYSERR_NOERROR;

    case TCapture::PreRolling: {
        if (from == TCapture::PausedPreRolling) {
            // The pause's capture runs on into its ring as the next take's listening.
            FlushWaveNotices();
            if (FCapture == TCapture::PausedPreRolling)
                enter(TCapture::PreRolling);
            return MMSYSERR_NOERROR;
        }
        if (from != TCapture::Idle)
            return MMSYSERR_NOERROR;
        const WAVEFORMATEX format = SessionFormat();
        HWAVEIN device = nullptr;
        // Failing to open is no error here: the trigger then opens the device as a start by
        // hand does.
        AskStreamRate();
        if (const MMRESULT r = waveInOpen(&device, ChosenDeviceId(), &format, this, 0, CALLBACK_WINDOW);
            r != MMSYSERR_NOERROR)
            return r;
        FWaveIn = device;
        FPreRollDevice = ChosenDeviceId();
        FBlockAlign = format.nBlockAlign;
        FSessionRate = format.nSamplesPerSec;
        FPreRoll.Reset(PreRollMs(), FSessionRate, FBlockAlign);
        enter(TCapture::PreRolling);
        MMRESULT r = QueueSessionBuffers(kPreRollBufferFrames * FBlockAlign);
        if (r == MMSYSERR_NOERROR)
            r = waveInStart(FWaveIn);
        if (r != MMSYSERR_NOERROR)
            SetCapture(TCapture::Idle);
        return r;
    }

    case TCapture::Recording:
        if (from == TCapture::Idle) {
            // The start has opened and started the device.
            enter(TCapture::Recording);
        } else if (from == TCapture::PreRolling) {
            enter(TCapture::Recording);
            EncodePreRoll();
        } else if (from == TCapture::PausedPreRolling) {
            // Buffers already back belong to the ring, ahead of the live sound.
            FlushWaveNotices();
            if (FCapture != TCapture::PausedPreRolling)
                return MMSYSERR_NOERROR;
            enter(TCapture::Recording);
            EncodePreRoll();
            // Its device runs already; the start says whether it still can.
            return waveInStart(FWaveIn);
        } else if (from == TCapture::Paused) {
            const MMRESULT r = waveInStart(FWaveIn);
            if (r == MMSYSERR_NOERROR)
                enter(TCapture::Recording);
            return r;
        }
        return MMSYSERR_NOERROR;

    case TCapture::Paused:
        if (from == TCapture::Recording) {
            // The device hands back the buffer it was filling; encoded now, the file and the
            // clock hold everything up to the pause.
            waveInStop(FWaveIn);
            FlushWaveNotices();
            if (FCapture == TCapture::Recording)
                enter(TCapture::Paused);
        } else if (from == TCapture::PausedPreRolling) {
            // What the device was filling is pause sound: into the ring, which forgets it.
            waveInStop(FWaveIn);
            FlushWaveNotices();
            if (FCapture == TCapture::PausedPreRolling)
                enter(TCapture::Paused);
            FPreRoll.Clear();
        }
        return MMSYSERR_NOERROR;

    case TCapture::PausedPreRolling: {
        if (from != TCapture::Paused)
            return MMSYSERR_NOERROR;
        // Sound may end this pause, and what comes before that sound belongs in the file: the
        // device goes on into the ring.
        FPreRoll.Reset(PreRollMs(), FSessionRate, FBlockAlign);
        enter(TCapture::PausedPreRolling);
        const MMRESULT r = waveInStart(FWaveIn);
        if (r != MMSYSERR_NOERROR)
            enter(TCapture::Paused);
        return r;
    }

    case TCapture::Draining:
        // Only on the way to Idle.
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_NOERROR;
}

void TForm1::StartPreRoll()
{
    const std::uint32_t ms = PreRollMs();
    const WAVEFORMATEX format = SessionFormat();
    // The device or the format chosen since it opened is what is to be recorded.
    if (FCapture == TCapture::PreRolling
        && (FPreRollDevice != ChosenDeviceId() || format.nSamplesPerSec != FSessionRate
            || format.nBlockAlign != FBlockAlign))
        StopPreRoll();
    const bool preRolling = FCapture == TCapture::PreRolling || FCapture == TCapture::PausedPreRolling;
    if (preRolling && ms == 0) {
        StopPreRoll();
    } else if (preRolling) {
        // A length changed meanwhile counts from now, with what was heard kept.
        FPreRoll.Resize(ms);
    } else if (ms > 0 && FCapture == TCapture::Paused) {
        // A paused session: its device runs again, into the ring.
        SetCapture(TCapture::PausedPreRolling);
    } else if (ms > 0 && FCapture == TCapture::Idle) {
        SetCapture(TCapture::PreRolling);
    }
}

void TForm1::StopPreRoll()
{
    // A pause goes back to a plain one; listening before a start ends.
    if (FCapture == TCapture::PausedPreRolling)
        SetCapture(TCapture::Paused);
    else if (FCapture == TCapture::PreRolling)
        SetCapture(TCapture::Idle);
}

void TForm1::EncodePreRoll()
{
    FPreRoll.Drain([this](const char *data, std::size_t bytes) { EncodeSamples(data, DWORD(bytes)); });
}

void TForm1::WriteMp3(DWORD bytes)
{
    if (!FFileOutput || !FWriteError.isEmpty())
        return;
    try {
        FOutFile.Write(FMp3Buffer.data(), bytes);
    } catch (const SessionFileError &error) {
        FWriteError = QString::fromStdString(error.what());
    }
}

void TForm1::EncodeSamples(const char *data, DWORD bytes)
{
    const DWORD frames = FBlockAlign ? bytes / FBlockAlign : 0;
    DWORD samples = frames * (FBlockAlign / 2);
    // The encoder takes at most one chunk a call; the pre-roll's buffers may hold more.
    const DWORD channels = std::max<DWORD>(FBlockAlign / 2, 1);
    auto *p = reinterpret_cast<PSHORT>(const_cast<char *>(data));
    while (samples > 0 && FChunkSamples > 0 && FWriteError.isEmpty()) {
        const DWORD n = std::min(samples, FChunkSamples);
        if (const EncoderInputObserver &tap = encoderTap())
            tap(p, n);
        DWORD out = 0;
        if (beEncodeChunk(FStream, n, p, FMp3Buffer.data(), &out) == BE_ERR_SUCCESS) {
            WriteMp3(out);
            // Counted once its bytes are in the file; what the encoder still holds follows
            // within a frame or two.
            if (FWriteError.isEmpty())
                FEncodedFrames += n / channels;
        }
        p += n;
        samples -= n;
    }
}

void TForm1::EncodeAndWrite(const WAVEHDR &header)
{
    // A buffer handed back early by a pause or the end holds fewer frames; they count too.
    EncodeSamples(header.lpData, header.dwBytesRecorded);
}

void TForm1::WimData(HWAVEIN handle, WAVEHDR *header)
{
    const auto owned = std::find_if(FBuffers.begin(), FBuffers.end(),
                                    [header](const std::unique_ptr<SessionBuffer> &b) { return &b->header == header; });
    if (owned == FBuffers.end())
        return;
    bool circulate = false;
    switch (handle == FWaveIn ? FCapture : TCapture::Idle) {
    case TCapture::Idle:
        break;
    case TCapture::PreRolling:
    case TCapture::PausedPreRolling:
        FPreRoll.Push(header->lpData, header->dwBytesRecorded);
        circulate = true;
        break;
    case TCapture::Recording:
    case TCapture::Paused:
        if (FWriteError.isEmpty())
            EncodeAndWrite(*header);
        circulate = true;
        break;
    case TCapture::Draining:
        if (FWriteError.isEmpty())
            EncodeAndWrite(*header);
        break;
    }
    waveInUnprepareHeader(handle, header, sizeof(WAVEHDR));
    bool requeued = false;
    if (circulate && FWriteError.isEmpty()) {
        clearHeader(*header, DWORD((*owned)->data.size()));
        if (waveInPrepareHeader(handle, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
            requeued = waveInAddBuffer(handle, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
            if (!requeued)
                waveInUnprepareHeader(handle, header, sizeof(WAVEHDR));
        }
    }
    // A buffer the device does not take back (it is gone, or the session ended) is freed.
    if (!requeued)
        ReleaseSessionBuffer(header);
    if (handle == FWaveIn && FRecording && !FWriteError.isEmpty()) {
        // The first failed write ends the session: what was written stays, and one report
        // is shown (by the caller's error report, from the exception stopClick raises).
        stopClick();
    }
}

void TForm1::WriteInfoTag()
{
    // Only a file that holds the whole stream gets the tag: after a failed write its counts
    // would claim frames the file lacks, while the reserved frame left as it is plays as a
    // moment of silence.
    if (!FFileOutput || !FWriteError.isEmpty())
        return;
    DWORD bytes = 0;
    if (beGetInfoTag(FStream, FMp3Buffer.data(), &bytes) != BE_ERR_SUCCESS || bytes == 0 || bytes > FOutFile.Size())
        return;
    try {
        FOutFile.WriteAt(0, FMp3Buffer.data(), bytes);
    } catch (const SessionFileError &error) {
        FWriteError = QString::fromStdString(error.what());
    }
}

void TForm1::DrainHeldSound()
{
    // While every buffer waited on this thread the device kept the sound in its ring; a lost
    // device keeps what it captured before the loss. A reset would throw it away.
    std::vector<char> chunk(std::size_t(FChunkSamples) * 2);
    WAVEHDR held{};
    held.lpData = chunk.data();
    UINT taken = 0;
    while (FWriteError.isEmpty()
           && waveInTakeHeldSound(FWaveIn, chunk.data(), UINT(chunk.size()), &taken) == MMSYSERR_NOERROR
           && taken > 0) {
        held.dwBytesRecorded = taken;
        EncodeAndWrite(held);
    }
}

void TForm1::EndSession()
{
    // What a pause's pre-roll holds is pause sound and stays out of the file.
    if (FCapture == TCapture::PausedPreRolling)
        SetCapture(TCapture::Paused);
    // A device lost as it stopped has ended the session already.
    if (!FRecording)
        return;
    SetCapture(TCapture::Idle);
    FinishStream();
}

void TForm1::FinishStream()
{
    DWORD out = 0;
    if (beDeinitStream(FStream, FMp3Buffer.data(), &out) == BE_ERR_SUCCESS)
        WriteMp3(out);
    WriteInfoTag();
    beCloseStream(FStream);
    if (FFileOutput && FOutFile.Size() == 0) {
        // Not one byte reached it (the disk was full from the start): a file this session
        // made goes again, one that was there before stays.
        FOutFile.Discard();
    } else if (FFileOutput && !FOutFile.Close() && FWriteError.isEmpty()) {
        FWriteError = fileWriteErrorText(FOutFile.errorCode(), QStringLiteral("I/O error %1 (%2) closing %3")
                                                                   .arg(FOutFile.errorCode())
                                                                   .arg(FOutFile.errorText(), FOutFile.FileName()));
    }
    FMp3Buffer = {};
    if (FFileOutput && FOutFile.Size() > 0)
        EOutFile->setToolTip(QStringLiteral("最近写入“%1”").arg(FOutFile.FileName()));
    // The final length and size, with the flush in them.
    InfoTimerTimer();
}

void TForm1::StartNextTake()
{
    if (FCapture == TCapture::PausedPreRolling) {
        // The pause's capture runs on into its ring and becomes the next take's, as voice
        // control's listening capture becomes the first: no sound between the two is lost.
        SetCapture(TCapture::PreRolling);
        // A device lost meanwhile has ended the take already.
        if (FCapture == TCapture::PreRolling)
            FinishStream();
    } else if (FRecording) {
        EndSession();
    }
    if (QString error = std::exchange(FWriteError, QString()); !error.isEmpty()) {
        stopClick();
        throw SessionFileError(error);
    }
    ShowIdleState();
    DFBRecordStartClick();
}

QString TForm1::PlayFileName() const
{
    // The field's name may have become a stamped or numbered one when it was recorded.
    if (!FLastFile.isEmpty() && EOutFile->text() == FLastFileField)
        return FLastFile;
    return EOutFile->text();
}

void TForm1::BStopClick(QObject *)
{
    if (!FRecording)
        return;
    EndSession();
    if (!FWriteError.isEmpty())
        throw SessionFileError(std::exchange(FWriteError, QString()));
}

void TForm1::stopClick(QObject *)
{
    if (AudioIn1->Capturing)
        StopMonitor();
    QString writeError;
    if (FRecording) {
        EndSession();
        writeError = std::exchange(FWriteError, QString());
    } else {
        StopPreRoll();
    }
    ShowIdleState();
    Timer2->stop();
    Button2->setText(QStringLiteral("开始声控"));
    if (!writeError.isEmpty())
        throw SessionFileError(writeError);
}

void TForm1::WimOpen()
{
    // Voice control's capture opened; the trigger starts the clock when it becomes the session.
    if (FCapture == TCapture::PreRolling)
        return;
    StartClock();
}

void TForm1::StartClock()
{
    DFBRecordStart->setEnabled(false);
    InfoTimerTimer();
    InfoTimer->start();
}

void TForm1::WimClose()
{
    InfoTimer->stop();
    DFBRecordStart->setEnabled(true);
    TidyDeviceListWhenFree();
}

void TForm1::WimLost(HWAVEIN handle)
{
    if (FCapture == TCapture::PreRolling && handle == FWaveIn) {
        // Its buffers came back and were freed; the next tick opens the device again.
        StopPreRoll();
        return;
    }
    if (!FRecording || handle != FWaveIn)
        return;
    EndSessionWithBox(QStringLiteral("录音设备已断开，录音已停止。"));
}

void TForm1::EndSessionWithBox(const QString &why)
{
    const QString file = FFileOutput ? FOutFile.FileName() : QString();
    // A write error raised by the end is the one report instead.
    stopClick();
    ShowError(this, file.isEmpty() ? why : why + QStringLiteral("已录下的声音保存在“%1”中。").arg(file));
}
