#include "stats/stats.hpp"

#include <cstring>

namespace quellpack::stats {

namespace {

constexpr uint32_t kHeaderWords = 2;

// Smallest list capacity that holds n entries; small steps while a context
// is an StSmall, doubling afterwards.
uint32_t capacityFor(uint32_t n) {
    if (n <= 2) return 2;
    if (n <= 4) return 4;
    if (n <= 10) return 10;
    uint32_t cap = 16;
    while (cap < n) cap *= 2;
    return cap;
}

uint32_t* allocList(StatsPool& pool, uint32_t cap, uint32_t& block) {
    block = pool.words.alloc(kHeaderWords + cap);
    return pool.words.at(block);
}

void setHeader(uint32_t* b, int32_t escape, int32_t total, uint32_t n, uint32_t cap) {
    b[0] = static_cast<uint32_t>(escape) | static_cast<uint32_t>(total) << 16;
    b[1] = n | cap << 16;
}

// Halves every count and the escape when the total passed the limit.
void halveIfNeeded(uint32_t* b, int32_t escape, int32_t total) {
    const uint32_t n = b[1] & 0xFFFF;
    if (total > kHalveAbove) {
        escape = escape / 2 + 1;
        total = escape;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t e = b[kHeaderWords + i];
            const int32_t count = entryCount(e) / 2 + 1;
            b[kHeaderWords + i] = makeEntry(entrySymbol(e), count);
            total += count;
        }
    }
    b[0] = static_cast<uint32_t>(escape) | static_cast<uint32_t>(total) << 16;
}

// StDet(s, n) meets a second byte c: a two-byte StSmall.
void detToSmall(uint32_t c, int32_t x, Stats& st, StatsPool& pool) {
    uint32_t block;
    uint32_t* b = allocList(pool, 2, block);
    const uint32_t detEntry = makeEntry(st.symbol, st.count);
    const uint32_t newEntry = makeEntry(c, kIncrement);
    b[kHeaderWords + 0] = c < st.symbol ? newEntry : detEntry;
    b[kHeaderWords + 1] = c < st.symbol ? detEntry : newEntry;
    const int32_t escape = kDetEscape + x;
    setHeader(b, escape, st.count + kIncrement + escape, 2, 2);
    halveIfNeeded(b, escape, st.count + kIncrement + escape);
    st = Stats{StSmall, 0, 0, block};
}

}  // namespace

Stats newRootStats(StatsPool& pool) {
    uint32_t block;
    uint32_t* b = allocList(pool, 256, block);
    for (uint32_t s = 0; s < 256; ++s) b[kHeaderWords + s] = makeEntry(s, 1);
    setHeader(b, 0, 256, 256, 256);
    return Stats{StLarge, 0, 0, block};
}

void incrCount(uint32_t c, bool found, Stats& st, StatsPool& pool) {
    const int32_t x = found ? 0 : kEscapeIncrement;
    if (st.kind == StDet) {
        if (st.symbol == c) {
            int32_t count = st.count + kIncrement;
            if (count + kDetEscape > kHalveAbove) count = count / 2 + 1;
            st.count = static_cast<uint16_t>(count);
        } else {
            detToSmall(c, x, st, pool);
        }
        return;
    }
    uint32_t* b = pool.words.at(st.block);
    const uint32_t n = b[1] & 0xFFFF;
    const int32_t escape = static_cast<int32_t>(b[0] & 0xFFFF) + x;
    const int32_t total = static_cast<int32_t>(b[0] >> 16) + kIncrement + x;
    uint32_t* entries = b + kHeaderWords;
    uint32_t k = 0;
    while (k < n && entrySymbol(entries[k]) < c) ++k;
    if (k < n && entrySymbol(entries[k]) == c) {
        entries[k] += kIncrement;
        halveIfNeeded(b, escape, total);
        return;
    }
    // c is new here: insert it at k, moving to a larger list when full.
    const uint32_t cap = b[1] >> 16;
    if (n == cap) {
        const uint32_t newCap = capacityFor(n + 1);
        uint32_t block;
        uint32_t* grown = allocList(pool, newCap, block);
        b = pool.words.at(st.block);  // allocation never moves chunks, but stay explicit
        std::memcpy(grown + kHeaderWords, b + kHeaderWords, k * sizeof(uint32_t));
        std::memcpy(grown + kHeaderWords + k + 1, b + kHeaderWords + k, (n - k) * sizeof(uint32_t));
        pool.words.release(st.block, kHeaderWords + cap);
        st.block = block;
        b = grown;
        b[1] = n | newCap << 16;
    } else {
        std::memmove(entries + k + 1, entries + k, (n - k) * sizeof(uint32_t));
    }
    b[kHeaderWords + k] = makeEntry(c, kIncrement);
    b[1] = (n + 1) | (b[1] & 0xFFFF0000u);
    st.kind = n + 1 > static_cast<uint32_t>(kMaxSmall) ? StLarge : StSmall;
    halveIfNeeded(b, escape, total);
}

}  // namespace quellpack::stats
