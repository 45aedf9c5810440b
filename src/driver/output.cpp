#include "driver/output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "driver/byte_stream.hpp"
#include "driver/cleanup.hpp"

namespace quellpack::driver {

namespace {

constexpr int kMaxLinks = 40;

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The name a symbolic link finally leads to (which need not exist yet).
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

// Names of descriptors the process already has (/dev/stdout, /proc/self/fd/1)
// stand for those streams, not for the files behind them.
bool namesAStream(const std::string& name) {
    const auto startsWith = [&name](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (name == "/dev/stdout" || name == "/dev/stderr" || startsWith("/dev/fd/")) return true;
    if (!startsWith("/proc/")) return false;
    const size_t fd = name.find("/fd/");
    const std::string owner = name.substr(6, fd == std::string::npos ? 0 : fd - 6);
    return owner == "self" || owner == "thread-self" ||
           (!owner.empty() && owner.find_first_not_of("0123456789") == std::string::npos);
}

// Creates a temporary in `dir` that no other run can have, with `mode`.
int createTemporary(const std::string& dir, mode_t mode, std::string& path) {
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<uint64_t>(::getpid()) << 32);
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = dir + "/.quellpack-";
        for (int i = 0; i < 8; ++i) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            name += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
        }
        SignalBlock block;
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            registerForCleanup(name);
            path = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool openInPlace(const std::string& name, Output& out) {
    out.way = OutputWay::InPlace;
    out.target = FileHandle(::open(name.c_str(), O_WRONLY | O_CLOEXEC));
    if (!out.target.open()) return false;
    out.file = anonymousTempFile();
    return out.file.open();
}

}  // namespace

Output::~Output() { abandonOutput(*this); }

FileInfo destinationInfo(const std::string& name) {
    return name == "-" ? infoOfDescriptor(STDOUT_FILENO) : infoOfName(name);
}

bool openOutput(const std::string& name, const FileInfo& input, Output& out) {
    if (name == "-") {
        out.file = FileHandle(STDOUT_FILENO);
        return true;
    }
    const std::string resolved = followLinks(name);
    const FileInfo existing = infoOfName(resolved);
    if ((existing.known && !existing.regular) || namesAStream(name)) {
        // Appending keeps what a shell's >> or an earlier writer put there.
        const int flags = existing.regular ? O_WRONLY | O_APPEND | O_CLOEXEC : O_WRONLY | O_CLOEXEC;
        out.file = FileHandle(::open(name.c_str(), flags));
        return out.file.open();
    }
    // A file the user may not write is not replaced behind its back.
    if (existing.known && ::access(resolved.c_str(), W_OK) != 0) return false;
    // Every name of a hard-linked file must see the new content.
    if (existing.known && existing.links > 1) return openInPlace(resolved, out);
    const mode_t mode = input.regular ? (input.mode & 0777) : 0666;
    std::string temp;
    const int fd = createTemporary(directoryOf(resolved), mode, temp);
    if (fd < 0) {
        // No temporary beside it (a directory we may not write to): a file
        // we may write is still replaced, though only in place.
        return existing.known && openInPlace(resolved, out);
    }
    out.way = OutputWay::Replace;
    out.file = FileHandle(fd);
    out.tempPath = temp;
    out.destination = resolved;
    // The umask may have taken bits the input has; a copy of a private
    // file never had more than the input's.
    if (input.regular) (void)!::fchmod(fd, mode);
    return true;
}

int readBackDescriptor(const Output& out) { return out.way == OutputWay::Direct ? -1 : out.file.fd; }

bool commitOutput(Output& out, const FileInfo& input) {
    switch (out.way) {
        case OutputWay::Direct:
            out.committed = true;
            return out.file.close();
        case OutputWay::InPlace: {
            const bool ok = ::ftruncate(out.target.fd, 0) == 0 && copyWhole(out.file.fd, out.target.fd) &&
                            out.target.close();
            out.committed = true;
            out.file.close();
            return ok;
        }
        case OutputWay::Replace: {
            if (::fsync(out.file.fd) != 0) return false;
            if (input.regular) {
                const struct timespec times[2] = {input.accessed, input.modified};
                (void)!::futimens(out.file.fd, times);
            }
            if (!out.file.close()) return false;
            SignalBlock block;
            if (::rename(out.tempPath.c_str(), out.destination.c_str()) != 0) return false;
            registerForCleanup("");
            out.committed = true;
            return true;
        }
    }
    return false;
}

void abandonOutput(Output& out) {
    if (out.committed) return;
    out.committed = true;
    out.file.close();
    out.target.close();
    if (out.way == OutputWay::Replace) {
        SignalBlock block;
        ::unlink(out.tempPath.c_str());
        registerForCleanup("");
    }
}

}  // namespace quellpack::driver
