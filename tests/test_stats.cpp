// Statistics records: kind transitions, halving, exclusions and the
// decoder's queries, all observed through the records' frequency layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "guarded_run.hpp"
#include "stats/region.hpp"
#include "stats/scan_plain.hpp"
#include "stats/stats.hpp"

using namespace quellpack::stats;

namespace {

// A record as its queries see it with nothing excluded.
struct Record {
    int kind;
    int32_t esc;
    int32_t total;
    std::array<int32_t, 256> count{};
    int distinct() const {
        int n = 0;
        for (int32_t c : count) n += c > 0;
        return n;
    }
};

Record inspect(const Stats& st, const Pool& pool) {
    const Mask all;
    Record r{static_cast<int>(kindOf(st, pool)), 0, 0};
    for (uint32_t b = 0; b < 256; ++b) {
        const SymbInfo info = getSymbInfo(b, all, st, pool);
        r.esc = info.esc;
        r.total = info.total;
        if (info.found) r.count[b] = info.freq;
    }
    return r;
}

bool present(const Stats& st, const Pool& pool, uint32_t c) { return getSymbInfo(c, Mask{}, st, pool).found; }

// Counts one occurrence of c the way the model does: found when present.
void add(Stats& st, Pool& pool, uint32_t c, int times = 1) {
    for (int i = 0; i < times; ++i) incrCount(c, present(st, pool, c), st, pool);
}

// The encoder's query followed by the narrowing an escape applies: together
// they are what a context tells the next shorter one.
SymbInfo query(uint32_t c, Mask& mask, const Stats& st, const Pool& pool) {
    const SymbInfo info = getSymbInfo(c, mask, st, pool);
    DetScratch scratch;
    if (!info.found) excludeSymbols(mask, view(st, pool, scratch));
    return info;
}

void expectInfo(const SymbInfo& i, bool found, int32_t low, int32_t freq, int32_t total, int32_t esc) {
    EXPECT_EQ(i.found, found);
    EXPECT_EQ(i.low, low);
    EXPECT_EQ(i.freq, freq);
    EXPECT_EQ(i.total, total);
    EXPECT_EQ(i.esc, esc);
}

}  // namespace

TEST(StatsTransitions, DetAnswersForItsOwnByteWhateverTheMask) {
    Pool pool;
    Stats st = newDet('s');
    expectInfo(getSymbInfo('s', Mask{}, st, pool), true, 6, 1, 7, 6);
    add(st, pool, 's', 3);  // count 34
    Mask m;
    m.exclude('s');
    expectInfo(getSymbInfo('s', m, st, pool), true, 6, 34, 40, 6);
    // Another byte: the escape, whose range shrinks to 6 once s is excluded.
    expectInfo(getSymbInfo('t', Mask{}, st, pool), false, 0, 6, 40, 6);
    expectInfo(getSymbInfo('t', m, st, pool), false, 0, 6, 6, 6);
}

TEST(StatsTransitions, DetMeetsSecondByteInByteOrder) {
    for (const uint32_t c : {50u, 150u}) {
        Pool pool;
        Stats st = newDet(100);
        add(st, pool, 100, 3);  // n = 34
        add(st, pool, c);
        const Record r = inspect(st, pool);
        EXPECT_EQ(r.kind, StSmall);
        EXPECT_EQ(r.esc, 11);
        EXPECT_EQ(r.total, 34 + 22);
        EXPECT_EQ(r.count[100], 34);
        EXPECT_EQ(r.count[c], 11);
        // The lower byte sits right above the escape, the higher one above it.
        const int32_t lowOf100 = c < 100 ? 11 + 11 : 11;
        const int32_t lowOfC = c < 100 ? 11 : 11 + 34;
        EXPECT_EQ(getSymbInfo(100, Mask{}, st, pool).low, lowOf100);
        EXPECT_EQ(getSymbInfo(c, Mask{}, st, pool).low, lowOfC);
    }
}

