#include "app/settings.h"

#include "app/Form1.h"
#include "app/devicelist.h"
#include "app/systemerrors.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <SimpleIni.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>

void SelectByText(QComboBox *combo, const QString &text)
{
    if (!combo || text.isEmpty())
        return;
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker quiet(combo);
            combo->setCurrentIndex(i);
            return;
        }
    }
}

bool SelectByData(QComboBox *combo, int role, const QString &value)
{
    if (!combo || value.isEmpty())
        return false;
    const int index = combo->findData(value, role, Qt::MatchExactly);
    if (index < 0)
        return false;
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(index);
    return true;
}

std::optional<int> parseIniInteger(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < text.size() && text.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text.at(i) == QLatin1Char('0')
               && (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    // Decimal allows magnitudes up to 2^31 (for the minus side); hexadecimal a full 32 bits.
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        int d = -1;
        const char16_t c = text.at(i).unicode();
        if (c < 128) {
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
        }
        if (d < 0)
            return std::nullopt;
        value = value * base + d;
        if (value > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<std::uint32_t>(negative ? (~value + 1) : value);
    return static_cast<std::int32_t>(bits);
}

SettingsWriteError::SettingsWriteError(const QString &path)
    : std::runtime_error(withSystemReason(QStringLiteral("无法保存设置文件：请让当前文件夹可以写入，"
                                                         "或从一个你可以写入的文件夹启动程序。"),
                                          QStringLiteral("Unable to write to %1").arg(path))
                             .toStdString())
{
}

namespace {

// How the file's bytes encode its text; a save writes the text back the same way, so a file
// that a Windows editor saved as UTF-16 stays readable to that editor.
enum class FileEncoding { Utf8, Utf8WithBom, Utf16LE, Utf16BE };

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LEBom[] = "\xFF\xFE";
constexpr char kUtf16BEBom[] = "\xFE\xFF";

// The file's text as UTF-8 without a byte-order mark, which is what the parser reads.
QByteArray decodeFile(const QByteArray &bytes, FileEncoding &encoding)
{
    const auto fromUtf16 = [&](QStringConverter::Encoding utf16) {
        QStringDecoder decoder(utf16, QStringConverter::Flag::Stateless);
        const QString text = decoder(QByteArrayView(bytes).sliced(2));
        return text.toUtf8();
    };
    if (bytes.startsWith(kUtf16LEBom)) {
        encoding = FileEncoding::Utf16LE;
        return fromUtf16(QStringConverter::Utf16LE);
    }
    if (bytes.startsWith(kUtf16BEBom)) {
        encoding = FileEncoding::Utf16BE;
        return fromUtf16(QStringConverter::Utf16BE);
    }
    if (bytes.startsWith(kUtf8Bom)) {
        encoding = FileEncoding::Utf8WithBom;
        return bytes.sliced(3);
    }
    encoding = FileEncoding::Utf8;
    return bytes;
}

QByteArray encodeFile(const std::string &utf8, FileEncoding encoding)
{
    const QByteArray text(utf8.data(), qsizetype(utf8.size()));
    const auto toUtf16 = [&](QStringConverter::Encoding utf16, const char *bom) {
        QStringEncoder encoder(utf16, QStringConverter::Flag::Stateless);
        return QByteArray(bom) + QByteArray(encoder(QString::fromUtf8(text)));
    };
    switch (encoding) {
    case FileEncoding::Utf16LE:
        return toUtf16(QStringConverter::Utf16LE, kUtf16LEBom);
    case FileEncoding::Utf16BE:
        return toUtf16(QStringConverter::Utf16BE, kUtf16BEBom);
    case FileEncoding::Utf8WithBom:
        return QByteArray(kUtf8Bom) + text;
    case FileEncoding::Utf8:
        break;
    }
    return text;
}

// The atomic way: a temporary file beside the old one, renamed over it. Returns what failed,
// NoError when the file was replaced.
QFileDevice::FileError replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Where the folder refuses a temporary file to an ordinary user, a writable file is
    // written in place instead.
    file.setDirectWriteFallback(true);
    // Unbuffered: a buffered write that the file takes only in part (a full disk, a size
    // limit) is flushed by commit() without a word, and the cut file replaces the old one.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(bytes) == bytes.size()
        && file.commit())
        return QFileDevice::NoError;
    return file.error() == QFileDevice::NoError ? QFileDevice::WriteError : file.error();
}

// For a writable file in a folder that takes no new entry or no rename at all (immutable,
// a file mounted on its own): the file is overwritten in place, without the atomic guarantee.
bool writeInPlace(const QString &path, const QByteArray &bytes)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size())
        return false;
    int r;
    do {
        r = ::fsync(file.handle());
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

} // namespace

