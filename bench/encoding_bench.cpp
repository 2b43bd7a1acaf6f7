// Encoding cost: our encoder calls against the `lame` command-line encoder on the same
// synthetic speech with the same settings. Target: our CPU time at most 1.05 x lame's.

#include "engine/bladeenc.h"
#include "engine/encoding.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kSeconds = 180;
constexpr int kRounds = 3;
constexpr double kTarget = 1.05;

// Deterministic noise source, the same on every machine.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    double uniform() // [0, 1)
    {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) / 16777216.0;
    }
    double noise() { return 2.0 * uniform() - 1.0; }
    double between(double lo, double hi) { return lo + (hi - lo) * uniform(); }

private:
    std::uint32_t state_;
};

// Two-pole resonator: one formant.
class Resonator {
public:
    void tune(double hz, double bandwidth, int rate)
    {
        const double r = std::exp(-std::numbers::pi * bandwidth / rate);
        a1_ = 2.0 * r * std::cos(2.0 * std::numbers::pi * hz / rate);
        a2_ = -r * r;
        gain_ = 1.0 - r;
    }
    double step(double x)
    {
        const double y = gain_ * x + a1_ * y1_ + a2_ * y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double a1_ = 0, a2_ = 0, gain_ = 0, y1_ = 0, y2_ = 0;
};

// Speech-like sound: syllables of a pulse-excited three-formant voice with gliding pitch and
// formants, fricative noise bursts, pauses between words and sentences, quiet room noise; the
// right channel is a slightly delayed and damped copy, as from a second microphone.
std::vector<std::int16_t> synthesiseSpeech(int rate, int seconds)
{
    Lcg rng(20261208);
    const std::size_t frames = static_cast<std::size_t>(rate) * seconds;
    std::vector<double> mono(frames, 0.0);
    Resonator f1, f2, f3, fricative;
    std::size_t pos = 0;
    double phase = 0.0;
    int syllablesLeftInWord = 0;
    int wordsLeftInSentence = 0;
    while (pos < frames) {
        if (wordsLeftInSentence == 0) {
            wordsLeftInSentence = 4 + static_cast<int>(rng.uniform() * 8);
            pos += static_cast<std::size_t>(rng.between(0.5, 1.0) * rate);
        }
        if (syllablesLeftInWord == 0) {
            syllablesLeftInWord = 1 + static_cast<int>(rng.uniform() * 3);
            --wordsLeftInSentence;
            pos += static_cast<std::size_t>(rng.between(0.05, 0.3) * rate);
        }
        --syllablesLeftInWord;
        const std::size_t length = static_cast<std::size_t>(rng.between(0.12, 0.3) * rate);
        const std::size_t noiseLength = rng.uniform() < 0.4 ? static_cast<std::size_t>(rng.between(0.04, 0.1) * rate) : 0;
        const double pitchStart = rng.between(110, 200);
        const double pitchEnd = pitchStart * rng.between(0.8, 1.1);
        const double formants[2][3] = {
            {rng.between(300, 800), rng.between(900, 2300), rng.between(2400, 3000)},
            {rng.between(300, 800), rng.between(900, 2300), rng.between(2400, 3000)},
        };
        const double loudness = rng.between(4000, 11000);
        fricative.tune(rng.between(4000, 6500), 1500, rate);
        for (std::size_t i = 0; i < noiseLength && pos < frames; ++i, ++pos) {
            const double env = std::sin(std::numbers::pi * static_cast<double>(i) / noiseLength);
            mono[pos] += 0.5 * loudness * env * fricative.step(rng.noise()) * 4.0;
        }
        for (std::size_t i = 0; i < length && pos < frames; ++i, ++pos) {
            const double t = static_cast<double>(i) / length;
            if (i % 64 == 0) {
                f1.tune(formants[0][0] + t * (formants[1][0] - formants[0][0]), 90, rate);
                f2.tune(formants[0][1] + t * (formants[1][1] - formants[0][1]), 110, rate);
                f3.tune(formants[0][2] + t * (formants[1][2] - formants[0][2]), 150, rate);
            }
            phase += (pitchStart + t * (pitchEnd - pitchStart)) / rate;
            double pulse = 0.0;
            if (phase >= 1.0) {
                phase -= 1.0;
                pulse = 1.0;
            }
            const double source = pulse * 40.0 + 0.02 * rng.noise();
            const double voice = f1.step(source) + 0.6 * f2.step(source) + 0.3 * f3.step(source);
            const double env = std::sin(std::numbers::pi * t);
            mono[pos] += loudness * env * voice;
        }
    }
    std::vector<std::int16_t> out(frames * 2);
    const std::size_t delay = static_cast<std::size_t>(rate / 2000); // half a millisecond
    for (std::size_t i = 0; i < frames; ++i) {
        const double left = mono[i] + 30.0 * rng.noise();
        const double right = 0.8 * (i >= delay ? mono[i - delay] : 0.0) + 30.0 * rng.noise();
        out[2 * i] = static_cast<std::int16_t>(std::clamp(left, -32768.0, 32767.0));
        out[2 * i + 1] = static_cast<std::int16_t>(std::clamp(right, -32768.0, 32767.0));
    }
    return out;
}

double cpuSeconds(int who)
{
    rusage usage{};
    if (getrusage(who, &usage) != 0) {
        std::perror("getrusage");
        std::exit(2);
    }
    const auto seconds = [](const timeval &tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

// Encodes the sound chunk by chunk into a file, as a recording session does.
bool encodeOurs(BE_CONFIG config, const std::vector<std::int16_t> &pcm, const std::string &path, std::size_t &bytesOut)
{
    DWORD chunk = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    if (beInitStream(&config, &chunk, &size, &stream) != BE_ERR_SUCCESS) {
        std::fprintf(stderr, "beInitStream refused the configuration\n");
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        beCloseStream(stream);
        std::perror(path.c_str());
        return false;
    }
    std::vector<BYTE> mp3(size);
    std::vector<SHORT> buffer(chunk);
    bytesOut = 0;
    bool ok = true;
    for (std::size_t pos = 0; ok && pos + chunk <= pcm.size(); pos += chunk) {
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(pos), chunk, buffer.begin());
        DWORD bytes = 0;
        ok = beEncodeChunk(stream, chunk, buffer.data(), mp3.data(), &bytes) == BE_ERR_SUCCESS
            && std::fwrite(mp3.data(), 1, bytes, file.get()) == bytes;
        bytesOut += bytes;
    }
    DWORD bytes = 0;
    ok = ok && beDeinitStream(stream, mp3.data(), &bytes) == BE_ERR_SUCCESS
        && std::fwrite(mp3.data(), 1, bytes, file.get()) == bytes;
    bytesOut += bytes;
    // The tag over the frame reserved for it, as the session finishes its file.
    ok = ok && beGetInfoTag(stream, mp3.data(), &bytes) == BE_ERR_SUCCESS
        && (bytes == 0
            || (std::fseek(file.get(), 0, SEEK_SET) == 0 && std::fwrite(mp3.data(), 1, bytes, file.get()) == bytes));
    beCloseStream(stream);
    return ok;
}

bool runLame(const std::vector<std::string> &args)
{
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return false;
    }
    if (pid == 0) {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::perror("lame");
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Setting {
    const char *name;
    int rateIndex;
    int channelIndex;
    int modeIndex;
    int bitrateIndex;
    int qualityIndex;
    int vbrPosition;
    std::vector<std::string> lameArgs; // the same choices in the command-line encoder's words
};

// Canonical 16-bit PCM WAV file, so the command-line encoder reads the very same samples.
bool writeWav(const std::string &path, const std::vector<std::int16_t> &pcm, int rate, int channels)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size() * sizeof(std::int16_t));
    std::vector<std::uint8_t> header;
    auto text = [&](const char *s) { header.insert(header.end(), s, s + 4); };
    auto le = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    text("RIFF");
    le(36 + dataBytes, 4);
    text("WAVE");
    text("fmt ");
    le(16, 4);
    le(1, 2); // PCM
    le(static_cast<std::uint32_t>(channels), 2);
    le(static_cast<std::uint32_t>(rate), 4);
    le(static_cast<std::uint32_t>(rate * channels * 2), 4);
    le(static_cast<std::uint32_t>(channels * 2), 2);
    le(16, 2);
    text("data");
    le(dataBytes, 4);
    return std::fwrite(header.data(), 1, header.size(), file.get()) == header.size()
        && std::fwrite(pcm.data(), sizeof(std::int16_t), pcm.size(), file.get()) == pcm.size();
}

} // namespace

