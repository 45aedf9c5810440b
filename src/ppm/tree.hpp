// The context tree: one node per context of up to four bytes seen so far.
//
// A node is a `Leaf` (no longer context below it), a `CxDet` (exactly one,
// selected by `key`), a `LargeNode` (two to kListChildren, `key` of them,
// in a child table sized to them) or a `DirectNode` (more, in a table with
// a slot for every byte). Nodes live in one arena and refer to each
// other by 32-bit index; index 0 is the root, so 0 also means "no child".
#pragma once

#include <cstdint>
#include <memory>

#include "stats/pool.hpp"
#include "stats/stats.hpp"

namespace quellpack::ppm {

enum NodeKind : uint8_t { Leaf = 0, CxDet = 1, LargeNode = 2, DirectNode = 3 };

constexpr int kMaxOrder = 4;

// Packed to 10 bytes: nodes are the model's largest share of memory.
struct __attribute__((packed)) Node {
    stats::Stats stats;
    // CxDet: the child; LargeNode, DirectNode: its child table. A node at the deepest
    // order never gets children; in the same shapes it keeps its followers
    // instead: for each byte seen after it, the deepest context that came
    // next (kind, key and link as for children, see findFollower).
    uint32_t link;
    uint8_t kind;
    uint8_t key;  // CxDet: the child's byte; LargeNode: the number of children
};
static_assert(sizeof(Node) == 10);

// Child tables, in the pool. A LargeNode's lists its n key bytes, then its
// n child indices (n is kept in the node, so the table holds no count); a
// DirectNode's holds the number of children in unit 0 and the child of
// byte b in unit 1 + b.
constexpr uint32_t kListChildren = 128;
constexpr uint32_t kDirectUnits = 1 + 256;

constexpr uint32_t keyUnits(uint32_t n) { return (n + 3) / 4; }
constexpr uint32_t listTableUnits(uint32_t n) { return keyUnits(n) + n; }
constexpr uint32_t listTableBlockUnits(uint32_t n) { return stats::blockUnits(listTableUnits(n)); }

// A child table as its parts; Byte is unsigned char, const or not.
template <class Byte>
struct ChildTableOf {
    Byte* base;
    // Direct table: the number of children, and the slot of byte b.
    uint32_t directCount() const { return stats::load32(base); }
    Byte* slot(uint32_t b) const { return base + 4 * (1 + b); }
    // List table of n children: the keys, then the children.
    Byte* keys() const { return base; }
    Byte* children(uint32_t n) const { return base + 4 * keyUnits(n); }
};
using ChildTable = ChildTableOf<unsigned char>;
using ConstChildTable = ChildTableOf<const unsigned char>;
static_assert(kDirectUnits <= stats::Pool::kMaxBlock && listTableBlockUnits(kListChildren) <= stats::Pool::kMaxBlock,
              "every child table fits a pool block");
static_assert(kListChildren <= UINT8_MAX, "a LargeNode's number of children fits its key");

constexpr size_t kOrder2Bytes = sizeof(uint32_t) << 16;
constexpr size_t kOrder3Bytes = sizeof(uint32_t) << 24;
// Inputs from this size on get the order-3 index: its 64 MiB are then at
// most a byte per input byte, and save a node and a child table on the
// walks, which on large inputs miss the caches at every level.
constexpr uint64_t kOrder3From = uint64_t{64} << 20;
// Inputs from this size on get huge pages for all of their nodes and
// statistics (see preferHugePages): their model outgrows the small-pages
// part, so the memory those pages add is a small share of it.
constexpr uint64_t kHugePagesFrom = uint64_t{8} << 20;

// Child tables live in the statistics pool: both grow through the same
// block sizes, so each reuses what the other set free.
struct Tree {
    stats::ChunkedArray<Node> nodes;
    stats::Pool pool;
    // Order-2 contexts by their two bytes (most recent first), filled as
    // walks find them: walks start at depth 2 instead of the root.
    uint32_t* order2;
    // Order-3 contexts by their three bytes likewise, for large inputs
    // only (see initTree); null when there is none.
    uint32_t* order3 = nullptr;

