#pragma once
// Virtual wave-input devices for tests. While installed they replace the PulseAudio devices
// for waveInGetNumDevs, waveInGetDevCapsA and waveInOpen (WAVE_MAPPER opens the chosen
// default). Nothing happens on its own: pump() delivers sound synchronously on the calling
// thread, and the notices are posted exactly as the real service posts them (deliver them
// with deliverNotices() or by running the event loop).
//
// A device is known to the tests by its number: 0..n-1 for those installed, then one more
// for each added. The service's ids index its list as the real service's do: installing
// lists the devices by number, and devices added or removed later reach the list through
// waveInGetNumDevs or waveInRefreshDevices, as sources of a real server do.
#include "audio/wavein.h"
#include "audio/waveinbackend.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class VirtualWaveIn {
public:
    // Sample value for a frame (counted from 0 per stream, at the stream's rate) and a
    // channel (0 or 1). The handles open on one device share one stream, as on a real server.
    using Signal = std::function<std::int16_t(std::uint64_t frame, unsigned channel, unsigned rate)>;

    // Installs devices with these descriptions as numbers (and ids) 0..n-1, named
    // "virtual-<number>" on the server; defaultDevice is what WAVE_MAPPER opens. Replaces any
    // virtual devices installed before (their open handles are lost).
    static void install(const std::vector<std::string> &descriptions, int defaultDevice = 0);
    // The same with the server's names given: pairs of description and name.
    static void installNamed(const std::vector<std::pair<std::string, std::string>> &devices,
                             int defaultDevice = 0);
    // A device appears on the server (an empty name gives "virtual-<number>"); returns its
    // number. The target of waveInWatchDevices hears of it.
    static int addDevice(const std::string &description, const std::string &name = {});
    // The device leaves the server: its open handles are lost as with loseDevice, and the
    // target of waveInWatchDevices hears of it. Its id stays in the list until a refresh.
    static void removeDevice(int device);
    // Back to PulseAudio. Virtual handles still open are lost (see MM_WIM_DEVICELOST).
    static void uninstall();
    static bool installed();
    static void setDefault(int device);

    // The device's own format, which its streams run in and every handle gets converted from.
    // Until set, a stream takes the rate and channel count of the handle that opens it.
    static void setFormat(int device, unsigned rate, unsigned channels);
    // Every device starts silent.
    static void setSignal(int device, Signal signal);
    // Interleaved samples with this many channels, played once at the capture rate, then silence.
    static void setSamples(int device, std::vector<std::int16_t> interleaved, unsigned channels = 1);
    static Signal sine(double hz, double amplitude, double phase = 0.0);
    static Signal constant(std::int16_t value);
    // The frame number itself (wrapping at 16 bits): shows order, gaps and repeats.
    static Signal counter();

    // Delivers this much sound now to every started handle of the device (in opening order),
    // or to the stream of one handle (which every handle sharing it hears too). Time is
    // counted exactly: 3 x 1 ms at 22050 Hz gives 66 frames. pumpFrames counts in the handle's
    // rate (rounded up to whole frames of the stream's).
    static void pump(int device, unsigned milliseconds);
    static void pump(HWAVEIN handle, unsigned milliseconds);
    static void pumpFrames(HWAVEIN handle, std::size_t frames);

    // The next `times` calls of that kind (on any virtual device) return result instead of
    // doing anything; times < 0 means until clearFailures(). Stop fails inside a started
    // handle's stop or reset, as a server that does not answer does.
    static void failNext(WaveInCall call, MMRESULT result, int times = 1);
    static void clearFailures();

    // The device vanishes from under its open handles: each gets its queued buffers back and
    // MM_WIM_DEVICELOST. The device stays listed and can be opened again.
    static void loseDevice(int device);

    // Open handles of one device (or of all with -1): by stream in the order the streams were
    // opened, and on each in the order the handles joined it.
    static std::vector<HWAVEIN> handles(int device = -1);
    static int deviceOf(HWAVEIN handle);
    static UINT queuedBuffers(HWAVEIN handle);
    static bool started(HWAVEIN handle);
    static WAVEFORMATEX format(HWAVEIN handle);
    // Frames the handle has received, in its own format.
    static std::uint64_t framesPumped(HWAVEIN handle);

    // Hands every posted notice to its target now (also runs pending deleteLater()).
    static void deliverNotices();

    // Installs in its constructor and uninstalls in its destructor.
    class Devices {
    public:
        explicit Devices(const std::vector<std::string> &names, int defaultDevice = 0)
        {
            install(names, defaultDevice);
        }
        ~Devices() { uninstall(); }
        Devices(const Devices &) = delete;
        Devices &operator=(const Devices &) = delete;
    };
};
