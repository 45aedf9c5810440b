// Reading and writing whole files through descriptors for the program.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "driver/file.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack::driver {

// Reads until n bytes are in or the file ends; the count read, -1 on an error.
ssize_t readFully(int fd, uint8_t* dst, size_t n);

// Reads exactly n bytes at `offset` of a file that can be read at any
// offset; false on a read error or an early end.
bool readExactlyAt(int fd, uint8_t* dst, size_t n, uint64_t offset);

// Writes all n bytes; false on any write error.
bool writeAll(int fd, const uint8_t* data, size_t n);

// The first `size` bytes of a file that can be read at any offset, as a
// source that can be read from its start more than once; its readers throw
// Error(ReadFailed) on a read error.
Source fileSource(int fd, uint64_t size);

// A reader of the file from where it stands, adding what it reads to
// `count`; throws Error(ReadFailed) on a read error.
Reader countingReader(int fd, uint64_t& count);

// A temporary file without a name, gone when closed: under TMPDIR (default
// /tmp), or in memory where no file can be made there. Not open on failure.
FileHandle anonymousTempFile();

// Copies what `fd` supplies into an anonymous temporary file, so that it
// can be read again. Throws Error(TooLarge) as soon as more than `limit`
// bytes arrive, Error(ReadFailed) when reading or keeping it fails.
FileHandle spoolInput(int fd, uint64_t limit, uint64_t& size);

// Copies the whole of file `from` to `to` where it stands; false on an error.
bool copyWhole(int from, int to);

}  // namespace quellpack::driver
