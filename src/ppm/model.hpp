// One coding decision in one context, in both directions.
//
// A decision is turned into coder units by the escape estimator: the escape
// keeps [0, E), the symbols follow from E, scaled by 2^r. When r < 0 a byte
// whose count scales to nothing (the set Z) has no interval of its own: it
// shares the escape's interval and is told apart by a second decision in the
// same context, of total esc + the counts of Z, in the context's own units.
#pragma once

#include <cstdint>

#include "ppm/walk.hpp"
#include "quellpack/error.hpp"
#include "rc/range_coder.hpp"
#include "see/see.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

// What encoder and decoder thread through every decision, beside the walk.
struct Coding {
    rc::RCState coder;
    see::Etab etab;
};

[[noreturn]] inline void damaged() { throw Error(ErrorKind::Damaged); }

// Encoder side of a decision with r < 0.
inline void encodeShifted(rc::RCState& coder, const stats::SymbolView& v, const stats::Mask& mask,
                          const stats::SymbInfo& info, uint32_t c, see::Estimate est) {
    const int32_t s = -est.r;
    const int32_t G = est.A + est.E;
    if (info.found && (info.freq >> s) >= 1) {
        rc::encodeFreq(coder, est.E + ((info.low - info.esc) >> s), info.freq >> s, G);
        return;
    }
    int32_t zsum = 0, zbefore = 0;
    for (int32_t i = 0; i < v.n; ++i) {
        const uint32_t sym = stats::symbolAt(v, i);
        const int32_t count = stats::countAt(v, i);
        if (!mask.allows(sym) || (count >> s) != 0) continue;
        if (sym < c) zbefore += count;
        zsum += count;
    }
    rc::encodeFreq(coder, 0, est.E, G);
    if (zsum == 0) return;
    if (info.found) {
        rc::encodeFreq(coder, info.esc + zbefore, info.freq, info.esc + zsum);
    } else {
        rc::encodeFreq(coder, 0, info.esc, info.esc + zsum);
    }
}

// The encoder's decision in the context `v`: codes byte c there, returning
// it with its place in the list in `position`, or codes the escape and
// returns -1, the context's bytes then excluded.
[[gnu::always_inline]] inline int32_t estimateSymbol(Coding& k, Walk& w, const stats::SymbolView& v, uint32_t c,
                                                     int32_t& position) {
    const stats::SymbInfo info = stats::getSymbInfo(c, w.mask, v);
    position = info.index;
    const see::Estimate est = see::escapeEstimate(k.etab, w.prevHit, info.esc, info.total);
    if (est.r >= 0) {
        // One coder call for both outcomes, the interval chosen by value:
        // the hot loop holds the coder's steps once.
        const int32_t start = info.found ? est.E + ((info.low - info.esc) << est.r) : 0;
        const int32_t size = info.found ? info.freq << est.r : est.E;
        rc::encodeFreq(k.coder, start, size, est.A + est.E);
    } else {
        encodeShifted(k.coder, v, w.mask, info, c, est);
    }
    see::trainCell(k.etab, est.cell, !info.found);
    if (!info.found) {
        stats::excludeSymbols(w.mask, v);
        return -1;
    }
    return static_cast<int32_t>(c);
}

// Decoder side of a decision with r < 0, given its target t.
inline int32_t decodeShifted(rc::RCState& coder, const stats::SymbolView& v, const stats::Mask& mask,
                             int32_t esc, see::Estimate est, int32_t t) {
    const int32_t s = -est.r;
    if (t < est.E) {
        int32_t zsum = 0;
        for (int32_t i = 0; i < v.n; ++i) {
            const int32_t count = stats::countAt(v, i);
            if (mask.allows(stats::symbolAt(v, i)) && (count >> s) == 0) zsum += count;
        }
        rc::decodeUpdate(coder, 0, est.E);
        if (zsum == 0) return -1;
        const int32_t G2 = esc + zsum;
        const int32_t t2 = rc::getFreq(coder, G2);
        if (t2 >= G2) damaged();
        if (t2 < esc) {
            rc::decodeUpdate(coder, 0, esc);
            return -1;
        }
        int32_t cum = esc;
        for (int32_t i = 0; i < v.n; ++i) {
            const int32_t count = stats::countAt(v, i);
            if (!mask.allows(stats::symbolAt(v, i)) || (count >> s) != 0) continue;
            if (t2 < cum + count) {
                rc::decodeUpdate(coder, cum, count);
                return static_cast<int32_t>(stats::symbolAt(v, i));
            }
            cum += count;
        }
        damaged();
    }
    int32_t cum = esc;
    for (int32_t i = 0; i < v.n; ++i) {
        if (!mask.allows(stats::symbolAt(v, i))) continue;
        const int32_t count = stats::countAt(v, i);
        const int32_t size = count >> s;
        const int32_t start = est.E + ((cum - esc) >> s);
        cum += count;
        if (size == 0 || t >= start + size) continue;
        if (t < start) damaged();
        rc::decodeUpdate(coder, start, size);
        return static_cast<int32_t>(stats::symbolAt(v, i));
    }
    damaged();
}

// The decoder's decision in the context `v`: a byte, or -1 for the escape
// (whose bytes are then excluded from the mask). A decoded byte's position
// in the list goes to `position` (-1 when not known).
[[gnu::always_inline]] inline int32_t decodeSymbol(Coding& k, Walk& w, const stats::SymbolView& v, int32_t& position) {
    position = -1;
    stats::MaskedCounts mc;
    const stats::Totals tt = stats::decodeTotals(v, w.mask, mc);
    const see::Estimate est = see::escapeEstimate(k.etab, w.prevHit, tt.esc, tt.esc + tt.sum);
    const int32_t G = est.A + est.E;
    if (G <= 0) damaged();
    const int32_t t = rc::getFreq(k.coder, G);
    if (t >= G) damaged();
    int32_t sym;
    if (est.r < 0) {
        sym = decodeShifted(k.coder, v, w.mask, tt.esc, est, t);
    } else if (t < est.E) {
        rc::decodeUpdate(k.coder, 0, est.E);
        sym = -1;
    } else {
        const stats::Lookup lk = stats::decodeLookup(v, mc, tt.esc + ((t - est.E) >> est.r));
        if (lk.symbol < 0) damaged();
        rc::decodeUpdate(k.coder, est.E + ((lk.low - tt.esc) << est.r), lk.freq << est.r);
        sym = lk.symbol;
        position = lk.index;
    }
    see::trainCell(k.etab, est.cell, sym < 0);
    if (sym < 0) stats::excludeSymbols(w.mask, v);
    return sym;
}

}  // namespace quellpack::ppm
