// Damaged and hostile compressed files through the library: every one ends
// in Error(Damaged) or a clean result, never a crash, a hang or a read
// outside the file.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "damage_samples.hpp"
#include "capitals_buffers.hpp"
#include "driver/format/constants.hpp"
#include "driver/format/format.hpp"
#include "quellpack/quellpack.hpp"

using quellpack::ErrorKind;
using qptest::decompressFailure;

namespace {

struct Sample {
    std::string name;
    std::vector<uint8_t> input;
};

std::vector<Sample> samples() {
    return {
        {"empty", {}},
        {"a", qptest::bytesOf("a")},
        {"Hello World", qptest::bytesOf("Hello World")},
        {"abracadabra", qptest::bytesOf("abracadabra")},
        {"text", qptest::sampleText(6000)},
        {"binary", qptest::sampleBinary(3000)},
    };
}

std::vector<uint8_t> withCount(std::vector<uint8_t> file, uint32_t n) {
    for (int i = 0; i < 4; ++i) file[i] = static_cast<uint8_t>(n >> (8 * i));
    return file;
}

}  // namespace

TEST(DamagedFiles, EveryTruncationIsDamaged) {
    for (const Sample& s : samples()) {
        const std::vector<uint8_t> file = quellpack::compress(s.input);
        std::vector<uint8_t> back;
        ASSERT_EQ(decompressFailure(file, &back), std::nullopt) << s.name;
        ASSERT_EQ(back, s.input) << s.name;
        for (size_t len = 0; len < file.size(); ++len)
            ASSERT_EQ(decompressFailure(std::span(file).first(len)), ErrorKind::Damaged) << s.name << " cut to " << len;
    }
}

TEST(DamagedFiles, TrailingBytesAreIgnored) {
    for (const Sample& s : samples()) {
        std::vector<uint8_t> file = quellpack::compress(s.input);
        for (uint8_t b : {0x00, 0xFF, 0x10, 0x5A}) file.push_back(b);
        std::vector<uint8_t> back;
        ASSERT_EQ(decompressFailure(file, &back), std::nullopt) << s.name;
        EXPECT_EQ(back, s.input) << s.name;
    }
}

TEST(DamagedFiles, HeaderCountIsNotTrusted) {
    const std::vector<uint8_t> abra = quellpack::compress(qptest::bytesOf("abracadabra"));
    const std::vector<uint8_t> zeros8(8, 0);
    // Negative counts.
    EXPECT_EQ(decompressFailure(withCount(abra, 0xFFFFFFFF)), ErrorKind::Damaged);
    EXPECT_EQ(decompressFailure(withCount(zeros8, 0x80000000)), ErrorKind::Damaged);
    // The largest count, over no data, some data and a real file's data:
    // the coded bytes run out long before, and memory follows what is decoded.
    EXPECT_EQ(decompressFailure(withCount(zeros8, 0x7FFFFFFF)), ErrorKind::Damaged);
    std::vector<uint8_t> noise = withCount(qptest::sampleBinary(1 << 16), 0x7FFFFFFF);
    noise[4] = 0;
    EXPECT_EQ(decompressFailure(noise), ErrorKind::Damaged);
    EXPECT_EQ(decompressFailure(withCount(abra, 0x7FFFFFFF)), ErrorKind::Damaged);
    EXPECT_EQ(decompressFailure(withCount(abra, 11 + 256)), ErrorKind::Damaged);
    // A count of zero reads no coded byte; the four must still be there.
    std::vector<uint8_t> back{1};
    EXPECT_EQ(decompressFailure(zeros8, &back), std::nullopt);
    EXPECT_TRUE(back.empty());
    const std::vector<uint8_t> textZero = {0, 0, 0, 0, 0x10, 0xAB, 0xCD, 0xEF, 0x01};
    back = {1};
    EXPECT_EQ(decompressFailure(textZero, &back), std::nullopt);
    EXPECT_TRUE(back.empty());
    EXPECT_EQ(decompressFailure(std::span(zeros8).first(7)), ErrorKind::Damaged);
}

TEST(DamagedFiles, FlagByteHoldsOnlyTheTextBit) {
    for (const char* text : {"abracadabra", "\x01\x02\x03"}) {
        const std::vector<uint8_t> file = quellpack::compress(qptest::bytesOf(text));
        for (int bit = 0; bit < 8; ++bit) {
            if ((1 << bit) == quellpack::format::TEXT_FLAG) continue;
            std::vector<uint8_t> bad = file;
            bad[4] |= static_cast<uint8_t>(1 << bit);
            EXPECT_EQ(decompressFailure(bad), ErrorKind::Damaged) << text << " bit " << bit;
        }
    }
}

