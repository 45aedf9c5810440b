// Memory for the model: chunked storage addressed by 32-bit indices.
//
// Chunks never move once allocated, so pointers into them stay valid while
// the model grows, and everything is released in one go with the pool.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "stats/region.hpp"

namespace quellpack::stats {

// Unaligned little helpers over raw bytes; they compile to plain moves.
inline uint32_t load32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t load16(const unsigned char* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void store16(unsigned char* p, uint32_t v) {
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}

// The memory a model may take. Every chunk is charged here before it is
// allocated; one that would take `used` past `limit` throws std::bad_alloc
// instead, so a model too big for the machine fails cleanly. limit 0: none.
struct MemoryBudget {
    uint64_t limit = 0;
    uint64_t used = 0;
};

// Charges `bytes` to the budget, if there is one; throws past its limit.
inline void charge(MemoryBudget* budget, size_t bytes) {
    if (!budget) return;
    if (budget->limit != 0 && bytes > budget->limit - std::min(budget->used, budget->limit)) throw std::bad_alloc();
    budget->used += bytes;
}

// An array of T that grows by whole chunks of 2^kBits elements.
template <class T, int kBits = 16>
struct ChunkedArray {
    static constexpr uint32_t kChunk = 1u << kBits;
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
    std::vector<T*> chunks;  // owned by the region
    std::shared_ptr<Region> region = newRegion();
    Lane lane = Lane::Nodes;
    // The first chunk, while every chunk lies right after the one before:
    // element i is then flat[i].
    T* flat = nullptr;
    uint32_t size = 0;
    MemoryBudget* budget = nullptr;

    ChunkedArray() = default;
    ChunkedArray(const ChunkedArray&) = delete;  // the chunks belong to one owner
    ChunkedArray& operator=(const ChunkedArray&) = delete;

    const T& operator[](uint32_t i) const {
        if (flat != nullptr) [[likely]] return flat[i];
        return chunks[i >> kBits][i & (kChunk - 1)];
    }
    T& operator[](uint32_t i) { return const_cast<T&>(std::as_const(*this)[i]); }

    // Appends an uninitialised element and returns its index.
    uint32_t push() {
        if ((size & (kChunk - 1)) == 0) {
            if (size == UINT32_MAX - kChunk + 1) throw std::bad_alloc();
            charge(budget, sizeof(T) * kChunk);
            T* chunk = reinterpret_cast<T*>(takeChunk(*region, sizeof(T) * kChunk, lane));
            if (chunks.empty()) {
                flat = chunk;
            } else if (flat != nullptr && chunk != flat + size) {
                flat = nullptr;
            }
            chunks.push_back(chunk);
        }
        return size++;
    }
    size_t bytes() const { return chunks.size() * sizeof(T) * kChunk; }
};

// Variable-sized blocks of 4-byte units, recycled through one free list per
// block size. Indices start at kFirstIndex (2^24), so none fits in 24 bits:
// a statistics record tells a list's index from an StDet's byte and count
// by that alone, and 0 means "none". The chunks below it are never made.
struct Pool {
    static constexpr int kBits = 16;                 // units per chunk: 64 Ki
    static constexpr uint32_t kChunk = 1u << kBits;
    static constexpr uint32_t kMaxBlock = 260;       // units
    static constexpr uint32_t kFirstChunk = 1u << (24 - kBits);
    static constexpr uint32_t kFirstIndex = kFirstChunk << kBits;
    // As many chunks as a 32-bit index reaches: 2^32 - 2^24 units, nearly
    // 16 GiB.
    static constexpr uint32_t kMaxChunks = 1u << (32 - kBits);
    static constexpr uint64_t kMaxUnits = uint64_t{kMaxChunks} << kBits;
    // Vector scans may read a little past a block; every chunk has at
    // least this many readable bytes after it, so that the last block's
    // reads stay in memory of the model's (tied to the scans' read-ahead
    // in scan.hpp). Only committed pages count as memory, so units are left
    // unwritten until handed out.
    static constexpr size_t kSlack = 64;

    std::vector<unsigned char*> chunks =
        std::vector<unsigned char*>(kFirstChunk);  // owned by the region; the first kFirstChunk stay empty
    std::shared_ptr<Region> region = newRegion();
    // The first chunk made, while every chunk lies right after the one
    // before: unit i is then at flat + 4 * (i - kFirstIndex).
    unsigned char* flat = nullptr;
    uint64_t next = kFirstIndex;         // first unused unit
    uint32_t freeHead[kMaxBlock + 1] = {};
    MemoryBudget* budget = nullptr;

    Pool() = default;
    Pool(const Pool&) = delete;  // the chunks belong to one owner
    Pool& operator=(const Pool&) = delete;

    const unsigned char* at(uint32_t i) const {
        if (flat != nullptr) [[likely]] return flat + 4 * (size_t{i} - kFirstIndex);
        return chunks[i >> kBits] + 4 * (i & (kChunk - 1));
    }
    unsigned char* at(uint32_t i) { return const_cast<unsigned char*>(std::as_const(*this).at(i)); }

    // Returns a block of `units` units (1..kMaxBlock), uninitialised.
    uint32_t alloc(uint32_t units) {
        if (const uint32_t head = freeHead[units]) {
            freeHead[units] = load32(at(head));
            return head;
        }
        if ((next >> kBits) >= chunks.size() || (next & (kChunk - 1)) + units > kChunk) {
            if (chunks.size() >= kMaxChunks) throw std::bad_alloc();
            charge(budget, 4 * kChunk + kSlack);
            next = uint64_t{chunks.size()} << kBits;
            unsigned char* chunk = takeChunk(*region, 4 * kChunk, Lane::Pool, kSlack);
            if (chunks.size() == kFirstChunk) {
                flat = chunk;
            } else if (flat != nullptr && chunk != flat + 4 * (next - kFirstIndex)) {
                flat = nullptr;
            }
            chunks.push_back(chunk);
        }
        const auto i = static_cast<uint32_t>(next);
        next += units;
        return i;
    }

    // Gives a block back for reuse by a later alloc of the same size.
    void release(uint32_t i, uint32_t units) {
        store32(at(i), freeHead[units]);
        freeHead[units] = i;
    }
    size_t bytes() const { return (chunks.size() - kFirstChunk) * 4 * size_t{kChunk}; }
};

// The block a list or table of `units` units takes: its own size below 32
// units, above that rounded up to one of four sizes per doubling (32, 40,
// 48, 56, 64, 80, ...). One that keeps growing then moves a few times per
// doubling instead of at every entry, and the blocks it leaves behind come
// in few sizes that others growing after it take again. Two sizes per
// doubling leave fewer still, but the room unused in the blocks in use
// costs more than that on large binaries.
constexpr uint32_t blockUnits(uint32_t units) {
    if (units < 32) return units;
    const uint32_t step = 1u << (std::bit_width(units) - 3);
    return std::min((units + step - 1) & ~(step - 1), Pool::kMaxBlock);
}

}  // namespace quellpack::stats
