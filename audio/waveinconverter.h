#pragma once
#include "audio/wavein.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct SpeexResamplerState_;
class WaveInQueue;

// Turns a shared stream's sound (16-bit interleaved, in the device's rate and channel count)
// into one handle's format and writes it into the handle's queue: channels mixed or copied
// first, so the resampler runs on as few as the handle keeps, then libspeexdsp's resampler when
// the rates differ, then 8 bits when the handle asks for them. A handle in the stream's own
// format gets a plain copy. Every buffer it needs is taken at construction.
class WaveInConverter {
public:
    // Fails (ok() false) only when the resampler cannot be made.
    WaveInConverter(DWORD streamRate, WORD streamChannels, WaveInQueue &queue);
    ~WaveInConverter();
    WaveInConverter(const WaveInConverter &) = delete;
    WaveInConverter &operator=(const WaveInConverter &) = delete;

    bool ok() const { return ok_; }
    // Whole stream frames; returns the frames handed to the queue.
    std::size_t write(const std::int16_t *samples, std::size_t frames);
    std::size_t writeSilence(std::size_t frames);
    // Forgets the resampler's history: sound after a pause does not blend into the old.
    void restart();

private:
    struct ResamplerDestroy {
        void operator()(SpeexResamplerState_ *s) const;
    };

    std::size_t convertChunk(const std::int16_t *samples, std::size_t frames);

    WaveInQueue &queue_;
    const WORD inChannels_;
    const WORD outChannels_;
    const bool eightBit_;
    const bool plain_;
    std::unique_ptr<SpeexResamplerState_, ResamplerDestroy> resampler_;
    std::vector<std::int16_t> mixed_;
    std::vector<std::int16_t> resampled_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::int16_t> zeros_;
    bool ok_ = true;
};
