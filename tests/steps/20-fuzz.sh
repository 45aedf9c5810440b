#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time,
# starting from a copy of the committed seeds (which stay untouched).
# Set QUELLPACK_FUZZ_SECONDS to change the time per target.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${QUELLPACK_FUZZ_SECONDS:-60}"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUELLPACK_BUILD_FUZZ=ON -DQUELLPACK_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_decompress fuzz_roundtrip

for target in fuzz_decompress fuzz_roundtrip; do
  work="build-fuzz/corpus/$target"
  artifacts="build-fuzz/artifacts/$target"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts"
  cp fuzz/seeds/"$target"/* "$work"/
  # The bad files of the test suite make good starting points too.
  if [ "$target" = fuzz_decompress ]; then cp tests/bad/*.qp "$work"/; fi
  echo "-- $target, ${seconds} s"
  "build-fuzz/fuzz/$target" "$work" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" </dev/null 2>"build-fuzz/$target.log" \
    || { tail -n 60 "build-fuzz/$target.log"; echo "$target found a failure: see $artifacts"; exit 1; }
  grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)" "build-fuzz/$target.log" || true
done
