// One byte's walk over the context tree, the same in both directions.
//
// For each byte the walk finds the byte's contexts, offers them to the
// direction's decision deepest first (one shorter after each escape, with
// the escaped bytes excluded) until one codes the byte, and then lets the
// tree learn it. Encoder and decoder differ only in that decision.
#pragma once

#include <cstdint>

#include "ppm/cursor.hpp"
#include "ppm/tree.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

struct Walk {
    Tree tree;
    ContextCursor cursor;
    uint8_t window[kMaxOrder + 1];  // the history (hlen bytes), then the byte coded
    int hlen = 0;
    stats::Mask mask;     // bytes the longer contexts escaped over
    int32_t prevHit = 1;  // whether the last byte was coded in its deepest context
};

// The walk before the first byte: the initial tree, no history.
inline void startWalk(Walk& w) { initTree(w.tree); }

// Lets the tree learn byte c, coded in the context at foundDepth (where c
// stands at `position` of its record, -1 when not known), and moves on.
inline void learnByte(Walk& w, uint32_t c, int foundDepth, int32_t position) {
    ContextCursor& cur = w.cursor;
    w.prevHit = foundDepth == cur.depth ? 1 : 0;
    w.window[w.hlen] = static_cast<uint8_t>(c);
    const int wlen = w.hlen + 1;
    updateTree(w.tree, cur.index, cur.depth, foundDepth, w.window, wlen, position);
    rememberFollower(w.tree, cur, c);
    w.hlen = advanceHistory(w.window, wlen);
}

// Walks one byte. decide(st, v, depth, position) makes the decision in
// the context at `depth` (its record st, seen as v): it returns the byte
// coded there, setting `position`, or -1 for an escape. Returns the byte.
template <class Decide>
[[gnu::always_inline]] inline uint32_t walkByte(Walk& w, Decide&& decide) {
    findContexts(w.tree, w.cursor, w.window, w.hlen);
    w.mask.reset();
    for (int depth = w.cursor.depth;; --depth) {
        const stats::Stats st = w.tree.nodes[w.cursor.index[depth]].stats;
        stats::DetScratch scratch;
        const stats::SymbolView v = stats::view(st, w.tree.pool, scratch);
        int32_t position;
        const int32_t sym = decide(st, v, depth, position);
        if (sym >= 0) {
            learnByte(w, static_cast<uint32_t>(sym), depth, position);
            return static_cast<uint32_t>(sym);
        }
        walkAll(w.tree, w.cursor, w.window, w.hlen);
    }
}

}  // namespace quellpack::ppm
