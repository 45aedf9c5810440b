#include <cstring>

#include "ppm/cursor.hpp"
#include "ppm/model.hpp"
#include "ppm/ppm.hpp"
#include "ppm/tree.hpp"

namespace quellpack::ppm {

namespace {
constexpr size_t kProgressStep = size_t{1} << 20;
}

std::vector<uint8_t> compress(const uint8_t* data, size_t n, const ProgressFn* progress) {
    Tree tree;
    initTree(tree);
    Coding k;
    k.coder = rc::newEncoder(n + 20);
    see::mk_etab(k.etab);

    uint8_t window[kMaxOrder + 1];
    int hlen = 0;
    ContextCursor cur;
    for (size_t pos = 0; pos < n; ++pos) {
        const uint32_t c = data[pos];
        findContexts(tree, cur, window, hlen);
        k.mask.reset();
        int foundDepth = cur.depth;
        int32_t foundPosition;
        for (;; --foundDepth) {
            const stats::Stats st = tree.nodes[cur.index[foundDepth]].stats;
            stats::DetScratch scratch;
            const stats::SymbolView v = stats::view(st, tree.stats, scratch);
            const stats::SymbInfo info = stats::kindOf(st) == stats::StDet ? stats::getSymbInfo(c, k.mask, st, tree.stats)
                                                                           : stats::getSymbInfo(c, k.mask, v);
            foundPosition = info.index;
            if (encodeInContext(k, v, info, c)) break;
            // The root holds every byte and never excludes the one coded,
            // so the walk always ends there at the latest.
            walkAll(tree, cur, window, hlen);
        }
        k.prevHit = foundDepth == cur.depth ? 1 : 0;
        window[hlen] = static_cast<uint8_t>(c);
        const int wlen = hlen + 1;
        updateTree(tree, cur.index, cur.depth, foundDepth, window, wlen, foundPosition);
        rememberFollower(tree, cur, c);
        if (wlen > kMaxOrder) {
            std::memmove(window, window + 1, kMaxOrder);
            hlen = kMaxOrder;
        } else {
            hlen = wlen;
        }
        if (progress && (pos & (kProgressStep - 1)) == kProgressStep - 1) (*progress)(pos + 1);
    }
    return rc::finishEncoder(k.coder);
}

}  // namespace quellpack::ppm
