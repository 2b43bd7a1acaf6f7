#include "audio/pulsewavein.h"

#include "audio/audiolog.h"
#include "audio/waveinbackend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

namespace {

// Every wait on the server ends after this long, so a hung server cannot hang the caller.
constexpr int kWaitMs = 5000;
// Starting and stopping a stream come from the window's thread: a server that takes longer
// than this to answer would freeze the window, and counts as gone.
constexpr int kCorkWaitMs = 250;

struct MainloopDeleter {
    void operator()(pa_threaded_mainloop *m) const { pa_threaded_mainloop_free(m); }
};
struct ContextUnref {
    void operator()(pa_context *c) const { pa_context_unref(c); }
};
struct StreamUnref {
    void operator()(pa_stream *s) const { pa_stream_unref(s); }
};
struct OperationUnref {
    void operator()(pa_operation *o) const { pa_operation_unref(o); }
};
using ContextPtr = std::unique_ptr<pa_context, ContextUnref>;
using StreamPtr = std::unique_ptr<pa_stream, StreamUnref>;
using OperationPtr = std::unique_ptr<pa_operation, OperationUnref>;

class PulseService;
class PulseSource;

void onContextState(pa_context *, void *service);
void onOperationState(pa_operation *, void *service);
void onStreamState(pa_stream *, void *source);
void onStreamRead(pa_stream *, std::size_t, void *source);
void onStreamMoved(pa_stream *, void *source);
void onStreamSuccess(pa_stream *, int success, void *ack);
void onServerInfo(pa_context *, const pa_server_info *info, void *listing);
void onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *listing);
void onSubscription(pa_context *, pa_subscription_event_type_t event, std::uint32_t index, void *service);
void onSourceSpec(pa_context *, const pa_source_info *info, int eol, void *spec);
void onWaitExpired(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *flag);

struct Listing {
    PulseService *service = nullptr;
    std::vector<PulseSourceEntry> sources;
    std::string defaultSource;
    bool serverDone = false;
    bool sourcesDone = false;
    bool failed = false;
};

struct Ack {
    PulseService *service = nullptr;
    int success = -1;
};

struct SourceSpec {
    PulseService *service = nullptr;
    pa_sample_spec spec{};
    bool found = false;
};

struct WaitTimer {
    PulseService *service = nullptr;
    bool expired = false;
};

class PulseService final : public WaveInBackend {
public:
    class Lock {
    public:
        explicit Lock(PulseService &service) : mainloop_(service.mainloop_.get())
        {
            pa_threaded_mainloop_lock(mainloop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(mainloop_); }
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *mainloop_;
    };

    UINT snapshotDevices() override
    {
        if (!ensureMainloop())
            return 0;
        Lock lock(*this);
        if (!connectLocked() || !refreshLocked()) {
            sources_.clear();
            haveSnapshot_ = true;
            return 0;
        }
        reason_ = sources_.empty() ? "The sound server offers no input sources" : "";
        return UINT(sources_.size());
    }

    UINT refreshDevices(bool keepIds, UINT keep) override
    {
        if (!ensureMainloop())
            return 0;
        Lock lock(*this);
        std::vector<PulseSourceEntry> current;
        if (!connectLocked() || !listLocked(current))
            return 0;
        relistDevices(sources_, std::move(current), keepIds, keep);
        haveSnapshot_ = true;
        qCInfo(lcAudio) << "device list refreshed:" << sources_.size() << "devices";
        return UINT(sources_.size());
    }

    bool deviceInfo(UINT id, WaveInDeviceInfo &info) override
    {
        if (!ensureMainloop())
            return false;
        Lock lock(*this);
        if (!haveSnapshot_ && !(connectLocked() && refreshLocked()))
            return false;
        const int index = id == WAVE_MAPPER ? defaultIndexLocked() : int(id);
        if (index < 0 || std::size_t(index) >= sources_.size())
            return false;
        const PulseSourceEntry &source = sources_[std::size_t(index)];
        info.name = source.name;
        info.description = source.description;
        info.present = source.present;
        return true;
    }

