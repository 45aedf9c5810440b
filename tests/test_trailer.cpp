// The integrity trailer: its hash, its bytes, and what decompression makes
// of files that carry one, whole, stripped, damaged or read in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "damage_samples.hpp"
#include "driver/format/hash.hpp"
#include "driver/format/format.hpp"
#include "driver/format/trailer.hpp"
#include "quellpack/quellpack.hpp"

#ifdef QUELLPACK_HAVE_XXHASH
#define XXH_INLINE_ALL
#include <xxhash.h>
#endif

using quellpack::ErrorKind;
using qptest::bytesOf;
using qptest::decompressFailure;
using Bytes = std::vector<uint8_t>;
namespace format = quellpack::format;

namespace {

constexpr size_t kTrailer = format::kTrailerSize;

Bytes checked(const Bytes& input) {
    quellpack::Options options;
    options.check = true;
    return quellpack::compress(std::span<const uint8_t>(input), options);
}

Bytes plain(const Bytes& input) { return quellpack::compress(std::span<const uint8_t>(input)); }

Bytes withoutTrailer(const Bytes& file) { return Bytes(file.begin(), file.end() - kTrailer); }

// A reader of `bytes` (which must outlive it) that hands out pieces of the
// sizes `pieces` gives, in turn, each at most what was asked for.
quellpack::Reader readerOf(const Bytes& bytes, std::vector<size_t> pieces = {SIZE_MAX}) {
    return [&bytes, pieces, at = size_t{0}, turn = size_t{0}](uint8_t* buf, size_t capacity) mutable {
        const size_t n = std::min({capacity, pieces[turn++ % pieces.size()], bytes.size() - at});
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, buf);
        at += n;
        return n;
    };
}

// Decompresses through the streaming call, reading in the given pieces.
Bytes decompressInPieces(const Bytes& file, const std::vector<size_t>& pieces) {
    Bytes out;
    quellpack::decompress(readerOf(file, pieces),
                          [&](const uint8_t* data, size_t n) { out.insert(out.end(), data, data + n); });
    return out;
}

std::vector<std::pair<std::string, Bytes>> samples() {
    return {{"empty", {}},
            {"a", bytesOf("a")},
            {"Hello World", bytesOf("Hello World")},
            {"text", qptest::sampleText(5000)},
            {"binary", qptest::sampleBinary(3000)}};
}

}  // namespace

TEST(Xxh64, PublishedValuesInOneCallAndInPieces) {
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(format::xxh64(nullptr, 0), 0xEF46DB3751D8E999ull);
    EXPECT_EQ(format::xxh64(reinterpret_cast<const uint8_t*>("a"), 1), 0xD24EC4F1A98C6E5Bull);
    EXPECT_EQ(format::xxh64(reinterpret_cast<const uint8_t*>("abc"), 3), 0x44BC2CF5AD770999ull);
    EXPECT_EQ(format::xxh64(reinterpret_cast<const uint8_t*>(fox.data()), fox.size()), 0x0B242D361FDA71BCull);
    EXPECT_EQ(format::xxh64(reinterpret_cast<const uint8_t*>("abc"), 3, 1), 0xBEA9CA8199328908ull);
    // Pieces of every size from 1 to 40 give the one-call hash.
    const Bytes data = qptest::sampleBinary(1000);
    for (size_t piece = 1; piece <= 40; ++piece) {
        format::Xxh64 h = format::xxh64Start();
        for (size_t at = 0; at < data.size(); at += piece)
            format::xxh64Add(h, data.data() + at, std::min(piece, data.size() - at));
        ASSERT_EQ(format::xxh64Digest(h), format::xxh64(data.data(), data.size())) << piece;
    }
}

#ifdef QUELLPACK_HAVE_XXHASH
// The system's reference implementation, for every length across the
// stripe and tail boundaries and a few seeds.
TEST(Xxh64, AgreesWithTheReferenceImplementation) {
    std::mt19937 random(7);
    Bytes data(1100);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    for (const uint64_t seed : {uint64_t{0}, uint64_t{1}, uint64_t{0x9E3779B185EBCA87ull}}) {
        for (size_t n = 0; n <= data.size(); n += (n < 300 ? 1 : 97))
            ASSERT_EQ(format::xxh64(data.data(), n, seed), XXH64(data.data(), n, seed)) << n << " " << seed;
    }
}
#endif

