// Recording cost, idle cost, start-up time and voice-trigger latency of the recorder, beside
// the usual command-line recorders recording the same source in the same format, with the
// CPU the sound server spends meanwhile (PulseAudio, or PipeWire with its PulseAudio service).
//
// Needs a private server whose "pipesrc" source is fed from a FIFO (scripts/bench.sh starts
// one): the FIFO comes in QUAVREL_BENCH_FIFO, the server through XDG_RUNTIME_DIR, its name in
// QUAVREL_BENCH_SERVER and its process ids in QUAVREL_BENCH_SERVER_PIDS. This process feeds the FIFO at
// real-time pace and measures every recorder as a child process (wait4: CPU of the child and
// the children it waited for, peak resident set). Our side is this same program run as a
// child that drives the main window offscreen, exactly as the buttons would.
//
//   bench_recording [--seconds N] [--runs N] [--room-seconds N] [--table FILE] [--stall N]
//   bench_recording --child record|idle|listen|room|startup|voice SECONDS DIR   (internal)
//
// --seconds is the length of each recording (25), --runs how many times each recorder
// records, in turn with the others (3), --room-seconds how long voice control is left
// listening to a room after the environment test (600). --stall N feeds N seconds of
// silence in the middle of every recording, as a feeder that stalled would: with more than
// 5 % of the recording silent, no recorder's figure may count.

#include "app/Form1.h"
#include "app/application.h"
#include "bench/benchsound.h"
#include "bench/fedsound.h"

#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace bench;

constexpr int kChannels = 2;
constexpr double kIdleTargetPercent = 1.0;

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double cpuSeconds(const rusage &ru)
{
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
        + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// ---------------------------------------------------------------------------------------------
// Child side: the main window, offscreen, driven as the user would.

// The peers encode joint stereo, LAME's own choice for two channels; our window's default,
// plain stereo, codes both channels in full, which on this source (the same sound left and
// right) costs LAME about a third more. The comparison is made in the peers' mode.
void writeIni(const fs::path &dir, bool voice, const char *channels)
{
    std::ofstream ini(dir / "recorder.ini");
    ini << "[Format]\nDevice=PipeSource\nSampleRate=44100 Hz\nChannels=" << channels
        << "\nMode=CBR\nBitrate=128 kbps\n"
        << "[FileOutput]\nEnabled=1\nTimeStamp=0\nFileName=" << (voice ? "voice.mp3" : "ours.mp3")
        << "\n[Db]\ndbMax=1000\ndbrec=" << (voice ? 1 : 0) << "\ndbrec2=0\ndppd=3\n";
}

int runChild(const std::string &mode, double seconds, const fs::path &dir)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    fs::current_path(dir);
    writeIni(dir, mode == "voice", mode == "record-stereo" ? "Stereo" : "Joint Stereo");
    int argc = 1;
    char name[] = "quavrel";
    char *argv[] = {name, nullptr};
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    auto form = std::make_unique<TForm1>();
    if (form->StartupFailed())
        return 3;
    form->show();
    const int ms = int(seconds * 1000);

    if (mode == "startup") {
        QTimer::singleShot(0, [&] {
            std::printf("shown_ns=%lld\n", (long long)monotonicNs());
            std::fflush(stdout);
            app.quit();
        });
    } else if (mode == "record" || mode == "record-stereo") {
        QTimer::singleShot(0, [&] { form->DFBRecordStartClick(); });
        QTimer::singleShot(ms, [&] { form->BStopClick(); app.quit(); });
    } else if (mode == "room") {
        // The environment test over the room for four seconds, then voice control with both
        // switches ticked, left listening. Every start of a recording is counted.
        QTimer::singleShot(0, [&] { form->Button1Click(); });
        QTimer::singleShot(4000, [&] {
            form->Button1Click();
            form->CheckBox1->setChecked(true);
            form->CheckBox2->setChecked(true);
            form->Button2Click();
        });
        auto starts = std::make_shared<int>(0);
        auto poll = new QTimer(form.get());
        QObject::connect(poll, &QTimer::timeout, [&, starts, recording = false]() mutable {
            const bool now = form->StatusBar1->panelText(0) == TForm1::kStateRecording;
            if (now && !recording)
                ++*starts;
            recording = now;
        });
        poll->start(100);
        auto before = std::make_shared<rusage>();
        auto from = std::make_shared<std::int64_t>(0);
        QTimer::singleShot(6000, [=] {
            getrusage(RUSAGE_SELF, before.get());
            *from = monotonicNs();
        });
        QTimer::singleShot(6000 + ms, [&, before, from, starts] {
            rusage after{};
            getrusage(RUSAGE_SELF, &after);
            std::printf("window_cpu=%.4f window_s=%.4f recordings=%d threshold=%d\n",
                        cpuSeconds(after) - cpuSeconds(*before), double(monotonicNs() - *from) / 1e9, *starts,
                        form->SpinEdit1->Value());
            std::fflush(stdout);
            if (form->FRecording)
                form->BStopClick();
            app.quit();
        });
    } else if (mode == "idle" || mode == "listen" || mode == "voice") {
        // Voice control on; in idle mode nothing starts a recording, the meter just runs. In
        // listen mode it listens with automatic start and its pre-roll capture on, for sound
        // it can never find loud enough.
        QTimer::singleShot(0, [&] {
            if (mode == "listen") {
                form->CheckBox1->setChecked(true);
                form->SpinEdit1->setValue(32768);
            }
            form->Button2Click();
            std::printf("ready\n");
            std::fflush(stdout);
        });
        auto before = std::make_shared<rusage>();
        auto from = std::make_shared<std::int64_t>(0);
        if (mode == "idle" || mode == "listen") {
            // Measured once the monitor has been started by the first voice-control tick.
            QTimer::singleShot(2000, [=] {
                getrusage(RUSAGE_SELF, before.get());
                *from = monotonicNs();
                std::printf("window_start\n");
                std::fflush(stdout);
            });
            QTimer::singleShot(2000 + ms, [&, before, from] {
                rusage after{};
                getrusage(RUSAGE_SELF, &after);
                std::printf("window_cpu=%.4f window_s=%.4f\n", cpuSeconds(after) - cpuSeconds(*before),
                            double(monotonicNs() - *from) / 1e9);
                std::fflush(stdout);
                app.quit();
            });
        } else {
            QTimer::singleShot(ms, [&] { form->BStopClick(); app.quit(); });
        }
    }
    const int status = app.exec();
    form.reset();
    return status;
}

