// Compressing into the file format: the text test, the header, the coded
// bytes with the text flag, the trailer, and the optional verification.
#include <algorithm>
#include <memory>
#include <vector>

#include "driver/format/capitals.hpp"
#include "driver/format/constants.hpp"
#include "driver/format/format.hpp"
#include "driver/format/hash.hpp"
#include "driver/format/streams.hpp"
#include "driver/format/trailer.hpp"
#include "ppm/ppm.hpp"

namespace quellpack::format {

namespace {

// Passes `read`'s bytes on, adding them to `hash`.
Reader hashingReader(Reader read, Xxh64& hash) {
    return [read = std::move(read), &hash](uint8_t* buf, size_t capacity) {
        const size_t n = read(buf, capacity);
        xxh64Add(hash, buf, n);
        return n;
    };
}

// Codes the source's bytes (through the transform for text) and hands the
// file to `write`: header, then coded bytes with the flag in the first, then
// with options.check the trailer, hashed over the bytes as they are coded.
void writeCompressed(const Source& source, bool text, uint64_t n, const Writer& write, const Options& options) {
    uint8_t header[kHeaderSize];
    for (size_t i = 0; i < kHeaderSize; ++i) header[i] = static_cast<uint8_t>(n >> (8 * i));
    write(header, kHeaderSize);

    auto raw = std::make_shared<Limited>(Limited{source.open(), source.size});
    Xxh64 hash = xxh64Start();
    CapitalsReader capitals;
    capitals.raw = limitedReader(raw);
    if (options.check) capitals.raw = hashingReader(std::move(capitals.raw), hash);
    const Reader modelInput =
        text ? Reader([&capitals](uint8_t* buf, size_t cap) { return readCapitals(capitals, buf, cap); })
             : Reader(capitals.raw);
    bool first = true;
    const Writer coded = [&](const uint8_t* data, size_t count) {
        if (first && count > 0) {
            const uint8_t flagged = static_cast<uint8_t>(data[0] | (text ? TEXT_FLAG : 0));
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
    if (raw->left != 0 || (text && readCapitals(capitals, &extra, 1) != 0)) throw Error(ErrorKind::ReadFailed);
    if (options.check) {
        const auto trailer = encodeTrailer({source.size, xxh64Digest(hash), kTrailerXxh64});
        write(trailer.data(), trailer.size());
    }
    if (options.progress) options.progress(n, n);
}

// Decodes `file` (checking its trailer, if any) and compares it with a
// fresh reading of the source.
void verifyAgainst(const std::vector<uint8_t>& file, const Source& source, const Hooks& hooks) {
    auto raw = std::make_shared<Limited>(Limited{source.open(), source.size});
    const Reader original = limitedReader(raw);
    std::vector<uint8_t> expected(kChunkSize), got;
    bool same = true;
    const Writer compare = [&](const uint8_t* data, size_t n) {
        got.assign(data, data + n);
        if (hooks.verifyTamper) hooks.verifyTamper(got);
        while (same && !got.empty()) {
            const size_t take = std::min(got.size(), expected.size());
            same = readFully(original, expected.data(), take) == take &&
                   std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(take), expected.begin());
            got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(take));
        }
    };
    try {
        decompressFile(memoryReader(file), compare, Options{});
    } catch (const Error& e) {
        // What we just wrote not decoding is a failed verification.
        if (e.kind() != ErrorKind::Damaged) throw;
        same = false;
    }
    if (!same || raw->left != 0) throw Error(ErrorKind::VerifyFailed);
}

}  // namespace

void compressFile(const Source& source, const Writer& write, const Options& options, const Hooks& hooks) {
    // First reading: is it text, and how long is the model's input?
    TextScan scan;
    {
        const Reader read = source.open();
        std::vector<uint8_t> buf(kChunkSize);
        while (scan.length < source.size) {
            const size_t got =
                read(buf.data(), static_cast<size_t>(std::min<uint64_t>(buf.size(), source.size - scan.length)));
            if (got == 0) throw Error(ErrorKind::ReadFailed);
            scanText(scan, buf.data(), got);
        }
    }
    const bool text = scanIsText(scan);
    const uint64_t n = text ? scanEncodedLength(scan) : scan.length;
    if (n > hooks.maxModelLength) throw Error(ErrorKind::TooLarge);
    if (!options.verify) {
        writeCompressed(source, text, n, write, options);
        return;
    }
    std::vector<uint8_t> file;
    writeCompressed(source, text, n, appendTo(file), options);
    verifyAgainst(file, source, hooks);
    write(file.data(), file.size());
}

}  // namespace quellpack::format