TEST(StatsTransitions, SmallInsertsAtFrontAndAtEnd) {
    Pool pool;
    Stats st = newDet(100);
    add(st, pool, 150);  // [100:1, 150:11], escape 11
    add(st, pool, 20);   // below everything: index 0
    EXPECT_EQ(getSymbInfo(20, Mask{}, st, pool).low, 16);
    EXPECT_EQ(getSymbInfo(100, Mask{}, st, pool).low, 16 + 11);
    EXPECT_EQ(getSymbInfo(150, Mask{}, st, pool).low, 16 + 11 + 1);
    add(st, pool, 200);  // above everything: the end
    EXPECT_EQ(getSymbInfo(200, Mask{}, st, pool).low, 21 + 11 + 1 + 11);
    EXPECT_EQ(getSymbInfo(20, Mask{}, st, pool).low, 21);
    const Record r = inspect(st, pool);
    EXPECT_EQ(r.kind, StSmall);
    EXPECT_EQ(r.esc, 21);
    EXPECT_EQ(r.total, 21 + 11 + 1 + 11 + 11);
    // A known byte adds 11 to its count and total, nothing to the escape.
    add(st, pool, 100);
    EXPECT_EQ(inspect(st, pool).count[100], 12);
    EXPECT_EQ(inspect(st, pool).esc, 21);
}

TEST(StatsTransitions, EleventhByteMakesLarge) {
    Pool pool;
    Stats st = newDet(5);
    for (uint32_t b = 6; b < 15; ++b) add(st, pool, b);  // ten bytes
    Record r = inspect(st, pool);
    EXPECT_EQ(r.kind, StSmall);
    EXPECT_EQ(r.distinct(), 10);
    add(st, pool, 200);
    r = inspect(st, pool);
    EXPECT_EQ(r.kind, StLarge);
    EXPECT_EQ(r.distinct(), 11);
    EXPECT_EQ(r.count[5], 1);
    for (uint32_t b = 6; b < 15; ++b) EXPECT_EQ(r.count[b], 11);
    EXPECT_EQ(r.count[200], 11);
    EXPECT_EQ(r.esc, 6 + 10 * 5);
    EXPECT_EQ(r.total, r.esc + 1 + 10 * 11);
    // A byte new to the StLarge: 11 to its zero count, 5 to the escape.
    add(st, pool, 0);
    EXPECT_EQ(inspect(st, pool).count[0], 11);
    EXPECT_EQ(inspect(st, pool).esc, r.esc + 5);
    EXPECT_EQ(inspect(st, pool).total, r.total + 16);
}

// A record's word tells an StDet from a list for every pool index, from
// the first to the last unit the pool can hand out (past the old 2^30
// limit); the StDet's byte and count never look like a list.
TEST(StatsTransitions, WordKeepsKindAndIndexApartOverThePoolsWholeRange) {
    Pool pool;
    EXPECT_EQ(pool.alloc(1), Pool::kFirstIndex);
    EXPECT_EQ(pool.bytes(), 4u * Pool::kChunk);
    for (const uint64_t index : {uint64_t{Pool::kFirstIndex}, uint64_t{1} << 30, (uint64_t{1} << 31) + 5, Pool::kMaxUnits - 1}) {
        const Stats st = listStats(static_cast<uint32_t>(index));
        EXPECT_FALSE(isDet(st)) << index;
        EXPECT_EQ(listIndex(st), index);
    }
    Stats det = newDet(255);
    for (int i = 0; i < 6000; ++i) incrCount(255, true, det, pool);
    EXPECT_TRUE(isDet(det));
    EXPECT_EQ(detSymbol(det), 255u);
}

TEST(StatsHalving, RootEscapeIsZeroUntilTheFirstHalving) {
    Pool pool;
    Stats root = newRootStats(pool);
    Record r = inspect(root, pool);
    EXPECT_EQ(r.kind, StLarge);
    EXPECT_EQ(r.esc, 0);
    EXPECT_EQ(r.total, 256);
    EXPECT_EQ(r.distinct(), 256);
    add(root, pool, 'x', 5934);
    r = inspect(root, pool);
    EXPECT_EQ(r.esc, 0);
    EXPECT_EQ(r.total, 65530);
    add(root, pool, 'x');  // 65541: halved in the same call
    r = inspect(root, pool);
    EXPECT_EQ(r.esc, 1);
    EXPECT_EQ(r.count['x'], (65275 + 11) / 2 + 1);
    EXPECT_EQ(r.count['y'], 1);
    EXPECT_EQ(r.total, 1 + 255 + r.count['x']);
}

TEST(StatsHalving, DetHalvesOnlyPastTheLimit) {
    Pool pool;
    Stats st = newDet('q');
    add(st, pool, 'q', 5957);
    EXPECT_EQ(inspect(st, pool).count['q'], 65528);  // 65528 + 6 = 65534 stays
    add(st, pool, 'q');
    const Record r = inspect(st, pool);
    EXPECT_EQ(r.kind, StDet);
    EXPECT_EQ(r.count['q'], 32770);
    EXPECT_EQ(r.total, 32776);
}

