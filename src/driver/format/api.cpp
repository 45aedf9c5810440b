// The public calls: whole byte strings and streams over the file format,
// with allocation failures reported as Error(OutOfMemory).
#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "driver/format/constants.hpp"
#include "driver/format/format.hpp"
#include "driver/format/streams.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack {

namespace {

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
    return Source{bytes.size(), [bytes] { return format::memoryReader(bytes); }};
}

const format::Hooks kNoHooks;

}  // namespace

void format::compressWith(const Source& source, const Writer& write, const Options& options, const Hooks& hooks) {
    guarded([&] { compressFile(source, write, options, hooks); });
}

std::vector<uint8_t> format::compressWith(std::span<const uint8_t> input, const Options& options,
                                          const Hooks& hooks) {
    return guarded([&] {
        std::vector<uint8_t> file;
        file.reserve(input.size() / 2 + 64);
        compressFile(memorySource(input), appendTo(file), options, hooks);
        return file;
    });
}

void compress(const Source& source, const Writer& write, const Options& options) {
    format::compressWith(source, write, options, kNoHooks);
}

void decompress(const Reader& read, const Writer& write, const Options& options) {
    guarded([&] { format::decompressFile(read, write, options); });
}

std::vector<uint8_t> compress(std::span<const uint8_t> input, const Options& options) {
    return format::compressWith(input, options, kNoHooks);
}

std::vector<uint8_t> compress(std::vector<uint8_t>&& input, const Options& options) {
    // The input is read twice, so its memory is held to the end.
    const std::vector<uint8_t> data = std::move(input);
    return format::compressWith(data, options, kNoHooks);
}

std::vector<uint8_t> decompress(std::span<const uint8_t> file, const Options& options) {
    return guarded([&] {
        std::vector<uint8_t> out;
        out.reserve(std::min<size_t>(size_t{1} << 22, file.size() * 4));
        format::decompressFile(format::memoryReader(file), format::appendTo(out), options);
        return out;
    });
}

uint64_t restoredSizeBound(std::span<const uint8_t> file) {
    if (file.size() < format::kMinFileSize) throw Error(ErrorKind::Damaged);
    uint32_t n = 0;
    for (size_t i = 0; i < format::kHeaderSize; ++i) n |= static_cast<uint32_t>(file[i]) << (8 * i);
    if (n > format::kMaxModelLength) throw Error(ErrorKind::Damaged);
    return n;
}

}  // namespace quellpack
