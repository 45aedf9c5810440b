// The compressed file in both directions: the byte count, then the coded
// bytes with the text flag in the first of them, then optionally the
// integrity trailer. The public calls are thin wrappers over these.
#pragma once

#include "quellpack/quellpack.hpp"

namespace quellpack::format {

// Writes the compressed file of `source` to `write`, as compress(Source)
// promises; allocation failures come out as std::bad_alloc.
void compressFile(const Source& source, const Writer& write, const Options& options);

// Restores the compressed file that `read` supplies to `write`, as
// decompress(Reader) promises; allocation failures come out as std::bad_alloc.
void decompressFile(const Reader& read, const Writer& write, const Options& options);

}  // namespace quellpack::format
