#include "driver/platform.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <limits>

#include "driver/byte_stream.hpp"
#include "driver/memory_limit.hpp"

namespace quellpack::driver {

namespace {

constexpr int kMaxLinks = 40;
constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();

// The start of a small system file ("" when it cannot be read). Plain
// reads: the streams library would cost the program more memory than this.
std::string startOf(const std::string& path) {
    char buf[4096];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

// A number alone in a file such as memory.max; kNone for "max" or nothing.
uint64_t numberIn(const std::string& path) {
    std::string word = startOf(path);
    word = word.substr(0, word.find_first_of(" \n"));
    uint64_t v = 0;
    return parseSize(word, v) && v > 0 ? v : kNone;
}

uint64_t memTotal() {
    const std::string info = startOf("/proc/meminfo");
    const size_t at = info.find("MemTotal:");
    if (at == std::string::npos) return kNone;
    const uint64_t kib = std::strtoull(info.c_str() + at + 9, nullptr, 10);
    return kib ? kib * 1024 : kNone;
}

// The limit of the control group the process is in (version 2, else 1).
uint64_t cgroupLimit() {
    const std::string self = startOf("/proc/self/cgroup");
    uint64_t limit = kNone;
    for (size_t from = 0; from < self.size();) {
        size_t end = self.find('\n', from);
        if (end == std::string::npos) end = self.size();
        const std::string line = self.substr(from, end - from);
        from = end + 1;
        const size_t colon = line.find(':', line.find(':') + 1);
        if (colon == std::string::npos) continue;
        const std::string path = line.substr(colon + 1);
        const std::string controllers = line.substr(line.find(':') + 1, colon - line.find(':') - 1);
        if (controllers.empty()) {
            limit = std::min({limit, numberIn("/sys/fs/cgroup" + path + "/memory.max"),
                              numberIn("/sys/fs/cgroup/memory.max")});
        } else if (controllers.find("memory") != std::string::npos) {
            limit = std::min({limit, numberIn("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes"),
                              numberIn("/sys/fs/cgroup/memory/memory.limit_in_bytes")});
        }
    }
    return limit;
}

FileInfo infoOf(const struct stat& st) {
    FileInfo info;
    info.known = true;
    info.regular = S_ISREG(st.st_mode);
    info.directory = S_ISDIR(st.st_mode);
    info.blockDevice = S_ISBLK(st.st_mode);
    info.device = st.st_dev;
    info.inode = st.st_ino;
    info.size = info.regular && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    info.links = st.st_nlink;
    info.mode = st.st_mode;
    info.accessed = st.st_atim;
    info.modified = st.st_mtim;
    return info;
}

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void prepareStandardStreams() {
    std::signal(SIGPIPE, SIG_IGN);
    // The stand-ins fail when used: reading the standard input or writing
    // the standard output still reports an error.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY)) < 0) return;
    }
}

FileInfo infoOfDescriptor(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return FileInfo{};
    FileInfo info = infoOf(st);
    info.terminal = ::isatty(fd) == 1;
    return info;
}

FileInfo infoOfName(const std::string& name) {
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return FileInfo{};
    return infoOf(st);
}

int openForReading(const std::string& name) { return ::open(name.c_str(), O_RDONLY | O_CLOEXEC); }

int openForWriting(const std::string& name, bool append) {
    return ::open(name.c_str(), append ? O_WRONLY | O_APPEND | O_CLOEXEC : O_WRONLY | O_CLOEXEC);
}

int createExclusive(const std::string& path, mode_t mode, bool& taken) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    taken = fd < 0 && errno == EEXIST;
    return fd;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string followLinks(std::string path) {
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) return path;
        const std::string to(target, static_cast<size_t>(n));
        path = to[0] == '/' ? to : directoryOf(path) + "/" + to;
    }
    return path;
}

bool namesAStream(const std::string& name) {
    const auto startsWith = [&name](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (name == "/dev/stdout" || name == "/dev/stderr" || startsWith("/dev/fd/")) return true;
    if (!startsWith("/proc/")) return false;
    const size_t fd = name.find("/fd/");
    const std::string owner = name.substr(6, fd == std::string::npos ? 0 : fd - 6);
    return owner == "self" || owner == "thread-self" ||
           (!owner.empty() && owner.find_first_not_of("0123456789") == std::string::npos);
}

bool mayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

void setPermissions(int fd, mode_t mode) { (void)!::fchmod(fd, mode); }

void setTimes(int fd, const FileInfo& from) {
    const struct timespec times[2] = {from.accessed, from.modified};
    (void)!::futimens(fd, times);
}

bool syncFile(int fd) { return ::fsync(fd) == 0; }

bool truncateFile(int fd) { return ::ftruncate(fd, 0) == 0; }

bool replaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

ssize_t readAt(int fd, uint8_t* dst, size_t n, uint64_t offset) {
    return ::pread(fd, dst, n, static_cast<off_t>(offset));
}

bool isTerminal(int fd) { return ::isatty(fd) == 1; }

uint64_t machineMemory() {
    const uint64_t machine = std::min(memTotal(), cgroupLimit());
    return machine == kNone ? 0 : machine;
}

FileHandle anonymousTempFile() {
    const char* dir = std::getenv("TMPDIR");
    const std::string base = dir && *dir ? dir : "/tmp";
    int fd = ::open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // File systems without O_TMPFILE: a named file, unlinked at once.
        std::string name = base + "/quellpack-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) fd = ::memfd_create("quellpack", MFD_CLOEXEC);
    return FileHandle(fd);
}

}  // namespace quellpack::driver
