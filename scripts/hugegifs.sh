#!/usr/bin/env bash
# Peak memory of the Windows gifdump and gifplay (both builds, under Wine) on
# tiny GIFs that declare sizes past the program's limits: 70 frames of
# 65535 x 4000 (gifdump info) and an 18900 x 18900 screen (gifplay), and on
# a 64 x 64 screen that shows the corner of a 12000 x 12000 frame of 2, 4 and
# 256 colours (gifplay --dump, pictures in build/hugegifs/dump-*). Prints
# each run's exit status, time, peak resident memory and message. Not part of
# the test command (the tests check the messages and exit statuses).
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start
trap kantrel_cleanup EXIT

kantrel_configure native -DCMAKE_BUILD_TYPE=RelWithDebInfo
kantrel_configure_windows win32
kantrel_configure_windows win64
cmake --build build/native -j2 --target hugegifs >build/hugegifs-build.log 2>&1 || { tail -30 build/hugegifs-build.log; exit 1; }
for b in win32 win64; do
  cmake --build "build/$b" -j2 --target gifdump gifplay >>build/hugegifs-build.log 2>&1 ||
    { tail -30 build/hugegifs-build.log; exit 1; }
done
kantrel_display
kantrel_wine_prefix
files="$KANTREL_ROOT/build/hugegifs"
mkdir -p "$files"
build/native/bench/hugegifs "$files"

# The program runs in a process of its own that Wine starts (not a child of
# "wine"), so its peak is read from /proc while it runs: the highest VmHWM of
# the processes of this prefix whose command line names the program.
prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1" || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$KANTREL_WINEPREFIX" && echo "$pid"
  done
  return 0
}

# The highest VmHWM of the given processes, into $hwm, read with bash alone:
# a run of a fraction of a second needs samples a few ms apart.
hwm=0
read_hwm() {
  local pid line
  for pid in "$@"; do
    while read -r line; do
      case $line in
        VmHWM:*) line=${line#VmHWM:}; line=${line% kB}; line=${line// /}
                 [ "$line" -gt "$hwm" ] && hwm=$line ;;
      esac
    done 2>/dev/null <"/proc/$pid/status" || true
  done
}

measure() {
  local label=$1 exe=$2
  shift 2
  local name out start status pids
  name=$(basename "$exe")
  out=$(mktemp)
  start=$(date +%s.%N)
  hwm=0
  wine "$exe" "$@" >"$out" 2>&1 &
  local launcher=$!
  while kill -0 "$launcher" 2>/dev/null; do
    # 64-bit programs run in a process the first one starts: look again.
    pids=$(prefix_pids "$name")
    read_hwm $pids
    if [ "$(echo "$(date +%s.%N) - $start > 60" | bc)" = 1 ]; then
      echo "$label: still running after 60 s, stopped" >&2
      kill $(prefix_pids "$name") 2>/dev/null || true
      break
    fi
    sleep 0.005
  done
  status=0
  wait "$launcher" || status=$?
  printf '%s: exit %d in %.1f s, peak %d MiB: %s\n' "$label" "$status" \
    "$(echo "$(date +%s.%N) - $start" | bc)" $((hwm / 1024)) "$(tr -d '\r' <"$out" | head -1)"
  rm -f "$out"
}

for b in win32 win64; do
  measure "$b gifdump info seventy-huge-frames.gif" "build/$b/tools/gifdump/gifdump.exe" info \
    "Z:$files/seventy-huge-frames.gif"
  measure "$b gifplay huge-screen.gif" "build/$b/tools/gifplay/gifplay.exe" "Z:$files/huge-screen.gif"
  for colours in 2 4 256; do
    rm -rf "$files/dump-$b-$colours"
    measure "$b gifplay --dump huge-frame-$colours.gif" "build/$b/tools/gifplay/gifplay.exe" --dump \
      "Z:$files/dump-$b-$colours" "Z:$files/huge-frame-$colours.gif"
  done
done