TEST(Trailer, IsThePlainFileFollowedByLengthHashVersionAndMagic) {
    const Bytes abra = checked(bytesOf("abracadabra"));
    const Bytes expected = {0x0B, 0x00, 0x00, 0x00, 0x10, 0x61, 0x68, 0x99, 0x59, 0x56, 0xBF, 0xBE, 0x8B, 0xB9,
                            0x80, 0x00,  // the file as without the trailer
                            0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 11 bytes restored
                            0x4E, 0x08, 0xAA, 0xB7, 0xA2, 0xF8, 0xB3, 0x5E,  // their XXH64
                            0x01,                                            // version: XXH64
                            0x89, 'Q', 'P', 'C', 'H', 'K', 0x0D, 0x0A};
    EXPECT_EQ(abra, expected);
    // The length recorded is the input's, not the model's (capital marks).
    const Bytes hello = checked(bytesOf("Hello World"));
    EXPECT_EQ(hello[0], 13);
    EXPECT_EQ(hello[hello.size() - kTrailer], 11);
    for (const auto& [name, input] : samples()) {
        const Bytes file = checked(input);
        EXPECT_EQ(withoutTrailer(file), plain(input)) << name;
        const std::optional<format::Trailer> t = format::findTrailer(file.data(), file.size());
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(t->restoredLength, input.size()) << name;
        EXPECT_EQ(t->hash, format::xxh64(input.data(), input.size())) << name;
        EXPECT_FALSE(format::findTrailer(plain(input).data(), plain(input).size())) << name;
    }
}

TEST(Trailer, StreamsAndVerificationWriteTheSameFile) {
    const Bytes input = qptest::sampleText(40000);
    quellpack::Options options;
    options.check = true;
    const quellpack::Source source{input.size(), [&input] { return quellpack::Reader(readerOf(input)); }};
    Bytes streamed;
    quellpack::compress(source, [&](const uint8_t* data, size_t n) { streamed.insert(streamed.end(), data, data + n); },
                        options);
    EXPECT_EQ(streamed, checked(input));
    options.verify = true;
    EXPECT_EQ(quellpack::compress(std::span<const uint8_t>(input), options), checked(input));
    // A decoded difference is still caught by the comparison.
    quellpack::format::Hooks hooks;
    hooks.verifyTamper = [](Bytes& got) { got[0] ^= 1; };
    try {
        quellpack::format::compressWith(input, options, hooks);
        ADD_FAILURE() << "verification passed";
    } catch (const quellpack::Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::VerifyFailed);
    }
}

TEST(Trailer, WithAndWithoutItTheSameBytesComeBack) {
    for (const auto& [name, input] : samples()) {
        const Bytes file = checked(input);
        Bytes back;
        ASSERT_EQ(decompressFailure(file, &back), std::nullopt) << name;
        EXPECT_EQ(back, input) << name;
        back.clear();
        ASSERT_EQ(decompressFailure(withoutTrailer(file), &back), std::nullopt) << name;
        EXPECT_EQ(back, input) << name;
    }
}

// The decoder counts what it consumed across the reader's pieces, so the
// trailer is found where the coded data ends whatever their sizes.
TEST(Trailer, CheckedWhateverPiecesTheReaderHandsOut) {
    const Bytes input = qptest::sampleText(120000);  // coded data over several of the decoder's chunks
    const Bytes file = checked(input);
    for (const std::vector<size_t>& pieces :
         std::vector<std::vector<size_t>>{{1}, {3, 1, 7}, {4096}, {16383, 2}, {25}, {size_t{1} << 20}}) {
        EXPECT_EQ(decompressInPieces(file, pieces), input) << pieces[0];
        Bytes damaged = file;
        damaged[damaged.size() / 2] ^= 0x04;
        EXPECT_THROW(decompressInPieces(damaged, pieces), quellpack::Error) << pieces[0];
    }
}

