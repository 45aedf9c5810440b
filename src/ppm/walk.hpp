// One byte's walk over the context tree, the same in both directions.
//
// For each byte the walk finds the byte's contexts, offers them to the
// direction's decision deepest first (one shorter after each escape, with
// the escaped bytes excluded) until one codes the byte, and then lets the
// tree learn it. Encoder and decoder differ only in that decision.
#pragma once

#include <cstdint>

#include "ppm/cursor.hpp"
#include "ppm/prefetch.hpp"
#include "ppm/tree.hpp"
#include "quellpack/error.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

// The walk's state between bytes. The tree is kept apart: the calls that
// grow it would otherwise make the compiler keep this state in memory.
struct Walk {
    ContextCursor cursor;
    uint8_t window[kMaxOrder + 1];  // the history (hlen bytes), then the byte coded
    int hlen = 0;
    stats::Mask mask;     // bytes the longer contexts escaped over
    int32_t prevHit = 1;  // whether the last byte was coded in its deepest context
};

// Lets the tree learn byte c, coded in the context at foundDepth (where c
// stands at `position` of its record, -1 when not known), and moves on;
// `next` is what prefetchNext started loading for the byte after c.
inline void learnByte(Tree& tree, Walk& w, uint32_t c, int foundDepth, int32_t position, const Lookahead& next) {
    ContextCursor& cur = w.cursor;
    w.prevHit = foundDepth == cur.depth ? 1 : 0;
    w.window[w.hlen] = static_cast<uint8_t>(c);
    const int wlen = w.hlen + 1;
    prefetchFollowerStats(tree, next);
    updateTree(tree, cur.index, cur.depth, foundDepth, w.window, wlen, position);
    prefetchEntryNode(tree, next);
    rememberFollower(tree, cur, c, next.node);
    w.hlen = advanceHistory(w.window, wlen);
}

// Walks one byte over `tree`. decide(v, position) makes the decision in
// one context, whose record it sees as v: it returns the byte coded there,
// setting `position`, or -1 for an escape. `ahead` is the byte when it is
// known before its decisions (the encoder's), else -1. Returns the byte.
template <class Decide>
[[gnu::always_inline]] inline uint32_t walkByte(Tree& tree, Walk& w, Decide&& decide, int32_t ahead = -1) {
    findContexts(tree, w.cursor, w.window, w.hlen);
    Lookahead next;
    if (ahead >= 0) {
        next = prefetchNext(tree, w.cursor, w.window, w.hlen, static_cast<uint32_t>(ahead));
    } else {
        prefetchFollowers(tree, w.cursor);
    }
    w.mask.reset();
    for (int depth = w.cursor.depth;; --depth) {
        stats::DetScratch scratch;
        const stats::SymbolView v = stats::view(tree.nodes[w.cursor.index[depth]].stats, tree.pool, scratch);
        int32_t position;
        const int32_t sym = decide(v, position);
        if (sym >= 0) {
            if (ahead < 0) next = prefetchNext(tree, w.cursor, w.window, w.hlen, static_cast<uint32_t>(sym));
            learnByte(tree, w, static_cast<uint32_t>(sym), depth, position, next);
            return static_cast<uint32_t>(sym);
        }
        // The root holds every byte and never excludes the one coded: only
        // damaged coded bytes decode an escape from it.
        if (depth == 0) throw Error(ErrorKind::Damaged);
        walkAll(tree, w.cursor, w.window, w.hlen);
    }
}

}  // namespace quellpack::ppm
