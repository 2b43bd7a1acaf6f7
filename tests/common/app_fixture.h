#pragma once

// Test helpers for the main window: the window built over virtual wave-input devices in a
// private working directory, with the tick count, the message boxes, the save dialog and
// the desktop's URL handler replaced by recorders.

#include "app/Form1.h"
#include "app/dialogs.h"
#include "testing/virtualwavein.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Names the mode in a failed expectation.
inline void PrintTo(TCapture mode, std::ostream *os)
{
    constexpr const char *kNames[] = {"Idle", "PreRolling", "Recording", "Paused", "PausedPreRolling", "Draining"};
    *os << kNames[static_cast<int>(mode)];
}

// Every box shown while it lives, instead of a modal loop.
class BoxLog
{
public:
    BoxLog();
    ~BoxLog();
    std::vector<MessageBoxRequest> boxes;
    std::size_t size() const { return boxes.size(); }
    QString lastText() const { return boxes.empty() ? QString() : boxes.back().text; }

private:
    MessageBoxHandler FPrevious;
};

// A tick count that only moves when told to.
class TestClock
{
public:
    explicit TestClock(std::uint32_t start = 1000);
    ~TestClock();
    std::uint32_t now;
    void advance(std::uint32_t ms) { now += ms; }
};

// A fresh working directory for the test's lifetime.
class WorkDir
{
public:
    WorkDir();
    ~WorkDir();
    QString path() const { return FDir.path(); }
    QString file(const QString &name) const { return FDir.filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    bool exists(const QString &name) const;

private:
    QTemporaryDir FDir;
    QString FPrevious;
};

// Files may not grow past `bytes` while it lives: a write past that fails with EFBIG, as one
// on a full disk fails, also for root. 0 fails every write of the output file.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();

private:
    std::uint64_t FPrevious = 0;
    void (*FPreviousHandler)(int) = nullptr;
};

// Answers the save dialog and records the URLs handed to the desktop.
class DesktopLog
{
public:
    DesktopLog();
    ~DesktopLog();
    QString answer; // what the dialog returns; empty = cancelled
    std::vector<SaveDialogRequest> dialogs;
    std::vector<QUrl> urls;

private:
    SaveDialogHandler FPreviousDialog;
    OpenUrlHandler FPreviousUrl;
};

// The window over virtual devices. Build it in the test body (after writing recorder.ini
// when a test needs one); the default is one device, "Virtual Mic", the default input.
class FormTest : public testing::Test
{
protected:
    ~FormTest() override;

    void build(const std::vector<std::string> &devices = {"Virtual Mic"}, int defaultDevice = 0);
    // The same with the server's names of the devices: pairs of description and name.
    void buildNamed(const std::vector<std::pair<std::string, std::string>> &devices, int defaultDevice = 0);
    // Ends the window as the program does: close, then destroy.
    void closeAndDestroy();
    // Hands every posted wave notice to its target.
    static void deliver() { VirtualWaveIn::deliverNotices(); }
    // `ms` of sound from device 0 to every started handle, notices delivered.
    static void pump(unsigned ms, int device = 0);
    // Clicks a button as the user would (through its clicked signal).
    static void click(QAbstractButton *button);
    // Record clicked and the open notice handled.
    void record();
    HWAVEIN sessionHandle() const;
    QString state() const { return form->StatusBar1->panelText(0); }

    WorkDir work;
    BoxLog boxes;
    TestClock clock;
    DesktopLog desktop;
    std::unique_ptr<VirtualWaveIn::Devices> devices;
    std::unique_ptr<TForm1> form;
};
