// The failures of the public calls and their fixed messages.
#include "quellpack/error.hpp"

namespace quellpack {

Error::Error(ErrorKind kind) : std::runtime_error(errorMessage(kind)), kind_(kind) {}

const char* errorMessage(ErrorKind kind) noexcept {
    switch (kind) {
        case ErrorKind::Damaged: return "in file is damaged";
        case ErrorKind::TooLarge: return "in file is too large";
        case ErrorKind::OutOfMemory: return "not enough memory";
        case ErrorKind::VerifyFailed: return "verification failed";
        case ErrorKind::ReadFailed: return "cannot read in file";
        case ErrorKind::WriteFailed: return "cannot write out file";
    }
    return "unknown error";
}

}  // namespace quellpack
