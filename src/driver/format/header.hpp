// The start of every compressed file: the four-byte count of model bytes,
// then the first coded byte, which carries the text flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "driver/format/constants.hpp"

namespace quellpack::format {

struct Header {
    uint32_t count = 0;  // bytes the model coded, below 2^31
    bool text = false;   // the capital-letter transform was applied
};

// The header of a file whose first kMinFileSize bytes these are, or nothing
// when no file of ours starts so (a count of 2^31 or more, or a first coded
// byte with a bit other than the text flag).
inline std::optional<Header> parseHeader(const uint8_t* start) {
    uint32_t n = 0;
    for (size_t i = 0; i < kHeaderSize; ++i) n |= static_cast<uint32_t>(start[i]) << (8 * i);
    if (n > kMaxModelLength) return std::nullopt;
    const uint8_t flagByte = start[kHeaderSize];
    if ((flagByte & ~TEXT_FLAG) != 0) return std::nullopt;
    return Header{n, (flagByte & TEXT_FLAG) != 0};
}

}  // namespace quellpack::format
