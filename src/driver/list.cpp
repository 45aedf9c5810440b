#include "driver/list.hpp"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <optional>

#include <unistd.h>

#include "driver/byte_stream.hpp"
#include "driver/format/header.hpp"
#include "driver/format/trailer.hpp"
#include "driver/platform.hpp"
#include "driver/terminal.hpp"

namespace quellpack::driver {

namespace {

using format::Header;
using format::kMinFileSize;
using format::kTrailerSize;
using format::kTrailerXxh64;
using format::TailKeeper;
using format::Trailer;

constexpr int kFailure = 255;
constexpr size_t kChunk = size_t{1} << 16;

// What the start and the end of one file say.
struct Summary {
    uint64_t size = 0;
    Header header;
    std::optional<Trailer> trailer;
};

// The first bytes of a file and its last kTrailerSize bytes.
struct Ends {
    std::array<uint8_t, kMinFileSize> head{};
    size_t headLength = 0;
    TailKeeper tail;
};

// A regular file is read at its two ends; anything else (a pipe) is read
// through. Throws Error(ReadFailed).
Ends readEnds(const FileHandle& file) {
    Ends e;
    if (file.info.regular) {
        const uint64_t size = file.info.size;
        e.headLength = static_cast<size_t>(std::min<uint64_t>(size, kMinFileSize));
        const size_t tailLength = static_cast<size_t>(std::min<uint64_t>(size, kTrailerSize));
        std::array<uint8_t, kTrailerSize> last{};
        if (!readExactlyAt(file.fd, e.head.data(), e.headLength, 0) ||
            !readExactlyAt(file.fd, last.data(), tailLength, size - tailLength))
            throw Error(ErrorKind::ReadFailed);
        format::keepTail(e.tail, last.data(), tailLength);
        e.tail.total = size;
        return e;
    }
    uint64_t count = 0;
    const Reader read = countingReader(file.fd, count);
    std::vector<uint8_t> buf(kChunk);
    for (size_t got; (got = read(buf.data(), buf.size())) > 0;) {
        for (size_t i = 0; i < got && e.headLength < kMinFileSize; ++i) e.head[e.headLength++] = buf[i];
        format::keepTail(e.tail, buf.data(), got);
    }
    return e;
}

// The summary of a file, or Error(Damaged) when no file of ours looks so.
Summary summarize(const Ends& e) {
    if (e.headLength < kMinFileSize) throw Error(ErrorKind::Damaged);
    const std::optional<Header> header = format::parseHeader(e.head.data());
    if (!header) throw Error(ErrorKind::Damaged);
    Summary s{e.tail.total, *header, format::findTrailer(e.tail)};
    // A trailer that overlaps the header and the first coded bytes.
    if (s.trailer && s.trailer->version == kTrailerXxh64 && s.size < kMinFileSize + kTrailerSize)
        throw Error(ErrorKind::Damaged);
    return s;
}

void printRow(const Summary& s, const std::string& name) {
    char trailer[16] = "-", restored[24] = "-", ratio[16] = "-";
    if (s.trailer && s.trailer->version == kTrailerXxh64) {
        std::snprintf(trailer, sizeof trailer, "xxh64");
        std::snprintf(restored, sizeof restored, "%" PRIu64, s.trailer->restoredLength);
        if (s.trailer->restoredLength > 0)
            std::snprintf(ratio, sizeof ratio, "%.3f",
                          static_cast<double>(s.size) / static_cast<double>(s.trailer->restoredLength));
    } else if (s.trailer) {
        std::snprintf(trailer, sizeof trailer, "version %u", s.trailer->version);
    }
    std::printf("%12" PRIu64 " %12" PRIu32 "  %-4s  %-11s %12s  %6s  %s\n", s.size, s.header.count,
                s.header.text ? "yes" : "no", trailer, restored, ratio, name.c_str());
}

// Lists one file; false, after its message, when it cannot be listed.
bool listOne(const std::string& name, bool& headed) {
    FileHandle file(name == "-" ? STDIN_FILENO : openForReading(name));
    const bool opened = file.open() && file.info.known && !file.info.directory;
    ErrorKind failure = ErrorKind::ReadFailed;
    if (opened) {
        try {
            const Summary s = summarize(readEnds(file));
            file.close();
            if (!headed)
                std::printf("%12s %12s  %-4s  %-11s %12s  %6s  %s\n", "Compressed", "Stored", "Text", "Trailer",
                            "Restored", "Ratio", "Name");
            headed = true;
            printRow(s, name);
            return true;
        } catch (const Error& e) {
            failure = e.kind();
        }
    }
    file.close();
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", name.c_str(),
                 !opened ? "cannot open in file" : errorMessage(failure));
    return false;
}

}  // namespace

int listFiles(const std::vector<std::string>& names) {
    if (names.empty()) {
        std::fputs("quellpack {-l|--list} file...", stdout);
        std::fflush(stdout);
        waitForKeyIfTerminal();
        return kFailure;
    }
    bool all = true, headed = false;
    for (const std::string& name : names) all = listOne(name, headed) && all;
    const bool printed = std::fflush(stdout) == 0;
    if (!all) waitForKeyIfTerminal();
    return all && printed ? 0 : kFailure;
}

}  // namespace quellpack::driver
