// quellpack: lossless compression with an order-4 context model.
//
// A compressed file is a 4-byte little-endian byte count followed by the
// range coder's output; see docs/FORMAT.md. Every call works on whole
// byte strings in memory, keeps no state between calls (calls on different
// threads do not interfere) and never prints: failures are thrown as
// quellpack::Error, whose kind() says which failure it is.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "quellpack/error.hpp"
#include "quellpack/export.h"
#include "quellpack/version.hpp"

namespace quellpack {

// Optional settings of one call; the defaults do no extra work.
struct Options {
    // Called on the calling thread from time to time while coding, with the
    // bytes coded so far and the number to code (model bytes, so text counts
    // its capital marks). done never decreases and never exceeds total; a
    // call that succeeds ends with done == total. An exception thrown here
    // ends the compress or decompress call and reaches its caller.
    std::function<void(uint64_t done, uint64_t total)> progress;
    // compress only: decode the result in memory and compare it with the
    // input before returning; a difference throws Error(VerifyFailed).
    // Costs about one decompression and a second copy of the input.
    bool verify = false;
};

// Compresses `input` into a complete compressed file, which decompress
// turns back into exactly these bytes. `input` is not changed.
// Throws Error(TooLarge) when the input, after the capital-letter transform,
// has 2^31 bytes or more, Error(OutOfMemory) when memory runs out, and
// Error(VerifyFailed) as Options::verify says.
QUELLPACK_API std::vector<uint8_t> compress(std::span<const uint8_t> input, const Options& options = {});

// As above, but takes over the input's memory for the transformed text,
// which saves a copy; `input` is left empty.
QUELLPACK_API std::vector<uint8_t> compress(std::vector<uint8_t>&& input, const Options& options = {});

// Restores the bytes a compressed file holds; bytes after the coded data
// are ignored, `file` is not changed. Throws Error(Damaged) for anything
// that cannot be a complete compressed file, Error(OutOfMemory) when memory
// runs out. The format has no checksum: a changed byte that still decodes
// yields other bytes. options.verify is ignored.
QUELLPACK_API std::vector<uint8_t> decompress(std::span<const uint8_t> file, const Options& options = {});

// The most bytes decompress can restore from `file`, read from its header:
// the model's byte count, which capital marks only lengthen. Throws
// Error(Damaged) when `file` is too short to be a compressed file or its
// count is out of range; a file that passes may still be refused by
// decompress.
QUELLPACK_API uint64_t restoredSizeBound(std::span<const uint8_t> file);

// Supplies input: fills buf with up to `capacity` bytes and returns how
// many, 0 at the end. It may throw to end the call; by convention a read
// failure throws Error(ReadFailed).
using Reader = std::function<size_t(uint8_t* buf, size_t capacity)>;

// Takes the next bytes of output. It may throw to end the call; by
// convention a write failure throws Error(WriteFailed).
using Writer = std::function<void(const uint8_t* data, size_t n)>;

// An input of known size that can be read from its start more than once.
struct Source {
    uint64_t size = 0;
    // Returns a reader positioned at the first byte.
    std::function<Reader()> open;
};

// Compresses `source` into a compressed file handed to `write` piece by
// piece, so memory stays small whatever the input's size. The source is
// read twice (whether it is text is known only at its end, and the header
// comes first), three times with verify, which also holds the compressed
// file in memory until it has been checked. Throws as compress above, and
// Error(ReadFailed) when the source does not read as `size` bytes both times.
QUELLPACK_API void compress(const Source& source, const Writer& write, const Options& options = {});

// Restores the compressed file that `read` supplies, handing the bytes to
// `write` as they are decoded; reads no further than the coded data ends.
// Throws as decompress above; after Error(Damaged) part of the output may
// already have been written.
QUELLPACK_API void decompress(const Reader& read, const Writer& write, const Options& options = {});

}  // namespace quellpack
