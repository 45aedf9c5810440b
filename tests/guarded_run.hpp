// Runs of the built quellpack under a time limit and, optionally, a memory
// limit: for hostile files that must fail fast and small.
#pragma once

// Running programs needs POSIX (as in test_support.hpp).
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "test_support.hpp"

// Address-space limits do not mix with AddressSanitizer's shadow memory.
#if defined(__SANITIZE_ADDRESS__)
#define QPTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QPTEST_ASAN 1
#endif
#endif
#ifndef QPTEST_ASAN
#define QPTEST_ASAN 0
#endif

namespace qptest {

// Runs quellpack like runQuellpack, killed by SIGALRM (status -1) after
// `seconds`, with its address space limited to `addressSpace` bytes unless
// that is 0 or the build uses AddressSanitizer; `setup` runs first in the
// child.
inline RunResult runGuarded(const std::vector<std::string>& args, unsigned seconds = 60, size_t addressSpace = 0,
                            const std::function<void()>& setup = {}, const std::string& stdinPath = "") {
    return runQuellpack(args, "", stdinPath, [&] {
        if (setup) setup();
        if (addressSpace != 0 && !QPTEST_ASAN) {
            const struct rlimit lim = {addressSpace, addressSpace};
            ::setrlimit(RLIMIT_AS, &lim);
        }
        // A pending alarm survives exec: it bounds the program's run time.
        ::alarm(seconds);
    });
}

}  // namespace qptest

#endif
