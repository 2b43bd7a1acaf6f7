#pragma once

// The settings file: an INI accessor with the behaviour the window relies on, the value
// encodings, and selecting a combo-box item by its text.

#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>

class QComboBox;

// The file lives in the working directory and is addressed relatively at every load and save.
inline constexpr char kSettingsFileName[] = "./recorder.ini";

// Selects the first item whose whole text equals `text`, ignoring letter case. An empty
// text, or one that matches nothing, leaves the selection. Runs no handler.
void SelectByText(QComboBox *combo, const QString &text);

// Selects the first item whose data of `role` equals `value` exactly; false (and the selection
// left) when none does or the value is empty. Runs no handler.
bool SelectByData(QComboBox *combo, int role, const QString &value);

// Integer as the file stores it: decimal with an optional sign after leading spaces, or
// hexadecimal after "0x" or "$" (32 bits, wrapping as a 32-bit integer does). Anything else
// is not a whole number.
std::optional<int> parseIniInteger(const QString &text);

class SettingsWriteError : public std::runtime_error
{
public:
    explicit SettingsWriteError(const QString &path);
};

// An INI accessor over one file. Section and key names match without regard to letter case;
// other sections, keys and comments survive a save. The file is UTF-8, or UTF-16 (either byte
// order) when it starts with that byte-order mark; a save keeps the encoding it was read in.
class IniFile
{
public:
    explicit IniFile(const QString &path);
    ~IniFile();
    IniFile(const IniFile &) = delete;
    IniFile &operator=(const IniFile &) = delete;

    // The stored value, cut to its first 2047 characters; `def` when the file, the section
    // or the key does not exist. A key with an empty value gives the empty text.
    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    int ReadInteger(const QString &section, const QString &key, int def) const;
    bool ReadBool(const QString &section, const QString &key, bool def) const;

    // A line break or NUL in the value is stored as a space: the value stays on its own line.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);

    // Replaces the file with the written state: a temporary file beside it is filled and then
    // renamed over it, so an interrupted save leaves the old file whole. Where the folder allows
    // neither, an existing file is overwritten in place. Throws SettingsWriteError when both fail.
    void UpdateFile();

private:
    struct Data;
    QString path_;
    std::unique_ptr<Data> data_;
};
