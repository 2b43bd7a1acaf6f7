#include "audio/wavein.h"

#include "audio/pulsewavein.h"
#include "audio/sharedcapture.h"
#include "audio/waveinbackend.h"
#include "audio/waveinqueue.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

// Free list of notice-sized blocks. Blocks are never returned to the system, so a notice
// deleted late in the process's life still has somewhere to go.
class NoticePool {
public:
    void *take()
    {
        std::lock_guard lock(mutex_);
        if (!free_)
            grow();
        Node *node = free_;
        free_ = node->next;
        return node;
    }

    void give(void *p)
    {
        std::lock_guard lock(mutex_);
        auto *node = static_cast<Node *>(p);
        node->next = free_;
        free_ = node;
    }

    static constexpr std::size_t slotSize()
    {
        constexpr std::size_t align = alignof(std::max_align_t);
        return (std::max(sizeof(WaveInEvent), sizeof(Node)) + align - 1) / align * align;
    }

private:
    struct Node {
        Node *next;
    };

    void grow()
    {
        constexpr std::size_t blockSlots = 64;
        auto *block = static_cast<char *>(::operator new(blockSlots * slotSize()));
        for (std::size_t i = 0; i < blockSlots; ++i) {
            auto *node = reinterpret_cast<Node *>(block + i * slotSize());
            node->next = free_;
            free_ = node;
        }
    }

    std::mutex mutex_;
    Node *free_ = nullptr;
};

NoticePool &noticePool()
{
    static NoticePool *pool = new NoticePool;
    return *pool;
}

std::atomic<std::uint64_t> g_relayed{0};

// Lives in the main thread. Notices from any thread are posted to it and handed to their
// target there, so a target destroyed in the meantime is simply skipped.
class NoticeRelay : public QObject {
public:
    bool event(QEvent *e) override
    {
        if (const WaveInEvent *notice = waveInEventCast(e)) {
            g_relayed.fetch_add(1);
            QObject *target = notice->target();
            if (target && target->thread() == thread())
                QCoreApplication::sendEvent(target, e);
            else if (target) // a target of another thread gets it through its own loop
                QCoreApplication::postEvent(target, new WaveInEvent(notice->message(), notice->handle(),
                                                                    notice->header(), target));
            return true;
        }
        return QObject::event(e);
    }
};

std::atomic<NoticeRelay *> g_relay{nullptr};
std::mutex g_relayMutex;

void stopServiceThreads()
{
    // Runs while the application object is being destroyed: no notice may be posted
    // from another thread once the relay goes.
    pulseWaveInShutdown();
}

NoticeRelay *ensureRelay()
{
    std::lock_guard lock(g_relayMutex);
    if (NoticeRelay *relay = g_relay.load())
        return relay;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    auto *relay = new NoticeRelay;
    relay->moveToThread(app->thread());
    relay->setParent(app);
    QObject::connect(relay, &QObject::destroyed, [] { g_relay.store(nullptr); });
    qAddPostRoutine(stopServiceThreads);
    g_relay.store(relay);
    return relay;
}

std::atomic<WaveInBackend *> g_override{nullptr};

WaveInBackend &backend()
{
    WaveInBackend *b = g_override.load();
    return b ? *b : pulseWaveInBackend();
}

struct OpenHandle {
    std::mutex calls; // one call at a time per handle
    std::unique_ptr<WaveInQueue> queue;
    std::unique_ptr<CaptureMember> member; // leaves before the queue it writes into goes
    bool started = false;
    bool closed = false;
};

class HandleTable {
public:
    HWAVEIN add(std::shared_ptr<OpenHandle> handle, HWAVEIN id)
    {
        std::lock_guard lock(mutex_);
        handles_.emplace(reinterpret_cast<std::uintptr_t>(id), std::move(handle));
        return id;
    }

    HWAVEIN reserve()
    {
        std::lock_guard lock(mutex_);
        // Ids are never reused, so a stale handle can never reach a newer device.
        return reinterpret_cast<HWAVEIN>(next_++);
    }

    std::shared_ptr<OpenHandle> find(HWAVEIN id)
    {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(reinterpret_cast<std::uintptr_t>(id));
        return it == handles_.end() ? nullptr : it->second;
    }