    // All of a tree's memory comes from one region, in its lanes.
    Tree() {
        nodes.region = pool.region;
        order2 = reinterpret_cast<uint32_t*>(stats::takeZeroedChunk(*pool.region, kOrder2Bytes));
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
};

// Builds the initial tree for a model of inputBytes bytes: a root Leaf
// knowing all 256 bytes once. With a budget, the tree's tables and every
// chunk it grows by are charged to it. Whether the order-3 index is made
// (by inputBytes, the budget's limit and the memory at hand) changes the
// speed and the memory, never the coded bytes.
void initTree(Tree& tree, stats::MemoryBudget* budget = nullptr, uint64_t inputBytes = 0);

// Tells the tree how many of its input's bytes it has learnt: its memory
// is laid out by how much it is expected to grow. Once in a while is enough.
inline void noteProgress(Tree& tree, uint64_t bytesDone) { tree.pool.region->inputSeen = bytesDone; }

// Asks for the line at p to be loaded: a hint, nothing depends on it.
inline void prefetchLine(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// The child of `node` for byte b, or 0 when there is none.
inline uint32_t findChild(const Tree& tree, const Node& node, uint32_t b) {
    if (node.kind == CxDet) return node.key == b ? node.link : 0;
    if (node.kind == Leaf) return 0;
    const ConstChildTable t{tree.pool.at(node.link)};
    if (node.kind == DirectNode) return stats::load32(t.slot(b));
    const uint32_t n = node.key;
    const int32_t k = stats::indexOfByte(t.keys(), static_cast<int32_t>(n), b);
    if (k < 0) return 0;
    return stats::load32(t.children(n) + 4 * k);
}

// For a full-order context: the deepest context that followed it after
// byte b, or 0 when none is known yet. Followers are kept as children are.
inline uint32_t findFollower(const Tree& tree, const Node& node, uint32_t b) { return findChild(tree, node, b); }

// The entries of the order-2 and order-3 indexes for a context's bytes,
// most recent first.
inline uint32_t order2Key(uint32_t b1, uint32_t b2) { return b1 << 8 | b2; }
inline uint32_t order3Key(uint32_t b1, uint32_t b2, uint32_t b3) { return b1 << 16 | b2 << 8 | b3; }

// The contexts of the next byte: index[0] is the root, index[d] the longest
// context present. `history` holds hlen bytes, most recent last. Returns d.
inline int walkContexts(Tree& tree, const uint8_t* history, int hlen, uint32_t* index) {
    index[0] = 0;
    if (hlen == 0) return 0;
    uint32_t node = findChild(tree, tree.nodes[0], history[hlen - 1]);
    if (node == 0) return 0;
    index[1] = node;
    if (hlen == 1) return 1;
    uint32_t& order2 = tree.order2[order2Key(history[hlen - 1], history[hlen - 2])];
    if (order2 == 0) {
        order2 = findChild(tree, tree.nodes[node], history[hlen - 2]);
        if (order2 == 0) return 1;
    }
    node = order2;
    index[2] = node;
    int d = 2;
    int i = hlen - 3;
    if (tree.order3 != nullptr && i >= 0) {
        uint32_t& order3 = tree.order3[order3Key(history[hlen - 1], history[hlen - 2], history[i])];
        if (order3 == 0) {
            order3 = findChild(tree, tree.nodes[node], history[i]);
            if (order3 == 0) return 2;
        }
        node = order3;
        index[++d] = node;
        --i;
    }
    for (; i >= 0; --i) {
        const Node& parent = tree.nodes[node];
        // Its list is read if the deeper contexts escape: it can load
        // while the walk goes on.
        if (!stats::isDet(parent.stats)) prefetchLine(tree.pool.at(stats::listIndex(parent.stats)));
        node = findChild(tree, parent, history[i]);
        if (node == 0) break;
        index[++d] = node;
    }
    return d;
}

// Adds below `deepest`, the deepest context walked, the branch of new
// contexts selected by window[i], window[i-1], ..., window[0].
void growTree(Tree& tree, uint32_t deepest, const uint8_t* window, int i);

// Counts byte c in the contexts that coded it and adds the contexts the
// tree lacked. index[0..depth] are the contexts walked for c, foundDepth
// the one that coded it; window is the history followed by c (wlen bytes).
// foundPosition, when not -1, is where c stands in that context's record.
inline void updateTree(Tree& tree, const uint32_t* index, int depth, int foundDepth, const uint8_t* window, int wlen,
                       int32_t foundPosition = -1) {
    const uint32_t c = window[wlen - 1];
    for (int j = depth; j >= foundDepth; --j) {
        Node& node = tree.nodes[index[j]];
        stats::Stats st = node.stats;  // packed field: counted through a copy
        stats::incrCount(c, j == foundDepth, st, tree.pool, j == foundDepth ? foundPosition : -1);
        node.stats = st;
    }
    const int i = wlen - 2 - depth;
    if (i >= 0) growTree(tree, index[depth], window, i);
}

// Remembers `next` as the follower of the full-order context `owner` after
// byte b, beside the followers it knows for other bytes.
void addFollower(Tree& tree, uint32_t owner, uint32_t b, uint32_t next);

// Memory held by the tree, in bytes.
size_t treeBytes(const Tree& tree);

}  // namespace quellpack::ppm