// ---------------------------------------------------------------------------------------------
// Parent side: the feeder and the measurements.

// Writes the pipe source's FIFO at real-time pace from its own thread. What the FIFO cannot
// take (nobody records) is dropped, so the sound stays in step with the wall clock.
class Feeder {
public:
    explicit Feeder(const std::string &fifo)
    {
        fd_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + fifo + ": " + std::strerror(errno));
        thread_ = std::thread([this] { run(); });
    }
    ~Feeder()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    void set(Signal s) { signal_ = s; }
    // Empties the FIFO of what it holds from before, so a run starts with fresh sound.
    void drain(const std::string &fifo)
    {
        const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return;
        char sink[65536];
        while (read(fd, sink, sizeof sink) > 0) {
        }
        close(fd);
    }
    // Switches to the chirp; returns the wall-clock time of its first sample.
    std::int64_t startChirp()
    {
        chirpArmed_ = true;
        while (chirpArmed_)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return chirpStartNs_;
    }

private:
    void run()
    {
        const std::int64_t start = monotonicNs();
        std::int64_t written = 0; // frames
        SoundGenerator sound;
        std::vector<std::int16_t> buf;
        while (!stop_) {
            const std::int64_t due = (monotonicNs() - start) * kRate / 1000000000;
            if (chirpArmed_) {
                signal_ = Signal::Chirp;
                chirpStartNs_ = start + written * 1000000000 / kRate;
                chirpArmed_ = false;
            }
            const std::int64_t n = due - written;
            if (n > 0) {
                buf.resize(std::size_t(n) * kChannels);
                const Signal s = signal_;
                for (std::int64_t i = 0; i < n; ++i) {
                    const std::int16_t sample = sound.next(s);
                    buf[std::size_t(i) * 2] = sample;
                    buf[std::size_t(i) * 2 + 1] = sample;
                }
                // A write the FIFO cannot take whole is cut short or refused: the rest is dropped.
                const ssize_t w = write(fd_, buf.data(), buf.size() * sizeof(std::int16_t));
                (void)w;
                written = due;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<Signal> signal_{Signal::Silence};
    std::atomic<bool> chirpArmed_{false};
    std::atomic<std::int64_t> chirpStartNs_{0};
};

struct Run {
    double cpu = 0;      // seconds, the child and what it waited for
    long peakKiB = 0;    // largest resident set among them
    double wall = 0;     // seconds
    int status = -1;
    std::string output;  // what the child wrote to stdout
};

std::string selfPath()
{
    return fs::read_symlink("/proc/self/exe").string();
}

// Runs argv as a child with stdout on a pipe; onLine sees each line as it comes.
template<typename OnLine>
Run measure(const std::vector<std::string> &args, const fs::path &dir, OnLine onLine)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const std::int64_t t0 = monotonicNs();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out[1], 1);
        const int log = open((dir / (fs::path(args[0]).filename().string() + ".log")).c_str(),
                             O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0)
            dup2(log, 2);
        close(out[0]);
        close(out[1]);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Run r;
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1) {
        if (c == '\n') {
            onLine(line);
            r.output += line + "\n";
            line.clear();
        } else {
            line += c;
        }
    }
    close(out[0]);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    r.wall = double(monotonicNs() - t0) / 1e9;
    r.cpu = cpuSeconds(ru);
    r.peakKiB = ru.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

