// What the program's streams do to PipeWire's graph. The graph runs at the smallest latency any
// node asks for, so one stream asking for 10 ms drags every stream of the desktop down with it;
// and PipeWire 0.3.65 leaves a native player (pw-cat) frozen when the quantum goes down and up
// again within milliseconds, so every change of it is a risk to the desktop's other players.
#include "fault_support.h"

#include "app/settings.h"
#include "audio/AudioIO.h"
#include "common/audio_notices.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <map>

namespace {

struct Latency {
    qint64 frames = 0;
    qint64 rate = 0;
    // Below PipeWire's largest quantum, 2048 frames at 48 kHz: such a node pulls the graph
    // down from where a plain recorder (parec, ffmpeg) leaves it.
    bool belowLargestQuantum() const { return rate <= 0 || frames * 48000 < 2048 * rate; }
};

// node.latency of every node of this process, by node id, as pw-dump shows them.
std::map<int, Latency> ourNodeLatencies(QString &error)
{
    std::map<int, Latency> nodes;
    QProcess dump;
    dump.start(QStringLiteral("pw-dump"), {});
    if (!dump.waitForFinished(10000) || dump.exitCode() != 0) {
        error = QStringLiteral("pw-dump failed: ") + QString::fromLocal8Bit(dump.readAllStandardError());
        return nodes;
    }
    const QJsonArray objects = QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
    for (const QJsonValue &value : objects) {
        const QJsonObject object = value.toObject();
        if (object.value(QStringLiteral("type")).toString() != QStringLiteral("PipeWire:Interface:Node"))
            continue;
        const QJsonObject props = object.value(QStringLiteral("info")).toObject().value(QStringLiteral("props")).toObject();
        if (props.value(QStringLiteral("application.process.id")).toVariant().toLongLong() != QCoreApplication::applicationPid())
            continue;
        const QStringList latency = props.value(QStringLiteral("node.latency")).toString().split(QLatin1Char('/'));
        Latency l;
        if (latency.size() == 2) {
            l.frames = latency[0].toLongLong();
            l.rate = latency[1].toLongLong();
        }
        nodes[object.value(QStringLiteral("id")).toInt()] = l;
    }
    return nodes;
}

// The lines the test server (scripts/pipewire-daemon.sh) and its feeders wrote into its log
// since mark().
class ServerLog
{
public:
    ServerLog() : file_(qEnvironmentVariable("QUAVREL_TEST_PULSE_DIR") + QStringLiteral("/daemon.log")) {}
    bool open() { return file_.open(QIODevice::ReadOnly | QIODevice::Text); }
    QString path() const { return file_.fileName(); }
    // PipeWire writes its informational lines of the topic pw.context ("pw_init() version",
    // "new quantum") only at the log level the test daemon starts it with.
    bool logsQuantum()
    {
        file_.seek(0);
        return file_.readAll().contains("pw.context");
    }
    void mark() { mark_ = file_.size(); }
    QStringList since(const char *needle)
    {
        QStringList found;
        file_.seek(mark_);
        while (!file_.atEnd()) {
            const QByteArray line = file_.readLine();
            if (line.contains(needle))
                found << QString::fromUtf8(line).trimmed();
        }
        return found;
    }

private:
    QFile file_;
    qint64 mark_ = 0;
};

class PipeWireLatency : public ServerFormTest
{
protected:
    void SetUp() override
    {
        if (!onPipeWire())
            GTEST_SKIP() << "PulseAudio has neither node latencies nor a graph quantum; scripts/test.sh runs this on PipeWire";
        ServerFormTest::SetUp();
        // The smallest encoder chunk: 1152 frames at 48 kHz, 24 ms.
        SelectByText(form->CSampleRate, QStringLiteral("48000 Hz"));
        ASSERT_EQ(form->CSampleRate->currentText(), QStringLiteral("48000 Hz"));
        // Voice control listens with the monitor and the pre-roll and never hears enough to start.
        form->CheckBox1->setChecked(true);
        form->SpinEdit1->setValue(32767);
        ASSERT_GT(form->SpinEdit3->Value(), 0);
    }

