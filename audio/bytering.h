#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Fixed-size FIFO of bytes. It never grows: a write takes what fits and reports it.
class ByteRing {
public:
    explicit ByteRing(std::size_t capacity = 0);

    std::size_t capacity() const { return data_.size(); }
    std::size_t size() const { return size_; }
    std::size_t space() const { return data_.size() - size_; }
    bool empty() const { return size_ == 0; }

    std::size_t write(const void *src, std::size_t bytes);
    std::size_t fill(std::uint8_t value, std::size_t bytes);
    std::size_t read(void *dst, std::size_t bytes);
    void clear();

private:
    std::vector<std::uint8_t> data_;
    std::size_t head_ = 0; // next byte to read
    std::size_t size_ = 0;
};
