#include "driver/file.hpp"

#include <unistd.h>

#include <utility>

namespace quellpack::driver {

FileInfo infoOf(const struct stat& st) {
    FileInfo info;
    info.known = true;
    info.regular = S_ISREG(st.st_mode);
    info.directory = S_ISDIR(st.st_mode);
    info.device = st.st_dev;
    info.inode = st.st_ino;
    info.size = info.regular && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    info.links = st.st_nlink;
    info.mode = st.st_mode;
    info.accessed = st.st_atim;
    info.modified = st.st_mtim;
    return info;
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

bool sameFile(const FileInfo& a, const FileInfo& b) {
    if (!a.known || !b.known) return false;
    if (!a.regular && !S_ISBLK(a.mode)) return false;
    return a.device == b.device && a.inode == b.inode;
}

FileHandle::FileHandle(int descriptor) : fd(descriptor) {
    if (fd >= 0) info = infoOfDescriptor(fd);
}

FileHandle::FileHandle(FileHandle&& other) noexcept : fd(std::exchange(other.fd, -1)), info(other.info) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd = std::exchange(other.fd, -1);
        info = other.info;
    }
    return *this;
}

bool FileHandle::close() {
    if (fd < 0) return true;
    const int closing = std::exchange(fd, -1);
    if (closing <= STDERR_FILENO) return true;
    return ::close(closing) == 0;
}

}  // namespace quellpack::driver
