// The whole-buffer forms of the two loops.
#include <algorithm>
#include <cstring>
#include <memory>

#include "ppm/ppm.hpp"

namespace quellpack::ppm {

ChunkReader bufferReader(const uint8_t* data, size_t length) {
    auto offset = std::make_shared<size_t>(0);
    return [data, length, offset](uint8_t* buf, size_t capacity) {
        const size_t n = std::min(capacity, length - *offset);
        if (n > 0) std::memcpy(buf, data + *offset, n);
        *offset += n;
        return n;
    };
}

std::vector<uint8_t> compress(const uint8_t* data, size_t n, const ProgressFn* progress) {
    std::vector<uint8_t> out;
    out.reserve(n + 20);
    compress(n, bufferReader(data, n),
             [&out](const uint8_t* bytes, size_t count) { out.insert(out.end(), bytes, bytes + count); }, progress);
    return out;
}

std::vector<uint8_t> decompress(const uint8_t* coded, size_t length, size_t n, const ProgressFn* progress) {
    std::vector<uint8_t> out;
    // Reserve by what the coded bytes plausibly hold, not by what the header
    // claims; the vector grows further as bytes are actually decoded.
    out.reserve(std::min(n, std::max(size_t{1} << 22, length * 8)));
    decompress(bufferReader(coded, length), n,
               [&out](const uint8_t* bytes, size_t count) { out.insert(out.end(), bytes, bytes + count); }, progress);
    return out;
}

}  // namespace quellpack::ppm
