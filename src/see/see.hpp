// Secondary escape estimation: an adaptive table that replaces a context's
// escape frequency by a better-informed width before it reaches the coder.
#pragma once

#include <cstdint>

namespace quellpack::see {

constexpr int kRows = 8;
constexpr int kCells = 51;
constexpr int kTableSize = kRows * kCells * 2;  // 816: escWeight, symWeight pairs

struct Etab {
    int32_t w[kTableSize];
};

// The coder-unit widths of one decision: symbols' part A, escape part E,
// and the shift r that stretched (r > 0) or shrank (r < 0) the symbols.
struct Estimate {
    int32_t A;
    int32_t E;
    int32_t r;
};

// The initial table: each cell's weights reproduce the escape share that
// selects it.
void mk_etab(Etab& etab);

// v shifted left by e bits, or arithmetically right by -e bits.
inline int32_t scaleBy(int32_t v, int32_t e) {
    if (e > 0) return static_cast<int32_t>(static_cast<uint32_t>(v) << e);
    if (e < 0) return v >> -e;
    return v;
}

// Index of the escWeight of the cell chosen by a decision's features.
inline int cellIndex(int32_t prevHit, int32_t esc, int32_t total) {
    const int a = total >= 256 ? 1 : 0;
    const int b = esc != 6 ? 1 : 0;
    const int row = 2 * (2 * b + a) + prevHit;
    const int q = (50 * esc) / total;
    return 2 * (row * kCells + q);
}

// The escape estimate for a context with escape frequency esc and total
// `total` (escape included, after exclusions).
inline Estimate escapeEstimate(const Etab& etab, int32_t prevHit, int32_t esc, int32_t total) {
    const int32_t S = total - esc;
    if (S == 0 || esc == 0) return Estimate{S, esc, 0};
    const int cell = cellIndex(prevHit, esc, total);
    const int32_t escWeight = etab.w[cell];
    const int32_t symWeight = etab.w[cell + 1];
    int32_t r = 0;
    for (;;) {
        const int32_t a = scaleBy(S, r);
        const int32_t e = a * escWeight / symWeight;
        const int32_t t = a + e;
        if (t < 1024) {
            ++r;
        } else if (t > 65000) {
            --r;
        } else {
            return Estimate{a > 1 ? a : 1, e > 1 ? e : 1, r};
        }
    }
}

// Trains the cell of a decision with its outcome.
inline void escapeUpdate(Etab& etab, int32_t S, int32_t esc, int32_t prevHit, bool escaped) {
    const int cell = cellIndex(prevHit, esc, S + esc);
    int32_t& escWeight = etab.w[cell];
    int32_t& symWeight = etab.w[cell + 1];
    if (escWeight + symWeight > 2048) {
        escWeight = escWeight / 2 + 1;
        symWeight = symWeight / 2 + 1;
    }
    if (escaped) {
        escWeight += 2;
    } else {
        symWeight += 2;
    }
}

}  // namespace quellpack::see
