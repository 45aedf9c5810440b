#include "stats/region.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <sys/resource.h>
#define QUELLPACK_REGION_MMAP 1
#endif

// A sanitizer must see each chunk as its own allocation to catch a read
// that runs past one: its builds take every chunk from the allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUELLPACK_REGION_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define QUELLPACK_REGION_OFF 1
#endif
#endif

namespace quellpack::stats {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kSmallPage = size_t{4} << 10;
// Address space reserved per model: more than the tree's indices can reach.
constexpr uint64_t kReserve = uint64_t{64} << 30;
// Under a limit on address space a model reserves half of it, if that is
// at least this much: the other half stays for chunks past the reservation
// and for the rest of the program.
constexpr uint64_t kLeastReserve = uint64_t{256} << 20;
// The tables' lane: room for the order-2 and order-3 indexes.
constexpr size_t kTablesLane = size_t{128} << 20;
constexpr size_t kChunkAlign = 64;
// Windows commits the reservation in steps of this many bytes.
constexpr size_t kCommitStep = size_t{1} << 20;

inline size_t roundUp(size_t v, size_t to) { return (v + to - 1) / to * to; }

// The platform's calls: reserve address space (null when refused), make a
// part of it usable, back a part of it with memory at once, give it all
// back.
#if defined(QUELLPACK_REGION_OFF)
void* reserveSpace(size_t) { return nullptr; }
bool commitSpace(unsigned char*, size_t) { return true; }
void releaseSpace(void*, size_t) {}
void populateSpace(unsigned char*, size_t) {}
#elif defined(_WIN32)
void* reserveSpace(size_t length) { return VirtualAlloc(nullptr, length, MEM_RESERVE, PAGE_NOACCESS); }
bool commitSpace(unsigned char* p, size_t length) {
    return VirtualAlloc(p, length, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}
void releaseSpace(void* p, size_t) { VirtualFree(p, 0, MEM_RELEASE); }
void populateSpace(unsigned char*, size_t) {}
#elif defined(QUELLPACK_REGION_MMAP)
void* reserveSpace(size_t length) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_NORESERVE
    flags |= MAP_NORESERVE;  // pages count as memory only once touched
#endif
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}
bool commitSpace(unsigned char*, size_t) { return true; }  // the kernel commits on first touch
void releaseSpace(void* p, size_t length) { munmap(p, length); }
// Asks for the pages of [p, p + length) to be backed now, in one call,
// instead of one fault per small page as they are first written: in a
// virtual machine each fault costs microseconds. Kernels before 5.14 do
// not know the advice and ignore it; a refusal only leaves the faults.
void populateSpace(unsigned char* p, size_t length) {
#if defined(MADV_POPULATE_WRITE)
    madvise(p, length, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)length;
#endif
}
#else
void* reserveSpace(size_t) { return nullptr; }
bool commitSpace(unsigned char*, size_t) { return true; }
void releaseSpace(void*, size_t) {}
void populateSpace(unsigned char*, size_t) {}
#endif

// The limit on this process's address space (ulimit -v); UINT64_MAX for none.
uint64_t addressSpaceLimit() {
#if defined(QUELLPACK_REGION_MMAP)
    struct rlimit lim;
    if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) return static_cast<uint64_t>(lim.rlim_cur);
#endif
    return UINT64_MAX;
}

// Tells the kernel which pages of a lane to back with huge pages: none of
// the tables' lane, and the nodes' and the pool's past their first
// r.smallPagesPart bytes. Advice only: a kernel without huge pages ignores it.
void adviseLane(const Region& r, Lane k) {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    const LaneSpace& lane = r.lanes[static_cast<int>(k)];
    const size_t small = k == Lane::Tables ? lane.size : std::min(lane.size, r.smallPagesPart);
    if (small != 0) madvise(lane.base, small, MADV_NOHUGEPAGE);
    if (lane.size > small) madvise(lane.base + small, lane.size - small, MADV_HUGEPAGE);
#else
    (void)r;
    (void)k;
#endif
}

// Moves [p, p + kHugePage), some of it written already, onto a huge page:
// the written pages are copied onto it (Linux 6.1 and later; before that
// the advice only counts for a later merge by the kernel).
void promoteToHugePage(unsigned char* p) {
#if defined(MADV_HUGEPAGE) && defined(__linux__)
    madvise(p, kHugePage, MADV_HUGEPAGE);
#ifndef MADV_COLLAPSE
    constexpr int MADV_COLLAPSE = 25;
#endif
    madvise(p, kHugePage, MADV_COLLAPSE);
#else
    (void)p;
#endif
}

// Settles, for each 2 MiB of a lane's small-pages part that the lane has
// half filled (`end` bytes used), whether it moves onto a huge page: it
// does when the lane, growing on over the rest of the input at its pace so
// far, would fill it twice over. Models mostly grow ever slower as they
// learn, so the pace so far overstates what is to come; the margin covers
// that. A part the lane has already passed stays as it is: moving it would
// copy all of it.
void settlePages(Region& r, LaneSpace& l, size_t end) {
    while (l.settled < r.smallPagesPart && end >= l.settled + kHugePage / 2) {
        unsigned char* segment = l.base + l.settled;
        l.settled += kHugePage;
        if (r.inputSeen == 0 || r.inputSeen >= r.inputTotal || end >= l.settled) continue;
        const double growth = static_cast<double>(end) / static_cast<double>(r.inputSeen) *
                              static_cast<double>(r.inputTotal - r.inputSeen);
        if (growth < 2.0 * static_cast<double>(l.settled - end)) continue;
        promoteToHugePage(segment);
        l.promoted += kHugePage;
    }
}

