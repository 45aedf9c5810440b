// Per-context statistics records and their queries.
//
// A context knows one byte (`StDet`, stored inline in its node), two to ten
// bytes (`StSmall`) or more (`StLarge`). Both larger kinds keep their bytes
// as one sorted list of entries in the statistics pool, so a query visits
// only the bytes present; the frequency layout they describe is the same:
// the escape at [0, esc), then each present byte in ascending order with
// width mask[b] * count(b).
#pragma once

#include <cstdint>

#include "stats/pool.hpp"

namespace quellpack::stats {

enum StatKind : uint8_t { StDet = 0, StSmall = 1, StLarge = 2 };

constexpr int32_t kDetEscape = 6;        // escape frequency of every StDet
constexpr int32_t kIncrement = 11;       // count added per occurrence
constexpr int32_t kEscapeIncrement = 5;  // escape added when the byte was new
constexpr int32_t kMaxSmall = 10;        // an eleventh byte makes an StLarge
constexpr int32_t kHalveAbove = 65535;   // totals are kept at or below this

// A context's record. For StSmall/StLarge `block` addresses the list:
// word 0 = escape | total << 16, word 1 = count of bytes | capacity << 16,
// then one entry per byte, symbol << 24 | count, in ascending byte order.
struct Stats {
    uint8_t kind;
    uint8_t symbol;   // StDet: its byte
    uint16_t count;   // StDet: its count
    uint32_t block;   // StSmall, StLarge: list in the pool
};

struct StatsPool {
    WordPool words;
};

inline Stats newDet(uint8_t b) { return Stats{StDet, b, 1, 0}; }

inline uint32_t makeEntry(uint32_t symbol, int32_t count) {
    return symbol << 24 | static_cast<uint32_t>(count);
}
inline uint32_t entrySymbol(uint32_t e) { return e >> 24; }
inline int32_t entryCount(uint32_t e) { return static_cast<int32_t>(e & 0xFFFFFF); }

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

// A record seen as its sorted entries, whatever its kind.
struct SymbolView {
    const uint32_t* entries;
    int32_t n;
    int32_t esc;
    int32_t total;   // escape plus all counts, before exclusions
};

// Returns the view of `st`; an StDet's single entry is kept in `scratch`.
inline SymbolView view(const Stats& st, const StatsPool& pool, uint32_t& scratch) {
    if (st.kind == StDet) {
        scratch = makeEntry(st.symbol, st.count);
        return SymbolView{&scratch, 1, kDetEscape, st.count + kDetEscape};
    }
    const uint32_t* b = pool.words.at(st.block);
    return SymbolView{b + 2, static_cast<int32_t>(b[1] & 0xFFFF), static_cast<int32_t>(b[0] & 0xFFFF),
                      static_cast<int32_t>(b[0] >> 16)};
}

// Where a byte, or the escape, lies in a context (the encoder's question).
struct SymbInfo {
    bool found;
    int32_t low;
    int32_t freq;
    int32_t total;  // after exclusions, escape included
    int32_t esc;
};

// Locates c in the record: found with its interval, or the escape's interval
// [0, esc). The mask is read, not narrowed: see excludeSymbols.
inline SymbInfo getSymbInfo(uint32_t c, const Mask& mask, const SymbolView& v) {
    SymbInfo info{false, 0, v.esc, v.esc, v.esc};
    if (mask.none()) {
        info.total = v.total;
        int32_t low = v.esc;
        for (int32_t i = 0; i < v.n; ++i) {
            const uint32_t e = v.entries[i];
            const uint32_t s = entrySymbol(e);
            if (s >= c) {
                if (s == c) info = SymbInfo{true, low, entryCount(e), v.total, v.esc};
                break;
            }
            low += entryCount(e);
        }
        return info;
    }
    int32_t low = v.esc, total = v.esc;
    for (int32_t i = 0; i < v.n; ++i) {
        const uint32_t e = v.entries[i];
        const uint32_t s = entrySymbol(e);
        const int32_t w = mask.allowed[s] ? entryCount(e) : 0;
        if (s < c) low += w;
        if (s == c) {
            info.found = true;
            info.low = low;
            info.freq = entryCount(e);
        }
        total += w;
    }
    info.total = total;
    if (info.found) return info;
    info.low = 0;
    return info;
}

// StDet answers from its own record: the mask is not consulted for its byte.
inline SymbInfo getSymbInfo(uint32_t c, const Mask& mask, const Stats& st, const StatsPool& pool) {
    if (st.kind == StDet) {
        if (st.symbol == c) return SymbInfo{true, kDetEscape, st.count, st.count + kDetEscape, kDetEscape};
        const int32_t w = mask.allowed[st.symbol] ? st.count : 0;
        return SymbInfo{false, 0, kDetEscape, w + kDetEscape, kDetEscape};
    }
    uint32_t scratch;
    return getSymbInfo(c, mask, view(st, pool, scratch));
}

// Excludes every byte of the record: what an escape out of it tells the
// shorter contexts.
inline void excludeSymbols(Mask& mask, const SymbolView& v) {
    for (int32_t i = 0; i < v.n; ++i) mask.exclude(entrySymbol(v.entries[i]));
}

// Escape frequency and masked symbol sum of a context (the decoder's first
// question).
struct Totals {
    int32_t esc;
    int32_t sum;
};

inline Totals decodeTotals(const SymbolView& v, const Mask& mask) {
    if (mask.none()) return Totals{v.esc, v.total - v.esc};
    int32_t sum = 0;
    for (int32_t i = 0; i < v.n; ++i) {
        const uint32_t e = v.entries[i];
        if (mask.allowed[entrySymbol(e)]) sum += entryCount(e);
    }
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
    for (int32_t i = 0; i < v.n; ++i) {
        const uint32_t e = v.entries[i];
        const uint32_t s = entrySymbol(e);
        if (!mask.allowed[s]) continue;
        const int32_t next = cum + entryCount(e);
        if (next > u) return Lookup{static_cast<int32_t>(s), cum, entryCount(e)};
        cum = next;
    }
    return Lookup{-2, 0, 0};
}

// Counts an occurrence of c; `found` tells whether c was present. Grows the
// record's kind when c is new and halves it when its total passes the limit.
void incrCount(uint32_t c, bool found, Stats& st, StatsPool& pool);

// The root's record: all 256 bytes with count 1 and escape 0.
Stats newRootStats(StatsPool& pool);

}  // namespace quellpack::stats
