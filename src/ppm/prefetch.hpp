// Loads started early for the next byte's contexts.
//
// Once a byte is known (the encoder knows it before coding it, the decoder
// right after decoding it) the next byte's first context is known too: the
// deepest context's follower after that byte when it has one, else the
// index entry the walk starts from (order 3 when the tree has that index,
// else order 2). Asking for those
// lines, and then for the statistics list of the node they lead to, lets
// the misses overlap with the coding and the update instead of following
// them. Only hints: nothing read here decides anything.
#pragma once

#include <cstdint>

#include "ppm/cursor.hpp"
#include "ppm/tree.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

// What the next byte's walk will read first.
struct Lookahead {
    uint32_t node = 0;                 // its deepest context: the follower, when known
    // Else, in a tree without the order-3 index, the order-2 entry it
    // starts from. An order-3 entry is only asked for: it is a line of a
    // large table, and waiting on it for its node costs more than it saves.
    const uint32_t* entry = nullptr;
};

// Starts loading the first line of the walk for the byte after c, whose
// contexts `cur` holds (the deepest found, the rest maybe not yet).
inline Lookahead prefetchNext(const Tree& tree, const ContextCursor& cur, const uint8_t* history, int hlen,
                              uint32_t c) {
    Lookahead next;
    if (cur.depth == kMaxOrder) {
        next.node = findFollower(tree, tree.nodes[cur.index[kMaxOrder]], c);
        if (next.node != 0) {
            prefetchLine(&tree.nodes[next.node]);
            return next;
        }
    }
    if (hlen == 0) return next;
    const uint32_t* order2 = &tree.order2[order2Key(c, history[hlen - 1])];
    prefetchLine(order2);  // the walk reads it with or without the order-3 index
    if (tree.order3 != nullptr && hlen >= 2) {
        prefetchLine(&tree.order3[order3Key(c, history[hlen - 1], history[hlen - 2])]);
    } else {
        next.entry = order2;
    }
    return next;
}

// Starts loading a full-order node's follower table, if it has one (a
// single follower sits in the node itself).
inline void prefetchFollowerTable(const Tree& tree, const Node& node) {
    if (node.kind == LargeNode) prefetchLine(tree.pool.at(node.link));
}

// Starts loading the followers of the deepest context in `cur`, for a
// lookup once its byte is known: the decoder's, which runs while the byte
// is decoded.
inline void prefetchFollowers(const Tree& tree, const ContextCursor& cur) {
    if (cur.depth == kMaxOrder) prefetchFollowerTable(tree, tree.nodes[cur.index[kMaxOrder]]);
}

// Follows up on prefetchNext when it found the follower: starts loading
// its statistics list and its followers. Called before the update, so
// that the list's miss overlaps with it (the update may still move the
// list: a hint can be stale).
inline void prefetchFollowerStats(const Tree& tree, const Lookahead& next) {
    if (next.node == 0) return;
    const Node& node = tree.nodes[next.node];
    const stats::Stats st = node.stats;
    if (!stats::isDet(st)) prefetchLine(tree.pool.at(stats::listIndex(st)));
    prefetchFollowerTable(tree, node);
}

// Follows up on prefetchNext when the walk will start from an index entry:
// starts loading the entry's node. Called after the update, which gives
// the entry's line time to come.
inline void prefetchEntryNode(const Tree& tree, const Lookahead& next) {
    if (next.entry != nullptr && *next.entry != 0) prefetchLine(&tree.nodes[*next.entry]);
}

}  // namespace quellpack::ppm
