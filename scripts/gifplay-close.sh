#!/usr/bin/env bash
# Closes gifplay with Alt+F4 at random moments 1.5 to 3.5 s after its window
# appeared, 20 times in a row, once with ticks painted on the timer's thread
# (--async) and once synchronised; each run must end within 5 s of its close
# with exit status 0. Argument: the GIF (default: the wuffs collection's
# gifplayer-muybridge.gif); RUNS in the environment changes the count.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start
trap kantrel_cleanup EXIT

gif=${1:-$KANTREL_ROOT/../shared/testdata/gif/wuffs/gifplayer-muybridge.gif}
[ -f "$gif" ] || { echo "no such file: $gif" >&2; exit 2; }
gif=$(cd "$(dirname "$gif")" && pwd)/$(basename "$gif")

kantrel_configure_windows win32
cmake --build build/win32 -j2 --target gifplay gifplay-close >build/gifplay-close-build.log 2>&1 ||
  { tail -30 build/gifplay-close-build.log; exit 1; }
kantrel_display
kantrel_wine_prefix

status=0
for mode in --async ""; do
  echo "gifplay ${mode:-(synchronised)}"
  wine build/win32/tools/gifplay/gifplay-close.exe --runs "${RUNS:-20}" --from 1500 --to 3500 --limit 5000 \
    build/win32/tools/gifplay/gifplay.exe $mode "Z:$gif" || status=1
done
exit $status
