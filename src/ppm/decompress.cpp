#include <algorithm>
#include <vector>

#include "ppm/model.hpp"
#include "ppm/ppm.hpp"
#include "ppm/walk.hpp"

namespace quellpack::ppm {

namespace {
constexpr size_t kChunk = size_t{1} << 14;

// Decodes the next byte: deepest context first, one shorter after each
// escape.
inline uint32_t decodeByte(Coding& k, Tree& tree, Walk& w) {
    const uint32_t sym = walkByte(tree, w, [&](const stats::SymbolView& v, int32_t& position) {
        return decodeSymbol(k, w, v, position);
    });
    if (k.coder.overrun) damaged();
    return sym;
}
}  // namespace

size_t decompress(const Reader& read, size_t n, const Writer& write, const ProgressFn* progress,
                uint64_t memoryLimit) {
    if (n == 0) return 0;
    std::vector<uint8_t> coded(kChunk);
    stats::MemoryBudget budget{memoryLimit};
    Tree tree;
    initTree(tree, &budget, n);
    Walk w;
    Coding k;
    k.coder = rc::newDecoder(nullptr, 0, [&read, &coded](const uint8_t*& data) {
        data = coded.data();
        return read(coded.data(), coded.size());
    });
    see::mk_etab(k.etab);
    std::vector<uint8_t> out;
    out.reserve(std::min(n, kChunk));

    for (size_t pos = 0; pos < n; ++pos) {
        out.push_back(static_cast<uint8_t>(decodeByte(k, tree, w)));
        if (out.size() == kChunk) {
            write(out.data(), out.size());
            out.clear();
            noteProgress(tree, pos + 1);
        }
        if (progress && (pos & (kProgressStep - 1)) == kProgressStep - 1) (*progress)(pos + 1);
    }
    write(out.data(), out.size());
    return rc::consumed(k.coder);
}

}  // namespace quellpack::ppm
