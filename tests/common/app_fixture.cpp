#include "common/app_fixture.h"

#include "audio/AudioIO.h"
#include "engine/clock.h"

#include <QAbstractButton>
#include <QFile>

#include <sys/resource.h>

#include <csignal>

BoxLog::BoxLog()
{
    FPrevious = setMessageBoxHandler([this](const MessageBoxRequest &r) { boxes.push_back(r); });
}

BoxLog::~BoxLog()
{
    setMessageBoxHandler(FPrevious);
}

TestClock::TestClock(std::uint32_t start) : now(start)
{
    setTickSource([this] { return now; });
}

TestClock::~TestClock()
{
    setTickSource({});
}

WorkDir::WorkDir() : FPrevious(QDir::currentPath())
{
    QDir::setCurrent(FDir.path());
}

WorkDir::~WorkDir()
{
    QDir::setCurrent(FPrevious);
}

void WorkDir::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray WorkDir::read(const QString &name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WorkDir::exists(const QString &name) const
{
    return QFile::exists(file(name));
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes)
{
    rlimit limit{};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    FPrevious = limit.rlim_cur;
    // Without this the process would be killed by the signal instead of seeing the error.
    FPreviousHandler = ::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = FPrevious;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, FPreviousHandler);
}

DesktopLog::DesktopLog()
{
    FPreviousDialog = setSaveDialogHandler([this](const SaveDialogRequest &r) {
        dialogs.push_back(r);
        return answer;
    });
    FPreviousUrl = setOpenUrlHandler([this](const QUrl &url) {
        urls.push_back(url);
        return true;
    });
}

DesktopLog::~DesktopLog()
{
    setSaveDialogHandler(FPreviousDialog);
    setOpenUrlHandler(FPreviousUrl);
}

FormTest::~FormTest()
{
    form.reset();
    deliver();
    devices.reset();
}

void FormTest::build(const std::vector<std::string> &names, int defaultDevice)
{
    form.reset();
    devices.reset(); // uninstalls the old set before the new one is installed
    devices = std::make_unique<VirtualWaveIn::Devices>(names, defaultDevice);
    form = std::make_unique<TForm1>();
}

void FormTest::buildNamed(const std::vector<std::pair<std::string, std::string>> &named, int defaultDevice)
{
    form.reset();
    devices.reset();
    // Devices uninstalls at the end of the test; the named set replaces its empty one.
    devices = std::make_unique<VirtualWaveIn::Devices>(std::vector<std::string>{}, defaultDevice);
    VirtualWaveIn::installNamed(named, defaultDevice);
    form = std::make_unique<TForm1>();
}

void FormTest::closeAndDestroy()
{
    form->close();
    deliver();
    form.reset();
    deliver();
}

void FormTest::pump(unsigned ms, int device)
{
    VirtualWaveIn::pump(device, ms);
    deliver();
}

void FormTest::click(QAbstractButton *button)
{
    ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    button->click();
}

void FormTest::record()
{
    click(form->DFBRecordStart);
    deliver();
}

HWAVEIN FormTest::sessionHandle() const
{
    return form->FRecording ? form->FWaveIn : nullptr;
}
