#include "audio/virtualwavein.h"

#include "audio/waveinbackend.h"
#include "audio/waveinqueue.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <mutex>

namespace {

constexpr std::size_t kChunkFrames = 1024;

struct VirtualDevice {
    std::string name;
    VirtualWaveIn::Signal signal;
};

class VirtualBackend;

class VirtualSource final : public WaveInSource {
public:
    VirtualSource(VirtualBackend &backend, int device, WaveInQueue &queue)
        : backend_(backend), device_(device), queue_(queue),
          scratch_(kChunkFrames * std::max<std::size_t>(queue.format().nBlockAlign, 1))
    {
    }
    ~VirtualSource() override { close(); }

    // Sound flows while the queue runs; the pump looks at that.
    MMRESULT start() override { return MMSYSERR_NOERROR; }
    MMRESULT stop() override;
    void close() override;
    MMRESULT injectedFailure(WaveInCall call) override;

    // With the backend's lock held.
    void pumpMilliseconds(unsigned ms, const VirtualWaveIn::Signal &signal)
    {
        if (!queue_.running())
            return;
        elapsedMs_ += ms;
        const std::uint64_t due = elapsedMs_ * queue_.format().nSamplesPerSec / 1000;
        produce(std::size_t(due - produced_), signal);
    }

    void produce(std::size_t frames, const VirtualWaveIn::Signal &signal)
    {
        if (!queue_.running())
            return;
        const WAVEFORMATEX &f = queue_.format();
        const unsigned channels = f.nChannels;
        const bool eightBit = f.wBitsPerSample == 8;
        while (frames > 0) {
            const std::size_t n = std::min(frames, kChunkFrames);
            std::uint8_t *out = scratch_.data();
            for (std::size_t i = 0; i < n; ++i) {
                for (unsigned c = 0; c < channels; ++c) {
                    const std::int16_t s = signal ? signal(produced_ + i, c, f.nSamplesPerSec) : 0;
                    if (eightBit) {
                        *out++ = std::uint8_t((s >> 8) + 128);
                    } else {
                        const auto u = std::uint16_t(s);
                        *out++ = std::uint8_t(u & 0xFF);
                        *out++ = std::uint8_t(u >> 8);
                    }
                }
            }
            queue_.write(scratch_.data(), n * f.nBlockAlign);
            produced_ += n;
            frames -= n;
        }
    }

    int device() const { return device_; }
    void orphan() { device_ = -1; }
    WaveInQueue &queue() { return queue_; }
    std::uint64_t produced() const { return produced_; }

private:
    VirtualBackend &backend_;
    int device_;
    WaveInQueue &queue_;
    std::vector<std::uint8_t> scratch_;
    std::uint64_t elapsedMs_ = 0;
    std::uint64_t produced_ = 0;
    bool closed_ = false;
};

class VirtualBackend final : public WaveInBackend {
public:
    UINT snapshotDevices() override
    {
        std::lock_guard lock(mutex);
        return UINT(devices.size());
    }

    bool deviceDescription(UINT id, std::string &description) override
    {
        std::lock_guard lock(mutex);
        const int index = resolve(id);
        if (index < 0)
            return false;
        description = devices[std::size_t(index)].name;
        return true;
    }

    MMRESULT defaultDevice(UINT &id) override
    {
        std::lock_guard lock(mutex);
        if (resolve(WAVE_MAPPER) < 0)
            return MMSYSERR_BADDEVICEID;
        id = UINT(defaultIndex);
        return MMSYSERR_NOERROR;
    }

    MMRESULT open(UINT id, WaveInQueue &queue, std::unique_ptr<WaveInSource> &source) override
    {
        std::lock_guard lock(mutex);
        const int index = resolve(id);
        if (index < 0)
            return MMSYSERR_BADDEVICEID;
        auto created = std::make_unique<VirtualSource>(*this, index, queue);
        sources.push_back(created.get());
        source = std::move(created);
        return MMSYSERR_NOERROR;
    }

    std::string unavailableReason() override
    {
        std::lock_guard lock(mutex);
        return devices.empty() ? "No virtual devices are installed" : "";
    }

    MMRESULT injectedFailure(WaveInCall call) override { return takeFailure(call); }

    MMRESULT takeFailure(WaveInCall call)
    {
        std::lock_guard lock(mutex);
        Failure &f = failures[std::size_t(call)];
        if (f.times == 0)
            return MMSYSERR_NOERROR;
        if (f.times > 0)
            --f.times;
        return f.result;
    }

    int resolve(UINT id) const
    {
        const int index = id == WAVE_MAPPER ? defaultIndex : int(id);
        if (id != WAVE_MAPPER && id >= devices.size())
            return -1;
        return index >= 0 && std::size_t(index) < devices.size() ? index : -1;
    }

    VirtualSource *find(HWAVEIN handle)
    {
        for (VirtualSource *s : sources)
            if (s->queue().handle() == handle)
                return s;
        return nullptr;
    }

    void loseAll()
    {
        for (VirtualSource *s : sources) {
            s->queue().deviceLost();
            s->orphan();
        }
    }

    struct Failure {
        MMRESULT result = MMSYSERR_NOERROR;
        int times = 0;
    };

