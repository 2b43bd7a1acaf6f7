#pragma once
// PulseAudio behind the wave-input service: one threaded main loop for the process, created
// on first use, and one context that is made again on a later call when it has died.
#include "audio/wavein.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class WaveInBackend;

WaveInBackend &pulseWaveInBackend();

// Server for the next connection ("" = the usual lookup through the environment, e.g.
// XDG_RUNTIME_DIR or PULSE_SERVER). The current connection is dropped and the device list
// forgotten; devices still open on the old server go on until closed or lost with it.
void pulseWaveInSetServer(const std::string &server);
// Stops the PulseAudio thread for good (the application is ending). Later calls fail.
void pulseWaveInShutdown();

struct PulseSourceEntry {
    std::string name;
    std::string description;
    bool monitor = false;
    std::uint32_t index = 0;
    bool present = true; // false: gone from the server since the list was taken
};
// Device order: real inputs first, then monitors of outputs, each in the server's index
// order (the order they appeared in), so ids do not depend on the order of the reply.
void sortPulseSources(std::vector<PulseSourceEntry> &sources);

// Fragment size asked of the server for a stream of this rate and frame size: 2048 frames at
// 48 kHz (42.7 ms), PipeWire's largest default quantum, so that our stream never drags the
// graph below it; well within the 100 ms at which the meter refreshes. Whole frames.
std::size_t pulseFragmentBytes(DWORD rate, std::size_t frameBytes);
