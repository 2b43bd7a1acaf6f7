#pragma once
// Sound helpers for tests against the real PulseAudio daemon: a paced tone writer for the
// pipe source's FIFO, tone measurement, and a private daemon a test may kill.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct WaveToneMeasure {
    double amplitude = 0; // peak amplitude of a sine with the same power
    double frequency = 0; // Hz, from the rising zero crossings
    int periods = 0;
};
WaveToneMeasure waveMeasureTone(const std::vector<std::int16_t> &mono, double rate);

// Writes a stereo s16le sine into a FIFO, chunkMs of sound every chunkMs, from its own thread
// (the pipe source passes on exactly what it is given, as fast as it is given).
class WaveFifoTone {
public:
    WaveFifoTone(const std::string &fifo, double hz, double amplitude, unsigned rate = 44100,
                 unsigned chunkMs = 50);
    ~WaveFifoTone();
    bool opened() const { return fd_ >= 0; }
    void stop();

private:
    void run();
    int fd_ = -1;
    double hz_, amplitude_;
    unsigned rate_, chunkMs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A PulseAudio daemon of the test's own (scripts/pulse-daemon.sh), so killing it disturbs nobody.
class WavePrivateDaemon {
public:
    WavePrivateDaemon();
    ~WavePrivateDaemon();
    // Starts (again, after kill()) a daemon on the same folder and socket.
    bool start();
    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    std::string server() const; // address for pa_context_connect
    std::string fifo() const;
    // SIGKILL, then waits until the process is gone.
    bool kill();
    // Runs pactl against this daemon; returns its exit status.
    int pactl(const std::string &arguments) const;

private:
    std::string dir_;
    pid_t pid_ = -1;
};
