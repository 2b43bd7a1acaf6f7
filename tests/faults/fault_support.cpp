#include "fault_support.h"

#include "app/settings.h"
#include "audio/pulsewavein.h"
#include "testing/virtualwavein.h"
#include "common/audio_notices.h"

#include <QComboBox>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#include <vector>

CountedFeeder::CountedFeeder(const std::string &fifo, double hz, double amplitude, std::uint64_t totalFrames)
    : FHz(hz), FAmplitude(amplitude), FTotal(totalFrames)
{
    // A source unloaded under the writer closes the reading end: a write then fails, quietly.
    std::signal(SIGPIPE, SIG_IGN);
    FFd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (FFd >= 0)
        FThread = std::thread([this] { run(); });
}

CountedFeeder::~CountedFeeder()
{
    stop();
    if (FFd >= 0)
        ::close(FFd);
}

void CountedFeeder::stop()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
}

void CountedFeeder::run()
{
    constexpr unsigned kRate = 44100, kChunkMs = 20;
    constexpr std::size_t kFrames = kRate * kChunkMs / 1000;
    std::vector<std::int16_t> chunk(kFrames * 2);
    std::uint64_t frame = 0;
    auto next = std::chrono::steady_clock::now();
    while (!FStop && (FTotal == 0 || frame < FTotal)) {
        const std::size_t n = FTotal == 0 ? kFrames : std::size_t(std::min<std::uint64_t>(kFrames, FTotal - frame));
        for (std::size_t i = 0; i < n; ++i) {
            const auto s = std::int16_t(std::lround(FAmplitude * std::sin(2.0 * M_PI * FHz * double(frame + i) / kRate)));
            chunk[2 * i] = chunk[2 * i + 1] = s;
        }
        const char *p = reinterpret_cast<const char *>(chunk.data());
        std::size_t left = n * 4;
        while (left > 0 && !FStop) {
            const ssize_t w = ::write(FFd, p, left);
            if (w < 0 && errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            if (w <= 0)
                break; // the reader is gone
            p += w;
            left -= std::size_t(w);
            FWritten += std::uint64_t(w) / 4;
        }
        if (left > 0)
            break;
        frame += n;
        next += std::chrono::milliseconds(kChunkMs);
        std::this_thread::sleep_until(next);
    }
    FDone = true;
}

void ServerFormTest::SetUp()
{
    ASSERT_TRUE(qEnvironmentVariableIsSet("QUAVREL_TEST_FIFO")) << "run the tests through scripts/test.sh";
    openForm("");
}

void ServerFormTest::openForm(const std::string &server)
{
    ASSERT_FALSE(VirtualWaveIn::installed());
    pulseWaveInSetServer(server);
    form = std::make_unique<TForm1>();
    ASSERT_FALSE(form->StartupFailed());
    SelectByText(form->CDevices, QStringLiteral("PipeSource"));
    ASSERT_EQ(form->CDevices->currentText(), QStringLiteral("PipeSource"));
    form->EOutFile->setText(QStringLiteral("take.mp3"));
}

void ServerFormTest::TearDown()
{
    form.reset();
    VirtualWaveIn::deliverNotices();
    pulseWaveInSetServer("");
}

std::string ServerFormTest::fifo()
{
    return qEnvironmentVariable("QUAVREL_TEST_FIFO").toStdString();
}

void ServerFormTest::drainFifo()
{
    const int fd = ::open(fifo().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    char sink[65536];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
    ::close(fd);
}

bool ServerFormTest::onPipeWire()
{
    return qEnvironmentVariable("QUAVREL_TEST_SERVER") == QStringLiteral("pipewire");
}

void PulseFormTest::SetUp()
{
    ASSERT_TRUE(daemon.started());
    openForm(daemon.server());
}

bool ServerFormTest::startRecording()
{
    form->DFBRecordStart->click();
    return waveRunUntil([&] { return form->FRecording && !form->DFBRecordStart->isEnabled(); }, 10000);
}

std::uint64_t ServerFormTest::positionBytes() const
{
    MMTIME t{};
    t.wType = TIME_BYTES;
    if (waveInGetPosition(form->FWaveIn, &t, sizeof(t)) != MMSYSERR_NOERROR)
        return 0;
    return t.u.cb;
}

std::uint64_t ServerFormTest::droppedBytes() const
{
    std::uint64_t dropped = ~0ull;
    waveInGetDroppedBytes(form->FWaveIn, &dropped);
    return dropped;
}

bool ServerFormTest::waitIdle(int timeoutMs)
{
    return waveRunUntil([&] { return !form->FRecording && form->DFBRecordStart->isEnabled(); }, timeoutMs);
}

std::uint64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * std::uint64_t(sysconf(_SC_PAGESIZE));
}
