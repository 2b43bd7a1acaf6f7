#pragma once
// Helpers for the fault tests: a paced, counted feeder for a pipe source's FIFO, the window
// over a PulseAudio daemon of the test's own, and the resident size of this process.
#include "app/Form1.h"
#include "common/app_fixture.h"
#include "common/audio_tone.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// Writes a stereo 44100 Hz s16le sine into a FIFO at the pace of real time, 20 ms at a time,
// until `totalFrames` are written (0: until stopped), and counts every frame the pipe took.
class CountedFeeder
{
public:
    CountedFeeder(const std::string &fifo, double hz, double amplitude, std::uint64_t totalFrames = 0);
    ~CountedFeeder();
    bool opened() const { return FFd >= 0; }
    std::uint64_t framesWritten() const { return FWritten; }
    bool done() const { return FDone; }
    void stop();

private:
    void run();
    int FFd = -1;
    double FHz, FAmplitude;
    std::uint64_t FTotal;
    std::atomic<std::uint64_t> FWritten{0};
    std::atomic<bool> FDone{false};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// The window listing a sound server's sources, recording its "PipeSource" to take.mp3: the
// server of the test command (scripts/test.sh), PulseAudio or PipeWire.
class ServerFormTest : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // The window on `server` ("" = the test command's); a failed assertion says what went wrong.
    void openForm(const std::string &server);
    // The FIFO whose sound reaches "PipeSource" of the test command's server.
    static std::string fifo();
    // Empties the FIFO of what earlier writers left in it while nobody read the source.
    static void drainFifo();
    // The test command's server is PipeWire (its PulseAudio service).
    static bool onPipeWire();

    // Record clicked; true once the device has opened and sound comes in.
    bool startRecording();
    // Bytes the session's device has put into buffers so far.
    std::uint64_t positionBytes() const;
    std::uint64_t droppedBytes() const;
    // Runs the event loop until the session is over and the close notice handled.
    bool waitIdle(int timeoutMs = 20000);

    WorkDir work;
    BoxLog boxes;
    DesktopLog desktop;
    std::unique_ptr<TForm1> form;
};

// The same window over a PulseAudio daemon of the test's own, which it may kill.
class PulseFormTest : public ServerFormTest
{
protected:
    void SetUp() override;

    WavePrivateDaemon daemon;
};

// Resident pages of this process, from /proc/self/statm, in bytes.
std::uint64_t residentBytes();
