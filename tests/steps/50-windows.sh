#!/usr/bin/env bash
# Cross-compiles the library, its C interface and the library's GoogleTest
# suites for Windows with mingw-w64 (x86_64, and i686 where wine can run
# 32-bit programs) and runs the suites under wine in a fresh prefix. The
# command line is not ported yet, so its suites do not run here. Installs
# the Debian packages it needs. QUELLPACK_WINDOWS_TARGETS="x86_64" limits
# the targets.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec </dev/null

targets="${QUELLPACK_WINDOWS_TARGETS:-x86_64 i686}"
need=()
for pkg in g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [[ " $targets " == *" i686 "* ]] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  dpkg --add-architecture i386
  need+=(wine32:i386)
fi
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quellpack-windows-XXXXXX")
trap 'rm -rf "$work"' EXIT
# A prefix made after the install, so that it has the 32-bit side too.
export WINEPREFIX="$work/wine" WINEDEBUG=-all
# Debian's wine picks the 32- or 64-bit loader by the program.
wine=wine
command -v wine >/dev/null || wine=/usr/lib/wine/wine64

for target in $targets; do
  echo "-- $target"
  build="build-mingw-$target"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$target.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
  "$wine" "$build/tests/quellpack_tests.exe" --gtest_brief=1 2>&1 | tee "$work/$target.log" | tail -n 20
  grep -qE "^\[  PASSED  \] [1-9][0-9]* tests" "$work/$target.log"
done
echo "windows step passed"
