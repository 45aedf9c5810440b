// Restoring from the file format: the header, the coded bytes, the inverse
// transform for text, and the trailer's check.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "driver/format/capitals.hpp"
#include "driver/format/constants.hpp"
#include "driver/format/format.hpp"
#include "driver/format/hash.hpp"
#include "driver/format/header.hpp"
#include "driver/format/streams.hpp"
#include "driver/format/trailer.hpp"
#include "ppm/ppm.hpp"

namespace quellpack::format {

namespace {

// Reads what follows the coded data to the end of the input. When the input
// ends with a trailer, the coded data must end where it begins and the
// restored bytes must have its length and hash.
void checkTrailer(const Reader& read, const TailKeeper& tail, uint64_t codedEnd, uint64_t restored,
                  const Xxh64& hash) {
    std::vector<uint8_t> rest(kChunkSize);
    while (read(rest.data(), rest.size()) > 0) {
    }
    const std::optional<Trailer> trailer = findTrailer(tail);
    // A version we do not know is read as every decoder reads the file: its
    // trailer is bytes after the coded data.
    if (!trailer || trailer->version != kTrailerXxh64) return;
    if (codedEnd != tail.total - kTrailerSize || trailer->restoredLength != restored ||
        trailer->hash != xxh64Digest(hash))
        throw Error(ErrorKind::Damaged);
}

}  // namespace

void decompressFile(const Reader& input, const Writer& output, const Options& options) {
    // Everything read passes the tail keeper, everything restored the hash.
    TailKeeper tail;
    bool ended = false;
    const Reader read = [&](uint8_t* buf, size_t capacity) -> size_t {
        if (ended) return 0;
        const size_t got = input(buf, capacity);
        ended = got == 0;
        keepTail(tail, buf, got);
        return got;
    };
    Xxh64 hash = xxh64Start();
    uint64_t restored = 0;
    const Writer write = [&](const uint8_t* data, size_t n) {
        xxh64Add(hash, data, n);
        restored += n;
        output(data, n);
    };

    uint8_t start[kMinFileSize];
    if (readFully(read, start, kMinFileSize) < kMinFileSize) throw Error(ErrorKind::Damaged);
    const std::optional<Header> header = parseHeader(start);
    if (!header) throw Error(ErrorKind::Damaged);
    const uint32_t n = header->count;
    const bool text = header->text;

    // The first coded bytes are already read; the decoder never looks at
    // the first one, so the flag needs no clearing.
    size_t startLeft = kMinFileSize - kHeaderSize;
    const Reader coded = [&](uint8_t* buf, size_t capacity) {
        if (startLeft > 0) {
            const size_t take = std::min(capacity, startLeft);
            std::memcpy(buf, start + kMinFileSize - startLeft, take);
            startLeft -= take;
            return take;
        }
        return read(buf, capacity);
    };
    CapitalsWriter capitals;
    capitals.out = write;
    const Writer out =
        text ? Writer([&capitals](const uint8_t* data, size_t count) { writeCapitals(capitals, data, count); })
             : Writer(write);
    const ppm::ProgressFn progress = modelProgress(options, n);
    const size_t used = ppm::decompress(coded, n, out, progress ? &progress : nullptr, options.memoryLimit);
    if (text && !finishCapitals(capitals)) throw Error(ErrorKind::Damaged);
    // With nothing to decode the decoder loads nothing, but the file holds
    // the four bytes the encoder always writes.
    checkTrailer(read, tail, kHeaderSize + std::max<uint64_t>(used, kMinFileSize - kHeaderSize), restored, hash);
    if (options.progress) options.progress(n, n);
}

}  // namespace quellpack::format
