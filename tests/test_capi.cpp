// The C interface: the compress bound on random and adversarial data,
// caller buffers of every size around the result, the allocating forms,
// statuses and their messages, and the version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "damage_samples.hpp"
#include "quellpack/quellpack.h"
#include "quellpack/quellpack.hpp"
#include "test_support.hpp"

namespace {

using namespace qptest;

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed, uint32_t mask = 0xFF) {
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>((seed >> 24) & mask);
    }
    return out;
}

// Text that gets the most capital marks: every other byte a capital before
// a small letter, so the model codes 1.5 bytes per input byte.
std::vector<uint8_t> capitalPairs(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[i] = static_cast<uint8_t>((i % 2 == 0 ? 'A' : 'a') + (seed >> 24) % 26);
    }
    return out;
}

// Compresses through the allocating form; fails the test on any failure.
std::vector<uint8_t> compressed(const std::vector<uint8_t>& input) {
    void* out = nullptr;
    size_t size = 0;
    EXPECT_EQ(quellpack_compress_alloc(input.data(), input.size(), &out, &size, 0), QUELLPACK_OK);
    std::vector<uint8_t> file(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
    quellpack_free(out);
    return file;
}

TEST(CApi, CompressBoundHoldsOnRandomAndAdversarialData) {
    std::vector<std::vector<uint8_t>> inputs = {{}, {0}, bytesOf("a"), bytesOf("Ab"), bytesOf("AbC")};
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        for (size_t n : {2, 3, 7, 64, 1000, 70000}) {
            inputs.push_back(randomBytes(n, seed));
            inputs.push_back(randomBytes(n, seed, 0x3F));  // few symbols, every context new
            inputs.push_back(capitalPairs(n, seed));
        }
    }
    std::vector<uint8_t> everyByte(256 * 40);
    for (size_t i = 0; i < everyByte.size(); ++i) everyByte[i] = static_cast<uint8_t>(i * 167 + i / 256);
    inputs.push_back(everyByte);
    inputs.push_back(sampleBinary(20000));

    for (const std::vector<uint8_t>& input : inputs) {
        const size_t bound = quellpack_compress_bound(input.size());
        std::vector<uint8_t> out(bound);
        size_t size = 0;
        ASSERT_EQ(quellpack_compress(input.data(), input.size(), out.data(), out.size(), &size, 0), QUELLPACK_OK)
            << input.size();
        ASSERT_LE(size, bound);
        out.resize(size);
        EXPECT_EQ(out, quellpack::compress(input)) << input.size();
    }
}

TEST(CApi, CompressBoundLimits) {
    EXPECT_EQ(quellpack_compress_bound(0), 33u);
    EXPECT_EQ(quellpack_compress_bound(1), 53u);
    EXPECT_EQ(quellpack_compress_bound(std::numeric_limits<size_t>::max()), 0u);
    if (sizeof(size_t) >= 8) {
        EXPECT_EQ(quellpack_compress_bound((size_t{1} << 31) - 1), 33 + 20 * ((uint64_t{3} << 30) - 2));
        EXPECT_EQ(quellpack_compress_bound(size_t{1} << 31), 0u);
    } else {
        EXPECT_EQ(quellpack_compress_bound(200000000), 0u);  // the bound passes 2^32
    }
}

TEST(CApi, CallerBuffersOfEverySizeAroundTheResult) {
    for (const std::vector<uint8_t>& input : {sampleText(5000), sampleBinary(3000), std::vector<uint8_t>{}}) {
        const std::vector<uint8_t> file = compressed(input);
        std::vector<uint8_t> out(file.size() + 1);
        size_t size = 99;
        EXPECT_EQ(quellpack_compress(input.data(), input.size(), out.data(), file.size(), &size, QUELLPACK_VERIFY),
                  QUELLPACK_OK);
        EXPECT_EQ(size, file.size());
        EXPECT_TRUE(std::equal(file.begin(), file.end(), out.begin()));
        EXPECT_EQ(quellpack_compress(input.data(), input.size(), out.data(), file.size() - 1, &size, 0),
                  QUELLPACK_BUFFER_TOO_SMALL);
        EXPECT_EQ(size, 0u);

        size_t bound = 0;
        ASSERT_EQ(quellpack_decompress_bound(file.data(), file.size(), &bound), QUELLPACK_OK);
        EXPECT_EQ(bound, quellpack::restoredSizeBound(file));
        EXPECT_GE(bound, input.size());
        std::vector<uint8_t> restored(bound + 1);
        ASSERT_EQ(quellpack_decompress(file.data(), file.size(), restored.data(), bound, &size, 0), QUELLPACK_OK);
        restored.resize(size);
        EXPECT_EQ(restored, input);
        if (!input.empty()) {
            EXPECT_EQ(quellpack_decompress(file.data(), file.size(), restored.data(), input.size() - 1, &size, 0),
                      QUELLPACK_BUFFER_TOO_SMALL);
        }
    }
}

TEST(CApi, AllocatingFormsRoundTripTheCorpus) {
    for (const char* name : {"alice29.txt", "fireworks.jpeg"}) {
        const std::vector<uint8_t> input = readFile(sharedDir() / "corpus" / name);
        void* packed = nullptr;
        size_t packedSize = 0;
        ASSERT_EQ(quellpack_compress_alloc(input.data(), input.size(), &packed, &packedSize, QUELLPACK_VERIFY),
                  QUELLPACK_OK);
        void* restored = nullptr;
        size_t restoredSize = 0;
        ASSERT_EQ(quellpack_decompress_alloc(packed, packedSize, &restored, &restoredSize, 0), QUELLPACK_OK);
        ASSERT_EQ(restoredSize, input.size());
        EXPECT_EQ(std::memcmp(restored, input.data(), input.size()), 0) << name;
        quellpack_free(packed);
        quellpack_free(restored);
    }
    void* out = nullptr;
    size_t size = 1;
    ASSERT_EQ(quellpack_decompress_alloc(compressed({}).data(), 8, &out, &size, 0), QUELLPACK_OK);
    EXPECT_NE(out, nullptr);  // an empty result is still memory to free
    EXPECT_EQ(size, 0u);
    quellpack_free(out);
    quellpack_free(nullptr);
}

