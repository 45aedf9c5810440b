// Secondary escape estimation: an adaptive table that replaces a context's
// escape frequency by a better-informed width before it reaches the coder.
#pragma once

#include <algorithm>
#include <cstdint>

#include "stats/constants.hpp"

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
    int cell;  // the table cell the decision trains
};

// The initial table: each cell's weights reproduce the escape share that
// selects it.
void mk_etab(Etab& etab);

// Index of the escWeight of the cell chosen by a decision's features.
inline int cellIndex(int32_t prevHit, int32_t esc, int32_t total) {
    const int a = total >= 256 ? 1 : 0;
    const int b = esc != stats::kDetEscape ? 1 : 0;
    const int row = 2 * (2 * b + a) + prevHit;
    const int q = (50 * esc) / total;
    return 2 * (row * kCells + q);
}

// The number of leading zero bits of a non-zero value.
inline int leadingZeros(uint32_t x) { return __builtin_clz(x); }

// The escape estimate for a context with escape frequency esc and total
// `total` (escape included, after exclusions).
//
// The shift is the one the loop "raise r while the scaled total
// T = a + floor(a * escWeight / symWeight), a = scaleBy(S, r), is below
// 1024; lower it while T is above 65000" settles on. T >= k holds exactly
// when a * (escWeight + symWeight) >= k * symWeight, so the smallest r with
// T >= 1024 follows from the bit lengths, without trying every r, and
// without a branch: whether a decision stretches or not is as hard to
// foresee as the decision itself.
inline Estimate escapeEstimate(const Etab& etab, int32_t prevHit, int32_t esc, int32_t total) {
    const int32_t S = total - esc;
    if (total <= 0) return Estimate{S, esc, 0, 0};  // nothing to code: a damaged stream
    const int cell = cellIndex(prevHit, esc, total);
    if (S == 0 || esc == 0) return Estimate{S, esc, 0, cell};
    const int32_t escWeight = etab.w[cell];
    const int32_t symWeight = etab.w[cell + 1];
    const uint32_t x = static_cast<uint32_t>(S) * static_cast<uint32_t>(escWeight + symWeight);
    const uint32_t low = 1024u * static_cast<uint32_t>(symWeight);
    int32_t r;
    int32_t a;
    if (x < 65001u * static_cast<uint32_t>(symWeight)) [[likely]] {
        // x << r0 has the bit length of low when x < low; r0 is 0 otherwise.
        const int r0 = std::max(leadingZeros(x) - leadingZeros(low), 0);
        r = r0 + ((x << r0) < low ? 1 : 0);
        a = S << r;
    } else {
        r = 0;
        a = S;
        while (a > 65000 || a * escWeight >= (65001 - a) * symWeight) {
            --r;
            a = S >> -r;
        }
    }
    const int32_t e = a * escWeight / symWeight;
    return Estimate{a > 1 ? a : 1, e > 1 ? e : 1, r, cell};
}

// Trains a cell with the outcome of a decision.
inline void trainCell(Etab& etab, int cell, bool escaped) {
    int32_t& escWeight = etab.w[cell];
    int32_t& symWeight = etab.w[cell + 1];
    if (escWeight + symWeight > 2048) {
        escWeight = escWeight / 2 + 1;
        symWeight = symWeight / 2 + 1;
    }
    escWeight += escaped ? 2 : 0;
    symWeight += escaped ? 0 : 2;
}

}  // namespace quellpack::see
