// Memory for the model: chunked arrays addressed by 32-bit indices.
//
// Chunks never move once allocated, so pointers into them stay valid while
// the model grows, and everything is released in one go with the pool.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quellpack::stats {

// An array of T that grows by whole chunks of 2^kBits elements.
template <class T, int kBits = 16>
struct ChunkedArray {
    static constexpr uint32_t kChunk = 1u << kBits;
    std::vector<std::unique_ptr<T[]>> chunks;
    uint32_t size = 0;

    T& operator[](uint32_t i) { return chunks[i >> kBits][i & (kChunk - 1)]; }
    const T& operator[](uint32_t i) const { return chunks[i >> kBits][i & (kChunk - 1)]; }

    // Appends a default element and returns its index.
    uint32_t push() {
        if ((size & (kChunk - 1)) == 0) chunks.emplace_back(new T[kChunk]);
        return size++;
    }
    size_t bytes() const { return chunks.size() * sizeof(T) * kChunk; }
};

// Blocks of 32-bit words, recycled through one free list per block size.
// Index 0 is never handed out, so callers may use it as "none".
struct WordPool {
    static constexpr int kBits = 16;
    static constexpr uint32_t kChunk = 1u << kBits;
    static constexpr uint32_t kMaxBlock = 264;

    std::vector<std::unique_ptr<uint32_t[]>> chunks;
    uint32_t next = 0;                   // first unused word of the last chunk
    uint32_t freeHead[kMaxBlock + 1] = {};

    uint32_t* at(uint32_t i) { return chunks[i >> kBits].get() + (i & (kChunk - 1)); }
    const uint32_t* at(uint32_t i) const { return chunks[i >> kBits].get() + (i & (kChunk - 1)); }

    // Returns a block of `words` words (at most kMaxBlock), uninitialised.
    uint32_t alloc(uint32_t words) {
        if (uint32_t head = freeHead[words]) {
            freeHead[words] = *at(head);
            return head;
        }
        const uint32_t offset = next & (kChunk - 1);
        if ((next >> kBits) >= chunks.size() || offset + words > kChunk) {
            next = static_cast<uint32_t>(chunks.size()) << kBits;
            chunks.emplace_back(new uint32_t[kChunk]);
            if (next == 0) next = 1;  // keep index 0 free
        }
        const uint32_t i = next;
        next += words;
        return i;
    }

    // Gives a block back for reuse by a later alloc of the same size.
    void release(uint32_t i, uint32_t words) {
        *at(i) = freeHead[words];
        freeHead[words] = i;
    }
    size_t bytes() const { return chunks.size() * sizeof(uint32_t) * kChunk; }
};

}  // namespace quellpack::stats