TEST(StatsHalving, SmallHalvesInTheCallThatPassesTheLimit) {
    Pool pool;
    Stats st = newDet(1);
    for (uint32_t b = 2; b <= 9; ++b) add(st, pool, b);  // nine bytes, escape 46
    add(st, pool, 2, 5945);
    const Record before = inspect(st, pool);
    ASSERT_EQ(before.total, 65530);
    ASSERT_EQ(before.esc, 46);
    add(st, pool, 10);  // 65546 > 65535
    const Record after = inspect(st, pool);
    EXPECT_EQ(after.kind, StSmall);
    EXPECT_EQ(after.esc, 51 / 2 + 1);
    EXPECT_EQ(after.count[1], 1);
    EXPECT_EQ(after.count[2], (11 + 5945 * 11) / 2 + 1);
    EXPECT_EQ(after.count[3], 6);
    EXPECT_EQ(after.count[10], 6);
    int32_t sum = after.esc;
    for (int32_t c : after.count) sum += c;
    EXPECT_EQ(after.total, sum);
}

TEST(StatsHalving, LargeKeepsAbsentBytesAbsentAndSmallCountsAsTheyAre) {
    Pool pool;
    Stats st = newDet(0);                                  // byte 0 keeps count 1
    for (uint32_t b = 1; b <= 10; ++b) add(st, pool, b);  // ten bytes of 11
    int halvings = 0;
    Record before = inspect(st, pool);
    for (;;) {
        Record now = inspect(st, pool);
        add(st, pool, 'H');
        if (inspect(st, pool).total < now.total) {
            before = now;
            if (++halvings == 5) break;
        }
    }
    // Four halvings take 11 down to 2 (6, 4, 3, 2); the fifth leaves 2 and 1.
    const Record after = inspect(st, pool);
    EXPECT_EQ(before.count[1], 2);
    EXPECT_EQ(after.count[0], 1);
    for (uint32_t b = 1; b <= 10; ++b) EXPECT_EQ(after.count[b], 2);
    EXPECT_EQ(after.distinct(), 12);
    EXPECT_EQ(after.count['H'], (before.count['H'] + 11) / 2 + 1);
    EXPECT_EQ(after.esc, before.esc / 2 + 1);
    EXPECT_LE(after.total, 65535);
}

TEST(StatsExclusion, EscapeExcludesExactlyTheRecordsBytes) {
    Pool pool;
    Stats small = newDet(30);
    add(small, pool, 10);
    add(small, pool, 20);  // [10:11, 20:11, 30:1], escape 16
    Mask mask;
    mask.exclude(20);
    mask.exclude(99);
    // Found: low counts only allowed bytes below; the mask stays as it was.
    expectInfo(query(30, mask, small, pool), true, 16 + 11, 1, 16 + 12, 16);
    expectInfo(query(10, mask, small, pool), true, 16, 11, 28, 16);  // lowest present: low = esc
    EXPECT_TRUE(mask.allows(10) && mask.allows(30) && !mask.allows(20) && !mask.allows(99));
    // Not found: the escape, with the total taken before narrowing.
    expectInfo(query(40, mask, small, pool), false, 0, 16, 28, 16);
    for (uint32_t b = 0; b < 256; ++b) {
        const bool excluded = b == 10 || b == 20 || b == 30 || b == 99;
        EXPECT_EQ(!mask.allows(b), excluded) << b;
    }
    // Everything present is now excluded: only the escape is left.
    expectInfo(query(40, mask, small, pool), false, 0, 16, 16, 16);

    // StDet and StLarge narrow the same way.
    Stats det = newDet(77);
    Mask m2;
    query(78, m2, det, pool);
    EXPECT_FALSE(m2.allows(77));
    EXPECT_TRUE(m2.allows(78));
    Stats root = newRootStats(pool);
    Mask m3;
    EXPECT_TRUE(query(0, m3, root, pool).found);
    EXPECT_TRUE(m3.none());
}

