#!/usr/bin/env bash
# User interface benchmark, in one run:
#   1. builds lumora and UiBench (in BUILD_DIR, build-bench-ui by default),
#   2. starts a virtual X server with a system tray (Xvfb, trayer), the
#      archive server (bench/download/serve.py) and the map service
#      (UiBench serve) on loopback,
#   3. start-up: starts lumora STARTS (5) times and times each start until its
#      icon is embedded in the tray,
#   4. idle: the processor time and memory of lumora with its main window
#      open, over IDLE_SECONDS (60),
#   5. download: an ARCHIVE_MIB (1024) MiB archive onto a folder presented as
#      a USB stick (STICK_DIR, on /dev/shm by default), with the real windows
#      (clicked through the main window, progress page and popup on show)
#      and without windows, RUNS (3) times each, interleaved; prints the
#      medians and their ratio.
# The archive is shared with bench/download/run.sh (BENCH_DIR,
# /tmp/lumora-download-bench by default) and kept for the next run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=../common.sh
. "$top/bench/common.sh"
work=${BENCH_DIR:-/tmp/lumora-download-bench}
archive_mib=${ARCHIVE_MIB:-1024}
runs=${RUNS:-3}
starts=${STARTS:-5}
idle_seconds=${IDLE_SECONDS:-60}
build=${BUILD_DIR:-$top/build-bench-ui}
stick=${STICK_DIR:-/dev/shm/lumora-ui-bench-stick}

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target lumora UiBench translations >/dev/null
lumora="$build/bin/lumora"
bench="$build/bin/UiBench"

mkdir -p "$work"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  pids=()
  rm -rf "$stick"
}
trap cleanup EXIT

pause() { python3 -c "import time; time.sleep($1)"; }
# Waits until the command succeeds, for at most $1 seconds.
wait_for() {
  local limit=$1 start
  shift
  start=$(now)
  until "$@"; do
    if awk -v a="$start" -v b="$(now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then return 1; fi
    pause 0.01
  done
}

# The X server with its tray.
rm -f "$work/display"
Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 30 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
export QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
trayer --edge top --align right --widthtype pixel --width 200 --height 32 --SetDockType true \
  --expand false >"$work/trayer.log" 2>&1 &
pids+=($!)
tray_shown() { xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }
wait_for 30 tray_shown || { echo "trayer did not start" >&2; exit 1; }

# The archive, as the service offers a map: the archive of the download
# benchmark with the map's metadata document, named after the archive, added
# at its top.
plain=$(make_archive "$archive_mib")
archive="$work/EUR_BENCH_$archive_mib.tar"
if [ ! -f "$archive" ]; then
  cp "$plain" "$archive.part"
  mkdir -p "$work/meta"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<tns:package xmlns:tns="urn:tesk:v1"><tns:id>EUR_BENCH</tns:id><tns:mapLineId>EUR</tns:mapLineId><tns:release>2025.06</tns:release><tns:region>EUR</tns:region><tns:name>Europe Bench</tns:name></tns:package>\n' \
    >"$work/meta/EUR_BENCH_$archive_mib.meta.xml"
  tar --format=gnu -rf "$archive.part" -C "$work/meta" "EUR_BENCH_$archive_mib.meta.xml"
  mv "$archive.part" "$archive"
fi
bytes=$(stat -c %s "$archive")
md5=$(md5sum "$archive" | cut -d' ' -f1)
cat "$archive" >/dev/null
rm -f "$work/port" "$work/service"
python3 "$top/bench/download/serve.py" "$archive" >"$work/port" 2>"$work/server.log" &
pids+=($!)
wait_for 30 test -s "$work/port"
archive_url="http://127.0.0.1:$(head -n 1 "$work/port")/$(basename "$archive")"
"$bench" serve "$archive_url" "$md5" "$bytes" >"$work/service" 2>"$work/service.log" &
pids+=($!)
wait_for 30 test -s "$work/service"
read -r service_url service_key <"$work/service"

# lumora's own folders, no stick at all, and no log.
home="$work/ui-home"
rm -rf "$home"
mkdir -p "$home/data/Arvel/Lumora" "$home/sysfs"
: >"$home/mountinfo"
printf '{"Application": {}, "FullMapUpdate": {"UpdateSource": "%s", "UpdateKey": "%s"}, "MapDownload": {"RetryDuration": "3"}}\n' \
  "$service_url" "$service_key" >"$home/data/Arvel/Lumora/config.json"
