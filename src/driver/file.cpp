#include "driver/file.hpp"

#include <unistd.h>

#include <utility>

namespace quellpack::driver {

bool sameFile(const FileInfo& a, const FileInfo& b) {
    if (!a.known || !b.known) return false;
    if (!a.regular && !a.blockDevice) return false;
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