    void remove(HWAVEIN id)
    {
        // Declared before the lock, so destroyed after it is released: the last reference
        // destroys the handle, which may leave its capture and wait for the server, and this
        // table's lock is only ever held alone.
        std::shared_ptr<OpenHandle> gone;
        std::lock_guard lock(mutex_);
        auto it = handles_.find(reinterpret_cast<std::uintptr_t>(id));
        if (it != handles_.end()) {
            gone = std::move(it->second);
            handles_.erase(it);
        }
    }

private:
    std::mutex mutex_;
    std::uintptr_t next_ = 0x1000;
    std::unordered_map<std::uintptr_t, std::shared_ptr<OpenHandle>> handles_;
};

HandleTable &handles()
{
    // Never destroyed: sources must not be torn down during static destruction.
    static HandleTable *table = new HandleTable;
    return *table;
}

bool headerArgsValid(const WAVEHDR *header, UINT size)
{
    return header && size >= sizeof(WAVEHDR);
}

const char *errorText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_NOERROR: return "The operation completed successfully.";
    case MMSYSERR_ERROR: return "The sound input service reported an unspecified error.";
    case MMSYSERR_BADDEVICEID: return "The device id is out of range.";
    case MMSYSERR_NOTENABLED: return "The sound input service is not enabled.";
    case MMSYSERR_ALLOCATED: return "The device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The handle is not an open wave input device.";
    case MMSYSERR_NODRIVER: return "No sound input service or device is present.";
    case MMSYSERR_NOMEM: return "There is not enough memory for the operation.";
    case MMSYSERR_NOTSUPPORTED: return "The operation is not supported.";
    case MMSYSERR_BADERRNUM: return "The error number is unknown.";
    case MMSYSERR_INVALFLAG: return "An invalid flag was passed.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed.";
    case MMSYSERR_HANDLEBUSY: return "The handle is in use by another thread.";
    case WAVERR_BADFORMAT: return "The sound format is not supported (PCM, 8 or 16 bits, 1 or 2 channels, "
                                  "8000 to 48000 Hz).";
    case WAVERR_STILLPLAYING: return "Buffers are still queued on the device.";
    case WAVERR_UNPREPARED: return "The buffer has not been prepared.";
    case WAVERR_SYNC: return "The device is synchronous only.";
    default: return nullptr;
    }
}

} // namespace

void setWaveInBackendOverride(WaveInBackend *b)
{
    g_override.store(b);
}

std::uint64_t waveInNoticesRelayed()
{
    return g_relayed.load();
}

void postWaveInNotice(const QPointer<QObject> &target, UINT message, HWAVEIN handle, WAVEHDR *header)
{
    NoticeRelay *relay = g_relay.load();
    if (relay)
        QCoreApplication::postEvent(relay, new WaveInEvent(message, handle, header, target));
}

MMRESULT checkWaveInFormat(const WAVEFORMATEX &f)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return WAVERR_BADFORMAT;
    if (f.nChannels != 1 && f.nChannels != 2)
        return WAVERR_BADFORMAT;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16)
        return WAVERR_BADFORMAT;
    if (f.nSamplesPerSec < WAVEIN_MIN_RATE || f.nSamplesPerSec > WAVEIN_MAX_RATE)
        return WAVERR_BADFORMAT;
    if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
        return WAVERR_BADFORMAT;
    if (f.nAvgBytesPerSec != DWORD(f.nBlockAlign) * f.nSamplesPerSec)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

