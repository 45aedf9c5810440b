#include <algorithm>
#include <vector>

#include "ppm/model.hpp"
#include "ppm/ppm.hpp"
#include "ppm/walk.hpp"

namespace quellpack::ppm {

namespace {
constexpr size_t kChunk = size_t{1} << 14;
constexpr size_t kFlushAt = size_t{1} << 14;

// Codes byte c: in the deepest of its contexts that knows it, after an
// escape from each deeper one.
inline void encodeSymbol(Coding& k, Tree& tree, Walk& w, uint32_t c) {
    walkByte(tree, w, [&](const stats::SymbolView& v, int32_t& position) {
        return estimateSymbol(k, w, v, c, position);
    }, static_cast<int32_t>(c));
}
}  // namespace

void compress(size_t n, const Reader& read, const Writer& write, const ProgressFn* progress,
              uint64_t memoryLimit) {
    stats::MemoryBudget budget{memoryLimit};
    Tree tree;
    initTree(tree, &budget, n);
    Walk w;
    Coding k;
    k.coder = rc::newEncoder(std::min(n + 20, kFlushAt + 64));
    see::mk_etab(k.etab);

    std::vector<uint8_t> chunk(std::min(n, kChunk));
    size_t chunkPos = 0, chunkLen = 0;
    for (size_t pos = 0; pos < n; ++pos) {
        if (chunkPos == chunkLen) {
            chunkLen = read(chunk.data(), std::min(chunk.size(), n - pos));
            chunkPos = 0;
            if (chunkLen == 0) throw Error(ErrorKind::ReadFailed);
            noteProgress(tree, pos);
            // Coded bytes once written never change, so they can go out now.
            if (k.coder.buffer.size() >= kFlushAt) {
                write(k.coder.buffer.data(), k.coder.buffer.size());
                k.coder.buffer.clear();
            }
        }
        encodeSymbol(k, tree, w, chunk[chunkPos++]);
        if (progress && (pos & (kProgressStep - 1)) == kProgressStep - 1) (*progress)(pos + 1);
    }
    const std::vector<uint8_t> rest = rc::finishEncoder(k.coder);
    write(rest.data(), rest.size());
}

}  // namespace quellpack::ppm
