#include "engine/preroll.h"

#include <algorithm>
#include <cstring>

void TPreRollRing::Reset(std::uint32_t milliseconds, std::uint32_t rate, std::size_t blockAlign)
{
    FBlockAlign = std::max<std::size_t>(blockAlign, 1);
    FRate = rate;
    FCapacityMs = milliseconds;
    const std::size_t frames = std::size_t(std::uint64_t(milliseconds) * rate / 1000);
    // Allocated once per capture, so the device's buffers never wait on memory.
    FData.assign(frames * FBlockAlign, 0);
    FData.shrink_to_fit();
    Clear();
}

void TPreRollRing::Clear()
{
    FStart = 0;
    FFill = 0;
}

std::uint32_t TPreRollRing::Milliseconds() const
{
    if (FRate == 0)
        return 0;
    return std::uint32_t(std::uint64_t(FFill / FBlockAlign) * 1000 / FRate);
}

void TPreRollRing::Push(const void *data, std::size_t bytes)
{
    const std::size_t capacity = FData.size();
    bytes -= bytes % FBlockAlign;
    if (capacity == 0 || bytes == 0)
        return;
    const auto *p = static_cast<const char *>(data);
    if (bytes >= capacity) {
        // Only the newest capacity bytes can stay.
        std::memcpy(FData.data(), p + (bytes - capacity), capacity);
        FStart = 0;
        FFill = capacity;
        return;
    }
    const std::size_t overflow = FFill + bytes > capacity ? FFill + bytes - capacity : 0;
    FStart = (FStart + overflow) % capacity;
    FFill -= overflow;
    const std::size_t end = (FStart + FFill) % capacity;
    const std::size_t first = std::min(bytes, capacity - end);
    std::memcpy(FData.data() + end, p, first);
    std::memcpy(FData.data(), p + first, bytes - first);
    FFill += bytes;
}

void TPreRollRing::Resize(std::uint32_t milliseconds)
{
    if (milliseconds == FCapacityMs)
        return;
    std::vector<char> held;
    held.reserve(FFill);
    Drain([&held](const char *data, std::size_t bytes) { held.insert(held.end(), data, data + bytes); });
    Reset(milliseconds, FRate, FBlockAlign);
    Push(held.data(), held.size());
}
