#!/usr/bin/env bash
# Stick check benchmark: times the check of a generated stick folder against
# `md5sum -c CHECKSUMS.MD5` in the same folder, both reading from the page
# cache, runs times each, interleaved, and prints the ratio of the medians
# (md5sum time / check time; >= 1 means the check is at least as fast).
#
#   bench/stickcheck/run.sh [size MiB (3072)] [files (3000)] [runs (3)]
#
# Environment: BUILD_DIR (default: build), BENCH_DIR (default: /dev/shm if
# it has room, else /tmp).
set -euo pipefail

size_mib=${1:-3072}
files=${2:-3000}
runs=${3:-3}
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../common.sh
. "$root/bench/common.sh"
build=${BUILD_DIR:-$root/build}
bench=$build/bin/stickcheck_bench
if [ ! -x "$bench" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" --target stickcheck_bench
fi

# Room for the folder and a margin, in KiB.
need=$(( (size_mib + 256) * 1024 ))
base=${BENCH_DIR:-}
if [ -z "$base" ]; then
  for candidate in /dev/shm /tmp; do
    if [ -d "$candidate" ] && [ "$(df -Pk "$candidate" | awk 'NR==2 {print $4}')" -ge "$need" ]; then
      base=$candidate
      break
    fi
  done
fi
if [ -z "$base" ] || [ "$(df -Pk "$base" | awk 'NR==2 {print $4}')" -lt "$need" ]; then
  echo "No folder with $((need / 1024)) MiB free (set BENCH_DIR)" >&2
  exit 1
fi

stick=$(mktemp -d "$base/lumora-stickcheck.XXXXXX")
trap 'rm -rf "$stick" "$stick.md5sum.times" "$stick.check.times"' EXIT

"$bench" generate "$stick" "$size_mib" "$files"
update="$stick/OrvaneNDSUpdate"
(cd "$update" && find . -type f ! -name CHECKSUMS.MD5 -printf '%P\n' | sort | xargs -d '\n' md5sum > CHECKSUMS.MD5)
# Into the page cache (on tmpfs it is there already).
find "$update" -type f -exec cat {} + > /dev/null

# Arithmetic on decimal seconds.
calc() { awk "BEGIN { print $1 }"; }
: >"$stick.md5sum.times"
: >"$stick.check.times"
for run in $(seq "$runs"); do
  start=$(now)
  (cd "$update" && md5sum -c --quiet CHECKSUMS.MD5)
  md5sum_s=$(elapsed "$start" "$(now)")

  start=$(now)
  "$bench" check "$stick" >/dev/null
  check_s=$(elapsed "$start" "$(now)")

  printf 'run %d: md5sum -c %.3f s, stick check %.3f s\n' "$run" "$md5sum_s" "$check_s"
  echo "$md5sum_s" >>"$stick.md5sum.times"
  echo "$check_s" >>"$stick.check.times"
done
median_md5sum=$(median <"$stick.md5sum.times")
median_check=$(median <"$stick.check.times")
rm -f "$stick.md5sum.times" "$stick.check.times"

echo "folder: $files files, about $size_mib MiB, in $base ($(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg))"
"$bench" check "$stick" 1 | sed 's/^/one thread: /'
printf 'median md5sum -c: %.3f s, median stick check: %.3f s\n' "$median_md5sum" "$median_check"
printf 'ratio (md5sum time / check time): %.2f\n' "$(calc "$median_md5sum / $median_check")"
