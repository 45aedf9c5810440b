// The failures quellpack reports, as one exception type.
#pragma once

#include <stdexcept>

#include "quellpack/export.h"

namespace quellpack {

// Which failure an Error reports. New kinds may be added at the end.
enum class ErrorKind {
    Damaged,         // decompress: not a complete compressed file of ours
    TooLarge,        // compress: input too long for the 32-bit length header
    OutOfMemory,     // either: an allocation failed; nothing was returned
    VerifyFailed,    // compress with verify: the result did not decode to its input
    ReadFailed,      // streams: the input could not be read, or ended early
    WriteFailed,     // streams: the output could not be written
};

// Thrown by compress and decompress; what() is errorMessage(kind()), the
// message the quellpack program prints for this failure.
class QUELLPACK_API Error : public std::runtime_error {
public:
    explicit Error(ErrorKind kind);
    ErrorKind kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

// The fixed English message for a failure, exactly as the program prints
// it (no trailing newline); never null.
QUELLPACK_API const char* errorMessage(ErrorKind kind) noexcept;

}  // namespace quellpack
