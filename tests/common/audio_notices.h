#pragma once
// Test helpers around the wave-input service: a notice recorder, a set of capture buffers
// and a wait that runs the event loop.
#include "audio/wavein.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

// Records every wave-input notice it receives; onNotice runs for each (after recording).
class WaveNoticeLog : public QObject {
public:
    struct Entry {
        UINT message;
        HWAVEIN handle;
        WAVEHDR *header;
        DWORD bytesRecorded;
    };

    std::vector<Entry> entries;
    std::function<void(const Entry &)> onNotice;

    int count(UINT message) const;
    std::vector<Entry> data() const; // the MM_WIM_DATA entries in order
    void clear() { entries.clear(); }

protected:
    bool event(QEvent *e) override;
};

// Fixed capture buffers: headers and memory never move once made.
class WaveBuffers {
public:
    WaveBuffers(int count, DWORD bytes);
    WAVEHDR *header(int i) { return &headers_[std::size_t(i)]; }
    int count() const { return int(headers_.size()); }
    int indexOf(const WAVEHDR *h) const;
    // Prepares and adds every buffer; returns the first failure.
    MMRESULT prepareAndAddAll(HWAVEIN h);
    void unprepareAll(HWAVEIN h);
    std::vector<std::int16_t> samples(const WAVEHDR *h) const;

private:
    std::vector<std::vector<char>> memory_;
    std::vector<WAVEHDR> headers_;
};

// Runs the event loop until done() holds or timeoutMs have passed; returns done().
bool waveRunUntil(const std::function<bool()> &done, int timeoutMs = 10000);

WAVEFORMATEX wavePcmFormat(DWORD rate, WORD channels, WORD bits = 16);
