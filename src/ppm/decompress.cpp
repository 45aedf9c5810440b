#include <algorithm>
#include <cstring>

#include "ppm/cursor.hpp"
#include "ppm/model.hpp"
#include "ppm/ppm.hpp"
#include "ppm/tree.hpp"

namespace quellpack::ppm {

namespace {
constexpr size_t kProgressStep = size_t{1} << 20;
constexpr size_t kInitialReserve = size_t{1} << 22;
}

std::vector<uint8_t> decompress(const uint8_t* coded, size_t length, size_t n, const ProgressFn* progress) {
    std::vector<uint8_t> out;
    // Reserve by what the coded bytes plausibly hold, not by what the header
    // claims; the vector grows further as bytes are actually decoded.
    out.reserve(std::min(n, std::max(kInitialReserve, length * 8)));
    if (n == 0) return out;

    Tree tree;
    initTree(tree);
    Coding k;
    k.coder = rc::newDecoder(coded, length);
    see::mk_etab(k.etab);

    uint8_t window[kMaxOrder + 1];
    int hlen = 0;
    ContextCursor cur;
    for (size_t pos = 0; pos < n; ++pos) {
        findContexts(tree, cur, window, hlen);
        k.mask.reset();
        int foundDepth = cur.depth;
        int32_t sym;
        for (;; --foundDepth) {
            stats::DetScratch scratch;
            const stats::SymbolView v = stats::view(tree.nodes[cur.index[foundDepth]].stats, tree.stats, scratch);
            sym = decodeInContext(k, v);
            if (sym >= 0) break;
            if (foundDepth == 0) damaged();  // nothing can escape the root
            walkAll(tree, cur, window, hlen);
        }
        if (k.coder.overrun) damaged();
        out.push_back(static_cast<uint8_t>(sym));
        k.prevHit = foundDepth == cur.depth ? 1 : 0;
        window[hlen] = static_cast<uint8_t>(sym);
        const int wlen = hlen + 1;
        updateTree(tree, cur.index, cur.depth, foundDepth, window, wlen);
        rememberFollower(tree, cur, static_cast<uint32_t>(sym));
        if (wlen > kMaxOrder) {
            std::memmove(window, window + 1, kMaxOrder);
            hlen = kMaxOrder;
        } else {
            hlen = wlen;
        }
        if (progress && (pos & (kProgressStep - 1)) == kProgressStep - 1) (*progress)(pos + 1);
    }
    return out;
}

}  // namespace quellpack::ppm