    void watchDevices(const QPointer<QObject> &target) override
    {
        if (!ensureMainloop())
            return;
        Lock lock(*this);
        watcher_ = target;
        // Connected now, so that sources coming and going are heard before the next call.
        if (target)
            connectLocked();
    }

    // In the main loop's thread.
    void sourcesChanged()
    {
        if (watcher_)
            postWaveInNotice(watcher_, MM_WIM_DEVICESCHANGED, nullptr, nullptr);
    }

    MMRESULT defaultDevice(UINT &id) override
    {
        if (!ensureMainloop())
            return MMSYSERR_NODRIVER;
        Lock lock(*this);
        if (!haveSnapshot_ && !(connectLocked() && refreshLocked()))
            return MMSYSERR_NODRIVER;
        const int index = defaultIndexLocked();
        if (index < 0)
            return MMSYSERR_BADDEVICEID;
        id = UINT(index);
        return MMSYSERR_NOERROR;
    }

    MMRESULT open(UINT id, const WAVEFORMATEX &wanted, DWORD rate, WaveInSink &sink,
                  std::unique_ptr<WaveInSource> &source) override;

    std::string unavailableReason() override
    {
        std::lock_guard setup(setupMutex_);
        if (!mainloop_)
            return reason_;
        Lock lock(*this);
        return reason_;
    }

    void setServer(const std::string &server)
    {
        if (!ensureMainloop()) {
            std::lock_guard setup(setupMutex_);
            server_ = server;
            return;
        }
        Lock lock(*this);
        server_ = server;
        context_.reset();
        sources_.clear();
        defaultSource_.clear();
        haveSnapshot_ = false;
    }

    void shutdown()
    {
        std::lock_guard setup(setupMutex_);
        if (shutDown_)
            return;
        shutDown_ = true;
        if (mainloop_)
            pa_threaded_mainloop_stop(mainloop_.get());
        // The loop object stays: open sources still lock it when they are closed.
    }

    bool isShutDown() const { return shutDown_; }
    // With the lock held.
    pa_context *context() const { return context_.get(); }
    pa_threaded_mainloop *mainloop() const { return mainloop_.get(); }

    void signal() { pa_threaded_mainloop_signal(mainloop_.get(), 0); }

    // Waits, with the lock held, until done() holds or the time is up.
    template <class Done> bool waitUntil(Done done, int ms = kWaitMs)
    {
        if (done())
            return true;
        if (shutDown_)
            return false;
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(mainloop_.get());
        struct timeval when;
        pa_gettimeofday(&when);
        pa_timeval_add(&when, pa_usec_t(ms) * PA_USEC_PER_MSEC);
        WaitTimer expiry;
        expiry.service = this;
        pa_time_event *timer = api->time_new(api, &when, onWaitExpired, &expiry);
        while (!done() && !expiry.expired && timer)
            pa_threaded_mainloop_wait(mainloop_.get());
        if (timer)
            api->time_free(timer);
        return done();
    }

    // Waits for an operation; one still running at the deadline is cancelled so that its
    // callback never sees the caller's stack again.
    bool finish(OperationPtr &op, int ms = kWaitMs)
    {
        if (!op)
            return false;
        pa_operation_set_state_callback(op.get(), onOperationState, this);
        waitUntil([&] { return pa_operation_get_state(op.get()) != PA_OPERATION_RUNNING; }, ms);
        const bool done = pa_operation_get_state(op.get()) == PA_OPERATION_DONE;
        if (pa_operation_get_state(op.get()) == PA_OPERATION_RUNNING)
            pa_operation_cancel(op.get());
        op.reset();
        return done;
    }

private:
    bool ensureMainloop()
    {
        std::lock_guard setup(setupMutex_);
        if (shutDown_) {
            reason_ = "The sound service has been shut down";
            return false;
        }
        if (mainloop_)
            return true;
        mainloop_.reset(pa_threaded_mainloop_new());
        if (!mainloop_) {
            reason_ = "Could not create the sound service thread";
            return false;
        }
        if (pa_threaded_mainloop_start(mainloop_.get()) < 0) {
            mainloop_.reset();
            reason_ = "Could not start the sound service thread";
            return false;
        }
        return true;
    }

