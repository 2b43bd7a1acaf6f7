#include "audio/AudioIO.h"

#include <algorithm>
#include <new>

namespace {

TCaptureMemory *g_memory = nullptr;

TCaptureMemory &Memory()
{
    static TCaptureMemory heap;
    return g_memory ? *g_memory : heap;
}

} // namespace

void SetCaptureMemory(TCaptureMemory *memory)
{
    g_memory = memory;
}

QString InErrorText(MMRESULT code)
{
    char text[256] = {};
    // A code the service has no text for still says something in a message box.
    if (waveInGetErrorTextA(code, text, sizeof(text)) != MMSYSERR_NOERROR || !text[0])
        return QStringLiteral("error %1").arg(code);
    return QString::fromUtf8(text);
}

TAudioIO::TAudioIO(QWidget *AOwner) : QObject(AOwner)
{
    FNumBuffers = 4;
    FWantedSize = 8192;
    Capturing = false;
    FDeviceId = -1;
    ErrorText.clear();
    FWaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    FWaveFormat.wBitsPerSample = 16;
    FWaveFormat.nChannels = 1;
    FWaveFormat.nSamplesPerSec = 22050;
    FWaveFormat.cbSize = 0;
    RecalcFormat();
    // A failure leaves its text in ErrorText; the next start tries again.
    GetHeaderMemory();
    GetBufferMemory();
}

TAudioIO::~TAudioIO()
{
    ReleaseBufferMemory();
    ReleaseHeaderMemory();
}

void TAudioIO::SetBufferSize(std::int32_t Value)
{
    FWantedSize = std::max<std::int32_t>(Value, 512);
    RecalcFormat();
    if (DeviceHoldsMemory()) {
        // The service still writes into the current buffers; replace them after the close.
        FReallocPending = true;
        return;
    }
    ReleaseBufferMemory();
    GetBufferMemory();
}

void TAudioIO::SetNumBuffers(std::int32_t Value)
{
    FNumBuffers = std::clamp<std::int32_t>(Value, 2, MaxBuffers);
}

void TAudioIO::SetFrameRate(std::int32_t Value)
{
    FWaveFormat.nSamplesPerSec = DWORD(Value);
    RecalcFormat();
}

void TAudioIO::SetStereo(bool Value)
{
    FWaveFormat.nChannels = Value ? 2 : 1;
    RecalcFormat();
}

void TAudioIO::SetQuantization(std::uint16_t Value)
{
    FWaveFormat.wBitsPerSample = Value > 8 ? 16 : 8;
    RecalcFormat();
}

void TAudioIO::StopNow()
{
    Capturing = false;
    FDelivering = false;
}

void TAudioIO::StopWhenDrained()
{
    FDelivering = false;
}

void TAudioIO::RecalcFormat()
{
    FWaveFormat.nBlockAlign = WORD((FWaveFormat.wBitsPerSample / 8) * FWaveFormat.nChannels);
    FWaveFormat.nAvgBytesPerSec = DWORD(FWaveFormat.nBlockAlign) * FWaveFormat.nSamplesPerSec;
    FEffectiveSize = FWantedSize - FWantedSize % std::max<std::int32_t>(FWaveFormat.nBlockAlign, 1);
}

bool TAudioIO::GetHeaderMemory()
{
    for (auto &header : FHeaders) {
        if (header)
            continue;
        try {
            header = Memory().NewHeader();
        } catch (const std::bad_alloc &) {
            ReleaseHeaderMemory();
            ErrorText = QStringLiteral("Error allocating wave header memory");
            return false;
        }
        if (!Memory().LockHeader(header.get())) {
            ReleaseHeaderMemory();
            ErrorText = QStringLiteral("Could not lock header memory for recording");
            return false;
        }
    }
    for (int i = 0; i < MaxBuffers; ++i)
        FHeaders[i]->lpData = FBuffers[i].get();
    return true;
}

bool TAudioIO::GetBufferMemory()
{
    for (int i = 0; i < FNumBuffers; ++i) {
        try {
            FBuffers[i] = Memory().NewBuffer(std::size_t(FEffectiveSize));
            FBufferBytes[i] = FEffectiveSize;
        } catch (const std::bad_alloc &) {
            ReleaseBufferMemory();
            ErrorText = QStringLiteral("Error allocating wave buffer memory");
            return false;
        }
        if (!Memory().LockBuffer(FBuffers[i].get())) {
            ReleaseBufferMemory();
            ErrorText = QStringLiteral("Error Locking wave buffer memory");
            return false;
        }
        if (FHeaders[i])
            FHeaders[i]->lpData = FBuffers[i].get();
    }
    FReallocPending = false;
    return true;
}

