#pragma once
// What the wave-input front end (wavein.cpp) needs from a source of sound: PulseAudio
// (pulsewavein.cpp), or another backend put in with setWaveInBackendOverride (the tests'
// virtual devices).
//
// Sharing: every handle open on one device is served by one stream (sharedcapture.h); the
// stream runs in the device's format and each handle gets it converted to its own. The stream
// runs while any handle on it is started, and ends when the last handle closes.
//
// Threads
// - The owner of a handle: whichever thread calls waveIn* on it (the window's thread in the
//   program). Calls on one handle come one at a time; calls of two handles on one device may
//   come from two threads, and the capture's control lock takes them in turn, so every
//   WaveInSource call below comes from one thread at a time.
// - The backend's own thread (PulseAudio's threaded main loop): stream and context callbacks.
//   It writes sound into the sink (write, writeSilence), which converts it into each started
//   handle's WaveInQueue, reports a lost or moved stream (deviceLost, moved) and posts
//   MM_WIM_DEVICESCHANGED; it never calls waveIn*, and never takes a handle's lock or the
//   capture's control lock.
// - The main thread: the notice relay hands every posted notice to its target there, so
//   targets see notices on their own thread and never under any of the locks below.
//
// Locks, in the order they are taken (never the other way round):
//   1. the capture registry's lock (sharedcapture.cpp): only waveInOpen takes it, first, while
//      it finds the device's capture or opens one;
//   2. a handle's lock (OpenHandle::calls in wavein.cpp): one call at a time per handle;
//   3. a capture's control lock (SharedCapture::control_): joining, leaving, starting and
//      stopping the shared stream;
//   4. the backend's lock: the main-loop lock (pa_threaded_mainloop_lock, PulseService::Lock),
//      held by the loop's thread while it runs callbacks and taken by a source's start, stop,
//      close and open; the virtual devices' mutex in tests;
//   5. a capture's members lock (SharedCapture::members_): the handles on it and their
//      converters, held while sound is converted;
//   6. a queue's mutex (WaveInQueue::mutex_): the buffers and the held sound.
// The handle table's lock and the relay's lock are only ever held alone.
//
// Notices are posted under the queue's mutex, at the moment the queue changes: a buffer
// completed by the loop's thread and a stop, reset or loss on the owner's thread then post
// in the order they happened, so a data notice can never follow the lost notice of its
// handle, and every buffer is back before MM_WIM_CLOSE. Posting takes only the notice pool's
// lock and Qt's own, and nothing is locked while those are held.
#include "audio/wavein.h"

#include <QPointer>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The wave-input calls that reach a backend.
enum class WaveInCall { Open, Prepare, AddBuffer, Start, Stop };
inline constexpr std::size_t kWaveInCalls = std::size_t(WaveInCall::Stop) + 1;

// Where a stream's sound goes: the capture that hands it to every handle on the device
// (sharedcapture.h). Called from wherever the source runs.
class WaveInSink {
public:
    // Whole frames of the source's format().
    virtual void write(const void *data, std::size_t bytes) = 0;
    virtual void writeSilence(std::size_t bytes) = 0;
    // Every handle on the stream gets its buffers back and MM_WIM_DEVICELOST.
    virtual void deviceLost() = 0;
    // The server moved the stream to another source (its own went away): the handles opened
    // on the default device go on with it, those opened by id are lost, as their device is.
    virtual void moved() = 0;

    // The handles served, in the order they joined (for a backend's own tools).
    struct Member {
        HWAVEIN handle;
        WAVEFORMATEX format;
        bool started;
        std::uint64_t frames; // handed to the handle so far, in its own format
    };
    // False past the last one. Takes no memory, so it may be asked while sound flows.
    virtual bool member(std::size_t index, Member &out) const = 0;

protected:
    ~WaveInSink() = default;
};

// One stream on a device, shared by every handle open on it. Every call comes from one
// handle's owner thread at a time (under the capture's control lock); the source writes
// sound into the sink from wherever it runs.
class WaveInSource {
public:
    virtual ~WaveInSource() = default;
    // The stream's format: 16-bit PCM in the device's own rate and channel count.
    virtual WAVEFORMATEX format() const = 0;
    // Asked before a prepare, add, start or stop does anything, and before another handle
    // joins the stream (an open): MMSYSERR_NOERROR lets it go ahead, anything else is the
    // call's result. A device that can always take them keeps this.
    virtual MMRESULT admit(WaveInCall call)
    {
        (void)call;
        return MMSYSERR_NOERROR;
    }
    // Sound starts to flow into the sink.
    virtual MMRESULT start() = 0;
    // Returns once no more sound will arrive; sound already received has been written.
    // MMSYSERR_NODRIVER: the device is gone or did not answer in time (start too).
    virtual MMRESULT stop() = 0;
    // Afterwards the source never touches the sink again.
    virtual void close() = 0;
    // False once the backend has moved on (pointed at another server): a handle opened now
    // gets a stream of its own.
    virtual bool current() const { return true; }
};