    bool connectLocked()
    {
        if (shutDown_)
            return false;
        if (context_) {
            waitUntil([&] { return !connecting(pa_context_get_state(context_.get())); });
            if (pa_context_get_state(context_.get()) == PA_CONTEXT_READY)
                return true;
            // The connection died (server gone or restarted): make a new one.
            context_.reset();
        }
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(mainloop_.get());
        context_.reset(pa_context_new(api, "Quavrel"));
        if (!context_) {
            reason_ = "Could not create a sound server connection";
            return false;
        }
        pa_context_set_state_callback(context_.get(), onContextState, this);
        // Autospawn stays allowed, as for other PulseAudio clients: an ordinary user without a
        // running server then gets one (libpulse never spawns for root, and client.conf can
        // turn it off, as the tests' does).
        if (pa_context_connect(context_.get(), server_.empty() ? nullptr : server_.c_str(),
                               PA_CONTEXT_NOFLAGS, nullptr) < 0) {
            reason_ = pa_strerror(pa_context_errno(context_.get()));
            qCWarning(lcAudio) << "no connection to the sound server:" << reason_.c_str();
            context_.reset();
            return false;
        }
        waitUntil([&] { return !connecting(pa_context_get_state(context_.get())); });
        const pa_context_state_t state = pa_context_get_state(context_.get());
        if (state != PA_CONTEXT_READY) {
            reason_ = connecting(state) ? "Timed out connecting to the sound server"
                                        : pa_strerror(pa_context_errno(context_.get()));
            qCWarning(lcAudio) << "no connection to the sound server:" << reason_.c_str();
            context_.reset();
            return false;
        }
        reason_.clear();
        qCInfo(lcAudio) << "connected to the sound server" << pa_context_get_server(context_.get());
        subscribeLocked();
        return true;
    }

