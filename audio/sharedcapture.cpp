#include "audio/sharedcapture.h"

#include "audio/audiolog.h"
#include "audio/waveinconverter.h"
#include "audio/waveinqueue.h"

#include <algorithm>

namespace {
std::atomic<DWORD> g_streamRate{0};
} // namespace

// A handle's part of the capture: its queue and the converter into it.
struct CaptureSlot {
    CaptureSlot(WaveInQueue &q, DWORD rate, WORD channels, bool byId)
        : queue(q), converter(rate, channels, q), pinned(byId)
    {
    }
    WaveInQueue &queue;
    WaveInConverter converter;
    const bool pinned; // opened by id, not WAVE_MAPPER
    bool started = false;     // written under the control lock and the members lock
    std::uint64_t frames = 0; // under the members lock
};

// Threads: start, stop, join and leave come from the owners of the handles on it (one at a
// time, under control_); write, writeSilence and deviceLost from the backend's thread.
class SharedCapture final : public WaveInSink {
public:
    SharedCapture() = default;
    ~SharedCapture()
    {
        if (source_)
            source_->close();
    }

    // Under the registry's lock, before anyone else can reach it.
    MMRESULT openSource(WaveInBackend &backend, UINT id, const WAVEFORMATEX &wanted)
    {
        std::lock_guard control(control_);
        if (MMRESULT r = backend.open(id, wanted, g_streamRate.load(), *this, source_))
            return r;
        format_ = source_->format();
        qCInfo(lcAudio) << "capture stream opened:" << format_.nSamplesPerSec << "Hz," << format_.nChannels
                        << "channels";
        return MMSYSERR_NOERROR;
    }

    CaptureSlot *join(WaveInQueue &queue, bool pinned, MMRESULT &result)
    {
        std::lock_guard control(control_);
        if (!source_ || lost_ || moved_ || !source_->current()) {
            result = MMSYSERR_NODRIVER;
            return nullptr;
        }
        if (MMRESULT r = source_->admit(WaveInCall::Open)) {
            result = r;
            return nullptr;
        }
        auto slot = std::make_unique<CaptureSlot>(queue, format_.nSamplesPerSec, format_.nChannels, pinned);
        if (!slot->converter.ok()) {
            result = MMSYSERR_NOMEM;
            return nullptr;
        }
        std::lock_guard members(members_);
        slots_.push_back(std::move(slot));
        result = MMSYSERR_NOERROR;
        return slots_.back().get();
    }

    // The first handle, on the stream just opened for it.
    CaptureSlot *joinOpened(WaveInQueue &queue, bool pinned)
    {
        std::lock_guard control(control_);
        auto slot = std::make_unique<CaptureSlot>(queue, format_.nSamplesPerSec, format_.nChannels, pinned);
        if (!slot->converter.ok())
            return nullptr;
        std::lock_guard members(members_);
        slots_.push_back(std::move(slot));
        return slots_.back().get();
    }

    MMRESULT admit(WaveInCall call)
    {
        std::lock_guard control(control_);
        return source_ ? source_->admit(call) : MMSYSERR_NODRIVER;
    }

    MMRESULT start(CaptureSlot &slot)
    {
        std::lock_guard control(control_);
        if (slot.started)
            return MMSYSERR_NOERROR;
        if (!source_)
            return MMSYSERR_NODRIVER;
        if (started_ == 0) {
            if (MMRESULT r = source_->start())
                return failed(r, slot);
        }
        ++started_;
        std::lock_guard members(members_);
        slot.converter.restart();
        slot.started = true;
        return MMSYSERR_NOERROR;
    }

    MMRESULT stop(CaptureSlot &slot)
    {
        std::lock_guard control(control_);
        if (!slot.started)
            return MMSYSERR_NOERROR;
        // The last handle halts the stream, which hands over what it has first; the others
        // simply stop taking sound while the stream runs on for the rest.
        MMRESULT r = MMSYSERR_NODRIVER;
        if (source_)
            r = started_ == 1 ? source_->stop() : source_->admit(WaveInCall::Stop);
        --started_;
        {
            std::lock_guard members(members_);
            slot.started = false;
        }
        return r ? failed(r, slot) : r;
    }

    void leave(CaptureSlot &slot)
    {
        std::lock_guard control(control_);
        if (slot.started) {
            --started_;
            // The handles that stay are all stopped: the stream halts, and whatever it says
            // reaches them when they next start.
            if (started_ == 0 && source_ && slots_.size() > 1)
                source_->stop();
        }
        bool empty = false;
        {
            std::lock_guard members(members_);
            std::erase_if(slots_, [&](const std::unique_ptr<CaptureSlot> &s) { return s.get() == &slot; });
            empty = slots_.empty();
        }
        if (empty && source_) {
            source_->close();
            source_.reset();
        }
    }

    bool lost() const { return lost_ || moved_; }

    void write(const void *data, std::size_t bytes) override
    {
        const std::size_t frames = bytes / (sizeof(std::int16_t) * format_.nChannels);
        const auto *samples = static_cast<const std::int16_t *>(data);
        std::lock_guard members(members_);
        for (const auto &slot : slots_)
            if (slot->started && slot->queue.running()) // a lost one takes nothing
                slot->frames += slot->converter.write(samples, frames);
    }