TEST(StatsDecoderQueries, TotalsAndLookupAtTheEdges) {
    Pool pool;
    DetScratch scratch;
    Stats det = newDet('s');
    Mask noS;
    noS.exclude('s');
    const Totals dt = decodeTotals(view(det, pool, scratch), noS);
    EXPECT_EQ(dt.esc, 6);
    EXPECT_EQ(dt.sum, 0);

    Stats st = newDet(40);
    for (uint32_t b : {10u, 20u, 30u, 50u, 60u}) add(st, pool, b);
    add(st, pool, 60, 100);  // a heavy byte, excluded below
    Mask mask;
    mask.exclude(10);
    mask.exclude(60);
    const SymbolView v = view(st, pool, scratch);
    const Totals t = decodeTotals(v, mask);
    EXPECT_EQ(t.esc, 6 + 5 * 5);
    EXPECT_EQ(t.sum, 11 + 11 + 1 + 11);
    const Lookup esc = decodeLookup(v, mask, t.esc - 1);
    EXPECT_EQ(esc.symbol, -1);
    EXPECT_EQ(esc.low, 0);
    EXPECT_EQ(esc.freq, t.esc);
    const Lookup lowest = decodeLookup(v, mask, t.esc);
    EXPECT_EQ(lowest.symbol, 20);
    EXPECT_EQ(lowest.low, t.esc);
    EXPECT_EQ(lowest.freq, 11);
    const Lookup highest = decodeLookup(v, mask, t.esc + t.sum - 1);
    EXPECT_EQ(highest.symbol, 50);
    EXPECT_EQ(highest.low, t.esc + t.sum - 11);
    for (int32_t u = 0; u < t.esc + t.sum; ++u) {
        const int32_t s = decodeLookup(v, mask, u).symbol;
        EXPECT_TRUE(s != 10 && s != 60) << u;
    }
    // Past the masked total no byte owns the position.
    EXPECT_LT(decodeLookup(v, mask, t.esc + t.sum).symbol, -1);

    Stats root = newRootStats(pool);
    const SymbolView rv = view(root, pool, scratch);
    for (int32_t b = 0; b < 256; ++b) {
        const Lookup l = decodeLookup(rv, Mask{}, b);
        EXPECT_EQ(l.symbol, b);
        EXPECT_EQ(l.low, b);
        EXPECT_EQ(l.freq, 1);
    }
}

// Any record and any mask: the decoder's queries lay out the range exactly
// as the encoder's query does.
TEST(StatsDecoderQueries, EncoderAndDecoderAgreeOnRandomRecords) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        Pool pool;
        const uint32_t alphabet = 1 + rng() % (round % 3 == 0 ? 256 : 16);
        Stats st = newDet(rng() % alphabet);
        const int events = static_cast<int>(rng() % (round % 10 == 0 ? 20000 : 300));
        for (int i = 0; i < events; ++i) add(st, pool, rng() % alphabet);
        Mask mask;
        const int excluded = static_cast<int>(rng() % alphabet);
        for (int i = 0; i < excluded; ++i) mask.exclude(rng() % alphabet);

        DetScratch scratch;
        const SymbolView v = view(st, pool, scratch);
        const Totals t = decodeTotals(v, mask);
        EXPECT_EQ(inspect(st, pool).total, decodeTotals(v, Mask{}).esc + decodeTotals(v, Mask{}).sum);
        int32_t sum = 0;
        for (uint32_t b = 0; b < 256; ++b) {
            const SymbInfo info = getSymbInfo(b, mask, st, pool);
            EXPECT_EQ(info.esc, t.esc);
            if (!info.found) {
                EXPECT_EQ(info.total, t.esc + t.sum);
                continue;
            }
            if (!mask.allows(b)) continue;
            EXPECT_EQ(info.total, t.esc + t.sum);
            sum += info.freq;
            for (const int32_t u : {info.low, info.low + info.freq - 1}) {
                const Lookup l = decodeLookup(v, mask, u);
                ASSERT_EQ(l.symbol, static_cast<int32_t>(b)) << "round " << round << " u " << u;
                EXPECT_EQ(l.low, info.low);
                EXPECT_EQ(l.freq, info.freq);
            }
        }
        EXPECT_EQ(sum, t.sum);
        EXPECT_EQ(decodeLookup(v, mask, 0).symbol, -1);
        EXPECT_EQ(decodeLookup(v, mask, t.esc - 1).symbol, -1);
    }
}

