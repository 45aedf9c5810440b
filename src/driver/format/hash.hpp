// XXH64, the 64-bit hash of the restored bytes that the integrity trailer
// records, computed piece by piece as the bytes stream past.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quellpack::format {

// The running state of one hash: four lane accumulators, the bytes of a
// stripe not yet complete, and the total length.
struct Xxh64 {
    uint64_t lanes[4];
    uint8_t stripe[32];
    size_t stripeLength = 0;
    uint64_t totalLength = 0;
    uint64_t seed = 0;
};

// Starts a hash with the given seed.
Xxh64 xxh64Start(uint64_t seed = 0);

// Adds the next n bytes.
void xxh64Add(Xxh64& h, const uint8_t* data, size_t n);

// The hash of everything added so far; the state may take more bytes after.
uint64_t xxh64Digest(const Xxh64& h);

// The hash of one byte string.
uint64_t xxh64(const uint8_t* data, size_t n, uint64_t seed = 0);

}  // namespace quellpack::format
