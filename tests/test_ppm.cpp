// Context tree: how it grows and which contexts are counted, and the two
// coding loops over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ppm/ppm.hpp"
#include "ppm_buffers.hpp"
#include "ppm/tree.hpp"
#include "ppm/walk.hpp"
#include "quellpack/error.hpp"

using namespace quellpack;
using namespace quellpack::ppm;

namespace {

bool present(const Tree& tree, const Node& node, uint32_t c) {
    return stats::getSymbInfo(c, stats::Mask{}, node.stats, tree.pool).found;
}

int32_t countOf(const Tree& tree, const Node& node, uint32_t c) {
    const stats::SymbInfo info = stats::getSymbInfo(c, stats::Mask{}, node.stats, tree.pool);
    return info.found ? info.freq : 0;
}

int32_t escapeOf(const Tree& tree, const Node& node) {
    return stats::getSymbInfo(0, stats::Mask{}, node.stats, tree.pool).esc;
}

// A context whose record is StDet(b, 1), as every new context starts.
void expectFresh(const Tree& tree, const Node& node, uint32_t b) {
    EXPECT_EQ(stats::kindOf(node.stats, tree.pool), stats::StDet);
    EXPECT_EQ(countOf(tree, node, b), 1);
}

// The model over a tree: the history and the step after each byte.
struct Model {
    Tree tree;
    std::vector<uint8_t> history;
    // inputBytes as the coding loops pass it: from kOrder3From on, with the order-3 index.
    explicit Model(uint64_t inputBytes = 0) { initTree(tree, nullptr, inputBytes); }

    uint32_t walked[kMaxOrder + 1];  // node indices of the last walk

    // The contexts of the next byte, root first; returns the deepest depth.
    int walk(Node** path) {
        const int depth = walkContexts(tree, history.data(), static_cast<int>(history.size()), walked);
        for (int d = 0; d <= depth; ++d) path[d] = &tree.nodes[walked[d]];
        return depth;
    }

    // Codes c where the coding walk would: in the deepest context that holds it.
    void feed(uint8_t c) {
        Node* path[kMaxOrder + 1];
        const int depth = walk(path);
        int found = depth;
        while (!present(tree, *path[found], c)) --found;
        update(path, depth, found, c);
    }
    void feed(const std::string& s) {
        for (char ch : s) feed(static_cast<uint8_t>(ch));
    }

    // Updates the contexts of the last walk (whose nodes `path` shows).
    void update(Node** /*path*/, int depth, int foundDepth, uint8_t c) {
        std::vector<uint8_t> window = history;
        window.push_back(c);
        updateTree(tree, walked, depth, foundDepth, window.data(), static_cast<int>(window.size()));
        history = window;
        if (history.size() > kMaxOrder) history.erase(history.begin());
    }

    // The node reached from the root by the given bytes, most recent first.
    const Node* at(const std::string& keys) {
        const Node* node = &tree.nodes[0];
        for (char k : keys) {
            const uint32_t child = findChild(tree, *node, static_cast<uint8_t>(k));
            if (child == 0) return nullptr;
            node = &tree.nodes[child];
        }
        return node;
    }
};

int childCount(const Tree& tree, const Node& node) {
    int n = 0;
    for (uint32_t b = 0; b < 256; ++b) n += findChild(tree, node, b) != 0;
    return n;
}

}  // namespace

// The order-3 index only caches what the tree holds: over text, binary
// and random stretches, walks with it find the same contexts, node for
// node, as walks without it, in trees grown alike.
TEST(ContextTree, Order3IndexFindsTheSameContexts) {
    Model plain;
    Model indexed(kOrder3From);
    ASSERT_EQ(plain.tree.order3, nullptr);
    ASSERT_NE(indexed.tree.order3, nullptr);
    std::mt19937 rng(3);
    std::vector<uint8_t> input;
    const std::string text = "the order-3 index starts walks at depth three; ";
    for (int part = 0; part < 60; ++part) {
        for (int i = 0; i < 900; ++i) {
            switch (part % 3) {
                case 0: input.push_back(static_cast<uint8_t>(text[(i * 7 + part) % text.size()])); break;
                case 1: input.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? rng() : i & 0x0F)); break;
                default: input.push_back(static_cast<uint8_t>(rng())); break;
            }
        }
    }
    Node* path[kMaxOrder + 1];
    for (size_t pos = 0; pos < input.size(); ++pos) {
        const int depth = plain.walk(path);
        ASSERT_EQ(indexed.walk(path), depth) << pos;
        for (int d = 0; d <= depth; ++d) ASSERT_EQ(indexed.walked[d], plain.walked[d]) << pos << " at depth " << d;
        plain.feed(input[pos]);
        indexed.feed(input[pos]);
    }
}

