// The context model's two loops: bytes to coded bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "quellpack/quellpack.hpp"

namespace quellpack::ppm {

// Called now and then with the number of bytes coded so far.
using ProgressFn = std::function<void(size_t done)>;

// Bytes between two progress calls.
constexpr size_t kProgressStep = size_t{1} << 14;

// Codes the n bytes that `read` supplies, handing the range coder's output
// (whose first byte is 0) to `write` as it is produced. Throws
// Error(ReadFailed) when `read` ends before n bytes. With a memoryLimit
// (bytes; 0 for none), a model that would grow past it throws std::bad_alloc.
void compress(size_t n, const Reader& read, const Writer& write, const ProgressFn* progress = nullptr,
              uint64_t memoryLimit = 0);

// Restores n bytes from the coded bytes that `read` supplies, handing them
// to `write` as they are decoded. Throws Error(Damaged) when the coded bytes
// cannot be what compress wrote for n bytes. Returns the number of coded
// bytes the decoder used (0 for n = 0), which for what compress wrote is
// all of them; `read` is asked for chunks, so it may have supplied more.
// memoryLimit as for compress.
size_t decompress(const Reader& read, size_t n, const Writer& write, const ProgressFn* progress = nullptr,
                  uint64_t memoryLimit = 0);

}  // namespace quellpack::ppm
