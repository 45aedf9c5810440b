// Escape estimation: the initial table, the cell a decision selects, the
// estimate and its scale shift, and the training of a cell.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "see/see.hpp"

using namespace quellpack::see;

namespace {

struct Cell {
    int32_t escWeight;
    int32_t symWeight;
    bool operator==(const Cell&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Cell& c) {
        return os << "(" << c.escWeight << ", " << c.symWeight << ")";
    }
};

// Cell (row, q) holds its two weights at 2 * (row * 51 + q).
Cell cell(const Etab& etab, int row, int q) {
    const int i = 2 * (row * 51 + q);
    return Cell{etab.w[i], etab.w[i + 1]};
}

Etab freshTable() {
    Etab etab;
    mk_etab(etab);
    return etab;
}

// Trains the cell of a decision with symbol sum S, chosen as escapeEstimate
// chooses it.
void escapeUpdate(Etab& etab, int32_t S, int32_t esc, int32_t prevHit, bool escaped) {
    trainCell(etab, cellIndex(prevHit, esc, S + esc), escaped);
}

void expectEstimate(const Estimate& e, int32_t A, int32_t E, int32_t r) {
    EXPECT_EQ(e.A, A);
    EXPECT_EQ(e.E, E);
    EXPECT_EQ(e.r, r);
}

}  // namespace

TEST(EscapeTable, InitialWeightsReproduceTheShareOfEachCell) {
    const Etab etab = freshTable();
    static_assert(sizeof etab.w / sizeof etab.w[0] == 816);
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(cell(etab, row, 0), (Cell{1, 50}));
        EXPECT_EQ(cell(etab, row, 50), (Cell{50, 1}));
        for (int q = 1; q < 50; ++q) EXPECT_EQ(cell(etab, row, q), (Cell{q, 50 - q}));
    }
}

// Each decision trains exactly the cell its features select.
TEST(EscapeTable, FeaturesSelectTheCell) {
    struct Case {
        int32_t prevHit, esc, total;
        int row, q;
    };
    const Case cases[] = {
        {0, 6, 100, 0, 3},  {1, 6, 100, 1, 3},  {0, 6, 300, 2, 1},   {1, 6, 256, 3, 1},
        {0, 7, 100, 4, 3},  {1, 7, 255, 5, 1},  {0, 7, 256, 6, 1},   {1, 50, 50, 5, 50},
        {1, 0, 256, 7, 0},  {0, 6, 7, 0, 42},   {1, 999, 1000, 7, 49},
    };
    for (const Case& c : cases) {
        Etab etab = freshTable();
        const Etab before = etab;
        escapeUpdate(etab, c.total - c.esc, c.esc, c.prevHit, true);
        for (int row = 0; row < 8; ++row) {
            for (int q = 0; q < 51; ++q) {
                Cell want = cell(before, row, q);
                if (row == c.row && q == c.q) want.escWeight += 2;
                EXPECT_EQ(cell(etab, row, q), want) << "case esc " << c.esc << " total " << c.total;
            }
        }
    }
}

TEST(EscapeEstimate, DetFoundAfterAHit) {
    // StDet(s, 1): esc 6, total 7, row 1, q 42, weights (42, 8).
    const Etab etab = freshTable();
    const Estimate e = escapeEstimate(etab, 1, 6, 7);
    expectEstimate(e, 256, 1344, 8);
    EXPECT_EQ(e.A + e.E, 1600);
    // The byte at low 6, freq 1 lands at start 1344, size 256.
    EXPECT_EQ(e.E + ((6 - 6) << e.r), 1344);
    EXPECT_EQ(1 << e.r, 256);
}

TEST(EscapeEstimate, NoEstimateWithoutSymbolsOrWithoutEscape) {
    const Etab etab = freshTable();
    expectEstimate(escapeEstimate(etab, 1, 6, 6), 0, 6, 0);      // every byte excluded
    expectEstimate(escapeEstimate(etab, 0, 31, 31), 0, 31, 0);
    expectEstimate(escapeEstimate(etab, 1, 0, 256), 256, 0, 0);  // the root before its halving
    // Its cell still learns: row 7, q 0.
    Etab trained = etab;
    escapeUpdate(trained, 256, 0, 1, false);
    EXPECT_EQ(cell(trained, 7, 0), (Cell{1, 52}));
}

TEST(EscapeEstimate, LargeContextKeepsItsScale) {
    const Etab etab = freshTable();
    // total 30000, esc 100: q 0, weights (1, 50), so E = S / 50 at r = 0.
    expectEstimate(escapeEstimate(etab, 0, 100, 30000), 29900, 598, 0);
    expectEstimate(escapeEstimate(etab, 1, 6, 2000), 1994, 39, 0);
    expectEstimate(escapeEstimate(etab, 1, 100, 63000), 62900, 1258, 0);
}

