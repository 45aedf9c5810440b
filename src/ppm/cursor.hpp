// Finding the contexts of each byte, for both coding loops.
//
// Most bytes are coded in a context of the full order four, and the next
// byte's deepest context depends only on that context and the byte coded
// in it. A full-order context never has children, so it keeps, where
// children would be, the context that followed it after each byte: when a
// byte follows it again, the walk from the root is skipped. Contexts are
// never removed, so a follower once known stays right. The shorter
// contexts are walked only when a decision escapes to them.
#pragma once

#include <cstdint>
#include <cstring>

#include "ppm/tree.hpp"

namespace quellpack::ppm {

struct ContextCursor {
    uint32_t index[kMaxOrder + 1];  // the byte's contexts, root first
    int depth = 0;                  // index[depth] is the deepest
    bool walked = false;            // index[0..depth-1] are known too
    uint32_t shortcut = 0;          // the next byte's deepest context, if known
    uint32_t waiting = 0;           // full-order context that learns its follower
    uint8_t waitingByte = 0;
};

// Finds the deepest context of the next byte.
inline void findContexts(Tree& tree, ContextCursor& cur, const uint8_t* history, int hlen) {
    if (cur.shortcut != 0) {
        cur.depth = kMaxOrder;
        cur.index[kMaxOrder] = cur.shortcut;
        cur.walked = false;
        return;
    }
    cur.depth = walkContexts(tree, history, hlen, cur.index);
    cur.walked = true;
}

// Makes index[0..depth] all known, before a decision in a shorter context.
inline void walkAll(Tree& tree, ContextCursor& cur, const uint8_t* history, int hlen) {
    if (cur.walked) return;
    walkContexts(tree, history, hlen, cur.index);
    cur.walked = true;
}

// Records, after byte c was coded, what the next byte's walk can skip.
// `follower` is the deepest context's follower after c as looked up before
// the update (prefetchNext), 0 when none was known. Call after updateTree:
// the nodes are final for this byte.
inline void rememberFollower(Tree& tree, ContextCursor& cur, uint32_t c, uint32_t follower) {
    if (cur.waiting != 0 && cur.depth == kMaxOrder && cur.walked) {
        addFollower(tree, cur.waiting, cur.waitingByte, cur.index[kMaxOrder]);
        // A context that followed itself has just learnt a follower.
        if (cur.waiting == cur.index[kMaxOrder]) follower = findFollower(tree, tree.nodes[cur.waiting], c);
    }
    cur.waiting = 0;
    cur.shortcut = 0;
    if (cur.depth != kMaxOrder) return;
    if (follower != 0) {
        cur.shortcut = follower;
    } else {
        cur.waiting = cur.index[kMaxOrder];
        cur.waitingByte = static_cast<uint8_t>(c);
    }
}

// Appends the coded byte's window to the history: the window (the history
// and the byte, wlen bytes) loses its oldest byte when it is longer than
// the model's order. Returns the history's new length.
inline int advanceHistory(uint8_t* window, int wlen) {
    if (wlen <= kMaxOrder) return wlen;
    std::memmove(window, window + 1, kMaxOrder);
    return kMaxOrder;
}

}  // namespace quellpack::ppm
