// The C interface over the C++ one: status codes instead of exceptions,
// caller buffers and malloc'd results instead of vectors.
#include "quellpack/quellpack.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "quellpack/quellpack.hpp"

namespace {

using quellpack::ErrorKind;

// Thrown by a writer whose buffer is full; never leaves this file.
struct BufferFull {};

constexpr size_t kHeaderAndFlush = 8;
constexpr size_t kTrailer = 25;  // with QUELLPACK_CHECK
constexpr unsigned kCompressFlags = QUELLPACK_VERIFY | QUELLPACK_CHECK;
constexpr size_t kBytesPerModelByte = 20;
constexpr uint64_t kLargestInput = uint64_t{1} << 31;

quellpack_status statusOf(ErrorKind kind) { return static_cast<quellpack_status>(static_cast<int>(kind) + 1); }

// Runs f, turning every exception into a status.
template <class F>
quellpack_status guarded(F&& f) noexcept {
    try {
        f();
        return QUELLPACK_OK;
    } catch (const quellpack::Error& e) {
        return statusOf(e.kind());
    } catch (const BufferFull&) {
        return QUELLPACK_BUFFER_TOO_SMALL;
    } catch (const std::bad_alloc&) {
        return QUELLPACK_OUT_OF_MEMORY;
    } catch (...) {
        return QUELLPACK_INTERNAL_ERROR;
    }
}

std::span<const uint8_t> bytesAt(const void* data, size_t size) {
    return {static_cast<const uint8_t*>(data), size};
}

quellpack::Options optionsOf(unsigned flags) {
    quellpack::Options options;
    options.verify = (flags & QUELLPACK_VERIFY) != 0;
    options.check = (flags & QUELLPACK_CHECK) != 0;
    return options;
}

// Serves a byte string to the streaming calls.
quellpack::Reader memoryReader(std::span<const uint8_t> bytes) {
    return [bytes, pos = size_t{0}](uint8_t* buf, size_t capacity) mutable {
        const size_t n = std::min(capacity, bytes.size() - pos);
        if (n > 0) std::memcpy(buf, bytes.data() + pos, n);
        pos += n;
        return n;
    };
}

// Where the streaming calls put their output: a fixed caller buffer, or a
// malloc'd one that grows (up to `limit` bytes).
struct Sink {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    bool grows = false;
    size_t limit = std::numeric_limits<size_t>::max();
};

void append(Sink& sink, const uint8_t* bytes, size_t n) {
    if (n > sink.capacity - sink.size) {
        if (!sink.grows || n > sink.limit - sink.size) throw BufferFull{};
        size_t want = std::max<size_t>(sink.capacity, 1 << 16);
        while (want - sink.size < n) want = want > sink.limit / 2 ? sink.limit : want * 2;
        void* grown = std::realloc(sink.data, want);
        if (!grown) throw std::bad_alloc();
        sink.data = static_cast<uint8_t*>(grown);
        sink.capacity = want;
    }
    if (n > 0) std::memcpy(sink.data + sink.size, bytes, n);
    sink.size += n;
}

quellpack::Writer writerTo(Sink& sink) {
    return [&sink](const uint8_t* bytes, size_t n) { append(sink, bytes, n); };
}

void compressInto(std::span<const uint8_t> input, Sink& sink, unsigned flags) {
    const quellpack::Source source{input.size(), [input] { return memoryReader(input); }};
    quellpack::compress(source, writerTo(sink), optionsOf(flags));
}

void decompressInto(std::span<const uint8_t> file, Sink& sink) {
    quellpack::decompress(memoryReader(file), writerTo(sink));
}

bool validInput(const void* data, size_t size) { return data != nullptr || size == 0; }

// Hands a grown sink to the caller, or frees it after a failure.
quellpack_status handOver(quellpack_status status, Sink& sink, void** output, size_t* output_size) {
    if (status != QUELLPACK_OK) {
        std::free(sink.data);
        return status;
    }
    if (sink.size == 0) {
        // Still something to free, never NULL on success.
        sink.data = static_cast<uint8_t*>(std::malloc(1));
        if (!sink.data) return QUELLPACK_OUT_OF_MEMORY;
    } else if (void* fitted = std::realloc(sink.data, sink.size)) {
        sink.data = static_cast<uint8_t*>(fitted);
    }
    *output = sink.data;
    *output_size = sink.size;
    return QUELLPACK_OK;
}

}  // namespace

