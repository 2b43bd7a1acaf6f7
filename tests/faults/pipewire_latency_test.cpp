// What the program's streams ask of PipeWire: the graph runs at the smallest latency any node
// asks for, so one stream asking for 10 ms drags every stream of the desktop down with it.
#include "fault_support.h"

#include "app/settings.h"
#include "audio/AudioIO.h"
#include "common/audio_notices.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <map>

namespace {

struct Latency {
    qint64 frames = 0;
    qint64 rate = 0;
    // PipeWire's largest default quantum, 2048 frames at 48 kHz: a stream asking for less
    // makes the graph's quantum flap as it starts and stops.
    bool belowDefaultQuantum() const { return frames * 48000 < 2048 * rate; }
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

class PipeWireLatency : public ServerFormTest
{
protected:
    void SetUp() override
    {
        if (!onPipeWire())
            GTEST_SKIP() << "PulseAudio has no node latency; scripts/test.sh runs this on PipeWire";
        ServerFormTest::SetUp();
        // The smallest encoder chunk: 1152 frames at 48 kHz, 24 ms.
        SelectByText(form->CSampleRate, QStringLiteral("48000 Hz"));
        ASSERT_EQ(form->CSampleRate->currentText(), QStringLiteral("48000 Hz"));
    }

    // Waits until a node of ours is there: exactly one, asking for no less than the quantum.
    void expectOneNode()
    {
        std::map<int, Latency> nodes;
        QString error;
        waveRunUntil([&] {
            nodes = ourNodeLatencies(error);
            return !error.isEmpty() || !nodes.empty();
        }, 10000);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(nodes.size(), 1u);
        for (const auto &[id, l] : nodes) {
            EXPECT_GT(l.rate, 0) << "node " << id << " asks for no latency";
            EXPECT_FALSE(l.belowDefaultQuantum()) << "node " << id << " asks for " << l.frames << "/" << l.rate;
        }
    }
};

} // namespace

TEST_F(PipeWireLatency, NoStreamAsksForLessThanTheDefaultQuantumWhileListeningOrRecording)
{
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(32767); // nothing is loud enough to start a recording
    form->Button2->click();
    form->Timer2Timer();
    ASSERT_TRUE(form->AudioIn1->Capturing);
    // The monitor and the pre-roll beside it share one stream.
    expectOneNode();

    ASSERT_TRUE(startRecording());
    // The recording, in chunks of 24 ms, joins it.
    expectOneNode();
    form->stop->click();
    ASSERT_TRUE(waitIdle());
    form->Button2->click();
}
