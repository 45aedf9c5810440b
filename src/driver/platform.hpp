// The few things the program asks of the operating system, each system's
// form in a file of its own (platform_posix.cpp, platform_windows.cpp; the
// Windows file also holds that system's forms of file.hpp's infoOf*,
// cleanup.hpp and terminal.hpp). Names are UTF-8 everywhere; a system that
// wants another encoding converts at its edge.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/file.hpp"

namespace quellpack::driver {

// The program's arguments, its name first: argv as given, or on Windows the
// process's command line split by the program's own rule.
std::vector<std::string> programArguments(int argc, char** argv);

// Readies the standard streams for a run: binary, and never closed (a file
// opened later must not become descriptor 0, 1 or 2); a closed pipe is a
// write error, not a signal.
void prepareStandardStreams();

// A descriptor open for reading an existing file (others may read and
// write it meanwhile), or -1.
int openForReading(const std::string& name);

// A descriptor open for writing an existing file or device, at its end
// when `append`, or -1.
int openForWriting(const std::string& name, bool append);

// Creates `path`, which must not exist, for reading and writing with the
// permission bits `mode`; -1 on failure, with `taken` set when the name
// was already in use.
int createExclusive(const std::string& path, mode_t mode, bool& taken);

// The directory holding `path` ("." for a bare name).
std::string directoryOf(const std::string& path);

// The name a symbolic link finally leads to (which need not exist yet).
std::string followLinks(std::string path);

// True for names of streams the process already has (/dev/stdout,
// /proc/self/fd/1), which stand for those streams, not for their files.
bool namesAStream(const std::string& name);

// True when the user may write the existing file `path`.
bool mayWrite(const std::string& path);

// Sets a new file's permission bits (where the system has them).
void setPermissions(int fd, mode_t mode);

// Gives the file the access and modification times of `from`.
void setTimes(int fd, const FileInfo& from);

// Forces what was written to the disk; false on failure.
bool syncFile(int fd);

// Empties the file; false on failure.
bool truncateFile(int fd);

// Makes `from` the file named `to`, replacing what was there, in one step.
bool replaceFile(const std::string& from, const std::string& to);

// Removes the name `path`.
void removeFile(const std::string& path);

// Reads up to n bytes at `offset` without relying on the file's position
// afterwards; the count read, -1 on an error.
ssize_t readAt(int fd, uint8_t* dst, size_t n, uint64_t offset);

// True when the descriptor is a terminal or console.
bool isTerminal(int fd);

// The memory the program may count on: the smaller of the machine's memory
// and the process's own limit (a control group, the address space), or 0
// when nothing can be learnt.
uint64_t machineMemory();

}  // namespace quellpack::driver
