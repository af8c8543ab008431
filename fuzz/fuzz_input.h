// Reads a fuzz input as a stream of answers. Once the input is used up every answer is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take() {
        T value{};
        size_t count = size_ - position_ < sizeof value ? size_ - position_ : sizeof value;
        if (count > 0) memcpy(&value, data_ + position_, count);
        position_ += count;
        return value;
    }
    // A status that is mostly success, so that the code behind it is reached too.
    int32_t Status() { return Take<uint8_t>() % 4 != 0 ? 0 : Take<int32_t>(); }
    // Up to `capacity` raw bytes; returns how many were copied.
    size_t Bytes(char* out, size_t capacity) {
        size_t count = Take<uint8_t>();
        if (count > capacity) count = capacity;
        if (count > size_ - position_) count = size_ - position_;
        if (count > 0) memcpy(out, data_ + position_, count);
        position_ += count;
        return count;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};