struct IniFile::Data
{
    CSimpleIniA ini{false, false, false};
    FileEncoding encoding = FileEncoding::Utf8;
};

IniFile::IniFile(const QString &path) : path_(path), data_(std::make_unique<Data>())
{
    data_->ini.SetSpaces(false);
    QFile file(path);
    // A missing or unreadable file reads as empty; nothing is created on load.
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = decodeFile(file.readAll(), data_->encoding);
        data_->ini.LoadData(text.constData(), size_t(text.size()));
    }
}

IniFile::~IniFile() = default;

QString IniFile::ReadString(const QString &section, const QString &key, const QString &def) const
{
    const char *value = data_->ini.GetValue(section.toUtf8().constData(), key.toUtf8().constData(), nullptr);
    if (!value)
        return def;
    QString text = QString::fromUtf8(value);
    constexpr qsizetype kMaxValue = 2047;
    if (text.size() > kMaxValue) {
        qsizetype cut = kMaxValue;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        text.truncate(cut);
    }
    return text;
}

int IniFile::ReadInteger(const QString &section, const QString &key, int def) const
{
    return parseIniInteger(ReadString(section, key, QString())).value_or(def);
}

bool IniFile::ReadBool(const QString &section, const QString &key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    // A value is one line: a line break would cut it there and make the rest a stray line or
    // a key of its own, and a NUL would cut it. They are stored as the spaces an edit shows.
    QString line = value;
    for (QChar &c : line)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c.isNull())
            c = QLatin1Char(' ');
    const SI_Error rc = data_->ini.SetValue(section.toUtf8().constData(), key.toUtf8().constData(),
                                           line.toUtf8().constData());
    if (rc < 0)
        throw SettingsWriteError(path_);
}

void IniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::UpdateFile()
{
    std::string text;
    if (data_->ini.Save(text) < 0)
        throw SettingsWriteError(path_);
    const QByteArray bytes = encodeFile(text, data_->encoding);
    const QFileDevice::FileError error = replaceFile(path_, bytes);
    // Only a folder that refuses the temporary file or the rename is worked around: after a
    // failed write (a full disk) overwriting the old file could leave nothing readable.
    const bool folderRefused = error == QFileDevice::OpenError || error == QFileDevice::RenameError;
    if (error != QFileDevice::NoError && !(folderRefused && writeInPlace(path_, bytes)))
        throw SettingsWriteError(path_);
}

// The eighteen settings, in the order they are read and written.
namespace {
const QString kFormat = QStringLiteral("Format");
const QString kFileOutput = QStringLiteral("FileOutput");
const QString kDb = QStringLiteral("Db");
} // namespace

