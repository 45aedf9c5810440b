#!/usr/bin/env bash
# Builds the whole test suite with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding is fatal) and runs it.
set -euo pipefail
cd "$(dirname "$0")/../.."

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DQUELLPACK_BUILD_TESTS=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