    void writeSilence(std::size_t bytes) override
    {
        const std::size_t frames = bytes / (sizeof(std::int16_t) * format_.nChannels);
        std::lock_guard members(members_);
        for (const auto &slot : slots_)
            if (slot->started && slot->queue.running())
                slot->frames += slot->converter.writeSilence(frames);
    }

    void deviceLost() override { loseAllBut(nullptr); }

    void moved() override
    {
        moved_ = true;
        std::lock_guard members(members_);
        for (const auto &slot : slots_)
            if (slot->pinned)
                slot->queue.deviceLost();
    }

    bool member(std::size_t index, Member &out) const override
    {
        std::lock_guard members(members_);
        if (index >= slots_.size())
            return false;
        const CaptureSlot &slot = *slots_[index];
        out = {slot.queue.handle(), slot.queue.format(), slot.started && slot.queue.running(), slot.frames};
        return true;
    }

private:
    // A stream that did not answer is gone for every handle on it; the caller tells its own.
    MMRESULT failed(MMRESULT r, CaptureSlot &caller)
    {
        if (r == MMSYSERR_NODRIVER)
            loseAllBut(&caller);
        return r;
    }

    void loseAllBut(const CaptureSlot *except)
    {
        lost_ = true;
        std::lock_guard members(members_);
        for (const auto &slot : slots_)
            if (slot.get() != except)
                slot->queue.deviceLost();
    }

    std::mutex control_;
    std::unique_ptr<WaveInSource> source_; // under control_
    WAVEFORMATEX format_{};                // set before anyone joins, then fixed
    int started_ = 0;                      // handles started, under control_
    std::atomic<bool> lost_{false};
    std::atomic<bool> moved_{false}; // now on another device than the one it was opened for
    mutable std::mutex members_;
    std::vector<std::unique_ptr<CaptureSlot>> slots_;
};

namespace {

struct RegistryEntry {
    WaveInBackend *backend = nullptr;
    std::string device;
    std::weak_ptr<SharedCapture> capture;
};

std::mutex g_registryMutex;

std::vector<RegistryEntry> &registry()
{
    // Never destroyed: handles may still be closed while the process winds down.
    static auto *entries = new std::vector<RegistryEntry>;
    return *entries;
}

} // namespace

CaptureMember::CaptureMember(std::shared_ptr<SharedCapture> capture, CaptureSlot *slot)
    : capture_(std::move(capture)), slot_(slot)
{
}

CaptureMember::~CaptureMember()
{
    close();
}

MMRESULT CaptureMember::admit(WaveInCall call)
{
    return capture_ ? capture_->admit(call) : MMSYSERR_INVALHANDLE;
}

MMRESULT CaptureMember::start()
{
    return capture_ ? capture_->start(*slot_) : MMSYSERR_INVALHANDLE;
}

MMRESULT CaptureMember::stop()
{
    return capture_ ? capture_->stop(*slot_) : MMSYSERR_INVALHANDLE;
}

void CaptureMember::close()
{
    if (!capture_)
        return;
    capture_->leave(*slot_);
    capture_.reset();
}

void waveInSetStreamRate(DWORD rate)
{
    g_streamRate.store(rate);
}

MMRESULT joinCapture(WaveInBackend &backend, UINT id, WaveInQueue &queue, std::unique_ptr<CaptureMember> &member)
{
    WaveInDeviceInfo info;
    const bool known = backend.deviceInfo(id, info) && !info.name.empty();
    // Held while the stream opens, so that two handles opening the same device at once
    // cannot both open one.
    std::lock_guard lock(g_registryMutex);
    auto &entries = registry();
    std::erase_if(entries, [](const RegistryEntry &e) { return e.capture.expired(); });
    RegistryEntry *entry = nullptr;
    if (known) {
        const auto it = std::find_if(entries.begin(), entries.end(), [&](const RegistryEntry &e) {
            return e.backend == &backend && e.device == info.name;
        });
        entry = it == entries.end() ? nullptr : &*it;
    }
    if (entry) {
        if (std::shared_ptr<SharedCapture> capture = entry->capture.lock(); capture && !capture->lost()) {
            MMRESULT r = MMSYSERR_NOERROR;
            if (CaptureSlot *slot = capture->join(queue, id != WAVE_MAPPER, r)) {
                member = std::make_unique<CaptureMember>(std::move(capture), slot);
                return MMSYSERR_NOERROR;
            }
            if (r != MMSYSERR_NODRIVER)
                return r;
        }
    }
    // A lost or moved stream stays with the handles on it until they close; a new one takes
    // its place.
    auto capture = std::make_shared<SharedCapture>();
    if (MMRESULT r = capture->openSource(backend, id, queue.format()))
        return r;
    CaptureSlot *slot = capture->joinOpened(queue, id != WAVE_MAPPER);
    if (!slot)
        return MMSYSERR_NOMEM;
    if (entry)
        entry->capture = capture;
    else if (known)
        entries.push_back({&backend, info.name, capture});
    member = std::make_unique<CaptureMember>(std::move(capture), slot);
    return MMSYSERR_NOERROR;
}