TEST(CApi, DamagedFilesAreReportedAndNothingIsHandedOut) {
    const std::vector<uint8_t> file = compressed(sampleText(2000));
    std::vector<uint8_t> out(4000);
    for (size_t cut : {size_t{0}, size_t{3}, size_t{7}, file.size() / 2, file.size() - 1}) {
        size_t size = 1;
        EXPECT_EQ(quellpack_decompress(file.data(), cut, out.data(), out.size(), &size, 0), QUELLPACK_DAMAGED)
            << cut;
        EXPECT_EQ(size, 0u);
        void* got = &size;
        EXPECT_EQ(quellpack_decompress_alloc(file.data(), cut, &got, &size, 0), QUELLPACK_DAMAGED) << cut;
        EXPECT_EQ(got, nullptr);
    }
    size_t bound = 1;
    EXPECT_EQ(quellpack_decompress_bound(file.data(), 7, &bound), QUELLPACK_DAMAGED);
    EXPECT_EQ(bound, 0u);
    std::vector<uint8_t> huge = file;
    huge[3] = 0x80;  // a count of 2^31 or more
    EXPECT_EQ(quellpack_decompress_bound(huge.data(), huge.size(), &bound), QUELLPACK_DAMAGED);
    void* got = nullptr;
    size_t size = 0;
    huge[3] = 0x7F;  // a count near 2^31 in a small file: refused, not allocated
    EXPECT_EQ(quellpack_decompress_alloc(huge.data(), huge.size(), &got, &size, 0), QUELLPACK_DAMAGED);
}

TEST(CApi, CheckFlagAddsATrailerThatDecompressChecks) {
    const std::vector<uint8_t> data = sampleText(3000);
    const std::vector<uint8_t> plain = compressed(data);
    std::vector<uint8_t> file(quellpack_compress_bound(data.size()));
    size_t size = 0;
    ASSERT_EQ(quellpack_compress(data.data(), data.size(), file.data(), file.size(), &size,
                                 QUELLPACK_CHECK | QUELLPACK_VERIFY),
              QUELLPACK_OK);
    file.resize(size);
    ASSERT_EQ(size, plain.size() + 25);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), file.begin()));
    std::vector<uint8_t> out(data.size());
    ASSERT_EQ(quellpack_decompress(file.data(), file.size(), out.data(), out.size(), &size, 0), QUELLPACK_OK);
    EXPECT_EQ(out, data);
    file[file.size() - 17] ^= 1;  // the hash
    EXPECT_EQ(quellpack_decompress(file.data(), file.size(), out.data(), out.size(), &size, 0), QUELLPACK_DAMAGED);
}

TEST(CApi, InvalidArgumentsAreRefused) {
    uint8_t buf[64];
    size_t size = 0;
    void* got = nullptr;
    EXPECT_EQ(quellpack_compress(nullptr, 1, buf, sizeof buf, &size, 0), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_compress(buf, 1, nullptr, 10, &size, 0), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_compress(buf, 1, buf, sizeof buf, nullptr, 0), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_compress(buf, 1, buf, sizeof buf, &size, 4), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_decompress(nullptr, 8, buf, sizeof buf, &size, 0), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_decompress(buf, 8, buf, sizeof buf, &size, QUELLPACK_VERIFY), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_compress_alloc(buf, 1, nullptr, &size, 0), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_decompress_alloc(buf, 8, &got, nullptr, 0), QUELLPACK_INVALID_ARGUMENT);
    EXPECT_EQ(quellpack_decompress_bound(buf, 8, nullptr), QUELLPACK_INVALID_ARGUMENT);
    // Empty input needs no pointer; an empty output buffer is too small.
    EXPECT_EQ(quellpack_compress(nullptr, 0, buf, sizeof buf, &size, 0), QUELLPACK_OK);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(quellpack_compress(nullptr, 0, nullptr, 0, &size, 0), QUELLPACK_BUFFER_TOO_SMALL);
}

TEST(CApi, LibraryFailuresKeepTheirMessages) {
    // Each library failure is reported as its kind plus one, with its message.
    using quellpack::ErrorKind;
    for (ErrorKind kind : {ErrorKind::Damaged, ErrorKind::TooLarge, ErrorKind::OutOfMemory, ErrorKind::VerifyFailed,
                           ErrorKind::ReadFailed, ErrorKind::WriteFailed}) {
        EXPECT_STREQ(quellpack_error_message(static_cast<int>(kind) + 1),
                     quellpack::errorMessage(kind));
    }
    EXPECT_STREQ(quellpack_error_message(QUELLPACK_DAMAGED), "in file is damaged");
    EXPECT_STREQ(quellpack_error_message(QUELLPACK_BUFFER_TOO_SMALL), "output buffer too small");
    EXPECT_STREQ(quellpack_error_message(QUELLPACK_INVALID_ARGUMENT), "invalid argument");
    EXPECT_STREQ(quellpack_error_message(-3), "unknown error");
    EXPECT_STREQ(quellpack_error_message(99), "unknown error");
}

TEST(CApi, VersionIsTheProjectVersion) {
    EXPECT_STREQ(quellpack_version(), QUELLPACK_PROJECT_VERSION);
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(QUELLPACK_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(quellpack_version_number(), major * 10000ul + minor * 100ul + patch);
}

}  // namespace
