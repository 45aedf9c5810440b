// The driver's half of the format: the text test, the capital-letter
// transform, and whole compressed files byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capitals_buffers.hpp"
#include "driver/command_line.hpp"
#include "quellpack/quellpack.hpp"
#include "test_support.hpp"

using qptest::bytesOf;
using Bytes = std::vector<uint8_t>;

namespace {

bool isText(const Bytes& b) { return quellpack::format::isText(b.data(), b.size()); }

Bytes encoded(Bytes b) {
    const size_t n = quellpack::format::capitalsEncodedLength(b.data(), b.size());
    quellpack::format::capitalsEncode(b, n);
    return b;
}

Bytes decoded(Bytes b) {
    quellpack::format::capitalsDecode(b);
    return b;
}

Bytes compressed(const Bytes& b) { return quellpack::compress(std::span<const uint8_t>(b)); }
Bytes restored(const Bytes& b) { return quellpack::decompress(b); }

}  // namespace

TEST(TextTest, LettersMustBeMoreThanHalfAndNoZeroByte) {
    EXPECT_TRUE(isText(bytesOf("Hello World")));        // 10 letters > 5
    EXPECT_FALSE(isText(Bytes{0x61, 0x62, 0x31, 0x32}));  // 2 is not > 2
    EXPECT_TRUE(isText(Bytes{0x5B, 0x5D, 0x31}));         // brackets count as letters
    EXPECT_TRUE(isText(Bytes{0x61, 0x62}));
    EXPECT_FALSE(isText(Bytes{}));
    Bytes letters(1000, 'a');
    EXPECT_TRUE(isText(letters));
    letters[500] = 0x00;
    EXPECT_FALSE(isText(letters));
    EXPECT_FALSE(isText(Bytes{0x40, 0x7B, 0x7B}));  // just outside 'A'..'z'
    EXPECT_TRUE(isText(Bytes{0x41, 0x7A, 0x7B}));
}

TEST(CapitalTransform, WorkedExamples) {
    const Bytes hello = bytesOf("Hello World");
    const Bytes helloEncoded = {0x00, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x20, 0x00, 0x77, 0x6F, 0x72, 0x6C, 0x64};
    EXPECT_EQ(encoded(hello), helloEncoded);
    EXPECT_EQ(decoded(helloEncoded), hello);
    EXPECT_EQ(encoded(Bytes{0x41, 0x42, 0x63}), (Bytes{0x41, 0x00, 0x62, 0x63}));  // only the last of a run
    EXPECT_EQ(encoded(Bytes{0x78, 0x41}), (Bytes{0x78, 0x41}));                    // trailing capital stays
    EXPECT_EQ(encoded(Bytes{0x61, 0x62}), (Bytes{0x61, 0x62}));
    // The byte after a converted capital is copied unexamined.
    EXPECT_EQ(encoded(bytesOf("ABCDe")), (Bytes{'A', 'B', 'C', 0x00, 'd', 'e'}));
    EXPECT_EQ(encoded(bytesOf("AbCd")), (Bytes{0x00, 'a', 'b', 0x00, 'c', 'd'}));
    // A mark as the very last byte is copied unchanged.
    EXPECT_EQ(decoded(Bytes{'a', 0x00}), (Bytes{'a', 0x00}));
}

TEST(CompressedFile, WholeFilesByteForByte) {
    struct Case {
        Bytes input;
        Bytes file;
    };
    const Case cases[] = {
        {{}, {0, 0, 0, 0, 0, 0, 0, 0}},
        {bytesOf("a"), {0x01, 0x00, 0x00, 0x00, 0x10, 0x60, 0xFF, 0x9F, 0x00}},
        {bytesOf("abracadabra"),
         {0x0B, 0x00, 0x00, 0x00, 0x10, 0x61, 0x68, 0x99, 0x59, 0x56, 0xBF, 0xBE, 0x8B, 0xB9, 0x80, 0x00}},
        {{0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x02, 0x03},
         {0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0x96, 0xB0, 0xBF, 0x47, 0x2C, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compressed(c.input), c.file);
        EXPECT_EQ(restored(c.file), c.input);
    }
}

TEST(CompressedFile, HeaderCountsModelBytesAndFlagMarksText) {
    const Bytes hello = compressed(bytesOf("Hello World"));
    ASSERT_GE(hello.size(), 9u);
    EXPECT_EQ(Bytes(hello.begin(), hello.begin() + 5), (Bytes{0x0D, 0x00, 0x00, 0x00, 0x10}));
    EXPECT_EQ(restored(hello), bytesOf("Hello World"));

    // Text is flagged even when the transform changes nothing.
    EXPECT_EQ(compressed(bytesOf("ab"))[4], 0x10);

    Bytes withZero = bytesOf("Hello World, again and again and again");
    withZero[5] = 0x00;
    const Bytes binary = compressed(withZero);
    EXPECT_EQ(Bytes(binary.begin(), binary.begin() + 5), (Bytes{static_cast<uint8_t>(withZero.size()), 0, 0, 0, 0x00}));
    EXPECT_EQ(restored(binary), withZero);

    // A length that needs all four header bytes, least significant first.
    const Bytes big(0x01020304 & 0xFFFFF, 'q');  // 0x020304 bytes
    const Bytes bigFile = compressed(big);
    EXPECT_EQ(Bytes(bigFile.begin(), bigFile.begin() + 4), (Bytes{0x04, 0x03, 0x02, 0x00}));
}

// A file whose text flag is cleared is read as binary: the same coded
// bytes, restored without the inverse transform. (Damaged headers are
// tested in test_damaged_files.cpp.)
TEST(CompressedFile, ClearedTextFlagRestoresTheTransformedBytes) {
    Bytes plain = compressed(bytesOf("Hello World"));
    plain[4] = 0x00;
    EXPECT_EQ(restored(plain), encoded(bytesOf("Hello World")));
}

// The Windows program splits its command line itself.
TEST(CommandLineSplit, SeparatorsRunsAndQuotes) {
    using quellpack::driver::splitCommandLine;
    using V = std::vector<std::string>;
    EXPECT_EQ(splitCommandLine(""), V{});
    EXPECT_EQ(splitCommandLine(" \t\r\n "), V{});
    EXPECT_EQ(splitCommandLine("qp.exe c in out"), (V{"qp.exe", "c", "in", "out"}));
    EXPECT_EQ(splitCommandLine("  qp \t\tc\r\nin  out  "), (V{"qp", "c", "in", "out"}));
    // A quoted argument keeps its blanks, loses its quotes and may be empty.
    EXPECT_EQ(splitCommandLine("\"C:\\Program Files\\qp.exe\" d \"my file.qp\" \"\""),
              (V{"C:\\Program Files\\qp.exe", "d", "my file.qp", ""}));
    // It ends at the next quote, whatever follows; an unclosed one at the end.
    EXPECT_EQ(splitCommandLine("\"a b\"c \"d e"), (V{"a b", "c", "d e"}));
    // Quotes inside an unquoted argument and backslashes are plain characters.
    EXPECT_EQ(splitCommandLine("a\"b c\\\" d"), (V{"a\"b", "c\\\"", "d"}));
    // Bytes beyond ASCII (UTF-8 names) pass unchanged.
    EXPECT_EQ(splitCommandLine("c \"\xc3\xa9t\xc3\xa9 1\" x"), (V{"c", "\xc3\xa9t\xc3\xa9 1", "x"}));
}
