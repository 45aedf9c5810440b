// The compressed file in both directions: the byte count, then the coded
// bytes with the text flag in the first of them, then optionally the
// integrity trailer. The public calls are thin wrappers over these.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "driver/format/hooks.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack::format {

// Writes the compressed file of `source` to `write`, as compress(Source)
// promises; allocation failures come out as std::bad_alloc.
void compressFile(const Source& source, const Writer& write, const Options& options, const Hooks& hooks);

// Restores the compressed file that `read` supplies to `write`, as
// decompress(Reader) promises; allocation failures come out as std::bad_alloc.
void decompressFile(const Reader& read, const Writer& write, const Options& options);

// The public compress calls with hooks; the public calls pass the defaults.
void compressWith(const Source& source, const Writer& write, const Options& options, const Hooks& hooks);
std::vector<uint8_t> compressWith(std::span<const uint8_t> input, const Options& options, const Hooks& hooks);

}  // namespace quellpack::format