void TAudioIO::ReleaseHeaderMemory()
{
    for (auto &header : FHeaders)
        header.reset();
}

void TAudioIO::ReleaseBufferMemory()
{
    for (int i = 0; i < MaxBuffers; ++i) {
        FBuffers[i].reset();
        FBufferBytes[i] = 0;
        if (FHeaders[i])
            FHeaders[i]->lpData = nullptr;
    }
}

bool TAudioIO::ResetHeaders()
{
    RecalcFormat();
    for (int i = 0; i < FNumBuffers; ++i) {
        *FHeaders[i] = WAVEHDR{};
        FHeaders[i]->lpData = FBuffers[i].get();
        FHeaders[i]->dwBufferLength = DWORD(FEffectiveSize);
    }
    return true;
}

bool TAudioIO::BufferMemoryFits() const
{
    for (int i = 0; i < FNumBuffers; ++i)
        if (!FHeaders[i] || !FBuffers[i] || FBufferBytes[i] < FEffectiveSize)
            return false;
    return true;
}

TCallBackWinIn::TCallBackWinIn(QWidget *Parent, TAudioIn *Creator) : QWidget(Parent), FCreator(Creator)
{
    setAttribute(Qt::WA_DontShowOnScreen);
    hide();
}

bool TCallBackWinIn::event(QEvent *e)
{
    const WaveInEvent *notice = waveInEventCast(e);
    if (!notice)
        return QWidget::event(e);
    // A component already destroyed has nobody left to tell.
    TAudioIn *component = nullptr;
    if (FCreator)
        component = FAudioRef && *FAudioRef ? *FAudioRef : FCreator.data();
    switch (notice->message()) {
    case MM_WIM_DATA:
        if (component)
            component->DataNotice(notice->handle(), notice->header());
        break;
    case MM_WIM_OPEN:
        if (component)
            component->OpenNotice();
        break;
    case MM_WIM_CLOSE:
        if (component)
            component->CloseNotice();
        // The close is the last notice of this open, so the window has done its job.
        deleteLater();
        break;
    case MM_WIM_DEVICELOST:
        if (component)
            component->LostNotice(notice->handle());
        break;
    default:
        break;
    }
    return true;
}

TAudioIn::TAudioIn(QWidget *AOwner) : TAudioIO(AOwner) {}

TAudioIn::~TAudioIn()
{
    // The service must not go on writing into buffers that are about to be freed.
    if (FDeviceOpen)
        StopNow();
}

bool TAudioIn::StartCapture(TAudioIn *&ref)
{
    if (!OpenDevice(ref))
        return false;
    return StartDevice();
}

bool TAudioIn::OpenDevice(TAudioIn *&ref)
{
    if (FDeviceOpen) {
        ErrorText = QStringLiteral("Wave Input device is already open");
        return false;
    }
    // Settings changed since the memory was taken (or taking it failed) may need new buffers.
    if (!GetHeaderMemory())
        return false;
    if (FReallocPending || !BufferMemoryFits()) {
        ReleaseBufferMemory();
        if (!GetBufferMemory())
            return false;
    }
    FNextIndex = 0;
    auto *window = new TCallBackWinIn(qobject_cast<QWidget *>(parent()), this);
    FCallbackWindow = window;
    window->FAudioRef = &ref;
    HWAVEIN handle = nullptr;
    const MMRESULT result = waveInOpen(&handle, UINT(FDeviceId), &FWaveFormat, window, 0,
                                       CALLBACK_WINDOW | WAVE_ALLOWSYNC);
    if (result != MMSYSERR_NOERROR) {
        ErrorText = InErrorText(result);
        // No notice will ever come for a failed open.
        delete window;
        return false;
    }
    FWaveHandle = handle;
    FDeviceOpen = true;
    FOpenBuffers = FNumBuffers;
    ResetHeaders();
    for (int i = 0; i < FOpenBuffers; ++i) {
        const MMRESULT prepared = waveInPrepareHeader(FWaveHandle, FHeaders[i].get(), sizeof(WAVEHDR));
        if (prepared != MMSYSERR_NOERROR) {
            ErrorText = InErrorText(prepared);
            CloseDevice();
            return false;
        }
    }
    OutstandingCount = 0;
    FDelivering = true;
    Capturing = true;
    return true;
}

