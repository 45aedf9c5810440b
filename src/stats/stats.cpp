#include "stats/stats.hpp"

#include <cstring>

namespace quellpack::stats {

namespace {

inline void setLength(unsigned char* list, uint32_t n) { list[4] = static_cast<unsigned char>(n - 1); }

// Stores escape and total, halving every count and the escape first when
// the total passed the limit. Entry k's count is passed separately because
// before halving it may not fit its 16 bits.
void finishList(unsigned char* b, uint32_t n, int32_t escape, int32_t total, uint32_t k, int32_t countK) {
    unsigned char* counts = listCounts(b, n);
    if (total > kHalveAbove) {
        escape = escape / 2 + 1;
        total = escape;
        for (uint32_t i = 0; i < n; ++i) {
            const int32_t count = (i == k ? countK : static_cast<int32_t>(load16(counts + 2 * i))) / 2 + 1;
            store16(counts + 2 * i, static_cast<uint32_t>(count));
            total += count;
        }
    } else {
        store16(counts + 2 * k, static_cast<uint32_t>(countK));
    }
    store32(b, static_cast<uint32_t>(escape) | static_cast<uint32_t>(total) << 16);
}

// A copy of the list `old` (n bytes) with c inserted at k, in a new block.
uint32_t insertIntoList(Pool& pool, const unsigned char* old, uint32_t n, uint32_t k, uint32_t c) {
    const uint32_t index = pool.alloc(listBlockUnits(n + 1));
    unsigned char* b = pool.at(index);
    setLength(b, n + 1);
    unsigned char* syms = listSymbols(b);
    unsigned char* counts = listCounts(b, n + 1);
    const unsigned char* oldSyms = listSymbols(old);
    const unsigned char* oldCounts = listCounts(old, n);
    std::memcpy(syms, oldSyms, k);
    syms[k] = static_cast<unsigned char>(c);
    std::memcpy(syms + k + 1, oldSyms + k, n - k);
    std::memcpy(counts, oldCounts, 2 * k);
    std::memcpy(counts + 2 * (k + 1), oldCounts + 2 * k, 2 * (n - k));
    return index;
}

// StDet(s, n) meets a second byte c: a two-byte StSmall.
void detToSmall(uint32_t c, int32_t x, Stats& st, Pool& pool) {
    const uint32_t index = pool.alloc(listBlockUnits(2));
    unsigned char* b = pool.at(index);
    setLength(b, 2);
    const uint32_t s = detSymbol(st);
    const int32_t n = detCount(st);
    const uint32_t k = c < s ? 0 : 1;  // where c goes
    unsigned char* syms = listSymbols(b);
    syms[k] = static_cast<unsigned char>(c);
    syms[1 - k] = static_cast<unsigned char>(s);
    store16(listCounts(b, 2) + 2 * (1 - k), static_cast<uint32_t>(n));
    const int32_t escape = kDetEscape + x;
    finishList(b, 2, escape, n + kIncrement + escape, k, kIncrement);
    st = listStats(index);
}

}  // namespace

SymbInfo getSymbInfoMasked(uint32_t c, const Mask& mask, const SymbolView& v) {
    const int32_t k = positionOf(v, c);
    const bool found = holdsAt(v, k, c);
    int32_t below, all;
    if (v.n == 256) {
        allowedSums(v.counts, mask.bits, k, below, all);
    } else {
        maskedSums(v.symbols, v.counts, v.n, mask.bits, k, below, all);
    }
    if (found) return SymbInfo{true, v.esc + below, countAt(v, k), v.esc + all, v.esc, k};
    return SymbInfo{false, 0, v.esc, v.esc + all, v.esc, 0};
}

Stats newRootStats(Pool& pool) {
    const uint32_t index = pool.alloc(listBlockUnits(256));
    unsigned char* b = pool.at(index);
    store32(b, 0u | 256u << 16);
    setLength(b, 256);
    for (uint32_t s = 0; s < 256; ++s) {
        listSymbols(b)[s] = static_cast<unsigned char>(s);
        store16(listCounts(b, 256) + 2 * s, 1);
    }
    return listStats(index);
}

void incrCountSlow(uint32_t c, bool found, Stats& st, Pool& pool, int32_t position) {
    const int32_t x = found ? 0 : kEscapeIncrement;
    if (isDet(st)) {
        if (detSymbol(st) == c) {
            int32_t count = detCount(st) + kIncrement;
            if (count + kDetEscape > kHalveAbove) count = count / 2 + 1;
            st.word = c << 16 | static_cast<uint32_t>(count);
        } else {
            detToSmall(c, x, st, pool);
        }
        return;
    }
    unsigned char* b = pool.at(listIndex(st));
    const uint32_t head = load32(b);
    const uint32_t n = listLength(b);
    const int32_t escape = static_cast<int32_t>(head & 0xFFFF) + x;
    const int32_t total = static_cast<int32_t>(head >> 16) + kIncrement + x;
    DetScratch unused;
    const uint32_t k = static_cast<uint32_t>(position >= 0 ? position : positionOf(view(st, pool, unused), c));
    if (k < n && listSymbols(b)[k] == c) {
        const int32_t count = static_cast<int32_t>(load16(listCounts(b, n) + 2 * k)) + kIncrement;
        finishList(b, n, escape, total, k, count);
        return;
    }
    // c is new here: the list grows in its block when the block has room,
    // else it moves to the block size of one entry more.
    uint32_t index = listIndex(st);
    if (listBlockUnits(n + 1) == listBlockUnits(n)) {
        unsigned char* syms = listSymbols(b);
        unsigned char* counts = listCounts(b, n);
        // Every part moves right: the counts from k by three bytes, those
        // before k by one, the bytes from k by one; the last part first.
        std::memmove(counts + 2 * k + 3, counts + 2 * k, 2 * (n - k));
        std::memmove(counts + 1, counts, 2 * k);
        std::memmove(syms + k + 1, syms + k, n - k);
        syms[k] = static_cast<unsigned char>(c);
        setLength(b, n + 1);
    } else {
        index = insertIntoList(pool, b, n, k, c);
        pool.release(listIndex(st), listBlockUnits(n));
    }
    st = listStats(index);
    finishList(pool.at(index), n + 1, escape, total, k, kIncrement);
}

}  // namespace quellpack::stats