// The index is made only for large inputs, and only when a memory limit
// leaves it room; it is charged to the budget like the rest.
TEST(ContextTree, Order3IndexOnlyForLargeInputsWithRoom) {
    {
        Tree tree;
        initTree(tree, nullptr, kOrder3From - 1);
        EXPECT_EQ(tree.order3, nullptr);
    }
    {
        stats::MemoryBudget budget{0};
        Tree tree;
        initTree(tree, &budget, kOrder3From);
        EXPECT_NE(tree.order3, nullptr);
        EXPECT_GE(budget.used, kOrder3Bytes);
    }
    {
        stats::MemoryBudget budget{uint64_t{256} << 20};
        Tree tree;
        initTree(tree, &budget, kOrder3From);
        EXPECT_EQ(tree.order3, nullptr);
        EXPECT_LT(budget.used, kOrder3Bytes);
    }
}

TEST(ContextTree, GrowsFromRootLeafToCxDetToLargeNode) {
    Model m;
    const Node* root = m.at("");
    EXPECT_EQ(root->kind, Leaf);
    EXPECT_EQ(childCount(m.tree, *root), 0);
    m.feed('x');
    EXPECT_EQ(m.at("")->kind, Leaf);  // no history yet: only the root is counted
    EXPECT_EQ(countOf(m.tree, *m.at(""), 'x'), 12);
    m.feed('y');
    EXPECT_EQ(m.at("")->kind, CxDet);
    EXPECT_EQ(m.at("")->key, 'x');
    ASSERT_NE(m.at("x"), nullptr);
    EXPECT_EQ(m.at("x")->kind, Leaf);
    expectFresh(m.tree, *m.at("x"), 'y');
    m.feed('z');
    EXPECT_EQ(m.at("")->kind, LargeNode);
    EXPECT_EQ(childCount(m.tree, *m.at("")), 2);
    ASSERT_NE(m.at("y"), nullptr);
    expectFresh(m.tree, *m.at("x"), 'y');  // the old child is not counted
    expectFresh(m.tree, *m.at("y"), 'z');
    ASSERT_NE(m.at("yx"), nullptr);
    expectFresh(m.tree, *m.at("yx"), 'y');  // context x y starts with a history byte
}

// Two nodes gaining children in step, in scrambled byte orders, through
// every table shape and block size: after each new child both find exactly
// the children given so far, so no table grew into another's block.
TEST(ContextTree, ChildTablesGrowingSideBySideKeepEveryChild) {
    Tree tree;
    initTree(tree);
    const uint32_t other = tree.nodes.push();
    tree.nodes[other] = Node{stats::newDet('a'), 0, Leaf, 0};
    const uint32_t owners[2] = {0, other};
    std::vector<uint32_t> order[2];
    std::mt19937 rng(11);
    for (auto& o : order) {
        for (uint32_t b = 0; b < 256; ++b) o.push_back(b);
        std::shuffle(o.begin(), o.end(), rng);
    }
    const auto childFor = [](int which, uint32_t b) { return 1000u + 256u * static_cast<uint32_t>(which) + b; };
    for (size_t step = 0; step < 256; ++step) {
        for (int which = 0; which < 2; ++which) addFollower(tree, owners[which], order[which][step], childFor(which, order[which][step]));
        for (int which = 0; which < 2; ++which) {
            std::vector<bool> given(256);
            for (size_t k = 0; k <= step; ++k) given[order[which][k]] = true;
            const Node& node = tree.nodes[owners[which]];
            for (uint32_t b = 0; b < 256; ++b)
                ASSERT_EQ(findChild(tree, node, b), given[b] ? childFor(which, b) : 0u)
                    << "node " << which << " byte " << b << " after " << step + 1 << " children";
        }
    }
    EXPECT_EQ(tree.nodes[0].kind, DirectNode);
}