// Splits the reservation: a quarter for the tables, at most what the
// indexes need, and the rest in halves for the nodes and the pool (which a
// model fills about alike), each lane a whole number of huge pages.
void splitLanes(Region& r) {
    const size_t tables = std::min(r.size / 4, kTablesLane) / kHugePage * kHugePage;
    const size_t nodes = (r.size - tables) / 2 / kHugePage * kHugePage;
    const size_t sizes[kLanes] = {tables, nodes, r.size - tables - nodes};
    unsigned char* at = r.base;
    for (int k = 0; k < kLanes; ++k) {
        r.lanes[k] = LaneSpace{sizes[k] != 0 ? at : nullptr, sizes[k], 0, 0, 0, 0};
        at += sizes[k];
        adviseLane(r, static_cast<Lane>(k));
    }
}

// Reserves `reserve` bytes (a multiple of kHugePage), or leaves the region
// without a reservation.
void reserveBytes(Region& r, uint64_t reserve) {
    r.tried = true;
    if (reserve == 0) return;
    const size_t length = static_cast<size_t>(reserve + kHugePage);
    r.mapping = reserveSpace(length);
    if (r.mapping == nullptr) return;
    r.mappingSize = length;
    r.base = reinterpret_cast<unsigned char*>(roundUp(reinterpret_cast<uintptr_t>(r.mapping), kHugePage));
    r.size = static_cast<size_t>(reserve);
    splitLanes(r);
}

// Reserves the range the process may have, or leaves the region without one.
void reserve(Region& r) {
    r.tried = true;
    if constexpr (sizeof(void*) < 8) return;
    const uint64_t limit = addressSpaceLimit();
    const uint64_t reserve = limit == UINT64_MAX ? kReserve : std::min(kReserve, limit / 2 / kHugePage * kHugePage);
    if (reserve < kLeastReserve) return;
    reserveBytes(r, reserve);
}

// Makes [0, end) of the lane usable; false when the system refuses.
bool commitTo(LaneSpace& lane, size_t end) {
    if (end <= lane.committed) return true;
    const size_t to = std::min(roundUp(end, kCommitStep), lane.size);
    if (!commitSpace(lane.base + lane.committed, to - lane.committed)) return false;
    lane.committed = to;
    return true;
}

}  // namespace

namespace {

// A chunk from the lane's part of the reservation, or null when there is
// none or it is used up. Its pages were never handed out before, so they
// read as zero.
unsigned char* takeReserved(Region& r, Lane lane, size_t bytes, size_t readableAfter) {
    if (!r.tried) reserve(r);
    LaneSpace& l = r.lanes[static_cast<int>(lane)];
    const size_t start = roundUp(l.used, kChunkAlign);
    if (l.base == nullptr || start > l.size || bytes + readableAfter > l.size - start ||
        !commitTo(l, start + bytes + readableAfter))
        return nullptr;
    l.used = start + bytes;
    if (lane == Lane::Tables) return l.base + start;
    settlePages(r, l, l.used);
    // The nodes and the pool fill their chunks from the start to the end,
    // so a chunk on small pages is backed whole when handed out. One on
    // huge pages costs one fault per 2 MiB anyway.
    const size_t from = roundUp(start, kSmallPage);
    const size_t to = std::min(l.used, r.smallPagesPart) / kSmallPage * kSmallPage;
    if (to > from) populateSpace(l.base + from, to - from);
    return l.base + start;
}

// A chunk from the allocator, its readable tail zeroed. operator new[]
// aligns to 16 only; the scans need no more than that.
unsigned char* takePlain(Region& r, size_t bytes, size_t readableAfter) {
    r.plain.emplace_back(new unsigned char[bytes + readableAfter]);
    unsigned char* p = r.plain.back().get();
    std::memset(p + bytes, 0, readableAfter);
    return p;
}

}  // namespace

unsigned char* takeChunk(Region& r, size_t bytes, Lane lane, size_t readableAfter) {
    unsigned char* p = takeReserved(r, lane, bytes, readableAfter);
    return p != nullptr ? p : takePlain(r, bytes, readableAfter);
}

unsigned char* takeZeroedChunk(Region& r, size_t bytes) {
    // Fresh pages are zero already: writing them would make them all
    // count as memory at once.
    unsigned char* p = takeReserved(r, Lane::Tables, bytes, 0);
    if (p == nullptr) return static_cast<unsigned char*>(std::memset(takePlain(r, bytes, 0), 0, bytes));
#if defined(MADV_HUGEPAGE)
    // A table this large is read at random: huge pages on its aligned part.
    const uintptr_t from = roundUp(reinterpret_cast<uintptr_t>(p), kHugePage);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) / kHugePage * kHugePage;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
    return p;
}

void preferHugePages(Region& r) {
    if (!r.tried) reserve(r);
    const Lane grown[] = {Lane::Nodes, Lane::Pool};
    for (const Lane lane : grown) {
        if (r.lanes[static_cast<int>(lane)].used != 0) return;
    }
    r.smallPagesPart = 0;
    for (const Lane lane : grown) adviseLane(r, lane);
}

void reserveRegion(Region& r, size_t bytes) {
    if (!r.tried) reserveBytes(r, roundUp(bytes, kHugePage));
}

Region::~Region() {
    if (mapping != nullptr) releaseSpace(mapping, mappingSize);
}

}  // namespace quellpack::stats