namespace {

// A list of the given bytes and counts written straight into the pool, in
// the block that ends its chunk: vector scans read past it into the slack.
Stats listAtChunkEnd(Pool& pool, const std::vector<uint8_t>& syms, const std::vector<int32_t>& counts,
                     int32_t escape) {
    const uint32_t n = static_cast<uint32_t>(syms.size());
    const uint32_t units = listUnits(n);
    constexpr uint32_t kMask = Pool::kChunk - 1;
    pool.alloc(1);
    while (static_cast<uint32_t>(pool.next & kMask) + units < Pool::kChunk)
        pool.alloc(std::min(Pool::kChunk - static_cast<uint32_t>(pool.next & kMask) - units, Pool::kMaxBlock));
    const uint32_t index = pool.alloc(units);
    EXPECT_EQ((index + units) & kMask, 0u);
    unsigned char* b = pool.at(index);
    int32_t total = escape;
    for (int32_t c : counts) total += c;
    store32(b, static_cast<uint32_t>(escape) | static_cast<uint32_t>(total) << 16);
    b[4] = static_cast<unsigned char>(n - 1);
    for (uint32_t i = 0; i < n; ++i) {
        listSymbols(b)[i] = syms[i];
        store16(listCounts(b, n) + 2 * i, static_cast<uint32_t>(counts[i]));
    }
    return listStats(index);
}

}  // namespace

// The vector scans (positions, prefix sums with and without a mask, the
// decoder's search) against plain loops, on lists of every length that end
// exactly where their memory does, with counts up to the 16-bit limit.
TEST(StatsScans, QueriesMatchPlainSumsOnListsOfEveryLength) {
    std::mt19937 rng(77);
    for (uint32_t n = 2; n <= 256; n += (n < 40 ? 1 : 9)) {
        for (int variant = 0; variant < 3; ++variant) {
            std::vector<uint8_t> all(256);
            for (uint32_t b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
            std::shuffle(all.begin(), all.end(), rng);
            std::vector<uint8_t> syms(all.begin(), all.begin() + (variant == 2 ? 256 : n));
            std::sort(syms.begin(), syms.end());
            const int32_t escape = 1 + static_cast<int32_t>(rng() % 50);
            const int32_t budget = 65535 - escape - static_cast<int32_t>(syms.size());
            std::vector<int32_t> counts(syms.size());
            int32_t used = 0;
            for (size_t i = 0; i < counts.size(); ++i) {
                const int32_t limit = variant == 1 ? budget / static_cast<int32_t>(counts.size()) : 3000;
                counts[i] = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(std::max(1, limit)));
                if (used + counts[i] > budget) counts[i] = 1;
                used += counts[i] - 1;
            }
            Pool pool;
            const Stats st = listAtChunkEnd(pool, syms, counts, escape);
            std::vector<int32_t> count(256, 0);
            for (size_t i = 0; i < syms.size(); ++i) count[syms[i]] = counts[i];

            for (const int excluded : {0, 1, 3, 40, 200}) {
                Mask mask;
                for (int i = 0; i < excluded; ++i) mask.exclude(rng() % 256);
                int32_t maskedSum = 0;
                for (uint32_t b = 0; b < 256; ++b) maskedSum += count[b] * mask.allows(b);
                DetScratch scratch;
                const SymbolView v = view(st, pool, scratch);
                const Totals t = decodeTotals(v, mask);
                ASSERT_EQ(t.sum, maskedSum) << "n " << syms.size() << " excluded " << excluded;
                if (v.n < 256) {
                    // The vector and plain masked scans agree, copy padding included.
                    for (const int32_t k : {0, v.n / 3, v.n - 1, v.n}) {
                        int32_t below, all, plainBelow, plainAll;
                        maskedSums(v.symbols, v.counts, v.n, mask.bits, k, below, all);
                        maskedSumsPlain(v.symbols, v.counts, v.n, mask.bits, k, plainBelow, plainAll);
                        ASSERT_EQ(below, plainBelow) << "n " << v.n << " k " << k;
                        ASSERT_EQ(all, plainAll);
                    }
                    alignas(16) unsigned char copy[2 * 256 + 16], plainCopy[2 * 256 + 16];
                    const size_t padded = 2 * ((static_cast<size_t>(v.n) + 15) & ~size_t{15});
                    ASSERT_EQ(maskedCopy(v.symbols, v.counts, v.n, mask.bits, copy),
                              maskedCopyPlain(v.symbols, v.counts, v.n, mask.bits, plainCopy));
                    ASSERT_EQ(std::memcmp(copy, plainCopy, padded), 0) << "n " << v.n;
                }
                int32_t low = escape;
                for (uint32_t c = 0; c < 256; ++c) {
                    const SymbInfo info = getSymbInfo(c, mask, st, pool);
                    ASSERT_EQ(info.found, count[c] > 0);
                    ASSERT_EQ(info.total, escape + maskedSum) << "n " << syms.size() << " c " << c;
                    if (count[c] > 0 && mask.allows(c)) {
                        ASSERT_EQ(info.low, low) << "n " << syms.size() << " c " << c;
                        ASSERT_EQ(info.freq, count[c]);
                        for (const int32_t u : {low, low + count[c] - 1}) {
                            const Lookup l = decodeLookup(v, mask, u);
                            ASSERT_EQ(l.symbol, static_cast<int32_t>(c)) << "n " << syms.size() << " u " << u;
                            EXPECT_EQ(l.low, low);
                            EXPECT_EQ(symbolAt(v, l.index), c);
                        }
                    }
                    low += count[c] * mask.allows(c);
                }
                EXPECT_EQ(decodeLookup(v, mask, escape + maskedSum).symbol, -2);
            }
        }
    }
}

