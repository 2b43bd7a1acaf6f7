// recorder.ini as anything a disk may hold: thousands of generated files, each loaded into
// one window. A value that does not read leaves the control as it was; a later save keeps
// whatever the program does not know.
#include "app/settings.h"
#include "common/app_fixture.h"

#include <QComboBox>

#include <array>
#include <random>

namespace {

struct Controls
{
    QString device, sampleRate, channels, mode, bitrate, quality, fileName;
    int vbr = 0, dbMax = 0, dppd = 0;
    bool outFile = false, timeStamp = false, dbrec = false, dbrec2 = false;

    bool operator==(const Controls &) const = default;
};

void PrintTo(const Controls &c, std::ostream *os)
{
    *os << c.device.toStdString() << '|' << c.sampleRate.toStdString() << '|' << c.channels.toStdString() << '|'
        << c.mode.toStdString() << '|' << c.bitrate.toStdString() << '|' << c.quality.toStdString() << '|'
        << c.fileName.left(40).toStdString() << "(" << c.fileName.size() << ")|vbr " << c.vbr << "|dbMax "
        << c.dbMax << "|dppd " << c.dppd << "|" << c.outFile << c.timeStamp << c.dbrec << c.dbrec2;
}

Controls snapshot(const TForm1 &f)
{
    Controls c;
    c.device = f.CDevices->currentText();
    c.sampleRate = f.CSampleRate->currentText();
    c.channels = f.CChannels->currentText();
    c.mode = f.CMode->currentText();
    c.bitrate = f.CBitrate->currentText();
    c.quality = f.CQuality->currentText();
    c.fileName = f.EOutFile->text();
    c.vbr = f.CVBRQuality->value();
    c.dbMax = f.SpinEdit1->Value();
    c.dppd = f.SpinEdit2->Value();
    c.outFile = f.COutFile->isChecked();
    c.timeStamp = f.CTimeStamp->isChecked();
    c.dbrec = f.CheckBox1->isChecked();
    c.dbrec2 = f.CheckBox2->isChecked();
    return c;
}

void restore(TForm1 &f, const Controls &c)
{
    SelectByText(f.CDevices, c.device);
    SelectByText(f.CSampleRate, c.sampleRate);
    SelectByText(f.CChannels, c.channels);
    SelectByText(f.CMode, c.mode);
    SelectByText(f.CBitrate, c.bitrate);
    SelectByText(f.CQuality, c.quality);
    f.EOutFile->setText(c.fileName);
    f.CVBRQuality->setValue(c.vbr);
    f.SpinEdit1->setValue(c.dbMax);
    f.SpinEdit2->setValue(c.dppd);
    f.COutFile->setChecked(c.outFile);
    f.CTimeStamp->setChecked(c.timeStamp);
    f.CheckBox1->setChecked(c.dbrec);
    f.CheckBox2->setChecked(c.dbrec2);
}

enum class Kind { Text, Integer, Boolean, FileName };
struct Key
{
    const char *section;
    const char *name;
    Kind kind;
};
const std::array<Key, 14> kKeys{{
    {"Format", "Device", Kind::Text},          {"Format", "SampleRate", Kind::Text},
    {"Format", "Channels", Kind::Text},        {"Format", "Mode", Kind::Text},
    {"Format", "Bitrate", Kind::Text},         {"Format", "VBRQuality", Kind::Integer},
    {"Format", "Quality", Kind::Text},         {"FileOutput", "Enabled", Kind::Boolean},
    {"FileOutput", "TimeStamp", Kind::Boolean}, {"FileOutput", "FileName", Kind::FileName},
    {"Db", "dbMax", Kind::Integer},            {"Db", "dbrec", Kind::Boolean},
    {"Db", "dbrec2", Kind::Boolean},           {"Db", "dppd", Kind::Integer},
}};

// Values that read as nothing for any of the controls.
const std::array<QByteArray, 16> kUnreadable{
    QByteArray(""),
    QByteArray("   "),
    QByteArray("12abc"),
    QByteArray("99999999999999999999999999"),
    QByteArray("-99999999999999999999"),
    QByteArray("0x"),
    QByteArray("0x1FFFFFFFF"),
    QByteArray("--5"),
    QByteArray("1e5"),
    QByteArray("3.5"),
    QByteArray("yes"),
    QByteArray("\xff\xfe\xfd"),
    QByteArray("\xe4\xb8"),     // a cut UTF-8 sequence
    QByteArray("\xc4\xe3\xba\xc3"), // GBK, not UTF-8
    QByteArray("$g"),
    QByteArray("7 7"),
};

class Generator
{
public:
    explicit Generator(std::uint32_t seed) : FRandom(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }
    QByteArray bytes(int n, bool noLineBreaks = false)
    {
        QByteArray b(n, '\0');
        for (char &c : b) {
            c = char(below(256));
            if (noLineBreaks && (c == '\n' || c == '\r' || c == '\0'))
                c = 'x';
        }
        return b;
    }
    // A line that is neither a section nor a key the program knows.
    QByteArray noise()
    {
        switch (below(7)) {
        case 0: return "; " + bytes(below(80), true);
        case 1: return "unknown" + QByteArray::number(below(1000)) + "=" + bytes(below(60), true).replace('[', '(');
        case 2: return QByteArray(20000 + below(50000), 'A'); // huge line without '='
        case 3: return "NoBracketSection";
        case 4: return "=" + QByteArray::number(below(100));
        case 5: return "# " + QByteArray(below(300), '\x01');
        default: return "  " + QByteArray::number(std::uniform_int_distribution<qint64>()(FRandom));
        }
    }

private:
    std::mt19937 FRandom;
};

class SettingsFuzzTest : public FormTest
{
protected:
    void SetUp() override
    {
        build({"Virtual Mic", "USB 麦克风"});
        defaults = snapshot(*form);
        ini = work.file(QStringLiteral("recorder.ini"));
    }