// History a b c d, byte e: the new branch's nodes start with e, d, c and b.
TEST(ContextTree, NewBranchStartsEachContextWithTheByteAfterItsKey) {
    Model m;
    m.feed("pqrabcd");
    ASSERT_EQ(m.at("")->kind, LargeNode);
    ASSERT_EQ(m.at("d"), nullptr);
    m.feed('e');
    const char* keys[] = {"d", "dc", "dcb", "dcba"};
    const char firsts[] = {'e', 'd', 'c', 'b'};
    for (int i = 0; i < 4; ++i) {
        const Node* node = m.at(keys[i]);
        ASSERT_NE(node, nullptr) << keys[i];
        expectFresh(m.tree, *node, static_cast<uint8_t>(firsts[i]));
        EXPECT_EQ(node->kind, i < 3 ? CxDet : Leaf);
    }

    // The same byte below a Leaf d at depth 1: d gains key c, and the new
    // context c d starts with d.
    Model n;
    n.feed("dqabcd");
    ASSERT_EQ(n.at("d")->kind, Leaf);
    n.feed('e');
    EXPECT_EQ(n.at("d")->kind, CxDet);
    EXPECT_EQ(n.at("d")->key, 'c');
    EXPECT_EQ(countOf(n.tree, *n.at("d"), 'e'), 11);  // counted: it escaped
    expectFresh(n.tree, *n.at("dc"), 'd');
    expectFresh(n.tree, *n.at("dcb"), 'c');
    expectFresh(n.tree, *n.at("dcba"), 'b');
}

TEST(ContextTree, DepthFourContextsStayLeaves) {
    Model m;
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 20000; ++i) text += static_cast<char>('a' + rng() % 3);
    for (char c : text) {
        Node* path[kMaxOrder + 1];
        const int depth = m.walk(path);
        ASSERT_LE(depth, static_cast<int>(m.history.size()));  // a short history, a short walk
        if (depth == kMaxOrder) {
            ASSERT_EQ(path[kMaxOrder]->kind, Leaf);
        }
        m.feed(static_cast<uint8_t>(c));
    }
    // Three letters make every context of four present: the walk goes deep.
    Node* path[kMaxOrder + 1];
    EXPECT_EQ(m.walk(path), kMaxOrder);
}

// The context that coded the byte is counted as found, the deeper ones that
// escaped as new, the shallower ones not at all.
TEST(ContextTree, FoundDepthDecidesWhichContextsAreCounted) {
    // History d a b c with the contexts c, b c and a b c present.
    Model m, z;
    m.feed("abcdabc");
    z.feed("abcdabc");
    Node* path[kMaxOrder + 1];
    ASSERT_EQ(m.walk(path), 3);

    // A byte new everywhere but the root.
    Node* zpath[kMaxOrder + 1];
    ASSERT_EQ(z.walk(zpath), 3);
    const int32_t rootEscape = escapeOf(z.tree, *zpath[0]);
    z.update(zpath, 3, 0, 'z');
    EXPECT_EQ(countOf(z.tree, *zpath[0], 'z'), 12);
    EXPECT_EQ(escapeOf(z.tree, *zpath[0]), rootEscape);
    for (int d = 1; d <= 3; ++d) {
        EXPECT_EQ(countOf(z.tree, *zpath[d], 'z'), 11) << d;
        EXPECT_EQ(escapeOf(z.tree, *zpath[d]), 11) << d;  // StDet (6) plus 5
    }

    // A byte of the depth-2 context that the depth-3 one lacks.
    uint32_t c = 256;
    for (uint32_t b = 0; b < 256 && c == 256; ++b)
        if (present(m.tree, *path[2], b) && !present(m.tree, *path[3], b)) c = b;
    ASSERT_NE(c, 256u);
    int32_t before[4], escBefore[4];
    for (int d = 0; d < 4; ++d) {
        before[d] = countOf(m.tree, *path[d], c);
        escBefore[d] = escapeOf(m.tree, *path[d]);
    }
    const stats::Stats rootStats = path[0]->stats, d1Stats = path[1]->stats;
    m.update(path, 3, 2, static_cast<uint8_t>(c));
    EXPECT_EQ(countOf(m.tree, *path[0], c), before[0]);
    EXPECT_EQ(countOf(m.tree, *path[1], c), before[1]);
    EXPECT_EQ(path[0]->stats.word, rootStats.word);
    EXPECT_EQ(path[1]->stats.word, d1Stats.word);
    EXPECT_EQ(escapeOf(m.tree, *path[1]), escBefore[1]);
    EXPECT_EQ(countOf(m.tree, *path[2], c), before[2] + 11);
    EXPECT_EQ(escapeOf(m.tree, *path[2]), escBefore[2]);
    EXPECT_EQ(countOf(m.tree, *path[3], c), 11);
    EXPECT_EQ(escapeOf(m.tree, *path[3]), escBefore[3] + 5);
}

