// Compresses arbitrary bytes and restores them: the result must be exactly
// the input, and compressing the same bytes twice must give the same file.
// With the integrity trailer the file is the same one with the trailer
// after it, and restores (and passes its check) to the same bytes.
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
    quellpack::Options options;
    options.check = true;
    const std::vector<uint8_t> checked = quellpack::compress(input, options);
    if (checked.size() <= file.size() || !std::equal(file.begin(), file.end(), checked.begin())) std::abort();
    if (quellpack::decompress(checked) != back) std::abort();
    return 0;
}
