#include "ppm/tree.hpp"

#include <cstring>
#include <new>

namespace quellpack::ppm {

namespace {

uint32_t newNode(Tree& tree, NodeKind kind, stats::Stats st, uint8_t key, uint32_t link) {
    const uint32_t i = tree.nodes.push();
    tree.nodes[i] = Node{st, link, kind, key};
    return i;
}

// The chain of new contexts selected by window[j], window[j-1], ..., window[0]:
// each new node starts with the byte that follows its own key in the window.
uint32_t newBranch(Tree& tree, const uint8_t* window, int j) {
    uint32_t below = newNode(tree, Leaf, stats::newDet(window[1]), 0, 0);
    for (int k = 1; k <= j; ++k) below = newNode(tree, CxDet, stats::newDet(window[k + 1]), window[k - 1], below);
    return below;
}

// A new table of n + 1 children: the n of `keys`/`children` and (b, child).
uint32_t newTable(Tree& tree, uint32_t n, const unsigned char* keys, const unsigned char* children, uint32_t b,
                  uint32_t child) {
    if (n + 1 > kListChildren) {
        const uint32_t index = tree.pool.alloc(stats::blockUnits(kDirectUnits));
        const ChildTable t{tree.pool.at(index)};
        std::memset(t.slot(0), 0, 4 * 256);
        for (uint32_t i = 0; i < n; ++i) stats::store32(t.slot(keys[i]), stats::load32(children + 4 * i));
        stats::store32(t.slot(b), child);
        stats::store32(t.base, n + 1);
        return index;
    }
    const uint32_t index = tree.pool.alloc(listTableBlockUnits(n + 1));
    const ChildTable t{tree.pool.at(index)};
    unsigned char* newKeys = t.keys();
    unsigned char* newChildren = t.children(n + 1);
    std::memcpy(newKeys, keys, n);
    newKeys[n] = static_cast<unsigned char>(b);
    std::memcpy(newChildren, children, 4 * n);
    stats::store32(newChildren + 4 * n, child);
    return index;
}

// Gives `node` the new child `child` under byte b: a Leaf becomes a CxDet,
// a CxDet a LargeNode, a LargeNode a larger one or past kListChildren a
// DirectNode, and a DirectNode fills an empty slot.
void addChild(Tree& tree, Node& node, uint32_t b, uint32_t child) {
    if (node.kind == Leaf) {
        node.kind = CxDet;
        node.key = static_cast<uint8_t>(b);
        node.link = child;
        return;
    }
    if (node.kind == CxDet) {
        unsigned char oldChild[4];
        stats::store32(oldChild, node.link);
        node.link = newTable(tree, 1, &node.key, oldChild, b, child);
        node.kind = LargeNode;
        node.key = 2;
        return;
    }
    const ChildTable t{tree.pool.at(node.link)};
    if (node.kind == DirectNode) {
        stats::store32(t.slot(b), child);
        stats::store32(t.base, t.directCount() + 1);
        return;
    }
    const uint32_t n = node.key;
    if (n + 1 <= kListChildren && listTableBlockUnits(n + 1) == listTableBlockUnits(n)) {
        // Room in the block: the children move up a unit when the keys
        // need one more.
        if (keyUnits(n + 1) != keyUnits(n)) std::memmove(t.children(n + 1), t.children(n), 4 * n);
        t.keys()[n] = static_cast<unsigned char>(b);
        stats::store32(t.children(n + 1) + 4 * n, child);
        node.key = static_cast<uint8_t>(n + 1);
        return;
    }
    const uint32_t index = newTable(tree, n, t.keys(), t.children(n), b, child);
    tree.pool.release(node.link, listTableBlockUnits(n));
    node.link = index;
    if (n + 1 > kListChildren) {
        node.kind = DirectNode;
    } else {
        node.key = static_cast<uint8_t>(n + 1);
    }
}

}  // namespace

void initTree(Tree& tree, stats::MemoryBudget* budget, uint64_t inputBytes) {
    tree.nodes.budget = budget;
    tree.pool.budget = budget;
    stats::charge(budget, kOrder2Bytes);
    tree.pool.region->inputTotal = inputBytes;
    if (inputBytes >= kHugePagesFrom) stats::preferHugePages(*tree.pool.region);
    // Under a tight limit the index's memory is better left to the model.
    const bool roomy = budget == nullptr || budget->limit == 0 || budget->limit / 8 >= kOrder3Bytes;
    if (inputBytes >= kOrder3From && roomy) {
        // Only a speed aid, and inputBytes may come from a damaged header:
        // when the memory is not there the walks go without it.
        try {
            tree.order3 = reinterpret_cast<uint32_t*>(stats::takeZeroedChunk(*tree.pool.region, kOrder3Bytes));
            stats::charge(budget, kOrder3Bytes);  // fits: the limit is roomy
        } catch (const std::bad_alloc&) {
        }
    }
    newNode(tree, Leaf, stats::newRootStats(tree.pool), 0, 0);
}

void growTree(Tree& tree, uint32_t deepest, const uint8_t* window, int i) {
    const uint32_t branch = newBranch(tree, window, i);
    addChild(tree, tree.nodes[deepest], window[i], branch);
}

void addFollower(Tree& tree, uint32_t owner, uint32_t b, uint32_t next) { addChild(tree, tree.nodes[owner], b, next); }

size_t treeBytes(const Tree& tree) { return tree.nodes.bytes() + tree.pool.bytes(); }

}  // namespace quellpack::ppm