namespace {

// Takes chunks of assorted sizes, fills each with its own pattern, and
// checks that none overwrote another and that each is aligned for the scans.
bool chunksHoldTheirBytes(Region& region) {
    std::vector<std::pair<unsigned char*, size_t>> taken;
    for (size_t k = 0; k < 40; ++k) {
        const size_t bytes = 4 * Pool::kChunk + Pool::kSlack + 977 * k;
        unsigned char* p = takeChunk(region, bytes);
        if (reinterpret_cast<uintptr_t>(p) % 16 != 0) return false;
        std::memset(p, static_cast<int>(k), bytes);
        taken.emplace_back(p, bytes);
    }
    for (size_t k = 0; k < taken.size(); ++k) {
        const auto [p, bytes] = taken[k];
        if (std::count(p, p + bytes, static_cast<unsigned char>(k)) != static_cast<ptrdiff_t>(bytes)) return false;
    }
    return true;
}

}  // namespace

// Blocks set free are handed out again at their size, and no live block
// ever shares a unit with another, whatever the order of allocs and
// releases.
TEST(StatsPool, FreedBlocksAreReusedWithoutOverlap) {
    Pool pool;
    const uint32_t big = pool.alloc(100);
    pool.alloc(4);
    const size_t bytes = pool.bytes();
    pool.release(big, 100);
    EXPECT_NE(pool.alloc(10), big);   // another size: fresh memory
    EXPECT_EQ(pool.alloc(100), big);  // its own size: the block set free
    EXPECT_EQ(pool.bytes(), bytes);

    std::mt19937 rng(5);
    struct Live {
        uint32_t index, units;
        unsigned char fill;
    };
    std::vector<Live> live;
    for (int step = 0; step < 200000; ++step) {
        if (!live.empty() && rng() % 5 < 2) {
            const size_t k = rng() % live.size();
            const Live block = live[k];
            for (uint32_t u = 0; u < 4 * block.units; ++u) ASSERT_EQ(pool.at(block.index)[u], block.fill) << step;
            pool.release(block.index, block.units);
            live[k] = live.back();
            live.pop_back();
        } else {
            const uint32_t units = rng() % 2 ? 3 + rng() % 8 : 1 + rng() % Pool::kMaxBlock;
            const Live block{pool.alloc(units), units, static_cast<unsigned char>(rng())};
            std::memset(pool.at(block.index), block.fill, 4 * units);
            live.push_back(block);
        }
    }
    for (const Live& block : live)
        for (uint32_t u = 0; u < 4 * block.units; ++u) ASSERT_EQ(pool.at(block.index)[u], block.fill);
}

TEST(StatsRegion, ChunksAreDisjointAlignedAndSharedByAModel) {
    Region region;
    EXPECT_TRUE(chunksHoldTheirBytes(region));

    // A pool and an array drawing on one region keep their own contents.
    Pool pool;
    ChunkedArray<uint32_t> array;
    array.region = pool.region;
    std::vector<uint32_t> blocks;
    for (uint32_t i = 0; i < 3 * Pool::kChunk; ++i) {
        if (i % 7 == 0) {
            blocks.push_back(pool.alloc(7));
            store32(pool.at(blocks.back()), i);
        }
        array[array.push()] = ~i;
    }
    EXPECT_GT(pool.chunks.size(), 1u);
    for (uint32_t i = 0; i < 3 * Pool::kChunk; ++i) {
        ASSERT_EQ(array[i], ~i);
        if (i % 7 == 0) {
            ASSERT_EQ(load32(pool.at(blocks[i / 7])), i);
        }
    }
}

