#pragma once
// Wave-input service with the shape of the Windows multimedia API, backed by PulseAudio
// (or by the virtual devices of virtualwavein.h while a test has them installed).
//
// Notices for CALLBACK_WINDOW opens are posted Qt events (WaveInEvent) for the QObject given
// as the callback; use waveInEventCast() in the receiver's event() to recognise and unpack
// them. Whatever thread raises them, they are posted to a relay object in the main thread,
// which hands each to its target in turn (so the order is kept, and a target destroyed
// meanwhile is skipped). Flush them with QCoreApplication::sendPostedEvents() (no receiver)
// or by running the event loop.
//
// Device ids 0..n-1 index the list taken by the latest waveInGetNumDevs() (real inputs
// first, then monitors of outputs) or waveInRefreshDevices(). The list stays as it is until
// the next of these, so an id read from waveInGetDevCapsA() opens that same source even if
// the server's sources change in between (a source gone by then fails the open with
// MMSYSERR_BADDEVICEID or MMSYSERR_NODRIVER). WAVE_MAPPER always opens the server's current
// default source. waveInWatchDevices() tells when the server's sources have changed.

#include <QEvent>
#include <QPointer>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>

class QObject;

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;
using LPSTR = char *;

struct HWAVEIN__;
using HWAVEIN = HWAVEIN__ *;
using LPHWAVEIN = HWAVEIN *;

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
using LPWAVEFORMATEX = WAVEFORMATEX *;

// 48 bytes on 64-bit Linux (32 on 32-bit Windows): callers pass sizeof(WAVEHDR).
struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR *lpNext; // the service links queued headers through this field
    DWORD_PTR reserved;
};
using PWAVEHDR = WAVEHDR *;
using LPWAVEHDR = WAVEHDR *;

struct WAVEINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    char szPname[32];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};
using LPWAVEINCAPSA = WAVEINCAPSA *;
static_assert(sizeof(WAVEINCAPSA) == 48);

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
    } u;
};
using LPMMTIME = MMTIME *;

inline constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
inline constexpr WORD WAVE_FORMAT_PCM = 1;

inline constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr DWORD CALLBACK_WINDOW = 0x00010000;
inline constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
inline constexpr DWORD WAVE_ALLOWSYNC = 0x0002;

inline constexpr DWORD WHDR_DONE = 0x00000001;
inline constexpr DWORD WHDR_PREPARED = 0x00000002;
inline constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
inline constexpr DWORD WHDR_ENDLOOP = 0x00000008;
inline constexpr DWORD WHDR_INQUEUE = 0x00000010;

inline constexpr UINT TIME_MS = 0x0001;
inline constexpr UINT TIME_SAMPLES = 0x0002;
inline constexpr UINT TIME_BYTES = 0x0004;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
inline constexpr MMRESULT MMSYSERR_LASTERROR = 21;
inline constexpr MMRESULT WAVERR_BASE = 32;
inline constexpr MMRESULT WAVERR_BADFORMAT = WAVERR_BASE + 0;
inline constexpr MMRESULT WAVERR_STILLPLAYING = WAVERR_BASE + 1;
inline constexpr MMRESULT WAVERR_UNPREPARED = WAVERR_BASE + 2;
inline constexpr MMRESULT WAVERR_SYNC = WAVERR_BASE + 3;
inline constexpr MMRESULT WAVERR_LASTERROR = WAVERR_BASE + 3;

inline constexpr UINT MM_WIM_OPEN = 0x3BE;
inline constexpr UINT MM_WIM_CLOSE = 0x3BF;
inline constexpr UINT MM_WIM_DATA = 0x3C0;
// Our own notice: the device (or the whole sound server) went away while open. Every buffer
// that was queued has come back with a data notice before this one; the header is null.
// Afterwards calls on the handle return MMSYSERR_NODRIVER, except unprepare and close.
// The value lies in the WM_USER range so it cannot collide with a system notice.
inline constexpr UINT MM_WIM_DEVICELOST = 0x07C0;
// Our own notice to the object given to waveInWatchDevices(): a source appeared on the
// server or went away. Handle and header are null.
inline constexpr UINT MM_WIM_DEVICESCHANGED = 0x07C1;

// Capture rates the service accepts.
inline constexpr DWORD WAVEIN_MIN_RATE = 8000;
inline constexpr DWORD WAVEIN_MAX_RATE = 48000;

UINT waveInGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic);
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, const WAVEFORMATEX *pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInStop(HWAVEIN hwi);
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt);
MMRESULT waveInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);