Run measure(const std::vector<std::string> &args, const fs::path &dir)
{
    return measure(args, dir, [](const std::string &) {});
}

// CPU seconds the sound server's processes have spent so far. /proc/PID/stat counts in clock
// ticks (10 ms), a twentieth of what a server spends over a 25 s recording, so each thread's
// run time is read in nanoseconds from /proc/PID/task/TID/schedstat; the ticks only where
// that is missing. A thread that ends in between takes its time with it; the servers' threads
// live as long as they do.
double serverCpu()
{
    static const std::vector<std::string> pids = [] {
        std::vector<std::string> v;
        std::istringstream in(std::getenv("QUAVREL_BENCH_SERVER_PIDS") ? std::getenv("QUAVREL_BENCH_SERVER_PIDS") : "");
        for (std::string pid; in >> pid;)
            v.push_back(pid);
        return v;
    }();
    static const double tick = double(sysconf(_SC_CLK_TCK));
    double total = 0;
    for (const std::string &pid : pids) {
        double threads = 0;
        bool precise = false;
        std::error_code ec;
        for (const auto &task : fs::directory_iterator("/proc/" + pid + "/task", ec)) {
            std::ifstream sched(task.path() / "schedstat");
            double ns = 0;
            if (sched >> ns) {
                threads += ns / 1e9;
                precise = true;
            }
        }
        if (precise) {
            total += threads;
            continue;
        }
        // utime and stime are fields 14 and 15, counted after the command name, which may
        // hold spaces.
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto name = line.rfind(')');
        if (name == std::string::npos)
            continue;
        std::istringstream rest(line.substr(name + 1));
        std::vector<std::string> fields;
        for (std::string f; rest >> f;)
            fields.push_back(f);
        if (fields.size() > 12) // fields[0] is the state, field 3
            total += (std::stod(fields[11]) + std::stod(fields[12])) / tick;
    }
    return total;
}

std::optional<std::string> field(const std::string &output, const std::string &key)
{
    const auto at = output.find(key + "=");
    if (at == std::string::npos)
        return std::nullopt;
    const auto from = at + key.size() + 1;
    return output.substr(from, output.find_first_of(" \n", from) - from);
}

// Seconds of the chirp missing from the start of the file: the chirp time of the file's first
// chirp sample. The zero crossings of the first 200 ms of sound, counted against their times
// (interpolated between samples), follow the chirp's phase; the fitted rate of crossings at
// the first sound is twice the frequency there, which the sweep turns into chirp time.
std::optional<double> chirpLostInFile(const std::vector<std::int16_t> &left)
{
    const auto first = std::find_if(left.begin(), left.end(), [](std::int16_t s) { return std::abs(s) > 3000; });
    if (first == left.end())
        return std::nullopt;
    // From just before the first loud sample (the sound rises within a quarter period).
    const std::size_t from = std::size_t(std::max<std::ptrdiff_t>(first - left.begin() - 60, 1));
    const std::size_t window = kRate / 5;
    if (from + window > left.size())
        return std::nullopt;
    // Least squares of crossing number n against time t: n = a + b t + c t^2.
    double sums[5] = {}, rhs[3] = {};
    int n = 0;
    for (std::size_t i = from; i < from + window; ++i) {
        const double a = left[i - 1], b = left[i];
        // Crossings of the decoder's faint noise in the quiet before the sound do not count.
        if ((a < 0) == (b < 0) || std::abs(a - b) < 100)
            continue;
        const double t = (double(i - 1) + a / (a - b) - double(from)) / kRate;
        double p = 1;
        for (double &s : sums) {
            s += p;
            p *= t;
        }
        rhs[0] += n;
        rhs[1] += n * t;
        rhs[2] += n * t * t;
        ++n;
    }
    if (n < 10)
        return std::nullopt;
    // Cramer's rule on the 3 x 3 normal equations.
    const auto det = [](double m00, double m01, double m02, double m10, double m11, double m12, double m20,
                        double m21, double m22) {
        return m00 * (m11 * m22 - m12 * m21) - m01 * (m10 * m22 - m12 * m20) + m02 * (m10 * m21 - m11 * m20);
    };
    const double d = det(sums[0], sums[1], sums[2], sums[1], sums[2], sums[3], sums[2], sums[3], sums[4]);
    if (d == 0)
        return std::nullopt;
    const double b = det(sums[0], rhs[0], sums[2], sums[1], rhs[1], sums[3], sums[2], rhs[2], sums[4]) / d;
    const double hz = b / 2.0;
    return std::max(0.0, (hz - kChirpStartHz) / kChirpHzPerSecond);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0.0;
    const std::size_t half = v.size() / 2;
    return v.size() % 2 ? v[half] : (v[half - 1] + v[half]) / 2;
}

