#include "testing/virtualwavein.h"

#include "audio/waveinbackend.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <mutex>

namespace {

constexpr std::size_t kChunkFrames = 1024;

struct VirtualDevice {
    int number = 0;
    std::string name;
    std::string description;
    VirtualWaveIn::Signal signal;
    unsigned rate = 0; // 0: a stream takes the rate and channels of the handle that opens it
    unsigned channels = 0;
};

// An id of the service's list.
struct ListEntry {
    std::string name;
    std::string description;
    int number = 0;
    bool present = true;
};

struct VirtualBackend;

// One stream on a device, as the front end shares it among the handles open on the device.
class VirtualSource final : public WaveInSource {
public:
    VirtualSource(VirtualBackend &backend, int device, WaveInSink &sink, const WAVEFORMATEX &format)
        : backend_(backend), device_(device), sink_(sink), format_(format),
          scratch_(kChunkFrames * format.nBlockAlign)
    {
    }
    ~VirtualSource() override { close(); }

    WAVEFORMATEX format() const override { return format_; }
    MMRESULT start() override;
    MMRESULT stop() override;
    void close() override;
    MMRESULT admit(WaveInCall call) override;

    // With the backend's lock held.
    void pumpMilliseconds(unsigned ms, const VirtualWaveIn::Signal &signal)
    {
        if (!running_)
            return;
        elapsedMs_ += ms;
        const std::uint64_t due = elapsedMs_ * format_.nSamplesPerSec / 1000;
        produce(std::size_t(due - produced_), signal);
    }

    void produce(std::size_t frames, const VirtualWaveIn::Signal &signal)
    {
        if (!running_)
            return;
        const unsigned channels = format_.nChannels;
        while (frames > 0) {
            const std::size_t n = std::min(frames, kChunkFrames);
            std::int16_t *out = scratch_.data();
            for (std::size_t i = 0; i < n; ++i)
                for (unsigned c = 0; c < channels; ++c)
                    *out++ = signal ? signal(produced_ + i, c, format_.nSamplesPerSec) : 0;
            sink_.write(scratch_.data(), n * format_.nBlockAlign);
            produced_ += n;
            frames -= n;
        }
    }

    int device() const { return device_; }
    void orphan() { device_ = -1; }
    WaveInSink &sink() { return sink_; }
    bool serves(HWAVEIN handle) const { return member(handle).handle == handle; }
    WaveInSink::Member member(std::size_t index) const
    {
        WaveInSink::Member m{};
        return sink_.member(index, m) ? m : WaveInSink::Member{};
    }
    WaveInSink::Member member(HWAVEIN handle) const
    {
        WaveInSink::Member m{};
        for (std::size_t i = 0; sink_.member(i, m); ++i)
            if (m.handle == handle)
                return m;
        return {};
    }

private:
    VirtualBackend &backend_;
    int device_;
    WaveInSink &sink_;
    const WAVEFORMATEX format_;
    std::vector<std::int16_t> scratch_;
    std::uint64_t elapsedMs_ = 0;
    std::uint64_t produced_ = 0;
    bool running_ = false; // under the backend's lock
    bool closed_ = false;
};

// Everything a test sets up, shared by the functions of VirtualWaveIn below.
struct VirtualBackend final : WaveInBackend {
    UINT snapshotDevices() override
    {
        std::lock_guard lock(mutex);
        list = serverList();
        return UINT(list.size());
    }

    UINT refreshDevices(bool keepIds, UINT keep) override
    {
        std::lock_guard lock(mutex);
        relistDevices(list, serverList(), keepIds, keep);
        return UINT(list.size());
    }

    bool deviceInfo(UINT id, WaveInDeviceInfo &info) override
    {
        std::lock_guard lock(mutex);
        if (id == WAVE_MAPPER) {
            const VirtualDevice *d = device(defaultIndex);
            if (!d)
                return false;
            info = {d->name, d->description, true};
            return true;
        }
        if (id >= list.size())
            return false;
        const ListEntry &e = list[id];
        info = {e.name, e.description, e.present};
        return true;
    }

