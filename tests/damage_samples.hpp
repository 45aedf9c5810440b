// Small inputs and their compressed files, for the tests that damage them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quellpack/quellpack.hpp"
#include "test_support.hpp"

namespace qptest {

// Deterministic English-like text with capitals, punctuation and newlines.
inline std::vector<uint8_t> sampleText(size_t n) {
    static const char* const words[] = {"the", "Quick", "brown", "fox", "Jumps", "over", "a", "lazy",
                                        "Dog", "and", "THE", "cat", "said", "Hello", "world", "again"};
    std::vector<uint8_t> out;
    uint32_t x = 12345;
    while (out.size() < n) {
        x = x * 1103515245u + 12345u;
        const std::string w = words[(x >> 16) & 15];
        out.insert(out.end(), w.begin(), w.end());
        out.push_back((x >> 8) % 11 == 0 ? '\n' : ((x >> 8) % 7 == 0 ? ',' : ' '));
    }
    out.resize(n);
    return out;
}

// Deterministic binary data: records of small integers and noise, with zeros.
inline std::vector<uint8_t> sampleBinary(size_t n) {
    std::vector<uint8_t> out(n);
    uint32_t x = 987654321;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = i % 8 < 4 ? static_cast<uint8_t>(i / 8) : static_cast<uint8_t>((x >> 24) & ((i % 3) ? 0x0F : 0xFF));
    }
    return out;
}

// The failure decompress reports for `file`, or nothing when it succeeds.
inline std::optional<quellpack::ErrorKind> decompressFailure(std::span<const uint8_t> file,
                                                             std::vector<uint8_t>* restored = nullptr) {
    try {
        std::vector<uint8_t> out = quellpack::decompress(file);
        if (restored) *restored = std::move(out);
        return std::nullopt;
    } catch (const quellpack::Error& e) {
        return e.kind();
    }
}

}  // namespace qptest
