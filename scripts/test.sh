#!/usr/bin/env bash
# Builds everything (native, sanitizers with the fuzzer, Windows i686 and
# x86_64) and runs every test through one ctest run; Windows tests run under
# Wine on a virtual display.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start
trap kantrel_cleanup EXIT

jobs=$(nproc)
kantrel_configure native -DCMAKE_BUILD_TYPE=RelWithDebInfo
kantrel_configure sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKANTREL_SANITIZE=ON -DKANTREL_FUZZ=ON
kantrel_configure_windows win32
kantrel_configure_windows win64
for b in native sanitize win32 win64; do
  echo "Building $b"
  if ! cmake --build "build/$b" -j "$jobs" >"build/$b.log" 2>&1; then
    grep -E -A5 'error|Error' "build/$b.log" | head -60
    echo "Build $b failed; the whole log is build/$b.log" >&2
    exit 1
  fi
  grep -E 'warning:' "build/$b.log" | sort -u | head -20 || true
done

# A virtual display of our own even when the session has one: the tests
# need its fixed size and colour depth, and no window manager or user input.
kantrel_display headless
kantrel_wine_prefix

# One ctest run over all four builds, so the output ends with one summary.
cat > build/CTestTestfile.cmake <<'CT'
subdirs("native" "sanitize" "win32" "win64")
CT
ctest --test-dir build --output-on-failure -j "$jobs"
