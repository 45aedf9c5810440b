// Conformance: every input of the shared manifest compresses to exactly the
// listed bytes (size and SHA-256) and restores to the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quellpack/quellpack.hpp"
#include "test_support.hpp"
#include "verify.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// SHA-256 of data as 64 lower-case hex digits.
std::string sha256(const Bytes& data) {
    static constexpr uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    auto rotr = [](uint32_t x, int n) { return x >> n | x << (32 - n); };

    Bytes msg = data;
    const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    msg.push_back(0x80);
    while (msg.size() % 64 != 56) msg.push_back(0);
    for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bits >> (8 * i)));

    for (size_t block = 0; block < msg.size(); block += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            const uint8_t* p = &msg[block + 4 * i];
            w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
        }
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const uint32_t add[8] = {a, b, c, d, e, f, g, hh};
        for (int i = 0; i < 8; ++i) h[i] += add[i];
    }
    std::string hex;
    char buf[9];
    for (uint32_t v : h) {
        std::snprintf(buf, sizeof buf, "%08x", v);
        hex += buf;
    }
    return hex;
}

struct Row {
    std::string input;
    size_t inputSize;
    std::string inputSha;
    size_t compressedSize;
    std::string compressedSha;
};

fs::path conformanceDir() { return qptest::sharedDir() / "conformance"; }

std::vector<Row> readManifest(const fs::path& path) {
    std::ifstream in(path);
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        Row r;
        fields >> r.input >> r.inputSize >> r.inputSha >> r.compressedSize >> r.compressedSha;
        if (fields.fail()) ADD_FAILURE() << "unreadable manifest line: " << line;
        else rows.push_back(r);
    }
    return rows;
}

// The byte at i in hex, or "end" past the last one.
std::string byteAt(const Bytes& b, size_t i) {
    if (i >= b.size()) return "end";
    char buf[5];
    std::snprintf(buf, sizeof buf, "0x%02X", b[i]);
    return buf;
}

}  // namespace

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(sha256({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256(qptest::bytesOf("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks of padding.
    EXPECT_EQ(sha256(qptest::bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Conformance, EveryManifestInputCompressesToTheListedBytesAndBack) {
    const fs::path manifest = conformanceDir() / "MANIFEST.tsv";
    ASSERT_TRUE(fs::exists(manifest)) << "conformance manifest missing: " << manifest;
    const std::vector<Row> rows = readManifest(manifest);
    ASSERT_FALSE(rows.empty()) << "conformance manifest lists no inputs: " << manifest;
    // The golden bytes are the main guard of the format: they must include
    // capitalised text and a negative-shift case, which round trips miss.
    for (const char* needed : {"inputs/words-caps", "inputs/capitals-edges", "inputs/negshift-rule"})
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.input == needed; }))
            << "conformance manifest lacks " << needed;

    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        const fs::path inputPath = conformanceDir() / row.input;
        ASSERT_TRUE(fs::exists(inputPath)) << "conformance input missing: " << inputPath;
        const Bytes input = qptest::readFile(inputPath);
        ASSERT_EQ(input.size(), row.inputSize) << "input differs from the manifest";
        ASSERT_EQ(sha256(input), row.inputSha) << "input differs from the manifest";

        const Bytes file = quellpack::compress(std::span<const uint8_t>(input));
        EXPECT_EQ(file.size(), row.compressedSize);
        const bool same = sha256(file) == row.compressedSha;
        EXPECT_TRUE(same) << "compressed bytes differ from the listed SHA-256";
        const fs::path expectedPath = conformanceDir() / "expected" / (inputPath.filename().string() + ".qp");
        if (!same && fs::exists(expectedPath)) {
            const Bytes expected = qptest::readFile(expectedPath);
            const size_t at = qptest::firstDifference(file, expected);
            ADD_FAILURE() << "first difference from " << expectedPath << " at byte offset " << at << " (ours "
                          << byteAt(file, at) << ", expected " << byteAt(expected, at) << ")";
        }
        try {
            EXPECT_TRUE(quellpack::decompress(file) == input) << "decompression does not restore the input";
        } catch (const quellpack::Error& e) {
            ADD_FAILURE() << "decompression failed: " << e.what();
        }
    }
}
