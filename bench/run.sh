#!/usr/bin/env bash
# Benchmarks quellpack against general-purpose peers: installs the peers
# when missing, builds quellpack in Release, then hands over to bench.py,
# which builds the inputs, times every round trip and writes the report.
#
#   bench/run.sh                  corpus, /usr/bin/systemctl and all scale inputs
#   bench/run.sh --quick          corpus and /usr/bin/systemctl only
#   bench/run.sh --max-size 100M  scale inputs up to 100 MB
#   bench/run.sh --baseline REV   also runs a build of commit REV, for the before/after table
#   bench/run.sh --help           every option
#
# Nothing here has a time limit: the 1 GB inputs take long with a slow build.
set -euo pipefail
cd "$(dirname "$0")/.."

# --help needs neither packages nor a build.
for arg in "$@"; do
  if [ "$arg" = "-h" ] || [ "$arg" = "--help" ]; then exec python3 bench/bench.py --help; fi
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

need=()
command -v 7zz >/dev/null 2>&1 || need+=(7zip)
command -v bzip2 >/dev/null 2>&1 || need+=(bzip2)
command -v xz >/dev/null 2>&1 || need+=(xz-utils)
command -v zstd >/dev/null 2>&1 || need+=(zstd)
[ -x /usr/bin/python3 ] || need+=(python3)
for pkg in cmake g++ libbenchmark-dev; do dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg"); done
plot=()
if ! /usr/bin/python3 -c 'import matplotlib' >/dev/null 2>&1 && ! command -v gnuplot >/dev/null 2>&1; then
  plot=(python3-matplotlib)
fi
if [ ${#need[@]} -gt 0 ] || [ ${#plot[@]} -gt 0 ]; then
  echo "== installing: ${need[*]} ${plot[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  if ! as_root apt-get install -y -qq "${need[@]}" "${plot[@]}" >/dev/null; then
    # No matplotlib in this archive: plot with gnuplot instead.
    as_root apt-get install -y -qq "${need[@]}" gnuplot-nox >/dev/null
  fi
fi

export QUELLPACK_BENCH_COMMAND="bench/run.sh${*:+ $*}"

# --baseline REV is handled here: the revision is built from its own files
# in build-baseline/, beside this build.
args=()
baseline=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--baseline" ] && [ $# -ge 2 ]; then
    rev=$(git rev-parse --short "$2")
    echo "== building the baseline $rev (Release, build-baseline)" >&2
    rm -rf build-baseline
    mkdir -p build-baseline/src
    git archive "$rev" | tar -x -C build-baseline/src
    ln -s "$(cd .. && pwd)/shared" build-baseline/shared  # the micro benchmarks read the corpus beside the sources
    cmake -S build-baseline/src -B build-baseline/build -DCMAKE_BUILD_TYPE=Release -DQUELLPACK_BUILD_BENCH=ON \
      -DQUELLPACK_BUILD_TESTS=OFF >/dev/null
    cmake --build build-baseline/build --target quellpack quellpack_micro_bench -j2 >/dev/null
    baseline=(--baseline build-baseline/build/quellpack --micro-baseline build-baseline/build/bench/quellpack_micro_bench)
    export QUELLPACK_BENCH_BASELINE="$rev"
    shift 2
  else
    args+=("$1")
    shift
  fi
done

echo "== building quellpack (Release, build-bench)" >&2
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUELLPACK_BUILD_BENCH=ON >/dev/null
cmake --build build-bench --target quellpack quellpack_measure quellpack_micro_bench -j2 >/dev/null

exec /usr/bin/python3 bench/bench.py --quellpack build-bench/quellpack --measure build-bench/bench/quellpack_measure \
  --micro build-bench/bench/quellpack_micro_bench "${baseline[@]}" "${args[@]}"