// The model's walk over a text, deciding as the coder would (a byte found,
// or an escape), with every shortcut checked against a walk from the root:
// a wrong follower would code the byte in the wrong context.
TEST(ContextTree, EveryFollowerIsTheContextTheWalkFinds) {
    std::mt19937 rng(11);
    std::vector<uint8_t> text;
    // Contexts followed by many different bytes, and runs that follow themselves.
    for (int i = 0; i < 60000; ++i) {
        const uint32_t r = rng() % 10;
        text.push_back(static_cast<uint8_t>(r < 6 ? "abcab"[i % 5] : r < 8 ? 'a' + rng() % 20 : 'z'));
    }
    Tree tree;
    initTree(tree);
    Walk w;
    size_t shortcuts = 0, followerTables = 0;
    for (const uint8_t c : text) {
        if (w.cursor.shortcut != 0) {
            ++shortcuts;
            uint32_t index[kMaxOrder + 1];
            ASSERT_EQ(walkContexts(tree, w.window, w.hlen, index), kMaxOrder);
            ASSERT_EQ(index[kMaxOrder], w.cursor.shortcut);
        }
        walkByte(tree, w, [&](const stats::SymbolView& v, int32_t& position) -> int32_t {
            const stats::SymbInfo info = stats::getSymbInfo(c, w.mask, v);
            position = info.index;
            if (info.found) return c;
            stats::excludeSymbols(w.mask, v);
            return -1;
        }, c);
    }
    for (uint32_t i = 0; i < tree.nodes.size; ++i) followerTables += tree.nodes[i].kind == LargeNode;
    EXPECT_GT(shortcuts, text.size() / 2);
    EXPECT_GT(followerTables, 0u);
}

TEST(ModelLoops, DecompressRestoresWhatCompressCoded) {
    std::mt19937 rng(99);
    std::vector<std::vector<uint8_t>> inputs = {{}, {0}, {255, 255}, {1, 2, 3, 1, 2, 3, 1, 2, 3}};
    std::vector<uint8_t> mixed;
    for (int i = 0; i < 200000; ++i) mixed.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? rng() : i / 5000));
    inputs.push_back(mixed);
    for (const std::vector<uint8_t>& in : inputs) {
        const std::vector<uint8_t> coded = compress(in.data(), in.size());
        ASSERT_GE(coded.size(), 4u);
        EXPECT_EQ(coded[0], 0);
        EXPECT_EQ(decompress(coded.data(), coded.size(), in.size()), in);
        // No end marker: asking for fewer bytes gives the prefix.
        if (in.size() > 1) {
            const std::vector<uint8_t> prefix(in.begin(), in.end() - 1);
            EXPECT_EQ(decompress(coded.data(), coded.size(), prefix.size()), prefix);
        }
    }
}

TEST(ModelLoops, NothingToRestoreReadsNothing) {
    EXPECT_TRUE(decompress(nullptr, 0, 0).empty());
    const uint8_t junk[] = {0xFF, 0xEE};
    EXPECT_TRUE(decompress(junk, sizeof junk, 0).empty());
    // One byte more than the coded bytes hold is damage, not a guess.
    const std::vector<uint8_t> coded = compress(junk, sizeof junk);
    EXPECT_THROW(decompress(coded.data(), coded.size(), 1000), Error);
}
