#include "driver/format/trailer.hpp"

#include <algorithm>
#include <cstring>

namespace quellpack::format {

namespace {

void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

std::array<uint8_t, kTrailerSize> encodeTrailer(const Trailer& t) {
    std::array<uint8_t, kTrailerSize> out{};
    put64(out.data(), t.restoredLength);
    put64(out.data() + 8, t.hash);
    out[16] = t.version;
    std::copy(kTrailerMagic.begin(), kTrailerMagic.end(), out.begin() + 17);
    return out;
}

std::optional<Trailer> findTrailer(const uint8_t* tail, size_t length) {
    if (length < kTrailerSize) return std::nullopt;
    const uint8_t* t = tail + length - kTrailerSize;
    if (!std::equal(kTrailerMagic.begin(), kTrailerMagic.end(), t + 17)) return std::nullopt;
    return Trailer{get64(t), get64(t + 8), t[16]};
}

void keepTail(TailKeeper& k, const uint8_t* data, size_t n) {
    if (n == 0) return;
    k.total += n;
    if (n >= kTrailerSize) {
        std::memcpy(k.bytes.data(), data + n - kTrailerSize, kTrailerSize);
        k.kept = kTrailerSize;
        return;
    }
    // Drop the oldest bytes that the new ones push out.
    const size_t drop = k.kept + n > kTrailerSize ? k.kept + n - kTrailerSize : 0;
    std::memmove(k.bytes.data(), k.bytes.data() + drop, k.kept - drop);
    k.kept -= drop;
    std::memcpy(k.bytes.data() + k.kept, data, n);
    k.kept += n;
}

std::optional<Trailer> findTrailer(const TailKeeper& k) { return findTrailer(k.bytes.data(), k.kept); }

}  // namespace quellpack::format
