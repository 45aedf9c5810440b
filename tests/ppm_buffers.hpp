// The model's two loops over whole buffers, for the tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "driver/format/memory_reader.hpp"
#include "ppm/ppm.hpp"

namespace quellpack::ppm {

inline Writer appendTo(std::vector<uint8_t>& out) {
    return [&out](const uint8_t* bytes, size_t count) { out.insert(out.end(), bytes, bytes + count); };
}

inline std::vector<uint8_t> compress(const uint8_t* data, size_t n) {
    std::vector<uint8_t> out;
    compress(n, format::bufferReader(data, n), appendTo(out));
    return out;
}

inline std::vector<uint8_t> decompress(const uint8_t* coded, size_t length, size_t n) {
    std::vector<uint8_t> out;
    decompress(format::bufferReader(coded, length), n, appendTo(out));
    return out;
}

}  // namespace quellpack::ppm
