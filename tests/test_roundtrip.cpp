// Round trips: every input comes back exactly, and compressing is
// deterministic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "damage_samples.hpp"
#include "ppm/tree.hpp"
#include "quellpack/quellpack.hpp"
#include "test_support.hpp"
#include "verify.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

using qptest::Verify;

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

}  // namespace

TEST(RoundTrip, EveryCorpusFile) {
    const auto corpus = qptest::sharedDir() / "corpus";
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().string());
        const Bytes input = qptest::readFile(entry.path());
        ASSERT_EQ(input.size(), entry.file_size());
        Verify(input);
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST(RoundTrip, TinyInputs) {
    Verify({});
    for (const int b : {0x00, 0x01, 0x41, 0x61, 0x7F, 0x80, 0xFF}) Verify(Bytes{static_cast<uint8_t>(b)});
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    Verify(all);
    std::reverse(all.begin(), all.end());
    Verify(all);
    std::shuffle(all.begin(), all.end(), std::mt19937(5));
    Verify(all);
}

// Random bytes do not compress: the file outgrows the encoder's initial
// store of input + 20 bytes.
TEST(RoundTrip, RandomMegabyteOutgrowsTheInitialStore) {
    const Bytes input = randomBytes(1 << 20, 20240601);
    const Bytes file = Verify(input);
    EXPECT_GT(file.size(), input.size() + 20);
}

TEST(RoundTrip, FiveMegabytesOfOneByte) {
    const Bytes input(5 << 20, 0xAA);
    const Bytes file = Verify(input);
    EXPECT_LT(file.size(), input.size() / 100);
}

// Inputs of kOrder3From bytes and more are walked with an index of order-3
// contexts, unless a memory limit leaves it no room: the coded bytes are
// the same either way.
TEST(RoundTrip, LargeInputCodesTheSameWithAndWithoutTheOrder3Index) {
    const Bytes sample = qptest::sampleBinary(size_t{1} << 20);
    Bytes input;
    input.reserve(quellpack::ppm::kOrder3From + 4096);
    std::mt19937 rng(64);
    while (input.size() < quellpack::ppm::kOrder3From + 4096) {
        const size_t from = input.size();
        input.insert(input.end(), sample.begin(), sample.end());
        // Changes here and there, so that the copies walk to new contexts.
        for (int k = 0; k < 3000; ++k) input[from + rng() % sample.size()] = static_cast<uint8_t>(rng());
    }
    quellpack::Options tight;
    tight.memoryLimit = uint64_t{256} << 20;
    // A decoder without the index restores what the encoder with it wrote:
    // the coded bytes are those of the model without it.
    const Bytes file = quellpack::compress(std::span<const uint8_t>(input));
    EXPECT_TRUE(quellpack::decompress(file, tight) == input);
    EXPECT_TRUE(quellpack::decompress(file) == input);
}

// Runs long enough to push a context's counts to the halving limit, so that
// the coder's scale shift turns negative while rare bytes still have count 1.
TEST(RoundTrip, LongRunsOfMixedBytes) {
    std::mt19937 rng(77);
    Bytes input = {'x', 'y'};
    input.insert(input.end(), 70000, 'x');
    input.push_back('y');
    const uint8_t alphabet[] = {'x', 'y', 0x00, 0xFF, 'Q', 0x10};
    while (input.size() < 1500000) {
        const uint8_t b = alphabet[rng() % sizeof alphabet];
        const size_t run = rng() % 8 == 0 ? 1 + rng() % 60000 : 1 + rng() % 5;
        input.insert(input.end(), run, b);
    }
    Verify(input);

    // Alternating bytes in long runs, and a run broken by single strays.
    Bytes pattern;
    for (int i = 0; i < 300000; ++i) pattern.push_back(static_cast<uint8_t>(i % 2 ? 0x01 : 0x02));
    for (int i = 0; i < 300000; ++i) pattern.push_back(static_cast<uint8_t>(i % 997 == 0 ? i / 997 : 0x03));
    Verify(pattern);
}

TEST(RoundTrip, TextWithCapitals) {
    const char* texts[] = {
        "Capital at the start of the text, and a lot of lower case after it.",
        "the capital comes at the very end of this text: Z",
        "ALL CAPS RUNS, THEN Mixed Case Words, tHEN oDD oNES, AND A TAIL IN CAPS",
        "Ab",
        "AB",
        "A",
        "xA",
    };
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        const Bytes input = qptest::bytesOf(t);
        Verify(input);
    }
    // A long text whose words are capitalised at random.
    std::mt19937 rng(3);
    std::string text;
    while (text.size() < 200000) {
        std::string word;
        for (unsigned n = 1 + rng() % 9; n > 0; --n) word += static_cast<char>('a' + rng() % 26);
        const unsigned style = rng() % 6;
        if (style == 0) word[0] = static_cast<char>(word[0] - 0x20);
        if (style == 1) std::transform(word.begin(), word.end(), word.begin(), [](char c) { return c - 0x20; });
        if (style == 2) word.back() = static_cast<char>(word.back() - 0x20);
        text += word;
        text += rng() % 10 == 0 ? ".\n" : " ";
    }
    const Bytes file = Verify(qptest::bytesOf(text));
    EXPECT_EQ(file[4], 0x10);
}

TEST(RoundTrip, TextContainingAZeroByte) {
    std::string text = "Some Text With Capitals, And then a zero byte: ";
    text += '\0';
    text += " After It More Capitals Follow.";
    const Bytes file = Verify(qptest::bytesOf(text));
    EXPECT_EQ(file[4], 0x00);  // not text: stored without the transform
}
