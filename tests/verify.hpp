// One round trip through every form of the interface: the span and the
// moving compress, the streaming calls, and the C interface for small
// inputs. Every form must write the same file and restore the input.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "quellpack/quellpack.h"
#include "quellpack/quellpack.hpp"

namespace qptest {

// A reader over `bytes` that hands out at most `step` bytes per call.
inline quellpack::Reader trickle(const std::vector<uint8_t>& bytes, size_t step) {
    auto offset = std::make_shared<size_t>(0);
    return [&bytes, step, offset](uint8_t* buf, size_t capacity) {
        const size_t n = std::min({capacity, step, bytes.size() - *offset});
        if (n > 0) std::memcpy(buf, bytes.data() + *offset, n);
        *offset += n;
        return n;
    };
}

inline quellpack::Source sourceOf(const std::vector<uint8_t>& bytes, size_t step) {
    return quellpack::Source{bytes.size(), [&bytes, step] { return trickle(bytes, step); }};
}

inline quellpack::Writer into(std::vector<uint8_t>& out) {
    return [&out](const uint8_t* data, size_t n) { out.insert(out.end(), data, data + n); };
}

// Where `got` first differs from `want`, for a failure message.
inline size_t firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
    return static_cast<size_t>(std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin());
}

// Compresses `input` in every form and restores it; returns the file.
inline std::vector<uint8_t> Verify(const std::vector<uint8_t>& input) {
    const std::vector<uint8_t> file = quellpack::compress(std::span<const uint8_t>(input));
    std::vector<uint8_t> moved = input;
    EXPECT_EQ(quellpack::compress(std::move(moved)), file) << "the moving compress differs";
    EXPECT_TRUE(moved.empty());
    std::vector<uint8_t> streamed;
    quellpack::compress(sourceOf(input, 5000), into(streamed));
    EXPECT_EQ(streamed, file) << "the streaming compress differs";

    const std::vector<uint8_t> back = quellpack::decompress(file);
    EXPECT_TRUE(back == input) << "first difference at byte " << firstDifference(back, input) << " of "
                               << input.size();
    std::vector<uint8_t> streamedBack;
    quellpack::decompress(trickle(file, 5000), into(streamedBack));
    EXPECT_TRUE(streamedBack == input) << "the streaming decompress differs";

    if (input.size() <= (size_t{1} << 16)) {
        void* packed = nullptr;
        size_t packedSize = 0;
        EXPECT_EQ(quellpack_compress_alloc(input.data(), input.size(), &packed, &packedSize, 0), QUELLPACK_OK);
        EXPECT_TRUE(packedSize == file.size() && std::memcmp(packed, file.data(), packedSize) == 0)
            << "the C interface's file differs";
        void* restored = nullptr;
        size_t restoredSize = 0;
        EXPECT_EQ(quellpack_decompress_alloc(file.data(), file.size(), &restored, &restoredSize, 0), QUELLPACK_OK);
        EXPECT_TRUE(restoredSize == input.size() && (input.empty() || std::memcmp(restored, input.data(), restoredSize) == 0))
            << "the C interface restores other bytes";
        quellpack_free(packed);
        quellpack_free(restored);
    }
    return file;
}

}  // namespace qptest
