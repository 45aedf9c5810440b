// Vector scans over a list's sorted bytes and 16-bit counts.
//
// The queries ask three things of a list: where a byte stands among the
// sorted bytes, the sum of the counts before a position (of all bytes, or
// of those an exclusion bitmap allows), and the first position whose
// running sum passes a target; the tree asks where a key stands among a
// child table's keys. With SSE2 (every x86-64) these take 16 bytes or 8
// counts per step; the bitmap is looked up 16 bytes at a time where the
// CPU has byte shuffles (SSSE3, checked at run time); elsewhere plain
// loops answer.
//
// The vector forms load whole 16-byte blocks and may read up to 32 bytes
// past a list's end (the counts of a last block of 16 bytes): every list
// lives in the pool, whose chunks keep at least that much slack.
// Lanes past the end are masked out, so what they held never matters.
// Count sums fit 16-bit lanes: a record's counts never add up to more
// than its total, which stays at or below 65535.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "stats/pool.hpp"

namespace quellpack::stats {

constexpr size_t kScanBlock = 16;                  // bytes per vector load
constexpr size_t kScanReadAhead = 2 * kScanBlock;  // most read past a list's end
static_assert(Pool::kSlack >= kScanReadAhead, "a list at a chunk's end is scanned inside the chunk");

#if defined(__SSE2__)

inline __m128i load128(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Lanes of 16-bit values: the first k (0..8) kept, the others cleared.
inline __m128i firstLanes16(int32_t k) {
    alignas(16) static constexpr uint16_t kOnes[16] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                                       0, 0, 0, 0, 0, 0, 0, 0};
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOnes + 8 - k));
}

// Sum of the eight 16-bit lanes (the sum itself fits 16 bits).
inline int32_t laneSum16(__m128i v) {
    v = _mm_add_epi16(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 4));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 2));
    return _mm_cvtsi128_si32(v) & 0xFFFF;
}

// The 8 counts at `counts`, each cleared where its bit in `excludedByte`
// is set (bit j for count j).
inline __m128i allowedCounts8(const unsigned char* counts, uint32_t excludedByte) {
    const __m128i bitOf = _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128);
    const __m128i bits = _mm_set1_epi16(static_cast<short>(excludedByte));
    const __m128i keep = _mm_cmpeq_epi16(_mm_and_si128(bits, bitOf), _mm_setzero_si128());
    return _mm_and_si128(load128(counts), keep);
}

#endif

// Whether byte b is set in a 256-bit exclusion bitmap.
inline bool isExcluded(const uint8_t* bits, uint32_t b) { return (bits[b >> 3] >> (b & 7) & 1) != 0; }

// Number of the n sorted bytes below c: c's position, or where it would go.
inline int32_t countBelow(const unsigned char* symbols, int32_t n, uint32_t c) {
    if (n == 256) return static_cast<int32_t>(c);
#if defined(__SSE2__)
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i key = _mm_set1_epi8(static_cast<char>(c ^ 0x80));
    int32_t k = 0;
    for (;; k += 16) {
        // Unsigned "below c" as a signed compare of both sides moved by 128.
        const __m128i below = _mm_cmpgt_epi8(key, _mm_xor_si128(load128(symbols + k), bias));
        const uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(below));
        const int32_t left = n - k;
        if (left <= 16) {
            const uint32_t inList = (1u << left) - 1;  // left >= 1
            return k + __builtin_ctz(~(bits & inList));
        }
        if (bits != 0xFFFF) return k + __builtin_ctz(~bits);
    }
#else
    int32_t k = 0;
    while (k < n && symbols[k] < c) ++k;
    return k;
#endif
}

// Index of byte b among n unsorted, distinct bytes, or -1.
inline int32_t indexOfByte(const unsigned char* bytes, int32_t n, uint32_t b) {
#if defined(__SSE2__)
    const __m128i key = _mm_set1_epi8(static_cast<char>(b));
    for (int32_t k = 0; k < n; k += 16) {
        uint32_t hits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load128(bytes + k), key)));
        if (n - k < 16) hits &= (1u << (n - k)) - 1;
        if (hits != 0) return k + __builtin_ctz(hits);
    }
    return -1;
#else
    for (int32_t k = 0; k < n; ++k)
        if (bytes[k] == b) return k;
    return -1;
#endif
}

// Sum of the first k 16-bit counts.
inline int32_t sumCounts(const unsigned char* counts, int32_t k) {
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 8 <= k; i += 8) acc = _mm_add_epi16(acc, load128(counts + 2 * i));
    acc = _mm_add_epi16(acc, _mm_and_si128(load128(counts + 2 * i), firstLanes16(k - i)));
    return laneSum16(acc);
#else
    int32_t sum = 0;
    for (int32_t i = 0; i < k; ++i) sum += static_cast<int32_t>(load16(counts + 2 * i));
    return sum;
#endif
}

// Over a list that holds all 256 bytes (so its position i is byte i), the
// counts the exclusion bitmap allows below position k and of all bytes.
inline void allowedSums(const unsigned char* counts, const uint8_t* excluded, int32_t k, int32_t& below,
                        int32_t& all) {
#if defined(__SSE2__)
    __m128i low = _mm_setzero_si128(), rest = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 8 <= k; i += 8) low = _mm_add_epi16(low, allowedCounts8(counts + 2 * i, excluded[i >> 3]));
    if (i < 256) {
        const __m128i split = allowedCounts8(counts + 2 * i, excluded[i >> 3]);
        const __m128i part = _mm_and_si128(split, firstLanes16(k - i));
        low = _mm_add_epi16(low, part);
        rest = _mm_sub_epi16(split, part);
        for (i += 8; i < 256; i += 8) rest = _mm_add_epi16(rest, allowedCounts8(counts + 2 * i, excluded[i >> 3]));
    }
    below = laneSum16(low);
    all = below + laneSum16(rest);
#else
    below = all = 0;
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t w = isExcluded(excluded, static_cast<uint32_t>(i)) ? 0 : static_cast<int32_t>(load16(counts + 2 * i));
        if (i < k) below += w;
        all += w;
    }
#endif
}

// Over n sorted bytes (a list of fewer than 256) and their counts, the
// counts the exclusion bitmap allows: at positions below k (0..n), and all.
void maskedSums(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                int32_t k, int32_t& below, int32_t& all);

// The same list's counts with the excluded ones as 0, written to `out`
// (n counts, rounded up to 16 with zeros); returns their sum.
int32_t maskedCopy(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                   unsigned char* out);

// Where a running sum of counts passes a target: the first index whose
// count takes the sum above `target`, with the sum before it.
struct Passing {
    int32_t index;   // n when the counts never pass the target
    int32_t before;
};

// The first of the n counts at which the running sum exceeds target.
// With `excluded` (the bitmap, for a list of all 256 bytes) excluded counts
// are 0.
inline Passing findPassing(const unsigned char* counts, int32_t n, int32_t target, const uint8_t* excluded) {
    int32_t i = 0, sum = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        const int32_t block =
            laneSum16(excluded ? allowedCounts8(counts + 2 * i, excluded[i >> 3]) : load128(counts + 2 * i));
        if (sum + block > target) break;
        sum += block;
    }
#endif
    for (; i < n; ++i) {
        const bool kept = !excluded || !isExcluded(excluded, static_cast<uint32_t>(i));
        const int32_t w = kept ? static_cast<int32_t>(load16(counts + 2 * i)) : 0;
        if (sum + w > target) return Passing{i, sum};
        sum += w;
    }
    return Passing{n, sum};
}

}  // namespace quellpack::stats
