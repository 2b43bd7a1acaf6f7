#pragma once
// What the wave-input front end (wavein.cpp) needs from a source of sound: PulseAudio
// (pulsewavein.cpp) or the virtual devices of the tests (virtualwavein.cpp).
#include "audio/wavein.h"

#include <QPointer>

#include <memory>
#include <string>

class WaveInQueue;

enum class WaveInCall { Open, Prepare, AddBuffer, Start, Stop };

// One open handle's connection to its device. Every call comes from the handle's owner
// thread; the source writes sound into the queue from wherever it runs.
class WaveInSource {
public:
    virtual ~WaveInSource() = default;
    // Sound starts to flow into the queue.
    virtual MMRESULT start() = 0;
    // Returns once no more sound will arrive; sound already received has been written.
    // MMSYSERR_NODRIVER: the device is gone or did not answer in time (start too).
    virtual MMRESULT stop() = 0;
    // Afterwards the source never touches the queue again.
    virtual void close() = 0;
    // A buffer of this many bytes was queued (lets a backend keep its latency below it).
    virtual void bufferQueued(std::size_t bytes) { (void)bytes; }
    // A failure a test asked for, or MMSYSERR_NOERROR.
    virtual MMRESULT injectedFailure(WaveInCall call)
    {
        (void)call;
        return MMSYSERR_NOERROR;
    }
};

class WaveInBackend {
public:
    virtual ~WaveInBackend() = default;
    // Takes a new snapshot of the device list; ids 0..n-1 index it until the next one.
    virtual UINT snapshotDevices() = 0;
    // Description of a device of the current snapshot (taking one if there is none yet);
    // WAVE_MAPPER names the default device. False for an unknown id.
    virtual bool deviceDescription(UINT id, std::string &description) = 0;
    virtual MMRESULT defaultDevice(UINT &id) = 0;
    virtual MMRESULT open(UINT id, WaveInQueue &queue, std::unique_ptr<WaveInSource> &source) = 0;
    virtual std::string unavailableReason() = 0;
    virtual MMRESULT injectedFailure(WaveInCall call)
    {
        (void)call;
        return MMSYSERR_NOERROR;
    }
};

// The backend that replaces PulseAudio while set (the virtual devices); null restores it.
void setWaveInBackendOverride(WaveInBackend *backend);

// Posts a notice to target through the main thread's notice relay. Thread-safe.
void postWaveInNotice(const QPointer<QObject> &target, UINT message, HWAVEIN handle, WAVEHDR *header);

// How many notices the relay has handed to their targets so far.
std::uint64_t waveInNoticesRelayed();

// Checks a format against what every backend can capture.
MMRESULT checkWaveInFormat(const WAVEFORMATEX &format);
// Cuts a UTF-8 text to fit szPname without splitting a character.
void copyDeviceName(const std::string &description, char (&name)[32]);
