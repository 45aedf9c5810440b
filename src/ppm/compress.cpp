#include <cstring>

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
    Node* path[kMaxOrder + 1];
    for (size_t pos = 0; pos < n; ++pos) {
        const uint32_t c = data[pos];
        const int depth = walkContexts(tree, window, hlen, path);
        window[hlen] = static_cast<uint8_t>(c);
        const int wlen = hlen + 1;
        k.mask.reset();
        int foundDepth = depth;
        for (;; --foundDepth) {
            const stats::Stats& st = path[foundDepth]->stats;
            uint32_t scratch;
            const stats::SymbolView v = stats::view(st, tree.stats, scratch);
            const stats::SymbInfo info = st.kind == stats::StDet ? stats::getSymbInfo(c, k.mask, st, tree.stats)
                                                                 : stats::getSymbInfo(c, k.mask, v);
            if (encodeInContext(k, v, info, c)) break;
            // The root holds every byte and never excludes the one coded,
            // so the walk always ends there at the latest.
        }
        k.prevHit = foundDepth == depth ? 1 : 0;
        updateTree(tree, path, depth, foundDepth, window, wlen);
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
