#include "driver/output.hpp"

#include <unistd.h>

#include <chrono>

#include "driver/byte_stream.hpp"
#include "driver/cleanup.hpp"
#include "driver/platform.hpp"

namespace quellpack::driver {

namespace {

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
        bool taken = false;
        const int fd = createExclusive(name, mode, taken);
        if (fd >= 0) {
            registerForCleanup(name);
            path = name;
            return fd;
        }
        if (!taken) return -1;
    }
    return -1;
}

bool openInPlace(const std::string& name, Output& out) {
    out.way = OutputWay::InPlace;
    out.target = FileHandle(openForWriting(name, false));
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
        out.file = FileHandle(openForWriting(name, existing.regular));
        return out.file.open();
    }
    // A file the user may not write is not replaced behind its back.
    if (existing.known && !mayWrite(resolved)) return false;
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
    if (input.regular) setPermissions(fd, mode);
    return true;
}

int readBackDescriptor(const Output& out) { return out.way == OutputWay::Direct ? -1 : out.file.fd; }

bool commitOutput(Output& out, const FileInfo& input) {
    switch (out.way) {
        case OutputWay::Direct:
            out.committed = true;
            return out.file.close();
        case OutputWay::InPlace: {
            const bool ok = truncateFile(out.target.fd) && copyWhole(out.file.fd, out.target.fd) &&
                            out.target.close();
            out.committed = true;
            out.file.close();
            return ok;
        }
        case OutputWay::Replace: {
            if (!syncFile(out.file.fd)) return false;
            if (input.regular) setTimes(out.file.fd, input);
            if (!out.file.close()) return false;
            SignalBlock block;
            if (!replaceFile(out.tempPath, out.destination)) return false;
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
        removeFile(out.tempPath);
        registerForCleanup("");
    }
}

}  // namespace quellpack::driver
