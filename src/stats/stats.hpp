// Per-context statistics records and their queries.
//
// A context knows one byte (`StDet`), two to ten bytes (`StSmall`) or more
// (`StLarge`). An StDet fits in one 32-bit word inside its tree node; the
// larger kinds keep their bytes as one sorted list in the statistics pool,
// exactly as long as the bytes present, so a query visits only those. All
// kinds describe the same frequency layout: the escape at [0, esc), then
// each present byte in ascending order with width mask[b] * count(b).
#pragma once

#include <cstdint>
#include <cstring>

#include "stats/constants.hpp"
#include "stats/pool.hpp"
#include "stats/scan.hpp"

namespace quellpack::stats {

enum StatKind : uint32_t { StDet = 0, StSmall = 1, StLarge = 2 };

constexpr int32_t kIncrement = 11;       // count added per occurrence
constexpr int32_t kEscapeIncrement = 5;  // escape added when the byte was new
constexpr int32_t kMaxSmall = 10;        // an eleventh byte makes an StLarge
constexpr int32_t kHalveAbove = 65535;   // totals are kept at or below this

// A context's record in one word: an StDet keeps its byte (bits 16..23)
// and count (bits 0..15), a list the pool index of its block, which is at
// least 2^24 (Pool::kFirstIndex): the word's value tells the two apart.
// StSmall and StLarge differ only in their length. A list
// is: unit 0 = escape | total << 16, unit 1 = number of bytes n, then n
// byte values in ascending order, then their n counts as 16-bit values.
struct Stats {
    uint32_t word;
};

constexpr uint32_t kDetWords = 1u << 24;  // every StDet's word is below this
static_assert(Pool::kFirstIndex >= kDetWords, "no list index looks like an StDet");
static_assert(Pool::kMaxUnits - 1 <= UINT32_MAX, "every pool index fits a record's word");

inline bool isDet(Stats st) { return st.word < kDetWords; }
inline uint32_t detSymbol(Stats st) { return st.word >> 16 & 0xFF; }
inline int32_t detCount(Stats st) { return static_cast<int32_t>(st.word & 0xFFFF); }
inline uint32_t listIndex(Stats st) { return st.word; }
inline Stats listStats(uint32_t index) { return Stats{index}; }

inline Stats newDet(uint32_t b) { return Stats{b << 16 | 1}; }

constexpr uint32_t kListHeader = 5;

// Units of a list holding n bytes, and of the block that holds it.
inline uint32_t listUnits(uint32_t n) { return (kListHeader + 3 * n + 3) / 4; }
inline uint32_t listBlockUnits(uint32_t n) { return blockUnits(listUnits(n)); }
inline uint32_t listLength(const unsigned char* list) { return list[4] + 1u; }
inline unsigned char* listSymbols(unsigned char* list) { return list + kListHeader; }
inline const unsigned char* listSymbols(const unsigned char* list) { return list + kListHeader; }
inline unsigned char* listCounts(unsigned char* list, uint32_t n) { return list + kListHeader + n; }
inline const unsigned char* listCounts(const unsigned char* list, uint32_t n) { return list + kListHeader + n; }

// The record's kind: StSmall and StLarge follow from the list's length.
inline StatKind kindOf(Stats st, const Pool& pool) {
    if (isDet(st)) return StDet;
    return listLength(pool.at(listIndex(st))) > static_cast<uint32_t>(kMaxSmall) ? StLarge : StSmall;
}

// Exclusion mask: bytes rejected by longer contexts for the current byte,
// one bit per byte (set: excluded). As a bitmap it is cleared in two
// stores and looked up 16 bytes at a time by the masked scans.
struct Mask {
    alignas(16) uint8_t bits[32];
    bool any;

