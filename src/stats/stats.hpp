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

#include "stats/pool.hpp"

namespace quellpack::stats {

enum StatKind : uint32_t { StDet = 0, StSmall = 1, StLarge = 2 };

constexpr int32_t kDetEscape = 6;        // escape frequency of every StDet
constexpr int32_t kIncrement = 11;       // count added per occurrence
constexpr int32_t kEscapeIncrement = 5;  // escape added when the byte was new
constexpr int32_t kMaxSmall = 10;        // an eleventh byte makes an StLarge
constexpr int32_t kHalveAbove = 65535;   // totals are kept at or below this

// A context's record in one word: the kind in the top two bits, then for an
// StDet its byte (bits 16..23) and count (bits 0..15), for the other kinds
// the pool index of its list. A list is: unit 0 = escape | total << 16,
// unit 1 = number of bytes n, then n byte values in ascending order, then
// their n counts as 16-bit values.
struct Stats {
    uint32_t word;
};

struct StatsPool {
    Pool units;
};

inline StatKind kindOf(Stats st) { return static_cast<StatKind>(st.word >> 30); }
inline uint32_t detSymbol(Stats st) { return st.word >> 16 & 0xFF; }
inline int32_t detCount(Stats st) { return static_cast<int32_t>(st.word & 0xFFFF); }
inline uint32_t listIndex(Stats st) { return st.word & 0x3FFFFFFF; }

inline Stats newDet(uint32_t b) { return Stats{b << 16 | 1}; }

constexpr uint32_t kListHeader = 5;

// Units of a list holding n bytes.
inline uint32_t listUnits(uint32_t n) { return (kListHeader + 3 * n + 3) / 4; }
inline uint32_t listLength(const unsigned char* list) { return list[4] + 1u; }
inline unsigned char* listSymbols(unsigned char* list) { return list + kListHeader; }
inline unsigned char* listCounts(unsigned char* list, uint32_t n) { return list + kListHeader + n; }

// Exclusion mask: bytes rejected by longer contexts for the current byte.
// Remembers what it excluded, so that resetting costs only that much.
struct Mask {
    uint8_t allowed[256];
    uint8_t excluded[256];
    int32_t nExcluded;

