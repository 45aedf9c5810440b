// Streaming: the chunked library calls give the same files as the
// whole-buffer ones, whatever the chunk sizes, and refuse a source that
// changes between its readings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/format/capitals.hpp"
#include "quellpack/quellpack.hpp"
#include "test_support.hpp"
#include "verify.hpp"

using quellpack::Error;
using quellpack::ErrorKind;

namespace {

using qptest::into;
using qptest::sourceOf;
using qptest::trickle;

// Text whose capitals fall on every kind of chunk boundary.
std::vector<uint8_t> capitalisedText() {
    std::string s;
    for (int i = 0; i < 400; ++i) s += (i % 3 ? "Word " : "ABc Xy z QQ ");
    s += "End with a capital: Z";
    return qptest::bytesOf(s);
}

}  // namespace

TEST(Streams, ChunkedCallsMatchWholeBufferCalls) {
    std::mt19937 rng(7);
    std::vector<uint8_t> binary(20000);
    for (auto& b : binary) b = static_cast<uint8_t>(rng() % 7);
    for (const std::vector<uint8_t>& input : {capitalisedText(), binary, std::vector<uint8_t>{}}) {
        const std::vector<uint8_t> whole = quellpack::compress(std::span<const uint8_t>(input));
        for (size_t step : {size_t{1}, size_t{2}, size_t{3}, size_t{4096}}) {
            std::vector<uint8_t> file;
            quellpack::compress(sourceOf(input, step), into(file));
            ASSERT_EQ(file, whole) << "step " << step;
            std::vector<uint8_t> back;
            quellpack::decompress(trickle(file, step), into(back));
            ASSERT_EQ(back, input) << "step " << step;
        }
    }
}

TEST(Streams, SourceThatChangesBetweenReadingsIsRefused) {
    // The first reading decides text and length; a second reading with
    // other capitals would code a different count than the header says.
    const std::vector<uint8_t> first = qptest::bytesOf("Alpha beta Gamma delta");
    const std::vector<uint8_t> second = qptest::bytesOf("alpha beta gamma delta");
    auto readings = std::make_shared<int>(0);
    const quellpack::Source changing{first.size(), [&, readings] {
                                         return trickle(++*readings == 1 ? first : second, 5);
                                     }};
    std::vector<uint8_t> file;
    try {
        quellpack::compress(changing, into(file));
        FAIL() << "a changed source was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::ReadFailed);
    }

    // A source shorter than it claims is refused too.
    const std::vector<uint8_t> shortInput = qptest::bytesOf("short");
    const quellpack::Source lying{shortInput.size() + 10, [&] { return trickle(shortInput, 100); }};
    EXPECT_THROW(quellpack::compress(lying, into(file)), Error);
}

TEST(Streams, CapitalTransformAcrossChunkBoundaries) {
    using namespace quellpack::format;
    const std::vector<uint8_t> text = capitalisedText();
    TextScan scan;
    for (uint8_t b : text) scanText(scan, &b, 1);
    ASSERT_TRUE(scanIsText(scan));

    CapitalsReader reader;
    reader.raw = trickle(text, 1);
    std::vector<uint8_t> encoded(text.size() * 2);
    size_t got = 0;
    for (size_t n; (n = readCapitals(reader, encoded.data() + got, 3)) > 0;) got += n;
    encoded.resize(got);
    EXPECT_EQ(encoded.size(), scanEncodedLength(scan));

    std::vector<uint8_t> decoded;
    CapitalsWriter writer;
    writer.out = into(decoded);
    for (uint8_t b : encoded) writeCapitals(writer, &b, 1);
    EXPECT_TRUE(finishCapitals(writer));
    EXPECT_EQ(decoded, text);
}

TEST(Streams, ProgramCodesFilesThatClaimNoSize) {
    // Files under /proc report a size of 0 but have content.
    qptest::TempDir dir;
    const auto packed = dir / "status.qp", back = dir / "status";
    ASSERT_EQ(qptest::runQuellpack({"c", "/proc/self/status", packed.string()}).status, 0);
    ASSERT_EQ(qptest::runQuellpack({"d", packed.string(), back.string()}).status, 0);
    EXPECT_GT(qptest::readFile(back).size(), 100u);
}
