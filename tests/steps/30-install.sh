#!/usr/bin/env bash
# Installs a Release build with a static and one with a shared library
# into temporary prefixes; for each, checks that nothing else was installed,
# builds the C++ and the C example against the installed CMake package and
# through pkg-config without a warning and runs them (the C one over the
# whole corpus); checks the shared library's links, SONAME and exports, and
# the man page.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec </dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quellpack-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
corpus=../shared/corpus/alice29.txt

version=$(sed -nE 's/^project\(quellpack VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
cflags_c="-std=c99 -Wall -Wextra -pedantic -Werror"

# Both kinds of library; the program is static in both.
for kind in static shared; do
  echo "-- $kind library"
  prefix="$work/$kind"
  shared=OFF
  [ "$kind" = shared ] && shared=ON
  cmake -S . -B "build-install-$kind" -DCMAKE_BUILD_TYPE=Release -DQUELLPACK_BUILD_TESTS=OFF \
    -DBUILD_SHARED_LIBS=$shared >/dev/null
  cmake --build "build-install-$kind" -j"$(nproc)" >/dev/null
  cmake --install "build-install-$kind" --prefix "$prefix" >/dev/null

  # Exactly the program, the library, its headers, the packages and the man page.
  if [ "$kind" = static ]; then library="lib/libquellpack.a"; else library="lib/libquellpack.so.$version"; fi
  expected="bin/quellpack
include/quellpack/error.hpp
include/quellpack/export.h
include/quellpack/quellpack.h
include/quellpack/quellpack.hpp
include/quellpack/version.hpp
lib/cmake/quellpack/quellpackConfig.cmake
lib/cmake/quellpack/quellpackConfigVersion.cmake
lib/cmake/quellpack/quellpackTargets-release.cmake
lib/cmake/quellpack/quellpackTargets.cmake
$library
lib/pkgconfig/quellpack.pc
share/man/man1/quellpack.1"
  expected=$(echo "$expected" | LC_ALL=C sort)
  installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  # GNUInstallDirs may pick lib64 or a multiarch directory: compare without it.
  normalised=$(echo "$installed" | sed -E 's#^lib(64|/[a-z0-9_]+-linux-gnu)?/#lib/#')
  if [ "$normalised" != "$expected" ]; then
    echo "installed files differ from the expected set:"
    diff <(echo "$expected") <(echo "$normalised") || true
    exit 1
  fi
  libdir=$(dirname "$(cd "$prefix" && find . -name "$(basename "$library")" | sed 's|^\./||')")
  if [ "$kind" = shared ]; then
    # The usual links, the SONAME from the major version, and nothing
    # exported beyond the C functions and the quellpack namespace.
    so="$prefix/$libdir/libquellpack.so"
    [ "$(readlink "$so")" = "libquellpack.so.${version%%.*}" ]
    [ "$(readlink "$so.${version%%.*}")" = "libquellpack.so.$version" ]
    grep -q "SONAME *libquellpack.so.${version%%.*}$" <<<"$(objdump -p "$so")"
    foreign=$(nm -D --defined-only "$so" | awk '{print $3}' | grep -vE '^(quellpack_|_ZN9quellpack|_ZT[ISV]N9quellpack)' || true)
    [ -z "$foreign" ] || { echo "exported beyond the API:"; echo "$foreign"; exit 1; }
    export LD_LIBRARY_PATH="$prefix/$libdir"
  fi

  # The examples, built only from the installed package (no C++ standard
  # set there), without a warning.
  cmake -S examples -B "$work/example-$kind" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" -DCMAKE_C_FLAGS="-Wall -Wextra -pedantic -Werror" >/dev/null
  cmake --build "$work/example-$kind" >/dev/null
  if [ "$kind" = shared ]; then
    linked=$(ldd "$work/example-$kind/roundtrip_c")
    grep -q "libquellpack.so.${version%%.*} => $prefix" <<<"$linked"
  fi
  "$work/example-$kind/roundtrip" "$corpus" "$work/alice.qp" | tee "$work/report.txt"
  grep -q "restored exactly" "$work/report.txt"
  grep -q "Damaged" "$work/report.txt"
  # The C interface round-trips every file of the corpus.
  "$work/example-$kind/roundtrip_c" ../shared/corpus/* >"$work/report-c.txt"
  [ "$(grep -c "restored exactly" "$work/report-c.txt")" = "$(ls ../shared/corpus | wc -l)" ]
  grep -q "^quellpack $version " "$work/report-c.txt"

  # pkg-config: the flags it gives build and link the examples too, and a
  # shared object of the caller's can take the static library in.
  export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
  flags=$(pkg-config --cflags --libs quellpack)
  echo "pkg-config: $flags"
  c++ -std=c++20 -Wall -Wextra -Werror examples/roundtrip.cpp $flags -o "$work/roundtrip-pc"
  grep -q "restored exactly" <<<"$("$work/roundtrip-pc" "$corpus")"
  cc $cflags_c examples/roundtrip.c $flags -o "$work/roundtrip-c-pc"
  grep -q "restored exactly" <<<"$("$work/roundtrip-c-pc" "$corpus")"
  cc $cflags_c -shared -fPIC examples/roundtrip.c $flags -o "$work/libcaller.so"
done
prefix="$work/static"
unset LD_LIBRARY_PATH

# The library's file is the program's file, and the program restores it.
"$prefix/bin/quellpack" c "$corpus" "$work/alice-cli.qp"
cmp "$work/alice.qp" "$work/alice-cli.qp"
"$prefix/bin/quellpack" d "$work/alice.qp" "$work/alice.txt"
cmp "$corpus" "$work/alice.txt"
[ "$("$prefix/bin/quellpack" --version)" = "quellpack $version" ]

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
