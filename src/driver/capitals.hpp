// Capital-letter transform: a capitalised word is coded as a mark byte 0x00
// and the word in lower case, so both spellings share contexts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quellpack::driver {

constexpr uint8_t CAPITAL_MARK = 0x00;
constexpr uint8_t TEXT_FLAG = 0x10;

// True when data holds no 0x00 byte and more than half of it lies in 'A'..'z'.
bool isText(const uint8_t* data, size_t n);

// Length of capitalsEncode's result for data.
size_t capitalsEncodedLength(const uint8_t* data, size_t n);

// Replaces each capital that is followed by a non-capital with the mark and
// the lower-case letter; `data` becomes its transform, of `encodedLength`
// bytes (capitalsEncodedLength).
void capitalsEncode(std::vector<uint8_t>& data, size_t encodedLength);

// Inverse of capitalsEncode: a mark and the byte after it become
// that byte minus 0x20. Returns false when data cannot be what
// capitalsEncode wrote: a mark not followed by a lower-case letter and then
// by a byte that is neither a capital nor a mark (the data is decoded all
// the same).
bool capitalsDecode(std::vector<uint8_t>& data);

}  // namespace quellpack::driver
