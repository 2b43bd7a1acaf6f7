// Asks whether a PulseAudio sound server answers (PipeWire's pipewire-pulse counts), as
// the program will connect to it. Prints the server's name and version and exits 0, or
// prints why there is none and exits 1. Usage: quavrel_soundcheck

#include <pulse/pulseaudio.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr pa_usec_t kTimeout = 5 * PA_USEC_PER_SEC;

struct MainloopFree {
    void operator()(pa_mainloop *m) const { pa_mainloop_free(m); }
};
struct ContextUnref {
    void operator()(pa_context *c) const
    {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
struct OperationUnref {
    void operator()(pa_operation *o) const { pa_operation_unref(o); }
};

struct Check {
    std::string server;
    bool timedOut = false;
    bool infoDone = false;
};

bool settled(pa_context *c)
{
    const pa_context_state_t state = pa_context_get_state(c);
    return state == PA_CONTEXT_READY || state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

void onServerInfo(pa_context *, const pa_server_info *info, void *data)
{
    auto *check = static_cast<Check *>(data);
    if (info)
        check->server = std::string(info->server_name ? info->server_name : "?") + " " +
                        (info->server_version ? info->server_version : "?");
    check->infoDone = true;
}

void onTimeout(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *data)
{
    static_cast<Check *>(data)->timedOut = true;
}

// Runs the loop until done() holds, the time is up or the loop fails.
template <class Done> bool runUntil(pa_mainloop *loop, const Check &check, Done done)
{
    while (!done() && !check.timedOut)
        if (pa_mainloop_iterate(loop, 1, nullptr) < 0)
            return false;
    return done();
}

} // namespace

int main()
{
    std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
    if (!loop) {
        std::puts("could not create a PulseAudio main loop");
        return 1;
    }
    Check check;
    pa_mainloop_api *api = pa_mainloop_get_api(loop.get());
    std::unique_ptr<pa_context, ContextUnref> context(pa_context_new(api, "Quavrel sound check"));
    if (!context) {
        std::puts("could not create a PulseAudio connection");
        return 1;
    }
    // Without PA_CONTEXT_NOAUTOSPAWN, like the program: libpulse may start a server for an
    // ordinary user, and then there is one.
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        std::puts(pa_strerror(pa_context_errno(context.get())));
        return 1;
    }
    struct timeval when;
    pa_timeval_add(pa_gettimeofday(&when), kTimeout);
    pa_time_event *timer = api->time_new(api, &when, onTimeout, &check);
    if (!timer) {
        std::puts("could not set a time limit");
        return 1;
    }
    if (!runUntil(loop.get(), check, [&] { return settled(context.get()); })) {
        std::puts("the sound server did not answer in time");
        return 1;
    }
    if (pa_context_get_state(context.get()) != PA_CONTEXT_READY) {
        std::puts(pa_strerror(pa_context_errno(context.get())));
        return 1;
    }
    std::unique_ptr<pa_operation, OperationUnref> info(
        pa_context_get_server_info(context.get(), onServerInfo, &check));
    if (!info || !runUntil(loop.get(), check, [&] { return check.infoDone; })) {
        std::puts("the sound server did not describe itself");
        return 1;
    }
    api->time_free(timer);
    std::printf("%s\n", check.server.c_str());
    return 0;
}