    std::mutex mutex; // guards everything below
    std::vector<VirtualDevice> devices;
    int defaultIndex = 0;
    bool installed = false;
    std::vector<VirtualSource *> sources; // open handles in opening order
    std::array<Failure, 5> failures;
};

VirtualBackend &backend()
{
    static VirtualBackend *instance = new VirtualBackend;
    return *instance;
}

void VirtualSource::close()
{
    if (closed_)
        return;
    closed_ = true;
    std::lock_guard lock(backend_.mutex);
    auto &list = backend_.sources;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

MMRESULT VirtualSource::stop()
{
    return backend_.takeFailure(WaveInCall::Stop);
}

MMRESULT VirtualSource::injectedFailure(WaveInCall call)
{
    return backend_.takeFailure(call);
}

} // namespace

void VirtualWaveIn::install(const std::vector<std::string> &names, int defaultDevice)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.loseAll();
    b.devices.clear();
    for (const std::string &name : names)
        b.devices.push_back({name, {}});
    b.defaultIndex = defaultDevice;
    b.failures = {};
    b.installed = true;
    setWaveInBackendOverride(&b);
}

void VirtualWaveIn::uninstall()
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.loseAll();
    b.devices.clear();
    b.failures = {};
    b.installed = false;
    setWaveInBackendOverride(nullptr);
}

bool VirtualWaveIn::installed()
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    return b.installed;
}

void VirtualWaveIn::setDefault(int device)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.defaultIndex = device;
}

void VirtualWaveIn::setSignal(int device, Signal signal)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    if (device >= 0 && std::size_t(device) < b.devices.size())
        b.devices[std::size_t(device)].signal = std::move(signal);
}

void VirtualWaveIn::setSamples(int device, std::vector<std::int16_t> interleaved, unsigned channels)
{
    auto samples = std::make_shared<const std::vector<std::int16_t>>(std::move(interleaved));
    const unsigned stride = std::max(channels, 1u);
    setSignal(device, [samples, stride](std::uint64_t frame, unsigned channel, unsigned) -> std::int16_t {
        const std::uint64_t at = frame * stride + std::min(channel, stride - 1);
        return at < samples->size() ? (*samples)[std::size_t(at)] : std::int16_t(0);
    });
}

VirtualWaveIn::Signal VirtualWaveIn::sine(double hz, double amplitude, double phase)
{
    return [hz, amplitude, phase](std::uint64_t frame, unsigned, unsigned rate) -> std::int16_t {
        const double v = amplitude * std::sin(2.0 * M_PI * hz * double(frame) / double(rate) + phase);
        return std::int16_t(std::clamp(std::lround(v), -32768L, 32767L));
    };
}

VirtualWaveIn::Signal VirtualWaveIn::constant(std::int16_t value)
{
    return [value](std::uint64_t, unsigned, unsigned) { return value; };
}

VirtualWaveIn::Signal VirtualWaveIn::counter()
{
    return [](std::uint64_t frame, unsigned, unsigned) { return std::int16_t(std::uint16_t(frame)); };
}

void VirtualWaveIn::pump(int device, unsigned milliseconds)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    if (device < 0 || std::size_t(device) >= b.devices.size())
        return;
    const Signal &signal = b.devices[std::size_t(device)].signal;
    for (VirtualSource *s : b.sources)
        if (s->device() == device)
            s->pumpMilliseconds(milliseconds, signal);
}

void VirtualWaveIn::pump(HWAVEIN handle, unsigned milliseconds)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    if (s && s->device() >= 0)
        s->pumpMilliseconds(milliseconds, b.devices[std::size_t(s->device())].signal);
}

void VirtualWaveIn::pumpFrames(HWAVEIN handle, std::size_t frames)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    if (s && s->device() >= 0)
        s->produce(frames, b.devices[std::size_t(s->device())].signal);
}

void VirtualWaveIn::failNext(VirtualWaveInCall call, MMRESULT result, int times)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.failures[std::size_t(call)] = {result, times};
}

void VirtualWaveIn::clearFailures()
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.failures = {};
}

void VirtualWaveIn::loseDevice(int device)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    for (VirtualSource *s : b.sources)
        if (s->device() == device)
            s->queue().deviceLost();
}

std::vector<HWAVEIN> VirtualWaveIn::handles(int device)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    std::vector<HWAVEIN> out;
    for (VirtualSource *s : b.sources)
        if (device < 0 || s->device() == device)
            out.push_back(s->queue().handle());
    return out;
}

int VirtualWaveIn::deviceOf(HWAVEIN handle)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    return s ? s->device() : -1;
}

UINT VirtualWaveIn::queuedBuffers(HWAVEIN handle)
{
    UINT count = 0;
    return waveInGetQueuedCount(handle, &count) == MMSYSERR_NOERROR ? count : 0;
}

bool VirtualWaveIn::started(HWAVEIN handle)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    return s && s->queue().running();
}

WAVEFORMATEX VirtualWaveIn::format(HWAVEIN handle)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    return s ? s->queue().format() : WAVEFORMATEX{};
}

std::uint64_t VirtualWaveIn::framesPumped(HWAVEIN handle)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    return s ? s->produced() : 0;
}

void VirtualWaveIn::deliverNotices()
{
    // Notices posted while others are handled (a buffer queued again and filled at once
    // from held sound) wait for the next round, so go on until a round hands over none.
    std::uint64_t before = 0;
    do {
        before = waveInNoticesRelayed();
        QCoreApplication::sendPostedEvents();
    } while (waveInNoticesRelayed() != before);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