    // Every new connection asks for the sources' comings and goings. The answer is not
    // waited for: the events simply start to come.
    void subscribeLocked()
    {
        pa_context_set_subscribe_callback(context_.get(), onSubscription, this);
        const OperationPtr op(pa_context_subscribe(context_.get(), PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
        if (!op)
            return; // refused: the list merely stays as it is until the next start
    }

    static bool connecting(pa_context_state_t state)
    {
        return state == PA_CONTEXT_UNCONNECTED || state == PA_CONTEXT_CONNECTING ||
               state == PA_CONTEXT_AUTHORIZING || state == PA_CONTEXT_SETTING_NAME;
    }

    bool refreshLocked()
    {
        std::vector<PulseSourceEntry> sources;
        if (!listLocked(sources))
            return false;
        sources_ = std::move(sources);
        haveSnapshot_ = true;
        return true;
    }

    // The server's sources in device order, and its default source.
    bool listLocked(std::vector<PulseSourceEntry> &out)
    {
        Listing listing;
        listing.service = this;
        OperationPtr server(pa_context_get_server_info(context_.get(), onServerInfo, &listing));
        OperationPtr sources(pa_context_get_source_info_list(context_.get(), onSourceInfo, &listing));
        const bool serverOk = finish(server);
        const bool sourcesOk = finish(sources);
        if (!serverOk || !sourcesOk || !listing.serverDone || !listing.sourcesDone || listing.failed) {
            reason_ = "The sound server did not list its sources";
            return false;
        }
        sortPulseSources(listing.sources);
        out = std::move(listing.sources);
        defaultSource_ = std::move(listing.defaultSource);
        return true;
    }

    int defaultIndexLocked() const
    {
        for (std::size_t i = 0; i < sources_.size(); ++i)
            if (sources_[i].name == defaultSource_)
                return int(i);
        return -1;
    }

    std::mutex setupMutex_;
    std::unique_ptr<pa_threaded_mainloop, MainloopDeleter> mainloop_;
    std::atomic<bool> shutDown_{false};
    // The rest is guarded by the main loop's lock.
    ContextPtr context_;
    std::string server_;
    std::string reason_;
    std::vector<PulseSourceEntry> sources_;
    std::string defaultSource_;
    bool haveSnapshot_ = false;
    QPointer<QObject> watcher_;
};

PulseService &service()
{
    // Never destroyed: handles may still be closed while the process winds down.
    static PulseService *instance = new PulseService;
    return *instance;
}

class PulseSource final : public WaveInSource {
public:
    PulseSource(PulseService &service, WaveInSink &sink, pa_context *context)
        : service_(service), sink_(sink), context_(pa_context_ref(context))
    {
    }
    ~PulseSource() override { close(); }

    // With the lock held. device null: the server's default source.
    MMRESULT connectLocked(const char *device, bool pinned, DWORD rate)
    {
        // The stream takes the source's channels (at most two) and its rate, or the lower
        // rate the recording asked for; every handle on it gets its own format from us.
        SourceSpec wanted;
        wanted.service = &service_;
        OperationPtr op(pa_context_get_source_info_by_name(context_.get(), device ? device : "@DEFAULT_SOURCE@",
                                                           onSourceSpec, &wanted));
        if (!service_.finish(op) || !wanted.found)
            return failedOpen();
        pa_sample_spec sampleSpec;
        sampleSpec.format = PA_SAMPLE_S16LE;
        sampleSpec.rate = streamRate(wanted.spec.rate, rate);
        sampleSpec.channels = std::uint8_t(std::clamp<unsigned>(wanted.spec.channels, 1, 2));
        if (!pa_sample_spec_valid(&sampleSpec))
            return WAVERR_BADFORMAT;
        format_ = {};
        format_.wFormatTag = WAVE_FORMAT_PCM;
        format_.nChannels = sampleSpec.channels;
        format_.nSamplesPerSec = sampleSpec.rate;
        format_.wBitsPerSample = 16;
        format_.nBlockAlign = WORD(2 * sampleSpec.channels);
        format_.nAvgBytesPerSec = format_.nBlockAlign * sampleSpec.rate;
        stream_.reset(pa_stream_new(context_.get(), "Quavrel capture", &sampleSpec, nullptr));
        if (!stream_)
            return MMSYSERR_NOMEM;
        pa_stream_set_state_callback(stream_.get(), onStreamState, this);
        pa_stream_set_read_callback(stream_.get(), onStreamRead, this);
        pa_stream_set_moved_callback(stream_.get(), onStreamMoved, this);
        // The fragment is asked for once, here, and never changed: pipewire-pulse makes it the
        // node's latency at every uncork and every pa_stream_set_buffer_attr, and each change
        // of the graph's quantum can freeze a native PipeWire player (0.3.65).
        pa_buffer_attr attr;
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = std::uint32_t(-1);
        attr.prebuf = std::uint32_t(-1);
        attr.minreq = std::uint32_t(-1);
        attr.fragsize = std::uint32_t(pulseFragmentBytes(sampleSpec.rate, format_.nBlockAlign));
        // Without ADJUST_LATENCY the server hands over a second of sound at a time.
        // A device chosen by id must not follow the stream elsewhere when it goes away.
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED |
                                             (pinned ? PA_STREAM_DONT_MOVE : 0));
        if (pa_stream_connect_record(stream_.get(), device, &attr, flags) < 0)
            return failedOpen();
        service_.waitUntil([&] {
            const pa_stream_state_t s = pa_stream_get_state(stream_.get());
            return s != PA_STREAM_UNCONNECTED && s != PA_STREAM_CREATING;
        });
        if (pa_stream_get_state(stream_.get()) != PA_STREAM_READY)
            return failedOpen();
        connected_ = true;
        return MMSYSERR_NOERROR;
    }

    WAVEFORMATEX format() const override { return format_; }

    bool current() const override
    {
        PulseService::Lock lock(service_);
        return !closed_ && service_.context() == context_.get();
    }

    // In the main loop's thread: the source went and the server moved the stream elsewhere.
    void moved()
    {
        qCInfo(lcAudio) << "capture stream moved to" << pa_stream_get_device_name(stream_.get());
        sink_.moved();
    }
    MMRESULT start() override { return cork(false); }
    MMRESULT stop() override { return cork(true); }

    void close() override
    {
        if (closed_)
            return;
        PulseService::Lock lock(service_);
        closeLocked();
    }

    void closeLocked()
    {
        if (closed_)
            return;
        closed_ = true;
        if (stream_) {
            pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
            pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
            pa_stream_set_moved_callback(stream_.get(), nullptr, nullptr);
            const pa_stream_state_t s = pa_stream_get_state(stream_.get());
            if (s == PA_STREAM_READY || s == PA_STREAM_CREATING)
                pa_stream_disconnect(stream_.get()); // nothing to do about a failure here
            stream_.reset();
        }
        context_.reset();
    }

    void stateChanged()
    {
        const pa_stream_state_t s = pa_stream_get_state(stream_.get());
        if (connected_ && (s == PA_STREAM_FAILED || s == PA_STREAM_TERMINATED)) {
            qCWarning(lcAudio) << "capture stream lost:" << pa_strerror(pa_context_errno(context_.get()));
            sink_.deviceLost();
        }
        service_.signal();
    }

    // In the main loop's thread, or with the lock held.
    void readAvailable()
    {
        pa_stream *s = stream_.get();
        for (;;) {
            const void *data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0)
                return;
            if (bytes == 0)
                return; // nothing buffered
            if (data)
                sink_.write(data, bytes);
            else
                sink_.writeSilence(bytes); // a hole in the recording
            if (pa_stream_drop(s) < 0)
                return;
        }
    }

private:
    MMRESULT failedOpen()
    {
        const int error = pa_context_errno(context_.get());
        closeLocked();
        if (error == PA_ERR_NOENTITY)
            return MMSYSERR_BADDEVICEID;
        if (error == PA_ERR_NOTSUPPORTED || error == PA_ERR_INVALID)
            return WAVERR_BADFORMAT;
        return MMSYSERR_ERROR;
    }

