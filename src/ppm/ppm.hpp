// The context model's two loops: bytes to coded bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quellpack::ppm {

// Called now and then with the number of bytes coded so far.
using ProgressFn = std::function<void(size_t done)>;

// Codes n bytes; returns the range coder's output (its first byte is 0).
std::vector<uint8_t> compress(const uint8_t* data, size_t n, const ProgressFn* progress = nullptr);

// Restores n bytes from coded bytes. Throws Error(Damaged) when the coded
// bytes cannot be what compress wrote for n bytes. Output memory grows with
// what is decoded, so a false n costs no more than the bytes it yields.
std::vector<uint8_t> decompress(const uint8_t* coded, size_t length, size_t n,
                                const ProgressFn* progress = nullptr);

}  // namespace quellpack::ppm
