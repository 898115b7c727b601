#!/usr/bin/env bash
# Builds kantrel.exe (i686) and starts it under Wine in a demo folder,
# build/demo/Kantrel, beside the setup stand-in (tools/setup-standin) copied
# as SQLEXPR_x86_ENU.exe, so that the whole installation sequence runs and
# nothing is installed. With a display the program runs until the user closes
# it. Without one it runs on a virtual display, goes through the sequence with
# the default password (the start button, then Yes), saves pictures of the
# main window, the confirmation and the splash window, 24 successive pictures
# of the splash window's client area (demo-output/splash-strip/, and
# splash-anim.gif made of them), and the stand-in's record of how it was
# started, into demo-output/, and ends by itself. KANTREL_DEMO_CPU_SECONDS=N
# also measures the CPU time kantrel.exe uses over 2 x N seconds of the wait.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start
trap kantrel_cleanup EXIT

kantrel_configure_windows win32
echo "Building kantrel.exe"
if ! cmake --build build/win32 -j "$(nproc)" --target kantrel setup-standin demo-driver >build/win32-run.log 2>&1; then
  grep -E -A5 'error|Error' build/win32-run.log | head -40
  echo "Build failed; the whole log is build/win32-run.log" >&2
  exit 1
fi
demo="$KANTREL_ROOT/build/demo/Kantrel"
rm -rf "$demo"
mkdir -p "$demo"
cp build/win32/src/app/kantrel.exe "$demo/kantrel.exe"
cp build/win32/tools/setup-standin/setup-standin.exe "$demo/SQLEXPR_x86_ENU.exe"
exe="$demo/kantrel.exe"
record="$demo/setup-record.txt"

if [ -n "${DISPLAY:-}" ]; then
  kantrel_wine_prefix
  echo "Starting $exe (the setup stand-in records its start in $record)"
  (cd "$demo" && wine "$exe")
  exit 0
fi

kantrel_display headless
kantrel_wine_prefix
rm -rf demo-output
mkdir -p demo-output
# Long enough for the pictures of the splash window, taken during the wait
# (0.4 s, then 24 pictures 60 ms apart), and for the measurement if asked.
cpu_seconds=${KANTREL_DEMO_CPU_SECONDS:-0}
measure=()
if [ "$cpu_seconds" -gt 0 ]; then
  measure=(--cpu "$cpu_seconds")
fi
export KANTREL_STANDIN_WAIT_MS=$((4000 + 2000 * cpu_seconds))
if ! wine build/win32/tools/demo-driver/demo-driver.exe "$(winepath -w "$exe")" \
    "$(winepath -w "$KANTREL_ROOT/demo-output")" "${measure[@]}" >build/demo/driver.log 2>&1 </dev/null; then
  cat build/demo/driver.log >&2
  echo "The demo did not go through" >&2
  exit 1
fi
for picture in main confirm splash; do
  convert "demo-output/$picture.bmp" "demo-output/$picture.png"
  rm "demo-output/$picture.bmp"
done
for picture in demo-output/splash-strip/*.bmp; do
  convert "$picture" "${picture%.bmp}.png"
  rm "$picture"
done
# 6 hundredths per picture, as they were taken.
convert -delay 6 -loop 0 demo-output/splash-strip/*.png demo-output/splash-anim.gif
cp "$record" demo-output/setup-record.txt
echo "Main window:    $KANTREL_ROOT/demo-output/main.png"
echo "Confirmation:   $KANTREL_ROOT/demo-output/confirm.png"
echo "Splash window:  $KANTREL_ROOT/demo-output/splash.png"
echo "Splash strip:   $KANTREL_ROOT/demo-output/splash-strip/00.png ... 23.png, splash-anim.gif"
echo "Setup's record: $KANTREL_ROOT/demo-output/setup-record.txt"
grep -h -e 'CPU' -e 'frame changes' build/demo/driver.log || true
