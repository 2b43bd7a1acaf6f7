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

bool TForm1::BStartClick(QObject *)
{
    FStartError.clear();
    if (FRecording)
        return true;
    auto refuse = [this](const QString &why) {
        DFBRecordStart->setEnabled(true);
        FStartError = why;
        return false;
    };

    // The check runs on the choices as they stand now, not as they stood at start-up.
    EncodeSettingsChange();
    if (!FSettingsValid)
        return refuse(QStringLiteral("CBR 编码不能把 %1 和 %2 组合在一起，请另选比特率或编码方式。")
                          .arg(CSampleRate->currentText(), CBitrate->currentText()));

    BE_CONFIG config;
    encoding::fillEncoderConfig(config, CSampleRate->currentIndex(), CChannels->currentIndex(),
                                CMode->currentIndex(), CBitrate->currentIndex(), CQuality->currentIndex(),
                                CVBRQuality->value());
    DWORD samples = 0;
    DWORD bufferSize = 0;
    HBE_STREAM stream = 0;
    if (const BE_ERR err = beInitStream(&config, &samples, &bufferSize, &stream); err != BE_ERR_SUCCESS)
        return refuse(QStringLiteral("MP3 编码器不接受这些设置（%1，%2，%3，%4），错误代码 %5。")
                          .arg(CSampleRate->currentText(), CChannels->currentText(), CMode->currentText(),
                               CBitrate->currentText())
                          .arg(err));
    FStream = stream;
    FChunkSamples = samples;
    FMp3BufferSize = bufferSize;
    FMp3Buffer.assign(FMp3BufferSize, 0);
    FWriteError.clear();
    FEncodedFrames = 0;
    FOutFile.Reset();
    auto releaseEncoder = [this] {
        beCloseStream(FStream);
        FMp3Buffer = {};
    };

    FFileOutput = COutFile->isChecked();
    if (FFileOutput) {
        const QString name = EOutFile->text();
        if (name.trimmed().isEmpty()) {
            releaseEncoder();
            return refuse(QStringLiteral("没有输入要保存的文件名。"));
        }
        if (hasControlCharacters(name)) {
            releaseEncoder();
            return refuse(QStringLiteral("文件名中含有换行符等控制字符，请改正后再录音。"));
        }
        const QString wanted = CTimeStamp->isChecked() ? stampedFileName(name, QDateTime::currentDateTime()) : name;
        if (!createUnusedFile(FOutFile, wanted)) {
            releaseEncoder();
            if (FOutFile.notOrdinaryFile())
                return refuse(QStringLiteral("“%1”不是普通文件，而是管道、设备或套接字，不能录音到这里。请换一个文件名。")
                                  .arg(FOutFile.FileName()));
            if (FOutFile.errorCode() == EWOULDBLOCK)
                return refuse(QStringLiteral("文件“%1”正由另一个录音写入，不能同时录到这个文件。请换一个文件名。")
                                  .arg(FOutFile.FileName()));
            return refuse(withSystemReason(QStringLiteral("无法创建文件“%1”：%2")
                                              .arg(FOutFile.FileName(), fileErrorAdvice(FOutFile.errorCode())),
                                          FOutFile.errorText()));
        }
    }
    auto releaseFileAndEncoder = [&] {
        if (FFileOutput)
            FOutFile.Discard();
        releaseEncoder();
    };

    auto cannotEmpty = [this] {
        return withSystemReason(
            QStringLiteral("无法清空文件“%1”：%2").arg(FOutFile.FileName(), fileErrorAdvice(FOutFile.errorCode())),
            FOutFile.errorText());
    };

    const WAVEFORMATEX format = SessionFormat();
    // A capture opened before the device or the format was last changed is not the session's.
    if (FPreRolling && (format.nSamplesPerSec != FSessionRate || format.nBlockAlign != FBlockAlign
                        || FPreRollDevice != ChosenDeviceId()))
        StopPreRoll();
    // Buffers already back hold the sound just before this moment: into the ring with them.
    if (FPreRolling)
        FlushWaveNotices();
    if (FPreRolling) {
        // Voice control's capture becomes the session: what it holds goes first and the same
        // stream goes on, so the seam has no gap and no repeated sample.
        if (FFileOutput && !FOutFile.Truncate()) {
            StopPreRoll();
            releaseFileAndEncoder();
            return refuse(cannotEmpty());
        }
        FRecording = true;
        EncodePreRoll();
        StartClock();
        return true;
    }
    FBlockAlign = format.nBlockAlign;
    FSessionRate = format.nSamplesPerSec;
    // A pause voice control may end runs this device on into a pre-roll for the next take.
    FPreRollDevice = ChosenDeviceId();

    HWAVEIN device = nullptr;
    if (const MMRESULT r = waveInOpen(&device, ChosenDeviceId(), &format, this, 0, CALLBACK_WINDOW);
        r != MMSYSERR_NOERROR) {
        releaseFileAndEncoder();
        return refuse(deviceErrorText(QStringLiteral("无法打开录音设备“%1”：").arg(CDevices->currentText()), InErrorText(r)));
    }
    FWaveIn = device;

    auto deviceError = [this](const QString &why) {
        return deviceErrorText(QStringLiteral("无法启动录音设备“%1”：").arg(CDevices->currentText()), why);
    };
    auto abandonDevice = [&](const QString &why) {
        // The queued buffers come back through WimData, which frees them: no session is open.
        waveInReset(FWaveIn);
        waveInClose(FWaveIn);
        releaseFileAndEncoder();
        return refuse(why);
    };

    if (const MMRESULT r = QueueSessionBuffers(FChunkSamples * 2); r != MMSYSERR_NOERROR)
        return abandonDevice(deviceError(InErrorText(r)));
    if (const MMRESULT r = waveInStart(FWaveIn); r != MMSYSERR_NOERROR)
        return abandonDevice(deviceError(InErrorText(r)));
    if (FFileOutput && !FOutFile.Truncate())
        return abandonDevice(cannotEmpty());
    FRecording = true;
    return true;
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

void TForm1::StartPreRoll()
{
    const std::uint32_t ms = PreRollMs();
    const WAVEFORMATEX format = SessionFormat();
    // The device or the format chosen since it opened is what is to be recorded.
    if (FPreRolling && !FRecording
        && (FPreRollDevice != ChosenDeviceId() || format.nSamplesPerSec != FSessionRate
            || format.nBlockAlign != FBlockAlign))
        StopPreRoll();
    if (FPreRolling && ms == 0)
        StopPreRoll();
    // A length changed meanwhile counts from now, with what was heard kept.
    if (FPreRolling)
        FPreRoll.Resize(ms);
    if (FPreRolling || ms == 0)
        return;
    if (FRecording) {
        // A paused session: its device runs again, into the ring.
        if (StatusBar1->panelText(0) != kStatePaused)
            return;
        FPreRoll.Reset(ms, FSessionRate, FBlockAlign);
        FPreRolling = true;
        if (waveInStart(FWaveIn) != MMSYSERR_NOERROR)
            FPreRolling = false;
        return;
    }
    HWAVEIN device = nullptr;
    // Failing to open is no error here: the trigger then opens the device as a start by hand does.
    if (waveInOpen(&device, ChosenDeviceId(), &format, this, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR)
        return;
    FWaveIn = device;
    FPreRollDevice = ChosenDeviceId();
    FBlockAlign = format.nBlockAlign;
    FSessionRate = format.nSamplesPerSec;
    FPreRoll.Reset(ms, FSessionRate, FBlockAlign);
    FPreRolling = true;
    if (QueueSessionBuffers(kPreRollBufferFrames * FBlockAlign) != MMSYSERR_NOERROR
        || waveInStart(FWaveIn) != MMSYSERR_NOERROR)
        StopPreRoll();
}

void TForm1::StopPreRoll()
{
    if (!FPreRolling)
        return;
    if (FRecording) {
        // Back to a plain pause: the device stops, and what it was filling is pause sound.
        waveInStop(FWaveIn);
        FlushWaveNotices();
        FPreRolling = false;
    } else {
        // Not re-queued and so freed as they come back: nobody records.
        FPreRolling = false;
        waveInReset(FWaveIn);
        FlushWaveNotices();
        waveInClose(FWaveIn);
    }
    FPreRoll.Clear();
}

void TForm1::EncodePreRoll()
{
    FPreRolling = false;
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
    const bool ours = handle == FWaveIn;
    if (ours && FPreRolling)
        FPreRoll.Push(header->lpData, header->dwBytesRecorded);
    else if (ours && (FRecording || FDraining) && FWriteError.isEmpty())
        EncodeAndWrite(*header);
    waveInUnprepareHeader(handle, header, sizeof(WAVEHDR));
    bool requeued = false;
    if (ours && (FRecording || FPreRolling) && !FDraining && FWriteError.isEmpty()) {
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
    if (ours && FRecording && !FWriteError.isEmpty()) {
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
    FRecording = false;
    // Collect every buffer the device hands back now, so the one it was filling is encoded
    // before the encoder is flushed.
    FDraining = true;
    waveInStop(FWaveIn);
    // The buffers handed back hold older sound than what the device kept for want of one.
    QCoreApplication::sendPostedEvents(nullptr, WaveInEvent::eventType());
    DrainHeldSound();
    waveInReset(FWaveIn);
    FlushWaveNotices();
    FDraining = false;
    // A pause voice control could have ended held the device running: that sound stays out.
    FPreRolling = false;
    FPreRoll.Clear();
    waveInClose(FWaveIn);
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
    if (FRecording && FPreRolling) {
        // The pause's capture runs on into its ring and becomes the next take's, as voice
        // control's listening capture becomes the first: no sound between the two is lost.
        FlushWaveNotices();
        FRecording = false;
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
    if (FPreRolling && !FRecording)
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
    if (!FRecording && FPreRolling && handle == FWaveIn) {
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
