#include "audio/waveinqueue.h"

#include "audio/waveinbackend.h"

#include <algorithm>
#include <cstring>

WaveInQueue::WaveInQueue(HWAVEIN handle, const WAVEFORMATEX &format, QObject *target)
    : handle_(handle), format_(format), silence_(format.wBitsPerSample == 8 ? 0x80 : 0x00),
      target_(target), notify_(target != nullptr), ring_(holdingBytes(format))
{
}

std::size_t WaveInQueue::usableBytes(const WAVEHDR &header, const WAVEFORMATEX &format)
{
    const std::size_t align = std::max<std::size_t>(format.nBlockAlign, 1);
    return header.dwBufferLength - header.dwBufferLength % align;
}

std::size_t WaveInQueue::holdingBytes(const WAVEFORMATEX &format)
{
    // Two seconds, so that a main thread busy for a moment loses nothing.
    return std::size_t(format.nAvgBytesPerSec) * 2;
}

template <class Copy> void WaveInQueue::accept(std::size_t bytes, Copy copy)
{
    std::lock_guard lock(mutex_);
    if (!running_ || lost_)
        return;
    std::size_t done = 0;
    while (done < bytes) {
        if (!head_) {
            const std::size_t kept = copy(nullptr, done, bytes - done);
            position_ += kept;
            dropped_ += bytes - done - kept;
            return;
        }
        const std::size_t room = usableBytes(*head_, format_) - head_->dwBytesRecorded;
        const std::size_t n = std::min(room, bytes - done);
        copy(head_->lpData + head_->dwBytesRecorded, done, n);
        head_->dwBytesRecorded += DWORD(n);
        position_ += n;
        done += n;
        if (head_->dwBytesRecorded == usableBytes(*head_, format_))
            completeHead();
    }
}

void WaveInQueue::write(const void *data, std::size_t bytes)
{
    const auto *src = static_cast<const std::uint8_t *>(data);
    accept(bytes, [&](char *dst, std::size_t offset, std::size_t n) -> std::size_t {
        if (!dst)
            return ring_.write(src + offset, n);
        std::memcpy(dst, src + offset, n);
        return n;
    });
}

void WaveInQueue::writeSilence(std::size_t bytes)
{
    accept(bytes, [&](char *dst, std::size_t, std::size_t n) -> std::size_t {
        if (!dst)
            return ring_.fill(silence_, n);
        std::memset(dst, silence_, n);
        return n;
    });
}

void WaveInQueue::completeHead()
{
    WAVEHDR *done = head_;
    head_ = done->lpNext;
    if (!head_)
        tail_ = nullptr;
    done->lpNext = nullptr;
    done->dwFlags = (done->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    --count_;
    post(MM_WIM_DATA, done);
}

void WaveInQueue::deviceLost()
{
    std::lock_guard lock(mutex_);
    if (lost_)
        return;
    lost_ = true;
    running_ = false;
    while (head_)
        completeHead();
    post(MM_WIM_DEVICELOST, nullptr);
}

void WaveInQueue::setRunning(bool running)
{
    std::lock_guard lock(mutex_);
    running_ = running && !lost_;
}

bool WaveInQueue::running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

MMRESULT WaveInQueue::add(WAVEHDR *header)
{
    if (usableBytes(*header, format_) == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(mutex_);
    if (lost_)
        return MMSYSERR_NODRIVER;
    header->dwBytesRecorded = 0;
    header->lpNext = nullptr;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (tail_)
        tail_->lpNext = header;
    else
        head_ = header;
    tail_ = header;
    ++count_;
    // Sound held while the queue was empty goes first, in order.
    while (head_ && !ring_.empty()) {
        const std::size_t room = usableBytes(*head_, format_) - head_->dwBytesRecorded;
        head_->dwBytesRecorded += DWORD(ring_.read(head_->lpData + head_->dwBytesRecorded, room));
        if (head_->dwBytesRecorded == usableBytes(*head_, format_))
            completeHead();
    }
    return MMSYSERR_NOERROR;
}

void WaveInQueue::stop()
{
    std::lock_guard lock(mutex_);
    running_ = false;
    if (head_ && head_->dwBytesRecorded > 0)
        completeHead();
}

void WaveInQueue::reset()
{
    std::lock_guard lock(mutex_);
    running_ = false;
    while (head_)
        completeHead();
    ring_.clear();
    position_ = 0;
}

bool WaveInQueue::lost() const
{
    std::lock_guard lock(mutex_);
    return lost_;
}

std::size_t WaveInQueue::takeHeld(void *data, std::size_t bytes)
{
    std::lock_guard lock(mutex_);
    if (running_)
        return 0;
    const std::size_t align = std::max<std::size_t>(format_.nBlockAlign, 1);
    return ring_.read(data, bytes - bytes % align);
}

UINT WaveInQueue::queuedCount() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

WAVEHDR *WaveInQueue::filling(std::size_t &recorded) const
{
    std::lock_guard lock(mutex_);
    recorded = head_ ? head_->dwBytesRecorded : 0;
    return head_;
}

std::uint64_t WaveInQueue::droppedBytes() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::uint64_t WaveInQueue::positionBytes() const
{
    std::lock_guard lock(mutex_);
    return position_;
}

void WaveInQueue::post(UINT message, WAVEHDR *header)
{
    if (notify_)
        postWaveInNotice(target_, message, handle_, header);
}