    void watchDevices(const QPointer<QObject> &target) override
    {
        std::lock_guard lock(mutex);
        watcher = target;
    }

    MMRESULT defaultDevice(UINT &id) override
    {
        std::lock_guard lock(mutex);
        if (resolve(WAVE_MAPPER) < 0)
            return MMSYSERR_BADDEVICEID;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].present && list[i].number == defaultIndex) {
                id = UINT(i);
                return MMSYSERR_NOERROR;
            }
        }
        return MMSYSERR_BADDEVICEID;
    }

    MMRESULT open(UINT id, const WAVEFORMATEX &wanted, DWORD rate, WaveInSink &sink,
                  std::unique_ptr<WaveInSource> &source) override
    {
        if (MMRESULT r = takeFailure(WaveInCall::Open))
            return r;
        std::lock_guard lock(mutex);
        const int number = resolve(id);
        if (number < 0)
            return MMSYSERR_BADDEVICEID;
        const VirtualDevice *d = device(number);
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nSamplesPerSec = d->rate ? streamRate(d->rate, rate) : wanted.nSamplesPerSec;
        format.nChannels = WORD(d->channels ? d->channels : wanted.nChannels);
        format.wBitsPerSample = 16;
        format.nBlockAlign = WORD(2 * format.nChannels);
        format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
        auto created = std::make_unique<VirtualSource>(*this, number, sink, format);
        sources.push_back(created.get());
        source = std::move(created);
        return MMSYSERR_NOERROR;
    }

    std::string unavailableReason() override
    {
        std::lock_guard lock(mutex);
        return devices.empty() ? "No virtual devices are installed" : "";
    }

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

    // The number of the device an id opens, or -1 when the id or its device is gone.
    int resolve(UINT id) const
    {
        if (id == WAVE_MAPPER)
            return device(defaultIndex) ? defaultIndex : -1;
        if (id >= list.size() || !list[id].present)
            return -1;
        return device(list[id].number) ? list[id].number : -1;
    }

    VirtualDevice *device(int number)
    {
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [number](const VirtualDevice &d) { return d.number == number; });
        return it == devices.end() ? nullptr : &*it;
    }
    const VirtualDevice *device(int number) const { return const_cast<VirtualBackend *>(this)->device(number); }

    std::vector<ListEntry> serverList() const
    {
        std::vector<ListEntry> entries;
        for (const VirtualDevice &d : devices)
            entries.push_back({d.name, d.description, d.number, true});
        return entries;
    }

    void reinstall(const std::vector<std::pair<std::string, std::string>> &named, int defaultDevice)
    {
        loseAll();
        devices.clear();
        for (const auto &[description, name] : named) {
            const int number = int(devices.size());
            devices.push_back({number, name.empty() ? defaultName(number) : name, description, {}});
        }
        nextNumber = int(devices.size());
        list = serverList();
        defaultIndex = defaultDevice;
        failures = {};
        installed = true;
        setWaveInBackendOverride(this);
    }

    static std::string defaultName(int number) { return "virtual-" + std::to_string(number); }

    void devicesChanged()
    {
        if (watcher)
            postWaveInNotice(watcher, MM_WIM_DEVICESCHANGED, nullptr, nullptr);
    }

    void loseHandlesOf(int number, bool orphan)
    {
        for (VirtualSource *s : sources) {
            if (s->device() != number)
                continue;
            s->sink().deviceLost();
            if (orphan)
                s->orphan();
        }
    }

    VirtualSource *find(HWAVEIN handle)
    {
        for (VirtualSource *s : sources)
            if (s->serves(handle))
                return s;
        return nullptr;
    }

    void loseAll()
    {
        for (VirtualSource *s : sources) {
            s->sink().deviceLost();
            s->orphan();
        }
    }

    struct Failure {
        MMRESULT result = MMSYSERR_NOERROR;
        int times = 0;
    };

    std::mutex mutex; // guards everything below
    std::vector<VirtualDevice> devices; // on the server, in the order they appeared
    std::vector<ListEntry> list;        // the service's ids
    int nextNumber = 0;
    int defaultIndex = 0; // a device number
    QPointer<QObject> watcher;
    bool installed = false;
    std::vector<VirtualSource *> sources; // open streams in opening order
    std::array<Failure, kWaveInCalls> failures;
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

