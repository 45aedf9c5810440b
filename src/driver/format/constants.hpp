// The compressed file's fixed numbers, in one place for every part that
// writes, reads or lists a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quellpack::format {

// The header: the model's byte count, four bytes little-endian.
constexpr size_t kHeaderSize = 4;
// The header and the four coded bytes that the decoder loads first.
constexpr size_t kMinFileSize = kHeaderSize + 4;
// The header holds the count as a signed 32-bit number: the longest model
// input (after the capital-letter transform) a file can hold.
constexpr uint32_t kMaxModelLength = 0x7FFFFFFF;

// Set in the first coded byte when the capital-letter transform was applied.
constexpr uint8_t TEXT_FLAG = 0x10;
// The transform codes a capitalised word as this mark and the word in lower case.
constexpr uint8_t CAPITAL_MARK = 0x00;

// Bytes read, transformed or compared at a time.
constexpr size_t kChunkSize = size_t{1} << 14;

// The integrity trailer: restored length (8), hash (8), version (1), magic (8).
constexpr size_t kTrailerSize = 25;
constexpr std::array<uint8_t, 8> kTrailerMagic = {0x89, 'Q', 'P', 'C', 'H', 'K', 0x0D, 0x0A};
// The version byte names the hash: 1 is XXH64 with seed 0.
constexpr uint8_t kTrailerXxh64 = 1;

}  // namespace quellpack::format
