#include <algorithm>
#include <cstring>

#include "ppm/cursor.hpp"
#include "ppm/model.hpp"
#include "ppm/ppm.hpp"
#include "ppm/tree.hpp"

namespace quellpack::ppm {

namespace {
constexpr size_t kProgressStep = size_t{1} << 20;
constexpr size_t kChunk = size_t{1} << 14;
}

size_t decompress(const ChunkReader& read, size_t n, const ChunkWriter& write, const ProgressFn* progress) {
    if (n == 0) return 0;
    std::vector<uint8_t> coded(kChunk);
    Tree tree;
    initTree(tree);
    Coding k;
    k.coder = rc::newDecoder(nullptr, 0, [&read, &coded](const uint8_t*& data) {
        data = coded.data();
        return read(coded.data(), coded.size());
    });
    see::mk_etab(k.etab);
    std::vector<uint8_t> out;
    out.reserve(std::min(n, kChunk));

    uint8_t window[kMaxOrder + 1];
    int hlen = 0;
    ContextCursor cur;
    for (size_t pos = 0; pos < n; ++pos) {
        findContexts(tree, cur, window, hlen);
        k.mask.reset();
        int foundDepth = cur.depth;
        int32_t sym, foundPosition;
        for (;; --foundDepth) {
            stats::DetScratch scratch;
            const stats::SymbolView v = stats::view(tree.nodes[cur.index[foundDepth]].stats, tree.stats, scratch);
            sym = decodeInContext(k, v, foundPosition);
            if (sym >= 0) break;
            if (foundDepth == 0) damaged();  // nothing can escape the root
            walkAll(tree, cur, window, hlen);
        }
        if (k.coder.overrun) damaged();
        out.push_back(static_cast<uint8_t>(sym));
        if (out.size() == kChunk) {
            write(out.data(), out.size());
            out.clear();
        }
        k.prevHit = foundDepth == cur.depth ? 1 : 0;
        window[hlen] = static_cast<uint8_t>(sym);
        const int wlen = hlen + 1;
        updateTree(tree, cur.index, cur.depth, foundDepth, window, wlen, foundPosition);
        rememberFollower(tree, cur, static_cast<uint32_t>(sym));
        hlen = advanceHistory(window, wlen);
        if (progress && (pos & (kProgressStep - 1)) == kProgressStep - 1) (*progress)(pos + 1);
    }
    write(out.data(), out.size());
    return rc::consumed(k.coder);
}

}  // namespace quellpack::ppm