    // Voice control on, its first tick run: the monitor and the pre-roll capture.
    void startListening()
    {
        form->Button2->click();
        form->Timer2Timer();
        ASSERT_TRUE(form->AudioIn1->Capturing);
        ASSERT_EQ(form->FCapture, TCapture::PreRolling);
        ASSERT_TRUE(waveRunUntil([&] { return form->FPreRoll.Milliseconds() >= 500; }))
            << "the pre-roll hears nothing";
    }
    void stopListening()
    {
        form->Button2->click();
        ASSERT_FALSE(form->AudioIn1->Capturing);
        ASSERT_EQ(form->FCapture, TCapture::Idle);
    }
    void recordASecond()
    {
        ASSERT_TRUE(startRecording());
        ASSERT_TRUE(waveRunUntil([&] { return positionBytes() >= 48000 * 4; })) << "the recording hears nothing";
    }
    void stopRecording()
    {
        form->stop->click();
        ASSERT_TRUE(waitIdle());
    }

    // Waits until a node of ours is there: the one stream that the monitor, the pre-roll and
    // the recording of the same source share, asking for no less than the largest quantum.
    void expectOneLargeNode()
    {
        std::map<int, Latency> nodes;
        QString error;
        waveRunUntil([&] {
            nodes = ourNodeLatencies(error);
            return !error.isEmpty() || !nodes.empty();
        });
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(nodes.size(), 1u) << "nodes of process " << QCoreApplication::applicationPid();
        for (const auto &[id, l] : nodes)
            EXPECT_FALSE(l.belowLargestQuantum()) << "node " << id << " asks for " << l.frames << "/" << l.rate;
    }

    // Until the server has removed every stream of ours: what it changes in the graph then
    // belongs to the cycle that closed them.
    void awaitNoNodes()
    {
        QString error;
        ASSERT_TRUE(waveRunUntil([&] { return ourNodeLatencies(error).empty() || !error.isEmpty(); }));
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    }
};

// Ten cycles of a start and a stop, with a native player (the feeder's pw-cat) playing into the
// microphone all along and the graph's quantum changes counted in the server's log.
class PipeWireQuantum : public PipeWireLatency
{
protected:
    static constexpr int kCycles = 10;
    static constexpr int kMostChangesPerCycle = 2;

    void SetUp() override
    {
        PipeWireLatency::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!log.open())
            GTEST_SKIP() << "no test server log at " << log.path().toStdString() << "; scripts/test.sh keeps one";
        if (!log.logsQuantum())
            GTEST_SKIP() << "the test server does not log its quantum changes: PipeWire was started without "
                            "PIPEWIRE_DEBUG=pw.context:3 (scripts/pipewire-daemon.sh does that)";
        awaitNoNodes();
        drainFifo();
    }

    template<typename Start, typename Stop>
    void runCycles(Start start, Stop stop)
    {
        // Silence: what the feeder still holds when the test ends sounds on into the next one.
        CountedFeeder feeder(fifo(), 440.0, 0.0);
        ASSERT_TRUE(feeder.opened());
        const auto began = std::chrono::steady_clock::now();
        log.mark();
        for (int i = 0; i < kCycles && !HasFatalFailure(); ++i) {
            start();
            stop();
            awaitNoNodes();
        }
        const QStringList changes = log.since("new quantum");
        EXPECT_LE(changes.size(), kCycles * kMostChangesPerCycle) << changes.join(QLatin1Char('\n')).toStdString();

        // A frozen player takes no more from the FIFO, and its writer, which keeps the pace of
        // real time, falls behind; once it takes again, the feeder logs for how long it took nothing.
        const auto behind = [&] {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
            return seconds * 44100.0 - double(feeder.framesWritten());
        };
        EXPECT_TRUE(waveRunUntil([&] { return behind() < 44100.0 / 2; }, 5000))
            << "the player into the microphone takes nothing: " << behind() / 44100.0 << " s behind";
        feeder.stop();
        const QStringList stalls = log.since("took nothing");
        EXPECT_TRUE(stalls.isEmpty()) << stalls.join(QLatin1Char('\n')).toStdString();
        std::printf("%lld quantum changes in %d cycles, %lld feeder stalls\n", qlonglong(changes.size()), kCycles,
                    qlonglong(stalls.size()));
    }

    ServerLog log;
};

} // namespace

TEST_F(PipeWireLatency, NoStreamOfOursAsksForLessThanTheLargestQuantumWhileListeningOrRecording)
{
    startListening();
    expectOneLargeNode();
    recordASecond();
    expectOneLargeNode();
    stopRecording();
    stopListening();
}

TEST_F(PipeWireQuantum, RecordingStartsAndStopsChangeItAtMostTwiceEachAndThePlayerGoesOn)
{
    runCycles([&] { recordASecond(); }, [&] { stopRecording(); });
}

TEST_F(PipeWireQuantum, VoiceControlWithPreRollSwitchedOnAndOffChangesItAtMostTwiceEachAndThePlayerGoesOn)
{
    runCycles([&] { startListening(); }, [&] { stopListening(); });
}