    Mask() { reset(); }
    void reset() {
        std::memset(bits, 0, sizeof bits);
        any = false;
    }
    void exclude(uint32_t b) {
        mark(b);
        any = true;
    }
    // Sets b's bit only: for loops that settle `any` once.
    void mark(uint32_t b) { bits[b >> 3] = static_cast<uint8_t>(bits[b >> 3] | 1u << (b & 7)); }
    bool allows(uint32_t b) const { return !isExcluded(bits, b); }
    bool none() const { return !any; }
};

// Room for an StDet's single entry when it is seen as a list (its byte at
// 0, its count at kDetCounts), with the zeroed bytes that the scans of a
// single entry read past it: one block of bytes and one of counts. The
// masked scans read two blocks of counts and take their plain forms for a
// single entry (scan.cpp).
struct DetScratch {
    static constexpr size_t kDetCounts = 2;
    unsigned char bytes[32];
};
static_assert(sizeof(DetScratch::bytes) >= kScanBlock && sizeof(DetScratch::bytes) >= DetScratch::kDetCounts + kScanBlock,
              "the one-block scans of a single entry stay inside its scratch");
static_assert(sizeof(DetScratch::bytes) < DetScratch::kDetCounts + 2 * kScanBlock,
              "if this fails, the masked scans' single-entry guard can go");

// A record seen as its sorted bytes and their counts, whatever its kind.
struct SymbolView {
    const unsigned char* symbols;
    const unsigned char* counts;  // 16-bit values
    int32_t n;
    int32_t esc;
    int32_t total;   // escape plus all counts, before exclusions
};

inline uint32_t symbolAt(const SymbolView& v, int32_t i) { return v.symbols[i]; }
inline int32_t countAt(const SymbolView& v, int32_t i) { return static_cast<int32_t>(load16(v.counts + 2 * i)); }

// Returns the view of `st`; an StDet's single entry is kept in `scratch`.
inline SymbolView view(Stats st, const Pool& pool, DetScratch& scratch) {
    if (isDet(st)) {
        scratch = DetScratch{};
        unsigned char* counts = scratch.bytes + DetScratch::kDetCounts;
        scratch.bytes[0] = static_cast<unsigned char>(detSymbol(st));
        store16(counts, static_cast<uint32_t>(detCount(st)));
        return SymbolView{scratch.bytes, counts, 1, kDetEscape, detCount(st) + kDetEscape};
    }
    const unsigned char* b = pool.at(listIndex(st));
    const uint32_t head = load32(b);
    const uint32_t n = listLength(b);
    return SymbolView{listSymbols(b), listCounts(b, n), static_cast<int32_t>(n),
                      static_cast<int32_t>(head & 0xFFFF), static_cast<int32_t>(head >> 16)};
}

// Position of c in the sorted bytes of v, or where it would be inserted.
inline int32_t positionOf(const SymbolView& v, uint32_t c) { return countBelow(v.symbols, v.n, c); }

// True when c stands at position k of v.
inline bool holdsAt(const SymbolView& v, int32_t k, uint32_t c) { return k < v.n && symbolAt(v, k) == c; }

// Where a byte, or the escape, lies in a context (the encoder's question).
struct SymbInfo {
    bool found;
    int32_t low;
    int32_t freq;
    int32_t total;  // after exclusions, escape included
    int32_t esc;
    int32_t index;  // found: position of the byte in the list
};

// getSymbInfo when some bytes are excluded.
SymbInfo getSymbInfoMasked(uint32_t c, const Mask& mask, const SymbolView& v);

// Locates c in the record: found with its interval, or the escape's interval
// [0, esc). The mask is read, not narrowed: see excludeSymbols. Only an
// StDet is seen with a single entry (a list holds two bytes or more): it
// answers from that entry without consulting the mask for its byte.
inline SymbInfo getSymbInfo(uint32_t c, const Mask& mask, const SymbolView& v) {
    if (v.n == 1) {
        const uint32_t s = symbolAt(v, 0);
        const int32_t n = countAt(v, 0);
        if (s == c) return SymbInfo{true, v.esc, n, v.total, v.esc, 0};
        return SymbInfo{false, 0, v.esc, (mask.allows(s) ? n : 0) + v.esc, v.esc, 0};
    }
    if (!mask.none()) return getSymbInfoMasked(c, mask, v);
    const int32_t k = positionOf(v, c);
    if (holdsAt(v, k, c)) return SymbInfo{true, v.esc + sumCounts(v.counts, k), countAt(v, k), v.total, v.esc, k};
    return SymbInfo{false, 0, v.esc, v.total, v.esc, 0};
}

// As above for a record in `pool`.
inline SymbInfo getSymbInfo(uint32_t c, const Mask& mask, Stats st, const Pool& pool) {
    DetScratch scratch;
    return getSymbInfo(c, mask, view(st, pool, scratch));
}

// Excludes every byte of the record: what an escape out of it tells the
// shorter contexts.
inline void excludeSymbols(Mask& mask, const SymbolView& v) {
    for (int32_t i = 0; i < v.n; ++i) mask.mark(symbolAt(v, i));
    mask.any |= v.n > 0;
}

// Escape frequency and masked symbol sum of a context (the decoder's first
// question).
struct Totals {
    int32_t esc;
    int32_t sum;
};

// A record's counts as the mask leaves them, for the decoder's two
// questions: a list of all 256 bytes is read through the mask itself,
// other masked lists through a copy whose excluded entries are 0.
struct MaskedCounts {
    const unsigned char* counts;  // 16-bit, one per list position
    const uint8_t* excluded;      // the mask's bitmap, for a list of all 256 bytes
    alignas(16) unsigned char copy[2 * 256 + 16];  // 16: room for vector reads
};

inline Totals decodeTotals(const SymbolView& v, const Mask& mask, MaskedCounts& mc) {
    mc.counts = v.counts;
    mc.excluded = nullptr;
    if (mask.none()) return Totals{v.esc, v.total - v.esc};
    if (v.n == 256) {
        mc.excluded = mask.bits;
        int32_t below, all;
        allowedSums(v.counts, mask.bits, 0, below, all);
        return Totals{v.esc, all};
    }
    mc.counts = mc.copy;
    return Totals{v.esc, maskedCopy(v.symbols, v.counts, v.n, mask.bits, mc.copy)};
}

inline Totals decodeTotals(const SymbolView& v, const Mask& mask) {
    MaskedCounts mc;
    return decodeTotals(v, mask, mc);
}

// Owner of position u of a context's range: symbol -1 is the escape.
struct Lookup {
    int32_t symbol;
    int32_t low;
    int32_t freq;
    int32_t index;  // a byte: its position in the list
};

// Finds the owner of u among the counts decodeTotals prepared; a u at or
// beyond the masked total finds no byte and returns symbol -2 (only a
// damaged stream asks for it).
inline Lookup decodeLookup(const SymbolView& v, const MaskedCounts& mc, int32_t u) {
    if (u < v.esc) return Lookup{-1, 0, v.esc, 0};
    const Passing p = findPassing(mc.counts, v.n, u - v.esc, mc.excluded);
    if (p.index == v.n) return Lookup{-2, 0, 0, 0};
    return Lookup{static_cast<int32_t>(symbolAt(v, p.index)), v.esc + p.before, countAt(v, p.index), p.index};
}

inline Lookup decodeLookup(const SymbolView& v, const Mask& mask, int32_t u) {
    MaskedCounts mc;
    decodeTotals(v, mask, mc);
    return decodeLookup(v, mc, u);
}

// The general count update, for any case incrCount does not settle inline.
void incrCountSlow(uint32_t c, bool found, Stats& st, Pool& pool, int32_t position);

// Counts an occurrence of c; `found` tells whether c was present. Grows the
// record's kind when c is new and halves it when its total passes the limit.
// `position`, when not -1, is where c stands in the record (SymbInfo.index).
// The common case, a byte found where the position is known and no halving
// is due, is settled here without a call.
inline void incrCount(uint32_t c, bool found, Stats& st, Pool& pool, int32_t position = -1) {
    if (found) {
        if (isDet(st)) {
            if (detCount(st) + kIncrement + kDetEscape <= kHalveAbove) {
                st.word += kIncrement;
                return;
            }
        } else if (position >= 0) {
            unsigned char* b = pool.at(listIndex(st));
            const uint32_t head = load32(b);
            if ((head >> 16) + kIncrement <= static_cast<uint32_t>(kHalveAbove)) {
                unsigned char* count = listCounts(b, listLength(b)) + 2 * position;
                store16(count, load16(count) + kIncrement);
                store32(b, head + (static_cast<uint32_t>(kIncrement) << 16));
                return;
            }
        }
    }
    incrCountSlow(c, found, st, pool, position);
}

// The root's record: all 256 bytes with count 1 and escape 0.
Stats newRootStats(Pool& pool);

}  // namespace quellpack::stats