std::string fmt(const char *f, double v)
{
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

struct Options {
    double seconds = 25;
    double roomSeconds = 600;
    int runs = 3;
    double stall = 0; // seconds of silence fed in the middle of every recording
    std::string table;
};

// A '|' in a table cell would end the cell.
std::string cell(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '|' ? std::string("\\|") : std::string(1, c);
    return out;
}

// Listens to the source until it has carried the room, and nothing louder or quieter, for a
// second. On PipeWire the sound reaches the virtual microphone through the feeder's buffer
// (up to two seconds) and a player: what the previous measure played can still be coming out
// of it long after the FIFO was emptied, and an environment test over it measures that
// instead of the room. Silence does not count either: a player that stopped takes no sound.
std::optional<double> awaitRoomInSource(int roomTop)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execlp("parec", "parec", "-d", "pipesrc", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
               "--latency-msec=100", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    const std::int64_t from = monotonicNs();
    std::vector<std::int16_t> block(std::size_t(kRate / 10) * kChannels);
    std::size_t filled = 0;
    int roomBlocks = 0;
    std::optional<double> waited;
    while (!waited && monotonicNs() - from < std::int64_t(20) * 1000000000) {
        // A source that delivers nothing must not hold the benchmark past the deadline.
        pollfd ready{out[0], POLLIN, 0};
        const int polled = poll(&ready, 1, 500);
        if (polled < 0 && errno != EINTR)
            break;
        if (polled <= 0)
            continue;
        const ssize_t r = read(out[0], reinterpret_cast<char *>(block.data()) + filled,
                               block.size() * sizeof(std::int16_t) - filled);
        if (r <= 0)
            break;
        filled += std::size_t(r);
        if (filled < block.size() * sizeof(std::int16_t))
            continue;
        filled = 0;
        int peak = 0;
        for (std::size_t i = 0; i < block.size(); i += kChannels)
            peak = std::max(peak, std::abs(int(block[i])));
        roomBlocks = peak >= roomTop / 5 && peak <= roomTop * 3 / 2 ? roomBlocks + 1 : 0;
        if (roomBlocks == 10)
            waited = double(monotonicNs() - from) / 1e9;
    }
    kill(pid, SIGTERM);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return waited;
}

int runParent(const Options &opt)
{
    const double seconds = opt.seconds;
    const double roomSeconds = opt.roomSeconds;
    const std::string &tablePath = opt.table;
    const char *fifo = std::getenv("QUAVREL_BENCH_FIFO");
    if (!fifo || !*fifo) {
        std::fprintf(stderr, "QUAVREL_BENCH_FIFO is not set: run through scripts/bench.sh\n");
        return 2;
    }
    // Each figure as soon as it is measured, also into a file: a full run takes a while.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string server = std::getenv("QUAVREL_BENCH_SERVER") ? std::getenv("QUAVREL_BENCH_SERVER") : "PulseAudio";
    const fs::path work = fs::temp_directory_path() / ("quavrel-bench." + std::to_string(getpid()));
    fs::create_directories(work);
    Feeder feeder(fifo);
    feeder.set(Signal::Music);
    const std::string self = selfPath();
    const std::string secs = fmt("%.0f", seconds);
    int failures = 0;

    struct Recorder {
        std::string name;
        std::vector<std::string> args;
        std::string file;
        bool peer = true;
    };
    const std::string q = "2"; // the window's default quality grade, "HQ"
    // parec stops after the recording's length of sound, as sox and ffmpeg do: stopped by the
    // clock, it throws away the fragment it is filling, on PipeWire up to two seconds. It is
    // ended as soon as that much has gone by (from the background, TERM: a background job
    // of sh ignores INT); left to find its output gone, it spins on the broken pipe until its
    // next fragment arrives.
    const std::string parecBytes = std::to_string(std::llround(seconds * kRate) * kChannels * 2);
    const std::string parecLame =
        "rm -f parec.raw && mkfifo parec.raw || exit 1\n"
        "timeout -s INT " + fmt("%.0f", seconds + 15)
        + " parec -d pipesrc --raw --format=s16le --rate=44100 --channels=2 > parec.raw & p=$!\n"
          "{ head -c " + parecBytes + " < parec.raw; kill -TERM $p; }"
          " | lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -m j --cbr -b 128 -q " + q
        + " - parec.mp3\n"
          "s=$?\nwait $p\nrm -f parec.raw\nexit $s\n";
    const std::vector<Recorder> recorders = {
        {"Quavrel (session path)", {self, "--child", "record", secs, work.string()}, "ours.mp3", false},
        {"parec | lame", {"sh", "-c", parecLame}, "parec.mp3"},
        {"sox", {"sox", "-q", "-t", "pulseaudio", "-r", "44100", "-c", "2", "pipesrc", "-C", "128." + q,
                 "sox.mp3", "trim", "0", secs}, "sox.mp3"},
        {"ffmpeg -f pulse", {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "pulse",
                             "-sample_rate", "44100", "-channels", "2", "-i", "pipesrc", "-t", secs,
                             "-c:a", "libmp3lame", "-b:a", "128k", "-compression_level", q, "-y",
                             "ffmpeg.mp3"}, "ffmpeg.mp3"},
        // For information: what our default channel mode costs; not compared.
        {"Quavrel, plain stereo", {self, "--child", "record-stereo", secs, work.string()}, "ours.mp3", false},
    };

    // A figure counts only when the file carries the fed music for nearly all of the time
    // recorded: a recorder that got silence, or less sound than it was timed for, did less
    // work than its figure is divided by.
    constexpr double kFedShare = 0.95;
    const double fedRms = musicRms();
    const std::string runs = opt.runs == 1 ? std::string("one run") : std::to_string(opt.runs) + " runs";
    std::printf("On %s: recording %s s of 44.1 kHz joint stereo, CBR 128 kbps, quality 2, from pipesrc,"
                " %s of each in turn; a file counts when it carries the fed sound for %.0f %% of %s s:\n",
                server.c_str(), secs.c_str(), runs.c_str(), kFedShare * 100, secs.c_str());
    std::printf("  %-4s %-24s %10s %12s %12s %13s %8s %8s  %s\n", "run", "recorder", "CPU s/min", "server s/min",
                "total s/min", "peak RSS MiB", "audio s", "sound s", "check");
    struct Sample {
        double perMin = 0, serverPerMin = 0, mib = 0, sound = 0;
        bool ok = false;
        std::string why; // why it does not count
        double total() const { return perMin + serverPerMin; }
    };
    struct Row {
        std::string name;
        bool peer = true;
        std::vector<Sample> runs;
        bool ok() const
        {
            return std::all_of(runs.begin(), runs.end(), [](const Sample &s) { return s.ok; });
        }
        double med(double Sample::*f) const
        {
            std::vector<double> v;
            for (const Sample &s : runs)
                v.push_back(s.*f);
            return median(v);
        }
        double medTotal() const
        {
            std::vector<double> v;
            for (const Sample &s : runs)
                v.push_back(s.total());
            return median(v);
        }
        std::pair<double, double> spread() const
        {
            const auto [lo, hi] = std::minmax_element(runs.begin(), runs.end(), [](const Sample &a, const Sample &b) {
                return a.total() < b.total();
            });
            return {lo->total(), hi->total()};
        }
        // The first failed run, for the reader.
        std::string failure() const
        {
            for (std::size_t i = 0; i < runs.size(); ++i)
                if (!runs[i].ok)
                    return "run " + std::to_string(i + 1) + ": " + runs[i].why;
            return {};
        }
    };
    std::vector<Row> rows;
    for (const Recorder &r : recorders)
        rows.push_back({r.name, r.peer, {}});
    // The runs interleave, so that a slow moment of the shared machine falls on every recorder
    // alike; the median of each recorder's runs is its figure.
    for (int pass = 0; pass < opt.runs; ++pass) {
        for (std::size_t k = 0; k < recorders.size(); ++k) {
            const Recorder &r = recorders[k];
            fs::remove(work / r.file);
            std::thread stall;
            if (opt.stall > 0)
                stall = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::duration<double>(seconds / 2));
                    feeder.set(Signal::Silence);
                    std::this_thread::sleep_for(std::chrono::duration<double>(opt.stall));
                    feeder.set(Signal::Music);
                });
            const double serverBefore = serverCpu();
            const Run run = measure(r.args, work);
            const double serverAfter = serverCpu();
            if (stall.joinable())
                stall.join();
            Sample s;
            s.perMin = run.cpu * 60.0 / seconds;
            s.serverPerMin = (serverAfter - serverBefore) * 60.0 / seconds;
            s.mib = run.peakKiB / 1024.0;
            const DecodedChannel decoded = decodeFirstChannel(work / r.file);
            const double audio = decoded.rate > 0 ? double(decoded.samples.size()) / double(decoded.rate) : 0.0;
            s.sound = fedSoundSeconds(decoded.samples, decoded.rate, fedRms);
            if (run.status != 0)
                s.why = "exit status " + std::to_string(run.status);
            else if (!decoded.error.empty())
                s.why = decoded.error;
            else if (s.sound < kFedShare * seconds)
                s.why = fmt("%.1f", s.sound) + " of " + secs + " s carry the fed sound";
            s.ok = s.why.empty();
            std::printf("  %-4d %-24s %10.3f %12.3f %12.3f %13.1f %8.1f %8.1f  %s\n", pass + 1, r.name.c_str(),
                        s.perMin, s.serverPerMin, s.total(), s.mib, audio, s.sound,
                        s.ok ? "passed" : ("FAILED, not counted: " + s.why).c_str());
            std::fflush(stdout);
            rows[k].runs.push_back(s);
        }
    }
    std::printf("  %-29s %10s %12s %12s %13s\n", "median", "CPU s/min", "server s/min", "total s/min",
                "peak RSS MiB");
    for (const Row &row : rows) {
        const auto [lo, hi] = row.spread();
        std::printf("  %-29s %10.3f %12.3f %12.3f %13.1f  runs %.3f to %.3f%s\n", row.name.c_str(),
                    row.med(&Sample::perMin), row.med(&Sample::serverPerMin), row.medTotal(), row.med(&Sample::mib),
                    lo, hi, row.ok() ? "" : ("; NOT COUNTED, " + row.failure()).c_str());
    }
    // Compared with the server's share: a recorder that makes the server work harder costs
    // the machine that much more. Only the peers whose every file passed compete.
    double bestPeer = 0;
    std::string bestName;
    for (const Row &row : rows)
        if (row.peer && row.ok() && (bestName.empty() || row.medTotal() < bestPeer)) {
            bestPeer = row.medTotal();
            bestName = row.name;
        }
    const double ratio = bestName.empty() ? 0.0 : rows[0].medTotal() / bestPeer;
    if (bestName.empty())
        std::printf("  ours / best peer: no peer counted\n");
    else
        std::printf("  ours / best peer (%s), recorder and server together: %.2f%s  (target: at most 1)\n",
                    bestName.c_str(), ratio, rows[0].ok() ? "" : ", ours NOT COUNTED");
    if (!rows[0].ok() || bestName.empty() || !(ratio <= 1.0))
        ++failures;

    // The window's own CPU over a stretch of a child mode, per minute and as a share of a core,
    // and the server's over the same stretch.
    struct WindowCpu {
        double perMin = 0;
        double percent = 0;
        double serverPerMin = 0;
    };
    const auto windowCpu = [&](const char *mode, const char *what) {
        double serverFrom = 0, serverTo = 0;
        const Run run = measure({self, "--child", mode, secs, work.string()}, work, [&](const std::string &line) {
            if (line == "window_start")
                serverFrom = serverCpu();
            else if (line.rfind("window_cpu=", 0) == 0)
                serverTo = serverCpu();
        });
        const double cpu = std::stod(field(run.output, "window_cpu").value_or("0"));
        const double wall = std::stod(field(run.output, "window_s").value_or("1"));
        const WindowCpu w{cpu * 60.0 / wall, cpu / wall * 100.0, (serverTo - serverFrom) * 60.0 / wall};
        std::printf("%s: %.3f CPU s/min = %.2f %% of a core (target: at most %.0f %%)\n", what, w.perMin,
                    w.percent, kIdleTargetPercent);
        if (run.status != 0 || w.percent > kIdleTargetPercent)
            ++failures;
        return w;
    };
    // Idle window with the meter running (voice control listening, nothing recording); then
    // voice control listening with automatic start, where the monitor and the pre-roll capture
    // of the recording device both run.
    feeder.set(Signal::Music);
    const auto [idlePerMin, idlePercent, idleServer] = windowCpu("idle", "Idle window, meter running");
    const auto [listenPerMin, listenPercent, listenServer] = windowCpu("listen", "Voice control listening, pre-roll on");
    (void)idleServer;

    // Listening beside the plainest listener: one parec with the server's default attributes
    // on the same source, it and the server together.
    const double parecFrom = serverCpu();
    const Run parec = measure({"sh", "-c", "exec timeout -s INT " + secs + " parec -d pipesrc --raw >/dev/null"}, work);
    const double parecServer = (serverCpu() - parecFrom) * 60.0 / seconds;
    const double parecTotal = parec.cpu * 60.0 / seconds + parecServer;
    const double listenTotal = listenPerMin + listenServer;
    const double listenRatio = listenTotal / parecTotal;
    std::printf("Listening, window and server: %.3f s/min; parec with default attributes and server: %.3f s/min;"
                " ratio %.2f (target: at most 1)\n", listenTotal, parecTotal, listenRatio);
    if (!(listenRatio <= 1.0))
        ++failures;

    // A room left listening: after the environment test, its own noise must start nothing,
    // for as long as voice control listens, at no more CPU than listening costs.
    feeder.set(Signal::Room);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    feeder.drain(fifo); // the music still in the FIFO is no part of the room
    // The room plays from now on: while the source is checked, the environment test, and
    // the listening; its loudest sample over more than that bounds what the test can hear.
    const int roomTop = roomPeak(roomSeconds + 60);
    const std::optional<double> roomReached = awaitRoomInSource(roomTop);
    std::string roomWrong; // why the room's figures do not count
    if (!roomReached)
        roomWrong = "the source did not carry the room alone within 20 s";
    const Run room = measure({self, "--child", "room", fmt("%.0f", roomSeconds), work.string()}, work);
    const double roomCpu = std::stod(field(room.output, "window_cpu").value_or("0"));
    const double roomWall = std::stod(field(room.output, "window_s").value_or("1"));
    const int roomStarts = std::stoi(field(room.output, "recordings").value_or("-1"));
    const int threshold = std::stoi(field(room.output, "threshold").value_or("-1"));
    const double roomPercent = roomCpu / roomWall * 100.0;
    // The test leaves the loudest sample it heard. Far above the room's loudest it heard
    // something else; far below, it heard no room at all (the monitor's low rate filters
    // part of the hiss, so somewhat below is the room).
    if (roomWrong.empty() && (threshold > 2 * roomTop || threshold < roomTop / 5))
        roomWrong = "the environment test measured " + std::to_string(threshold) + ", the room peaks at "
            + std::to_string(roomTop);
    std::printf("Voice control left listening to a room for %.0f s after the environment test (threshold %d,"
                " the room peaks at %d; the source carried the room after %.1f s):"
                " %d recordings started (target 0), %.3f CPU s/min = %.2f %% of a core (target: at most %.0f %%)%s\n",
                roomWall, threshold, roomTop, roomReached.value_or(-1), roomStarts, roomCpu * 60.0 / roomWall,
                roomPercent, kIdleTargetPercent, roomWrong.empty() ? "" : ("; NOT COUNTED: " + roomWrong).c_str());
    if (room.status != 0 || !roomWrong.empty() || roomStarts != 0 || roomPercent > kIdleTargetPercent)
        ++failures;

    // Start-up: from fork to the first turn of the event loop after the window is shown.
    std::vector<double> startups;
    std::vector<double> startupCpu;
    for (int i = 0; i < 5; ++i) {
        const std::int64_t t0 = monotonicNs();
        const Run run = measure({self, "--child", "startup", "0", work.string()}, work);
        startupCpu.push_back(run.cpu);
        if (const auto shown = field(run.output, "shown_ns"))
            startups.push_back(double(std::stoll(*shown) - t0) / 1e6);
    }
    const double startupMs = median(startups);
    std::printf("Start-up to window shown: %.0f ms (median of %zu), %.0f ms CPU from launch to exit\n",
                startupMs, startups.size(), median(startupCpu) * 1000);

    // Voice trigger: silence, then a chirp; how much of the chirp's start the file lacks is
    // the onset lost (with pre-roll nothing: the file starts before the sound).
    std::vector<double> latencies;
    const double offsets[] = {2.1, 2.45, 2.8};
    for (double offset : offsets) {
        feeder.set(Signal::Silence);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        feeder.drain(fifo);
        fs::remove(work / "voice.mp3");
        std::int64_t onset = 0;
        const Run run = measure({self, "--child", "voice", fmt("%.1f", offset + 4.0), work.string()}, work,
                                [&](const std::string &line) {
                                    if (line == "ready") {
                                        std::this_thread::sleep_for(std::chrono::duration<double>(offset));
                                        onset = feeder.startChirp();
                                    }
                                });
        (void)onset;
        const auto at = chirpLostInFile(decodeFirstChannel(work / "voice.mp3").samples);
        if (run.status == 0 && at)
            latencies.push_back(*at);
        std::printf("  sound after %.2f s of silence: onset lost %s\n", offset,
                    at ? fmt("%.0f ms", *at * 1000).c_str() : "failed (no file, or no chirp in it)");
    }
    double latMean = 0, latMax = 0;
    for (double l : latencies) {
        latMean += l / double(latencies.size());
        latMax = std::max(latMax, l);
    }
    // The fit reads the chirp's start to within a few milliseconds.
    constexpr double kOnsetToleranceS = 0.005;
    std::printf("Voice-trigger onset lost: mean %.0f ms, worst %.0f ms (%zu runs; target: 0 ms at every tick phase)\n",
                latMean * 1000, latMax * 1000, latencies.size());
    if (latencies.size() != std::size(offsets) || latMax > kOnsetToleranceS)
        ++failures;

    if (!tablePath.empty()) {
        std::ofstream t(tablePath);
        t << "On " << server << ":\n\n";
        t << "| Measure | Quavrel | parec \\| lame | sox | ffmpeg -f pulse | Quavrel, plain stereo |\n"
          << "|---|---|---|---|---|---|\n";
        // Medians of the runs; a recorder with a file that failed the check is shown, marked.
        const auto figures = [&](const char *measure, const std::function<double(const Row &)> &value,
                                 bool mark, const char *format = "%.2f") {
            t << "| " << measure << " |";
            for (const Row &r : rows)
                t << " " << fmt(format, value(r)) << (mark && !r.ok() ? ", not counted" : "") << " |";
            t << "\n";
        };
        figures(("Recording CPU, s per recorded minute, median of " + runs).c_str(),
                [](const Row &r) { return r.med(&Sample::perMin); }, true);
        figures((server + " CPU meanwhile, s per recorded minute").c_str(),
                [](const Row &r) { return r.med(&Sample::serverPerMin); }, true);
        figures("Recorder and server together, s per recorded minute", [](const Row &r) { return r.medTotal(); },
                true);
        t << "| Together, lowest to highest run |";
        for (const Row &r : rows) {
            const auto [lo, hi] = r.spread();
            t << " " << fmt("%.2f", lo) << "–" << fmt("%.2f", hi) << " |";
        }
        t << "\n";
        figures("Recording peak memory, MiB", [](const Row &r) { return r.med(&Sample::mib); }, false, "%.1f");
        std::string notCounted;
        for (const Row &r : rows)
            if (!r.ok())
                notCounted += (notCounted.empty() ? "" : "; ") + cell(r.name) + " (" + r.failure() + ")";
        if (!notCounted.empty())
            t << "\nNot counted, a file did not carry the fed sound for " << fmt("%.0f", kFedShare * 100)
              << " % of the time recorded: " << notCounted << ".\n";
        t << "\n| Measure | Result | Target |\n|---|---|---|\n";
        t << "| Recording CPU with the server's, ours / best peer"
          << (bestName.empty() ? std::string(" | no peer counted") : " (" + cell(bestName) + ") | " + fmt("%.2f", ratio))
          << (rows[0].ok() ? "" : ", ours not counted") << " | at most 1 |\n";
        t << "| Idle window with the meter running, CPU | " << fmt("%.2f s/min", idlePerMin) << " ("
          << fmt("%.2f %%", idlePercent) << " of a core) | at most 1 % |\n";
        t << "| Voice control listening with pre-roll, CPU | " << fmt("%.2f s/min", listenPerMin) << " ("
          << fmt("%.2f %%", listenPercent) << " of a core) | at most 1 % |\n";
        t << "| Listening, window and " << server << " together / parec with default attributes and "
          << server << " | " << fmt("%.2f", listenTotal) << " / " << fmt("%.2f s/min", parecTotal) << " = "
          << fmt("%.2f", listenRatio) << " | at most 1 |\n";
        t << "| Voice control left listening to a room for " << fmt("%.3g", roomSeconds / 60)
          << " min after the environment test: recordings started, CPU | ";
        if (roomWrong.empty())
            t << roomStarts << ", " << fmt("%.2f s/min", roomCpu * 60.0 / roomWall) << " ("
              << fmt("%.2f %%", roomPercent) << " of a core)";
        else
            t << "not counted: " << roomWrong;
        t << " | 0, at most 1 % |\n";
        t << "| Start-up, launch to window shown | " << fmt("%.0f ms", startupMs) << " | |\n";
        t << "| Voice-trigger onset lost, at three tick phases | mean " << fmt("%.0f ms", latMean * 1000)
          << ", worst " << fmt("%.0f ms", latMax * 1000) << " | 0 ms |\n";
    }
    fs::remove_all(work);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "--child")
        return runChild(args[1], std::stod(args[2]), args[3]);
    if (args.size() == 2 && args[0] == "--feed") {
        // Music into the pipe source for a while, for looking at a recorder by hand.
        Feeder feeder(std::getenv("QUAVREL_BENCH_FIFO") ? std::getenv("QUAVREL_BENCH_FIFO") : "");
        feeder.set(Signal::Music);
        std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(args[1])));
        return 0;
    }
    Options opt;
    // Every option takes a value; anything else is refused before a minute of measuring.
    const auto number = [&](std::size_t i) {
        std::size_t used = 0;
        double v = -1;
        try {
            v = std::stod(args[i], &used);
        } catch (const std::exception &) {
        }
        if (used != args[i].size() || !(v >= 0))
            throw std::invalid_argument(args[i - 1] + " takes a number of 0 or more, not \"" + args[i] + "\"");
        return v;
    };
    try {
        for (std::size_t i = 0; i < args.size(); i += 2) {
            if (i + 1 >= args.size())
                throw std::invalid_argument(args[i] + " needs a value");
            if (args[i] == "--seconds")
                opt.seconds = number(i + 1);
            else if (args[i] == "--room-seconds")
                opt.roomSeconds = number(i + 1);
            else if (args[i] == "--runs")
                opt.runs = std::max(1, int(number(i + 1)));
            else if (args[i] == "--stall")
                opt.stall = number(i + 1);
            else if (args[i] == "--table")
                opt.table = args[i + 1];
            else
                throw std::invalid_argument("unknown option " + args[i]);
        }
        if (!(opt.seconds >= 1))
            throw std::invalid_argument("--seconds below 1");
    } catch (const std::exception &e) {
        std::fprintf(stderr,
                     "bench_recording: bad argument: %s\nusage: bench_recording [--seconds N] [--runs N]"
                     " [--room-seconds N] [--table FILE] [--stall N]\n",
                     e.what());
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    try {
        return runParent(opt);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_recording: %s\n", e.what());
        return 2;
    }
}
