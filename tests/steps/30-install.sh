#!/usr/bin/env bash
# Installs a Release build into a temporary prefix, then builds and runs the
# library example against the installed CMake package, checks the
# pkg-config file and the man page, and checks that nothing else was
# installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec </dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quellpack-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
corpus=../shared/corpus/alice29.txt

cmake -S . -B build-install -DCMAKE_BUILD_TYPE=Release -DQUELLPACK_BUILD_TESTS=OFF >/dev/null
cmake --build build-install -j"$(nproc)" >/dev/null
cmake --install build-install --prefix "$prefix" >/dev/null

# Exactly the program, the library, its headers, the packages and the man page.
expected="bin/quellpack
include/quellpack/error.hpp
include/quellpack/quellpack.hpp
include/quellpack/version.hpp
lib/cmake/quellpack/quellpackConfig.cmake
lib/cmake/quellpack/quellpackConfigVersion.cmake
lib/cmake/quellpack/quellpackTargets-release.cmake
lib/cmake/quellpack/quellpackTargets.cmake
lib/libquellpack.a
lib/pkgconfig/quellpack.pc
share/man/man1/quellpack.1"
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
# GNUInstallDirs may pick lib64 or a multiarch directory: compare without it.
normalised=$(echo "$installed" | sed -E 's#^lib(64|/[a-z0-9_]+-linux-gnu)?/#lib/#')
if [ "$normalised" != "$expected" ]; then
  echo "installed files differ from the expected set:"
  diff <(echo "$expected") <(echo "$normalised") || true
  exit 1
fi
libdir=$(dirname "$(cd "$prefix" && find . -name libquellpack.a | sed 's|^\./||')")

# The example, built only from the installed package (no standard set there).
cmake -S examples -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/roundtrip" "$corpus" "$work/alice.qp" | tee "$work/report.txt"
grep -q "restored exactly" "$work/report.txt"
grep -q "Damaged" "$work/report.txt"
# The library's file is the program's file, and the program restores it.
"$prefix/bin/quellpack" c "$corpus" "$work/alice-cli.qp"
cmp "$work/alice.qp" "$work/alice-cli.qp"
"$prefix/bin/quellpack" d "$work/alice.qp" "$work/alice.txt"
cmp "$corpus" "$work/alice.txt"
[ "$("$prefix/bin/quellpack" --version)" = "quellpack $(sed -nE 's/^project\(quellpack VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)" ]

# pkg-config: the flags it gives build and link the example too.
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs quellpack)
echo "pkg-config: $flags"
c++ -std=c++20 examples/roundtrip.cpp $flags -o "$work/roundtrip-pc"
report=$("$work/roundtrip-pc" "$corpus")
grep -q "restored exactly" <<<"$report"

# The man page is there and, where the tools exist, renders cleanly.
man_page="$prefix/share/man/man1/quellpack.1"
[ -s "$man_page" ]
if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$man_page" 2>&1)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
fi
if command -v man >/dev/null && man -l "$man_page" >/dev/null 2>&1; then
  rendered=$(MANWIDTH=80 man -l "$man_page")
  grep -q -- "--verify" <<<"$rendered"
fi
echo "install step passed"