TEST(Trailer, AnyMismatchIsDamage) {
    const Bytes input = qptest::sampleText(2000);
    const Bytes file = checked(input);
    const size_t at = file.size() - kTrailer;
    auto changed = [&](size_t offset, uint8_t mask) {
        Bytes f = file;
        f[offset] ^= mask;
        return f;
    };
    EXPECT_EQ(decompressFailure(changed(at, 0x01)), ErrorKind::Damaged);      // restored length
    EXPECT_EQ(decompressFailure(changed(at + 7, 0x80)), ErrorKind::Damaged);  // its top byte
    EXPECT_EQ(decompressFailure(changed(at + 8, 0x01)), ErrorKind::Damaged);  // hash
    EXPECT_EQ(decompressFailure(changed(4, 0x10)), ErrorKind::Damaged);       // text flag: other bytes
    // A count one lower or higher: the coded data ends elsewhere, or the
    // restored bytes are too few or too many.
    for (const int delta : {-1, 1, -100}) {
        Bytes f = file;
        const uint32_t n = static_cast<uint32_t>(f[0] | f[1] << 8) + static_cast<uint32_t>(delta);
        f[0] = static_cast<uint8_t>(n);
        f[1] = static_cast<uint8_t>(n >> 8);
        EXPECT_EQ(decompressFailure(f), ErrorKind::Damaged) << delta;
    }
    // Bytes between the coded data and the trailer, or a coded byte gone.
    Bytes inserted = file;
    inserted.insert(inserted.begin() + static_cast<std::ptrdiff_t>(at), 0x00);
    EXPECT_EQ(decompressFailure(inserted), ErrorKind::Damaged);
    Bytes removed = file;
    removed.erase(removed.begin() + static_cast<std::ptrdiff_t>(at) - 1);
    EXPECT_EQ(decompressFailure(removed), ErrorKind::Damaged);
    // A trailer on too short a file overlaps the coded data.
    Bytes overlapping(kTrailer + 4, 0x00);
    const auto t = format::encodeTrailer({0, format::xxh64(nullptr, 0), format::kTrailerXxh64});
    std::copy(t.begin(), t.end(), overlapping.end() - kTrailer);
    EXPECT_EQ(decompressFailure(overlapping), ErrorKind::Damaged);
}

TEST(Trailer, WhatIsNotOurTrailerIsIgnoredAsTrailingBytes) {
    const Bytes input = qptest::sampleText(2000);
    const Bytes file = checked(input);
    Bytes back;
    // Bytes after the trailer: the file no longer ends with one.
    Bytes longer = file;
    longer.push_back(0x00);
    ASSERT_EQ(decompressFailure(longer, &back), std::nullopt);
    EXPECT_EQ(back, input);
    // A version this program does not know: read as any decoder reads it,
    // even when its length and hash would not match.
    Bytes later = file;
    later[file.size() - 9] = 2;
    later[file.size() - kTrailer] ^= 0xFF;
    back.clear();
    ASSERT_EQ(decompressFailure(later, &back), std::nullopt);
    EXPECT_EQ(back, input);
}

// Every single-bit flip of a few small checked files, header and trailer
// included, is refused or gives the original bytes back.
TEST(Trailer, EverySingleBitFlipIsRefusedOrHarmless) {
    for (const auto& [name, input] :
         std::vector<std::pair<std::string, Bytes>>{{"empty", {}},
                                                    {"abracadabra", bytesOf("abracadabra")},
                                                    {"Hello World", bytesOf("Hello World")},
                                                    {"text", qptest::sampleText(200)},
                                                    {"binary", qptest::sampleBinary(120)}}) {
        const Bytes file = checked(input);
        const size_t trailerBit = (file.size() - kTrailer) * 8;
        for (size_t bit = 0; bit < file.size() * 8; ++bit) {
            Bytes f = file;
            f[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            Bytes back;
            const std::optional<ErrorKind> failure = decompressFailure(f, &back);
            // The count, the restored length and the hash are always checked.
            const bool mustRefuse = bit < 32 || (bit >= trailerBit && bit < trailerBit + 128);
            if (failure) {
                ASSERT_EQ(*failure, ErrorKind::Damaged) << name << " bit " << bit;
            } else {
                ASSERT_FALSE(mustRefuse) << name << ": bit " << bit << " accepted";
                ASSERT_EQ(back, input) << name << ": bit " << bit << " decoded silently to other bytes";
            }
        }
    }
}

TEST(Trailer, TailKeeperHoldsTheLastBytesOfAnyPieces) {
    const Bytes data = qptest::sampleBinary(200);
    for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{24}, size_t{25}, size_t{26}, size_t{200}}) {
        format::TailKeeper k;
        for (size_t at = 0; at < data.size(); at += piece)
            format::keepTail(k, data.data() + at, std::min(piece, data.size() - at));
        format::keepTail(k, nullptr, 0);
        EXPECT_EQ(k.total, data.size()) << piece;
        ASSERT_EQ(k.kept, kTrailer) << piece;
        EXPECT_TRUE(std::equal(k.bytes.begin(), k.bytes.end(), data.end() - kTrailer)) << piece;
    }
    format::TailKeeper shortStream;
    format::keepTail(shortStream, data.data(), 3);
    format::keepTail(shortStream, data.data() + 3, 4);
    EXPECT_EQ(shortStream.kept, 7u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 7, shortStream.bytes.begin()));
}
