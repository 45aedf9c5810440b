// The whole-buffer forms of the two loops.
#include <algorithm>
#include <cstring>

#include "ppm/ppm.hpp"

namespace quellpack::ppm {

namespace {

// Serves a buffer in chunks.
ChunkReader bufferReader(const uint8_t* data, size_t length, size_t& offset) {
    return [data, length, &offset](uint8_t* buf, size_t capacity) {
        const size_t n = std::min(capacity, length - offset);
        if (n > 0) std::memcpy(buf, data + offset, n);
        offset += n;
        return n;
    };
}

}  // namespace

std::vector<uint8_t> compress(const uint8_t* data, size_t n, const ProgressFn* progress) {
    std::vector<uint8_t> out;
    out.reserve(n + 20);
    size_t offset = 0;
    compress(n, bufferReader(data, n, offset),
             [&out](const uint8_t* bytes, size_t count) { out.insert(out.end(), bytes, bytes + count); }, progress);
    return out;
}

std::vector<uint8_t> decompress(const uint8_t* coded, size_t length, size_t n, const ProgressFn* progress) {
    std::vector<uint8_t> out;
    // Reserve by what the coded bytes plausibly hold, not by what the header
    // claims; the vector grows further as bytes are actually decoded.
    out.reserve(std::min(n, std::max(size_t{1} << 22, length * 8)));
    size_t offset = 0;
    decompress(bufferReader(coded, length, offset), n,
               [&out](const uint8_t* bytes, size_t count) { out.insert(out.end(), bytes, bytes + count); }, progress);
    return out;
}

}  // namespace quellpack::ppm
