#!/usr/bin/env bash
# Builds kantrel.exe (i686) and starts it under Wine. With a display the
# program runs until the user closes it. Without one it runs on a virtual
# display, saves a screenshot of the main window to demo-output/main.png and
# ends by itself.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/deps.sh"
source "$here/env.sh"
trap kantrel_cleanup EXIT
cd "$KANTREL_ROOT"

kantrel_configure win32 -DCMAKE_TOOLCHAIN_FILE="$KANTREL_ROOT/cmake/toolchain-mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
echo "Building kantrel.exe"
if ! cmake --build build/win32 -j "$(nproc)" --target kantrel >build/win32-run.log 2>&1; then
  grep -E -A5 'error|Error' build/win32-run.log | head -40
  echo "Build failed; the whole log is build/win32-run.log" >&2
  exit 1
fi
exe="$KANTREL_ROOT/build/win32/src/app/kantrel.exe"

if [ -n "${DISPLAY:-}" ]; then
  kantrel_wine_prefix
  echo "Starting $exe"
  wine "$exe"
  exit 0
fi

kantrel_display headless
kantrel_wine_prefix
mkdir -p demo-output
wine "$exe" >/dev/null 2>&1 </dev/null &
window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --onlyvisible --name '^Kantrel$' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "The main window did not appear" >&2
  exit 1
fi
sleep 1  # let it finish painting
import -window "$window" demo-output/main.png
echo "Screenshot of the main window: $KANTREL_ROOT/demo-output/main.png"
