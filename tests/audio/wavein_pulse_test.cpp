// The wave-input service and the capture component against real PulseAudio daemons:
// the one scripts/test.sh starts, and private ones these tests start and kill.
#include "audio/AudioIO.h"
#include "audio/pulsewavein.h"
#include "testing/virtualwavein.h"
#include "audio/wavein.h"
#include "common/audio_notices.h"
#include "common/audio_tone.h"

#include <QProcess>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class PulseWaveIn : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(VirtualWaveIn::installed());
        ASSERT_TRUE(qEnvironmentVariableIsSet("QUAVREL_TEST_FIFO")) << "run the tests through scripts/test.sh";
        fifo = qEnvironmentVariable("QUAVREL_TEST_FIFO").toStdString();
    }

    static int findDevice(const char *description)
    {
        const UINT n = waveInGetNumDevs();
        for (UINT i = 0; i < n; ++i) {
            WAVEINCAPSA caps{};
            if (waveInGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR &&
                std::string(caps.szPname) == description)
                return int(i);
        }
        return -1;
    }

    static bool onPipeWire() { return qEnvironmentVariable("QUAVREL_TEST_SERVER") == QStringLiteral("pipewire"); }
    // The amplitude a mono capture hears of a tone fed equally to both channels of the stereo
    // source: the stream runs in the source's two channels and the service takes their mean,
    // on either server (PipeWire's own downmix would add them at -3 dB each).
    static double monoAmplitude(double fed) { return fed; }

    // A microphone fed through PipeWire hears what is written some 0.4 s later (a pipe source
    // at once), and the sound of the test before may still be on its way: let it pass.
    static void awaitFeed()
    {
        if (onPipeWire())
            waveRunUntil([] { return false; }, 700);
    }

    std::string fifo;
};

// Points the service at a private daemon for one test and back at the usual one after it.
struct ServerScope {
    explicit ServerScope(const std::string &server) { pulseWaveInSetServer(server); }
    ~ServerScope() { pulseWaveInSetServer(""); }
};

std::vector<std::int16_t> tail(const std::vector<std::int16_t> &v, std::size_t n)
{
    return {v.end() - std::ptrdiff_t(std::min(n, v.size())), v.end()};
}

} // namespace

TEST_F(PulseWaveIn, ListsTheDaemonsSourcesInputsFirstWithTheDefault)
{
    const UINT n = waveInGetNumDevs();
    ASSERT_GE(n, 2u) << waveInGetUnavailableReason();
    EXPECT_EQ(waveInGetUnavailableReason(), "");
    const int pipe = findDevice("PipeSource");
    const int monitor = findDevice("Monitor of NullSink");
    ASSERT_GE(pipe, 0);
    ASSERT_GE(monitor, 0);
    EXPECT_LT(pipe, monitor) << "real inputs come before monitors";
    UINT def = 99;
    ASSERT_EQ(waveInGetDefaultDevice(&def), MMSYSERR_NOERROR);
    EXPECT_EQ(int(def), pipe);
    WAVEINCAPSA caps{};
    ASSERT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "PipeSource");
    EXPECT_EQ(waveInGetDeviceDescription(UINT(monitor)), "Monitor of NullSink");
    EXPECT_EQ(waveInGetDevCapsA(n, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
}

TEST_F(PulseWaveIn, TheCaptureComponentHearsAPacedToneExactly)
{
    WaveFifoTone tone(fifo, 1000.0, 10000.0);
    ASSERT_TRUE(tone.opened());
    awaitFeed();
    QWidget owner;
    auto *in = new TAudioIn(&owner);
    in->SetBufferSize(4096);
    in->SetFrameRate(22050);
    std::vector<std::int16_t> captured;
    captured.reserve(22050 * 10);
    std::vector<std::int32_t> sizes;
    in->OnBufferFilled = [&](void *buffer, std::int32_t &size) {
        const auto *s = static_cast<const std::int16_t *>(buffer);
        captured.insert(captured.end(), s, s + size / 2);
        sizes.push_back(size);
        return true;
    };
    ASSERT_TRUE(in->StartCapture(in)) << in->ErrorText.toStdString();
    ASSERT_TRUE(waveRunUntil([&] { return captured.size() >= 22050 * 2; }, 30000))
        << "captured " << captured.size() << " samples";
    in->StopNow();
    tone.stop();
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 4096), std::ptrdiff_t(sizes.size()));
    const WaveToneMeasure m = waveMeasureTone(tail(captured, 22050), 22050.0);
    EXPECT_NEAR(m.frequency, 1000.0, 10.0);
    EXPECT_NEAR(m.amplitude, monoAmplitude(10000.0), 100.0);
}

