// The failures quellpack reports, as one exception type.
#pragma once

#include <stdexcept>

namespace quellpack {

// Which failure an Error reports.
enum class ErrorKind {
    Damaged,         // not a complete compressed file of ours
    TooLarge,        // input too long for the 32-bit length header
    OutOfMemory,     // an allocation failed
    VerifyFailed,    // a compressed result did not decode to its input
};

// Thrown by compress and decompress; what() is the message the program prints.
class Error : public std::runtime_error {
public:
    explicit Error(ErrorKind kind);
    ErrorKind kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

// The message for a failure, exactly as the program prints it.
const char* errorMessage(ErrorKind kind) noexcept;

}  // namespace quellpack
