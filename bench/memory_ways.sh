#!/usr/bin/env bash
# Peak memory (maximum resident set) of the program on one text input in
# four ways against compressing the file into a new file: input from a
# pipe, compressing into an existing file, restoring into an existing file
# and restoring into /dev/null. Each way must stay within 10 % of the new-file
# figure plus 4 MB of I/O buffers. Usage: bench/memory_ways.sh [quellpack] [MB]
set -euo pipefail
bin=${1:-build/quellpack}
mb=${2:-38}
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (Debian package time)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus="$(dirname "$0")/../../shared/corpus"
# Without the corpus the loop below would never grow its input.
if [ "$(cat "$corpus"/*.txt 2>/dev/null | head -c 1 | wc -c)" -eq 0 ]; then
  echo "no text files in $corpus" >&2
  exit 2
fi
while [ "$(stat -c %s "$work/in" 2>/dev/null || echo 0)" -lt $((mb * 1000000)) ]; do
  cat "$corpus"/*.txt >>"$work/in"
done
peak() { /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null; cat "$work/rss"; }
base=$(peak "$bin" c "$work/in" "$work/new.qp")
echo existing >"$work/exist.qp"
echo existing >"$work/exist.txt"
pipe=$(peak sh -c "cat '$work/in' | '$bin' c - '$work/pipe.qp'")
exist=$(peak "$bin" c "$work/in" "$work/exist.qp")
dexist=$(peak "$bin" d "$work/new.qp" "$work/exist.txt")
dnull=$(peak "$bin" d "$work/new.qp" /dev/null)
cmp -s "$work/in" "$work/exist.txt" || { echo "restored file differs"; exit 1; }
limit=$((base * 110 / 100 + 4096))
status=0
printf '%-28s %8s KB\n' "into a new file" "$base"
for way in "pipe:$pipe" "into an existing file:$exist" "restore into existing:$dexist" "restore into /dev/null:$dnull"; do
  name=${way%%:*} kb=${way##*:}
  verdict=ok
  [ "$kb" -le "$limit" ] || { verdict="OVER $limit KB"; status=1; }
  printf '%-28s %8s KB  %s\n' "$name" "$kb" "$verdict"
done
exit $status