TEST_F(PulseWaveIn, StopHandsBackAPartFilledBufferAndStartResumes)
{
    WaveFifoTone tone(fifo, 1000.0, 8000.0);
    ASSERT_TRUE(tone.opened());
    awaitFeed();
    WaveNoticeLog log;
    const WAVEFORMATEX f = wavePcmFormat(22050, 1);
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WaveBuffers buffers(2, 44100); // a second each
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    auto position = [&] {
        MMTIME t{TIME_BYTES, {}};
        waveInGetPosition(h, &t, sizeof(t));
        return t.u.cb;
    };
    ASSERT_TRUE(waveRunUntil([&] { return position() >= 22050 / 2; }, 20000));
    ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_DATA) >= 1; }));
    const auto first = log.data().at(0);
    EXPECT_EQ(first.header, buffers.header(0));
    EXPECT_GT(first.bytesRecorded, 0u);
    EXPECT_LT(first.bytesRecorded, 44100u);
    EXPECT_EQ(first.bytesRecorded, position()) << "nothing arrives after the stop";
    UINT queued = 0;
    waveInGetQueuedCount(h, &queued);
    EXPECT_EQ(queued, 1u);
    EXPECT_NEAR(waveMeasureTone(tail(buffers.samples(buffers.header(0)), 4410), 22050).amplitude, monoAmplitude(8000), 160);

    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_DATA) >= 2; }, 20000));
    EXPECT_EQ(log.data().at(1).header, buffers.header(1));
    EXPECT_EQ(log.data().at(1).bytesRecorded, 44100u);
    const WaveToneMeasure m = waveMeasureTone(tail(buffers.samples(buffers.header(1)), 11025), 22050);
    EXPECT_NEAR(m.frequency, 1000.0, 10.0);
    EXPECT_NEAR(m.amplitude, monoAmplitude(8000.0), 80.0);
    EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    buffers.unprepareAll(h);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_CLOSE) == 1; }));
}

TEST_F(PulseWaveIn, ADaemonKilledDuringCaptureGivesEveryBufferBack)
{
    WavePrivateDaemon daemon;
    ASSERT_TRUE(daemon.started());
    ServerScope scope(daemon.server());
    ASSERT_GE(waveInGetNumDevs(), 2u) << waveInGetUnavailableReason();
    const int monitor = findDevice("Monitor of NullSink"); // silence at real-time pace
    ASSERT_GE(monitor, 0);

    WaveNoticeLog log;
    HWAVEIN h = nullptr;
    bool lost = false;
    log.onNotice = [&](const WaveNoticeLog::Entry &e) {
        if (e.message == MM_WIM_DATA && !lost)
            waveInAddBuffer(h, e.header, sizeof(WAVEHDR)); // refused once the device is gone
        if (e.message == MM_WIM_DEVICELOST)
            lost = true;
    };
    const WAVEFORMATEX f = wavePcmFormat(22050, 1);
    ASSERT_EQ(waveInOpen(&h, UINT(monitor), &f, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WaveBuffers buffers(4, 2205); // 50 ms each... rounded to whole frames
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_DATA) >= 6; }, 20000));

    ASSERT_TRUE(daemon.kill());
    ASSERT_TRUE(waveRunUntil([&] { return lost; }, 20000));
    EXPECT_EQ(log.entries.back().message, MM_WIM_DEVICELOST);
    UINT queued = 99;
    EXPECT_EQ(waveInGetQueuedCount(h, &queued), MMSYSERR_NOERROR);
    EXPECT_EQ(queued, 0u);
    for (int i = 0; i < buffers.count(); ++i) {
        EXPECT_FALSE(buffers.header(i)->dwFlags & WHDR_INQUEUE) << i;
        EXPECT_TRUE(buffers.header(i)->dwFlags & WHDR_DONE) << i;
    }
    EXPECT_EQ(waveInAddBuffer(h, buffers.header(0), sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStart(h), MMSYSERR_NODRIVER);
    buffers.unprepareAll(h);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_CLOSE) == 1; }));

    // The next call finds the connection dead and makes a new one.
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    ASSERT_TRUE(daemon.start());
    EXPECT_GE(waveInGetNumDevs(), 2u) << waveInGetUnavailableReason();
}

