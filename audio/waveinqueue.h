#pragma once
#include "audio/bytering.h"
#include "audio/wavein.h"

#include <QPointer>

#include <cstdint>
#include <mutex>

// The buffers an open handle holds and the sound waiting for them. A backend writes sound
// from its own thread; the caller's thread adds buffers and stops or resets. Queued headers
// are linked through WAVEHDR::lpNext, so nothing is allocated after construction.
class WaveInQueue {
public:
    WaveInQueue(HWAVEIN handle, const WAVEFORMATEX &format, QObject *target);
    WaveInQueue(const WaveInQueue &) = delete;
    WaveInQueue &operator=(const WaveInQueue &) = delete;

    HWAVEIN handle() const { return handle_; }
    const WAVEFORMATEX &format() const { return format_; }

    // Sound side. Whole frames only. Ignored unless running and not lost.
    void write(const void *data, std::size_t bytes);
    void writeSilence(std::size_t bytes);
    // Hands back every queued buffer and posts MM_WIM_DEVICELOST, once. Sound held for lack
    // of a buffer stays, for takeHeld.
    void deviceLost();

    // Caller side.
    void setRunning(bool running);
    bool running() const;
    MMRESULT add(WAVEHDR *header);
    // Halts and hands back the buffer in progress when it holds any sound.
    void stop();
    // Halts, hands back every queued buffer and forgets held sound and position.
    void reset();
    bool lost() const;
    // Takes up to `bytes` (whole frames) of the sound held for lack of a buffer, oldest first,
    // once the queue no longer runs; returns how much.
    std::size_t takeHeld(void *data, std::size_t bytes);
    UINT queuedCount() const;
    // The buffer at the head of the queue and its bytes recorded so far (null when none).
    WAVEHDR *filling(std::size_t &recorded) const;
    std::uint64_t droppedBytes() const;
    std::uint64_t positionBytes() const;

    void post(UINT message, WAVEHDR *header);

    // Usable bytes of a buffer: whole frames only.
    static std::size_t usableBytes(const WAVEHDR &header, const WAVEFORMATEX &format);
    // Bytes of sound held while no buffer is queued.
    static std::size_t holdingBytes(const WAVEFORMATEX &format);

private:
    template <class Copy> void accept(std::size_t bytes, Copy copy);
    void completeHead();

    const HWAVEIN handle_;
    const WAVEFORMATEX format_;
    const std::uint8_t silence_;
    QPointer<QObject> target_;
    const bool notify_;

    mutable std::mutex mutex_;
    WAVEHDR *head_ = nullptr;
    WAVEHDR *tail_ = nullptr;
    UINT count_ = 0;
    ByteRing ring_;
    std::uint64_t dropped_ = 0;
    std::uint64_t position_ = 0;
    bool running_ = false;
    bool lost_ = false;
};
