#include "common/mp3decode.h"

#include <mpg123.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

struct Mpg123Deleter {
    void operator()(mpg123_handle *mh) const { mpg123_delete(mh); }
};

bool setUpDecoder(mpg123_handle *mh, std::string &error)
{
    // Raw decode: no gapless trimming, native rate and channel count, 16-bit output.
    if (mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK
        || mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0) != MPG123_OK
        || mpg123_format_none(mh) != MPG123_OK) {
        error = mpg123_strerror(mh);
        return false;
    }
    const long *rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i) {
        if (mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
            error = mpg123_strerror(mh);
            return false;
        }
    }
    return true;
}

constexpr int kBitratesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
constexpr int kBitratesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
constexpr int kBitratesV1L1[16] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1};
constexpr int kBitratesV1L2[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1};
constexpr int kBitratesV2L1[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1};
constexpr int kRatesV1[3] = {44100, 48000, 32000};

} // namespace

DecodedMp3 decodeMp3(const std::vector<std::uint8_t> &bytes)
{
    DecodedMp3 out;
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, Mpg123Deleter> mh(mpg123_new(nullptr, &err));
    if (!mh) {
        out.error = mpg123_plain_strerror(err);
        return out;
    }
    if (!setUpDecoder(mh.get(), out.error))
        return out;
    if (mpg123_open_feed(mh.get()) != MPG123_OK
        || (!bytes.empty() && mpg123_feed(mh.get(), bytes.data(), bytes.size()) != MPG123_OK)) {
        out.error = mpg123_strerror(mh.get());
        return out;
    }
    for (;;) {
        off_t frameNumber = 0;
        unsigned char *audio = nullptr;
        std::size_t audioBytes = 0;
        const int rc = mpg123_decode_frame(mh.get(), &frameNumber, &audio, &audioBytes);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            if (mpg123_getformat(mh.get(), &rate, &channels, &encoding) != MPG123_OK) {
                out.error = mpg123_strerror(mh.get());
                return out;
            }
            if (out.channels != 0 && (rate != out.rate || channels != out.channels)) {
                out.error = "format changed within the stream";
                return out;
            }
            out.rate = rate;
            out.channels = channels;
            continue;
        }
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE)
            break;
        if (rc != MPG123_OK) {
            out.error = mpg123_strerror(mh.get());
            return out;
        }
        const auto *pcm = reinterpret_cast<const std::int16_t *>(audio);
        out.samples.insert(out.samples.end(), pcm, pcm + audioBytes / sizeof(std::int16_t));
        mpg123_frameinfo2 info{};
        if (mpg123_info2(mh.get(), &info) != MPG123_OK) {
            out.error = mpg123_strerror(mh.get());
            return out;
        }
        out.frameBitrates.push_back(info.bitrate);
    }
    out.ok = true;
    return out;
}

DecodedMp3 decodeMp3File(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        DecodedMp3 out;
        out.error = "cannot open " + path;
        return out;
    }
    return decodeMp3(readFileBytes(path));
}

Mp3Length measureMp3Length(const std::string &path)
{
    Mp3Length out;
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, Mpg123Deleter> mh(mpg123_new(nullptr, &err));
    if (!mh) {
        out.error = mpg123_plain_strerror(err);
        return out;
    }
    mpg123_handle *h = mh.get();
    if (!setUpDecoder(h, out.error))
        return out;
    if (mpg123_param(h, MPG123_ADD_FLAGS, MPG123_GAPLESS, 0) != MPG123_OK || mpg123_open(h, path.c_str()) != MPG123_OK) {
        out.error = mpg123_strerror(h);
        return out;
    }
    out.reported = mpg123_length(h);
    if (mpg123_getformat(h, &out.rate, &out.channels, nullptr) != MPG123_OK) {
        out.error = mpg123_strerror(h);
        return out;
    }
    mpg123_frameinfo2 info{};
    if (mpg123_info2(h, &info) == MPG123_OK)
        out.vbr = info.vbr;
    if (mpg123_scan(h) != MPG123_OK) {
        out.error = mpg123_strerror(h);
        return out;
    }
    out.scanned = mpg123_length(h);
    out.frames = mpg123_framelength(h);
    if (mpg123_seek(h, 0, SEEK_SET) < 0) {
        out.error = mpg123_strerror(h);
        return out;
    }
    std::vector<unsigned char> pcm(64 * 1024);
    for (;;) {
        std::size_t done = 0;
        const int rc = mpg123_read(h, pcm.data(), pcm.size(), &done);
        out.decoded += done / (2 * std::size_t(std::max(out.channels, 1)));
        if (rc == MPG123_DONE)
            break;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            out.error = mpg123_strerror(h);
            return out;
        }
    }
    mpg123_close(h);
    out.ok = true;
    return out;
}

bool parseMp3FrameHeader(const std::uint8_t *b, std::size_t size, std::size_t offset, Mp3FrameHeader &h)
{
    if (offset + 4 > size)
        return false;
    const std::uint8_t *p = b + offset;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    h = Mp3FrameHeader{};
    h.offset = offset;
    h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.layer = 4 - layerBits;
    h.crc = (p[1] & 1) == 0;
    h.padding = (p[2] >> 1) & 1;
    h.privateBit = p[2] & 1;
    h.channelMode = p[3] >> 6;
    h.copyright = (p[3] >> 3) & 1;
    h.original = (p[3] >> 2) & 1;
    h.emphasis = p[3] & 3;
    const int divisor = h.version == 10 ? 1 : h.version == 20 ? 2 : 4;
    h.sampleRate = kRatesV1[rateIndex] / divisor;
    const bool v1 = h.version == 10;
    if (h.layer == 1)
        h.bitrateKbps = (v1 ? kBitratesV1L1 : kBitratesV2L1)[bitrateIndex];
    else if (h.layer == 2)
        h.bitrateKbps = (v1 ? kBitratesV1L2 : kBitratesV2)[bitrateIndex];
    else
        h.bitrateKbps = (v1 ? kBitratesV1 : kBitratesV2)[bitrateIndex];
    const int pad = h.padding ? 1 : 0;
    if (h.layer == 1)
        h.length = static_cast<std::size_t>((12000 * h.bitrateKbps / h.sampleRate + pad) * 4);
    else if (h.layer == 3 && !v1)
        h.length = static_cast<std::size_t>(72000 * h.bitrateKbps / h.sampleRate + pad);
    else
        h.length = static_cast<std::size_t>(144000 * h.bitrateKbps / h.sampleRate + pad);
    return true;
}

Mp3FrameScan scanMp3Frames(const std::vector<std::uint8_t> &bytes)
{
    Mp3FrameScan scan;
    std::size_t offset = 0;
    Mp3FrameHeader h;
    while (parseMp3FrameHeader(bytes.data(), bytes.size(), offset, h) && offset + h.length <= bytes.size()) {
        scan.frames.push_back(h);
        offset += h.length;
    }
    scan.parsedBytes = offset;
    return scan;
}

std::vector<std::uint8_t> readFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