TEST_F(PulseWaveIn, ASourceThatGoesAwayLosesItsDevicesOnly)
{
    WavePrivateDaemon daemon;
    ASSERT_TRUE(daemon.started());
    ServerScope scope(daemon.server());
    ASSERT_GE(waveInGetNumDevs(), 2u);
    const int monitor = findDevice("Monitor of NullSink");
    ASSERT_GE(monitor, 0);
    WaveNoticeLog log;
    HWAVEIN h = nullptr;
    log.onNotice = [&](const WaveNoticeLog::Entry &e) {
        if (e.message == MM_WIM_DATA && log.count(MM_WIM_DEVICELOST) == 0)
            waveInAddBuffer(h, e.header, sizeof(WAVEHDR));
    };
    const WAVEFORMATEX f = wavePcmFormat(16000, 2);
    ASSERT_EQ(waveInOpen(&h, UINT(monitor), &f, &log, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WaveBuffers buffers(3, 6400);
    ASSERT_EQ(buffers.prepareAndAddAll(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_DATA) >= 2; }, 20000));
    ASSERT_EQ(daemon.pactl("unload-module module-null-sink"), 0);
    ASSERT_TRUE(waveRunUntil([&] { return log.count(MM_WIM_DEVICELOST) == 1; }, 20000));
    UINT queued = 99;
    waveInGetQueuedCount(h, &queued);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    // The server itself is still there, with its other source.
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    EXPECT_EQ(findDevice("PipeSource"), 0);
}

// The default device opened first and the same source by id beside it share one stream, which
// the server moves elsewhere when the source goes: the handle opened by id is lost with its
// device, the default one goes on.
TEST_F(PulseWaveIn, ASharedStreamMovedOffItsSourceLosesOnlyTheHandleOpenedById)
{
    WavePrivateDaemon daemon;
    ASSERT_TRUE(daemon.started());
    ServerScope scope(daemon.server());
    ASSERT_EQ(daemon.pactl("set-default-source nullsink.monitor"), 0);
    ASSERT_GE(waveInGetNumDevs(), 2u);
    const int monitor = findDevice("Monitor of NullSink");
    ASSERT_GE(monitor, 0);
    WaveNoticeLog byDefault, byId;
    const WAVEFORMATEX mono = wavePcmFormat(22050, 1), stereo = wavePcmFormat(44100, 2);
    HWAVEIN d = nullptr, i = nullptr;
    ASSERT_EQ(waveInOpen(&d, WAVE_MAPPER, &mono, &byDefault, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&i, UINT(monitor), &stereo, &byId, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WaveBuffers db(2, 4410), ib(2, 17640);
    ASSERT_EQ(db.prepareAndAddAll(d), MMSYSERR_NOERROR);
    ASSERT_EQ(ib.prepareAndAddAll(i), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(i), MMSYSERR_NOERROR);
    ASSERT_TRUE(waveRunUntil([&] { return byDefault.count(MM_WIM_DATA) >= 1 && byId.count(MM_WIM_DATA) >= 1; }, 20000));
    ASSERT_EQ(daemon.pactl("unload-module module-null-sink"), 0);
    ASSERT_TRUE(waveRunUntil([&] { return byId.count(MM_WIM_DEVICELOST) == 1; }, 20000));
    waveRunUntil([] { return false; }, 300);
    EXPECT_EQ(byDefault.count(MM_WIM_DEVICELOST), 0);
    EXPECT_EQ(waveInStop(d), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInReset(d), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(d), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(i), MMSYSERR_NOERROR);
}

TEST_F(PulseWaveIn, TheCaptureComponentSurvivesItsDaemonDying)
{
    WavePrivateDaemon daemon;
    ASSERT_TRUE(daemon.started());
    ServerScope scope(daemon.server());
    ASSERT_GE(waveInGetNumDevs(), 2u);
    QWidget owner;
    auto *in = new TAudioIn(&owner);
    in->SetBufferSize(1024);
    int filled = 0, lostNotices = 0;
    in->OnBufferFilled = [&](void *, std::int32_t &) { return ++filled, true; };
    in->OnDeviceLost = [&](QObject *) { ++lostNotices; };
    WaveFifoTone tone(daemon.fifo(), 500.0, 3000.0);
    ASSERT_TRUE(in->StartCapture(in)) << in->ErrorText.toStdString();
    ASSERT_TRUE(waveRunUntil([&] { return filled >= 4; }, 20000));
    ASSERT_TRUE(daemon.kill());
    ASSERT_TRUE(waveRunUntil([&] { return lostNotices == 1; }, 20000));
    EXPECT_FALSE(in->Capturing);
    EXPECT_FALSE(in->DeviceOpen());
    EXPECT_EQ(in->ErrorText, InErrorText(MMSYSERR_NODRIVER));
    tone.stop();
    in->StopNow(); // harmless on a closed component
}

TEST_F(PulseWaveIn, NoServerMeansNoDevicesAndSaysWhy)
{
    ServerScope scope("unix:/tmp/quavrel-no-server-here/native");
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(waveInGetUnavailableReason(), "Connection refused");
    HWAVEIN h = nullptr;
    const WAVEFORMATEX f = wavePcmFormat(22050, 1);
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    QWidget owner;
    auto *in = new TAudioIn(&owner);
    EXPECT_FALSE(in->StartCapture(in));
    EXPECT_EQ(in->ErrorText, InErrorText(MMSYSERR_NODRIVER));
    EXPECT_TRUE(owner.findChildren<TCallBackWinIn *>().isEmpty());
}

TEST_F(PulseWaveIn, TheServiceComesBackAfterBeingPointedElsewhere)
{
    {
        ServerScope scope("unix:/tmp/quavrel-no-server-here/native");
        EXPECT_EQ(waveInGetNumDevs(), 0u);
    }
    EXPECT_GE(waveInGetNumDevs(), 2u);
    EXPECT_EQ(waveInGetUnavailableReason(), "");
}

TEST_F(PulseWaveIn, EightBitAndStereoFormatsOpen)
{
    for (const WAVEFORMATEX &f : {wavePcmFormat(8000, 1, 8), wavePcmFormat(48000, 2, 16), wavePcmFormat(11025, 2, 8)}) {
        HWAVEIN h = nullptr;
        ASSERT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << f.nSamplesPerSec;
        EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInStop(h), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    }
}

namespace {

// A null sink loaded with pactl on the test server, unloaded again when it goes out of scope;
// its monitor is a source both PulseAudio and PipeWire list and announce.
class LoadedSink {
public:
    LoadedSink(const QString &name, const QString &description)
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                              QStringLiteral("sink_name=") + name,
                                              QStringLiteral("sink_properties=device.description=") + description});
        if (pactl.waitForFinished(10000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0)
            module_ = QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
    }
    ~LoadedSink() { unload(); }
    LoadedSink(const LoadedSink &) = delete;
    LoadedSink &operator=(const LoadedSink &) = delete;

    bool loaded() const { return !module_.isEmpty(); }
    bool unload()
    {
        if (module_.isEmpty())
            return true;
        const int status = QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module_});
        module_.clear();
        return status == 0;
    }