MMRESULT VirtualSource::start()
{
    std::lock_guard lock(backend_.mutex);
    running_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSource::stop()
{
    const MMRESULT r = backend_.takeFailure(WaveInCall::Stop);
    std::lock_guard lock(backend_.mutex);
    running_ = false;
    return r;
}

MMRESULT VirtualSource::admit(WaveInCall call)
{
    return backend_.takeFailure(call);
}

} // namespace

void VirtualWaveIn::install(const std::vector<std::string> &descriptions, int defaultDevice)
{
    std::vector<std::pair<std::string, std::string>> named;
    for (const std::string &description : descriptions)
        named.emplace_back(description, std::string());
    installNamed(named, defaultDevice);
}

void VirtualWaveIn::installNamed(const std::vector<std::pair<std::string, std::string>> &devices, int defaultDevice)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.reinstall(devices, defaultDevice);
}

int VirtualWaveIn::addDevice(const std::string &description, const std::string &name)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    const int number = b.nextNumber++;
    b.devices.push_back({number, name.empty() ? VirtualBackend::defaultName(number) : name, description, {}});
    b.devicesChanged();
    return number;
}

void VirtualWaveIn::removeDevice(int device)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    if (!b.device(device))
        return;
    b.loseHandlesOf(device, true);
    std::erase_if(b.devices, [device](const VirtualDevice &d) { return d.number == device; });
    b.devicesChanged();
}

void VirtualWaveIn::uninstall()
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    b.loseAll();
    b.devices.clear();
    b.list.clear();
    b.watcher = nullptr;
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
    if (VirtualDevice *d = b.device(device))
        d->signal = std::move(signal);
}

void VirtualWaveIn::setFormat(int device, unsigned rate, unsigned channels)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    if (VirtualDevice *d = b.device(device)) {
        d->rate = rate;
        d->channels = channels;
    }
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
    const VirtualDevice *d = b.device(device);
    if (!d)
        return;
    const Signal &signal = d->signal;
    for (VirtualSource *s : b.sources)
        if (s->device() == device)
            s->pumpMilliseconds(milliseconds, signal);
}

void VirtualWaveIn::pump(HWAVEIN handle, unsigned milliseconds)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    if (const VirtualDevice *d = s ? b.device(s->device()) : nullptr)
        s->pumpMilliseconds(milliseconds, d->signal);
}

void VirtualWaveIn::pumpFrames(HWAVEIN handle, std::size_t frames)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    const VirtualDevice *d = s ? b.device(s->device()) : nullptr;
    if (!d)
        return;
    // The handle's frames in the stream's rate, rounded up.
    const std::uint64_t rate = s->member(handle).format.nSamplesPerSec;
    const std::uint64_t streamRate = s->format().nSamplesPerSec;
    s->produce(std::size_t((frames * streamRate + rate - 1) / rate), d->signal);
}

void VirtualWaveIn::failNext(WaveInCall call, MMRESULT result, int times)
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
    b.loseHandlesOf(device, false);
}

std::vector<HWAVEIN> VirtualWaveIn::handles(int device)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    std::vector<HWAVEIN> out;
    for (VirtualSource *s : b.sources)
        if (device < 0 || s->device() == device)
            for (std::size_t i = 0; s->member(i).handle; ++i)
                out.push_back(s->member(i).handle);
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
    return s && s->member(handle).started;
}

WAVEFORMATEX VirtualWaveIn::format(HWAVEIN handle)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    return s ? s->member(handle).format : WAVEFORMATEX{};
}

std::uint64_t VirtualWaveIn::framesPumped(HWAVEIN handle)
{
    VirtualBackend &b = backend();
    std::lock_guard lock(b.mutex);
    VirtualSource *s = b.find(handle);
    return s ? s->member(handle).frames : 0;
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