    Mask() : nExcluded(0) {
        for (int i = 0; i < 256; ++i) allowed[i] = 1;
    }
    void reset() {
        for (int32_t i = 0; i < nExcluded; ++i) allowed[excluded[i]] = 1;
        nExcluded = 0;
    }
    void exclude(uint32_t b) {
        if (allowed[b]) {
            allowed[b] = 0;
            excluded[nExcluded++] = static_cast<uint8_t>(b);
        }
    }
    bool none() const { return nExcluded == 0; }
};

// Room for an StDet's single entry when it is seen as a list.
struct DetScratch {
    unsigned char bytes[4];
};

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
inline SymbolView view(Stats st, const StatsPool& pool, DetScratch& scratch) {
    if (kindOf(st) == StDet) {
        scratch.bytes[0] = static_cast<unsigned char>(detSymbol(st));
        store16(scratch.bytes + 2, static_cast<uint32_t>(detCount(st)));
        return SymbolView{scratch.bytes, scratch.bytes + 2, 1, kDetEscape, detCount(st) + kDetEscape};
    }
    const unsigned char* b = pool.units.at(listIndex(st));
    const uint32_t head = load32(b);
    const uint32_t n = listLength(b);
    return SymbolView{b + kListHeader, b + kListHeader + n, static_cast<int32_t>(n),
                      static_cast<int32_t>(head & 0xFFFF), static_cast<int32_t>(head >> 16)};
}

// Sum of the first k counts of a list.
inline int32_t sumCounts(const unsigned char* counts, int32_t k) {
    int32_t sum = 0;
    for (int32_t i = 0; i < k; ++i) sum += static_cast<int32_t>(load16(counts + 2 * i));
    return sum;
}

// Position of c in the sorted bytes of v, or where it would be inserted.
inline int32_t positionOf(const SymbolView& v, uint32_t c) {
    if (v.n == 256) return static_cast<int32_t>(c);
    int32_t lo = 0, hi = v.n;
    while (hi - lo > 8) {
        const int32_t mid = (lo + hi) / 2;
        if (symbolAt(v, mid) < c) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    while (lo < hi && symbolAt(v, lo) < c) ++lo;
    return lo;
}


// Counts of the excluded bytes below c, and of all excluded bytes, that
// the list holds.
inline void excludedCounts(const SymbolView& v, const Mask& mask, uint32_t c, int32_t& below, int32_t& all) {
    below = 0;
    all = 0;
    for (int32_t i = 0; i < mask.nExcluded; ++i) {
        const uint32_t e = mask.excluded[i];
        const int32_t k = positionOf(v, e);
        if (k >= v.n || symbolAt(v, k) != e) continue;
        const int32_t count = countAt(v, k);
        all += count;
        if (e < c) below += count;
    }
}

// True when subtracting the excluded bytes is cheaper than a masked scan.
inline bool fewExcluded(const SymbolView& v, const Mask& mask) {
    return v.n == 256 || (v.n >= 32 && mask.nExcluded * 8 <= v.n);
}

// Where a byte, or the escape, lies in a context (the encoder's question).
struct SymbInfo {
    bool found;
    int32_t low;
    int32_t freq;
    int32_t total;  // after exclusions, escape included
    int32_t esc;
    int32_t index;  // found: position of the byte in the list
};

// Locates c in the record: found with its interval, or the escape's interval
// [0, esc). The mask is read, not narrowed: see excludeSymbols.
inline SymbInfo getSymbInfo(uint32_t c, const Mask& mask, const SymbolView& v) {
    SymbInfo info{false, 0, v.esc, v.esc, v.esc, 0};
    if (mask.none()) {
        info.total = v.total;
        int32_t low = v.esc;
        for (int32_t i = 0; i < v.n; ++i) {
            const uint32_t s = symbolAt(v, i);
            if (s >= c) {
                if (s == c) info = SymbInfo{true, low, countAt(v, i), v.total, v.esc, i};
                break;
            }
            low += countAt(v, i);
        }
        return info;
    }
    const int32_t k = positionOf(v, c);
    if (fewExcluded(v, mask)) {
        int32_t below, all;
        excludedCounts(v, mask, c, below, all);
        if (k < v.n && symbolAt(v, k) == c)
            return SymbInfo{true, v.esc + sumCounts(v.counts, k) - below, countAt(v, k), v.total - all, v.esc, k};
        return SymbInfo{false, 0, v.esc, v.total - all, v.esc, 0};
    }
    int32_t low = v.esc;
    for (int32_t i = 0; i < k; ++i) low += countAt(v, i) * mask.allowed[symbolAt(v, i)];
    int32_t total = low;
    for (int32_t i = k; i < v.n; ++i) total += countAt(v, i) * mask.allowed[symbolAt(v, i)];
    if (k < v.n && symbolAt(v, k) == c) return SymbInfo{true, low, countAt(v, k), total, v.esc, k};
    return SymbInfo{false, 0, v.esc, total, v.esc, 0};
}

// As above for a record; an StDet answers from its own word, without
// consulting the mask for its byte.
inline SymbInfo getSymbInfo(uint32_t c, const Mask& mask, Stats st, const StatsPool& pool) {
    if (kindOf(st) == StDet) {
        const int32_t n = detCount(st);
        if (detSymbol(st) == c) return SymbInfo{true, kDetEscape, n, n + kDetEscape, kDetEscape, 0};
        const int32_t w = mask.allowed[detSymbol(st)] ? n : 0;
        return SymbInfo{false, 0, kDetEscape, w + kDetEscape, kDetEscape, 0};
    }
    DetScratch scratch;
    return getSymbInfo(c, mask, view(st, pool, scratch));
}

// Excludes every byte of the record: what an escape out of it tells the
// shorter contexts.
inline void excludeSymbols(Mask& mask, const SymbolView& v) {
    for (int32_t i = 0; i < v.n; ++i) mask.exclude(symbolAt(v, i));
}

// Escape frequency and masked symbol sum of a context (the decoder's first
// question).
struct Totals {
    int32_t esc;
    int32_t sum;
};

inline Totals decodeTotals(const SymbolView& v, const Mask& mask) {
    if (mask.none()) return Totals{v.esc, v.total - v.esc};
    if (fewExcluded(v, mask)) {
        int32_t below, all;
        excludedCounts(v, mask, 0, below, all);
        return Totals{v.esc, v.total - v.esc - all};
    }
    int32_t sum = 0;
    for (int32_t i = 0; i < v.n; ++i) sum += countAt(v, i) * mask.allowed[symbolAt(v, i)];
    return Totals{v.esc, sum};
}

// Owner of position u of a context's range: symbol -1 is the escape.
struct Lookup {
    int32_t symbol;
    int32_t low;
    int32_t freq;
};

// Finds the owner of u; a u at or beyond the masked total finds no byte and
// returns symbol -2 (only a damaged stream asks for it).
inline Lookup decodeLookup(const SymbolView& v, const Mask& mask, int32_t u) {
    if (u < v.esc) return Lookup{-1, 0, v.esc};
    int32_t cum = v.esc;
    if (mask.none()) {
        for (int32_t i = 0; i < v.n; ++i) {
            const int32_t next = cum + countAt(v, i);
            if (next > u) return Lookup{static_cast<int32_t>(symbolAt(v, i)), cum, countAt(v, i)};
            cum = next;
        }
        return Lookup{-2, 0, 0};
    }
    for (int32_t i = 0; i < v.n; ++i) {
        const int32_t w = countAt(v, i) * mask.allowed[symbolAt(v, i)];
        if (cum + w > u) return Lookup{static_cast<int32_t>(symbolAt(v, i)), cum, w};
        cum += w;
    }
    return Lookup{-2, 0, 0};
}

// Counts an occurrence of c; `found` tells whether c was present. Grows the
// record's kind when c is new and halves it when its total passes the limit.
// `position`, when not -1, is where c stands in the record (SymbInfo.index).
void incrCount(uint32_t c, bool found, Stats& st, StatsPool& pool, int32_t position = -1);

// The root's record: all 256 bytes with count 1 and escape 0.
Stats newRootStats(StatsPool& pool);

}  // namespace quellpack::stats
