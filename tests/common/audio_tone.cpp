#include "audio_tone.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

WaveToneMeasure waveMeasureTone(const std::vector<std::int16_t> &x, double rate)
{
    WaveToneMeasure m;
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double t = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2)
        return m;
    m.periods = crossings - 1;
    m.frequency = m.periods * rate / (last - first);
    double power = 0;
    std::size_t n = 0;
    for (auto i = std::size_t(std::ceil(first)); i <= std::size_t(std::floor(last)) && i < x.size(); ++i) {
        power += double(x[i]) * double(x[i]);
        ++n;
    }
    m.amplitude = n ? std::sqrt(2.0 * power / double(n)) : 0;
    return m;
}

WaveFifoTone::WaveFifoTone(const std::string &fifo, double hz, double amplitude, unsigned rate, unsigned chunkMs)
    : hz_(hz), amplitude_(amplitude), rate_(rate), chunkMs_(chunkMs)
{
    // The pipe source keeps its end open, so a non-blocking open for writing succeeds.
    fd_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0)
        thread_ = std::thread([this] { run(); });
}

WaveFifoTone::~WaveFifoTone()
{
    stop();
}

void WaveFifoTone::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void WaveFifoTone::run()
{
    const std::size_t frames = std::size_t(rate_) * chunkMs_ / 1000;
    std::vector<std::int16_t> chunk(frames * 2);
    std::uint64_t frame = 0;
    auto next = std::chrono::steady_clock::now();
    while (!stop_) {
        for (std::size_t i = 0; i < frames; ++i, ++frame) {
            const auto s = std::int16_t(std::lround(amplitude_ * std::sin(2.0 * M_PI * hz_ * double(frame) / rate_)));
            chunk[2 * i] = chunk[2 * i + 1] = s;
        }
        const char *p = reinterpret_cast<const char *>(chunk.data());
        std::size_t left = chunk.size() * sizeof(std::int16_t);
        while (left > 0 && !stop_) {
            const ssize_t n = ::write(fd_, p, left);
            if (n <= 0)
                break; // pipe full or closed: this chunk is lost, the pace goes on
            p += n;
            left -= std::size_t(n);
        }
        // Feeding at the pace of real time, as a sound card would.
        next += std::chrono::milliseconds(chunkMs_);
        std::this_thread::sleep_until(next);
    }
}

WavePrivateDaemon::WavePrivateDaemon()
{
    char pattern[] = "/tmp/quavrel-pd.XXXXXX";
    if (!mkdtemp(pattern))
        return;
    dir_ = pattern;
    start();
}

bool WavePrivateDaemon::start()
{
    if (pid_ > 0 || dir_.empty())
        return false;
    // A killed daemon may linger as a zombie until reaped, which a new daemon would take
    // for a running one, and it leaves its FIFO, which the pipe source insists on making.
    std::error_code ignored;
    std::filesystem::remove(dir_ + "/runtime/pulse/pid", ignored);
    std::filesystem::remove(fifo(), ignored);
    const std::string command = std::string(QUAVREL_SOURCE_DIR) + "/scripts/pulse-daemon.sh " + dir_ + " 2>&1";
    FILE *out = popen(command.c_str(), "r");
    if (!out)
        return false;
    char line[256] = {};
    const bool got = fgets(line, sizeof(line), out) != nullptr;
    const int status = pclose(out);
    if (got && status == 0)
        pid_ = pid_t(std::atol(line));
    return pid_ > 0;
}

WavePrivateDaemon::~WavePrivateDaemon()
{
    if (pid_ > 0)
        kill();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string WavePrivateDaemon::server() const
{
    return "unix:" + dir_ + "/runtime/pulse/native";
}

std::string WavePrivateDaemon::fifo() const
{
    return dir_ + "/pipesrc.fifo";
}

namespace {
bool gone(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    // Not our child: until its new parent reaps it, a dead daemon shows as a zombie.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    stat >> pidField >> name >> state;
    return !stat || state == "Z";
}
} // namespace

bool WavePrivateDaemon::kill()
{
    if (pid_ <= 0)
        return true;
    ::kill(pid_, SIGKILL);
    for (int i = 0; i < 500 && !gone(pid_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // bounded wait for an exit
    const bool ok = gone(pid_);
    pid_ = -1;
    return ok;
}

int WavePrivateDaemon::pactl(const std::string &arguments) const
{
    const std::string command = "pactl -s " + server() + " " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
}