TEST(EscapeEstimate, ShiftTurnsNegativeAbove65000AndEStaysPositive) {
    const Etab etab = freshTable();
    // S + S/50 = 66504 > 65000 at r = 0: one step down.
    expectEstimate(escapeEstimate(etab, 1, 100, 65300), 32600, 652, -1);
    expectEstimate(escapeEstimate(etab, 0, 6, 65535), 32764, 655, -1);
    // E never drops below 1: a cell trained on bytes makes E' vanish.
    Etab trained = freshTable();
    for (int i = 0; i < 2000; ++i) escapeUpdate(trained, 299, 1, 0, false);  // row 6, q 0
    expectEstimate(escapeEstimate(trained, 0, 1, 300), 1196, 1, 2);
}

// The shift found from bit lengths is the one the plain search settles on:
// raise r while T = a + floor(a * escWeight / symWeight) is below 1024,
// lower it while T is above 65000, a = S scaled by 2^r. Every weight pair a
// trained cell can hold, against symbol sums around each power of two and
// either side of the thresholds.
TEST(EscapeEstimate, ShiftIsTheOneTheStepwiseSearchFinds) {
    const auto scaled = [](int32_t S, int32_t r) { return r >= 0 ? S << r : S >> -r; };
    const int32_t esc = 1, prevHit = 0;
    int checked = 0;
    for (int32_t escWeight = 1; escWeight <= 2050; escWeight += escWeight < 64 ? 1 : 37) {
        for (int32_t symWeight = 1; escWeight + symWeight <= 2052; symWeight += symWeight < 64 ? 1 : 41) {
            for (int32_t base = 1; base < 65535; base *= 2) {
                for (int32_t S : {base - 1, base, base + 1, 3 * base / 2, 1024 * symWeight / (escWeight + symWeight),
                                  65000 * symWeight / (escWeight + symWeight), 65535 - esc}) {
                    if (S < 1 || S + esc > 65535) continue;
                    Etab etab = freshTable();
                    const int cellAt = cellIndex(prevHit, esc, S + esc);
                    etab.w[cellAt] = escWeight;
                    etab.w[cellAt + 1] = symWeight;
                    const auto total = [&](int32_t r) {
                        const int32_t a = scaled(S, r);
                        return a + a * escWeight / symWeight;
                    };
                    int32_t r = 0;
                    while (total(r) < 1024) ++r;
                    while (total(r) > 65000) --r;
                    const int32_t a = scaled(S, r), e = a * escWeight / symWeight;
                    const Estimate got = escapeEstimate(etab, prevHit, esc, S + esc);
                    ASSERT_EQ(got.r, r) << "S " << S << " weights " << escWeight << ", " << symWeight;
                    ASSERT_EQ(got.A, a > 1 ? a : 1);
                    ASSERT_EQ(got.E, e > 1 ? e : 1);
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 100000);
}

TEST(EscapeUpdate, CellIsHalvedOnceItsWeightsSumPast2048) {
    Etab etab = freshTable();
    // The root's cell (row 7, q 0) starts at (1, 50): 100 escapes, 898 bytes.
    for (int i = 0; i < 100; ++i) escapeUpdate(etab, 256, 0, 1, true);
    for (int i = 0; i < 898; ++i) escapeUpdate(etab, 256, 0, 1, false);
    EXPECT_EQ(cell(etab, 7, 0), (Cell{201, 1846}));  // 2047: no halving yet
    escapeUpdate(etab, 256, 0, 1, false);
    EXPECT_EQ(cell(etab, 7, 0), (Cell{201, 1848}));  // 2049
    escapeUpdate(etab, 256, 0, 1, false);
    EXPECT_EQ(cell(etab, 7, 0), (Cell{101, 925 + 2}));
    escapeUpdate(etab, 256, 0, 1, true);
    EXPECT_EQ(cell(etab, 7, 0), (Cell{103, 927}));

    // A sum of exactly 2048 is not halved. Cell (4, 25) starts at (25, 25).
    for (int i = 0; i < 999; ++i) escapeUpdate(etab, 25, 25, 0, i % 2 == 0);
    EXPECT_EQ(cell(etab, 4, 25), (Cell{25 + 1000, 25 + 998}));
    escapeUpdate(etab, 25, 25, 0, true);
    EXPECT_EQ(cell(etab, 4, 25), (Cell{1027, 1023}));
    escapeUpdate(etab, 25, 25, 0, true);
    EXPECT_EQ(cell(etab, 4, 25), (Cell{1027 / 2 + 1 + 2, 1023 / 2 + 1}));
}
