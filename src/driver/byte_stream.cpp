#include "driver/byte_stream.hpp"

#include "driver/platform.hpp"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace quellpack::driver {

namespace {
constexpr size_t kCopyChunk = size_t{1} << 16;
}

bool readExactlyAt(int fd, uint8_t* dst, size_t n, uint64_t offset) {
    while (n > 0) {
        const ssize_t got = readAt(fd, dst, n, offset);
        if (got <= 0) return false;
        dst += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

ssize_t readFully(int fd, uint8_t* dst, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::read(fd, dst + done, n - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool writeAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(fd, data, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

Source fileSource(int fd, uint64_t size) {
    return Source{size, [fd]() -> Reader {
                      if (::lseek(fd, 0, SEEK_SET) != 0) throw Error(ErrorKind::ReadFailed);
                      return [fd](uint8_t* buf, size_t capacity) {
                          const ssize_t got = readFully(fd, buf, capacity);
                          if (got < 0) throw Error(ErrorKind::ReadFailed);
                          return static_cast<size_t>(got);
                      };
                  }};
}

Reader countingReader(int fd, uint64_t& count) {
    return [fd, &count](uint8_t* buf, size_t capacity) {
        const ssize_t got = readFully(fd, buf, capacity);
        if (got < 0) throw Error(ErrorKind::ReadFailed);
        count += static_cast<uint64_t>(got);
        return static_cast<size_t>(got);
    };
}

FileHandle spoolInput(int fd, uint64_t limit, uint64_t& size) {
    FileHandle spool = anonymousTempFile();
    if (!spool.open()) throw Error(ErrorKind::ReadFailed);
    std::vector<uint8_t> chunk(kCopyChunk);
    size = 0;
    for (;;) {
        const ssize_t got = readFully(fd, chunk.data(), chunk.size());
        if (got < 0) throw Error(ErrorKind::ReadFailed);
        if (got == 0) return spool;
        size += static_cast<uint64_t>(got);
        if (size > limit) throw Error(ErrorKind::TooLarge);
        if (!writeAll(spool.fd, chunk.data(), static_cast<size_t>(got))) throw Error(ErrorKind::ReadFailed);
    }
}

bool copyWhole(int from, int to) {
    if (::lseek(from, 0, SEEK_SET) != 0) return false;
    std::vector<uint8_t> chunk(kCopyChunk);
    for (;;) {
        const ssize_t got = readFully(from, chunk.data(), chunk.size());
        if (got < 0) return false;
        if (got == 0) return true;
        if (!writeAll(to, chunk.data(), static_cast<size_t>(got))) return false;
    }
}

}  // namespace quellpack::driver
