// The context tree: one node per context of up to four bytes seen so far.
//
// A node is a `Leaf` (no longer context below it), a `CxDet` (exactly one,
// selected by `key`) or a `LargeNode` (two or more, in a child table sized
// to the children present). Nodes live in one arena and refer to each
// other by 32-bit index; index 0 is the root, so 0 also means "no child".
#pragma once

#include <cstdint>

#include "stats/pool.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

enum NodeKind : uint8_t { Leaf = 0, CxDet = 1, LargeNode = 2 };

constexpr int kMaxOrder = 4;

struct Node {
    stats::Stats stats;
    uint32_t child;  // CxDet: the child node; LargeNode: its child table
    uint8_t kind;
    uint8_t key;     // CxDet: the byte that selects the child
};

// Child table of a LargeNode, in the table pool: word 0 = children | cap << 16,
// then cap key bytes and cap child indices. At cap 256 the table is direct:
// word 1 + b holds the child for byte b.
constexpr uint32_t kDirectTable = 256;

struct Tree {
    stats::ChunkedArray<Node> nodes;
    stats::WordPool tables;
    stats::StatsPool stats;
};

// Builds the initial tree: a root Leaf knowing all 256 bytes once.
void initTree(Tree& tree);

// The child of `node` for byte b, or 0 when there is none.
inline uint32_t findChild(const Tree& tree, const Node& node, uint32_t b) {
    if (node.kind == CxDet) return node.key == b ? node.child : 0;
    if (node.kind == Leaf) return 0;
    const uint32_t* t = tree.tables.at(node.child);
    const uint32_t cap = t[0] >> 16;
    if (cap == kDirectTable) return t[1 + b];
    const uint32_t n = t[0] & 0xFFFF;
    const auto* keys = reinterpret_cast<const uint8_t*>(t + 1);
    const uint32_t* children = t + 1 + (cap + 3) / 4;
    for (uint32_t i = 0; i < n; ++i)
        if (keys[i] == b) return children[i];
    return 0;
}

// Finds the contexts of the next byte: path[0] is the root, path[d] the
// longest context present. `history` holds hlen bytes, most recent last.
// Returns d.
inline int walkContexts(Tree& tree, const uint8_t* history, int hlen, Node** path) {
    Node* node = &tree.nodes[0];
    path[0] = node;
    int d = 0;
    for (int i = hlen - 1; i >= 0; --i) {
        const uint32_t child = findChild(tree, *node, history[i]);
        if (child == 0) break;
        node = &tree.nodes[child];
        path[++d] = node;
    }
    return d;
}

// Counts byte c in the contexts that coded it and adds the contexts the
// tree lacked. path[0..depth] are the contexts walked for c, foundDepth the
// one that coded it; window is the history followed by c (wlen bytes).
void updateTree(Tree& tree, Node** path, int depth, int foundDepth, const uint8_t* window, int wlen);

// Memory held by the tree, in bytes.
size_t treeBytes(const Tree& tree);

}  // namespace quellpack::ppm
