#pragma once

// The sound voice control holds while it waits to decide: the last stretch of the recording
// device's capture, kept in a fixed ring of bytes so that the trigger can put it in the file
// ahead of the live sound.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class TPreRollRing
{
public:
    // Room for `milliseconds` of sound at `rate` frames a second of `blockAlign` bytes each;
    // forgets what it held. 0 ms keeps nothing.
    void Reset(std::uint32_t milliseconds, std::uint32_t rate, std::size_t blockAlign);
    // New room for `milliseconds` at the same rate, keeping what is held: all of it when it
    // fits, else the newest part.
    void Resize(std::uint32_t milliseconds);
    // The length the ring has room for, as last asked.
    std::uint32_t Capacity() const { return FCapacityMs; }
    // Appends whole frames; the oldest go when the ring is full.
    void Push(const void *data, std::size_t bytes);
    void Clear();

    std::size_t Bytes() const { return FFill; }
    // Length of what is held, in whole milliseconds.
    std::uint32_t Milliseconds() const;

    // Hands what is held to `take(const char *, std::size_t)` oldest first, in at most two
    // pieces of whole frames, then forgets it.
    template<typename Take>
    void Drain(Take take)
    {
        const std::size_t first = std::min(FFill, FData.size() - FStart);
        if (first > 0)
            take(FData.data() + FStart, first);
        if (FFill > first)
            take(FData.data(), FFill - first);
        Clear();
    }

private:
    std::vector<char> FData;
    std::size_t FStart = 0;
    std::size_t FFill = 0;
    std::size_t FBlockAlign = 1;
    std::uint32_t FRate = 0;
    std::uint32_t FCapacityMs = 0;
};