TEST(DamagedFiles, TextFlagOnDataWithoutValidMarks) {
    // Binary data holds 0x00 bytes that are not capital marks.
    std::vector<uint8_t> file = quellpack::compress(qptest::bytesOf(std::string("\0\x01\x02\x03\0\x01\x02\x03", 8)));
    ASSERT_EQ(file[4], 0);
    file[4] = quellpack::format::TEXT_FLAG;
    EXPECT_EQ(decompressFailure(file), ErrorKind::Damaged);
}

TEST(CapitalMarks, DecodeReportsMarksTextCannotHold) {
    using quellpack::format::capitalsDecode;
    using quellpack::format::capitalsEncode;
    using quellpack::format::capitalsEncodedLength;
    for (const std::string& text : {std::string("Hello World"), std::string("ABc Ab A"), std::string("xY Zz"),
                                    std::string("A"), std::string(""), std::string("Ab")}) {
        std::vector<uint8_t> data = qptest::bytesOf(text);
        capitalsEncode(data, capitalsEncodedLength(data.data(), data.size()));
        EXPECT_TRUE(capitalsDecode(data)) << text;
        EXPECT_EQ(data, qptest::bytesOf(text));
    }
    const std::vector<std::vector<uint8_t>> bad = {
        {'a', 0},             // a mark at the end
        {0, 'b'},             // a mark and its letter with nothing after
        {0, 'B', 'c'},        // a mark before a capital
        {0, '1', 'c'},        // a mark before a non-letter
        {0, 'b', 'C'},        // the capital was followed by a capital
        {0, 'b', 0, 'c', 'd'} // likewise, by another marked capital
    };
    for (std::vector<uint8_t> data : bad) EXPECT_FALSE(capitalsDecode(data));
}

TEST(TooLarge, LimitAppliesToTheLengthAfterTheTransform) {
    // What the public calls accept: the largest count the header holds.
    EXPECT_EQ(quellpack::format::Hooks{}.maxModelLength, (uint64_t{1} << 31) - 1);
    quellpack::format::Hooks hooks;
    hooks.maxModelLength = 12;
    const auto tooLarge = [&hooks](const std::string& s) {
        try {
            quellpack::format::compressWith(qptest::bytesOf(s), {}, hooks);
            return false;
        } catch (const quellpack::Error& e) {
            return e.kind() == ErrorKind::TooLarge;
        }
    };
    EXPECT_FALSE(tooLarge("hello world!"));         // 12 bytes, no capital
    EXPECT_TRUE(tooLarge("hello world!!"));         // 13 bytes
    EXPECT_FALSE(tooLarge("Hello world"));          // 11 bytes, 12 after the transform
    EXPECT_TRUE(tooLarge("Hello World"));           // 11 bytes, 13 after the transform
    EXPECT_TRUE(tooLarge(std::string(13, '\0')));   // binary: no transform
}

namespace {

// Decodes `file` with every single bit flipped in turn, in a child process
// that is killed after `seconds`. Each flip must restore something or fail
// with Error(Damaged); flips of the flag byte's unused bits and of the
// count's sign bit must fail. Returns "" when all held, else what went wrong.
std::string checkEveryBitFlip(const std::vector<uint8_t>& file, unsigned seconds) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(seconds);
        std::vector<uint8_t> bad = file;
        for (uint32_t bit = 0; bit < bad.size() * 8; ++bit) {
            (void)!::write(fds[1], &bit, sizeof bit);  // the parent names the culprit of a crash
            bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            const std::optional<ErrorKind> failure = decompressFailure(bad);
            bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            const bool mustFail = (bit / 8 == 4 && bit % 8 != 4) || bit == 31;
            if ((failure && *failure != ErrorKind::Damaged) || (mustFail && !failure)) ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    uint32_t last = 0, bit;
    while (::read(fds[0], &bit, sizeof bit) == static_cast<ssize_t>(sizeof bit)) last = bit;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    const std::string where = " at bit " + std::to_string(last) + " (byte " + std::to_string(last / 8) + ")";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "hang" + where;
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status)) + where;
    return "wrong outcome" + where;
}

}  // namespace

TEST(DamagedFiles, SingleBitFlipsFailCleanlyOrDecode) {
    for (const Sample& s : samples()) {
        if (s.input.size() > 2500) continue;
        EXPECT_EQ(checkEveryBitFlip(quellpack::compress(s.input), 120), "") << s.name;
    }
    EXPECT_EQ(checkEveryBitFlip(quellpack::compress(qptest::sampleText(2000)), 120), "") << "text";
    EXPECT_EQ(checkEveryBitFlip(quellpack::compress(qptest::sampleBinary(1500)), 120), "") << "binary";
}
