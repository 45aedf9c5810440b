// A Reader over bytes in memory.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>

#include "quellpack/quellpack.hpp"

namespace quellpack::format {

// Serves the `length` bytes at `data` (which must outlive it) in chunks.
inline Reader bufferReader(const uint8_t* data, size_t length) {
    auto offset = std::make_shared<size_t>(0);
    return [data, length, offset](uint8_t* buf, size_t capacity) {
        const size_t n = std::min(capacity, length - *offset);
        if (n > 0) std::memcpy(buf, data + *offset, n);
        *offset += n;
        return n;
    };
}

}  // namespace quellpack::format
