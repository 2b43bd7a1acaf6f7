#pragma once
// Capture component: records from a wave input (the default one unless SetDeviceId chose
// another) into a small ring of buffers and hands every filled buffer to OnBufferFilled on
// the GUI thread.
#include "audio/wavein.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class TAudioIn;

using TNotifyEvent = std::function<void(QObject *Sender)>;
// True asks for the buffer to be queued again.
using TBufferEvent = std::function<bool(void *Buffer, std::int32_t &Size)>;

// The service's text for a result code ("error <code>" for a code it has no text for). Every
// wave-input failure shown to the user goes through it.
QString InErrorText(MMRESULT code);

// Where capture memory comes from. It is taken as the platform's movable memory is, in two
// steps: a block is allocated, then locked in place, since the service keeps the addresses of
// queued buffers. Heap blocks never move, so on the heap the lock always holds. Another
// source of memory (one that runs out, say) can stand in through SetCaptureMemory.
class TCaptureMemory {
public:
    virtual ~TCaptureMemory() = default;
    // Both throw std::bad_alloc when there is no memory; the blocks come zero-filled.
    virtual std::unique_ptr<WAVEHDR> NewHeader() { return std::make_unique<WAVEHDR>(); }
    virtual std::unique_ptr<char[]> NewBuffer(std::size_t bytes) { return std::make_unique<char[]>(bytes); }
    virtual bool LockHeader(WAVEHDR *header)
    {
        (void)header;
        return true;
    }
    virtual bool LockBuffer(char *buffer)
    {
        (void)buffer;
        return true;
    }
};
// Null puts back the heap. Not owned; it must outlive its use.
void SetCaptureMemory(TCaptureMemory *memory);

class TAudioIO : public QObject {
    Q_OBJECT
    Q_PROPERTY(int BufferSize READ BufferSize WRITE SetBufferSize)
    Q_PROPERTY(int NumBuffers READ NumBuffers WRITE SetNumBuffers)
    Q_PROPERTY(int FrameRate READ FrameRate WRITE SetFrameRate)
    Q_PROPERTY(bool Stereo READ Stereo WRITE SetStereo)
    Q_PROPERTY(quint16 Quantization READ Quantization WRITE SetQuantization)

public:
    static constexpr int MaxBuffers = 4;

    explicit TAudioIO(QWidget *AOwner);
    ~TAudioIO() override;

    std::int32_t BufferSize() const { return FEffectiveSize; }
    void SetBufferSize(std::int32_t Value);
    std::int32_t NumBuffers() const { return FNumBuffers; }
    void SetNumBuffers(std::int32_t Value);
    std::int32_t FrameRate() const { return std::int32_t(FWaveFormat.nSamplesPerSec); }
    void SetFrameRate(std::int32_t Value);
    bool Stereo() const { return FWaveFormat.nChannels == 2; }
    void SetStereo(bool Value);
    std::uint16_t Quantization() const { return FWaveFormat.wBitsPerSample; }
    void SetQuantization(std::uint16_t Value);

    const WAVEFORMATEX &WaveFormat() const { return FWaveFormat; }
    // The device the next open uses; WAVE_MAPPER (-1) is the default input.
    std::int32_t DeviceId() const { return FDeviceId; }
    void SetDeviceId(std::int32_t Value) { FDeviceId = Value; }
    std::int32_t WantedSize() const { return FWantedSize; }

    virtual void StopNow();
    virtual void StopWhenDrained();

    TNotifyEvent OnStart;
    TNotifyEvent OnStop;

    QString ErrorText;
    bool Capturing = false;
    std::int32_t OutstandingCount = 0;

protected:
    void RecalcFormat();
    bool GetHeaderMemory();
    bool GetBufferMemory();
    void ReleaseHeaderMemory();
    void ReleaseBufferMemory();
    bool ResetHeaders();
    // Buffers exist for every slot in use and hold the effective size (allocating if not).
    bool BufferMemoryFits() const;
    // Capture memory is held by the device while it is open and must not move.
    virtual bool DeviceHoldsMemory() const { return false; }

    std::int32_t FWantedSize = 8192;
    std::int32_t FEffectiveSize = 0;
    WAVEFORMATEX FWaveFormat{};
    std::int32_t FDeviceId = -1;
    std::int32_t FNumBuffers = 4;
    std::array<std::unique_ptr<WAVEHDR>, MaxBuffers> FHeaders;
    std::array<std::unique_ptr<char[]>, MaxBuffers> FBuffers;
    std::array<std::int32_t, MaxBuffers> FBufferBytes{};
    std::int32_t FNextIndex = 0;
    bool FDelivering = false;
    // The allocation asked for while the device was open, made once it has closed.
    bool FReallocPending = false;
};

// The hidden window that receives the service's notices for one open of a TAudioIn.
class TCallBackWinIn : public QWidget {
    Q_OBJECT

public:
    TCallBackWinIn(QWidget *Parent, TAudioIn *Creator);

    TAudioIn **FAudioRef = nullptr;

protected:
    bool event(QEvent *e) override;

private:
    QPointer<TAudioIn> FCreator;
};

class TAudioIn : public TAudioIO {
    Q_OBJECT
    friend class TCallBackWinIn;

public:
    explicit TAudioIn(QWidget *AOwner);
    ~TAudioIn() override;

    // ref is the variable that holds this component (the main window passes AudioIn1).
    bool StartCapture(TAudioIn *&ref);
    void StopNow() override;
    void StopWhenDrained() override;

    TBufferEvent OnBufferFilled;
    // Called when the device vanished during capture (after its buffers came back).
    TNotifyEvent OnDeviceLost;

    bool DeviceOpen() const { return FDeviceOpen; }
    HWAVEIN WaveHandle() const { return FWaveHandle; }
    TCallBackWinIn *CallbackWindow() const { return FCallbackWindow.data(); }

protected:
    virtual bool DeliverBuffer(void *Buffer, std::int32_t Size);
    virtual void CloseDevice();
    virtual bool OpenDevice(TAudioIn *&ref);
    bool StartDevice();
    bool QueueNext();
    bool QueueSlot(int slot);
    bool DeviceHoldsMemory() const override { return FDeviceOpen; }

private:
    void DataNotice(HWAVEIN handle, WAVEHDR *header);
    void OpenNotice();
    void CloseNotice();
    void LostNotice(HWAVEIN handle);

    bool FDeviceOpen = false;
    QPointer<TCallBackWinIn> FCallbackWindow;
    HWAVEIN FWaveHandle = nullptr;
    // The number and size of the buffers the open device was given.
    std::int32_t FOpenBuffers = 0;
};
