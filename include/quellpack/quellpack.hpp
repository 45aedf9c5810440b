// quellpack: lossless compression with an order-4 context model.
//
// A compressed file is a 4-byte little-endian byte count followed by the
// range coder's output; see docs/FORMAT.md. The library never prints.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "quellpack/error.hpp"
#include "quellpack/version.hpp"

namespace quellpack {

// Optional settings of one call.
struct Options {
    // Called from time to time while coding with the bytes coded so far and
    // the number to code (model bytes, so text counts its capital marks).
    std::function<void(uint64_t done, uint64_t total)> progress;
    // compress only: decode the result and compare it with the input before
    // returning; a difference throws Error(ErrorKind::VerifyFailed).
    bool verify = false;
};

// Compresses `input` into a complete compressed file.
// Throws Error(TooLarge) when the input, after the capital-letter transform,
// has 2^31 bytes or more, and Error(OutOfMemory) when memory runs out.
std::vector<uint8_t> compress(std::span<const uint8_t> input, const Options& options = {});

// As above, reusing the input's memory for the transformed text.
std::vector<uint8_t> compress(std::vector<uint8_t>&& input, const Options& options = {});

// Restores the bytes a compressed file holds; bytes after the coded data
// are ignored. Throws Error(Damaged) for anything that is not a complete
// compressed file, Error(OutOfMemory) when memory runs out.
std::vector<uint8_t> decompress(std::span<const uint8_t> file, const Options& options = {});

}  // namespace quellpack