// A pool and an array sharing a small reservation: while each has its
// chunks one after the other it finds an element by one addition, and that
// agrees with its chunk table; once its lane is used up its chunks come
// from the allocator, it goes back to the table, and nothing it held moves
// or changes. Every chunk can be read past its end by the scans' slack.
TEST(StatsRegion, ContainersOutgrowingTheirLanesKeepTheirContents) {
    auto region = std::make_shared<Region>();
    reserveRegion(*region, size_t{16} << 20);
    Pool pool;
    ChunkedArray<uint32_t> array;
    pool.region = array.region = region;
    const bool reserved = region->base != nullptr;  // not under a sanitizer

    std::vector<uint32_t> blocks;
    bool poolWasFlat = false, arrayWasFlat = false;
    const uint32_t elements = 40 * ChunkedArray<uint32_t>::kChunk;  // more than its lane holds
    for (uint32_t i = 0; i < elements; ++i) {
        array[array.push()] = ~i;
        if (i % 16 != 0) continue;
        blocks.push_back(pool.alloc(1 + i % 50));
        store32(pool.at(blocks.back()), i);
        if (pool.flat != nullptr) {
            poolWasFlat = true;
            const uint32_t b = blocks.back();
            ASSERT_EQ(pool.at(b), pool.chunks[b >> Pool::kBits] + 4 * (b & (Pool::kChunk - 1))) << i;
        }
        if (array.flat != nullptr) {
            arrayWasFlat = true;
            ASSERT_EQ(&array[i], &array.chunks[i >> 16][i & 0xFFFF]) << i;
        }
    }
    if (reserved) {
        EXPECT_TRUE(poolWasFlat);
        EXPECT_TRUE(arrayWasFlat);
        EXPECT_LE(region->size, size_t{16} << 20);
    }
    EXPECT_EQ(pool.flat, nullptr);  // both outgrew their lanes
    EXPECT_EQ(array.flat, nullptr);
    for (uint32_t i = 0; i < elements; ++i) {
        ASSERT_EQ(array[i], ~i);
        if (i % 16 == 0) {
            ASSERT_EQ(load32(pool.at(blocks[i / 16])), i);
        }
    }
    unsigned sum = 0;
    for (size_t k = Pool::kFirstChunk; k < pool.chunks.size(); ++k) {
        const unsigned char* end = pool.chunks[k] + 4 * Pool::kChunk;
        for (size_t j = 0; j < Pool::kSlack; ++j) sum += end[j];
    }
    EXPECT_GE(sum, 0u);  // read, not checked: the slack holds the next chunk's bytes
}

namespace {

// Takes chunks of `chunk` bytes from `lane` until `total` bytes, calling
// before(k) ahead of chunk k, checks that each lies right after the one
// before, and fills chunk k with k + 1. Returns the first chunk.
unsigned char* fillLane(Region& region, Lane lane, size_t chunk, size_t total,
                        const std::function<void(size_t)>& before = {}) {
    unsigned char* first = nullptr;
    for (size_t k = 0; k * chunk < total; ++k) {
        if (before) before(k);
        unsigned char* p = takeChunk(region, chunk, lane, 64);
        if (first == nullptr) first = p;
        EXPECT_EQ(p, first + k * chunk) << k;
        std::memset(p, static_cast<int>(k + 1), chunk);
    }
    return first;
}

// Whether every chunk fillLane filled still holds k + 1, at its first,
// middle and last byte.
bool laneHoldsItsFill(const unsigned char* first, size_t chunk, size_t total) {
    for (size_t k = 0; k * chunk < total; ++k) {
        const auto fill = static_cast<unsigned char>(k + 1);
        const unsigned char* p = first + k * chunk;
        if (p[0] != fill || p[chunk / 2] != fill || p[chunk - 1] != fill) return false;
    }
    return true;
}

}  // namespace

