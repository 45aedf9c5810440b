// Decompresses arbitrary bytes: the result is restored bytes or
// Error(Damaged), never a crash, a hang, a read outside the input or an
// allocation the input does not justify.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "quellpack/quellpack.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        (void)quellpack::decompress(std::span<const uint8_t>(data, size));
    } catch (const quellpack::Error& e) {
        // Running out of memory on a small input means a count was trusted.
        if (e.kind() != quellpack::ErrorKind::Damaged) std::abort();
    }
    return 0;
}
