#include "audio/bytering.h"

#include <algorithm>
#include <cstring>

ByteRing::ByteRing(std::size_t capacity) : data_(capacity) {}

std::size_t ByteRing::write(const void *src, std::size_t bytes)
{
    const auto *in = static_cast<const std::uint8_t *>(src);
    const std::size_t n = std::min(bytes, space());
    const std::size_t tail = (head_ + size_) % std::max<std::size_t>(data_.size(), 1);
    const std::size_t first = std::min(n, data_.size() - tail);
    if (first)
        std::memcpy(data_.data() + tail, in, first);
    if (n > first)
        std::memcpy(data_.data(), in + first, n - first);
    size_ += n;
    return n;
}

std::size_t ByteRing::fill(std::uint8_t value, std::size_t bytes)
{
    const std::size_t n = std::min(bytes, space());
    const std::size_t tail = (head_ + size_) % std::max<std::size_t>(data_.size(), 1);
    const std::size_t first = std::min(n, data_.size() - tail);
    if (first)
        std::memset(data_.data() + tail, value, first);
    if (n > first)
        std::memset(data_.data(), value, n - first);
    size_ += n;
    return n;
}

std::size_t ByteRing::read(void *dst, std::size_t bytes)
{
    auto *out = static_cast<std::uint8_t *>(dst);
    const std::size_t n = std::min(bytes, size_);
    const std::size_t first = std::min(n, data_.size() - head_);
    if (first)
        std::memcpy(out, data_.data() + head_, first);
    if (n > first)
        std::memcpy(out + first, data_.data(), n - first);
    size_ -= n;
    head_ = data_.empty() ? 0 : (head_ + n) % data_.size();
    if (size_ == 0)
        head_ = 0;
    return n;
}

void ByteRing::clear()
{
    head_ = 0;
    size_ = 0;
}
