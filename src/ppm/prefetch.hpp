// Loads started early for the next byte's contexts.
//
// Once a byte is known (the encoder knows it before coding it, the decoder
// right after decoding it) the next byte's first context is known too: the
// full-order shortcut when the byte follows the deepest context as it did
// last time, else the order-2 entry the walk starts from. Asking for those
// lines, and then for the statistics list of the node they lead to, lets
// the misses overlap with the coding and the update instead of following
// them. Only hints: nothing read here decides anything.
#pragma once

#include <cstdint>

#include "ppm/cursor.hpp"
#include "ppm/tree.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

inline void prefetchLine(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// What the next byte's walk will read first.
struct Lookahead {
    uint32_t node = 0;                 // its deepest context, when known
    const uint32_t* order2 = nullptr;  // else the order-2 entry it starts from
};

// Starts loading the first line of the walk for the byte after c, whose
// contexts `cur` holds (the deepest found, the rest maybe not yet).
inline Lookahead prefetchNext(const Tree& tree, const ContextCursor& cur, const uint8_t* history, int hlen,
                              uint32_t c) {
    Lookahead next;
    if (cur.depth == kMaxOrder) {
        const Node& deepest = tree.nodes[cur.index[kMaxOrder]];
        if (deepest.link != 0 && deepest.key == c) {
            next.node = deepest.link;
            prefetchLine(&tree.nodes[next.node]);
            return next;
        }
    }
    if (hlen == 0) return next;
    next.order2 = &tree.order2[c << 8 | history[hlen - 1]];
    prefetchLine(next.order2);
    return next;
}

// Follows up on prefetchNext, some work later: starts loading the
// statistics list of the node it found, or the node of its order-2 entry.
inline void prefetchNextStats(const Tree& tree, const Lookahead& next) {
    if (next.node != 0) {
        const stats::Stats st = tree.nodes[next.node].stats;
        if (!stats::isDet(st)) prefetchLine(tree.pool.at(stats::listIndex(st)));
    } else if (next.order2 != nullptr && *next.order2 != 0) {
        prefetchLine(&tree.nodes[*next.order2]);
    }
}

}  // namespace quellpack::ppm
