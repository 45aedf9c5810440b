#!/usr/bin/env bash
# Benchmarks quellpack against general-purpose peers: installs the peers
# when missing, builds quellpack in Release, then hands over to bench.py,
# which builds the inputs, times every round trip and writes the report.
#
#   bench/run.sh                  corpus, /usr/bin/systemctl and all scale inputs
#   bench/run.sh --quick          corpus and /usr/bin/systemctl only
#   bench/run.sh --max-size 100M  scale inputs up to 100 MB
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

echo "== building quellpack (Release, build-bench)" >&2
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUELLPACK_BUILD_BENCH=ON >/dev/null
cmake --build build-bench --target quellpack quellpack_measure -j2 >/dev/null

export QUELLPACK_BENCH_COMMAND="bench/run.sh${*:+ $*}"
exec /usr/bin/python3 bench/bench.py --quellpack build-bench/quellpack --measure build-bench/bench/quellpack_measure "$@"
