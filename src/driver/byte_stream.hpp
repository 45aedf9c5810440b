// Whole-file reading and writing for the command-line program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quellpack/quellpack.hpp"

namespace quellpack::driver {

// An open file, or a standard stream for the name "-".
struct File {
    int fd = -1;
    bool isStdStream = false;
    bool created = false;   // output: this run created the file
    bool regular = false;   // output: a regular file, identified below
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string name;
};

enum class OpenResult { Ok, Failed, IsDirectory };

// Opens a file for reading; "-" is standard input.
OpenResult openForReading(const std::string& name, File& file);

// Opens a file for writing without truncating it yet; "-" is standard
// output. A file that did not exist is created.
bool openForWriting(const std::string& name, File& file);

// True when both are the same regular file or block device (same device
// and inode); a terminal or /dev/null on both sides is not a clash.
bool sameFile(const File& a, const File& b);

// True when the file is a regular file of more than `limit` bytes, so that
// it can be refused before it is read.
bool longerThan(const File& file, uint64_t limit);

// Reads the whole file. False on a read error.
bool readAll(const File& file, std::vector<uint8_t>& data);

// Empties an output file that is a regular file; other outputs are left.
bool truncateOutput(const File& file);

// Writes all bytes. False on any write error.
bool writeAll(const File& file, const uint8_t* data, size_t n);

// True when the file is a regular file (which can be read again from its start).
bool isRegularFile(const File& file);

// Size of a regular file.
uint64_t fileSize(const File& file);

// The file as a re-readable source of `size` bytes; its readers throw
// Error(ReadFailed) on a read error.
Source fileSource(const File& file, uint64_t size);

// A reader of the file from where it stands, adding what it reads to
// `count`; throws Error(ReadFailed) on a read error.
Reader countingReader(const File& file, uint64_t& count);

// Closes the file; false when the close reported an error.
bool closeFile(File& file);

// Removes an output this run wrote or created and closes it. Only a regular
// file still found under its name is unlinked: never a standard stream or a
// device such as /dev/full; a file reached through a symbolic link is
// emptied instead, so that the link stays.
void removeOutput(File& file);

}  // namespace quellpack::driver
