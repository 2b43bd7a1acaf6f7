#include "bench/fedsound.h"

#include <mpg123.h>

#include <cmath>
#include <memory>

namespace bench {

namespace {

struct Mpg123Deleter {
    void operator()(mpg123_handle *mh) const
    {
        mpg123_close(mh);
        mpg123_delete(mh);
    }
};

} // namespace

DecodedChannel decodeFirstChannel(const std::filesystem::path &mp3)
{
    DecodedChannel out;
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, Mpg123Deleter> mh(mpg123_new(nullptr, &err));
    if (!mh) {
        out.error = mpg123_plain_strerror(err);
        return out;
    }
    // 16-bit output at the file's own rate and channel count.
    if (mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK
        || mpg123_format_none(mh.get()) != MPG123_OK) {
        out.error = mpg123_strerror(mh.get());
        return out;
    }
    const long *rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        if (mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
            out.error = mpg123_strerror(mh.get());
            return out;
        }
    if (mpg123_open(mh.get(), mp3.c_str()) != MPG123_OK) {
        out.error = mp3.filename().string() + ": " + mpg123_strerror(mh.get());
        return out;
    }
    int channels = 0;
    std::vector<unsigned char> buf(65536);
    for (;;) {
        std::size_t got = 0;
        const int rc = mpg123_read(mh.get(), buf.data(), buf.size(), &got);
        if (rc == MPG123_NEW_FORMAT) {
            int encoding = 0;
            if (mpg123_getformat(mh.get(), &out.rate, &channels, &encoding) != MPG123_OK) {
                out.error = mpg123_strerror(mh.get());
                return out;
            }
            continue;
        }
        if (rc != MPG123_OK && rc != MPG123_DONE) {
            out.error = mp3.filename().string() + ": " + mpg123_strerror(mh.get());
            return out;
        }
        const auto *pcm = reinterpret_cast<const std::int16_t *>(buf.data());
        for (std::size_t i = 0; channels > 0 && i + std::size_t(channels) <= got / 2; i += std::size_t(channels))
            out.samples.push_back(pcm[i]);
        if (rc == MPG123_DONE)
            return out;
    }
}

double fedSoundSeconds(const std::vector<std::int16_t> &samples, long rate, double fedRms)
{
    if (rate <= 0)
        return 0.0;
    const std::size_t window = std::size_t(rate / 20);
    std::size_t carrying = 0;
    for (std::size_t from = 0; from + window <= samples.size(); from += window) {
        double sum = 0;
        for (std::size_t i = from; i < from + window; ++i)
            sum += double(samples[i]) * samples[i];
        const double rms = std::sqrt(sum / double(window));
        if (rms >= fedRms / 2 && rms <= fedRms * 2)
            ++carrying;
    }
    return double(carrying * window) / double(rate);
}

} // namespace bench
