// quellpack: lossless compression with an order-4 context model.
//
// A compressed file is a 4-byte little-endian byte count followed by the
// range coder's output and, when written with Options::check, a 25-byte
// integrity trailer (the restored length and a hash of the restored
// bytes); see docs/FORMAT.md. The calls take and return whole byte strings
// in memory or, in their streaming forms (Source, Reader, Writer), pass the
// bytes piece by piece. No call keeps state between calls (calls on
// different threads do not interfere) or prints: failures are thrown as
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
    // Costs about one decompression and a second reading of the input; the
    // streaming compress also holds the compressed file in memory until it
    // has been checked.
    bool verify = false;
    // The most memory the model may hold, in bytes; a model that would grow
    // past it throws Error(OutOfMemory). 0: no limit but the machine's.
    uint64_t memoryLimit = 0;
    // compress only: end the file with the integrity trailer, which
    // decompress then checks. Every decoder of the format reads such a
    // file; without it the file is byte for byte as before.
    bool check = false;
};

// Compresses `input` into a complete compressed file, which decompress
// turns back into exactly these bytes. `input` is not changed.
// Throws Error(TooLarge) when the input, after the capital-letter transform,
// has 2^31 bytes or more, Error(OutOfMemory) when memory runs out, and
// Error(VerifyFailed) as Options::verify says.
QUELLPACK_API std::vector<uint8_t> compress(std::span<const uint8_t> input, const Options& options = {});

// As above, and takes over the input's memory, which is freed before the
// call returns; `input` is left empty. It costs no less than the form above,
// which copies no input either (the transform runs as the model reads).
QUELLPACK_API std::vector<uint8_t> compress(std::vector<uint8_t>&& input, const Options& options = {});

// Restores the bytes a compressed file holds; `file` is not changed. When
// the file ends with an integrity trailer, the coded data must end where
// the trailer begins and the restored bytes must have the length and hash
// it records. Other bytes after the coded data are ignored. Throws
// Error(Damaged) for anything that cannot be a complete compressed file or
// does not match its trailer, Error(OutOfMemory) when memory runs out.
// Without a trailer nothing is checked: a changed byte that still decodes
// yields other bytes. options.verify and options.check are ignored.
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
// `write` as they are decoded. `read` is asked for chunks until it returns
// 0: the coded data, then everything after it, of which only the last 25
// bytes are kept, to see whether the input ends with a trailer. So the call
// returns only at the end of the input, and the whole output has been
// written before the trailer is checked. Throws as decompress above; a call
// that fails may stop reading earlier, and after Error(Damaged) part or all
// of the output may already have been written.
QUELLPACK_API void decompress(const Reader& read, const Writer& write, const Options& options = {});

}  // namespace quellpack
