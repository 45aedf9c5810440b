#include "driver/capitals.hpp"

namespace quellpack::driver {

namespace {
inline bool isCapital(uint8_t b) { return b >= 'A' && b <= 'Z'; }
inline bool isLower(uint8_t b) { return b >= 'a' && b <= 'z'; }
}

bool isText(const uint8_t* data, size_t n) {
    size_t letters = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (b == 0) return false;
        letters += static_cast<uint8_t>(b - 0x41) <= 0x7A - 0x41;
    }
    return letters > n / 2;
}

size_t capitalsEncodedLength(const uint8_t* data, size_t n) {
    size_t extra = 0;
    for (size_t i = 0; i < n;) {
        if (isCapital(data[i]) && i + 1 < n && !isCapital(data[i + 1])) {
            ++extra;
            i += 2;
        } else {
            ++i;
        }
    }
    return n + extra;
}

void capitalsEncode(std::vector<uint8_t>& data, size_t encodedLength) {
    const size_t n = data.size();
    if (encodedLength == n) return;
    // Mark the converted capitals in a bit set, then rewrite from the end so
    // that no byte is overwritten before it is read.
    std::vector<uint64_t> converted((n + 63) / 64);
    for (size_t i = 0; i < n;) {
        if (isCapital(data[i]) && i + 1 < n && !isCapital(data[i + 1])) {
            converted[i / 64] |= uint64_t{1} << (i % 64);
            i += 2;
        } else {
            ++i;
        }
    }
    data.resize(encodedLength);
    size_t out = encodedLength;
    for (size_t i = n; i-- > 0;) {
        if (converted[i / 64] >> (i % 64) & 1) {
            data[--out] = static_cast<uint8_t>(data[i] + 0x20);
            data[--out] = CAPITAL_MARK;
        } else {
            data[--out] = data[i];
        }
    }
}

bool capitalsDecode(std::vector<uint8_t>& data) {
    const size_t n = data.size();
    size_t out = 0;
    bool wellFormed = true;
    for (size_t i = 0; i < n;) {
        if (data[i] == CAPITAL_MARK) {
            // Text holds no 0x00, so every one is a mark, and a mark stands
            // for a capital that was followed by a non-capital.
            wellFormed = wellFormed && i + 2 < n && isLower(data[i + 1]) && !isCapital(data[i + 2]) &&
                         data[i + 2] != CAPITAL_MARK;
        }
        if (data[i] == CAPITAL_MARK && i + 1 < n) {
            data[out++] = static_cast<uint8_t>(data[i + 1] - 0x20);
            i += 2;
        } else {
            data[out++] = data[i++];
        }
    }
    data.resize(out);
    return wellFormed;
}

}  // namespace quellpack::driver