    void load(const QByteArray &bytes)
    {
        restore(*form, defaults);
        work.write(QStringLiteral("recorder.ini"), bytes);
        form->LoadSettings();
    }

    Controls defaults;
    QString ini;
};

} // namespace

TEST_F(SettingsFuzzTest, TenThousandGeneratedFilesLoadAndKeepTheDefaultsWhereNothingReads)
{
    Generator g(20261209);
    ASSERT_EQ(defaults.sampleRate, QStringLiteral("44100 Hz"));
    int structured = 0, raw = 0, saved = 0;
    for (int n = 0; n < 10000; ++n) {
        QByteArray file;
        Controls expected = defaults;
        const int shape = g.below(10);
        if (shape < 6) {
            // The three sections with every known key either missing or unreadable, noise between.
            ++structured;
            const char *current = "";
            for (const Key &k : kKeys) {
                if (qstrcmp(current, k.section) != 0) {
                    current = k.section;
                    file += g.below(2) ? QByteArray("[") + k.section + "]\n" : QByteArray("[") + k.section + "] \r\n";
                }
                if (g.below(4) == 0)
                    file += g.noise() + "\n";
                if (g.below(3) == 0)
                    continue;
                if (k.kind == Kind::FileName) {
                    // Any text reads as a file name: a long one is cut to 2047 characters.
                    QByteArray name = g.below(2) ? QByteArray(2047 + g.below(5000), 'n') : QByteArray("take.mp3");
                    file += QByteArray(k.name) + "=" + name + "\n";
                    expected.fileName = QString::fromLatin1(name.left(2047));
                    continue;
                }
                const QByteArray &v = kUnreadable[std::size_t(g.below(int(kUnreadable.size())))];
                file += (g.below(2) ? QByteArray(k.name) : QByteArray(k.name).toUpper()) + "=" + v + "\n";
            }
            file += "[Extra]\nkept" + QByteArray::number(n) + "=value\n";
            // A section header with no closing bracket at the end, as a cut-off file has.
            if (g.below(2))
                file += "[Format";
        } else if (shape < 9) {
            // Bytes with no line that could open a section: nothing reads.
            ++raw;
            file = g.bytes(g.below(shape == 8 ? 200000 : 4000));
            file.replace('[', '{');
            if (g.below(2))
                file.prepend("\xef\xbb\xbf");
        } else {
            // Other encodings of a file that would read: UTF-16 with its mark, and NUL-riddled.
            ++raw;
            const QString text = QStringLiteral("[Format]\nSampleRate=22050 Hz\n[Db]\ndppd=3\n");
            if (g.below(2)) {
                file = QByteArray("\xff\xfe");
                for (QChar c : text)
                    file += char(c.unicode() & 0xFF), file += char(c.unicode() >> 8);
                load(file);
                ASSERT_EQ(form->CSampleRate->currentText(), QStringLiteral("22050 Hz")) << n;
                ASSERT_EQ(form->SpinEdit2->Value(), 3) << n;
                continue;
            } else {
                file = text.toLatin1();
                for (int i = 0; i < 200; ++i)
                    file.insert(g.below(int(file.size())), '\0');
                file.replace("=", "\0=");
            }
            // What a NUL-riddled file still yields is up to the reader; it must stay sane.
            load(file);
            const Controls got = snapshot(*form);
            ASSERT_GE(form->CSampleRate->currentIndex(), 0) << n;
            ASSERT_GE(got.vbr, 0) << n;
            ASSERT_LE(got.vbr, 9) << n;
            continue;
        }
        load(file);
        ASSERT_EQ(snapshot(*form), expected) << "file " << n << ", shape " << shape;

        if (shape < 6 && n % 97 == 0) {
            ++saved;
            form->SaveSettings();
            const QByteArray after = work.read(QStringLiteral("recorder.ini"));
            ASSERT_TRUE(after.contains("kept" + QByteArray::number(n) + "=value")) << n;
            ASSERT_TRUE(after.contains("[Extra]")) << n;
            // What was saved reads back to the same controls.
            form->LoadSettings();
            ASSERT_EQ(snapshot(*form), expected) << n;
        }
    }
    EXPECT_GT(structured, 5000);
    EXPECT_GT(raw, 3000);
    EXPECT_GT(saved, 50);
}

