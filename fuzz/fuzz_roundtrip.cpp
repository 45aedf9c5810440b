// Compresses arbitrary bytes and restores them: the result must be exactly
// the input, and compressing the same bytes twice must give the same file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "quellpack/quellpack.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    const std::vector<uint8_t> file = quellpack::compress(input);
    if (quellpack::compress(input) != file) std::abort();
    const std::vector<uint8_t> back = quellpack::decompress(file);
    if (back.size() != size || !std::equal(back.begin(), back.end(), input.begin())) std::abort();
    return 0;
}
