#!/usr/bin/env bash
# Download benchmark, in one run:
#   1. builds DownloadBench (the streaming request into the tar extractor),
#   2. makes a test archive of many files (ARCHIVE_MIB, 1024 by default),
#   3. serves it from a loopback server with byte ranges (serve.py),
#   4. times DownloadBench against `curl URL | tee >(md5sum) | tar -x -C DIR`,
#      RUNS times each, interleaved with the speed of the MD5 alone, and
#      prints the medians and their ratios,
#   5. measures the peak memory of DownloadBench for a MEMORY_ARCHIVE_MIB
#      (2048) archive with a fast sink and with a sink capped at
#      SLOW_SINK_MBPS (200) MB/s (MEMORY_ARCHIVE_MIB=0 leaves this out).
# Work files go to BENCH_DIR (/tmp/lumora-download-bench); archives are kept
# there for the next run. Both pipelines unpack onto the same disk, OUT_DIR
# (BENCH_DIR/runs by default), each run into a folder of its own that is
# removed only at the end: a file system that has just deleted thousands of
# files creates new ones more slowly for a while, which would punish
# whichever pipeline runs next. The page cache is flushed (sync) before every
# timed run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=../common.sh
. "$top/bench/common.sh"
work=${BENCH_DIR:-/tmp/lumora-download-bench}
archive_mib=${ARCHIVE_MIB:-1024}
memory_mib=${MEMORY_ARCHIVE_MIB:-2048}
slow_mbps=${SLOW_SINK_MBPS:-200}
runs=${RUNS:-3}
build=${BUILD_DIR:-$top/build-bench}
runs_dir=${OUT_DIR:-$work/runs}

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DLUMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target DownloadBench >/dev/null
bench="$build/bin/DownloadBench"

mkdir -p "$work"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  server_pid=""
}
trap cleanup EXIT

# Starts the server for $1 (stopping the one before) and sets url. Not to be
# called in a subshell: the trap must know the server's pid.
serve() {
  cleanup
  rm -f "$work/port"
  python3 "$here/serve.py" "$1" >"$work/port" 2>"$work/server.log" &
  server_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$work/port" ] && break
    python3 -c "import time; time.sleep(0.05)"
  done
  url="http://127.0.0.1:$(head -n 1 "$work/port")/$(basename "$1")"
}

fresh() {
  rm -rf "$1"
  mkdir -p "$1"
  sync
}

# curl | tee >(md5sum) | tar -x into $2; prints the seconds, leaves the MD5 in curl.md5.
run_curl() {
  local url=$1 out=$2 fifo="$work/md5.fifo"
  fresh "$out"
  rm -f "$fifo"
  mkfifo "$fifo"
  md5sum <"$fifo" >"$work/curl.md5" &
  local md5_pid=$! start
  start=$(now)
  curl -sS "$url" | tee "$fifo" | tar -x -C "$out"
  wait "$md5_pid"
  elapsed "$start" "$(now)"
}

# DownloadBench into $2, its report into $3.
run_bench() {
  local url=$1 out=$2 report=$3
  shift 3
  fresh "$out"
  "$bench" "$url" "$out" "$@" >"$report"
}

archive=$(make_archive "$archive_mib")
bytes=$(stat -c %s "$archive")
files=$(tar -tf "$archive" | grep -vc '/$')
expected=$(md5sum "$archive" | cut -d' ' -f1)
cat "$archive" >/dev/null # into the page cache for both
serve "$archive"

: >"$work/curl.times"
: >"$work/lumora.times"
: >"$work/md5.speeds"
rm -rf "$runs_dir"
for i in $(seq 1 "$runs"); do
  run_curl "$url" "$runs_dir/curl-$i" >>"$work/curl.times"
  [ "$(cut -d' ' -f1 "$work/curl.md5")" = "$expected" ] || { echo "curl pipeline: wrong MD5" >&2; exit 1; }
  run_bench "$url" "$runs_dir/lumora-$i" "$work/lumora-$i.txt"
  [ "$(field md5 "$work/lumora-$i.txt")" = "$expected" ] || { echo "DownloadBench: wrong MD5" >&2; exit 1; }
  field seconds "$work/lumora-$i.txt" >>"$work/lumora.times"
  "$bench" --md5-speed | awk '{ print $2 }' >>"$work/md5.speeds"
done
diff -r "$runs_dir/curl-$runs" "$runs_dir/lumora-$runs" >/dev/null || { echo "The unpacked trees differ" >&2; exit 1; }
rm -rf "$runs_dir"

curl_s=$(median <"$work/curl.times")
ours_s=$(median <"$work/lumora.times")
md5_only=$(median <"$work/md5.speeds")
last="$work/lumora-$runs.txt"
awk -v bytes="$bytes" -v files="$files" -v mib="$archive_mib" -v c="$curl_s" -v o="$ours_s" -v m="$md5_only" \
  -v att="$(field attempts "$last")" -v peak="$(field peak_rss_mib "$last")" -v runs="$runs" \
  -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  printf "Download benchmark: %d MiB archive, %d files, %d runs each (medians), load %s\n", mib, files, runs, load
  printf "  MD5 alone, one core:            %7.1f MB/s\n", m
  printf "  curl | tee >(md5sum) | tar -x:  %7.1f MB/s  (%.2f s)\n", bytes / c / 1e6, c
  printf "  DownloadBench:                  %7.1f MB/s  (%.2f s, %d attempts, peak %.1f MiB)\n", bytes / o / 1e6, o, att, peak
  printf "  ratio (curl time / ours):       %7.2f\n", c / o
  printf "  ours / MD5 alone:               %7.0f %%\n", 100 * bytes / o / 1e6 / m
}'

# Peak memory with a larger archive, with a fast and with a slow sink.
if [ "$memory_mib" -le 0 ]; then
  exit 0
fi
archive=$(make_archive "$memory_mib")
expected=$(md5sum "$archive" | cut -d' ' -f1)
cat "$archive" >/dev/null
serve "$archive"
echo "Peak memory: $memory_mib MiB archive"
for sink in fast "$slow_mbps"; do
  if [ "$sink" = fast ]; then
    run_bench "$url" "$runs_dir/memory-fast" "$work/memory-fast.txt"
    report="$work/memory-fast.txt"
    label="fast sink:"
  else
    run_bench "$url" "$runs_dir/memory-slow" "$work/memory-slow.txt" --sink-mbps "$sink"
    report="$work/memory-slow.txt"
    label="sink capped at $sink MB/s:"
  fi
  [ "$(field md5 "$report")" = "$expected" ] || { echo "DownloadBench: wrong MD5" >&2; exit 1; }
  printf "  %-28s peak %5.1f MiB, %s attempts, %s MB/s\n" "$label" "$(field peak_rss_mib "$report")" \
    "$(field attempts "$report")" "$(field throughput_mb_s "$report")"
done
rm -rf "$runs_dir"