bool TAudioIn::StartDevice()
{
    const MMRESULT result = waveInStart(FWaveHandle);
    if (result != MMSYSERR_NOERROR) {
        CloseDevice();
        ErrorText = QStringLiteral("Error starting wave record: ") + InErrorText(result);
        return false;
    }
    Capturing = true;
    for (int i = 0; i < FOpenBuffers; ++i) {
        if (!QueueNext()) {
            CloseDevice();
            return false;
        }
    }
    return true;
}

bool TAudioIn::QueueSlot(int slot)
{
    WAVEHDR *header = FHeaders[slot].get();
    header->dwFlags = WHDR_PREPARED;
    const MMRESULT result = waveInAddBuffer(FWaveHandle, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        ErrorText = InErrorText(result);
        StopWhenDrained();
        return false;
    }
    ++OutstandingCount;
    return true;
}

bool TAudioIn::QueueNext()
{
    if (!QueueSlot(FNextIndex))
        return false;
    FNextIndex = (FNextIndex + 1) % FOpenBuffers;
    return true;
}

bool TAudioIn::DeliverBuffer(void *Buffer, std::int32_t Size)
{
    if (!FDelivering)
        return false;
    if (!OnBufferFilled)
        return true;
    std::int32_t size = Size; // the handler may change its copy; it counts for nothing
    return OnBufferFilled(Buffer, size);
}

void TAudioIn::DataNotice(HWAVEIN handle, WAVEHDR *header)
{
    // After StopNow the reset hands back the queued buffers once the device has closed
    // (or a new one is open): those must neither be delivered nor counted.
    if (!FDeviceOpen || handle != FWaveHandle)
        return;
    int slot = -1;
    for (int i = 0; i < FOpenBuffers; ++i)
        if (FHeaders[i].get() == header)
            slot = i;
    if (slot < 0)
        return;
    --OutstandingCount;
    Capturing = OutstandingCount > 0;
    // Only what was recorded is handed over: a buffer back early (device lost) holds less,
    // and one that holds nothing is simply queued again.
    const auto recorded = std::int32_t(header->dwBytesRecorded);
    const bool again = recorded > 0 ? DeliverBuffer(FBuffers[slot].get(), recorded) : FDelivering;
    if (!FDeviceOpen || handle != FWaveHandle)
        return; // the handler stopped the capture
    if (again && FDelivering && QueueSlot(slot))
        FNextIndex = (slot + 1) % FOpenBuffers;
    Capturing = OutstandingCount > 0;
    if (!Capturing) {
        FDelivering = false;
        CloseDevice();
    }
}

void TAudioIn::OpenNotice()
{
    if (OnStart)
        OnStart(this);
}

void TAudioIn::CloseNotice()
{
    if (OnStop)
        OnStop(this);
}

void TAudioIn::LostNotice(HWAVEIN handle)
{
    if (handle != FWaveHandle)
        return;
    if (FDeviceOpen) {
        ErrorText = InErrorText(MMSYSERR_NODRIVER);
        StopNow();
    }
    if (OnDeviceLost)
        OnDeviceLost(this);
}

void TAudioIn::StopNow()
{
    if (!FDeviceOpen)
        return;
    Capturing = false;
    FDelivering = false;
    waveInReset(FWaveHandle);
    CloseDevice();
}

void TAudioIn::StopWhenDrained()
{
    if (FDeviceOpen)
        FDelivering = false;
}

void TAudioIn::CloseDevice()
{
    Capturing = false;
    for (int i = 0; i < FOpenBuffers; ++i)
        waveInUnprepareHeader(FWaveHandle, FHeaders[i].get(), sizeof(WAVEHDR));
    waveInReset(FWaveHandle);
    const MMRESULT closed = waveInClose(FWaveHandle);
    FDeviceOpen = false;
    // Memory asked for while the device held the old buffers, now that it has let go.
    if (FReallocPending && (closed == MMSYSERR_NOERROR || closed == MMSYSERR_INVALHANDLE)) {
        ReleaseBufferMemory();
        GetBufferMemory();
    }
}