private:
    QString module_;
};

// The id of the device whose whole description holds `text`, in a list refreshed now; -1 if none.
int refreshedDeviceWith(const std::string &text)
{
    const UINT n = waveInRefreshDevices(false);
    for (UINT i = 0; i < n; ++i)
        if (waveInGetDeviceDescription(i).find(text) != std::string::npos)
            return int(i);
    return -1;
}

} // namespace

TEST_F(PulseWaveIn, ALoadedSourceAppearsOnItsNoticeWithItsWholeDescriptionAndGoesWhenUnloaded)
{
    const UINT sources = waveInGetNumDevs();
    ASSERT_GE(sources, 1u) << waveInGetUnavailableReason();
    // Alike in their first 32 bytes, as the inputs of one sound card are.
    const std::string analog = "Quavrel-Hotplug-HD-Audio-Controller-Analog-Stereo";
    const std::string digital = "Quavrel-Hotplug-HD-Audio-Controller-Digital-Stereo";
    ASSERT_EQ(refreshedDeviceWith(analog), -1);
    WaveNoticeLog log;
    ASSERT_EQ(waveInWatchDevices(&log), MMSYSERR_NOERROR);
    struct Unwatch {
        ~Unwatch() { waveInWatchDevices(nullptr); }
    } unwatch;

    LoadedSink first(QStringLiteral("quavrel_hotplug_a"), QString::fromStdString(analog));
    LoadedSink second(QStringLiteral("quavrel_hotplug_b"), QString::fromStdString(digital));
    ASSERT_TRUE(first.loaded());
    ASSERT_TRUE(second.loaded());
    // Looked for only once the server has said that its sources changed.
    ASSERT_TRUE(waveRunUntil([&] {
        return log.count(MM_WIM_DEVICESCHANGED) > 0 && refreshedDeviceWith(analog) >= 0
               && refreshedDeviceWith(digital) >= 0;
    }));
    const int a = refreshedDeviceWith(analog);
    const int d = refreshedDeviceWith(digital);
    ASSERT_NE(a, d);
    EXPECT_EQ(waveInGetDeviceDescription(UINT(a)).size(), analog.size() + std::string("Monitor of ").size());
    EXPECT_NE(waveInGetDeviceDescription(UINT(a)), waveInGetDeviceDescription(UINT(d)));
    EXPECT_EQ(waveInGetDeviceName(UINT(a)), "quavrel_hotplug_a.monitor");
    EXPECT_EQ(waveInGetDeviceName(UINT(d)), "quavrel_hotplug_b.monitor");

    const int before = log.count(MM_WIM_DEVICESCHANGED);
    ASSERT_TRUE(first.unload());
    ASSERT_TRUE(second.unload());
    ASSERT_TRUE(waveRunUntil([&] {
        return log.count(MM_WIM_DEVICESCHANGED) > before && refreshedDeviceWith(analog) < 0
               && refreshedDeviceWith(digital) < 0;
    }));
    EXPECT_EQ(waveInRefreshDevices(false), sources);
}
