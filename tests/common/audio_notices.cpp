#include "audio_notices.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstring>

int WaveNoticeLog::count(UINT message) const
{
    int n = 0;
    for (const Entry &e : entries)
        n += e.message == message;
    return n;
}

std::vector<WaveNoticeLog::Entry> WaveNoticeLog::data() const
{
    std::vector<Entry> out;
    for (const Entry &e : entries)
        if (e.message == MM_WIM_DATA)
            out.push_back(e);
    return out;
}

bool WaveNoticeLog::event(QEvent *e)
{
    const WaveInEvent *notice = waveInEventCast(e);
    if (!notice)
        return QObject::event(e);
    Entry entry{notice->message(), notice->handle(), notice->header(),
                notice->header() ? notice->header()->dwBytesRecorded : 0};
    entries.push_back(entry);
    if (onNotice)
        onNotice(entry);
    return true;
}

WaveBuffers::WaveBuffers(int count, DWORD bytes) : memory_(std::size_t(count)), headers_(std::size_t(count))
{
    for (int i = 0; i < count; ++i) {
        memory_[std::size_t(i)].assign(bytes, 0);
        WAVEHDR &h = headers_[std::size_t(i)];
        std::memset(&h, 0, sizeof(h));
        h.lpData = memory_[std::size_t(i)].data();
        h.dwBufferLength = bytes;
    }
}

int WaveBuffers::indexOf(const WAVEHDR *h) const
{
    for (std::size_t i = 0; i < headers_.size(); ++i)
        if (&headers_[i] == h)
            return int(i);
    return -1;
}

MMRESULT WaveBuffers::prepareAndAddAll(HWAVEIN h)
{
    for (WAVEHDR &header : headers_) {
        if (MMRESULT r = waveInPrepareHeader(h, &header, sizeof(WAVEHDR)))
            return r;
        if (MMRESULT r = waveInAddBuffer(h, &header, sizeof(WAVEHDR)))
            return r;
    }
    return MMSYSERR_NOERROR;
}

void WaveBuffers::unprepareAll(HWAVEIN h)
{
    for (WAVEHDR &header : headers_)
        waveInUnprepareHeader(h, &header, sizeof(WAVEHDR));
}

std::vector<std::int16_t> WaveBuffers::samples(const WAVEHDR *h) const
{
    std::vector<std::int16_t> out(h->dwBytesRecorded / 2);
    if (!out.empty()) // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(out.data(), h->lpData, out.size() * 2);
    return out;
}

bool waveRunUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

WAVEFORMATEX wavePcmFormat(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = WORD(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.cbSize = 0;
    return f;
}