    MMRESULT cork(bool halt)
    {
        if (closed_)
            return MMSYSERR_INVALHANDLE;
        PulseService::Lock lock(service_);
        if (!stream_ || pa_stream_get_state(stream_.get()) != PA_STREAM_READY)
            return MMSYSERR_NODRIVER;
        Ack ack;
        ack.service = &service_;
        OperationPtr op(pa_stream_cork(stream_.get(), halt ? 1 : 0, onStreamSuccess, &ack));
        const bool done = service_.finish(op, kCorkWaitMs);
        // Sound that came in before the acknowledgement belongs to the recording.
        if (halt && pa_stream_get_state(stream_.get()) == PA_STREAM_READY)
            readAvailable();
        // No answer in time (a stopped or hung server): the caller treats the device as lost.
        if (!done) {
            qCWarning(lcAudio) << (halt ? "stop" : "start") << "not answered within" << kCorkWaitMs
                               << "ms: the device counts as lost";
            return MMSYSERR_NODRIVER;
        }
        if (ack.success != 1)
            return pa_stream_get_state(stream_.get()) == PA_STREAM_READY ? MMSYSERR_ERROR : MMSYSERR_NODRIVER;
        return MMSYSERR_NOERROR;
    }

    PulseService &service_;
    WaveInSink &sink_;
    ContextPtr context_;
    StreamPtr stream_;
    WAVEFORMATEX format_{};
    bool connected_ = false;
    bool closed_ = false;
};

MMRESULT PulseService::open(UINT id, const WAVEFORMATEX &, DWORD rate, WaveInSink &sink,
                           std::unique_ptr<WaveInSource> &source)
{
    if (!ensureMainloop())
        return MMSYSERR_NODRIVER;
    Lock lock(*this);
    if (!connectLocked())
        return MMSYSERR_NODRIVER;
    const bool mapper = id == WAVE_MAPPER;
    std::string device;
    if (!mapper) {
        if (!haveSnapshot_ && !refreshLocked())
            return MMSYSERR_NODRIVER;
        if (id >= sources_.size())
            return MMSYSERR_BADDEVICEID;
        device = sources_[id].name;
    }
    auto pulse = std::make_unique<PulseSource>(*this, sink, context_.get());
    const MMRESULT result = pulse->connectLocked(mapper ? nullptr : device.c_str(), !mapper, rate);
    if (result != MMSYSERR_NOERROR) {
        pulse->closeLocked();
        return result;
    }
    source = std::move(pulse);
    return MMSYSERR_NOERROR;
}

void onContextState(pa_context *context, void *s)
{
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        qCWarning(lcAudio) << "connection to the sound server ended:" << pa_strerror(pa_context_errno(context));
    static_cast<PulseService *>(s)->signal();
}

void onOperationState(pa_operation *, void *s)
{
    static_cast<PulseService *>(s)->signal();
}

void onStreamState(pa_stream *, void *source)
{
    static_cast<PulseSource *>(source)->stateChanged();
}

void onStreamRead(pa_stream *, std::size_t, void *source)
{
    static_cast<PulseSource *>(source)->readAvailable();
}

void onStreamMoved(pa_stream *, void *source)
{
    static_cast<PulseSource *>(source)->moved();
}

void onStreamSuccess(pa_stream *, int success, void *a)
{
    auto *ack = static_cast<Ack *>(a);
    ack->success = success;
    ack->service->signal();
}

void onServerInfo(pa_context *, const pa_server_info *info, void *l)
{
    auto *listing = static_cast<Listing *>(l);
    if (info && info->default_source_name)
        listing->defaultSource = info->default_source_name;
    listing->serverDone = true;
    listing->service->signal();
}

void onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *l)
{
    auto *listing = static_cast<Listing *>(l);
    if (eol < 0)
        listing->failed = true;
    if (eol != 0) {
        listing->sourcesDone = true;
        listing->service->signal();
        return;
    }
    if (!info)
        return;
    PulseSourceEntry entry;
    entry.name = info->name ? info->name : "";
    entry.description = info->description ? info->description : entry.name;
    entry.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    entry.index = info->index;
    listing->sources.push_back(std::move(entry));
}

