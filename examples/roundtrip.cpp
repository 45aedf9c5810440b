// Compresses a file through the quellpack library, restores it, checks that
// the same bytes come back, and shows how a damaged file is reported.
//
//   roundtrip FILE [PACKED]    PACKED: where to keep the compressed bytes
//
// Exit status 0 when the round trip restored FILE exactly, 1 otherwise.
#include <quellpack/quellpack.hpp>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

namespace {

// Reads a whole file; false when it cannot be read.
bool readFile(const char* path, std::vector<std::uint8_t>& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes a whole file; false on any failure.
bool writeFile(const char* path, const std::vector<std::uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out.flush());
}

// The name of a failure kind, for the report.
const char* kindName(quellpack::ErrorKind kind) {
    switch (kind) {
        case quellpack::ErrorKind::Damaged: return "Damaged";
        case quellpack::ErrorKind::TooLarge: return "TooLarge";
        case quellpack::ErrorKind::OutOfMemory: return "OutOfMemory";
        case quellpack::ErrorKind::VerifyFailed: return "VerifyFailed";
        case quellpack::ErrorKind::ReadFailed: return "ReadFailed";
        case quellpack::ErrorKind::WriteFailed: return "WriteFailed";
    }
    return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: roundtrip FILE [PACKED]\n");
        return 1;
    }
    std::vector<std::uint8_t> original;
    if (!readFile(argv[1], original)) {
        std::fprintf(stderr, "roundtrip: cannot read %s\n", argv[1]);
        return 1;
    }
    try {
        quellpack::Options options;
        options.verify = true;  // the library decodes and compares before returning
        const std::vector<std::uint8_t> packed = quellpack::compress(original, options);
        if (argc > 2 && !writeFile(argv[2], packed)) {
            std::fprintf(stderr, "roundtrip: cannot write %s\n", argv[2]);
            return 1;
        }
        const std::vector<std::uint8_t> restored = quellpack::decompress(packed);
        if (restored != original) {
            std::fprintf(stderr, "roundtrip: restored bytes differ\n");
            return 1;
        }
        std::printf("%s: %zu bytes -> %zu bytes with quellpack %s, restored exactly\n", argv[1], original.size(),
                    packed.size(), quellpack::kVersion);

        // A file cut in half is refused with a kind, not restored wrongly.
        try {
            quellpack::decompress(std::span(packed).first(packed.size() / 2));
            std::printf("half of the compressed file was accepted\n");
        } catch (const quellpack::Error& e) {
            std::printf("half of the compressed file: %s (\"%s\")\n", kindName(e.kind()), e.what());
        }
    } catch (const quellpack::Error& e) {
        std::fprintf(stderr, "roundtrip: %s (\"%s\")\n", kindName(e.kind()), e.what());
        return 1;
    }
    return 0;
}
