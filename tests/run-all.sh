#!/usr/bin/env bash
# Builds quellpack and runs every test: the Release suite, the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets
# for a bounded time, builds of the examples against installed copies (static
# and shared library), and the Python module with its tests.
# Installs the Debian packages it needs when they are missing (libxxhash-dev
# only for the test that compares the trailer's hash with it).
set -euo pipefail
cd "$(dirname "$0")/.."

source tests/apt-install.sh
need=()
for pkg in cmake g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libxxhash-dev pkg-config; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  apt_install "${need[@]}"
fi

jobs=$(nproc)
echo "== Release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUELLPACK_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

for step in tests/steps/*.sh; do
  [ -e "$step" ] || continue
  echo "== $(basename "$step" .sh)"
  bash "$step"
done
