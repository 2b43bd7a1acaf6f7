#include "audio/waveinconverter.h"

#include "audio/waveinqueue.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <cstring>

namespace {

// Stream frames converted at a time; the scratch buffers are sized for this many.
constexpr std::size_t kChunkFrames = 1024;
// PulseAudio's own default (speex-float-1). The default quality 4 cost 0.28 s of CPU per
// minute for 48 -> 44.1 kHz stereo, a third of what LAME spends on the same minute; 1 costs
// 0.12. Its passband ends at 85 % of the output's Nyquist frequency (18.8 kHz at 44.1 kHz):
// LAME's own lowpass cuts below that at every bitrate up to 192 kbps, and above it few ears hear.
constexpr int kQuality = 1;

} // namespace

void WaveInConverter::ResamplerDestroy::operator()(SpeexResamplerState_ *s) const
{
    speex_resampler_destroy(s);
}

WaveInConverter::WaveInConverter(DWORD streamRate, WORD streamChannels, WaveInQueue &queue)
    : queue_(queue), inChannels_(std::max<WORD>(streamChannels, 1)), outChannels_(queue.format().nChannels),
      eightBit_(queue.format().wBitsPerSample == 8),
      plain_(streamRate == queue.format().nSamplesPerSec && streamChannels == queue.format().nChannels && !eightBit_)
{
    const DWORD outRate = queue.format().nSamplesPerSec;
    mixed_.resize(kChunkFrames * outChannels_);
    zeros_.resize(kChunkFrames * inChannels_);
    std::size_t outFrames = kChunkFrames;
    if (streamRate != outRate) {
        int error = RESAMPLER_ERR_SUCCESS;
        resampler_.reset(speex_resampler_init(outChannels_, streamRate, outRate, kQuality, &error));
        if (!resampler_ || error != RESAMPLER_ERR_SUCCESS) {
            ok_ = false;
            return;
        }
        // The resampler may hold back a little and hand it over with the next chunk.
        outFrames = (kChunkFrames * outRate + streamRate - 1) / streamRate + 64;
    }
    resampled_.resize(outFrames * outChannels_);
    if (eightBit_)
        bytes_.resize(outFrames * outChannels_);
}

WaveInConverter::~WaveInConverter() = default;

void WaveInConverter::restart()
{
    if (resampler_)
        speex_resampler_reset_mem(resampler_.get());
}

std::size_t WaveInConverter::write(const std::int16_t *samples, std::size_t frames)
{
    if (plain_) {
        queue_.write(samples, frames * inChannels_ * sizeof(std::int16_t));
        return frames;
    }
    std::size_t out = 0;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(frames - done, kChunkFrames);
        out += convertChunk(samples + done * inChannels_, n);
        done += n;
    }
    return out;
}

std::size_t WaveInConverter::writeSilence(std::size_t frames)
{
    std::size_t out = 0;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(frames - done, kChunkFrames);
        out += write(zeros_.data(), n);
        done += n;
    }
    return out;
}

std::size_t WaveInConverter::convertChunk(const std::int16_t *in, std::size_t frames)
{
    // Channels first. Mono from several: their mean; stereo from mono: the one channel twice;
    // stereo from more: the first two, which every channel map puts front left and right.
    const std::int16_t *mixed = in;
    if (inChannels_ != outChannels_) {
        std::int16_t *dst = mixed_.data();
        for (std::size_t f = 0; f < frames; ++f) {
            const std::int16_t *frame = in + f * inChannels_;
            if (outChannels_ == 1) {
                int sum = 0;
                for (WORD c = 0; c < inChannels_; ++c)
                    sum += frame[c];
                *dst++ = std::int16_t(sum / int(inChannels_));
            } else {
                *dst++ = frame[0];
                *dst++ = inChannels_ == 1 ? frame[0] : frame[1];
            }
        }
        mixed = mixed_.data();
    }
    const std::int16_t *result = mixed;
    std::size_t outFrames = frames;
    if (resampler_) {
        spx_uint32_t inLen = spx_uint32_t(frames);
        spx_uint32_t outLen = spx_uint32_t(resampled_.size() / outChannels_);
        // Errors here mean invalid arguments, which the sizes above rule out; sound the
        // resampler did not produce is not invented.
        if (speex_resampler_process_interleaved_int(resampler_.get(), mixed, &inLen, resampled_.data(), &outLen)
            != RESAMPLER_ERR_SUCCESS)
            return 0;
        result = resampled_.data();
        outFrames = outLen;
    }
    const std::size_t samples = outFrames * outChannels_;
    if (eightBit_) {
        for (std::size_t i = 0; i < samples; ++i)
            bytes_[i] = std::uint8_t((result[i] >> 8) + 128);
        queue_.write(bytes_.data(), samples);
    } else {
        queue_.write(result, samples * sizeof(std::int16_t));
    }
    return outFrames;
}
