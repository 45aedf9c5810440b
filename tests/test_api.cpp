// The public library API: round trips through both compress overloads,
// failure kinds, the progress callback and in-memory verification.
#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/format/format.hpp"
#include "quellpack/quellpack.hpp"
#include "test_support.hpp"
#include "verify.hpp"

namespace {

using namespace qptest;
using quellpack::ErrorKind;

std::vector<uint8_t> corpusFile(const char* name) { return readFile(sharedDir() / "corpus" / name); }

TEST(Api, EveryFormRoundTripsAndAgrees) {
    std::vector<uint8_t> allBytes(512);
    std::iota(allBytes.begin(), allBytes.end(), 0);
    const std::vector<std::vector<uint8_t>> inputs = {
        {}, bytesOf("a"), bytesOf("Hello World. HELLO again, World!\n"), allBytes,
        corpusFile("alice29.txt"), corpusFile("fireworks.jpeg")};
    for (const std::vector<uint8_t>& input : inputs) Verify(input);
    EXPECT_EQ(quellpack::compress(std::vector<uint8_t>{}), std::vector<uint8_t>(8, 0));
}

TEST(Api, TheLibraryWritesWhatTheProgramWrites) {
    TempDir dir;
    const fs::path alice = sharedDir() / "corpus" / "alice29.txt";
    ASSERT_EQ(runQuellpack({"c", alice.string(), (dir / "a.qp").string()}).status, 0);
    EXPECT_EQ(quellpack::compress(readFile(alice)), readFile(dir / "a.qp"));
}

TEST(Api, EveryKindHasItsOwnMessage) {
    const ErrorKind kinds[] = {ErrorKind::Damaged, ErrorKind::TooLarge, ErrorKind::OutOfMemory,
                               ErrorKind::VerifyFailed};
    std::vector<std::string> seen;
    for (ErrorKind k : kinds) {
        const quellpack::Error e(k);
        EXPECT_EQ(e.kind(), k);
        EXPECT_STREQ(e.what(), quellpack::errorMessage(k));
        seen.emplace_back(e.what());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"in file is damaged", "in file is too large", "not enough memory",
                                              "verification failed"}));
}

using ProgressCalls = std::vector<std::pair<uint64_t, uint64_t>>;

// Options whose progress callback records every call in `calls`.
quellpack::Options recording(ProgressCalls& calls) {
    quellpack::Options options;
    options.progress = [&calls](uint64_t done, uint64_t total) { calls.emplace_back(done, total); };
    return options;
}

// Checks that the calls climb, never past `total`, and end at it.
void expectClimb(const ProgressCalls& calls, uint64_t total) {
    ASSERT_GE(calls.size(), 3u);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].second, total);
        EXPECT_LE(calls[i].first, calls[i].second);
        if (i > 0) {
            EXPECT_GE(calls[i].first, calls[i - 1].first);
        }
    }
    EXPECT_EQ(calls.back().first, total);
}

TEST(Api, ProgressClimbsToItsTotal) {
    // More than two of the model's progress steps, binary so that no
    // capital marks are added.
    const std::vector<uint8_t> input = repeatedTo(corpusFile("fireworks.jpeg"), size_t{5} << 19);
    ProgressCalls calls;
    const std::vector<uint8_t> packed = quellpack::compress(input, recording(calls));
    expectClimb(calls, input.size());
    calls.clear();
    EXPECT_EQ(quellpack::decompress(packed, recording(calls)), input);
    expectClimb(calls, input.size());

    // Text counts its capital marks; an empty input ends at 0 of 0.
    calls.clear();
    quellpack::compress(bytesOf("Capital Letters Here"), recording(calls));
    ASSERT_FALSE(calls.empty());
    EXPECT_GT(calls.back().second, 20u);
    EXPECT_EQ(calls.back().first, calls.back().second);
    calls.clear();
    quellpack::decompress(quellpack::compress(std::vector<uint8_t>{}), recording(calls));
    EXPECT_EQ(calls, (ProgressCalls{{0, 0}}));
}

TEST(Api, AnExceptionFromTheProgressCallbackReachesTheCaller) {
    const std::vector<uint8_t> input = repeatedTo(corpusFile("alice29.txt"), size_t{3} << 19);
    quellpack::Options options;
    options.progress = [](uint64_t, uint64_t) { throw std::runtime_error("stop"); };
    EXPECT_THROW(quellpack::compress(input, options), std::runtime_error);
    const std::vector<uint8_t> packed = quellpack::compress(input);
    EXPECT_THROW(quellpack::decompress(packed, options), std::runtime_error);
}

TEST(Api, VerificationPassesAndCatchesAForcedMismatch) {
    const std::vector<uint8_t> alice = corpusFile("alice29.txt");
    quellpack::Options verify;
    verify.verify = true;
    const std::vector<uint8_t> plain = quellpack::compress(alice);
    EXPECT_EQ(quellpack::compress(alice, verify), plain);
    EXPECT_EQ(quellpack::decompress(plain, verify), alice);  // ignored when restoring

    // Any changed, missing or extra byte in what verification decodes fails.
    const std::vector<std::function<void(std::vector<uint8_t>&)>> tampers = {
        [](std::vector<uint8_t>& b) { b.back() ^= 0x20; },
        [](std::vector<uint8_t>& b) { b.pop_back(); },
        [](std::vector<uint8_t>& b) { b.push_back('x'); },
    };
    for (size_t i = 0; i < tampers.size(); ++i) {
        quellpack::format::Hooks hooks;
        hooks.verifyTamper = tampers[i];
        try {
            quellpack::format::compressWith(alice, verify, hooks);
            ADD_FAILURE() << "tamper " << i << " not caught";
        } catch (const quellpack::Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::VerifyFailed) << i;
            EXPECT_STREQ(e.what(), "verification failed");
        }
        // Without verification the hook is never consulted.
        EXPECT_EQ(quellpack::format::compressWith(alice, {}, hooks), plain) << i;
    }
}

}  // namespace
