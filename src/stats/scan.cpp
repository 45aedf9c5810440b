#include "stats/scan.hpp"
#include "stats/scan_plain.hpp"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#define QUELLPACK_BYTE_SHUFFLE 1
#endif

namespace quellpack::stats {

namespace {

// The count at position i, or 0 when the bitmap excludes its byte.
inline int32_t allowedCount(const unsigned char* symbols, const unsigned char* counts, int32_t i,
                            const uint8_t* excluded) {
    return isExcluded(excluded, symbols[i]) ? 0 : static_cast<int32_t>(load16(counts + 2 * i));
}

}  // namespace

void maskedSumsPlain(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                     int32_t k, int32_t& below, int32_t& all) {
    below = all = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t w = allowedCount(symbols, counts, i, excluded);
        if (i < k) below += w;
        all += w;
    }
}

int32_t maskedCopyPlain(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                        unsigned char* out) {
    int32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t w = allowedCount(symbols, counts, i, excluded);
        store16(out + 2 * i, static_cast<uint32_t>(w));
        sum += w;
    }
    for (int32_t i = n; i < ((n + 15) & ~15); ++i) store16(out + 2 * i, 0);
    return sum;
}

namespace {

#if defined(QUELLPACK_BYTE_SHUFFLE)

bool cpuHasByteShuffle() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

// Byte lanes: the first m (0..16) set to 0xFF, the others cleared.
inline __m128i firstBytes(int32_t m) {
    alignas(16) static constexpr uint8_t kOnes[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOnes + 16 - m));
}

// For 16 bytes, 0xFF where the bitmap (its two halves lo, hi) allows the
// byte and 0 where it excludes it: the bitmap byte b >> 3 is picked by a
// shuffle of each half, the bit b & 7 by a shuffle of the bit values.
[[gnu::target("ssse3")]] inline __m128i allowedBytes16(__m128i b, __m128i lo, __m128i hi) {
    const __m128i bitOf = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m128i index = _mm_and_si128(_mm_srli_epi16(b, 3), _mm_set1_epi8(0x1F));
    // A shuffle gives 0 where its index has the top bit set: indices 16..31
    // are moved there for the low half, 0..15 for the high half.
    const __m128i fromLo = _mm_shuffle_epi8(lo, _mm_adds_epu8(index, _mm_set1_epi8(0x70)));
    const __m128i fromHi = _mm_shuffle_epi8(hi, _mm_sub_epi8(index, _mm_set1_epi8(16)));
    const __m128i bit = _mm_shuffle_epi8(bitOf, _mm_and_si128(b, _mm_set1_epi8(7)));
    const __m128i excludedBit = _mm_and_si128(_mm_or_si128(fromLo, fromHi), bit);
    return _mm_cmpeq_epi8(excludedBit, _mm_setzero_si128());
}

// 0xFF for each of the list's bytes i..i+15 that the bitmap allows; 0 for
// excluded bytes and for lanes past the list's end.
[[gnu::target("ssse3")]] inline __m128i allowedBlock(const unsigned char* symbols, int32_t i, int32_t n, __m128i lo,
                                                     __m128i hi) {
    const __m128i keep = allowedBytes16(load128(symbols + i), lo, hi);
    return n - i < 16 ? _mm_and_si128(keep, firstBytes(n - i)) : keep;
}

// The 16 counts at `counts` kept where `keep` has 0xFF, as two vectors.
inline void keptCounts16(const unsigned char* counts, __m128i keep, __m128i& first, __m128i& second) {
    first = _mm_and_si128(load128(counts), _mm_unpacklo_epi8(keep, keep));
    second = _mm_and_si128(load128(counts + 16), _mm_unpackhi_epi8(keep, keep));
}

// Masked sums 16 entries at a time; the block that holds position k also
// gives the sum below k. Lanes past the list's end are dropped in the last
// block only.
[[gnu::target("ssse3")]] void maskedSumsShuffle(const unsigned char* symbols, const unsigned char* counts, int32_t n,
                                                const uint8_t* excluded, int32_t k, int32_t& below,
                                                int32_t& all) {
    const __m128i lo = load128(excluded), hi = load128(excluded + 16);
    const int32_t kBlock = k & ~15;
    __m128i sum = _mm_setzero_si128(), low = _mm_setzero_si128();
    for (int32_t i = 0; i < n; i += 16) {
        const __m128i keep = allowedBlock(symbols, i, n, lo, hi);
        __m128i first, second;
        if (i == kBlock) {
            keptCounts16(counts + 2 * i, _mm_and_si128(keep, firstBytes(k - i)), first, second);
            low = _mm_add_epi16(sum, _mm_add_epi16(first, second));
        }
        keptCounts16(counts + 2 * i, keep, first, second);
        sum = _mm_add_epi16(sum, _mm_add_epi16(first, second));
    }
    if (kBlock >= n) low = sum;
    below = laneSum16(low);
    all = laneSum16(sum);
}

[[gnu::target("ssse3")]] int32_t maskedCopyShuffle(const unsigned char* symbols, const unsigned char* counts, int32_t n,
                                                   const uint8_t* excluded, unsigned char* out) {
    const __m128i lo = load128(excluded), hi = load128(excluded + 16);
    __m128i sum = _mm_setzero_si128();
    for (int32_t i = 0; i < n; i += 16) {
        const __m128i keep = allowedBlock(symbols, i, n, lo, hi);
        __m128i first, second;
        keptCounts16(counts + 2 * i, keep, first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), second);
        sum = _mm_add_epi16(sum, _mm_add_epi16(first, second));
    }
    return laneSum16(sum);
}

// Whether this CPU runs the shuffle forms: asked once.
bool useShuffle() {
    static const bool has = cpuHasByteShuffle();
    return has;
}

#endif

}  // namespace

void maskedSums(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                int32_t k, int32_t& below, int32_t& all) {
#if defined(QUELLPACK_BYTE_SHUFFLE)
    // A single entry (an StDet seen as a list) has too little slack for
    // the shuffle form's two blocks of counts (see DetScratch).
    if (n > 1 && useShuffle()) return maskedSumsShuffle(symbols, counts, n, excluded, k, below, all);
#endif
    maskedSumsPlain(symbols, counts, n, excluded, k, below, all);
}

int32_t maskedCopy(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                   unsigned char* out) {
#if defined(QUELLPACK_BYTE_SHUFFLE)
    if (n > 1 && useShuffle()) return maskedCopyShuffle(symbols, counts, n, excluded, out);
#endif
    return maskedCopyPlain(symbols, counts, n, excluded, out);
}

}  // namespace quellpack::stats