void TForm1::LoadSettings()
{
    const IniFile ini(QString::fromLatin1(kSettingsFileName));
    // The server's name tells apart inputs described alike; files from before it have the text alone.
    if (!SelectByData(CDevices, kDeviceNameRole, ini.ReadString(kFormat, QStringLiteral("DeviceName"), QString())))
        SelectByText(CDevices, ini.ReadString(kFormat, QStringLiteral("Device"), QString()));
    SelectByText(CSampleRate, ini.ReadString(kFormat, QStringLiteral("SampleRate"), QString()));
    SelectByText(CChannels, ini.ReadString(kFormat, QStringLiteral("Channels"), QString()));
    SelectByText(CMode, ini.ReadString(kFormat, QStringLiteral("Mode"), QString()));
    SelectByText(CBitrate, ini.ReadString(kFormat, QStringLiteral("Bitrate"), QString()));
    CVBRQuality->setValue(ini.ReadInteger(kFormat, QStringLiteral("VBRQuality"), CVBRQuality->value()));
    SelectByText(CQuality, ini.ReadString(kFormat, QStringLiteral("Quality"), QString()));
    COutFile->setChecked(ini.ReadBool(kFileOutput, QStringLiteral("Enabled"), COutFile->isChecked()));
    CTimeStamp->setChecked(ini.ReadBool(kFileOutput, QStringLiteral("TimeStamp"), CTimeStamp->isChecked()));
    EOutFile->setText(ini.ReadString(kFileOutput, QStringLiteral("FileName"), EOutFile->text()));
    SpinEdit1->setValue(ini.ReadInteger(kDb, QStringLiteral("dbMax"), SpinEdit1->Value()));
    CheckBox1->setChecked(ini.ReadBool(kDb, QStringLiteral("dbrec"), CheckBox1->isChecked()));
    CheckBox2->setChecked(ini.ReadBool(kDb, QStringLiteral("dbrec2"), CheckBox2->isChecked()));
    SpinEdit2->setValue(ini.ReadInteger(kDb, QStringLiteral("dppd"), SpinEdit2->Value()));
    SpinEdit3->setValue(ini.ReadInteger(kDb, QStringLiteral("preroll"), SpinEdit3->Value()));
    SpinEdit4->setValue(ini.ReadInteger(kDb, QStringLiteral("margin"), SpinEdit4->Value()));
    CheckBox3->setChecked(ini.ReadBool(kDb, QStringLiteral("split"), CheckBox3->isChecked()));
}

void TForm1::SaveSettings()
{
    IniFile ini(QString::fromLatin1(kSettingsFileName));
    ini.WriteString(kFormat, QStringLiteral("Device"), ChosenDeviceText());
    ini.WriteString(kFormat, QStringLiteral("DeviceName"), ChosenDeviceName());
    ini.WriteString(kFormat, QStringLiteral("SampleRate"), CSampleRate->currentText());
    ini.WriteString(kFormat, QStringLiteral("Channels"), CChannels->currentText());
    ini.WriteString(kFormat, QStringLiteral("Mode"), CMode->currentText());
    ini.WriteString(kFormat, QStringLiteral("Bitrate"), CBitrate->currentText());
    ini.WriteInteger(kFormat, QStringLiteral("VBRQuality"), CVBRQuality->value());
    ini.WriteString(kFormat, QStringLiteral("Quality"), CQuality->currentText());
    ini.WriteBool(kFileOutput, QStringLiteral("Enabled"), COutFile->isChecked());
    ini.WriteBool(kFileOutput, QStringLiteral("TimeStamp"), CTimeStamp->isChecked());
    ini.WriteString(kFileOutput, QStringLiteral("FileName"), EOutFile->text());
    ini.WriteInteger(kDb, QStringLiteral("dbMax"), SpinEdit1->Value());
    ini.WriteBool(kDb, QStringLiteral("dbrec"), CheckBox1->isChecked());
    ini.WriteBool(kDb, QStringLiteral("dbrec2"), CheckBox2->isChecked());
    ini.WriteInteger(kDb, QStringLiteral("dppd"), SpinEdit2->Value());
    ini.WriteInteger(kDb, QStringLiteral("preroll"), SpinEdit3->Value());
    ini.WriteInteger(kDb, QStringLiteral("margin"), SpinEdit4->Value());
    ini.WriteBool(kDb, QStringLiteral("split"), CheckBox3->isChecked());
    ini.UpdateFile();
}
