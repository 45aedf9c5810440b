#include "ppm/tree.hpp"

#include <cstring>

namespace quellpack::ppm {

namespace {

uint32_t tableWords(uint32_t cap) { return cap == kDirectTable ? 1 + kDirectTable : 1 + (cap + 3) / 4 + cap; }

uint32_t newNode(Tree& tree, NodeKind kind, stats::Stats st, uint8_t key, uint32_t child) {
    const uint32_t i = tree.nodes.push();
    tree.nodes[i] = Node{st, child, kind, key};
    return i;
}

// The chain of new contexts selected by window[j], window[j-1], ..., window[0]:
// each new node starts with the byte that follows its own key in the window.
uint32_t newBranch(Tree& tree, const uint8_t* window, int j) {
    uint32_t below = newNode(tree, Leaf, stats::newDet(window[1]), 0, 0);
    for (int k = 1; k <= j; ++k) below = newNode(tree, CxDet, stats::newDet(window[k + 1]), window[k - 1], below);
    return below;
}

// Writes a list table holding n children (keys, children) into a new block.
uint32_t newListTable(Tree& tree, uint32_t cap, uint32_t n, const uint8_t* keys, const uint32_t* children) {
    const uint32_t block = tree.tables.alloc(tableWords(cap));
    uint32_t* t = tree.tables.at(block);
    t[0] = n | cap << 16;
    std::memcpy(t + 1, keys, n);
    std::memcpy(t + 1 + (cap + 3) / 4, children, n * sizeof(uint32_t));
    return block;
}

// Adds child `child` under byte b to a LargeNode's table, growing it when full.
void addToTable(Tree& tree, Node& node, uint32_t b, uint32_t child) {
    uint32_t* t = tree.tables.at(node.child);
    const uint32_t cap = t[0] >> 16;
    if (cap == kDirectTable) {
        t[1 + b] = child;
        return;
    }
    const uint32_t n = t[0] & 0xFFFF;
    auto* keys = reinterpret_cast<uint8_t*>(t + 1);
    uint32_t* children = t + 1 + (cap + 3) / 4;
    if (n < cap) {
        keys[n] = static_cast<uint8_t>(b);
        children[n] = child;
        t[0] = (n + 1) | cap << 16;
        return;
    }
    const uint32_t newCap = cap * 2;
    uint32_t block;
    if (newCap >= kDirectTable) {
        block = tree.tables.alloc(tableWords(kDirectTable));
        uint32_t* d = tree.tables.at(block);
        std::memset(d + 1, 0, kDirectTable * sizeof(uint32_t));
        for (uint32_t i = 0; i < n; ++i) d[1 + keys[i]] = children[i];
        d[1 + b] = child;
        d[0] = (n + 1) | kDirectTable << 16;
    } else {
        block = newListTable(tree, newCap, n, keys, children);
        uint32_t* g = tree.tables.at(block);
        reinterpret_cast<uint8_t*>(g + 1)[n] = static_cast<uint8_t>(b);
        g[1 + (newCap + 3) / 4 + n] = child;
        g[0] = (n + 1) | newCap << 16;
    }
    tree.tables.release(node.child, tableWords(cap));
    node.child = block;
}

// Gives `node` the new child `child` under byte b: a Leaf becomes a CxDet,
// a CxDet a LargeNode, a LargeNode fills an empty slot.
void addChild(Tree& tree, Node& node, uint32_t b, uint32_t child) {
    if (node.kind == Leaf) {
        node.kind = CxDet;
        node.key = static_cast<uint8_t>(b);
        node.child = child;
    } else if (node.kind == CxDet) {
        const uint8_t keys[2] = {node.key, static_cast<uint8_t>(b)};
        const uint32_t children[2] = {node.child, child};
        node.kind = LargeNode;
        node.child = newListTable(tree, 2, 2, keys, children);
    } else {
        addToTable(tree, node, b, child);
    }
}

}  // namespace

void initTree(Tree& tree) {
    newNode(tree, Leaf, stats::newRootStats(tree.stats), 0, 0);
}

void updateTree(Tree& tree, Node** path, int depth, int foundDepth, const uint8_t* window, int wlen) {
    const uint32_t c = window[wlen - 1];
    for (int j = depth; j >= foundDepth; --j) stats::incrCount(c, j == foundDepth, path[j]->stats, tree.stats);
    const int i = wlen - 2 - depth;
    if (i >= 0) {
        const uint32_t branch = newBranch(tree, window, i);
        addChild(tree, *path[depth], window[i], branch);
    }
}

size_t treeBytes(const Tree& tree) { return tree.nodes.bytes() + tree.tables.bytes() + tree.stats.words.bytes(); }

}  // namespace quellpack::ppm
