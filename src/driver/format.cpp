// The compressed file: the byte count, then the coded bytes with the text
// flag in the first of them.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "driver/capitals.hpp"
#include "driver/test_seam.hpp"
#include "ppm/ppm.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack {

namespace {

constexpr size_t kHeaderSize = 4;
constexpr size_t kMinFileSize = kHeaderSize + 4;

void writeHeader(std::vector<uint8_t>& file, uint32_t n) {
    for (int i = 0; i < 4; ++i) file[i] = static_cast<uint8_t>(n >> (8 * i));
}

// Wraps the caller's progress function for the model's progress calls.
ppm::ProgressFn modelProgress(const Options& options, size_t total) {
    if (!options.progress) return nullptr;
    return [&options, total](size_t done) { options.progress(done, total); };
}

std::vector<uint8_t> compressModelBytes(std::vector<uint8_t>& data, bool text, const Options& options) {
    const ppm::ProgressFn progress = modelProgress(options, data.size());
    std::vector<uint8_t> coded = ppm::compress(data.data(), data.size(), progress ? &progress : nullptr);
    if (options.progress) options.progress(data.size(), data.size());
    // Put the header in front of the coded bytes.
    coded.insert(coded.begin(), kHeaderSize, 0);
    writeHeader(coded, static_cast<uint32_t>(data.size()));
    if (text) coded[kHeaderSize] |= driver::TEXT_FLAG;
    return coded;
}

std::vector<uint8_t> decompressFile(std::span<const uint8_t> file, const Options& options) {
    if (file.size() < kMinFileSize) throw Error(ErrorKind::Damaged);
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n |= static_cast<uint32_t>(file[i]) << (8 * i);
    if (n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) throw Error(ErrorKind::Damaged);
    const uint8_t flagByte = file[kHeaderSize];
    if ((flagByte & ~driver::TEXT_FLAG) != 0) throw Error(ErrorKind::Damaged);
    // The decoder never looks at the first coded byte, so the flag needs no
    // clearing.
    const ppm::ProgressFn progress = modelProgress(options, n);
    std::vector<uint8_t> out = ppm::decompress(file.data() + kHeaderSize, file.size() - kHeaderSize, n,
                                               progress ? &progress : nullptr);
    if (options.progress) options.progress(n, n);
    if ((flagByte & driver::TEXT_FLAG) && !driver::capitalsDecode(out)) throw Error(ErrorKind::Damaged);
    return out;
}

void verifyResult(const std::vector<uint8_t>& file, std::span<const uint8_t> original) {
    std::vector<uint8_t> back = decompressFile(file, Options{});
    if (testing::verifyTamper) testing::verifyTamper(back);
    if (back.size() != original.size() || !std::equal(back.begin(), back.end(), original.begin()))
        throw Error(ErrorKind::VerifyFailed);
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

}  // namespace

namespace testing {
std::function<void(std::vector<uint8_t>&)> verifyTamper;
size_t maxModelLength = std::numeric_limits<int32_t>::max();
}

std::vector<uint8_t> compress(std::vector<uint8_t>&& input, const Options& options) {
    return guarded([&] {
        std::vector<uint8_t> data = std::move(input);
        const bool text = driver::isText(data.data(), data.size());
        const size_t modelLength = text ? driver::capitalsEncodedLength(data.data(), data.size()) : data.size();
        if (modelLength > testing::maxModelLength) throw Error(ErrorKind::TooLarge);
        if (!options.verify) {
            if (text) driver::capitalsEncode(data, modelLength);
            return compressModelBytes(data, text, options);
        }
        // Verification needs the original bytes: transform a copy.
        std::vector<uint8_t> model = data;
        if (text) driver::capitalsEncode(model, modelLength);
        std::vector<uint8_t> file = compressModelBytes(model, text, options);
        model = {};
        verifyResult(file, data);
        return file;
    });
}

std::vector<uint8_t> compress(std::span<const uint8_t> input, const Options& options) {
    return compress(guarded([&] { return std::vector<uint8_t>(input.begin(), input.end()); }), options);
}

std::vector<uint8_t> decompress(std::span<const uint8_t> file, const Options& options) {
    return guarded([&] { return decompressFile(file, options); });
}

Error::Error(ErrorKind kind) : std::runtime_error(errorMessage(kind)), kind_(kind) {}

const char* errorMessage(ErrorKind kind) noexcept {
    switch (kind) {
        case ErrorKind::Damaged: return "in file is damaged";
        case ErrorKind::TooLarge: return "in file is too large";
        case ErrorKind::OutOfMemory: return "not enough memory";
        case ErrorKind::VerifyFailed: return "verification failed";
    }
    return "unknown error";
}

}  // namespace quellpack
