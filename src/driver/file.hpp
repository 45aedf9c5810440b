// An open file descriptor that closes itself, with what fstat said of it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace quellpack::driver {

// What the program needs to know of a file, learnt once from fstat or stat.
struct FileInfo {
    bool known = false;  // false: the file does not exist or could not be examined
    bool regular = false;
    bool directory = false;
    bool terminal = false;
    bool blockDevice = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    uint64_t links = 0;
    mode_t mode = 0;
    struct timespec accessed = {};
    struct timespec modified = {};
};

// The file behind a descriptor; known is false when it cannot be examined.
FileInfo infoOfDescriptor(int fd);

// The file a name reaches (through symbolic links); known is false when none.
FileInfo infoOfName(const std::string& name);

// True when both name the same regular file or block device; terminals,
// pipes and /dev/null hold nothing that writing could destroy.
bool sameFile(const FileInfo& a, const FileInfo& b);

// Owns a descriptor: closed when the handle goes, unless it is one of the
// standard streams (which are only borrowed).
struct FileHandle {
    int fd = -1;
    FileInfo info;

    FileHandle() = default;
    FileHandle(int descriptor);
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    ~FileHandle() { close(); }

    bool open() const { return fd >= 0; }
    // Closes now; false when the close reported an error.
    bool close();
};

}  // namespace quellpack::driver