extern "C" {

size_t quellpack_compress_bound(size_t input_size) {
    if (input_size >= kLargestInput) return 0;
    const uint64_t modelBytes = uint64_t{input_size} + input_size / 2;
    const uint64_t bound = kHeaderAndFlush + kTrailer + kBytesPerModelByte * modelBytes;
    if (bound > std::numeric_limits<size_t>::max()) return 0;
    return static_cast<size_t>(bound);
}

quellpack_status quellpack_compress(const void* input, size_t input_size, void* output, size_t output_capacity,
                                    size_t* output_size, unsigned flags) {
    if (!output_size) return QUELLPACK_INVALID_ARGUMENT;
    *output_size = 0;
    if (!validInput(input, input_size) || !validInput(output, output_capacity) || (flags & ~kCompressFlags) != 0)
        return QUELLPACK_INVALID_ARGUMENT;
    Sink sink{static_cast<uint8_t*>(output), 0, output_capacity};
    const quellpack_status status = guarded([&] { compressInto(bytesAt(input, input_size), sink, flags); });
    if (status == QUELLPACK_OK) *output_size = sink.size;
    return status;
}

quellpack_status quellpack_decompress_bound(const void* file, size_t file_size, size_t* bound) {
    if (!bound) return QUELLPACK_INVALID_ARGUMENT;
    *bound = 0;
    if (!validInput(file, file_size)) return QUELLPACK_INVALID_ARGUMENT;
    return guarded([&] {
        const uint64_t n = quellpack::restoredSizeBound(bytesAt(file, file_size));
        if (n > std::numeric_limits<size_t>::max()) throw quellpack::Error(ErrorKind::TooLarge);
        *bound = static_cast<size_t>(n);
    });
}

quellpack_status quellpack_decompress(const void* file, size_t file_size, void* output, size_t output_capacity,
                                      size_t* output_size, unsigned flags) {
    if (!output_size) return QUELLPACK_INVALID_ARGUMENT;
    *output_size = 0;
    if (!validInput(file, file_size) || !validInput(output, output_capacity) || flags != 0)
        return QUELLPACK_INVALID_ARGUMENT;
    Sink sink{static_cast<uint8_t*>(output), 0, output_capacity};
    const quellpack_status status = guarded([&] { decompressInto(bytesAt(file, file_size), sink); });
    if (status == QUELLPACK_OK) *output_size = sink.size;
    return status;
}

quellpack_status quellpack_compress_alloc(const void* input, size_t input_size, void** output, size_t* output_size,
                                          unsigned flags) {
    if (!output || !output_size) return QUELLPACK_INVALID_ARGUMENT;
    *output = nullptr;
    *output_size = 0;
    if (!validInput(input, input_size) || (flags & ~kCompressFlags) != 0) return QUELLPACK_INVALID_ARGUMENT;
    Sink sink;
    sink.grows = true;
    const quellpack_status status = guarded([&] { compressInto(bytesAt(input, input_size), sink, flags); });
    return handOver(status, sink, output, output_size);
}

quellpack_status quellpack_decompress_alloc(const void* file, size_t file_size, void** output, size_t* output_size,
                                            unsigned flags) {
    if (!output || !output_size) return QUELLPACK_INVALID_ARGUMENT;
    *output = nullptr;
    *output_size = 0;
    if (!validInput(file, file_size) || flags != 0) return QUELLPACK_INVALID_ARGUMENT;
    Sink sink;
    sink.grows = true;
    const quellpack_status status = guarded([&] {
        // The header bounds the result, so the buffer never grows past it.
        sink.limit = static_cast<size_t>(std::min<uint64_t>(quellpack::restoredSizeBound(bytesAt(file, file_size)),
                                                            std::numeric_limits<size_t>::max()));
        decompressInto(bytesAt(file, file_size), sink);
    });
    return handOver(status, sink, output, output_size);
}

void quellpack_free(void* memory) { std::free(memory); }

const char* quellpack_error_message(int status) {
    switch (status) {
        case QUELLPACK_OK: return "no error";
        case QUELLPACK_BUFFER_TOO_SMALL: return "output buffer too small";
        case QUELLPACK_INVALID_ARGUMENT: return "invalid argument";
        case QUELLPACK_INTERNAL_ERROR: return "internal error";
        default: break;
    }
    if (status < 1 || status >= QUELLPACK_BUFFER_TOO_SMALL) return "unknown error";
    return quellpack::errorMessage(static_cast<ErrorKind>(status - 1));
}

const char* quellpack_version(void) { return quellpack::kVersion; }

unsigned long quellpack_version_number(void) { return QUELLPACK_VERSION_NUMBER; }

}  // extern "C"
