// The compressed file: the byte count, then the coded bytes with the text
// flag in the first of them, then optionally the integrity trailer.
// Everything is streamed; the whole-buffer calls run the same code over
// memory.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "driver/capitals.hpp"
#include "driver/capitals_stream.hpp"
#include "driver/memory_reader.hpp"
#include "driver/hash.hpp"
#include "driver/header.hpp"
#include "driver/test_seam.hpp"
#include "driver/trailer.hpp"
#include "ppm/ppm.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack {

namespace testing {
std::function<void(std::vector<uint8_t>&)> verifyTamper;
size_t maxModelLength = std::numeric_limits<int32_t>::max();
}  // namespace testing

namespace {

using driver::kHeaderSize;
using driver::kMinFileSize;
constexpr size_t kChunk = size_t{1} << 14;

// Serves a byte string in chunks.
Reader memoryReader(std::span<const uint8_t> bytes) { return driver::bufferReader(bytes.data(), bytes.size()); }

Writer appendTo(std::vector<uint8_t>& out) {
    return [&out](const uint8_t* data, size_t n) { out.insert(out.end(), data, data + n); };
}

// Reads until buf is full or the input ends; returns the count read.
size_t readFully(const Reader& read, uint8_t* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const size_t got = read(buf + done, n - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// At most `limit` bytes of `read`; remembers whether more would follow.
struct Limited {
    Reader read;
    uint64_t left;
};

Reader limitedReader(std::shared_ptr<Limited> lim) {
    return [lim](uint8_t* buf, size_t capacity) {
        const size_t n = lim->read(buf, static_cast<size_t>(std::min<uint64_t>(capacity, lim->left)));
        lim->left -= n;
        return n;
    };
}

// Passes `read`'s bytes on, adding them to `hash`.
Reader hashingReader(Reader read, driver::Xxh64& hash) {
    return [read = std::move(read), &hash](uint8_t* buf, size_t capacity) {
        const size_t n = read(buf, capacity);
        driver::xxh64Add(hash, buf, n);
        return n;
    };
}

ppm::ProgressFn modelProgress(const Options& options, uint64_t total) {
    if (!options.progress) return nullptr;
    return [&options, total](size_t done) { options.progress(done, total); };
}

// Codes the source's bytes (through the transform for text) and hands the
// file to `write`: header, then coded bytes with the flag in the first, then
// with options.check the trailer, hashed over the bytes as they are coded.
void writeCompressed(const Source& source, bool text, uint64_t n, const Writer& write, const Options& options) {
    uint8_t header[kHeaderSize];
    for (size_t i = 0; i < kHeaderSize; ++i) header[i] = static_cast<uint8_t>(n >> (8 * i));
    write(header, kHeaderSize);

    auto raw = std::make_shared<Limited>(Limited{source.open(), source.size});
    driver::Xxh64 hash = driver::xxh64Start();
    driver::CapitalsReader capitals;
    capitals.raw = limitedReader(raw);
    if (options.check) capitals.raw = hashingReader(std::move(capitals.raw), hash);
    const Reader modelInput =
        text ? Reader([&capitals](uint8_t* buf, size_t cap) { return driver::readCapitals(capitals, buf, cap); })
             : Reader(capitals.raw);
    bool first = true;
    const Writer coded = [&](const uint8_t* data, size_t count) {
        if (first && count > 0) {
            const uint8_t flagged = static_cast<uint8_t>(data[0] | (text ? driver::TEXT_FLAG : 0));
            write(&flagged, 1);
            ++data;
            --count;
            first = false;
        }
        if (count > 0) write(data, count);
    };
    const ppm::ProgressFn progress = modelProgress(options, n);
    ppm::compress(static_cast<size_t>(n), modelInput, coded, progress ? &progress : nullptr, options.memoryLimit);
    // The input must not have changed between the two readings.
    uint8_t extra;
    if (raw->left != 0 || (text && driver::readCapitals(capitals, &extra, 1) != 0)) throw Error(ErrorKind::ReadFailed);
    if (options.check) {
        const auto trailer = driver::encodeTrailer({source.size, driver::xxh64Digest(hash), driver::kTrailerXxh64});
        write(trailer.data(), trailer.size());
    }
    if (options.progress) options.progress(n, n);
}

// Decodes `file` (checking its trailer, if any) and compares it with a
// fresh reading of the source.
void verifyAgainst(const std::vector<uint8_t>& file, const Source& source) {
    auto raw = std::make_shared<Limited>(Limited{source.open(), source.size});
    const Reader original = limitedReader(raw);
    std::vector<uint8_t> expected(kChunk), got;
    bool same = true;
    const Writer compare = [&](const uint8_t* data, size_t n) {
        got.assign(data, data + n);
        if (testing::verifyTamper) testing::verifyTamper(got);
        while (same && !got.empty()) {
            const size_t take = std::min(got.size(), expected.size());
            same = readFully(original, expected.data(), take) == take &&
                   std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(take), expected.begin());
            got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(take));
        }
    };
    try {
        decompress(memoryReader(file), compare);
    } catch (const Error& e) {
        // What we just wrote not decoding is a failed verification.
        if (e.kind() != ErrorKind::Damaged) throw;
        same = false;
    }
    if (!same || raw->left != 0) throw Error(ErrorKind::VerifyFailed);
}

void compressSource(const Source& source, const Writer& write, const Options& options) {
    // First reading: is it text, and how long is the model's input?
    driver::TextScan scan;
    {
        const Reader read = source.open();
        std::vector<uint8_t> buf(kChunk);
        while (scan.length < source.size) {
            const size_t got =
                read(buf.data(), static_cast<size_t>(std::min<uint64_t>(buf.size(), source.size - scan.length)));
            if (got == 0) throw Error(ErrorKind::ReadFailed);
            driver::scanText(scan, buf.data(), got);
        }
    }
    const bool text = driver::scanIsText(scan);
    const uint64_t n = text ? driver::scanEncodedLength(scan) : scan.length;
    if (n > testing::maxModelLength) throw Error(ErrorKind::TooLarge);
    if (!options.verify) {
        writeCompressed(source, text, n, write, options);
        return;
    }
    std::vector<uint8_t> file;
    writeCompressed(source, text, n, appendTo(file), options);
    verifyAgainst(file, source);
    write(file.data(), file.size());
}

// Reads what follows the coded data to the end of the input. When the input
// ends with a trailer, the coded data must end where it begins and the
// restored bytes must have its length and hash.
void checkTrailer(const Reader& read, const driver::TailKeeper& tail, uint64_t codedEnd, uint64_t restored,
                  const driver::Xxh64& hash) {
    std::vector<uint8_t> rest(kChunk);
    while (read(rest.data(), rest.size()) > 0) {
    }
    const std::optional<driver::Trailer> trailer = driver::findTrailer(tail);
    // A version we do not know is read as every decoder reads the file: its
    // trailer is bytes after the coded data.
    if (!trailer || trailer->version != driver::kTrailerXxh64) return;
    if (codedEnd != tail.total - driver::kTrailerSize || trailer->restoredLength != restored ||
        trailer->hash != driver::xxh64Digest(hash))
        throw Error(ErrorKind::Damaged);
}

void decompressReader(const Reader& input, const Writer& output, const Options& options) {
    // Everything read passes the tail keeper, everything restored the hash.
    driver::TailKeeper tail;
    bool ended = false;
    const Reader read = [&](uint8_t* buf, size_t capacity) -> size_t {
        if (ended) return 0;
        const size_t got = input(buf, capacity);
        ended = got == 0;
        driver::keepTail(tail, buf, got);
        return got;
    };
    driver::Xxh64 hash = driver::xxh64Start();
    uint64_t restored = 0;
    const Writer write = [&](const uint8_t* data, size_t n) {
        driver::xxh64Add(hash, data, n);
        restored += n;
        output(data, n);
    };

    uint8_t start[kMinFileSize];
    if (readFully(read, start, kMinFileSize) < kMinFileSize) throw Error(ErrorKind::Damaged);
    const std::optional<driver::Header> header = driver::parseHeader(start);
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
    driver::CapitalsWriter capitals;
    capitals.out = write;
    const Writer out =
        text ? Writer([&capitals](const uint8_t* data, size_t count) { driver::writeCapitals(capitals, data, count); })
             : Writer(write);
    const ppm::ProgressFn progress = modelProgress(options, n);
    const size_t used = ppm::decompress(coded, n, out, progress ? &progress : nullptr, options.memoryLimit);
    if (text && !driver::finishCapitals(capitals)) throw Error(ErrorKind::Damaged);
    // With nothing to decode the decoder loads nothing, but the file holds
    // the four bytes the encoder always writes.
    checkTrailer(read, tail, kHeaderSize + std::max<uint64_t>(used, kMinFileSize - kHeaderSize), restored, hash);
    if (options.progress) options.progress(n, n);
}

// Runs f, reporting an allocation failure as Error(OutOfMemory).
template <class F>
auto guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        throw Error(ErrorKind::OutOfMemory);
    } catch (const std::length_error&) {
        throw Error(ErrorKind::OutOfMemory);
    }
}

