// The integrity trailer: a fixed-size record after the coded data that holds
// the restored length and a hash of the restored bytes, and ends the file
// with a magic so that it is found from the end without decoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "driver/format/constants.hpp"

namespace quellpack::format {

// What a trailer records.
struct Trailer {
    uint64_t restoredLength = 0;
    uint64_t hash = 0;
    uint8_t version = kTrailerXxh64;
};

// The trailer's bytes, as they follow the coded data.
std::array<uint8_t, kTrailerSize> encodeTrailer(const Trailer& t);

// The trailer that the last `length` bytes of a file (`tail`, at most
// kTrailerSize of them) end with, when they end with the magic; nothing
// otherwise. The version is returned as found: only kTrailerXxh64 is known.
std::optional<Trailer> findTrailer(const uint8_t* tail, size_t length);

// Keeps the last kTrailerSize bytes of a stream that passes by in pieces,
// and counts them all.
struct TailKeeper {
    std::array<uint8_t, kTrailerSize> bytes{};
    size_t kept = 0;
    uint64_t total = 0;
};

// Notes the next n bytes of the stream.
void keepTail(TailKeeper& k, const uint8_t* data, size_t n);

// The trailer the stream ends with, as findTrailer says.
std::optional<Trailer> findTrailer(const TailKeeper& k);

}  // namespace quellpack::format
