// XXH64 as its published description defines it: 32-byte stripes of four
// little-endian 64-bit lanes, each lane folded into its accumulator by a
// multiply-rotate-multiply round; the tail and the length mixed in at the
// end, then an avalanche of shifts and multiplies.
#include "driver/format/hash.hpp"

#include <cstring>

namespace quellpack::format {

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

inline uint64_t read64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

inline uint64_t read32(const uint8_t* p) {
    return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24;
}

inline uint64_t round(uint64_t acc, uint64_t lane) {
    acc += lane * kPrime2;
    return rotl(acc, 31) * kPrime1;
}

inline uint64_t mergeLane(uint64_t acc, uint64_t lane) {
    acc ^= round(0, lane);
    return acc * kPrime1 + kPrime4;
}

inline void consumeStripe(uint64_t lanes[4], const uint8_t* p) {
    for (int i = 0; i < 4; ++i) lanes[i] = round(lanes[i], read64(p + 8 * i));
}

}  // namespace

Xxh64 xxh64Start(uint64_t seed) {
    Xxh64 h;
    h.seed = seed;
    h.lanes[0] = seed + kPrime1 + kPrime2;
    h.lanes[1] = seed + kPrime2;
    h.lanes[2] = seed;
    h.lanes[3] = seed - kPrime1;
    return h;
}

void xxh64Add(Xxh64& h, const uint8_t* data, size_t n) {
    h.totalLength += n;
    if (h.stripeLength > 0) {
        const size_t take = n < 32 - h.stripeLength ? n : 32 - h.stripeLength;
        std::memcpy(h.stripe + h.stripeLength, data, take);
        h.stripeLength += take;
        data += take;
        n -= take;
        if (h.stripeLength < 32) return;
        consumeStripe(h.lanes, h.stripe);
        h.stripeLength = 0;
    }
    for (; n >= 32; data += 32, n -= 32) consumeStripe(h.lanes, data);
    if (n > 0) std::memcpy(h.stripe, data, n);
    h.stripeLength = n;
}

uint64_t xxh64Digest(const Xxh64& h) {
    uint64_t acc;
    if (h.totalLength >= 32) {
        const uint64_t* v = h.lanes;
        acc = rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18);
        for (int i = 0; i < 4; ++i) acc = mergeLane(acc, v[i]);
    } else {
        acc = h.seed + kPrime5;
    }
    acc += h.totalLength;
    const uint8_t* p = h.stripe;
    size_t left = h.stripeLength;
    for (; left >= 8; p += 8, left -= 8) {
        acc ^= round(0, read64(p));
        acc = rotl(acc, 27) * kPrime1 + kPrime4;
    }
    if (left >= 4) {
        acc ^= read32(p) * kPrime1;
        acc = rotl(acc, 23) * kPrime2 + kPrime3;
        p += 4;
        left -= 4;
    }
    for (; left > 0; ++p, --left) {
        acc ^= *p * kPrime5;
        acc = rotl(acc, 11) * kPrime1;
    }
    acc ^= acc >> 33;
    acc *= kPrime2;
    acc ^= acc >> 29;
    acc *= kPrime3;
    acc ^= acc >> 32;
    return acc;
}

uint64_t xxh64(const uint8_t* data, size_t n, uint64_t seed) {
    Xxh64 h = xxh64Start(seed);
    xxh64Add(h, data, n);
    return xxh64Digest(h);
}

}  // namespace quellpack::format
