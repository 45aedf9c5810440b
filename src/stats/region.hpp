// Where the model's chunks come from: one reservation of address space.
//
// A model grows by chunks that live until the model ends. Carving them out
// of one reserved, 2 MiB aligned range lets the kernel back the large part
// of a model with huge pages, so the walk's scattered loads miss the TLB
// far less often. The range is split in lanes, one for the tree's nodes,
// one for the statistics pool and one for the fixed tables: a container
// alone in its lane gets its chunks one right after the other, and can
// then find an element from its index with one addition instead of a
// lookup of its chunk. Only the pages a chunk touches count as memory;
// the rest of the reservation is address space; under a limit on address
// space it takes half the limit. When it cannot be had (a limit below
// 512 MiB, strict overcommit, valgrind, a 32-bit build, a sanitizer build)
// or a lane is used up, chunks come from the ordinary allocator instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quellpack::stats {

// The parts of a reservation, each handed out from its start in order.
enum class Lane : uint8_t { Tables = 0, Nodes = 1, Pool = 2 };
constexpr int kLanes = 3;

struct LaneSpace {
    unsigned char* base = nullptr;  // 2 MiB aligned start
    size_t size = 0;                // usable bytes from base
    size_t used = 0;                // bytes handed out from base
    size_t committed = 0;           // bytes made usable from base
    size_t settled = 0;             // bytes from base whose kind of page is settled
    size_t promoted = 0;            // bytes of those moved onto huge pages
};

struct Region {
    unsigned char* base = nullptr;  // 2 MiB aligned start of the reservation
    size_t size = 0;                // usable bytes from base, all lanes
    LaneSpace lanes[kLanes];
    void* mapping = nullptr;        // what to give back at the end
    size_t mappingSize = 0;
    bool tried = false;             // the reservation was attempted
    // The first part of the nodes' and the pool's lanes starts on small
    // pages: a huge page commits 2 MiB at its first touch, which a model
    // that ends inside it pays in memory (on a model of 15 MB, 2 MiB more,
    // for 14 % less time). Each 2 MiB of it that the model's growth so far
    // says it will fill moves onto a huge page (settlePages). The tables'
    // lane stays on small pages but where a large table asks for huge ones
    // (takeZeroedChunk).
    size_t smallPagesPart = size_t{8} << 20;
    // How far the model is through its input, of how much: what the lanes
    // will grow to is judged from these.
    uint64_t inputSeen = 0;
    uint64_t inputTotal = 0;
    std::vector<std::unique_ptr<unsigned char[]>> plain;  // chunks from the allocator

    Region() = default;
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;
    ~Region();
};

// A chunk of `bytes` bytes from `lane`, 16-byte aligned or better,
// uninitialised, owned by the region until it ends, with at least
// `readableAfter` more bytes after it that may be read (not written): the
// next chunk's, or bytes of its own. In its lane it lies right after the
// lane's chunk before it when both come from the reservation and that one
// is a multiple of 64 bytes long. Throws std::bad_alloc when there is no
// memory.
unsigned char* takeChunk(Region& region, size_t bytes, Lane lane = Lane::Tables, size_t readableAfter = 0);

// A chunk of the tables' lane, all zero. Pages of the reservation are not
// touched: a large table that is filled sparsely costs only the pages
// written.
unsigned char* takeZeroedChunk(Region& region, size_t bytes);

// For a model expected to grow past the small-pages part: its nodes and
// pool go on huge pages from their first byte, where the time they save
// outweighs the memory. Only before the first chunk of either; later it
// changes nothing.
void preferHugePages(Region& region);

// Reserves `bytes` of address space for the region, split in its lanes,
// unless it has tried already (its first chunk does this with the size it
// may have): for tests of what happens when a lane is used up.
void reserveRegion(Region& region, size_t bytes);

// A shared region for the containers of one model.
inline std::shared_ptr<Region> newRegion() { return std::make_shared<Region>(); }

}  // namespace quellpack::stats