// Typed form of a CALLBACK_WINDOW open: the notices go to target.
template <class Target>
    requires std::derived_from<Target, QObject>
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, const WAVEFORMATEX *pwfx, Target *target,
                    DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return waveInOpen(phwi, uDeviceID, pwfx,
                      reinterpret_cast<DWORD_PTR>(static_cast<QObject *>(target)), dwInstance, fdwOpen);
}

// Extensions.
// Bytes of sound lost on this handle because no buffer was queued and the holding ring
// (two seconds of sound) was full.
MMRESULT waveInGetDroppedBytes(HWAVEIN hwi, std::uint64_t *pBytes);
// Takes sound the handle holds for lack of a queued buffer (up to two seconds, oldest
// first), once it is stopped or its device lost: what a reset would throw away. Whole frames,
// at most cbData bytes; *pcbTaken = 0 when nothing is held. The owner drains it at the end so
// that what was captured reaches it.
MMRESULT waveInTakeHeldSound(HWAVEIN hwi, void *pData, UINT cbData, UINT *pcbTaken);
// Buffers added and not yet handed back.
MMRESULT waveInGetQueuedCount(HWAVEIN hwi, UINT *pCount);
// The buffer being filled now and how many of its bytes hold sound so far (null and 0 when
// none is). Those bytes stay as they are while the buffer is queued, so the owner may read
// them on its own thread; the rest of the buffer is still being written.
MMRESULT waveInGetFilling(HWAVEIN hwi, LPWAVEHDR *ppwh, UINT *pcbRecorded);
// Handles on one device share one stream of the server, which runs at the device's own
// rate unless a lower one is set here (0, the start: none). Set it to the rate the
// recording will take: the server then resamples once, its graph's converter being
// cheaper than ours per handle, and the recording gets a plain copy. Streams already open
// keep their rate; a handle at another rate is converted from it as always.
void waveInSetStreamRate(DWORD rate);
// Id of the server's default source within the current device list.
MMRESULT waveInGetDefaultDevice(UINT *puDeviceID);
// Full UTF-8 description of a device (szPname holds at most 31 bytes of it), also of one
// whose source has gone; empty for an unknown id.
std::string waveInGetDeviceDescription(UINT uDeviceID);
// The server's own name of a device's source, which stays the same across restarts and
// tells apart sources described alike; empty for an unknown id.
std::string waveInGetDeviceName(UINT uDeviceID);
// From now on target gets MM_WIM_DEVICESCHANGED (posted, as the other notices, and handed
// over in the main thread); null stops it. One target at a time.
MMRESULT waveInWatchDevices(QObject *target);
// Brings the device list up to date with the server. keepIds (something is open by id): no
// id changes its source; one whose source went stays, gone (waveInGetDevCapsA and waveInOpen
// then fail with MMSYSERR_NODRIVER), one whose source came back under the same name is there
// again, and new sources get the ids after the last. Otherwise a new list as
// waveInGetNumDevs() takes, except that device `keep`, if its source went, stays as the last
// id, gone. Returns the count; 0 when the server did not answer, and the list is unchanged.
UINT waveInRefreshDevices(bool keepIds, UINT keep = WAVE_MAPPER);
// Why the service has no devices (for example "Connection refused"); empty when it has some.
std::string waveInGetUnavailableReason();

// A posted wave-input notice. message is MM_WIM_OPEN, MM_WIM_CLOSE, MM_WIM_DATA,
// MM_WIM_DEVICELOST or MM_WIM_DEVICESCHANGED; header is set for MM_WIM_DATA only.
class WaveInEvent final : public QEvent {
public:
    WaveInEvent(UINT message, HWAVEIN handle, WAVEHDR *header, const QPointer<QObject> &target);
    ~WaveInEvent() override;

    static QEvent::Type eventType();
    WaveInEvent *clone() const override { return new WaveInEvent(*this); }

    UINT message() const { return message_; }
    HWAVEIN handle() const { return handle_; }
    WAVEHDR *header() const { return header_; }
    QObject *target() const { return target_.data(); }

    // Notices come from a fixed pool so that capture takes no memory per buffer.
    static void *operator new(std::size_t size);
    static void operator delete(void *p, std::size_t size);

private:
    UINT message_;
    HWAVEIN handle_;
    WAVEHDR *header_;
    QPointer<QObject> target_;
};

// Returns the notice carried by e, or null when e is not a wave-input notice.
inline const WaveInEvent *waveInEventCast(const QEvent *e)
{
    return e && e->type() == WaveInEvent::eventType() ? static_cast<const WaveInEvent *>(e) : nullptr;
}