int main()
{
    char dirTemplate[] = "/tmp/quavrel-bench.XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::filesystem::path dir(dirTemplate);

    const std::vector<Setting> settings = {
        // Start-up choices: 44100 Hz, Stereo, CBR 128 kbps, HQ.
        {"44100 Hz stereo CBR 128 HQ", 7, encoding::chStereo, encoding::mdCBR, 11, encoding::qtHQ, 5,
         {"--resample", "44.1", "-m", "s", "-b", "128", "--cbr", "-q", "2"}},
        {"22050 Hz mono VBR pos 5 MQ", 4, encoding::chMono, encoding::mdVBR, 11, encoding::qtMQ, 5,
         {"--resample", "22.05", "-m", "m", "-V", "4", "--vbr-new", "-b", "8", "-B", "160", "-q", "5"}},
    };

    std::printf("Encoding %d s of synthetic speech, best of %d rounds each\n", kSeconds, kRounds);
    bool allMet = true;
    for (const Setting &s : settings) {
        const int rate = static_cast<int>(encoding::sampleRateHz(s.rateIndex));
        std::vector<std::int16_t> pcm = synthesiseSpeech(rate, kSeconds);
        if (encoding::channelCount(s.channelIndex) == 1) {
            std::vector<std::int16_t> mono(pcm.size() / 2);
            for (std::size_t i = 0; i < mono.size(); ++i)
                mono[i] = pcm[2 * i];
            pcm.swap(mono);
        }
        const std::string wav = (dir / "input.wav").string();
        const std::string ours = (dir / "ours.mp3").string();
        const std::string theirs = (dir / "lame.mp3").string();
        if (!writeWav(wav, pcm, rate, encoding::channelCount(s.channelIndex))) {
            std::perror(wav.c_str());
            return 2;
        }
        BE_CONFIG config;
        encoding::fillEncoderConfig(config, s.rateIndex, s.channelIndex, s.modeIndex, s.bitrateIndex,
                                    s.qualityIndex, s.vbrPosition);
        std::vector<std::string> args{"lame", "--quiet", "--noreplaygain", "-t", "--strictly-enforce-ISO"};
        args.insert(args.end(), s.lameArgs.begin(), s.lameArgs.end());
        args.push_back(wav);
        args.push_back(theirs);

        double bestOurs = 1e30;
        double bestLame = 1e30;
        std::size_t ourBytes = 0;
        for (int round = 0; round < kRounds; ++round) {
            const double before = cpuSeconds(RUSAGE_SELF);
            if (!encodeOurs(config, pcm, ours, ourBytes))
                return 2;
            bestOurs = std::min(bestOurs, cpuSeconds(RUSAGE_SELF) - before);

            const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
            if (!runLame(args)) {
                std::fprintf(stderr, "lame failed (is the Debian package `lame` installed?)\n");
                return 2;
            }
            bestLame = std::min(bestLame, cpuSeconds(RUSAGE_CHILDREN) - childBefore);
        }
        const auto lameBytes = std::filesystem::file_size(theirs);
        const double ratio = bestOurs / bestLame;
        const bool met = ratio <= kTarget;
        allMet = allMet && met;
        std::printf("%-28s ours %.3f s CPU, lame %.3f s CPU, ratio %.3f (target <= %.2f: %s); output %zu vs %ju bytes\n",
                    s.name, bestOurs, bestLame, ratio, kTarget, met ? "met" : "MISSED", ourBytes,
                    static_cast<std::uintmax_t>(lameBytes));
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return allMet ? 0 : 1;
}
