#include "driver/byte_stream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quellpack::driver {

OpenResult openForReading(const std::string& name, File& file) {
    file.name = name;
    if (name == "-") {
        file.fd = STDIN_FILENO;
        file.isStdStream = true;
    } else {
        file.fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (file.fd < 0) return OpenResult::Failed;
    }
    struct stat st;
    if (::fstat(file.fd, &st) == 0 && S_ISDIR(st.st_mode)) return OpenResult::IsDirectory;
    return OpenResult::Ok;
}

bool openForWriting(const std::string& name, File& file) {
    file.name = name;
    if (name == "-") {
        file.fd = STDOUT_FILENO;
        file.isStdStream = true;
        return true;
    }
    file.fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd >= 0) {
        file.created = true;
    } else {
        if (errno != EEXIST) return false;
        file.fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
        if (file.fd < 0) return false;
    }
    struct stat st;
    if (::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode)) {
        file.regular = true;
        file.device = st.st_dev;
        file.inode = st.st_ino;
    }
    return true;
}

bool sameFile(const File& a, const File& b) {
    struct stat sa, sb;
    if (::fstat(a.fd, &sa) != 0 || ::fstat(b.fd, &sb) != 0) return false;
    // Terminals, pipes and /dev/null hold no data that writing could destroy.
    if (!S_ISREG(sa.st_mode) && !S_ISBLK(sa.st_mode)) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool longerThan(const File& file, uint64_t limit) {
    struct stat st;
    return ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit;
}

namespace {

// Reads up to n bytes at dst; returns the count read, or -1 on an error.
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

}  // namespace

bool readAll(const File& file, std::vector<uint8_t>& data) {
    struct stat st;
    size_t expected = 0;
    if (::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) expected = static_cast<size_t>(st.st_size);
    data.clear();
    data.resize(expected);
    const ssize_t got = readFully(file.fd, data.data(), expected);
    if (got < 0) return false;
    data.resize(static_cast<size_t>(got));
    // Pipes, and files that grew since fstat, are read on to their end.
    uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t more = readFully(file.fd, chunk, sizeof chunk);
        if (more < 0) return false;
        if (more == 0) return true;
        data.insert(data.end(), chunk, chunk + more);
    }
}

bool isRegularFile(const File& file) {
    struct stat st;
    return ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode);
}

uint64_t fileSize(const File& file) {
    struct stat st;
    return ::fstat(file.fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

Source fileSource(const File& file, uint64_t size) {
    const int fd = file.fd;
    return Source{size, [fd]() -> Reader {
                      if (::lseek(fd, 0, SEEK_SET) != 0) throw Error(ErrorKind::ReadFailed);
                      return [fd](uint8_t* buf, size_t capacity) {
                          const ssize_t got = readFully(fd, buf, capacity);
                          if (got < 0) throw Error(ErrorKind::ReadFailed);
                          return static_cast<size_t>(got);
                      };
                  }};
}

Reader countingReader(const File& file, uint64_t& count) {
    const int fd = file.fd;
    return [fd, &count](uint8_t* buf, size_t capacity) {
        const ssize_t got = readFully(fd, buf, capacity);
        if (got < 0) throw Error(ErrorKind::ReadFailed);
        count += static_cast<uint64_t>(got);
        return static_cast<size_t>(got);
    };
}

bool truncateOutput(const File& file) {
    struct stat st;
    if (file.isStdStream || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    return ::ftruncate(file.fd, 0) == 0;
}

bool writeAll(const File& file, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(file.fd, data, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

bool closeFile(File& file) {
    if (file.fd < 0) return true;
    const int fd = file.fd;
    file.fd = -1;
    if (file.isStdStream) return true;
    return ::close(fd) == 0;
}

void removeOutput(File& file) {
    closeFile(file);
    if (file.isStdStream || !file.regular) return;
    const auto isOurs = [&file](const struct stat& st) {
        return st.st_dev == file.device && st.st_ino == file.inode;
    };
    struct stat st;
    if (::lstat(file.name.c_str(), &st) == 0 && isOurs(st)) {
        ::unlink(file.name.c_str());
    } else if (::stat(file.name.c_str(), &st) == 0 && isOurs(st)) {
        (void)!::truncate(file.name.c_str(), 0);
    }
}

}  // namespace quellpack::driver
