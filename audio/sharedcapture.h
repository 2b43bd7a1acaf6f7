#pragma once
// One capture per device: every open handle on the same device is served by one stream of
// the backend, in the device's own format, and each gets its own copy converted to the format
// it asked for. Two streams on one source cost the server twice (PipeWire makes each a node of
// its graph, and resamples each), while converting in the process is cheap.
#include "audio/waveinbackend.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class WaveInQueue;
class SharedCapture;
struct CaptureSlot;

// A handle's place on its device's capture: what waveIn* calls on the handle reach. Every
// call comes from the handle's owner thread, under the handle's lock.
class CaptureMember {
public:
    CaptureMember(std::shared_ptr<SharedCapture> capture, CaptureSlot *slot);
    ~CaptureMember();
    CaptureMember(const CaptureMember &) = delete;
    CaptureMember &operator=(const CaptureMember &) = delete;

    MMRESULT admit(WaveInCall call);
    // As WaveInSource's start and stop, for this handle alone: the stream runs while any
    // handle on it is started. MMSYSERR_NODRIVER: the stream is gone, and every other handle
    // on it has been told so (this one is the caller's to tell).
    MMRESULT start();
    MMRESULT stop();
    // Leaves the capture; the last to leave ends the stream. The queue is never written again.
    void close();

private:
    std::shared_ptr<SharedCapture> capture_;
    CaptureSlot *slot_;
};

// Finds the capture already running on the device id names, or opens one, and joins it.
// WAVE_MAPPER shares with handles opened by the id of the default device.
MMRESULT joinCapture(WaveInBackend &backend, UINT id, WaveInQueue &queue, std::unique_ptr<CaptureMember> &member);