void copyDeviceName(const std::string &description, char (&name)[32])
{
    std::size_t n = std::min(description.size(), sizeof(name) - 1);
    // Back off to the start of a UTF-8 character when the cut falls inside one.
    while (n > 0 && n < description.size() && (static_cast<unsigned char>(description[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(name, description.data(), n);
    std::memset(name + n, 0, sizeof(name) - n);
}

WaveInEvent::WaveInEvent(UINT message, HWAVEIN handle, WAVEHDR *header, const QPointer<QObject> &target)
    : QEvent(eventType()), message_(message), handle_(handle), header_(header), target_(target)
{
}

WaveInEvent::~WaveInEvent() = default;

QEvent::Type WaveInEvent::eventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void *WaveInEvent::operator new(std::size_t size)
{
    if (size > NoticePool::slotSize())
        throw std::bad_alloc();
    return noticePool().take();
}

void WaveInEvent::operator delete(void *p, std::size_t)
{
    if (p)
        noticePool().give(p);
}

UINT waveInGetNumDevs()
{
    return backend().snapshotDevices();
}

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic)
{
    if (!pwic || cbwic == 0)
        return MMSYSERR_INVALPARAM;
    UINT id = WAVE_MAPPER;
    if (uDeviceID != UINT_PTR(-1) && uDeviceID != UINT_PTR(WAVE_MAPPER)) {
        if (uDeviceID > UINT_PTR(WAVE_MAPPER))
            return MMSYSERR_BADDEVICEID;
        id = UINT(uDeviceID);
    }
    WaveInDeviceInfo info;
    if (!backend().deviceInfo(id, info))
        return MMSYSERR_BADDEVICEID;
    if (!info.present)
        return MMSYSERR_NODRIVER;
    WAVEINCAPSA caps{};
    caps.vDriverVersion = 0x0100;
    copyDeviceName(info.description, caps.szPname);
    caps.dwFormats = 0xFFFF; // every standard format from 11025 to 48000 Hz
    caps.wChannels = 2;
    std::memcpy(pwic, &caps, std::min<std::size_t>(cbwic, sizeof(caps)));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, const WAVEFORMATEX *pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR, DWORD fdwOpen)
{
    if (!pwfx)
        return MMSYSERR_INVALPARAM;
    const DWORD callbackType = fdwOpen & CALLBACK_TYPEMASK;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    if (fdwOpen & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC))
        return MMSYSERR_INVALFLAG;
    if (MMRESULT r = checkWaveInFormat(*pwfx))
        return r;
    WaveInBackend &b = backend();
    WaveInDeviceInfo info;
    if (fdwOpen & WAVE_FORMAT_QUERY) {
        if (!b.deviceInfo(uDeviceID, info))
            return MMSYSERR_BADDEVICEID;
        return info.present ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
    }
    // A device whose source went is refused until a refresh finds it back, even when the
    // server already has it again: whoever chose it has been told it is gone.
    if (uDeviceID != WAVE_MAPPER && b.deviceInfo(uDeviceID, info) && !info.present)
        return MMSYSERR_NODRIVER;
    if (!phwi)
        return MMSYSERR_INVALPARAM;
    QObject *target = nullptr;
    if (callbackType == CALLBACK_WINDOW) {
        if (!dwCallback)
            return MMSYSERR_INVALPARAM;
        if (!ensureRelay())
            return MMSYSERR_NOTSUPPORTED;
        target = reinterpret_cast<QObject *>(dwCallback);
    }
    const HWAVEIN id = handles().reserve();
    auto handle = std::make_shared<OpenHandle>();
    handle->queue = std::make_unique<WaveInQueue>(id, *pwfx, target);
    if (MMRESULT r = joinCapture(b, uDeviceID, *handle->queue, handle->member))
        return r;
    handles().add(handle, id);
    *phwi = id;
    handle->queue->post(MM_WIM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!headerArgsValid(pwh, cbwh) || !pwh->lpData)
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(h->calls);
    if (h->closed)
        return MMSYSERR_INVALHANDLE;
    if (h->queue->lost())
        return MMSYSERR_NODRIVER;
    if (MMRESULT r = h->member->admit(WaveInCall::Prepare))
        return r;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!headerArgsValid(pwh, cbwh))
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(h->calls);
    // Still allowed after the device was lost, so the owner can release its buffers.
    if (pwh->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!headerArgsValid(pwh, cbwh) || !pwh->lpData)
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(h->calls);
    if (h->closed)
        return MMSYSERR_INVALHANDLE;
    if (!(pwh->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (h->queue->lost())
        return MMSYSERR_NODRIVER;
    if (MMRESULT r = h->member->admit(WaveInCall::AddBuffer))
        return r;
    return h->queue->add(pwh);
}

namespace {

// Runs a call on a handle that is open and whose device is still there, under the handle's lock.
template <typename Call>
MMRESULT onLiveHandle(HWAVEIN hwi, Call call)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard lock(h->calls);
    if (h->closed)
        return MMSYSERR_INVALHANDLE;
    if (h->queue->lost())
        return MMSYSERR_NODRIVER;
    return call(*h);
}

// Stop and reset both halt the stream; they differ in which buffers come back.
MMRESULT haltCapture(HWAVEIN hwi, void (WaveInQueue::*handBack)())
{
    return onLiveHandle(hwi, [&](OpenHandle &h) {
        MMRESULT r = MMSYSERR_NOERROR;
        if (h.started)
            r = h.member->stop();
        // Counts as halted whatever the source said; a source that did not answer is gone,
        // and its owner hears so as from a lost device.
        h.started = false;
        (h.queue.get()->*handBack)();
        if (r == MMSYSERR_NODRIVER)
            h.queue->deviceLost();
        return r;
    });
}

} // namespace

MMRESULT waveInStart(HWAVEIN hwi)
{
    return onLiveHandle(hwi, [](OpenHandle &h) -> MMRESULT {
        if (MMRESULT r = h.member->admit(WaveInCall::Start))
            return r;
        if (h.started)
            return MMSYSERR_NOERROR;
        h.queue->setRunning(true);
        if (MMRESULT r = h.member->start()) {
            h.queue->setRunning(false);
            if (r == MMSYSERR_NODRIVER)
                h.queue->deviceLost();
            return r;
        }
        h.started = true;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveInStop(HWAVEIN hwi)
{
    return haltCapture(hwi, &WaveInQueue::stop);
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    return haltCapture(hwi, &WaveInQueue::reset);
}

MMRESULT waveInClose(HWAVEIN hwi)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(h->calls);
        if (h->closed)
            return MMSYSERR_INVALHANDLE;
        if (h->queue->queuedCount() > 0)
            return WAVERR_STILLPLAYING;
        h->member->close();
        h->closed = true;
        h->queue->post(MM_WIM_CLOSE, nullptr);
    }
    handles().remove(hwi);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!pmmt || cbmmt < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    const std::uint64_t bytes = h->queue->positionBytes();
    const WAVEFORMATEX &f = h->queue->format();
    switch (pmmt->wType) {
    case TIME_SAMPLES:
        pmmt->u.sample = DWORD(bytes / f.nBlockAlign);
        break;
    case TIME_MS:
        pmmt->u.ms = DWORD(bytes * 1000 / f.nAvgBytesPerSec);
        break;
    default:
        pmmt->wType = TIME_BYTES;
        pmmt->u.cb = DWORD(bytes);
        break;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText)
{
    if (!pszText)
        return MMSYSERR_INVALPARAM;
    if (cchText == 0)
        return MMSYSERR_NOERROR;
    const char *text = errorText(mmrError);
    if (!text) {
        pszText[0] = '\0';
        return MMSYSERR_BADERRNUM;
    }
    const std::size_t n = std::min<std::size_t>(std::strlen(text), cchText - 1);
    std::memcpy(pszText, text, n);
    pszText[n] = '\0';
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetDroppedBytes(HWAVEIN hwi, std::uint64_t *pBytes)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!pBytes)
        return MMSYSERR_INVALPARAM;
    *pBytes = h->queue->droppedBytes();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInTakeHeldSound(HWAVEIN hwi, void *pData, UINT cbData, UINT *pcbTaken)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!pcbTaken || (!pData && cbData > 0))
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(h->calls);
    // Allowed on a lost device too: what came before the loss is the owner's.
    if (h->closed)
        return MMSYSERR_INVALHANDLE;
    if (h->queue->running())
        return WAVERR_STILLPLAYING;
    *pcbTaken = UINT(h->queue->takeHeld(pData, cbData));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetQueuedCount(HWAVEIN hwi, UINT *pCount)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!pCount)
        return MMSYSERR_INVALPARAM;
    *pCount = h->queue->queuedCount();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetFilling(HWAVEIN hwi, LPWAVEHDR *ppwh, UINT *pcbRecorded)
{
    auto h = handles().find(hwi);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!ppwh || !pcbRecorded)
        return MMSYSERR_INVALPARAM;
    std::size_t recorded = 0;
    *ppwh = h->queue->filling(recorded);
    *pcbRecorded = UINT(recorded);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetDefaultDevice(UINT *puDeviceID)
{
    if (!puDeviceID)
        return MMSYSERR_INVALPARAM;
    return backend().defaultDevice(*puDeviceID);
}

std::string waveInGetDeviceDescription(UINT uDeviceID)
{
    WaveInDeviceInfo info;
    if (!backend().deviceInfo(uDeviceID, info))
        return {};
    return info.description;
}

std::string waveInGetDeviceName(UINT uDeviceID)
{
    WaveInDeviceInfo info;
    if (!backend().deviceInfo(uDeviceID, info))
        return {};
    return info.name;
}

MMRESULT waveInWatchDevices(QObject *target)
{
    if (target && !ensureRelay())
        return MMSYSERR_NOTSUPPORTED;
    backend().watchDevices(QPointer<QObject>(target));
    return MMSYSERR_NOERROR;
}

UINT waveInRefreshDevices(bool keepIds, UINT keep)
{
    return backend().refreshDevices(keepIds, keep);
}

std::string waveInGetUnavailableReason()
{
    return backend().unavailableReason();
}