// Chunks of the nodes' and the pool's lanes, taken across the end of the
// small-pages part, lie one after the other and hold what is written to
// them, whether the lanes start on small pages or, for a large model, on
// huge ones; asking for huge pages once a lane is in use changes nothing.
TEST(StatsRegion, LanesHoldTheirChunksOnEitherKindOfPage) {
    for (const bool huge : {false, true}) {
        Region region;
        reserveRegion(region, size_t{64} << 20);
        if (region.base == nullptr) GTEST_SKIP() << "no reservation in this build";
        if (huge) preferHugePages(region);
        EXPECT_EQ(region.smallPagesPart == 0, huge);
        const size_t chunk = size_t{640} << 10;
        const size_t total = size_t{12} << 20;
        for (const Lane lane : {Lane::Nodes, Lane::Pool})
            EXPECT_TRUE(laneHoldsItsFill(fillLane(region, lane, chunk, total), chunk, total));
        const size_t small = region.smallPagesPart;
        preferHugePages(region);
        EXPECT_EQ(region.smallPagesPart, small);
    }
}

// The small-pages part of a lane moves onto huge pages 2 MiB at a time,
// where the lane's growth so far says it will fill them. A lane growing
// steadily through its input moves each part it half fills while enough
// input is left for the rest (not the last: that fills only as the input
// ends); a lane whose input is all but seen moves none. What was written
// before a move reads the same after it.
TEST(StatsRegion, LanesMoveOntoHugePagesWhereTheyWillFillThem) {
    const size_t MiB = size_t{1} << 20;
    const size_t chunk = size_t{256} << 10;
    for (const bool inputNearlyDone : {false, true}) {
        Region region;
        reserveRegion(region, 64 * MiB);
        if (region.base == nullptr) GTEST_SKIP() << "no reservation in this build";
        region.inputTotal = 16 * MiB;
        const size_t laneBytes = region.smallPagesPart;
        const unsigned char* first = fillLane(region, Lane::Pool, chunk, laneBytes, [&](size_t k) {
            // Half a byte of lane per input byte.
            region.inputSeen = inputNearlyDone ? region.inputTotal - 1 : 2 * k * chunk;
        });
        EXPECT_TRUE(laneHoldsItsFill(first, chunk, laneBytes));
        const LaneSpace& lane = region.lanes[static_cast<int>(Lane::Pool)];
        EXPECT_EQ(lane.settled, laneBytes);
        EXPECT_EQ(lane.promoted, inputNearlyDone ? 0 : laneBytes - 2 * MiB);
        EXPECT_EQ(region.lanes[static_cast<int>(Lane::Nodes)].promoted, 0u);
    }
}

// Zeroed chunks read as zero wherever they come from: the reservation, or
// the allocator once there is none (whose memory may hold anything).
TEST(StatsRegion, ZeroedChunksAreZeroFromEitherSource) {
    Region reserved;
    Region plain;
    plain.tried = true;  // as if the reservation had been refused
    for (Region* region : {&reserved, &plain}) {
        for (size_t bytes : {size_t{100}, size_t{5} << 20}) {
            std::memset(takeChunk(*region, bytes), 0xA5, bytes);
            const unsigned char* z = takeZeroedChunk(*region, bytes);
            EXPECT_EQ(std::count(z, z + bytes, 0), static_cast<ptrdiff_t>(bytes)) << bytes;
        }
    }
    EXPECT_TRUE(plain.base == nullptr);
}

#if !QPTEST_ASAN && !defined(_WIN32)
// In a child: chunks under an address-space limit of `mib` MiB, which
// leaves the model half of it to reserve, or nothing below 512 MiB.
[[noreturn]] void takeChunksUnderALimit(size_t mib) {
    const struct rlimit lim = {mib << 20, mib << 20};
    ::setrlimit(RLIMIT_AS, &lim);
    Region region;
    const bool ok = chunksHoldTheirBytes(region);
    const bool reserved = region.base != nullptr;
    const bool fits = region.size <= (mib << 20) / 2;
    std::_Exit(ok && fits && reserved == (mib >= 512) ? 0 : 1);
}

// ulimit -v keeps a reservation of half the limit (with its huge pages),
// and below 512 MiB the chunks come from the allocator.
TEST(StatsRegion, AnAddressSpaceLimitHalvesTheReservationOrRefusesIt) {
    EXPECT_EXIT(takeChunksUnderALimit(1024), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(takeChunksUnderALimit(384), ::testing::ExitedWithCode(0), "");
}
#endif
