#include <algorithm>
#include <cstring>

#include "ppm/cursor.hpp"
#include "ppm/model.hpp"
#include "ppm/ppm.hpp"
#include "ppm/tree.hpp"

namespace quellpack::ppm {

namespace {
constexpr size_t kProgressStep = size_t{1} << 14;
constexpr size_t kChunk = size_t{1} << 14;
constexpr size_t kFlushAt = size_t{1} << 14;
}

void compress(size_t n, const ChunkReader& read, const ChunkWriter& write, const ProgressFn* progress, uint64_t memoryLimit) {
    stats::MemoryBudget budget{memoryLimit};
    Tree tree;
    initTree(tree, &budget);
    Coding k;
    k.coder = rc::newEncoder(std::min(n + 20, kFlushAt + 64));
    see::mk_etab(k.etab);

    uint8_t window[kMaxOrder + 1];
    int hlen = 0;
    ContextCursor cur;
    std::vector<uint8_t> chunk(std::min(n, kChunk));
    size_t chunkPos = 0, chunkLen = 0;
    for (size_t pos = 0; pos < n; ++pos) {
        if (chunkPos == chunkLen) {
            chunkLen = read(chunk.data(), std::min(chunk.size(), n - pos));
            chunkPos = 0;
            if (chunkLen == 0) throw Error(ErrorKind::ReadFailed);
            // Coded bytes once written never change, so they can go out now.
            if (k.coder.buffer.size() >= kFlushAt) {
                write(k.coder.buffer.data(), k.coder.buffer.size());
                k.coder.buffer.clear();
            }
        }
        const uint32_t c = chunk[chunkPos++];
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
        hlen = advanceHistory(window, wlen);
        if (progress && (pos & (kProgressStep - 1)) == kProgressStep - 1) (*progress)(pos + 1);
    }
    const std::vector<uint8_t> rest = rc::finishEncoder(k.coder);
    write(rest.data(), rest.size());
}

}  // namespace quellpack::ppm