Source memorySource(std::span<const uint8_t> bytes) {
    return Source{bytes.size(), [bytes] { return memoryReader(bytes); }};
}

}  // namespace

void compress(const Source& source, const Writer& write, const Options& options) {
    guarded([&] { compressSource(source, write, options); });
}

void decompress(const Reader& read, const Writer& write, const Options& options) {
    guarded([&] { decompressReader(read, write, options); });
}

std::vector<uint8_t> compress(std::span<const uint8_t> input, const Options& options) {
    return guarded([&] {
        std::vector<uint8_t> file;
        file.reserve(input.size() / 2 + 64);
        compressSource(memorySource(input), appendTo(file), options);
        return file;
    });
}

std::vector<uint8_t> compress(std::vector<uint8_t>&& input, const Options& options) {
    std::vector<uint8_t> data = std::move(input);
    return compress(std::span<const uint8_t>(data), options);
}

std::vector<uint8_t> decompress(std::span<const uint8_t> file, const Options& options) {
    return guarded([&] {
        std::vector<uint8_t> out;
        out.reserve(std::min<size_t>(size_t{1} << 22, file.size() * 4));
        decompressReader(memoryReader(file), appendTo(out), options);
        return out;
    });
}

uint64_t restoredSizeBound(std::span<const uint8_t> file) {
    if (file.size() < kMinFileSize) throw Error(ErrorKind::Damaged);
    uint32_t n = 0;
    for (size_t i = 0; i < kHeaderSize; ++i) n |= static_cast<uint32_t>(file[i]) << (8 * i);
    if (n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) throw Error(ErrorKind::Damaged);
    return n;
}

Error::Error(ErrorKind kind) : std::runtime_error(errorMessage(kind)), kind_(kind) {}

const char* errorMessage(ErrorKind kind) noexcept {
    switch (kind) {
        case ErrorKind::Damaged: return "in file is damaged";
        case ErrorKind::TooLarge: return "in file is too large";
        case ErrorKind::OutOfMemory: return "not enough memory";
        case ErrorKind::VerifyFailed: return "verification failed";
        case ErrorKind::ReadFailed: return "cannot read in file";
        case ErrorKind::WriteFailed: return "cannot write out file";
    }
    return "unknown error";
}

}  // namespace quellpack