void onSourceSpec(pa_context *, const pa_source_info *info, int eol, void *s)
{
    auto *spec = static_cast<SourceSpec *>(s);
    if (eol == 0 && info) {
        spec->spec = info->sample_spec;
        spec->found = true;
    }
    spec->service->signal();
}

void onSubscription(pa_context *, pa_subscription_event_type_t event, std::uint32_t index, void *s)
{
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // A source changes whenever a stream starts or stops on it; only its coming and going
    // alter the list.
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE
        && (type == PA_SUBSCRIPTION_EVENT_NEW || type == PA_SUBSCRIPTION_EVENT_REMOVE)) {
        qCInfo(lcAudio) << "source" << index << (type == PA_SUBSCRIPTION_EVENT_NEW ? "appeared" : "went away");
        static_cast<PulseService *>(s)->sourcesChanged();
    }
}

void onWaitExpired(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *t)
{
    auto *timer = static_cast<WaitTimer *>(t);
    timer->expired = true;
    timer->service->signal();
}

} // namespace

WaveInBackend &pulseWaveInBackend()
{
    return service();
}

void pulseWaveInSetServer(const std::string &server)
{
    service().setServer(server);
}

void pulseWaveInShutdown()
{
    service().shutdown();
}

void sortPulseSources(std::vector<PulseSourceEntry> &sources)
{
    std::stable_sort(sources.begin(), sources.end(), [](const PulseSourceEntry &a, const PulseSourceEntry &b) {
        if (a.monitor != b.monitor)
            return !a.monitor;
        return a.index < b.index;
    });
}

std::size_t pulseFragmentBytes(DWORD rate, std::size_t frameBytes)
{
    // PipeWire's largest default quantum, 2048 frames at 48 kHz, in the stream's own frames,
    // rounded up: pipewire-pulse rounds the graph's quantum down to a power of two, so a
    // fragment a frame short of it halves the quantum of the whole desktop.
    const std::size_t frames = (std::size_t(rate) * 2048 + 47999) / 48000;
    return std::max<std::size_t>(frames, 1) * std::max<std::size_t>(frameBytes, 1);
}