TEST_F(SettingsFuzzTest, ValuesThatReadAreTakenBesideOnesThatDoNot)
{
    Generator g(7);
    for (int n = 0; n < 500; ++n) {
        Controls expected = defaults;
        QByteArray file = "[format]\n";
        if (g.below(2)) {
            file += "samplerate=22050 hz\n";
            expected.sampleRate = QStringLiteral("22050 Hz");
        } else {
            file += "SampleRate=" + g.bytes(g.below(30), true) + "x\n";
        }
        file += "VBRQuality=" + QByteArray::number(qint64(g.below(2000)) - 1000) + "\n";
        file += "[DB]\ndbMax=" + QByteArray(g.below(2) ? "0x7FFFFFFF" : "-2147483648") + "\n";
        file += g.noise() + "\n";
        file += "dppd=" + QByteArray(g.below(2) ? "$10" : "4294967296") + "\n";
        load(file);
        const Controls got = snapshot(*form);
        EXPECT_EQ(got.sampleRate, expected.sampleRate) << n;
        EXPECT_GE(got.vbr, 0);
        EXPECT_LE(got.vbr, 9);
        EXPECT_TRUE(got.dbMax == 0x7FFFFFFF || got.dbMax == int(0x80000000u)) << got.dbMax << " text " << form->SpinEdit1->text().toStdString();
        EXPECT_TRUE(got.dppd == 16 || got.dppd == defaults.dppd) << got.dppd;
    }
}
