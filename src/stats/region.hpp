// Where the model's chunks come from: one reservation of address space.
//
// A model grows by chunks that live until the model ends. Carving them out
// of one reserved, 2 MiB aligned range lets the kernel back the large part
// of a model with huge pages, so the walk's scattered loads miss the TLB
// far less often. Only the pages a chunk touches count as memory; the rest
// of the reservation is address space; under a limit on address space it
// takes half the limit. When it cannot be had (a limit below 512 MiB,
// strict overcommit, valgrind, a 32-bit build, a sanitizer build) or is
// used up, chunks come from the ordinary allocator instead.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace quellpack::stats {

struct Region {
    unsigned char* base = nullptr;  // 2 MiB aligned start of the reservation
    size_t size = 0;                // usable bytes from base
    size_t used = 0;                // bytes handed out from base
    size_t committed = 0;           // bytes made usable from base
    void* mapping = nullptr;        // what to give back at the end
    size_t mappingSize = 0;
    bool tried = false;             // the reservation was attempted
    std::vector<std::unique_ptr<unsigned char[]>> plain;  // chunks from the allocator

    Region() = default;
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;
    ~Region();
};

// A chunk of `bytes` bytes, 16-byte aligned or better, uninitialised, owned by the
// region until it ends. Throws std::bad_alloc when there is no memory.
unsigned char* takeChunk(Region& region, size_t bytes);

// The same, all zero. Pages of the reservation are not touched: a large
// table that is filled sparsely costs only the pages written.
unsigned char* takeZeroedChunk(Region& region, size_t bytes);

// A shared region for the containers of one model.
inline std::shared_ptr<Region> newRegion() { return std::make_shared<Region>(); }

}  // namespace quellpack::stats
