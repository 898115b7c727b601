#!/usr/bin/env bash
# Builds the drawing benchmark (i686, the shipped build) and runs it under
# Wine on a virtual display. Arguments: runs and draws per run (default 9 300).
# Not part of the test command: timings on a shared machine are noisy.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start
trap kantrel_cleanup EXIT

kantrel_configure_windows win32
cmake --build build/win32 -j2 --target drawbench >build/drawbench-build.log 2>&1 ||
  { tail -30 build/drawbench-build.log; exit 1; }
kantrel_display
kantrel_wine_prefix
wine build/win32/bench/windows/drawbench.exe "$@"
