#include "engine/bladeenc.h"

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct LameCloser {
    void operator()(lame_global_flags *gfp) const { lame_close(gfp); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

// LAME prints its notes and warnings to stderr by default; a GUI program has no use for them.
void quietReport(const char *, va_list) {}

constexpr std::array<int, 9> kMp3Rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kLowestMpeg1Rate = 32000;
constexpr std::size_t kMaxStreams = 64;
// LAME's own worst case for one encode call: 1.25 * samples + 7200 bytes.
constexpr DWORD kFlushReserve = 7200;

bool isMp3Rate(DWORD rate)
{
    return std::find(kMp3Rates.begin(), kMp3Rates.end(), static_cast<int>(rate)) != kMp3Rates.end();
}

// What the record asks of LAME, checked for consistency before LAME sees any of it.
struct EncoderPlan {
    int inRate = 0;
    int outRate = 0;
    bool mpeg1 = false;
    int channels = 0;
    MPEG_mode mode = STEREO;
    vbr_mode vbr = vbr_off;
    bool r3mix = false;
    int bitrate = 0;      // CBR
    int meanBitrate = 0;  // ABR
    int minBitrate = 0;   // VBR/ABR lower bound, 0 = LAME's choice
    int maxBitrate = 0;   // VBR/ABR upper bound, 0 = LAME's choice
    int vbrQuality = 0;
    int quality = -1;     // -1 = LAME's default
    int emphasis = 0;
    bool privateBit = false;
    bool crc = false;
    bool copyright = false;
    bool original = false;
    bool vbrTag = false;
    bool noReservoir = false;
    bool strictIso = false;
};

BE_ERR planFromConfig(const BE_CONFIG &config, EncoderPlan &plan)
{
    if (config.dwConfig != BE_CONFIG_LAME)
        return BE_ERR_INVALID_FORMAT;
    const auto &c = config.format.LHV1;
    if (c.dwStructVersion != BE_CONFIG_LHV1_VERSION || c.dwStructSize != BE_CONFIG_LHV1_SIZE)
        return BE_ERR_INVALID_FORMAT;

    const DWORD outRate = c.dwReSampleRate != 0 ? c.dwReSampleRate : c.dwSampleRate;
    if (!isMp3Rate(c.dwSampleRate) || !isMp3Rate(outRate))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    plan.inRate = static_cast<int>(c.dwSampleRate);
    plan.outRate = static_cast<int>(outRate);
    plan.mpeg1 = plan.outRate >= kLowestMpeg1Rate;
    if (c.dwMpegVersion != (plan.mpeg1 ? MPEG1 : MPEG2))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    switch (c.nMode) {
    case BE_MP3_MODE_STEREO: plan.mode = STEREO; break;
    case BE_MP3_MODE_JSTEREO: plan.mode = JOINT_STEREO; break;
    case BE_MP3_MODE_DUALCHANNEL: plan.mode = DUAL_CHANNEL; break;
    case BE_MP3_MODE_MONO: plan.mode = MONO; break;
    default: return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    plan.channels = plan.mode == MONO ? 1 : 2;

    if (c.nPreset != LQP_NOPRESET && c.nPreset != LQP_R3MIX)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    plan.r3mix = c.nPreset == LQP_R3MIX;

    if (c.bEnableVBR == 0) {
        // r3mix is a VBR preset: with VBR off LAME would quietly switch to VBR anyway.
        if (plan.r3mix || c.dwBitrate == 0)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        plan.vbr = vbr_off;
        plan.bitrate = static_cast<int>(c.dwBitrate);
    } else {
        switch (c.nVbrMethod) {
        case VBR_METHOD_DEFAULT: plan.vbr = vbr_default; break;
        case VBR_METHOD_OLD: plan.vbr = vbr_rh; break;
        case VBR_METHOD_NEW:
        case VBR_METHOD_MTRH: plan.vbr = vbr_mtrh; break;
        case VBR_METHOD_ABR: plan.vbr = vbr_abr; break;
        default: return BE_ERR_INVALID_FORMAT_PARAMETERS;
        }
        if (plan.r3mix && plan.vbr != vbr_mtrh)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        plan.minBitrate = static_cast<int>(c.dwBitrate);
        plan.maxBitrate = static_cast<int>(c.dwMaxBitrate);
        if (plan.maxBitrate != 0 && plan.minBitrate > plan.maxBitrate)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        if (plan.vbr == vbr_abr) {
            plan.meanBitrate = static_cast<int>((c.dwVbrAbr_bps + 500) / 1000);
            if (plan.meanBitrate == 0)
                return BE_ERR_INVALID_FORMAT_PARAMETERS;
        } else if (!plan.r3mix) {
            if (c.nVBRQuality < 0 || c.nVBRQuality > 9)
                return BE_ERR_INVALID_FORMAT_PARAMETERS;
            plan.vbrQuality = c.nVBRQuality;
        }
    }

    // The quality word carries the encoder quality in its low byte and the low byte's
    // complement in its high byte; 0 leaves the choice to LAME.
    if (c.nQuality != 0) {
        const int low = c.nQuality & 0xFF;
        const int high = c.nQuality >> 8;
        if (high != (~low & 0xFF) || low > 9)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        plan.quality = low;
    }

    // LAME has a single psychoacoustic model; another one cannot be honoured.
    if (c.dwPsyModel != 0 || c.dwEmphasis > 3)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    plan.emphasis = static_cast<int>(c.dwEmphasis);
    plan.privateBit = c.bPrivate != 0;
    plan.crc = c.bCRC != 0;
    plan.copyright = c.bCopyright != 0;
    plan.original = c.bOriginal != 0;
    plan.vbrTag = c.bWriteVBRHeader != 0;
    plan.noReservoir = c.bNoRes != 0;
    plan.strictIso = c.bStrictIso != 0;
    return BE_ERR_SUCCESS;
}

bool applyPlan(lame_global_flags *gfp, const EncoderPlan &p)
{
    bool ok = lame_set_errorf(gfp, quietReport) == 0 && lame_set_debugf(gfp, quietReport) == 0
        && lame_set_msgf(gfp, quietReport) == 0;
    // Setting the output rate explicitly keeps LAME from resampling on its own.
    ok = ok && lame_set_in_samplerate(gfp, p.inRate) == 0 && lame_set_out_samplerate(gfp, p.outRate) == 0
        && lame_set_num_channels(gfp, p.channels) == 0 && lame_set_mode(gfp, p.mode) == 0;
    if (p.quality >= 0)
        ok = ok && lame_set_quality(gfp, p.quality) == 0;
    ok = ok && lame_set_emphasis(gfp, p.emphasis) == 0 && lame_set_extension(gfp, p.privateBit) == 0
        && lame_set_error_protection(gfp, p.crc) == 0 && lame_set_copyright(gfp, p.copyright) == 0
        && lame_set_original(gfp, p.original) == 0 && lame_set_bWriteVbrTag(gfp, p.vbrTag) == 0
        && lame_set_disable_reservoir(gfp, p.noReservoir) == 0 && lame_set_strict_ISO(gfp, p.strictIso) == 0
        && lame_set_VBR(gfp, p.vbr) == 0;
    if (!ok)
        return false;

    if (p.vbr == vbr_off)
        return lame_set_brate(gfp, p.bitrate) == 0;

    if (p.minBitrate != 0)
        ok = ok && lame_set_VBR_min_bitrate_kbps(gfp, p.minBitrate) == 0;
    if (p.maxBitrate != 0)
        ok = ok && lame_set_VBR_max_bitrate_kbps(gfp, p.maxBitrate) == 0;
    if (p.vbr == vbr_abr)
        ok = ok && lame_set_VBR_mean_bitrate_kbps(gfp, p.meanBitrate) == 0;
    else if (!p.r3mix)
        ok = ok && lame_set_VBR_q(gfp, p.vbrQuality) == 0;
    if (ok && p.r3mix) {
        // The preset goes last so that it decides the VBR quality. LAME answers with the
        // preset it applied (a V preset for r3mix), not with 0.
        const int applied = lame_set_preset(gfp, R3MIX);
        ok = applied == R3MIX || (applied >= V9 && applied <= V0);
    }
    return ok;
}

// LAME adapts settings it does not like without saying so; reading them back is the only
// way to know the file will carry what was asked for.
bool lameKeptPlan(const lame_global_flags *gfp, const EncoderPlan &p)
{
    const int version = lame_get_version(gfp); // 0 MPEG-2, 1 MPEG-1, 2 MPEG-2.5
    if (lame_get_in_samplerate(gfp) != p.inRate || lame_get_out_samplerate(gfp) != p.outRate
        || lame_get_num_channels(gfp) != p.channels || lame_get_mode(gfp) != p.mode
        || (p.mpeg1 ? version != 1 : version == 1) || lame_get_VBR(gfp) != p.vbr)
        return false;
    if (lame_get_emphasis(gfp) != p.emphasis || (lame_get_extension(gfp) != 0) != p.privateBit
        || (lame_get_error_protection(gfp) != 0) != p.crc || (lame_get_copyright(gfp) != 0) != p.copyright
        || (lame_get_original(gfp) != 0) != p.original || (lame_get_bWriteVbrTag(gfp) != 0) != p.vbrTag
        || (lame_get_disable_reservoir(gfp) != 0) != p.noReservoir
        || (lame_get_strict_ISO(gfp) != 0) != p.strictIso)
        return false;
    if (p.vbr == vbr_off)
        return lame_get_brate(gfp) == p.bitrate;
    // A lowered ceiling is the rate's own limit (MPEG-2.5 rates stop at 64 kbps) and changes
    // nothing the user chose; a moved floor or mean would.
    if (p.minBitrate != 0 && lame_get_VBR_min_bitrate_kbps(gfp) != p.minBitrate)
        return false;
    if (p.maxBitrate != 0 && lame_get_VBR_max_bitrate_kbps(gfp) > p.maxBitrate)
        return false;
    if (p.vbr == vbr_abr)
        return lame_get_VBR_mean_bitrate_kbps(gfp) == p.meanBitrate;
    if (!p.r3mix)
        return lame_get_VBR_q(gfp) == p.vbrQuality;
    return true;
}

struct EncoderStream {
    LamePtr lame;
    int channels = 0;
    DWORD chunkSamples = 0;
    DWORD bufferSize = 0;
    bool flushed = false;
};

// The calls come from the GUI thread only; the lock costs next to nothing and keeps the table
// sound should that ever change.
class StreamTable {
public:
    BE_ERR add(std::unique_ptr<EncoderStream> stream, HBE_STREAM &handle)
    {
        std::lock_guard lock(mutex_);
        if (streams_.size() >= kMaxStreams)
            return BE_ERR_NO_MORE_HANDLES;
        // Handles are not reused soon after a close, so a stale handle meets no new stream.
        while (next_ == 0 || streams_.count(next_) != 0)
            ++next_;
        handle = next_++;
        streams_.emplace(handle, std::move(stream));
        return BE_ERR_SUCCESS;
    }

    template<typename F>
    BE_ERR with(HBE_STREAM handle, F &&f)
    {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        if (it == streams_.end())
            return BE_ERR_INVALID_HANDLE;
        return f(*it->second);
    }

    BE_ERR remove(HBE_STREAM handle)
    {
        std::unique_ptr<EncoderStream> released;
        {
            std::lock_guard lock(mutex_);
            const auto it = streams_.find(handle);
            if (it == streams_.end())
                return BE_ERR_INVALID_HANDLE;
            released = std::move(it->second);
            streams_.erase(it);
        }
        return BE_ERR_SUCCESS;
    }

private:
    std::mutex mutex_;
    std::map<HBE_STREAM, std::unique_ptr<EncoderStream>> streams_;
    HBE_STREAM next_ = 1;
};

StreamTable &streamTable()
{
    static StreamTable table;
    return table;
}

BE_ERR lameEncodeError(int result)
{
    return result == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_ENCODER_FAILED;
}

} // namespace

BE_ERR beInitStream(PBE_CONFIG config, PDWORD samples, PDWORD bufferSize, PHBE_STREAM stream)
{
    if (config == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    EncoderPlan plan;
    if (const BE_ERR err = planFromConfig(*config, plan); err != BE_ERR_SUCCESS)
        return err;

    auto encoder = std::make_unique<EncoderStream>();
    encoder->lame.reset(lame_init());
    if (!encoder->lame)
        return BE_ERR_ENCODER_FAILED;
    lame_global_flags *gfp = encoder->lame.get();
    if (!applyPlan(gfp, plan) || lame_init_params(gfp) < 0 || !lameKeptPlan(gfp, plan))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int frameSize = lame_get_framesize(gfp);
    if (frameSize <= 0)
        return BE_ERR_ENCODER_FAILED;

    encoder->channels = plan.channels;
    encoder->chunkSamples = static_cast<DWORD>(frameSize * plan.channels);
    encoder->bufferSize = (encoder->chunkSamples * 5 + 3) / 4 + kFlushReserve;
    const DWORD chunk = encoder->chunkSamples;
    const DWORD size = encoder->bufferSize;
    HBE_STREAM handle = 0;
    if (const BE_ERR err = streamTable().add(std::move(encoder), handle); err != BE_ERR_SUCCESS)
        return err;
    *samples = chunk;
    *bufferSize = size;
    *stream = handle;
    return BE_ERR_SUCCESS;
}

BE_ERR beEncodeChunk(HBE_STREAM stream, DWORD nSamples, PSHORT samples, PBYTE output, PDWORD outputBytes)
{
    if (outputBytes != nullptr)
        *outputBytes = 0;
    return streamTable().with(stream, [&](EncoderStream &s) -> BE_ERR {
        if (s.flushed)
            return BE_ERR_INVALID_HANDLE;
        if (outputBytes == nullptr || output == nullptr || (nSamples > 0 && samples == nullptr)
            || nSamples % static_cast<DWORD>(s.channels) != 0)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        // The caller's buffer is sized for one chunk; more input could overrun it.
        if (nSamples > s.chunkSamples)
            return BE_ERR_BUFFER_TOO_SMALL;
        if (nSamples == 0)
            return BE_ERR_SUCCESS;
        const int frames = static_cast<int>(nSamples) / s.channels;
        const int size = static_cast<int>(s.bufferSize);
        // The interleaved entry point assumes two channels; mono goes in as both channels.
        const int result = s.channels == 1
            ? lame_encode_buffer(s.lame.get(), samples, samples, frames, output, size)
            : lame_encode_buffer_interleaved(s.lame.get(), samples, frames, output, size);
        if (result < 0)
            return lameEncodeError(result);
        *outputBytes = static_cast<DWORD>(result);
        return BE_ERR_SUCCESS;
    });
}

BE_ERR beDeinitStream(HBE_STREAM stream, PBYTE output, PDWORD outputBytes)
{
    if (outputBytes != nullptr)
        *outputBytes = 0;
    return streamTable().with(stream, [&](EncoderStream &s) -> BE_ERR {
        if (s.flushed)
            return BE_ERR_INVALID_HANDLE;
        if (output == nullptr || outputBytes == nullptr)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        s.flushed = true;
        const int result = lame_encode_flush(s.lame.get(), output, static_cast<int>(s.bufferSize));
        if (result < 0)
            return lameEncodeError(result);
        *outputBytes = static_cast<DWORD>(result);
        return BE_ERR_SUCCESS;
    });
}

BE_ERR beGetInfoTag(HBE_STREAM stream, PBYTE output, PDWORD outputBytes)
{
    if (outputBytes != nullptr)
        *outputBytes = 0;
    return streamTable().with(stream, [&](EncoderStream &s) -> BE_ERR {
        if (output == nullptr || outputBytes == nullptr)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        // The counts in the tag are final only once the last frames are out.
        if (!s.flushed)
            return BE_ERR_INVALID_HANDLE;
        if (lame_get_bWriteVbrTag(s.lame.get()) == 0)
            return BE_ERR_SUCCESS;
        // LAME answers with the size it needs, without writing, when the buffer is too small.
        const std::size_t size = lame_get_lametag_frame(s.lame.get(), output, s.bufferSize);
        if (size > s.bufferSize)
            return BE_ERR_BUFFER_TOO_SMALL;
        *outputBytes = static_cast<DWORD>(size);
        return BE_ERR_SUCCESS;
    });
}

BE_ERR beCloseStream(HBE_STREAM stream)
{
    return streamTable().remove(stream);
}