start_lumora() {
  HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home" \
    LUMORA_MOUNTINFO="$home/mountinfo" LUMORA_SYSFS="$home/sysfs" "$lumora" >"$work/lumora.log" 2>&1 &
  lumora_pid=$!
}
stop_lumora() {
  kill "$lumora_pid" 2>/dev/null || true
  wait "$lumora_pid" 2>/dev/null || true
}
# The icon is embedded: a window of lumora's nested below the tray's panel.
icon_shown() { xwininfo -root -tree | grep -Eq '^ {8,}0x[0-9a-f]+ "Lumora": \("lumora" "Lumora"\)'; }

# Start-up to the icon in the tray.
: >"$work/start.times"
for i in $(seq 1 "$starts"); do
  start=$(now)
  start_lumora
  wait_for 60 icon_shown || { echo "no tray icon" >&2; exit 1; }
  elapsed "$start" "$(now)" >>"$work/start.times"
  stop_lumora
  pause 0.5
done
start_s=$(median <"$work/start.times")

# Idle with the main window open (the icon's menu, "Open application").
start_lumora
wait_for 60 icon_shown
pause 3
icon=$(xwininfo -root -tree | grep -E '^ {8,}0x[0-9a-f]+ "Lumora": \("lumora" "Lumora"\)' | head -n 1)
read -r ix iy < <(echo "$icon" | awk '{ split($NF, p, "+"); split($(NF-1), s, "x"); print p[2] + int(s[1] / 2), p[3] + int(s[2] / 2) }')
xdotool mousemove --sync "$ix" "$iy" click 3
pause 0.5
xdotool key Down Return
window_shown() { xwininfo -root -tree | grep -q '"Lumora v'; }
wait_for 30 window_shown || { echo "the main window did not open" >&2; exit 1; }
pause 2
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$lumora_pid/stat"; }
status() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$lumora_pid/status"; }
before=$(cpu_ticks)
rss_sum=0
for s in $(seq 1 "$idle_seconds"); do
  pause 1
  rss_sum=$((rss_sum + $(status VmRSS)))
done
after=$(cpu_ticks)
idle_cpu=$(awk -v d="$((after - before))" -v t="$ticks" -v s="$idle_seconds" 'BEGIN { printf "%.2f", 100 * d / t / s }')
idle_rss=$(awk -v r="$rss_sum" -v s="$idle_seconds" 'BEGIN { printf "%.1f", r / s / 1024 }')
idle_hwm=$(awk -v r="$(status VmHWM)" 'BEGIN { printf "%.1f", r / 1024 }')
import -window root "$work/ui-idle.png" 2>/dev/null || true
stop_lumora

# The download, with and without windows.
: >"$work/headless.times"
: >"$work/windows.times"
for i in $(seq 1 "$runs"); do
  for ui in headless windows; do
    sync
    "$bench" download "$ui" "$service_url" "$service_key" "$stick" >"$work/ui-$ui-$i.txt" 2>"$work/ui-$ui-$i.log" ||
      { echo "UiBench download $ui failed:" >&2; cat "$work/ui-$ui-$i.log" >&2; exit 1; }
    field seconds "$work/ui-$ui-$i.txt" >>"$work/$ui.times"
  done
done
headless_s=$(median <"$work/headless.times")
windows_s=$(median <"$work/windows.times")

awk -v start="$start_s" -v starts="$starts" -v cpu="$idle_cpu" -v rss="$idle_rss" -v hwm="$idle_hwm" \
  -v secs="$idle_seconds" -v mib="$archive_mib" -v bytes="$bytes" -v h="$headless_s" -v w="$windows_s" \
  -v runs="$runs" -v hcpu="$(field cpu_seconds "$work/ui-headless-$runs.txt")" \
  -v wcpu="$(field cpu_seconds "$work/ui-windows-$runs.txt")" \
  -v hpeak="$(field peak_rss_mib "$work/ui-headless-$runs.txt")" \
  -v wpeak="$(field peak_rss_mib "$work/ui-windows-$runs.txt")" 'BEGIN {
  printf "User interface benchmark\n"
  printf "  start to tray icon (median of %d):   %6.3f s\n", starts, start
  printf "  idle with the main window, %d s:     %6.2f %% of one core, RSS %.1f MiB (peak %.1f MiB)\n", secs, cpu, rss, hwm
  printf "  %d MiB download (median of %d):\n", mib, runs
  printf "    without windows:                  %6.3f s  %7.1f MB/s  (cpu %.2f s, peak %.1f MiB)\n", h, bytes / h / 1e6, hcpu, hpeak
  printf "    with the windows:                 %6.3f s  %7.1f MB/s  (cpu %.2f s, peak %.1f MiB)\n", w, bytes / w / 1e6, wcpu, wpeak
  printf "    windows / without:                %6.1f %%\n", 100 * w / h
}'