// A device of the current list as its backend knows it.
struct WaveInDeviceInfo {
    std::string name;        // the server's own name of the source
    std::string description; // whole, as the server describes it
    bool present = true;     // false: it went away after the list was taken
};

class WaveInBackend {
public:
    virtual ~WaveInBackend() = default;
    // Takes a new snapshot of the device list; ids 0..n-1 index it until the next one.
    virtual UINT snapshotDevices() = 0;
    // Brings the snapshot up to date (see waveInRefreshDevices); 0 when the server did not
    // answer, and then the snapshot stays as it was.
    virtual UINT refreshDevices(bool keepIds, UINT keep) = 0;
    // A device of the current snapshot (taking one if there is none yet); WAVE_MAPPER names
    // the default device. False for an unknown id.
    virtual bool deviceInfo(UINT id, WaveInDeviceInfo &info) = 0;
    // Where MM_WIM_DEVICESCHANGED goes from now on (null: nowhere).
    virtual void watchDevices(const QPointer<QObject> &target) = 0;
    virtual MMRESULT defaultDevice(UINT &id) = 0;
    // Opens a stream on the device, corked, in the device's channels (at most two) and at
    // streamRate(the device's rate, rate). `wanted` is the first handle's format, for a
    // backend whose devices have none of their own. A stream opened by id stays on its
    // device; one opened with WAVE_MAPPER may be moved.
    virtual MMRESULT open(UINT id, const WAVEFORMATEX &wanted, DWORD rate, WaveInSink &sink,
                          std::unique_ptr<WaveInSource> &source) = 0;
    virtual std::string unavailableReason() = 0;
};

// The rate a shared stream runs at: the device's own, or the rate asked for by
// waveInSetStreamRate when that is lower.
constexpr DWORD streamRate(DWORD deviceRate, DWORD asked)
{
    return asked != 0 && asked < deviceRate ? asked : deviceRate;
}

// The backend that replaces PulseAudio while set; null restores it.
void setWaveInBackendOverride(WaveInBackend *backend);

// Posts a notice to target through the main thread's notice relay. Thread-safe.
void postWaveInNotice(const QPointer<QObject> &target, UINT message, HWAVEIN handle, WAVEHDR *header);

// How many notices the relay has handed to their targets so far.
std::uint64_t waveInNoticesRelayed();

// Checks a format against what every backend can capture.
MMRESULT checkWaveInFormat(const WAVEFORMATEX &format);
// Cuts a UTF-8 text to fit szPname without splitting a character.
void copyDeviceName(const std::string &description, char (&name)[32]);

// The work of refreshDevices on a backend's list, given the server's sources in list order
// (Entry has `name` and `present`). keepIds: every id keeps its entry, a source that went
// is marked gone, one that came back under its old name takes its old id again, and new
// ones follow the last id. Otherwise the list becomes `current`, except that the entry of
// id `keep`, when its source went, stays after the others marked gone.
template <class Entry>
void relistDevices(std::vector<Entry> &list, std::vector<Entry> current, bool keepIds, UINT keep)
{
    const auto find = [&current](const std::string &name) {
        return std::find_if(current.begin(), current.end(), [&](const Entry &e) { return e.name == name; });
    };
    if (!keepIds) {
        const bool keepGone = keep < list.size() && find(list[keep].name) == current.end();
        if (keepGone) {
            Entry kept = std::move(list[keep]);
            kept.present = false;
            current.push_back(std::move(kept));
        }
        list = std::move(current);
        return;
    }
    for (Entry &entry : list) {
        const auto it = find(entry.name);
        entry.present = it != current.end();
        if (entry.present) {
            entry = std::move(*it);
            entry.present = true;
            current.erase(it);
        }
    }
    for (Entry &entry : current) {
        entry.present = true;
        list.push_back(std::move(entry));
    }
}
