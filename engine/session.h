#pragma once

// The recording session's output file and the naming of time-stamped files. The session's
// steps themselves are methods of the main window (TForm1) and live in session.cpp.

#include <QDateTime>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

// Sees every block of 16-bit samples the session hands to the encoder, in order, on the
// window's thread. An empty function removes it.
using EncoderInputObserver = std::function<void(const std::int16_t *samples, std::size_t count)>;
void setEncoderInputObserver(EncoderInputObserver observer);

// A write to the output file failed; what() is the report's text.
class SessionFileError : public std::runtime_error
{
public:
    explicit SessionFileError(const QString &message);
};

// The session's output file: an ordinary file, created or truncated for writing, readable by
// others meanwhile, with a 64-bit count of the bytes written.
class TOutFile
{
public:
    TOutFile() = default;
    ~TOutFile();
    TOutFile(const TOutFile &) = delete;
    TOutFile &operator=(const TOutFile &) = delete;

    // Opens `path` for writing, creating it when it does not exist; with `exclusive` it fails
    // when the file exists. An existing file is emptied only by Truncate, once the caller is
    // sure to use it. The file stays locked (flock) while open: a file another session
    // writes fails with errorCode() EWOULDBLOCK. A name that is no ordinary file fails with
    // notOrdinaryFile(), and its open never waits. On failure returns false with the system's
    // reason in errorText() and its code in errorCode().
    bool Create(const QString &path, bool exclusive = false);
    bool Truncate();
    // Appends all of `data`; throws SessionFileError on the first failure.
    void Write(const void *data, std::size_t size);
    // Writes all of `data` over the file's bytes from `offset` on, leaving its end and the
    // append position alone. Throws SessionFileError on failure.
    void WriteAt(std::uint64_t offset, const void *data, std::size_t size);
    // False when the system reports a failure at the close (some file systems only find out
    // then that the data cannot be kept), with the reason in errorText().
    bool Close();
    // Closes and deletes the file, but only when Create made it new.
    void Discard();
    // Forgets the last file: no name, size 0.
    void Reset();

    bool isOpen() const { return FFd >= 0; }
    // Bytes written to the last file created, kept after it is closed.
    std::uint64_t Size() const { return FSize; }
    const QString &FileName() const { return FPath; }
    const QString &errorText() const { return FError; }
    // The last Create failed because the name is a FIFO, a device or a socket, not a file.
    bool notOrdinaryFile() const { return FNotOrdinary; }
    int errorCode() const { return FErrno; }

private:
    // At `at` when given (the file position stays), else appended and counted in Size().
    void WriteAll(const void *data, std::size_t size, std::optional<std::uint64_t> at);

    int FFd = -1;
    bool FCreatedNew = false;
    bool FNotOrdinary = false;
    std::uint64_t FSize = 0;
    QString FPath;
    QString FError;
    int FErrno = 0;
};

// The call that closes the output file's descriptor, as ::close does (null: ::close itself).
// Some file systems only find out at the close that the data cannot be kept; one that does
// can stand in through it.
using FileCloser = int (*)(int fd);
void setFileCloser(FileCloser close);

// Position of the dot that starts the extension of `name`, or -1 when it has none: the last
// dot, provided no folder separator ('\' or '/') or drive colon follows it.
qsizetype extensionStart(const QString &name);

// `text` inserted before the extension of `name`, or appended when it has none.
QString insertBeforeExtension(const QString &name, const QString &text);

// The name with "-yyyy-mm-dd-hh-nn" of `when` before its extension:
// D:\rec\talk.mp3 at 14:05 on 8 December 2026 -> D:\rec\talk-2026-12-08-14-05.mp3.
QString stampedFileName(const QString &name, const QDateTime &when);

// The n-th candidate for a name that must not overwrite: n = 1 is the name itself, then
// "-2", "-3" ... before the extension.
QString numberedFileName(const QString &name, int n);

// Opens for writing the first of `name`, "-2", "-3" ... before its extension that does not
// exist yet, so that no file is ever emptied; a device or a pipe under `name` itself is opened
// as it is. False with the last attempt's reason in `file` when none could be made.
bool createUnusedFile(TOutFile &file, const QString &name);

// Whether `name` holds a control character (a line break, a tab, U+007F to U+009F ...): such
// a name makes a file nobody can type and breaks the line it is stored on in recorder.ini.
bool hasControlCharacters(const QString &name);
