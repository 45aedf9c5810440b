// The context model's two loops: bytes to coded bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quellpack::ppm {

// Called now and then with the number of bytes coded so far.
using ProgressFn = std::function<void(size_t done)>;

// Fills buf with up to `capacity` bytes and returns how many; 0 means no
// more. May throw to abandon the run.
using ChunkReader = std::function<size_t(uint8_t* buf, size_t capacity)>;

// Takes the next `n` output bytes. May throw to abandon the run.
using ChunkWriter = std::function<void(const uint8_t* data, size_t n)>;

// Serves the `length` bytes at `data` (which must outlive it) in chunks.
ChunkReader bufferReader(const uint8_t* data, size_t length);

// Codes the n bytes that `read` supplies, handing the range coder's output
// (whose first byte is 0) to `write` as it is produced. Throws
// Error(ReadFailed) when `read` ends before n bytes.
void compress(size_t n, const ChunkReader& read, const ChunkWriter& write, const ProgressFn* progress = nullptr);

// Restores n bytes from the coded bytes that `read` supplies, handing them
// to `write` as they are decoded. Throws Error(Damaged) when the coded bytes
// cannot be what compress wrote for n bytes. Returns the number of coded
// bytes the decoder used (0 for n = 0), which for what compress wrote is
// all of them; `read` is asked for chunks, so it may have supplied more.
size_t decompress(const ChunkReader& read, size_t n, const ChunkWriter& write, const ProgressFn* progress = nullptr);

// The same over whole buffers.
std::vector<uint8_t> compress(const uint8_t* data, size_t n, const ProgressFn* progress = nullptr);
std::vector<uint8_t> decompress(const uint8_t* coded, size_t length, size_t n, const ProgressFn* progress = nullptr);

}  // namespace quellpack::ppm
