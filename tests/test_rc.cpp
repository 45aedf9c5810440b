// Range coder: the worked sequences of encoder output and decoder states.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "rc/range_coder.hpp"

using namespace quellpack::rc;

namespace {

using Decision = std::tuple<int32_t, int32_t, int32_t>;  // start, size, total

std::vector<uint8_t> encodeAll(const std::vector<Decision>& decisions) {
    RCState st = newEncoder(4);
    for (auto [start, size, total] : decisions) encodeFreq(st, start, size, total);
    return finishEncoder(st);
}

}  // namespace

TEST(RangeEncoder, WorkedSequences) {
    struct Case {
        std::vector<Decision> decisions;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {{}, {0x00, 0x00, 0x00, 0x00}},
        {{{0, 1, 2}}, {0x00, 0x00, 0x00, 0x00}},
        // The flush postpones two 0xFF bytes behind the held-back 0x7F.
        {{{1, 1, 2}}, {0x00, 0x7F, 0xFF, 0xFF}},
        // The third decision overflows low: the held-back 0x7E becomes 0x7F.
        {{{127, 1, 256}, {0, 1, 2}, {1, 1, 3}}, {0x00, 0x7F, 0x2A, 0x2B, 0x80}},
        // A carry reaches a postponed byte: 0x0D 0xFF are written as 0x0E 0x00.
        {{{14, 1, 256}, {0, 1, 256}, {1, 1, 16}}, {0x00, 0x0E, 0x00, 0x01, 0xFF, 0xF0}},
    };
    for (const Case& c : cases) EXPECT_EQ(encodeAll(c.decisions), c.bytes);
}

TEST(RangeDecoder, WorkedStates) {
    const uint8_t a[] = {0x00, 0x7F, 0xFF, 0xFF};
    RCState st = newDecoder(a, sizeof a);
    EXPECT_EQ(st.code, 0x7FFFFF);
    EXPECT_EQ(st.position, 4u);
    EXPECT_EQ(getFreq(st, 2), 1);
    EXPECT_EQ(st.range, 0x7FFFFF);
    decodeUpdate(st, 1, 1);
    EXPECT_EQ(st.code, 0);
    EXPECT_EQ(st.range, 0x7FFFFF);
    EXPECT_EQ(st.position, 4u);

    // The first byte is shifted out and has no influence.
    const uint8_t b[] = {0xFF, 0x7F, 0xFF, 0xFF};
    EXPECT_EQ(newDecoder(b, sizeof b).code, 0x7FFFFF);

    const uint8_t c[] = {0x00, 0x7F, 0x2A, 0x2B, 0x80};
    st = newDecoder(c, sizeof c);
    EXPECT_EQ(getFreq(st, 256), 127);
    EXPECT_EQ(st.range, 0xFFFF);
    decodeUpdate(st, 127, 1);
    EXPECT_EQ(st.code, 0x2AAA80);
    EXPECT_EQ(st.range, 0xFFFF00);
    EXPECT_EQ(st.position, 5u);
    EXPECT_EQ(getFreq(st, 2), 0);
    decodeUpdate(st, 0, 1);
    EXPECT_EQ(getFreq(st, 3), 1);
    decodeUpdate(st, 1, 1);
    EXPECT_EQ(st.position, sizeof c);
    EXPECT_FALSE(st.overrun);
}

// Random decisions with totals up to 65536 come back, and the decoder reads
// the stream to its last byte and never beyond.
TEST(RangeCoder, RandomDecisionsRoundTrip) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 20; ++round) {
        std::vector<Decision> decisions;
        const int count = 1 + static_cast<int>(rng() % 5000);
        for (int i = 0; i < count; ++i) {
            const int32_t total = 1 + static_cast<int32_t>(rng() % 65536);
            const int32_t start = static_cast<int32_t>(rng() % total);
            const int32_t size = 1 + static_cast<int32_t>(rng() % (total - start));
            decisions.emplace_back(start, size, total);
        }
        const std::vector<uint8_t> bytes = encodeAll(decisions);
        RCState st = newDecoder(bytes.data(), bytes.size());
        for (auto [start, size, total] : decisions) {
            const int32_t t = getFreq(st, total);
            ASSERT_GE(t, start);
            ASSERT_LT(t, start + size);
            decodeUpdate(st, start, size);
        }
        EXPECT_EQ(st.position, bytes.size());
        EXPECT_FALSE(st.overrun);

        // In pieces of 1 to 97 bytes the decoder counts the same bytes used.
        size_t handed = 0;
        RCState pieces = newDecoder(nullptr, 0, [&](const uint8_t*& data) {
            const size_t n = std::min<size_t>(1 + rng() % 97, bytes.size() - handed);
            data = bytes.data() + handed;
            handed += n;
            return n;
        });
        for (auto [start, size, total] : decisions) {
            const int32_t t = getFreq(pieces, total);
            ASSERT_GE(t, start);
            ASSERT_LT(t, start + size);
            decodeUpdate(pieces, start, size);
        }
        EXPECT_EQ(consumed(pieces), bytes.size());
        EXPECT_FALSE(pieces.overrun);
    }
}

TEST(RangeDecoder, ReadingPastTheEndIsFlaggedNotPerformed) {
    const uint8_t two[] = {0x00, 0x12};
    RCState st = newDecoder(two, sizeof two);
    EXPECT_TRUE(st.overrun);
    EXPECT_EQ(st.code, 0x120000);
}
